// Start options of the station program.
#include "app/startoptions.h"

#include <QCoreApplication>

#include <cmath>

namespace lapido {

namespace {

// Faster than this and a 1 ms controller sample passes in under a microsecond of real time.
constexpr double kMaxSimSpeed = 1000.0;

} // namespace

StartOptions parseStartOptions(const QStringList& arguments)
{
    StartOptions o;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (a == QLatin1String("--simulate")) {
            o.simulate = true;
        } else if (a == QLatin1String("--sim-speed") || a.startsWith(QLatin1String("--sim-speed="))) {
            QString value;
            if (a.contains(QLatin1Char('=')))
                value = a.section(QLatin1Char('='), 1);
            else if (i + 1 < arguments.size())
                value = arguments.at(++i);
            bool ok = false;
            const double speed = value.toDouble(&ok);
            if (!ok || !std::isfinite(speed) || speed <= 0 || speed > kMaxSimSpeed) {
                o.error = QStringLiteral("--sim-speed needs a number above 0 and at most %1, not \"%2\"")
                              .arg(kMaxSimSpeed)
                              .arg(value);
                return o;
            }
            o.simSpeed = speed;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.help = true;
        } else if (a == QLatin1String("--version")) {
            o.version = true;
        } else if (a.startsWith(QLatin1String("--"))) {
            o.error = QStringLiteral("unknown option \"%1\"").arg(a);
            return o;
        }
    }
    return o;
}

QString versionLine()
{
    return QStringLiteral("lapidograph ") + QCoreApplication::applicationVersion();
}

QString usageText()
{
    return QStringLiteral(
        "usage: lapidograph [/DEBUG] [/NOHOMING] [--simulate] [--sim-speed N] [--help] [--version]\n"
        "  The operator station of the laser inscription machine.\n"
        "  /DEBUG        window with border and debug panel; closing does not ask (any case)\n"
        "  /NOHOMING     the machine start-up skips homing (any case)\n"
        "  --simulate    simulated controller, camera and laser source, whatever the settings\n"
        "                say; the settings store is not changed\n"
        "  --sim-speed N the simulated machine runs N times faster than real time (default 1)\n"
        "  --help        this text\n"
        "  --version     the program's version\n"
        "  Only one station runs at a time: a second start brings the first window to the front.\n");
}

} // namespace lapido
