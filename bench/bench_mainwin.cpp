// The main window on the simulated machine: the longest stall of the event loop while an
// Engrave runs (goal under 16 ms, one frame at 60 Hz), and one video tick, frame and overlay painted on the
// widget (goal under 2 ms). Each at a label of 16 characters and of ten times that.
#include "camera/simcamera.h"
#include "camera/ueye.h"
#include "camera/ueyeapi.h"
#include "glyphs/glyph.h"
#include "glyphs/richstring.h"
#include "machine/laser.h"
#include "platform/clock.h"
#include "platform/operatordialogs.h"
#include "platform/settingsstore.h"
#include "platform/stationglobals.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"
#include "ui/main/frmmain.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <map>
#include <memory>

namespace {

using namespace lapido;

QString labelText(int characters)
{
    const QString pattern = QStringLiteral("GIA 2141438167 A");
    QString text;
    while (text.size() < characters)
        text += pattern;
    return text.left(characters);
}

// A homed station on the simulated machine and camera with its window shown, the label
// composed with "Add Label". Virtual time: the machine's waits cost nothing, so what is
// measured is the station's own work between two turns of the event loop.
class WindowOnSimulator {
public:
    explicit WindowOnSimulator(int characters)
    {
        setAppRegistry(SettingsStore::open(m_dir.filePath(QStringLiteral("settings.db"))));
        m_previousDialogs = setOperatorDialogs(&m_dialogs);
        m_sim = std::make_unique<ScopedDmcSimulator>(&m_clock);
        keys::write(keys::GalilIP, QStringLiteral("sim"));
        keys::write(keys::WorkingDir, m_dir.path() + QStringLiteral("/"));
        keys::write(keys::RichLabelFont, QStringLiteral("ROMANS"));
        keys::write(keys::DiamondGirdle, QStringLiteral("0.15"));
        AppRegistry().WriteString(QStringLiteral("Hardware"), QStringLiteral("EnableOnDelay"), QStringLiteral("0"));
        TSettings s;
        s.XY_CountsPerMM = 10000;
        s.Z_CountsPerMM = 10000;
        Settings() = s;
        m_laser = std::make_unique<TLaser>();
        setLaser(m_laser.get());
        m_window = std::make_unique<TfrmMain>();
        m_window->setCamera(std::make_unique<TuEye>(UEyeLibrary::simulated()));
        m_window->show();
        QApplication::setActiveWindow(m_window.get());
        for (int i = 0; i < 20 && m_window->station().AIMState != TAIMState::aimsAligning; ++i)
            QApplication::processEvents();
        m_window->station().TimerLaserTick();
        m_window->station().RichEditGlyphLabel().document().setPlainText(labelText(characters));
        m_window->station().BitBtnAddRichEditClick();
        m_window->refreshControls();
    }
    ~WindowOnSimulator()
    {
        m_window.reset();
        setLaser(nullptr);
        m_laser.reset();
        m_sim.reset();
        setOperatorDialogs(m_previousDialogs);
        resetStationGlobals();
        Settings() = TSettings{};
        setAppRegistry(nullptr);
    }
    TfrmMain& window() { return *m_window; }
    DmcSimulator& sim() { return **m_sim; }

private:
    QTemporaryDir m_dir;
    VirtualClock m_clock;
    ScopedClock m_scopedClock{m_clock};
    ScriptedDialogs m_dialogs;
    OperatorDialogs* m_previousDialogs = nullptr;
    std::unique_ptr<ScopedDmcSimulator> m_sim;
    std::unique_ptr<TLaser> m_laser;
    std::unique_ptr<TfrmMain> m_window;
};

std::map<std::string, double> g_figures;

// This thread's processor time in ns: on a shared machine the wall clock also counts the time
// other programs had the processor.
qint64 threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void BM_EngraveEventLoopStall(benchmark::State& state)
{
    const int characters = int(state.range(0));
    WindowOnSimulator station(characters);
    TfrmMain& w = station.window();
    double worstMs = 0, worstCpuMs = 0;
    std::size_t marks = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (TTreeNode* n : w.station().TreeViewGlyphs().Items())
            if (TGlyph* g = n->Data())
                g->ResetMarking();
        station.sim().clearMarks();
        // The operator presses F9 a moment after the label is composed, not in the same turn of
        // the event loop: the window has rehearsed the settled label at rest by then.
        QElapsedTimer rest;
        rest.start();
        while (rest.elapsed() < 600)
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        QElapsedTimer clock;
        std::vector<qint64> ticks, cpuTicks;
        QTimer timer;
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            ticks.push_back(clock.nsecsElapsed());
            cpuTicks.push_back(threadCpuNs());
        });
        timer.start();
        state.ResumeTiming();

        clock.start();
        ticks.push_back(0);
        cpuTicks.push_back(threadCpuNs());
        w.station().KeyDown(Qt::Key_F9, Qt::NoModifier);
        ticks.push_back(clock.nsecsElapsed());
        cpuTicks.push_back(threadCpuNs());

        state.PauseTiming();
        timer.stop();
        qint64 gap = 0;
        for (std::size_t i = 1; i < ticks.size(); ++i)
            gap = std::max(gap, ticks[i] - ticks[i - 1]);
        worstMs = std::max(worstMs, gap / 1e6);
        qint64 cpuGap = 0;
        for (std::size_t i = 1; i < cpuTicks.size(); ++i)
            cpuGap = std::max(cpuGap, cpuTicks[i] - cpuTicks[i - 1]);
        worstCpuMs = std::max(worstCpuMs, cpuGap / 1e6);
        marks = station.sim().markCount();
        state.ResumeTiming();
    }
    state.counters["max_stall_ms"] = worstMs;
    state.counters["max_stall_cpu_ms"] = worstCpuMs;
    state.counters["marks"] = double(marks);
    g_figures["stall/" + std::to_string(characters)] = worstMs;
    g_figures["stall-cpu/" + std::to_string(characters)] = worstCpuMs;
}
BENCHMARK(BM_EngraveEventLoopStall)->Arg(16)->Arg(160)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_VideoTick(benchmark::State& state)
{
    const int characters = int(state.range(0));
    WindowOnSimulator station(characters);
    TfrmMain& w = station.window();
    QElapsedTimer clock;
    clock.start();
    const qint64 cpu0 = threadCpuNs();
    for (auto _ : state)
        w.VideoTimerTick();
    const double n = double(state.iterations());
    g_figures["tick/" + std::to_string(characters)] = double(clock.nsecsElapsed()) / 1e6 / n;
    g_figures["tick-cpu/" + std::to_string(characters)] = double(threadCpuNs() - cpu0) / 1e6 / n;
}
BENCHMARK(BM_VideoTick)->Arg(16)->Arg(160)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const auto growth = [](const char* what, const char* unit, double goal) {
        const std::string one = std::string(what) + "/16", ten = std::string(what) + "/160";
        if (!g_figures.count(one) || !g_figures.count(ten))
            return;
        const double a = g_figures[one], b = g_figures[ten];
        std::printf("%s: 16 characters %.3f %s, 160 characters %.3f %s, growth x%.2f (goal under %.0f %s)\n", what, a,
                    unit, b, unit, a > 0 ? b / a : 0.0, goal, unit);
    };
    growth("stall", "ms", 16);
    growth("stall-cpu", "ms", 16);
    growth("tick", "ms", 2);
    growth("tick-cpu", "ms", 2);
    return 0;
}
