// Drawing file round trips, rejected files, and the outline of a drawing.
#include "geometry/cadonpaintbox.h"

#include "geometrytestutil.h"
#include "platform/inifile.h"
#include "platform/numfmt.h"
#include "testsupport.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

using namespace lapido;
using lapido::test::ScopedContourResolution;

namespace {

constexpr double kPi = std::numbers::pi;

class DrawingFileTest : public lapido::test::StationFixture {
protected:
    void TearDown() override
    {
        setUserLocale(m_savedLocale);
        StationFixture::TearDown();
    }
    void writeText(const QString& path, const QByteArray& text)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QLocale m_savedLocale = userLocale();
};

void expectSameObjects(const TCADOnPaintBox& a, const TCADOnPaintBox& b)
{
    ASSERT_EQ(a.CADObjectList.Count(), b.CADObjectList.Count());
    for (int i = 0; i < a.CADObjectList.Count(); ++i) {
        const TCADObject& x = a.CADObjectList.GetCADObject(i);
        const TCADObject& y = b.CADObjectList.GetCADObject(i);
        EXPECT_EQ(x.typeName(), y.typeName());
        EXPECT_EQ(x.Surpressed, y.Surpressed);
        EXPECT_EQ(x.Visible, y.Visible);
        EXPECT_EQ(x.LayerName, y.LayerName);
        EXPECT_EQ(x.PLineID, y.PLineID);
        EXPECT_EQ(y.Owner, &b);
        if (const auto* lx = dynamic_cast<const TCADLine*>(&x)) {
            const auto* ly = dynamic_cast<const TCADLine*>(&y);
            ASSERT_NE(ly, nullptr);
            EXPECT_EQ(lx->P1, ly->P1);
            EXPECT_EQ(lx->P2, ly->P2);
        }
        if (const auto* ax = dynamic_cast<const TCADArc*>(&x)) {
            const auto* ay = dynamic_cast<const TCADArc*>(&y);
            ASSERT_NE(ay, nullptr);
            EXPECT_EQ(ax->A, ay->A);
            EXPECT_EQ(ax->R, ay->R);
            EXPECT_EQ(ax->A1, ay->A1);
            EXPECT_EQ(ax->A2, ay->A2);
            EXPECT_EQ(ax->Pc, ay->Pc);
        }
    }
}

} // namespace

TEST_F(DrawingFileTest, SaveAndLoadReproduceEveryValueInEitherLocale)
{
    for (const char* locale : {"en_US", "de_DE"}) {
        setUserLocale(QLocale(QString::fromLatin1(locale)));
        TCADOnPaintBox drawing;
        auto& line = TCADLine::Create(drawing, {0.1, -2.5}, {1e-7, 12345.678});
        line.LayerName = QString::fromUtf8("Kontur ä");
        line.PLineID = 7;
        line.Surpressed = true;
        auto& arc = TCADArc::Create(drawing, {1, 0}, {-1, 0.3}, 4 * std::atan(0.7));
        arc.Visible = false;
        TCADObject::Create(drawing);
        const QString path = scratch(QStringLiteral("round.lal"));
        ASSERT_TRUE(drawing.SaveToFile(path));

        const IniFile ini(path);
        EXPECT_EQ(ini.ReadSections(), (QStringList{"General", "Object_1", "Object_2", "Object_3"}));
        EXPECT_EQ(ini.ReadString("General", "Description", {}), "VeduvAZU Drawing");
        EXPECT_EQ(ini.ReadSection("Object_2").first(), "Type");
        // A point in every locale, so that a drawing moves between stations unchanged.
        EXPECT_EQ(ini.ReadString("Object_1", "BeginX", {}), "0.1");

        TCADOnPaintBox back;
        ASSERT_TRUE(back.LoadFromFile(path));
        expectSameObjects(drawing, back);
    }
    EXPECT_TRUE(m_dialogs.texts().isEmpty());
}

