// Tests of TrueType outlines through FreeType: our contours against FreeType's rendering, metrics, bad input.
#include "geometry/contours.h"
#include "glyphs/customfonts.h"
#include "glyphs/fontoutlines.h"
#include "glyphs/truetypefonts.h"
#include "platform/debuglog.h"
#include "settings/settingskeys.h"

#include "testsupport.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <gtest/gtest.h>

#include <cmath>

using namespace lapido;

namespace {

struct Outline {
    std::unique_ptr<TContourList> contours;
    double cellIncX = -1;
    double blackBoxX = -1;
    double originX = -1;
};

Outline outlineOf(const QString& font, TFontStyles style, char16_t code)
{
    Outline o;
    o.contours = GetCharOutline(font, style, code, o.cellIncX, o.blackBoxX, o.originX);
    return o;
}

class TrueTypeFontTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        keys::write(keys::WorkingDir, scratch() + QLatin1Char('/'));
        TCustomFonts();
    }
};

// Pixels at 128 per em on a canvas of two ems, pen origin at (0.4 em, 1.4 em from the top).
constexpr int kPpem = 128;
constexpr int kCanvas = 2 * kPpem;
constexpr int kOriginX = kPpem * 4 / 10;
constexpr int kBaselineY = kPpem * 14 / 10;

// Our contours filled with the non-zero rule, antialiased (grey level = coverage).
QImage rasteriseContours(const TContourList& contours, int em, int H, int C)
{
    QImage img(kCanvas, kCanvas, QImage::Format_Grayscale8);
    img.fill(0);
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    const double scale = double(kPpem) / em;
    auto toCanvas = [&](const TVertex& v) {
        return QPointF(kOriginX + v.X * H * scale, kBaselineY - (v.Y * H + C) * scale);
    };
    for (int c = 0; c < contours.Count(); ++c) {
        const TContour& contour = contours.GetContour(c);
        if (contour.Count() == 0)
            continue;
        path.moveTo(toCanvas(contour[0]));
        for (int i = 1; i < contour.Count(); ++i)
            path.lineTo(toCanvas(contour[i]));
        path.closeSubpath();
    }
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.fillPath(path, Qt::white);
    return img;
}

// FreeType's own antialiased rendering of the same glyph at the same size.
QImage rasteriseWithFreeType(const TrueTypeFace& face, char32_t code)
{
    QImage img(kCanvas, kCanvas, QImage::Format_Grayscale8);
    img.fill(0);
    auto ft = static_cast<FT_Face>(face.ftFace());
    EXPECT_EQ(FT_Set_Pixel_Sizes(ft, 0, kPpem), 0);
    EXPECT_EQ(FT_Load_Char(ft, code, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP), 0);
    if (face.emboldens())
        FT_Outline_EmboldenXY(&ft->glyph->outline, kPpem * 64 / 24, kPpem * 64 / 24);
    EXPECT_EQ(FT_Render_Glyph(ft->glyph, FT_RENDER_MODE_NORMAL), 0);
    const FT_Bitmap& bm = ft->glyph->bitmap;
    for (unsigned row = 0; row < bm.rows; ++row)
        for (unsigned col = 0; col < bm.width; ++col) {
            const int x = kOriginX + ft->glyph->bitmap_left + int(col);
            const int y = kBaselineY - ft->glyph->bitmap_top + int(row);
            if (x >= 0 && y >= 0 && x < kCanvas && y < kCanvas)
                img.scanLine(y)[x] = bm.buffer[row * bm.pitch + col];
        }
    return img;
}

// Intersection over union of two coverage maps, counted two ways: pixels covered at least half
// (what either rasteriser inks), and each pixel weighted by its coverage (edges that sit on
// pixel boundaries do not then turn on how either rasteriser breaks ties).
struct Overlap {
    double pixels;
    double weighted;
};

Overlap intersectionOverUnion(const QImage& a, const QImage& b)
{
    long both = 0, either = 0, bothWeighted = 0, eitherWeighted = 0;
    for (int y = 0; y < a.height(); ++y) {
        const uchar* ra = a.constScanLine(y);
        const uchar* rb = b.constScanLine(y);
        for (int x = 0; x < a.width(); ++x) {
            const bool inA = ra[x] >= 128, inB = rb[x] >= 128;
            both += (inA && inB) ? 1 : 0;
            either += (inA || inB) ? 1 : 0;
            bothWeighted += std::min(ra[x], rb[x]);
            eitherWeighted += std::max(ra[x], rb[x]);
        }
    }
    return {either == 0 ? 1.0 : double(both) / double(either),
            eitherWeighted == 0 ? 1.0 : double(bothWeighted) / double(eitherWeighted)};
}

