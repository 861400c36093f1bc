// The station program's command line: our own switches beside the station's "/DEBUG" and "/NOHOMING".
#pragma once

#include <QString>
#include <QStringList>

namespace lapido {

struct StartOptions {
    bool simulate = false;  // simulated controller, camera and laser source, store untouched
    double simSpeed = 1.0;  // the simulated machine runs this many times faster than real time
    bool help = false;
    bool version = false;
    QString error;          // a switch of ours that is malformed or unknown
};

// Reads "--simulate", "--sim-speed N", "--help"/"-h" and "--version". The station's own
// switches ("/DEBUG", "/NOHOMING" in any case) and any other argument not starting with "--"
// are left to the station, which ignores what it does not know. arguments excludes the
// program name.
StartOptions parseStartOptions(const QStringList& arguments);

// "lapidograph" and the version the window shows, e.g. "lapidograph 0.1.0.0".
QString versionLine();
QString usageText();

} // namespace lapido
