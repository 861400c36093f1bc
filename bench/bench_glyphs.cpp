// Planning and command generation for a 20-character TrueType label, without a controller:
// the machine object talks to a link that answers every command at once.
#include "glyphs/glyph.h"
#include "glyphs/glyphoutline.h"
#include "glyphs/labeltree.h"
#include "machine/galildmc.h"
#include "machine/galiltransport.h"
#include "machine/laser.h"
#include "platform/settingsstore.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"

#include <QGuiApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace lapido {
namespace {

// Replies as an idle controller with room in its buffer: nothing moves, every command is
// accepted. Counts the commands so that the benchmark can report them.
class InstantController : public GalilTransport {
public:
    std::string address() const override { return m_address; }
    void setAddress(std::string_view a) override { m_address = a.empty() ? "instant" : std::string(a); }
    bool connect() override { return true; }
    void disconnect() override {}
    std::string connection() const override { return m_address + " instant link"; }
    GalilReply command(std::string_view text, std::string_view, std::string_view, bool) override
    {
        ++commands;
        if (text.rfind("LM?", 0) == 0)
            return {true, "400.0000", {}};
        if (text.rfind("RP", 0) == 0 || text.rfind("TP", 0) == 0)
            return {true, "0,0,0,0", {}};
        if (text.rfind("MG", 0) == 0)
            return {true, "0.0000", {}};
        return {true, "", {}};
    }
    long commands = 0;

private:
    std::string m_address = "instant";
};

void BM_PlanAndCommandTwentyCharacterLabel(benchmark::State& state)
{
    QTemporaryDir dir;
    setAppRegistry(SettingsStore::open(dir.filePath("settings.db")));
    keys::write(keys::GalilIP, QStringLiteral("instant"));
    Settings() = TSettings{};
    auto link = std::make_unique<InstantController>();
    InstantController* counter = link.get();
    TLaser laser(std::make_unique<TDMC>(std::move(link)));
    setLaser(&laser);
    laser.HardwareFound = true;

    TLabelTree tree;
    TGlyph::CreateFor<TGlyphString>(&tree, tree.Add("Text"), QStringLiteral("Lapidograph 2026 ABC"), "Arial",
                                    TFontStyles(), 0.8, 0.0, 0.05);
    TXYTransform xytf;
    xytf.SetScale(0.5, 0.5);
    xytf.SetRotation(0.1);
    xytf.SetOutTranslation(15, 12);
    double width = 0;
    for (TTreeNode* n : tree.Items())
        if (TGlyph* g = n->Data())
            width += g->Width();
    const long before = counter->commands;
    for (auto _ : state) {
        SetMarkPosition(-width / 2, 0);
        for (TTreeNode* n : tree.Items())
            if (TGlyph* g = n->Data()) {
                g->ResetMarking();
                g->Mark(xytf);
            }
    }
    state.counters["commands/label"] = double(counter->commands - before) / double(state.iterations());
    state.counters["chars"] = double(tree.Root(0)->Count());
    setLaser(nullptr);
    setAppRegistry(nullptr);
}
BENCHMARK(BM_PlanAndCommandTwentyCharacterLabel)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace lapido

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