struct CoverageCase {
    const char* family;
    TFontStyles style;
    QString characters;
};

TEST_F(TrueTypeFontTest, ContoursCoverFreeTypesOwnRendering)
{
    const QString lettersAndDigits =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    const CoverageCase kCases[] = {
        {"Liberation Sans", {}, lettersAndDigits},
        {"Liberation Sans", fsBold, lettersAndDigits},
        // Contours that open off the curve, after an on-curve last point and between two
        // off-curve points.
        {"DejaVu Sans", {}, QStringLiteral("\u03D8\u2295\u0298\u25D0\u0463")},
    };
    for (const CoverageCase& k : kCases) {
        const QString family = QString::fromLatin1(k.family);
        const TrueTypeFace* face = truetype::face(family, k.style);
        ASSERT_NE(face, nullptr) << k.family;
        int U = 0, H = 0, C = 0;
        ASSERT_TRUE(GetFontMetrics(family, U, H, C));
        for (QChar ch : k.characters) {
            const Outline o = outlineOf(family, k.style, ch.unicode());
            ASSERT_TRUE(o.contours);
            ASSERT_GT(o.contours->Count(), 0) << k.family << " " << int(ch.unicode());
            const Overlap iou = intersectionOverUnion(rasteriseContours(*o.contours, U, H, C),
                                                      rasteriseWithFreeType(*face, ch.unicode()));
            const std::string what = std::string(k.family) + " style " + std::to_string(int(k.style)) + " char "
                + QString(ch).toStdString();
            EXPECT_GT(iou.pixels, 0.98) << what;
            EXPECT_GT(iou.weighted, 0.98) << what;
        }
    }
}

TEST_F(TrueTypeFontTest, MetricsComeFromTheTypographicValuesInFontUnits)
{
    int U = 0, H = 0, C = 0;
    ASSERT_TRUE(GetFontMetrics(QStringLiteral("Liberation Sans"), U, H, C));
    const TrueTypeFace* face = truetype::face(QStringLiteral("Liberation Sans"), {});
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(U, 2048);
    EXPECT_GT(face->ascent(), 0);
    EXPECT_LT(face->descent(), 0);
    EXPECT_EQ(H, face->ascent() - face->descent());
    EXPECT_EQ(C, (face->ascent() + face->descent()) / 2);

    // "H" of Liberation Sans: advance 1479, ink from x 168 to 1312, cap height 1409 on the baseline.
    const Outline h = outlineOf(QStringLiteral("Liberation Sans"), {}, u'H');
    EXPECT_DOUBLE_EQ(h.cellIncX, 1479.0 / H);
    EXPECT_DOUBLE_EQ(h.originX, 168.0 / H);
    EXPECT_DOUBLE_EQ(h.blackBoxX, (1312.0 - 168) / H);
    double minY = 1e9, maxY = -1e9;
    for (int c = 0; c < h.contours->Count(); ++c) {
        const TContour& contour = h.contours->GetContour(c);
        EXPECT_EQ(contour[0], contour[contour.Count() - 1]) << "each contour is closed";
        for (const TVertex& v : contour) {
            minY = std::min(minY, v.Y);
            maxY = std::max(maxY, v.Y);
        }
    }
    EXPECT_DOUBLE_EQ(minY, (0.0 - C) / H);
    EXPECT_DOUBLE_EQ(maxY, (1409.0 - C) / H);
}

TEST_F(TrueTypeFontTest, MetricAliasResolvesToTheCompatibleFace)
{
    const Outline arial = outlineOf(QStringLiteral("Arial"), {}, u'g');
    const Outline liberation = outlineOf(QStringLiteral("Liberation Sans"), {}, u'g');
    ASSERT_GT(liberation.contours->Count(), 0);
    ASSERT_EQ(arial.contours->Count(), liberation.contours->Count());
    for (int c = 0; c < arial.contours->Count(); ++c)
        EXPECT_EQ(arial.contours->GetContour(c).vertices(), liberation.contours->GetContour(c).vertices());
    EXPECT_EQ(arial.cellIncX, liberation.cellIncX);
    EXPECT_TRUE(IsTrueTypeFont(QStringLiteral("Arial")));
    EXPECT_TRUE(IsTrueTypeFont(QStringLiteral("liberation sans")));
}

