// Start of the station program to its main window shown, on the simulated machine with
// "/NOHOMING" (goal under 0.5 s), as an operator waits for it: a separate process, the
// offscreen platform, a fresh settings store, the simulated ring light. Timed with 10 and with
// 100 templates in the working folder (the window lists them at start) and the growth factor
// printed; the time until the ring light is ready (the window is usable meanwhile) beside it.
#include "platform/settingsstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRuns = 3;
constexpr double kGoalMs = 500;

const char kLabel[] = R"(<tree2xml app="lapidograph">
  <item text="Text &quot;LG 1407&quot;" imageIndex="-1" stateIndex="-1" Girdleheight="0.15" SlantAngle="0.0" type="TGlyphWideString" textLabel="LG 1407" fontName="ROMANS" textHeight="0.8" textOffset="0" textSpacing="0.1"/>
</tree2xml>
)";

struct StartTimes {
    double shownMs = -1; // to the line "Main window shown." of its debug log
    double lightMs = -1; // to "Ring light ready." or "Ring light not connected."
};

// Milliseconds from the start of the process to the window shown and to the light's end of
// start; negative when it never came.
StartTimes startOnce(const QString& program, int templates)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("work/Templates");
    for (int i = 0; i < templates; ++i) {
        QFile f(dir.filePath(QStringLiteral("work/Templates/T%1.xml").arg(i)));
        f.open(QIODevice::WriteOnly);
        f.write(kLabel);
    }
    {
        auto store = lapido::SettingsStore::open(dir.filePath("settings.db"));
        store->WriteString("Administration", "WorkingDir", dir.filePath("work") + '/');
    }
    QFile properties(dir.filePath("log4station.properties"));
    properties.open(QIODevice::WriteOnly);
    properties.write("log4station.rootLogger=DEBUG, F\nlog4station.appender.F=TFileAppender\n"
                     "log4station.appender.F.File=station.log\nlog4station.appender.F.layout=TSimpleLayout\n");
    properties.close();

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LAPIDOGRAPH_SETTINGS", dir.filePath("settings.db"));
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir.path());
    QElapsedTimer t;
    t.start();
    p.start(program, {"--simulate", "/NOHOMING"});
    StartTimes times;
    QFile log(dir.filePath("station.log"));
    while (t.elapsed() < 30000 && p.state() != QProcess::NotRunning) {
        if (log.exists() && log.open(QIODevice::ReadOnly)) {
            const QByteArray text = log.readAll();
            log.close();
            const double now = double(t.nsecsElapsed()) / 1e6;
            if (times.shownMs < 0 && text.contains("Main window shown."))
                times.shownMs = now;
            if (times.lightMs < 0 && (text.contains("Ring light ready.") || text.contains("Ring light not connected.")))
                times.lightMs = now;
            if (times.shownMs >= 0 && times.lightMs >= 0)
                break;
        }
        QThread::usleep(500);
    }
    if (p.state() != QProcess::NotRunning) {
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        if (!p.waitForFinished(20000))
            p.kill();
    }
    return times;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString program = QCoreApplication::applicationDirPath() + "/lapidograph";
    if (!QFile::exists(program)) {
        std::fprintf(stderr, "bench_startup: %s not built\n", qPrintable(program));
        return 1;
    }
    double results[2] = {0, 0};
    const int sizes[2] = {10, 100};
    for (int s = 0; s < 2; ++s) {
        std::vector<double> runs, lights;
        for (int r = 0; r < kRuns; ++r) {
            const StartTimes times = startOnce(program, sizes[s]);
            if (times.shownMs < 0) {
                std::fprintf(stderr, "bench_startup: the main window was not shown\n");
                return 1;
            }
            runs.push_back(times.shownMs);
            lights.push_back(times.lightMs);
        }
        results[s] = median(runs);
        std::printf("start to main window shown, %3d templates: %7.1f ms (median of %d; goal < %.0f ms) %s\n",
                    sizes[s], results[s], kRuns, kGoalMs, results[s] < kGoalMs ? "ok" : "SLOW");
        std::printf("  start to ring light ready (window usable meanwhile): %7.1f ms\n", median(lights));
    }
    std::printf("growth factor for 10x the templates: %.2f\n", results[1] / results[0]);
    return 0;
}
