// Machine object: feeding a contour into the controller's buffer on the in-process simulator.
#include "machine/applysettings.h"
#include "machine/laser.h"
#include "platform/clock.h"
#include "platform/operatordialogs.h"
#include "platform/settingsstore.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

namespace {

using namespace lapido;

// One contour of state.range(0) segments per iteration, on virtual time: the figure is the
// station's own cost per segment (command building, the channel, the buffer polls) plus the
// simulator's, without any waiting for the machine.
void BM_FeedContour(benchmark::State& state)
{
    QTemporaryDir dir;
    setAppRegistry(SettingsStore::open(dir.filePath(QStringLiteral("settings.db"))));
    VirtualClock clock;
    ScopedClock scopedClock(clock);
    ScriptedDialogs dialogs;
    OperatorDialogs* previousDialogs = setOperatorDialogs(&dialogs);
    {
        ScopedDmcSimulator sim(&clock);
        keys::write(keys::GalilIP, QStringLiteral("sim"));
        Settings() = TSettings{};
        Settings().ContourBuffering = 50;
        TSettings s;
        s.XY_CountsPerMM = 1000;
        s.Z_CountsPerMM = 1000;
        s.MarkingSpeed = 2;
        TLaser laser;
        ApplyMotionSettings(s, laser);
        laser.ServoHere();
        const int segments = static_cast<int>(state.range(0));
        for (auto _ : state) {
            laser.MoveTo(5, 5);
            laser.WaitOnMotionComplete();
            laser.StartLIXYMode();
            for (int i = 1; i <= segments; ++i)
                laser.AddLIXYVertex(5 + 0.002 * i, 5 + 0.001 * (i % 2), 2);
            laser.FinishLIXYMode();
        }
        state.SetItemsProcessed(state.iterations() * segments);
    }
    setOperatorDialogs(previousDialogs);
    setAppRegistry(nullptr);
}
BENCHMARK(BM_FeedContour)->Arg(500)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
