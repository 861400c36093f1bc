// Marking sequence: one Engrave of a stroke-font label on the in-process simulated machine.
#include "glyphs/glyph.h"
#include "glyphs/richstring.h"
#include "machine/applysettings.h"
#include "machine/laser.h"
#include "platform/clock.h"
#include "platform/operatordialogs.h"
#include "platform/settingsstore.h"
#include "platform/stationglobals.h"
#include "records/stlogfile.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"
#include "workflow/station.h"
#include "workflow/templatelist.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

namespace {

using namespace lapido;

// A 16-character label per iteration on virtual time: the figure is the station's own cost of
// a run (layout, speed planning, commands, the trace and its sampler thread) plus the
// simulator's, without any waiting for the machine.
void BM_EngraveLabel(benchmark::State& state)
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
        keys::write(keys::WorkingDir, dir.path() + QStringLiteral("/"));
        AppRegistry().WriteString(QStringLiteral("Hardware"), QStringLiteral("EnableOnDelay"), QStringLiteral("0"));
        TSettings s;
        s.XY_CountsPerMM = 10000;
        s.Z_CountsPerMM = 10000;
        Settings() = s;
        TLaser laser;
        ApplyMotionSettings(Settings(), laser);
        laser.Initialize();
        setLaser(&laser);
        setGirdleHeight(0.15);
        FileLogger trace(dir.path());
        TStationServices services;
        services.logger = &trace;
        {
            TStation station(std::move(services));
            TLabelTree& tree = station.TreeViewGlyphs();
            TTreeNode* node = tree.Add(QStringLiteral("Label"));
            auto& label = TGlyph::CreateFor<TGlyphRichString>(&tree, node, nullptr, 0.8, 0.0, 0.1);
            label.RichString->Add(QStringLiteral("GIA 2141438167 A"), QStringLiteral("ROMANS"), TFontStyles());
            label.UpDate(nullptr, 0.8, 0.0, 0.1);
            station.SetAIMSState(TAIMState::aimsAligning);
            station.TimerLaserTick();
            station.SpeedButtonAIMClick(TSpeedButton::Inspect);
            for (auto _ : state) {
                for (TTreeNode* n : tree.Items())
                    if (TGlyph* g = n->Data())
                        g->ResetMarking();
                station.SpeedButtonAIMClick(TSpeedButton::Mark);
            }
            state.counters["marks"] = double(sim->markCount()) / double(state.iterations());
        }
        setLaser(nullptr);
    }
    setOperatorDialogs(previousDialogs);
    resetStationGlobals();
    setAppRegistry(nullptr);
}
BENCHMARK(BM_EngraveLabel)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