TEST_F(TrueTypeFontTest, CharacterSetQueries)
{
    const QString family = QStringLiteral("Liberation Sans");
    EXPECT_TRUE(FontHasChar(family, u'A'));
    EXPECT_TRUE(FontHasChar(family, 0x20AC));
    EXPECT_FALSE(FontHasChar(family, 0x4E00));
    EXPECT_LE(GetFirstChar(family), u'!');
    EXPECT_GE(GetLastChar(family), 0x20AC);
}

TEST_F(TrueTypeFontTest, BadInputGivesEmptyOutlineAndDebugLine)
{
    const struct {
        const char* family;
        char16_t code;
    } kCases[] = {
        {"No Such Font Family 7", u'A'},
        {"Liberation Sans", 0x4E00}, // a character the font lacks
        {"", u'A'},
    };
    for (const auto& k : kCases) {
        SCOPED_TRACE(k.family);
        DebugLogCapture log;
        const Outline o = outlineOf(QString::fromLatin1(k.family), {}, k.code);
        ASSERT_TRUE(o.contours);
        EXPECT_EQ(o.contours->Count(), 0);
        EXPECT_EQ(o.cellIncX, 0);
        EXPECT_EQ(o.blackBoxX, 0);
        EXPECT_EQ(o.originX, 0);
        if (k.family[0] != 0) {
            EXPECT_FALSE(log.lines().empty());
        }
    }
    EXPECT_FALSE(IsTrueTypeFont(QStringLiteral("No Such Font Family 7")));
    EXPECT_FALSE(FontHasChar(QStringLiteral("No Such Font Family 7"), u'A'));
    int U = 1, H = 1, C = 1;
    EXPECT_FALSE(GetFontMetrics(QStringLiteral("No Such Font Family 7"), U, H, C));
}

TEST_F(TrueTypeFontTest, UnreadableFontFiles)
{
    const TrueTypeFace* good = truetype::face(QStringLiteral("Liberation Sans"), {});
    ASSERT_NE(good, nullptr);
    QFile source(good->file());
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();

    const struct {
        const char* name;
        QByteArray content;
    } kFiles[] = {
        {"empty.ttf", QByteArray()},
        {"text.ttf", QByteArray("not a font at all\n")},
        {"header-only.ttf", bytes.left(12)},
        {"truncated.ttf", bytes.left(bytes.size() / 3)},
    };
    for (const auto& f : kFiles) {
        SCOPED_TRACE(f.name);
        const QString path = scratch(QString::fromLatin1(f.name));
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(f.content);
        out.close();
        DebugLogCapture log;
        auto face = TrueTypeFace::open(path);
        if (!face) {
            EXPECT_FALSE(log.lines().empty());
            continue;
        }
        // FreeType may open a cut file; its glyphs then fail one by one, never fatally.
        NativeOutline native;
        for (char16_t code = u'A'; code <= u'z'; ++code) {
            face->nativeOutline(code, native);
            TContourList contours;
            appendNativeOutline(native, face->cellHeight(), face->centreHeight(), contours);
        }
    }
}