TEST_F(DrawingFileTest, OnlyTheDrawingDescriptionIsAccepted)
{
    struct Case {
        const char* description;
        bool loads;
    };
    const Case cases[] = {{"VeduvAZU Drawing", true}, {"veduvazu DRAWING", true}, {"VeduvAZU", false}, {"", false}};
    for (const auto& c : cases) {
        const QString path = scratch(QStringLiteral("d.lal"));
        writeText(path, QByteArray("[general]\r\ndescription=") + c.description
                            + "\r\nobjectcount=2\r\n[object_1]\r\ntype=tcadline\r\nendx=2\r\n"
                              "[Object_2]\r\nType=TCADSpline\r\n");
        TCADOnPaintBox drawing;
        TCADLine::Create(drawing, {0, 0}, {1, 1});
        m_dialogs.clear();
        EXPECT_EQ(drawing.LoadFromFile(path), c.loads) << c.description;
        if (c.loads) {
            ASSERT_EQ(drawing.CADObjectList.Count(), 2); // appended; the unknown type skipped
            const auto& line = dynamic_cast<const TCADLine&>(drawing.CADObjectList.GetCADObject(1));
            EXPECT_EQ(line.P2, (TCoord{2, 0}));
            EXPECT_EQ(line.LayerName, "0");
            EXPECT_TRUE(line.Visible);
            EXPECT_TRUE(m_dialogs.texts().isEmpty());
        } else {
            EXPECT_EQ(drawing.CADObjectList.Count(), 1);
            EXPECT_EQ(m_dialogs.texts(), QStringList{"Invalid file format"});
            EXPECT_EQ(m_dialogs.transcript().front().kind, DialogKind::Error);
        }
    }
    TCADOnPaintBox missing;
    EXPECT_FALSE(missing.LoadFromFile(scratch(QStringLiteral("none.lal"))));
}

TEST_F(DrawingFileTest, NumbersReadTheSameWithAPointOrACommaInEveryLocale)
{
    const QString path = scratch(QStringLiteral("mixed.lal"));
    // Written by a station on a comma locale (arc) and by one on a point locale (line).
    writeText(path, "[General]\r\nDescription=VeduvAZU Drawing\r\nObjectCount=2\r\n"
                    "[Object_1]\r\nType=TCADArc\r\nBeginX=0,35\r\nBeginY=0\r\nEndX=-0,35\r\nEndY=0\r\n"
                    "CenterX=0\r\nCenterY=0\r\nRadius=0,35\r\nAngle=3,14159265358979\r\n"
                    "BeginAngle=0\r\nEndAngle=3,14159265358979\r\n"
                    "[Object_2]\r\nType=TCADLine\r\nBeginX=0.35\r\nBeginY=-2.5E-3\r\nEndX=1,5E2\r\nEndY=7\r\n");
    for (const char* locale : {"C", "de_DE"}) {
        setUserLocale(QLocale(QString::fromLatin1(locale)));
        TCADOnPaintBox drawing;
        ASSERT_TRUE(drawing.LoadFromFile(path)) << locale;
        ASSERT_EQ(drawing.CADObjectList.Count(), 2);
        const auto& arc = dynamic_cast<const TCADArc&>(drawing.CADObjectList.GetCADObject(0));
        EXPECT_EQ(arc.R, 0.35) << locale;
        EXPECT_EQ(arc.P1.X, 0.35) << locale;
        EXPECT_EQ(arc.A, 3.14159265358979) << locale;
        const auto& line = dynamic_cast<const TCADLine&>(drawing.CADObjectList.GetCADObject(1));
        EXPECT_EQ(line.P1, (TCoord{0.35, -2.5e-3})) << locale;
        EXPECT_EQ(line.P2, (TCoord{150, 7})) << locale;
    }
    EXPECT_TRUE(m_dialogs.texts().isEmpty());
}

