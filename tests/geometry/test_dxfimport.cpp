// DXF import: entity readers, layers and polyline numbers, real files, and bad input.
#include "geometry/cadonpaintbox.h"

#include "testsupport.h"

#include <QBuffer>
#include <QFile>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

using namespace lapido;

namespace {

constexpr double kPi = std::numbers::pi;
using Pairs = std::vector<std::pair<int, const char*>>;

// An ASCII DXF with the given pairs in its ENTITIES section (codes indented as CAD programs do).
QByteArray dxf(const Pairs& entities, bool withEnd = true)
{
    QByteArray out = "  0\r\nSECTION\r\n  2\r\nHEADER\r\n  9\r\n$ACADVER\r\n  1\r\nAC1015\r\n  0\r\nENDSEC\r\n"
                     "  0\r\nSECTION\r\n  2\r\nENTITIES\r\n";
    for (const auto& [code, value] : entities)
        out += QByteArray::number(code).rightJustified(3, ' ') + "\r\n" + value + "\r\n";
    if (withEnd)
        out += "  0\r\nENDSEC\r\n  0\r\nEOF\r\n";
    return out;
}

DxfImportResult import(TCADOnPaintBox& drawing, const QByteArray& text)
{
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    return drawing.loadDxf(buffer);
}

const TCADLine& lineAt(const TCADOnPaintBox& d, int i)
{
    return dynamic_cast<const TCADLine&>(d.CADObjectList.GetCADObject(i));
}

const TCADArc* arcAt(const TCADOnPaintBox& d, int i)
{
    return dynamic_cast<const TCADArc*>(&d.CADObjectList.GetCADObject(i));
}

void expectNear(const TCoord& a, const TCoord& b, double tol = 1e-12)
{
    EXPECT_NEAR(a.X, b.X, tol);
    EXPECT_NEAR(a.Y, b.Y, tol);
}

// The unit square as a lightweight polyline; bulge on every vertex when given.
Pairs square(const char* flags, const char* bulge)
{
    Pairs p{{0, "LWPOLYLINE"}, {8, "Sq"}, {90, "4"}};
    if (flags)
        p.push_back({70, flags});
    const char* xs[] = {"0", "1", "1", "0"};
    const char* ys[] = {"0", "0", "1", "1"};
    for (int i = 0; i < 4; ++i) {
        p.push_back({10, xs[i]});
        p.push_back({20, ys[i]});
        if (bulge)
            p.push_back({42, bulge});
    }
    return p;
}

struct SquareCase {
    const char* name;
    const char* flags;
    const char* bulge;
    int segments;
    double angle; // 0: straight lines
};

class LwPolylineTest : public ::testing::TestWithParam<SquareCase> {};

} // namespace

