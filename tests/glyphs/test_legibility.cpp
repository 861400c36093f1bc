// Micro-text legibility: stroke gaps of drawn outlines, of TrueType and stroke-font characters at
// their marking height, the grouping of findings and their text.
#include "geometry/contours.h"
#include "glyphs/customfonts.h"
#include "glyphs/glyph.h"
#include "glyphs/legibility.h"
#include "settings/settingskeys.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

using namespace lapido;

namespace {

using Polyline = std::vector<std::pair<double, double>>;

TContourList contoursOf(const std::vector<Polyline>& lines, int piecesPerSegment = 1)
{
    TContourList list;
    for (const Polyline& line : lines) {
        auto c = std::make_unique<TContour>();
        for (size_t i = 0; i < line.size(); ++i) {
            if (i == 0) {
                c->Add(line[0].first, line[0].second);
                continue;
            }
            const auto [ax, ay] = line[i - 1];
            const auto [bx, by] = line[i];
            for (int k = 1; k <= piecesPerSegment; ++k) {
                const double f = double(k) / piecesPerSegment;
                c->Add(ax + f * (bx - ax), ay + f * (by - ay));
            }
        }
        list.Add(std::move(c));
    }
    return list;
}

Polyline circle(double cx, double cy, double r, int segments)
{
    Polyline p;
    for (int i = 0; i <= segments; ++i) {
        const double a = 2 * std::numbers::pi * (i % segments) / segments;
        p.emplace_back(cx + r * std::cos(a), cy + r * std::sin(a));
    }
    return p;
}

Polyline reversed(Polyline p)
{
    std::reverse(p.begin(), p.end());
    return p;
}

Polyline box(double x0, double y0, double x1, double y1)
{
    return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}, {x0, y0}};
}

struct GapCase {
    const char* name;
    std::vector<Polyline> lines;
    double limit;
    std::optional<double> gap; // expected smallest gap between separate strokes
    bool filled = false;       // closed contours filled by the non-zero rule (TrueType)
};

void PrintTo(const GapCase& c, std::ostream* os)
{
    *os << c.name;
}

constexpr double kJoined = kJoinedFractionFilled;

class StrokeGapTest : public ::testing::TestWithParam<GapCase> {};

// The result must not depend on how finely the outline is cut into segments: a neighbouring
// piece of the same stroke is never a gap, and a long segment is not missed.
TEST_P(StrokeGapTest, SmallestGapBetweenSeparateStrokesWhateverTheSegmentation)
{
    const GapCase& c = GetParam();
    for (int pieces : {1, 7}) {
        SCOPED_TRACE(pieces);
        const std::optional<double> gap = smallestStrokeGap(contoursOf(c.lines, pieces), c.limit, kJoined, c.filled);
        ASSERT_EQ(gap.has_value(), c.gap.has_value()) << (gap ? *gap : -1);
        if (c.gap) {
            EXPECT_NEAR(*gap, *c.gap, 1e-9);
        }
    }
}

const double kSin20 = std::sin(20 * std::numbers::pi / 180);