// A drawing the station cannot mark as written is refused as a whole, naming the object and the
// key, and the drawing keeps what it held.
TEST_F(DrawingFileTest, UnreadableNumbersAndAbsurdGeometryRefuseTheFile)
{
    struct Case {
        const char* name;
        const char* object2; // keys of Object_2 after its Type
        const char* type;
        const char* message; // after "Invalid file format: Object_2 (type)"
    };
    const Case cases[] = {
        {"word", "BeginX=abc", "TCADLine", ", BeginX: \"abc\" is not a number"},
        {"two separators", "EndY=1,5.2", "TCADLine", ", EndY: \"1,5.2\" is not a number"},
        {"empty", "BeginY=", "TCADLine", ", BeginY: \"\" is not a number"},
        {"not a number", "Radius=nan", "TCADArc", ", Radius: \"nan\" is not a number"},
        {"infinite", "CenterX=inf", "TCADArc", ", CenterX: \"inf\" is not a number"},
        {"overflow", "CenterY=1e999", "TCADArc", ", CenterY: \"1e999\" is not a number"},
        {"fractional polyline number", "PLineID=7.5", "TCADLine", ", PLineID: \"7.5\" is not a whole number"},
        {"polyline number beyond 32 bits", "PLineID=99999999999", "TCADLine", ", PLineID: \"99999999999\" is not a whole number"},
        {"huge coordinate", "EndX=1e308", "TCADLine", ": EndX 1e+308 is out of range"},
        {"huge angle", "Angle=1e300\r\nRadius=1", "TCADArc", ": Angle 1e+300 is out of range"},
        {"negative radius", "Radius=-2\r\nAngle=1", "TCADArc", ": the radius -2 is negative"},
        {"many turns", "Radius=1\r\nAngle=20", "TCADArc", ": the arc turns by 20 radians, more than a full turn"},
    };
    for (const Case& c : cases) {
        const QString path = scratch(QStringLiteral("bad.lal"));
        writeText(path, QByteArray("[General]\r\nDescription=VeduvAZU Drawing\r\nObjectCount=2\r\n"
                                   "[Object_1]\r\nType=TCADLine\r\nEndX=1\r\n[Object_2]\r\nType=")
                            + c.type + "\r\n" + c.object2 + "\r\n");
        TCADOnPaintBox drawing;
        TCADLine::Create(drawing, {0, 0}, {1, 1});
        m_dialogs.clear();
        EXPECT_FALSE(drawing.LoadFromFile(path)) << c.name;
        EXPECT_EQ(drawing.CADObjectList.Count(), 1) << c.name;
        EXPECT_EQ(m_dialogs.texts(),
                  QStringList{QStringLiteral("Invalid file format: Object_2 (%1)").arg(QLatin1String(c.type))
                              + QString::fromUtf8(c.message)})
            << c.name;
    }
    // A full circle is one turn and loads.
    const QString path = scratch(QStringLiteral("circle.lal"));
    TCADOnPaintBox circle;
    TCADArc::Create(circle, TCoord{0, 0}, 1, 0, 2 * kPi);
    ASSERT_TRUE(circle.SaveToFile(path));
    TCADOnPaintBox back;
    EXPECT_TRUE(back.LoadFromFile(path));
}

TEST_F(DrawingFileTest, AnAbsurdObjectCountVisitsOnlyTheSectionsThatExist)
{
    const QString path = scratch(QStringLiteral("odd.lal"));
    writeText(path, "[General]\r\nDescription=VeduvAZU Drawing\r\nObjectCount=2000000000\r\n"
                    "[Object_1999999999]\r\nType=TCADArc\r\nRadius=1\r\nAngle=1\r\nEndAngle=1\r\n"
                    "[Object_5]\r\nType=TCADLine\r\nBeginX=1\r\n[Object_2000000001]\r\nType=TCADLine\r\n");
    TCADOnPaintBox drawing;
    ASSERT_TRUE(drawing.LoadFromFile(path));
    ASSERT_EQ(drawing.CADObjectList.Count(), 2);
    EXPECT_EQ(drawing.CADObjectList.GetCADObject(0).typeName(), "TCADLine"); // number order
    EXPECT_EQ(drawing.CADObjectList.GetCADObject(1).typeName(), "TCADArc");
}