TEST_P(LwPolylineTest, SegmentsLeaveTheVertexThatCarriesTheBulge)
{
    const auto& c = GetParam();
    TCADOnPaintBox drawing;
    const auto result = import(drawing, dxf(square(c.flags, c.bulge)));
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    ASSERT_EQ(drawing.CADObjectList.Count(), c.segments);
    EXPECT_EQ(result.objectsAdded, c.segments);
    const TCoord corners[] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int i = 0; i < c.segments; ++i) {
        const TCADLine& s = lineAt(drawing, i);
        EXPECT_EQ(s.P1, corners[i]);
        EXPECT_EQ(s.P2, corners[(i + 1) % 4]);
        EXPECT_EQ(s.PLineID, 1);
        EXPECT_EQ(s.LayerName, "Sq");
        const TCADArc* arc = arcAt(drawing, i);
        if (c.angle == 0) {
            EXPECT_EQ(arc, nullptr);
        } else {
            ASSERT_NE(arc, nullptr);
            EXPECT_NEAR(arc->A, c.angle, 1e-12);
            EXPECT_NEAR(arc->R, 0.5, 1e-12);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Square, LwPolylineTest,
                         ::testing::Values(SquareCase{"closed", "1", nullptr, 4, 0},
                                           SquareCase{"closedBulges", "1", "1", 4, kPi},
                                           SquareCase{"closedClockwise", "129", "-1", 4, -kPi},
                                           SquareCase{"openFlag", "0", nullptr, 3, 0},
                                           SquareCase{"noFlag", nullptr, nullptr, 3, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DxfImportTest, EntityKindsLayersAndCounters)
{
    TCADOnPaintBox drawing;
    TCADLine::Create(drawing, {9, 9}, {9, 9}); // the import appends
    const auto result = import(drawing, dxf({
        {0, "LINE"}, {8, "A"}, {10, "0"}, {20, "0"}, {30, "5"}, {11, "1.5"}, {21, "-2"}, {31, "5"},
        {0, "LINE"}, {8, "B"}, {10, "1"}, {20, "1"}, {11, "2"}, {21, "2"},
        {0, "LINE"}, {10, "3"}, {20, "3"}, {11, "4"}, {21, "4"}, // inherits "B"
        {0, "POLYLINE"}, {8, "P"}, {66, "1"}, {70, "1"},
        {0, "VERTEX"}, {8, "V"}, {10, "0"}, {20, "0"}, {42, "1"},
        {0, "VERTEX"}, {8, "V"}, {10, "1"}, {20, "0"},
        {0, "VERTEX"}, {8, "V"}, {10, "1"}, {20, "1"},
        {0, "SEQEND"}, {8, "P"},
        {0, "CIRCLE"}, {8, "C"}, {10, "1"}, {20, "1"}, {30, "0"}, {40, "2"},
        {0, "ARC"}, {10, " 0.0 "}, {20, "0"}, {40, "1"}, {50, "90"}, {51, "0"},
        {0, "SPLINE"}, {8, "S"}, {10, "7"}, {20, "7"},
    }));
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    ASSERT_EQ(drawing.CADObjectList.Count(), 1 + 7);

    struct Expect {
        const char* layer;
        int plineId;
        TCoord p1, p2;
    };
    const Expect expected[] = {
        {"A", 0, {0, 0}, {1.5, -2}}, {"B", 0, {1, 1}, {2, 2}}, {"B", 0, {3, 3}, {4, 4}},
        {"P", 1, {0, 0}, {1, 0}},    {"P", 1, {1, 0}, {1, 1}}, // straight, no closing segment
        {"C", 0, {3, 1}, {3, 1}},    {"C", 0, {0, 1}, {1, 0}},
    };
    for (int i = 0; i < 7; ++i) {
        const TCADLine& o = lineAt(drawing, i + 1);
        EXPECT_EQ(o.LayerName, expected[i].layer) << i;
        EXPECT_EQ(o.PLineID, expected[i].plineId) << i;
        expectNear(o.P1, expected[i].p1);
        expectNear(o.P2, expected[i].p2);
    }
    EXPECT_EQ(arcAt(drawing, 4), nullptr);
    const TCADArc* circle = arcAt(drawing, 6);
    ASSERT_NE(circle, nullptr);
    EXPECT_EQ(circle->A1, 0);
    EXPECT_NEAR(circle->A2, 2 * kPi, 1e-15);
    EXPECT_EQ(circle->R, 2);
    const TCADArc* arc = arcAt(drawing, 7);
    ASSERT_NE(arc, nullptr);
    EXPECT_NEAR(arc->A, 3 * kPi / 2, 1e-12);
    EXPECT_NEAR(arc->A1, kPi / 2, 1e-12);
}

TEST(DxfImportTest, OnlyTheEntitiesSectionCounts)
{
    TCADOnPaintBox drawing;
    const QByteArray text = "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nMARK\n0\nLINE\n8\nX\n10\n0\n20\n0\n11\n1\n21\n1\n"
                            "0\nENDBLK\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\nINSERT\n2\nMARK\n10\n5\n20\n5\n"
                            "0\nENDSEC\n0\nEOF\n";
    EXPECT_TRUE(import(drawing, text).ok);
    EXPECT_EQ(drawing.CADObjectList.Count(), 0);
    EXPECT_TRUE(import(drawing, "0\nSECTION\n2\nHEADER\n0\nENDSEC\n0\nEOF\n").ok);
    EXPECT_TRUE(import(drawing, "").ok);
    EXPECT_EQ(drawing.CADObjectList.Count(), 0);
    // Saved by a text editor: byte-order mark, LF line ends, blanks around the codes.
    EXPECT_TRUE(import(drawing, "\xEF\xBB\xBF  0\nSECTION\n  2\nENTITIES\n0 \nCIRCLE\n10\n0\n20\n0\n40\n1\n0\nENDSEC\n").ok);
    EXPECT_EQ(drawing.CADObjectList.Count(), 1);
}

TEST(DxfImportTest, BadInputStopsWithAnErrorAndKeepsWhatWasRead)
{
    const Pairs good{{0, "LINE"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"}};
    auto with = [&](Pairs tail) {
        Pairs p = good;
        p.insert(p.end(), tail.begin(), tail.end());
        return dxf(p);
    };
    struct Case {
        const char* name;
        QByteArray text;
        const char* errorPart;
    };
    const Case cases[] = {
        {"code not a number", with({{0, "LINE"}}) + "x1\r\n0\r\n", "group code expected"},
        {"value not a number", with({{0, "LINE"}, {10, "1,5"}}), "number expected"},
        {"not a number", with({{0, "CIRCLE"}, {10, "nan"}}), "number expected"},
        {"infinite", with({{0, "CIRCLE"}, {10, "1"}, {20, "1"}, {40, "1e999"}}), "number expected"},
        {"huge", with({{0, "LINE"}, {10, "1e308"}}), "out of range"},
        {"huge bulge", with({{0, "LWPOLYLINE"}, {90, "2"}, {10, "0"}, {20, "0"}, {42, "1e300"}, {10, "1"}, {20, "0"}}), "out of range"},
        {"vertex count", with({{0, "LWPOLYLINE"}, {90, "50000000"}}), "vertices"},
        {"negative count", with({{0, "LWPOLYLINE"}, {90, "-3"}}), "vertices"},
        {"truncated entity", dxf(Pairs{good.begin(), good.end()}, false) + "  0\r\nLINE\r\n 10\r\n", "truncated"},
        {"truncated section", dxf(good, false), "truncated"},
        {"code without value", dxf(good, false) + "  0\r\nLINE\r\n 10", "truncated"},
        {"binary", QByteArray("AutoCAD Binary DXF\r\n\x1a\x00", 22) + QByteArray(64, '\x01'), "binary DXF"},
        // In range number by number, yet no geometry to mark.
        {"negative circle radius", with({{0, "CIRCLE"}, {10, "1"}, {20, "1"}, {40, "-2"}}), "CIRCLE: the radius -2 is negative"},
        {"negative arc radius", with({{0, "ARC"}, {10, "0"}, {20, "0"}, {40, "-1"}, {50, "0"}, {51, "90"}}), "ARC: the radius"},
        {"arc of many turns", with({{0, "ARC"}, {10, "0"}, {20, "0"}, {40, "1"}, {50, "0"}, {51, "1e11"}}), "ARC: the arc turns"},
    };
    for (const auto& c : cases) {
        TCADOnPaintBox drawing;
        const auto result = import(drawing, c.text);
        EXPECT_FALSE(result.ok) << c.name;
        EXPECT_TRUE(result.error.contains(QLatin1String(c.errorPart))) << c.name << ": " << result.error.toStdString();
        EXPECT_TRUE(result.error.startsWith(QLatin1String("line "))) << c.name;
        const int kept = QByteArray(c.name) == "binary" ? 0 : 1;
        EXPECT_EQ(drawing.CADObjectList.Count(), kept) << c.name;
    }

    // More objects than a logo may hold: the import stops at the bound.
    {
        Pairs many;
        for (int i = 0; i <= kMaxDrawingObjects; ++i)
            many.insert(many.end(), good.begin(), good.end());
        TCADOnPaintBox drawing;
        const auto result = import(drawing, dxf(many));
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.error.contains(QStringLiteral("more than %1 objects in the drawing").arg(kMaxDrawingObjects)))
            << result.error.toStdString();
        EXPECT_EQ(drawing.CADObjectList.Count(), kMaxDrawingObjects);
    }

    // Very long lines are refused rather than buffered without end.
    TCADOnPaintBox drawing;
    const auto result = import(drawing, dxf({{999, QByteArray(3 << 20, 'x').constData()}}));
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.error.contains(QLatin1String("longer than")));
}

TEST(DxfImportTest, FilesWrittenByCadSoftware)
{
    const QString dir = lapido::test::testDataDir() + QStringLiteral("/geometry/");
    struct Expect {
        const char* type;
        const char* layer;
        int plineId;
        TCoord p1, p2;
        double angle;
    };
    struct FileCase {
        const char* file;
        std::vector<Expect> objects;
    };
    const FileCase files[] = {
        {"logo_r2000.dxf",
         {{"TCADLine", "Outline", 1, {1, 0}, {3, 0}, 0},
          {"TCADArc", "Outline", 1, {3, 0}, {3, 2}, kPi},
          {"TCADLine", "Outline", 1, {3, 2}, {1, 2}, 0},
          {"TCADArc", "Outline", 1, {1, 2}, {1, 0}, kPi},
          {"TCADArc", "Holes", 0, {2.5, 1}, {2.5, 1}, 2 * kPi},
          {"TCADArc", "Holes", 0, {2, 1.8}, {2.8, 1}, 3 * kPi / 2},
          {"TCADLine", "Outline", 0, {0, -1}, {4, -1}, 0}}},
        {"part_r12.dxf",
         {{"TCADLine", "Part", 1, {0, 0}, {2, 0}, 0},
          {"TCADLine", "Part", 1, {2, 0}, {2, 1}, 0},
          {"TCADLine", "0", 0, {0, 0}, {0, 1}, 0},
          {"TCADArc", "0", 0, {1, 0}, {0, 1}, kPi / 2}}},
    };
    for (const auto& f : files) {
        TCADOnPaintBox drawing;
        const auto result = drawing.LoadDXF(dir + QLatin1String(f.file));
        ASSERT_TRUE(result.ok) << f.file << ": " << result.error.toStdString();
        ASSERT_EQ(drawing.CADObjectList.Count(), int(f.objects.size())) << f.file;
        for (int i = 0; i < drawing.CADObjectList.Count(); ++i) {
            const auto& e = f.objects[std::size_t(i)];
            const TCADLine& o = lineAt(drawing, i);
            EXPECT_EQ(o.typeName(), e.type) << f.file << " " << i;
            EXPECT_EQ(o.LayerName, e.layer) << f.file << " " << i;
            EXPECT_EQ(o.PLineID, e.plineId) << f.file << " " << i;
            expectNear(o.P1, e.p1, 1e-9);
            expectNear(o.P2, e.p2, 1e-9);
            if (const TCADArc* arc = arcAt(drawing, i)) {
                EXPECT_NEAR(arc->A, e.angle, 1e-12) << f.file << " " << i;
            }
        }
    }
    TCADOnPaintBox drawing;
    const auto missing = drawing.LoadDXF(dir + QStringLiteral("no-such.dxf"));
    EXPECT_FALSE(missing.ok);
    EXPECT_TRUE(missing.error.contains(QLatin1String("no-such.dxf")));
}
