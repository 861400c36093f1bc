// The inspection over a table of labels (stroke fonts, two TrueType faces, heights from 0.08 to
// 0.5 mm, flat and curved girdles): clean runs pass and read back, every fault is flagged, and
// the offset follows the table's drift.
#include "inspectionfixture.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace lapido::test {
namespace {

struct LabelCase {
    const char* font;
    const char* text;
    double heightMm;
    bool curved;
};

const LabelCase kLabels[] = {
    {"ROMANS", "LG 1407", 0.12, false},
    {"ROMANS", "GIA 2141438167", 0.08, false},
    {"ROMANS", "HRD 88", 0.5, false},
    {"ROMANS", "AK 379", 0.3, true},
    {"SCRIPTS", "4512 07", 0.15, false},
    {"SCRIPTS", "2024 05", 0.25, true},
    {"GREEKS", "ABG", 0.2, false},
    {"Arial", "Ada 9", 0.12, false},
    {"Arial", "LAB 7731", 0.2, true},
    {"Arial", "No 5", 0.4, false},
    {"DejaVu Serif", "IGI 5521", 0.15, false},
    {"DejaVu Serif", "Zeta 3", 0.3, false},
};

// The largest share of a glyph's planned pulses the faulty laser left out.
double worstMissingShare(const InspectedShot& shot, const LaserMarkFaults& faults)
{
    LaserMarkFaultModel model(faults);
    double worst = 0;
    std::size_t pulse = 0;
    for (const TMarkingPreview::Glyph& g : shot.preview.glyphs) {
        std::size_t missing = 0;
        for (std::size_t i = 0; i < g.count; ++i, ++pulse) {
            LaserMark m = shot.preview.marks[pulse];
            missing += !model.admit(m);
        }
        if (g.count > 0)
            worst = std::max(worst, double(missing) / double(g.count));
    }
    return worst;
}

// The drift the glyph's pulses had on average (µm), with the drift spread over every pulse.
double meanDriftUm(const TMarkingPreview& preview, const TMarkingPreview::Glyph& g, double driftUm)
{
    const double n = double(preview.marks.size());
    double sum = 0;
    for (std::size_t i = g.first; i < g.first + g.count; ++i)
        sum += driftUm * double(i) / (n - 1);
    return g.count ? sum / double(g.count) : 0;
}

LaserMarkFaults misfire(double rate, std::uint32_t seed)
{
    LaserMarkFaults f;
    f.misfireRate = rate;
    f.misfireSeed = seed;
    return f;
}

LaserMarkFaults skip(LaserMarkFaults::Range pulses)
{
    LaserMarkFaults f;
    f.skipped = {pulses};
    return f;
}

LaserMarkFaults drift(double um, std::size_t overPulses)
{
    LaserMarkFaults f;
    f.driftUm = um;
    f.driftOverPulses = overPulses;
    return f;
}

class InspectionTableTest : public InspectionFixture, public ::testing::WithParamInterface<LabelCase> {};

TEST_P(InspectionTableTest, CleanRunsPassFaultsAreFlaggedAndTheDriftIsMeasured)
{
    const LabelCase& c = GetParam();
    addText(QString::fromLatin1(c.font), QString::fromLatin1(c.text), c.heightMm);
    if (c.curved)
        teachCurvedGirdle();

    const InspectedShot clean = shoot();
    ASSERT_TRUE(clean.preview.markable) << clean.preview.problem.toStdString();
    EXPECT_TRUE(clean.result.ok()) << c.text << ": " << clean.result.verdict().toStdString();
    const bool readable = QString::fromLatin1(c.font) != QLatin1String("GREEKS");
    // The Greek stroke font is not read (no Latin letters); every other label is read exactly.
    EXPECT_EQ(clean.result.readBack.attempted, readable) << clean.result.readBack.line().toStdString();
    if (readable) {
        EXPECT_TRUE(clean.result.readBack.matches()) << clean.result.readBack.line().toStdString();
    }
    std::printf("[ table ] %-13s %-16s %.2f mm %s: %s, %s (marks %.1f um wide)\n", c.font, c.text, c.heightMm,
                c.curved ? "curved" : "flat", clean.result.ok() ? "clean ok" : "CLEAN FLAGGED",
                clean.result.readBack.line().toUtf8().constData(), clean.result.markWidthUm);

    // Each fault must be flagged.
    struct Fault {
        const char* name;
        LaserMarkFaults faults;
        double defocus = 1;
    };
    const InspectedShot& planned = clean;
    const std::vector<Fault> faults = {
        {"misfire 0.15", misfire(0.15, 1)},
        {"misfire 0.10", misfire(0.10, 7)},
        {"skip glyph 2", skip(glyphPulses(planned.preview, 2))},
        {"defocus 2", {}, 2.0},
        {"drift 8 um", drift(8, planned.preview.marks.size())},
    };
    const double driftUm = 8;
    for (const Fault& f : faults) {
        const InspectedShot shot = shoot(f.faults, f.defocus);
        const bool mustFlag = f.defocus > 1 || !f.faults.skipped.empty() || f.faults.driftUm >= 5
                              || worstMissingShare(shot, f.faults) >= 0.10;
        if (mustFlag) {
            EXPECT_FALSE(shot.result.ok()) << c.text << ", " << f.name << " not flagged";
        }
        std::printf("[ table ]   %-13s -> %s (marks %.1f um wide)\n", f.name, shot.result.verdict().toUtf8().constData(),
                    shot.result.markWidthUm);
        if (f.faults.driftUm != driftUm)
            continue;
        // The offset of every glyph follows the drift within a micrometre.
        size_t k = 0;
        for (const TMarkingPreview::Glyph& g : shot.preview.glyphs) {
            if (g.count == 0)
                continue;
            ASSERT_LT(k, shot.result.glyphs.size());
            const GlyphInspection& gi = shot.result.glyphs[k++];
            ASSERT_TRUE(gi.offsetUm.has_value()) << c.text << " '" << gi.text.toStdString() << "'";
            EXPECT_NEAR(gi.offsetUm->X, meanDriftUm(shot.preview, g, driftUm), 1.0)
                << c.text << " '" << gi.text.toStdString() << "'";
        }
    }
}

// The top of a '7' at the smallest height runs along the girdle's dark edge: its marks are
// found and the glyph is placed where it was marked, whatever fraction of a pixel the table
// stands at.
using InspectionBesideTheEdgeTest = InspectionFixture;

TEST_F(InspectionBesideTheEdgeTest, AStrokeAlongTheGirdleEdgeIsFoundAndPlacedAtEveryFractionOfAPixel)
{
    addText(QStringLiteral("ROMANS"), QStringLiteral("GIA 2141438167"), 0.08);
    const TMarkingPreview preview = st().PreviewMarking();
    ASSERT_TRUE(preview.markable) << preview.problem.toStdString();
    const InspectionPlan plan = st().InspectionPlanOf(preview);
    InspectionLimits limits = InspectionLimits::fromStore(Settings());
    limits.readBack = false;
    const double pixelMm = 1.0 / Settings().VideoScale;
    std::uint32_t seed = 1;
    for (const double fx : {0.0, 0.5})
        for (const double fy : {0.0, 0.25, 0.5, 0.75}) {
            const TCoord table{kRefX + fx * pixelMm, kRefY + fy * pixelMm};
            SimulatedInspectionCamera camera;
            camera.sensor = camera.picture;
            camera.noiseSeed = seed++;
            const QImage picture = simulatedInspectionPicture(Settings(), table, kRefY, preview.marks, camera);
            const InspectionView view = InspectionView::fromSettings(Settings(), picture.size(), table);
            const InspectionResult r = m_inspector.inspect(plan, picture, view, limits);
            EXPECT_TRUE(r.ok()) << "table at +" << fx << ", +" << fy << " px: " << r.verdict().toStdString();
            for (const GlyphInspection& g : r.glyphs) {
                ASSERT_TRUE(g.offsetUm.has_value()) << "'" << g.text.toStdString() << "'";
                EXPECT_LT(std::hypot(g.offsetUm->X, g.offsetUm->Y), 1.0)
                    << "'" << g.text.toStdString() << "' at +" << fx << ", +" << fy << " px";
            }
        }
}

// Glyphs of one stroke side by side (an 'I' is a vertical line like its neighbour) are each
// found at their own place, not on a neighbour's stroke within the search distance.
using InspectionOfStrokesTest = InspectionFixture;

TEST_F(InspectionOfStrokesTest, GlyphsOfOneStrokeAreFoundAtTheirOwnPlace)
{
    for (const char* text : {"IIII", "1111", "I1I1"}) {
        for (const double height : {0.06, 0.08}) {
            SCOPED_TRACE(std::string(text) + " " + std::to_string(height));
            st().TreeViewGlyphs().Clear();
            addText(QStringLiteral("ROMANS"), QString::fromLatin1(text), height);
            for (std::uint32_t seed = 1; seed <= 2; ++seed) {
                const InspectedShot shot = shoot({}, 1, seed);
                ASSERT_TRUE(shot.preview.markable) << shot.preview.problem.toStdString();
                EXPECT_TRUE(shot.result.ok()) << shot.result.verdict().toStdString();
                for (const GlyphInspection& g : shot.result.glyphs) {
                    ASSERT_TRUE(g.offsetUm.has_value());
                    EXPECT_LT(std::hypot(g.offsetUm->X, g.offsetUm->Y), 1.0) << g.text.toStdString();
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Labels, InspectionTableTest, ::testing::ValuesIn(kLabels), [](const auto& info) {
    QString name = QString::fromLatin1(info.param.font) + QLatin1Char('_') + QString::fromLatin1(info.param.text);
    for (QChar& ch : name)
        if (!ch.isLetterOrNumber())
            ch = QLatin1Char('_');
    return name.toStdString();
});

} // namespace
} // namespace lapido::test