// A face whose typographic ascender and descender are both 0 would make every coordinate a
// division by zero; its cell height falls back to the em size.
TEST_F(TrueTypeFontTest, CellHeightFallsBackToEmWithoutVerticalMetrics)
{
    const TrueTypeFace* good = truetype::face(QStringLiteral("Liberation Sans"), {});
    ASSERT_NE(good, nullptr);
    QFile source(good->file());
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    QByteArray bytes = source.readAll();
    auto be16 = [&](int at) { return (uchar(bytes[at]) << 8) | uchar(bytes[at + 1]); };
    auto be32 = [&](int at) { return (be16(at) << 16) | be16(at + 2); };
    int os2 = -1;
    for (int i = 0, n = be16(4); i < n; ++i)
        if (bytes.mid(12 + 16 * i, 4) == "OS/2")
            os2 = be32(12 + 16 * i + 8);
    ASSERT_GT(os2, 0);
    // sTypoAscender and sTypoDescender sit at bytes 68 to 71 of the table.
    for (int k = 68; k < 72; ++k)
        bytes[os2 + k] = 0;
    const QString path = scratch(QStringLiteral("flat.ttf"));
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes);
    out.close();

    auto face = TrueTypeFace::open(path);
    ASSERT_TRUE(face);
    EXPECT_EQ(face->ascent(), 0);
    EXPECT_EQ(face->descent(), 0);
    EXPECT_EQ(face->cellHeight(), 2048);
    EXPECT_EQ(face->centreHeight(), 0);
    NativeOutline native;
    ASSERT_TRUE(face->nativeOutline(U'H', native));
    TContourList contours;
    appendNativeOutline(native, face->cellHeight(), face->centreHeight(), contours);
    ASSERT_GT(contours.Count(), 0);
    for (const TVertex& v : contours.GetContour(0))
        EXPECT_TRUE(std::isfinite(v.X) && std::isfinite(v.Y));
    EXPECT_DOUBLE_EQ(contours.GetContour(0)[0].Y * 2048, double(native.polygons[0].start.y));
}

TEST_F(TrueTypeFontTest, OpenCurveStartFollowsTheNativeRule)
{
    // DejaVu Sans U+03D8 opens a contour off the curve after an on-curve last point; U+0298
    // opens one between two off-curve points.
    const TrueTypeFace* face = truetype::face(QStringLiteral("DejaVu Sans"), {});
    ASSERT_NE(face, nullptr);
    for (char32_t code : {U'\u03D8', U'\u0298'}) {
        auto ft = static_cast<FT_Face>(face->ftFace());
        ASSERT_EQ(FT_Load_Char(ft, code, FT_LOAD_NO_SCALE), 0);
        const FT_Outline& o = ft->glyph->outline;
        NativeOutline native;
        ASSERT_TRUE(face->nativeOutline(code, native));
        ASSERT_EQ(int(native.polygons.size()), o.n_contours);
        int first = 0;
        bool sawOffStart = false;
        for (int c = 0; c < o.n_contours; ++c) {
            const int last = o.contours[c];
            const auto& poly = native.polygons[std::size_t(c)];
            NativeOutline::Point expected{int32_t(o.points[first].x), int32_t(o.points[first].y)};
            if (!(o.tags[first] & 1)) {
                sawOffStart = true;
                if (o.tags[last] & 1)
                    expected = {int32_t(o.points[last].x), int32_t(o.points[last].y)};
                else
                    expected = {int32_t((o.points[first].x + o.points[last].x) >> 1),
                                int32_t((o.points[first].y + o.points[last].y) >> 1)};
            }
            EXPECT_EQ(poly.start, expected);
            // The polygon's last record ends on its start whenever the contour ends off the curve.
            if (!(o.tags[last] & 1) && poly.recordCount > 0) {
                const auto& rec = native.records[std::size_t(poly.firstRecord + poly.recordCount - 1)];
                EXPECT_EQ(rec.type, NativeOutline::primQSpline);
                EXPECT_EQ(native.points[std::size_t(rec.firstPoint + rec.pointCount - 1)], expected);
            }
            first = last + 1;
        }
        EXPECT_TRUE(sawOffStart);
    }
}

TEST_F(TrueTypeFontTest, SinglePointContoursAreLeftOut)
{
    // DejaVu Sans Bold U+05B7 carries a contour of one point beside its ink.
    const TrueTypeFace* face = truetype::face(QStringLiteral("DejaVu Sans"), fsBold);
    ASSERT_NE(face, nullptr);
    auto ft = static_cast<FT_Face>(face->ftFace());
    ASSERT_EQ(FT_Load_Char(ft, 0x05B7, FT_LOAD_NO_SCALE), 0);
    int inked = 0, single = 0;
    for (int c = 0, first = 0; c < ft->glyph->outline.n_contours; ++c) {
        const int last = ft->glyph->outline.contours[c];
        (last == first ? single : inked) += 1;
        first = last + 1;
    }
    ASSERT_GT(single, 0);
    NativeOutline native;
    ASSERT_TRUE(face->nativeOutline(0x05B7, native));
    EXPECT_EQ(int(native.polygons.size()), inked);
    const Outline o = outlineOf(QStringLiteral("DejaVu Sans"), fsBold, 0x05B7);
    ASSERT_EQ(o.contours->Count(), inked);
    for (int c = 0; c < o.contours->Count(); ++c)
        EXPECT_GT(o.contours->GetContour(c).Count(), 2);
}