// A drawing of as many strokes as a girdle carries is read; one more refuses the file with both
// numbers, and the drawing keeps what it held.
TEST_F(DrawingFileTest, ADrawingBeyondWhatAGirdleCarriesIsRefusedWhenRead)
{
    for (const int objects : {kMaxDrawingObjects, kMaxDrawingObjects + 1}) {
        SCOPED_TRACE(objects);
        QByteArray text = "[General]\r\nDescription=VeduvAZU Drawing\r\nObjectCount=" + QByteArray::number(objects) + "\r\n";
        for (int n = 1; n <= objects; ++n)
            text += "[Object_" + QByteArray::number(n) + "]\r\nType=TCADLine\r\nBeginX=" + QByteArray::number(n % 100)
                    + "\r\nBeginY=" + QByteArray::number(n / 100) + "\r\nEndX=" + QByteArray::number(n % 100)
                    + ".5\r\nEndY=" + QByteArray::number(n / 100) + "\r\n";
        const QString path = scratch(QStringLiteral("many.lal"));
        writeText(path, text);
        TCADOnPaintBox drawing;
        TCADLine::Create(drawing, TCoord{0, 0}, TCoord{1, 1});
        QString error;
        const bool loaded = drawing.LoadFromFile(path, &error);
        if (objects <= kMaxDrawingObjects) {
            EXPECT_TRUE(loaded) << error.toStdString();
            EXPECT_EQ(drawing.CADObjectList.Count(), objects + 1);
        } else {
            EXPECT_FALSE(loaded);
            EXPECT_EQ(error, QStringLiteral("The drawing holds %1 objects, more than the %2 a logo may hold (what a "
                                            "girdle can carry)")
                                 .arg(objects)
                                 .arg(kMaxDrawingObjects));
            EXPECT_EQ(drawing.CADObjectList.Count(), 1);
        }
    }
}

TEST_F(DrawingFileTest, FailedSaveKeepsTheOldFile)
{
    const QString path = scratch(QStringLiteral("keep.lal"));
    writeText(path, "old");
    TCADOnPaintBox drawing;
    QString error;
    EXPECT_FALSE(drawing.SaveToFile(scratch(QStringLiteral("missing/folder/x.lal")), &error));
    EXPECT_FALSE(error.isEmpty());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "old");
}

TEST(GetOutLineTest, SquareInAnyOrderChainsIntoOneClosedContour)
{
    TCADOnPaintBox drawing;
    // Four sides of the square (2,2)-(4,4), shuffled and partly reversed.
    TCADLine::Create(drawing, {4, 4}, {4, 2});
    TCADLine::Create(drawing, {2, 2}, {2, 4});
    TCADLine::Create(drawing, {2, 2}, {4, 2});
    TCADLine::Create(drawing, {2, 4}, {4, 4});
    TCADObject::Create(drawing); // no geometry: skipped
    TCADLine::Create(drawing, {100, 100}, {200, 200}).Surpressed = true;
    TCADLine::Create(drawing, {-100, 100}, {200, 200}).Visible = false;

    double width = -1;
    const TContourList contours = drawing.GetOutLine(width);
    EXPECT_DOUBLE_EQ(width, 1);
    ASSERT_EQ(contours.Count(), 1);
    const TContour& c = contours.GetContour(0);
    const std::vector<TVertex> expected{{1, 0.5}, {1, -0.5}, {0, -0.5}, {0, 0.5}, {1, 0.5}};
    EXPECT_EQ(c.vertices(), expected);
}

