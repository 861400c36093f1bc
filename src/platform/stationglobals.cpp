// Program-wide values of the station.
#include "platform/stationglobals.h"

#include <QDir>

#include <mutex>

namespace lapido {

namespace {
struct Globals {
    std::atomic<bool> markingAborted{false};
    std::atomic<bool> debugMode{false};
    std::atomic<bool> noHoming{false};
    std::atomic<double> girdleHeight{0.15};
    std::atomic<double> slantAngle{0.0};
    std::mutex mutex;
    QString workingDir;
};
Globals& globals()
{
    static Globals g;
    return g;
}
} // namespace

std::atomic<bool>& MarkingAborted() { return globals().markingAborted; }
bool DebugMode() { return globals().debugMode.load(); }
void setDebugMode(bool on) { globals().debugMode = on; }
bool NoHoming() { return globals().noHoming.load(); }
void setNoHoming(bool on) { globals().noHoming = on; }
double GirdleHeight() { return globals().girdleHeight.load(); }
void setGirdleHeight(double mm) { globals().girdleHeight = mm; }
double SlantAngle() { return globals().slantAngle.load(); }
void setSlantAngle(double degrees) { globals().slantAngle = degrees; }

QString WorkingDir()
{
    std::lock_guard lock(globals().mutex);
    return globals().workingDir;
}

void setWorkingDir(const QString& folder)
{
    QString f = folder;
    if (!f.isEmpty() && !f.endsWith(QChar('/')))
        f += QChar('/');
    std::lock_guard lock(globals().mutex);
    globals().workingDir = f;
}

QString DefaultWorkingDir()
{
    // A relative XDG_DATA_HOME is invalid and ignored, as the base directory rules ask.
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(base + QStringLiteral("/Lapidograph")) + QChar('/');
}

void resetStationGlobals()
{
    MarkingAborted() = false;
    setDebugMode(false);
    setNoHoming(false);
    setGirdleHeight(0.15);
    setSlantAngle(0.0);
    setWorkingDir(QString());
}

} // namespace lapido
