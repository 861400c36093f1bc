// The legibility check of TrueType labels: 20 characters (goal under 20 ms) and ten times as
// many, each text measured afresh; the growth factor for the tenfold label is printed at the end.
#include "glyphs/customfonts.h"
#include "glyphs/glyph.h"
#include "glyphs/labeltree.h"
#include "glyphs/legibility.h"
#include "platform/settingsstore.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

using namespace lapido;

const QString kText = QStringLiteral("Lapidograph 2026-xq7"); // 20 characters

// A private store and working folder, so that the custom-font lookup finds an empty folder.
struct Station {
    QTemporaryDir dir;
    Station()
    {
        setAppRegistry(SettingsStore::open(dir.filePath(QStringLiteral("settings.db"))));
        keys::write(keys::WorkingDir, dir.path() + QLatin1Char('/'));
        TCustomFonts();
    }
    ~Station() { setAppRegistry(nullptr); }
};

// texts roots of the 20 characters, 0.1 mm high (a girdle of 1 mm): micro text whose counters
// come near the spot, so the check has work to do.
std::unique_ptr<TLabelTree> label(int texts)
{
    auto tree = std::make_unique<TLabelTree>();
    for (int i = 0; i < texts; ++i) {
        TTreeNode* node = tree->Add(QStringLiteral("Label"));
        TGlyph::CreateFor<TGlyphString>(tree.get(), node, kText, QStringLiteral("Liberation Sans"), TFontStyles(), 0.1,
                                        0.0, 0.1);
    }
    return tree;
}

void BM_LegibilityCheck(benchmark::State& state)
{
    Station station;
    const auto tree = label(int(state.range(0)));
    std::size_t findings = 0;
    for (auto _ : state) {
        findings = CheckLegibility(*tree, 1.0, LegibilityLimits{10, 0.5}).size();
        benchmark::DoNotOptimize(findings);
    }
    state.counters["findings"] = double(findings);
    state.SetLabel(QStringLiteral("%1 characters").arg(kText.size() * state.range(0)).toStdString());
}
BENCHMARK(BM_LegibilityCheck)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

double bestCheckMs(int texts)
{
    Station station;
    const auto tree = label(texts);
    double best = 1e300;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        benchmark::DoNotOptimize(CheckLegibility(*tree, 1.0, LegibilityLimits{10, 0.5}));
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const double small = bestCheckMs(1);
    const double large = bestCheckMs(10);
    std::printf("legibility check: 20 characters %.3f ms, 200 characters %.3f ms, growth x%.2f (goal under 20 ms for 20)\n",
                small, large, large / small);
    return 0;
}