TEST(NativeOutlineWalkTest, RecordsBecomeClosedContoursInCellUnits)
{
    // One polygon: start (0, 0), a line to (100, 0), a spline through the control (100, 100)
    // to (0, 100), a cubic run that is not walked, then closed back to the start.
    NativeOutline n;
    n.points = {{100, 0}, {100, 100}, {0, 100}, {-50, 80}, {-50, 20}, {0, 50}};
    n.records = {{NativeOutline::primLine, 0, 1}, {NativeOutline::primQSpline, 1, 2},
                 {NativeOutline::primCSpline, 3, 3}};
    n.polygons = {{{0, 0}, 0, 3}};
    TContourList contours;
    appendNativeOutline(n, 200, 50, contours);
    ASSERT_EQ(contours.Count(), 1);
    const TContour& c = contours.GetContour(0);
    ASSERT_GE(c.Count(), 5);
    EXPECT_EQ(c[0], (TVertex{0, -0.25, false}));
    EXPECT_EQ(c[1], (TVertex{0.5, -0.25, false}));
    // The spline starts from the line's end point, which is not repeated.
    EXPECT_GT(c[2].Y, -0.25);
    EXPECT_LT(c[2].X, 0.5 + 1e-12);
    EXPECT_EQ(c[c.Count() - 2], (TVertex{0, 0.25, false}));
    EXPECT_EQ(c[c.Count() - 1], c[0]);
    for (const TVertex& v : c)
        EXPECT_GE(v.X, 0) << "the cubic run adds no points";
}

TEST_F(TrueTypeFontTest, MissingStylesAreSynthesised)
{
    const TrueTypeFace* regular = truetype::face(QStringLiteral("Liberation Sans"), {});
    ASSERT_NE(regular, nullptr);
    auto bold = TrueTypeFace::open(regular->file(), 0, true, false);
    auto oblique = TrueTypeFace::open(regular->file(), 0, false, true);
    ASSERT_TRUE(bold && oblique);
    NativeOutline r, b, o;
    ASSERT_TRUE(regular->nativeOutline(U'l', r));
    ASSERT_TRUE(bold->nativeOutline(U'l', b));
    ASSERT_TRUE(oblique->nativeOutline(U'l', o));
    const int strength = regular->emSize() / 24;
    EXPECT_EQ(b.cellIncX, r.cellIncX + strength);
    EXPECT_NEAR(b.blackBoxX, r.blackBoxX + strength, 2);
    EXPECT_EQ(o.cellIncX, r.cellIncX);
    // The slant moves the top of the stem right and leaves the baseline in place.
    EXPECT_GT(o.blackBoxX, r.blackBoxX + 200);
    EXPECT_EQ(o.originX, r.originX);

    // Through the name: a family without a bold face is emboldened.
    bool checkedFamily = false;
    for (const char* family : {"DejaVu Math TeX Gyre", "Liberation Sans"}) {
        const TrueTypeFace* f = truetype::face(QString::fromLatin1(family), fsBold);
        if (!f)
            continue;
        const TrueTypeFace* plain = truetype::face(QString::fromLatin1(family), {});
        EXPECT_EQ(f->emboldens(), f->file() == plain->file()) << family;
        checkedFamily = true;
    }
    EXPECT_TRUE(checkedFamily);
}

TEST_F(TrueTypeFontTest, UsableFontsListStrokeAndTrueTypeFamilies)
{
    const QStringList names = usableFontNames();
    for (const char* expected : {"ROMANS", "SCRIPTS", "GREEKS", "Liberation Sans", "DejaVu Sans"})
        EXPECT_TRUE(names.contains(QString::fromLatin1(expected))) << expected;
    for (const QString& n : names) {
        EXPECT_FALSE(n.startsWith(QLatin1Char('@')));
        EXPECT_FALSE(n.isEmpty());
    }
    for (const QString& n : truetype::trueTypeFamilies())
        EXPECT_TRUE(IsTrueTypeFont(n)) << n.toStdString();
}

} // namespace
