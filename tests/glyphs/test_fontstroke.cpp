// Tests of the built-in stroke fonts and the font style functions.
#include "geometry/contours.h"
#include "glyphs/customfonts.h"
#include "glyphs/fontoutlines.h"
#include "glyphs/strokefonts.h"
#include "settings/settingskeys.h"

#include "testsupport.h"

#include <QFile>

#include <gtest/gtest.h>

#include <vector>

using namespace lapido;

namespace {

struct Outline {
    std::unique_ptr<TContourList> contours;
    double cellIncX = -1;
    double blackBoxX = -1;
    double originX = -1;
};

Outline outlineOf(const QString& font, char16_t code)
{
    Outline o;
    o.contours = GetCharOutline(font, {}, code, o.cellIncX, o.blackBoxX, o.originX);
    return o;
}

// The outline source looks for custom fonts first; point it at an empty working folder.
class StrokeFontTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        keys::write(keys::WorkingDir, scratch() + QLatin1Char('/'));
        TCustomFonts();
    }
};

TEST_F(StrokeFontTest, RomansCapitalA)
{
    const Outline a = outlineOf(QStringLiteral("ROMANS"), u'A');
    ASSERT_TRUE(a.contours);
    ASSERT_EQ(a.contours->Count(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(a.contours->GetContour(i).Count(), 2);
    EXPECT_DOUBLE_EQ(a.cellIncX, 18.0 * 10 / 330);
    EXPECT_DOUBLE_EQ(a.blackBoxX, a.cellIncX);
    EXPECT_EQ(a.originX, 0);
    const TContour& first = a.contours->GetContour(0);
    EXPECT_NEAR(first[0].X, 0.27273, 1e-5);
    EXPECT_NEAR(first[0].Y, 0.5, 1e-12);
    EXPECT_NEAR(first[1].X, 0.030303, 1e-6);
    EXPECT_NEAR(first[1].Y, -0.13636, 1e-5);
    // The crossbar: (-5, 2)-(5, 2) in Hershey units.
    const TContour& bar = a.contours->GetContour(2);
    EXPECT_DOUBLE_EQ(bar[0].X, 4.0 * 10 / 330);
    EXPECT_DOUBLE_EQ(bar[1].X, 14.0 * 10 / 330);
    EXPECT_DOUBLE_EQ(bar[0].Y, (45.0 - 20) / 330);
}

TEST_F(StrokeFontTest, BlankHasAdvanceOnlyInEveryFont)
{
    for (const char* font : {"ROMANS", "SCRIPTS", "GREEKS"}) {
        SCOPED_TRACE(font);
        const Outline blank = outlineOf(QString::fromLatin1(font), u' ');
        ASSERT_TRUE(blank.contours);
        EXPECT_EQ(blank.contours->Count(), 0);
        int U = 0, H = 0, C = 0;
        ASSERT_TRUE(GetFontMetrics(QString::fromLatin1(font), U, H, C));
        EXPECT_DOUBLE_EQ(blank.cellIncX, 8.0 * U / H);
    }
}

// ROMANS and SCRIPTS share the digits and punctuation (same Hershey glyphs) but not the cell:
// a Hershey y maps to (C - y*U)/H with H 330, C 45 against H 280, C 20.
TEST_F(StrokeFontTest, ScriptsCellDiffersFromRomansForSharedGlyphs)
{
    int checkedPoints = 0;
    for (char16_t code : {u'0', u'1', u'7', u'?', u'&', u'#', u'(', u'\u00B0'}) {
        const Outline r = outlineOf(QStringLiteral("ROMANS"), code);
        const Outline s = outlineOf(QStringLiteral("scripts"), code);
        ASSERT_EQ(r.contours->Count(), s.contours->Count());
        EXPECT_DOUBLE_EQ(s.cellIncX, r.cellIncX * 330 / 280);
        for (int c = 0; c < r.contours->Count(); ++c) {
            const TContour& rc = r.contours->GetContour(c);
            const TContour& sc = s.contours->GetContour(c);
            ASSERT_EQ(rc.Count(), sc.Count());
            for (int i = 0; i < rc.Count(); ++i) {
                const double hersheyY = (45 - rc[i].Y * 330) / 10;
                EXPECT_NEAR(sc[i].X, rc[i].X * 330 / 280, 1e-12);
                EXPECT_NEAR(sc[i].Y, (20 - hersheyY * 10) / 280, 1e-12);
                ++checkedPoints;
            }
        }
    }
    EXPECT_GT(checkedPoints, 50);
    // The cell spans Hershey y -12 to +21 (ROMANS) and -12 to +16 (SCRIPTS).
    EXPECT_DOUBLE_EQ((45.0 - -12 * 10) / 330, 0.5);
    int U = 0, H = 0, C = 0;
    ASSERT_TRUE(GetFontMetrics(QStringLiteral("SCRIPTS"), U, H, C));
    EXPECT_DOUBLE_EQ((C - 16.0 * U) / H, -0.5);
    EXPECT_DOUBLE_EQ((C + 12.0 * U) / H, 0.5);
}

struct FontRange {
    const char* font;
    int items;
    char16_t first;
    char16_t last;
};

TEST_F(StrokeFontTest, CharacterSetsHaveTheirSizeAndEnds)
{
    const FontRange kFonts[] = {
        {"ROMANS", 83, 0x20, 0xB0},
        {"SCRIPTS", 83, 0x20, 0xB0},
        {"GREEKS", 127, 0x20, 0x3D5},
    };
    for (const FontRange& f : kFonts) {
        SCOPED_TRACE(f.font);
        const QString name = QString::fromLatin1(f.font);
        int n = 0;
        for (int code = 0; code <= 0xFFFF; ++code)
            n += FontHasChar(name, char16_t(code)) ? 1 : 0;
        EXPECT_EQ(n, f.items);
        EXPECT_EQ(GetFirstChar(name), f.first);
        EXPECT_EQ(GetLastChar(name), f.last);
    }
}

TEST_F(StrokeFontTest, GreekLettersTypedOnLatinKeys)
{
    // (typed, Greek code point): the same glyph either way.
    const std::pair<char16_t, char16_t> kPairs[] = {
        {u'A', 0x0391}, {u'P', 0x03A0}, {u'R', 0x03A1}, {u'S', 0x03A3}, {u'W', 0x03A9},
        {u'a', 0x03B1}, {u'i', 0x03B9}, {u's', 0x03C3}, {u'q', 0x03D1}, {u'f', 0x03D5}, {u'w', 0x03C9},
    };
    for (auto [latin, greek] : kPairs) {
        SCOPED_TRACE(int(greek));
        const Outline l = outlineOf(QStringLiteral("GREEKS"), latin);
        const Outline g = outlineOf(QStringLiteral("GREEKS"), greek);
        ASSERT_GT(l.contours->Count(), 0);
        ASSERT_EQ(l.contours->Count(), g.contours->Count());
        EXPECT_EQ(l.cellIncX, g.cellIncX);
        for (int c = 0; c < l.contours->Count(); ++c)
            EXPECT_EQ(l.contours->GetContour(c).vertices(), g.contours->GetContour(c).vertices());
    }
    EXPECT_FALSE(FontHasChar(QStringLiteral("GREEKS"), u'J'));
    EXPECT_FALSE(FontHasChar(QStringLiteral("GREEKS"), u'v'));
    EXPECT_FALSE(FontHasChar(QStringLiteral("GREEKS"), 0x03A2));
}

TEST_F(StrokeFontTest, CodeOutsideTheTableLeavesNumbersUnchanged)
{
    for (char16_t code : {char16_t(0x1F), char16_t(0x25), char16_t(0x40), char16_t(0xB1), char16_t(0x3A9), char16_t(0xFFFF)}) {
        SCOPED_TRACE(int(code));
        const Outline o = outlineOf(QStringLiteral("ROMANS"), code);
        ASSERT_TRUE(o.contours);
        EXPECT_EQ(o.contours->Count(), 0);
        EXPECT_EQ(o.cellIncX, -1);
        EXPECT_EQ(o.blackBoxX, -1);
        EXPECT_EQ(o.originX, -1);
    }
}

TEST_F(StrokeFontTest, EveryStrokeIsAPolylineInsideTheBearings)
{
    for (const StrokeFont* font : strokeFonts()) {
        // Script letters reach past their bearings to join the next letter.
        const bool withinBearings = QLatin1String(font->name) != QLatin1String("SCRIPTS");
        for (const auto& item : font->items) {
            const Outline o = outlineOf(QString::fromLatin1(font->name), item.code);
            for (int c = 0; c < o.contours->Count(); ++c) {
                const TContour& contour = o.contours->GetContour(c);
                EXPECT_GE(contour.Count(), 2) << font->name << " " << int(item.code);
                for (const TVertex& v : contour) {
                    if (!withinBearings)
                        continue;
                    EXPECT_GE(v.X, -1e-12) << font->name << " " << int(item.code);
                    EXPECT_LE(v.X, o.cellIncX + 1e-12) << font->name << " " << int(item.code);
                }
            }
        }
    }
}

// The committed tables against the Hershey records they were generated from (a stale or
// hand-edited table shows here).
TEST(StrokeTableTest, TablesMatchTheHersheyRecords)
{
    using namespace strokefonts;
    QFile jhf(test::testDataDir() + QStringLiteral("/../../tools/hershey/hershey-needed.jhf"));
    ASSERT_TRUE(jhf.open(QIODevice::ReadOnly));
    auto decode = [](char c) { return int(c) - int('R'); };
    int records = 0;
    while (!jhf.atEnd()) {
        QByteArray line = jhf.readLine();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        // Columns 1-5 the glyph number, 6-8 the pair count, then bearings and points.
        const int number = line.left(5).trimmed().toInt();
        const QByteArray body = line.mid(8);
        ASSERT_EQ(body.size(), 2 * line.mid(5, 3).trimmed().toInt()) << number;
        const StrokeGlyph* glyph = nullptr;
        for (int g = 0; g < kStrokeGlyphCount; ++g)
            if (kStrokeGlyphs[g].number == number)
                glyph = &kStrokeGlyphs[g];
        ASSERT_NE(glyph, nullptr) << number;
        EXPECT_EQ(glyph->left, decode(body[0])) << number;
        EXPECT_EQ(glyph->right, decode(body[1])) << number;
        std::vector<std::pair<int, int>> expected;
        for (int i = 2; i < body.size(); i += 2) {
            if (body[i] == ' ' && body[i + 1] == 'R')
                expected.emplace_back(-64, 0);
            else
                expected.emplace_back(decode(body[i]), decode(body[i + 1]));
        }
        expected.emplace_back(-64, -64);
        std::vector<std::pair<int, int>> actual;
        for (int k = 0; k < glyph->pointCount; ++k) {
            const StrokePoint& p = kStrokePoints[glyph->firstPoint + k];
            actual.emplace_back(p.x, p.y);
        }
        EXPECT_EQ(actual, expected) << number;
        ++records;
    }
    EXPECT_EQ(records, kStrokeGlyphCount);
}

TEST(FontStyleTest, IndexNameAndRoundTrip)
{
    const struct {
        TFontStyles style;
        int index;
        const char* name;
    } kStyles[] = {
        {{}, 0, "Regular"},
        {fsItalic, 1, "Italic"},
        {fsBold, 2, "Bold"},
        {fsBold | fsItalic, 3, "Italic Bold"},
    };
    for (const auto& s : kStyles) {
        EXPECT_EQ(FontStyleToIndex(s.style), s.index);
        EXPECT_EQ(IndexToFontStyle(s.index), s.style);
        EXPECT_EQ(FontStyleName(s.style), QLatin1String(s.name));
        EXPECT_EQ(IndexToFontStyle(FontStyleToIndex(s.style)), s.style);
        // Underline and strike-out play no part in the index.
        EXPECT_EQ(FontStyleToIndex(s.style | fsUnderline | fsStrikeOut), s.index);
    }
}

TEST(FontNameTest, StrokeAndTrueTypeNames)
{
    EXPECT_TRUE(IsStrokeFont(QStringLiteral("romans")));
    EXPECT_TRUE(IsStrokeFont(QStringLiteral("Greeks")));
    EXPECT_FALSE(IsStrokeFont(QStringLiteral("ROMAN")));
    EXPECT_FALSE(IsStrokeFont(QString()));
    for (const char* name : {"", "@", "@Liberation Sans", "@Arial", "@ROMANS"})
        EXPECT_FALSE(IsTrueTypeFont(QString::fromLatin1(name))) << name;
    EXPECT_FALSE(IsTrueTypeFont(QStringLiteral("ROMANS")));
}

} // namespace