INSTANTIATE_TEST_SUITE_P(
    Outlines, StrokeGapTest,
    ::testing::Values(
        GapCase{"TwoParallelStrokesCloserThanTheLimit", {{{0, 0}, {1, 0}}, {{0, 0.1}, {1, 0.1}}}, 0.2, 0.1},
        GapCase{"TwoParallelStrokesFartherThanTheLimit", {{{0, 0}, {1, 0}}, {{0, 0.1}, {1, 0.1}}}, 0.08, std::nullopt},
        GapCase{"StrokesThatCross", {{{0, 0}, {1, 0}}, {{0.5, -0.5}, {0.5, 0.5}}}, 0.3, std::nullopt},
        GapCase{"StrokeEndingOnAnother", {{{0, 1}, {1, 1}}, {{0.5, 0}, {0.5, 1}}}, 0.3, std::nullopt},
        GapCase{"StrokeEndingJustShortOfAnother", {{{0, 1}, {1, 1}}, {{0.5, 0}, {0.5, 0.96}}}, 0.3, 0.04},
        GapCase{"SidesOfA40DegreeCorner", {{{-0.5 * kSin20, 1}, {0, 0}, {0.5 * kSin20, 1}}}, 0.3, std::nullopt},
        GapCase{"SidesOfAThinClosedStem", {{{0, 0}, {1, 0}, {1, 0.05}, {0, 0.05}, {0, 0}}}, 0.1, 0.05},
        GapCase{"StrokeComingBackNearItsStart", {{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0.06}}}, 0.1, 0.06},
        GapCase{"StrokeCrossingItself", {{{0, 0}, {1, 1}, {1, 0}, {0, 1}}}, 0.3, std::nullopt},
        GapCase{"RoundStrokeOfManySegments", {circle(0, 0, 0.3, 360)}, 0.1, std::nullopt},
        GapCase{"RingOfTwoContours", {circle(0, 0, 0.3, 90), circle(0, 0, 0.27, 90)}, 0.05,
                0.03 * std::cos(std::numbers::pi / 90)},
        GapCase{"FilledThinStemIsOneStroke", {box(0, 0, 1, 0.05)}, 0.1, std::nullopt, true},
        GapCase{"FilledRingIsOneStroke", {circle(0, 0, 0.3, 90), reversed(circle(0, 0, 0.27, 90))}, 0.05, std::nullopt, true},
        GapCase{"FilledStemsWithANarrowGap", {box(0, 0, 1, 0.2), box(0, 0.25, 1, 0.45)}, 0.1, 0.05, true},
        GapCase{"FilledHookWithANarrowSlot", {{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0.5}, {0.9, 0.5}, {0.9, 0.48}, {0, 0.48}, {0, 0}}}, 0.1,
                0.02, true},
        GapCase{"DotAndEmptyContourBesideAStroke", {{{0, 0}, {1, 0}}, {{0.5, 0.01}}, {}}, 0.3, std::nullopt}),
    [](const ::testing::TestParamInfo<GapCase>& info) { return std::string(info.param.name); });

TEST(StrokeGapTest, LimitsThatCannotSeparateAnythingFindNothing)
{
    const TContourList two = contoursOf({{{0, 0}, {1, 0}}, {{0, 0.001}, {1, 0.001}}});
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double limit : {0.0, -1.0, kJoined, nan, std::numeric_limits<double>::infinity()})
        EXPECT_EQ(smallestStrokeGap(two, limit, kJoined), std::nullopt) << limit;
    TContourList broken = contoursOf({{{0, 0}, {1, 0}}, {{0, 0.1}, {nan, 0.1}, {1, 0.1}}});
    EXPECT_EQ(smallestStrokeGap(broken, 0.2, kJoined), std::nullopt);
}

TEST(LegibilityLimitsTest, TheWiderOfSpotAndTwoPulseDistancesSetsTheLimit)
{
    struct Case {
        double spot, pulse, limit;
        bool spotGoverns;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const Case& c : {Case{10, 0.5, 10, true}, Case{10, 8, 16, false}, Case{-3, 2, 4, false}, Case{nan, 1, 2, false},
                          Case{6, nan, 6, true}, Case{0, 0, 0, true}})
        EXPECT_EQ((LegibilityLimits{c.spot, c.pulse}.limitUm()), c.limit) << c.spot << " " << c.pulse;
    EXPECT_TRUE((LegibilityLimits{10, 0.5}.spotGoverns()));
    EXPECT_FALSE((LegibilityLimits{10, 8}.spotGoverns()));
}

TEST(LegibilityTextTest, OneLinePerHeightNamingCharactersGapAndLimit)
{
    const std::vector<LegibilityFinding> findings{{0.08, QStringLiteral("ea"), 6.2}, {0.125, QStringLiteral("i"), 0.44}};
    EXPECT_EQ(legibilityLines(findings, {10, 0.5}),
              (QStringList{QStringLiteral("Characters 'e', 'a' at 0.080 mm: strokes 6 um apart, spot 10 um."),
                           QStringLiteral("Characters 'i' at 0.125 mm: strokes 0.4 um apart, spot 10 um.")}));
    EXPECT_EQ(legibilityLines({findings[0]}, {10, 8}),
              QStringList{QStringLiteral("Characters 'e', 'a' at 0.080 mm: strokes 6 um apart, two pulse distances 16 um.")});
}

class LegibilityFontTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        keys::write(keys::WorkingDir, scratch() + QLatin1Char('/'));
        TCustomFonts();
    }
    // A text root of the given height (times the girdle height of 1 mm: millimetres).
    void addText(const QString& text, const QString& font, double heightMm)
    {
        TTreeNode* node = m_tree.Add(QStringLiteral("Label"));
        TGlyph::CreateFor<TGlyphString>(&m_tree, node, text, font, TFontStyles(), heightMm, 0.0, 0.1);
    }
    std::vector<LegibilityFinding> check() { return CheckLegibility(m_tree, 1.0, LegibilityLimits{10, 0.5}); }

    TLabelTree m_tree;
};

TEST_F(LegibilityFontTest, AnEIsFlaggedAtTwentiethOfAMillimetreAndPassesAtHalfAMillimetre)
{
    for (const char* font : {"Liberation Sans", "DejaVu Sans", "ROMANS"}) {
        SCOPED_TRACE(font);
        m_tree.Clear();
        addText(QStringLiteral("e"), QString::fromLatin1(font), 0.05);
        const std::vector<LegibilityFinding> tiny = check();
        ASSERT_EQ(tiny.size(), 1u);
        EXPECT_EQ(tiny[0].characters, QStringLiteral("e"));
        EXPECT_DOUBLE_EQ(tiny[0].sizeMm, 0.05);
        EXPECT_GT(tiny[0].smallestGapUm, 0);
        EXPECT_LT(tiny[0].smallestGapUm, 10);

        m_tree.Clear();
        addText(QStringLiteral("e"), QString::fromLatin1(font), 0.5);
        EXPECT_TRUE(check().empty());
    }
}

// Corners, junctions and curves of whole alphabets are not gaps: at a height where every
// character is plainly legible, nothing is found.
TEST_F(LegibilityFontTest, WholeAlphabetsPassAtHalfAMillimetre)
{
    const QString alphabet = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
    for (const char* font : {"Liberation Sans", "Liberation Serif", "DejaVu Sans", "ROMANS", "SCRIPTS"}) {
        SCOPED_TRACE(font);
        m_tree.Clear();
        addText(alphabet, QString::fromLatin1(font), 0.5);
        const std::vector<LegibilityFinding> findings = check();
        EXPECT_TRUE(findings.empty()) << qPrintable(legibilityLines(findings, {10, 0.5}).join(QChar('\n')));
    }
}

TEST_F(LegibilityFontTest, FindingsAreGroupedByHeightWithEachCharacterOnce)
{
    addText(QStringLiteral("eae"), QStringLiteral("Liberation Sans"), 0.05);
    addText(QStringLiteral("o"), QStringLiteral("Liberation Sans"), 0.03);
    addText(QStringLiteral("a"), QStringLiteral("Liberation Sans"), 0.05);
    const std::vector<LegibilityFinding> findings = check();
    ASSERT_EQ(findings.size(), 2u);
    EXPECT_EQ(findings[0].characters, QStringLiteral("ea"));
    EXPECT_DOUBLE_EQ(findings[0].sizeMm, 0.05);
    EXPECT_EQ(findings[1].characters, QStringLiteral("o"));
    EXPECT_DOUBLE_EQ(findings[1].sizeMm, 0.03);

    // The same character is measured alike wherever it stands; the group keeps the smallest gap.
    m_tree.Clear();
    addText(QStringLiteral("e"), QStringLiteral("Liberation Sans"), 0.05);
    const double eGap = check().at(0).smallestGapUm;
    m_tree.Clear();
    addText(QStringLiteral("a"), QStringLiteral("Liberation Sans"), 0.05);
    const double aGap = check().at(0).smallestGapUm;
    EXPECT_DOUBLE_EQ(findings[0].smallestGapUm, std::min(eGap, aGap));
}

} // namespace
