// TStartTF: starting the companion queue application that hands over scanned codes.
#pragma once

#include <QString>

#include <functional>

namespace lapido {

class TStartTF {
public:
    // Where the companion program is installed unless the app is told otherwise.
    static QString defaultProgram();
    // A starter for TStationServices::startCompanion: runs the program detached, without
    // arguments; false with the reason when it could not be started.
    static std::function<bool(QString& error)> launcher(const QString& program = defaultProgram());
};

} // namespace lapido
