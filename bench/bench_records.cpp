// Records: cost of a trace entry, of a shot-counter update, and the XY sampler's rate on the
// in-process simulated controller.
#include "machine/applysettings.h"
#include "machine/laser.h"
#include "platform/clock.h"
#include "platform/operatordialogs.h"
#include "platform/settingsstore.h"
#include "records/pulsecounters.h"
#include "records/stlogfile.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <chrono>
#include <thread>

namespace {

using namespace lapido;

// One undated entry: open for appending, write, close, as every entry of a marking does.
void BM_TraceEntry(benchmark::State& state)
{
    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    OperatorDialogs* previous = setOperatorDialogs(&dialogs);
    {
        FileLogger trace(dir.path());
        const QString line = QStringLiteral("Im:");
        for (auto _ : state)
            benchmark::DoNotOptimize(trace.AppendLogWD(line));
        state.SetItemsProcessed(state.iterations());
    }
    setOperatorDialogs(previous);
}
BENCHMARK(BM_TraceEntry)->Unit(benchmark::kMicrosecond);

// The position timer's update every 50 ms of clock time: most calls only add, one in twenty
// writes both counters to the store.
void BM_PulseCountUpdate(benchmark::State& state)
{
    QTemporaryDir dir;
    setAppRegistry(SettingsStore::open(dir.filePath(QStringLiteral("settings.db"))));
    VirtualClock clock;
    ScopedClock scoped(clock);
    TSettings record;
    PulseCountTracker tracker(record);
    std::int64_t count = 0;
    for (auto _ : state) {
        tracker.UpdatePulseCount(count += 40);
        clock.advanceUs(50'000);
    }
    state.SetItemsProcessed(state.iterations());
    setAppRegistry(nullptr);
}
BENCHMARK(BM_PulseCountUpdate)->Unit(benchmark::kMicrosecond);

// What the sampler reads: the machine object, as on the station.
class MachineSource final : public MotionSampleSource {
public:
    void GetPosition(double& X, double& Y, double& Z, double& W) override { Laser()->GetPosition(X, Y, Z, W); }
    bool W_IsShooting() override { return Laser()->W_IsShooting(); }
};

// Samples taken in 100 ms of real time while the machine stands still with the gate closed;
// each sample is one position query through the controller channel, paced to one per
// millisecond of clock time.
void BM_SamplerRate(benchmark::State& state)
{
    QTemporaryDir dir;
    setAppRegistry(SettingsStore::open(dir.filePath(QStringLiteral("settings.db"))));
    RealClock clock;
    ScopedClock scoped(clock);
    ScriptedDialogs dialogs;
    OperatorDialogs* previousDialogs = setOperatorDialogs(&dialogs);
    {
        ScopedDmcSimulator sim(&clock);
        keys::write(keys::GalilIP, QStringLiteral("sim"));
        Settings() = TSettings{};
        TSettings s;
        s.XY_CountsPerMM = 1000;
        s.Z_CountsPerMM = 1000;
        TLaser laser;
        ApplyMotionSettings(s, laser);
        setLaser(&laser);
        MachineSource source;
        std::int64_t samples = 0;
        for (auto _ : state) {
            MotionLogger sampler(source);
            sampler.Start();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            sampler.Stop();
            samples += sampler.samplesTaken();
        }
        state.counters["samples_per_s"] = double(samples) / (0.1 * double(state.iterations()));
        setLaser(nullptr);
    }
    setOperatorDialogs(previousDialogs);
    setAppRegistry(nullptr);
}
BENCHMARK(BM_SamplerRate)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace

BENCHMARK_MAIN();