TEST(GetOutLineTest, OpenChainsArcsAndEmptyDrawings)
{
    ScopedContourResolution res(6);
    TCADOnPaintBox drawing;
    TCADArc::Create(drawing, TCoord{0, 0}, TCoord{2, 0}, -kPi); // upper semicircle, clockwise
    TCADLine::Create(drawing, {10, 0}, {2, 0});                  // joins at its P2, reversed
    TCADLine::Create(drawing, {20, 5}, {21, 5});                 // a separate piece
    double width = 0;
    const TContourList contours = drawing.GetOutLine(width);
    ASSERT_EQ(contours.Count(), 2);
    // Bounds (0,0)-(21,5): scale 1/5, y centred on 2.5.
    EXPECT_DOUBLE_EQ(width, 21.0 / 5);
    const TContour& first = contours.GetContour(0);
    ASSERT_EQ(first.Count(), 31 + 1);
    EXPECT_NEAR(first[0].X, 0, 1e-12);
    EXPECT_NEAR(first[0].Y, -0.5, 1e-12);
    EXPECT_NEAR(first[15].Y, (1 - 2.5) / 5, 1e-12); // the top of the arc
    EXPECT_NEAR(first[31].X, 2, 1e-12);
    EXPECT_EQ(contours.GetContour(1).Count(), 2);

    TCADOnPaintBox empty;
    width = 7;
    EXPECT_TRUE(empty.GetOutLine(width).isEmpty());
    EXPECT_EQ(width, 0);

    TCADOnPaintBox broken;
    TCADLine::Create(broken, {std::nan(""), 0}, {1, 1});
    TCADLine::Create(broken, {0, 0}, {1, 1});
    EXPECT_EQ(broken.GetOutLine(width).Count(), 2); // ends although a point is not a number
}

namespace {

// The chaining rule in its plainest form: rescan the list from its start after every join.
std::vector<std::vector<TVertex>> plainChains(const TCADOnPaintBox& drawing)
{
    std::vector<const TCADLine*> work;
    TCoord m1{1e300, 1e300}, m2{-1e300, -1e300};
    for (const auto& o : drawing.CADObjectList) {
        work.push_back(static_cast<const TCADLine*>(o.get()));
        o->ExtendBoundRect(m1, m2);
    }
    const double a = 1 / (m2.Y - m1.Y), e = 0.0001 / a, midY = (m1.Y + m2.Y) / 2;
    std::vector<std::vector<TVertex>> chains;
    while (!work.empty()) {
        std::vector<TVertex> chain;
        TCoord current = work.front()->P1;
        for (bool found = true; found;) {
            found = false;
            for (std::size_t i = 0; i < work.size() && !found; ++i) {
                const bool forward = CoordDistance(work[i]->P1, current) < e;
                if (!forward && !(CoordDistance(work[i]->P2, current) < e))
                    continue;
                const TContour pts = work[i]->Linearize(!forward);
                for (int k = 0; k + 1 < pts.Count(); ++k)
                    chain.push_back({a * (pts[k].X - m1.X), a * (pts[k].Y - midY)});
                current = forward ? work[i]->P2 : work[i]->P1;
                work.erase(work.begin() + std::ptrdiff_t(i));
                found = true;
            }
        }
        chain.push_back({a * (current.X - m1.X), a * (current.Y - midY)});
        chains.push_back(chain);
    }
    return chains;
}

} // namespace

TEST(GetOutLineTest, IndexedChainingFollowsThePlainRule)
{
    ScopedContourResolution res(10);
    std::mt19937 rng(12);
    std::uniform_int_distribution<int> grid(0, 6);
    // End points on a small grid (so that many objects share them), some nudged by less than
    // the join tolerance, in random order and direction.
    for (int round = 0; round < 20; ++round) {
        TCADOnPaintBox drawing;
        const double nudge = round % 2 ? 1e-5 : 0;
        for (int i = 0; i < 60; ++i) {
            const TCoord p{double(grid(rng)), double(grid(rng))};
            TCoord q{double(grid(rng)) + nudge, double(grid(rng))};
            if (q == p)
                q.X += 1;
            if (i % 5 == 0)
                TCADArc::Create(drawing, p, q, (i % 2 ? 1 : -1) * 1.2);
            else
                TCADLine::Create(drawing, p, q);
        }
        double width = 0;
        const TContourList contours = drawing.GetOutLine(width);
        const auto expected = plainChains(drawing);
        ASSERT_EQ(contours.Count(), int(expected.size())) << round;
        for (int c = 0; c < contours.Count(); ++c)
            EXPECT_EQ(contours.GetContour(c).vertices(), expected[std::size_t(c)]) << round << " " << c;
    }
}
