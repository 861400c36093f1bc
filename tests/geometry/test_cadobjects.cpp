// Drawing objects: arc construction, bounds, linearisation, painting and picking.
#include "geometry/cadonpaintbox.h"

#include "geometrytestutil.h"
#include "platform/numfmt.h"

#include <QImage>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace lapido;
using lapido::test::ScopedContourResolution;

namespace {

constexpr double kPi = std::numbers::pi;

void expectNear(const TCoord& a, const TCoord& b, double tol = 1e-12)
{
    EXPECT_NEAR(a.X, b.X, tol);
    EXPECT_NEAR(a.Y, b.Y, tol);
}

TCoord bounds1(const TCADLine& o)
{
    TCoord b1, b2;
    o.GetBoundRect(b1, b2);
    return b1;
}

TCoord bounds2(const TCADLine& o)
{
    TCoord b1, b2;
    o.GetBoundRect(b1, b2);
    return b2;
}

// A paint box of a fixed size that keeps the last picture.
class ImageBox : public PaintBox {
public:
    explicit ImageBox(QSize size) : m_size(size) {}
    QSize clientSize() const override { return m_size; }
    void showBitmap(const QImage& bitmap) override { last = bitmap; ++shown; }
    QImage last;
    int shown = 0;

private:
    QSize m_size;
};

// A paint device that records the polylines drawn on it (point counts and first points).
class RecordingEngine : public QPaintEngine {
public:
    RecordingEngine() : QPaintEngine(AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    Type type() const override { return User; }
    void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override
    {
        if (mode == PolylineMode)
            polylines.push_back(std::vector<QPointF>(points, points + count));
    }
    void drawPolygon(const QPoint* points, int count, PolygonDrawMode mode) override
    {
        if (mode == PolylineMode)
            polylines.push_back(std::vector<QPointF>(points, points + count));
    }
    std::vector<std::vector<QPointF>> polylines;
};

class RecordingDevice : public QPaintDevice {
public:
    QPaintEngine* paintEngine() const override { return &engine; }
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmWidth:
        case PdmHeight:
            return 200;
        case PdmDepth:
            return 32;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        default:
            return 1;
        }
    }
    mutable RecordingEngine engine;
};

} // namespace

TEST(TCADArcTest, PaintedAsThreeDegreeChords)
{
    struct Case {
        double a1, a2;
        std::size_t chords;
    };
    const Case cases[] = {{0, 2 * kPi, 120}, {0, kPi / 2, 30}, {0, 0.01, 1}};
    for (const auto& c : cases) {
        TCADOnPaintBox drawing;
        drawing.XYTFW2S.SetScale(50, -50);
        drawing.XYTFW2S.SetOutTranslation(100, 100);
        auto& arc = TCADArc::Create(drawing, TCoord{0, 0}, 1.0, c.a1, c.a2);
        RecordingDevice device;
        {
            QPainter painter(&device);
            arc.Paint(painter);
        }
        ASSERT_EQ(device.engine.polylines.size(), 1u);
        const auto& points = device.engine.polylines.front();
        EXPECT_EQ(points.size(), c.chords + 1) << c.a2;
        EXPECT_EQ(points.front(), QPointF(150, 100));
        const TPoint end = drawing.XYTFW2S.TransFormCoord(arc.P2);
        EXPECT_EQ(points.back(), QPointF(end)) << c.a2;
    }
}

TEST(TCADArcTest, SemicircleFromTwoPoints)
{
    ScopedContourResolution res(6);
    TCADArc arc(nullptr, {1, 0}, {-1, 0}, kPi);
    expectNear(arc.Pc, {0, 0});
    EXPECT_NEAR(arc.R, 1, 1e-12);
    EXPECT_NEAR(arc.A1, 0, 1e-12);
    EXPECT_NEAR(arc.A2, kPi, 1e-12);
    expectNear(bounds1(arc), {-1, 0});
    expectNear(bounds2(arc), {1, 1});

    const TContour forward = arc.Linearize(false);
    ASSERT_EQ(forward.Count(), 31);
    expectNear({forward[0].X, forward[0].Y}, {1, 0});
    expectNear({forward[30].X, forward[30].Y}, {-1, 0});
    const TContour back = arc.Linearize(true);
    expectNear({back[0].X, back[0].Y}, {-1, 0});
    for (int i = 0; i < 31; ++i)
        EXPECT_NEAR(std::hypot(forward[i].X, forward[i].Y), 1, 1e-12);

    // A negative angle turns clockwise: the same chord bulges downwards.
    TCADArc cw(nullptr, {1, 0}, {-1, 0}, -kPi);
    expectNear(bounds1(cw), {-1, -1});
    expectNear(bounds2(cw), {1, 0});
}

TEST(TCADArcTest, CentreFormNormalisesAngles)
{
    struct Case {
        double a1, a2;
        double expectA, expectA1;
    };
    const Case cases[] = {
        {0, 2 * kPi, 2 * kPi, 0},          // full circle starting and ending at angle 0
        {kPi / 2, 0, 3 * kPi / 2, kPi / 2}, // 90 deg to 0 deg runs counter-clockwise 270 deg
        {3 * kPi / 2, 2 * kPi, kPi / 2, -kPi / 2},
    };
    for (const auto& c : cases) {
        TCADArc arc(nullptr, {1, 1}, 2, c.a1, c.a2);
        EXPECT_NEAR(arc.A, c.expectA, 1e-12) << c.a1;
        EXPECT_NEAR(arc.A1, c.expectA1, 1e-12) << c.a1;
        EXPECT_NEAR(arc.A2, arc.A1 + arc.A, 0) << c.a1;
        expectNear(arc.P1, {1 + 2 * std::cos(c.a1), 1 + 2 * std::sin(c.a1)});
        expectNear(arc.P2, {1 + 2 * std::cos(c.a2), 1 + 2 * std::sin(c.a2)});
    }
    TCADArc circle(nullptr, {1, 1}, 2, 0, 2 * kPi);
    expectNear(circle.P1, {3, 1});
    expectNear(circle.P2, {3, 1});
    expectNear(bounds1(circle), {-1, -1});
    expectNear(bounds2(circle), {3, 3});
}

TEST(TCADDrawingTest, ZoomAllFitsTheLimitingDimension)
{
    ImageBox box({400, 400});
    TCADOnPaintBox drawing(&box);
    drawing.ZoomAll();
    EXPECT_EQ(drawing.XYTFW2S.S1, 1);
    EXPECT_EQ(drawing.XYTFW2S.S2, -1);

    TCADLine::Create(drawing, {-3, 1}, {7, 3}); // 10 wide, 2 high
    drawing.ZoomAll();
    EXPECT_DOUBLE_EQ(drawing.XYTFW2S.S1, 36);
    EXPECT_DOUBLE_EQ(drawing.XYTFW2S.S2, -36);
    EXPECT_EQ(drawing.XYTFW2S.Oin1, -2);
    EXPECT_EQ(drawing.XYTFW2S.Oin2, -2);
    EXPECT_EQ(drawing.XYTFW2S.TransFormCoord({2, 2}), TPoint(200, 200)); // centred
    EXPECT_GE(box.shown, 2);

    // A drawing of one point has nothing to fit: the scale stays finite.
    TCADOnPaintBox point(&box);
    TCADLine::Create(point, {5, 5}, {5, 5});
    point.ZoomAll();
    EXPECT_EQ(point.XYTFW2S.S1, 1);
    EXPECT_EQ(point.XYTFW2S.TransFormCoord({5, 5}), TPoint(200, 200));
}

TEST(TCADDrawingTest, PaintShowsAxesAndObjects)
{
    ImageBox box({100, 80});
    TCADOnPaintBox drawing(&box);
    drawing.XYTFW2S.SetScale(10, -10);
    auto& line = TCADLine::Create(drawing, {-4, 2}, {4, 2});
    auto& arc = TCADArc::Create(drawing, TCoord{0, 0}, 3.0, 0.0, 2 * kPi);
    arc.Surpressed = true;
    drawing.CADObjectSelected = &line;
    drawing.Paint();
    ASSERT_EQ(box.last.size(), QSize(100, 80));
    EXPECT_EQ(box.last.pixelColor(5, 5), QColor(Qt::white));
    EXPECT_EQ(box.last.pixelColor(50, 5), QColor(0xC0, 0xC0, 0xC0)); // vertical axis
    EXPECT_EQ(box.last.pixelColor(5, 40), QColor(0xC0, 0xC0, 0xC0)); // horizontal axis
    EXPECT_EQ(box.last.pixelColor(20, 20), QColor(255, 0, 0));       // the selected line
    // The dotted circle leaves gaps: some of its pixels are black, some not.
    int black = 0, other = 0;
    for (int k = 0; k < 360; ++k) {
        const TPoint p = drawing.XYTFW2S.TransFormCoord({3 * std::cos(k * kPi / 180), 3 * std::sin(k * kPi / 180)});
        (box.last.pixelColor(p) == QColor(Qt::black) ? black : other)++;
    }
    EXPECT_GT(black, 30);
    EXPECT_GT(other, 30);

    arc.Visible = false;
    drawing.Paint();
    const TPoint onCircle = drawing.XYTFW2S.TransFormCoord({0, -3});
    EXPECT_EQ(box.last.pixelColor(onCircle.x() + 1, onCircle.y()), QColor(Qt::white)); // not drawn
    TCADOnPaintBox headless;
    headless.Paint(); // nothing to paint on: no effect
}

TEST(TCADDrawingTest, ClickPicksTheNearestObjectWithinFourPixels)
{
    ImageBox box({200, 200});
    TCADOnPaintBox drawing(&box);
    drawing.Paint(); // screen origin at (100, 100), one pixel per unit, Y up
    auto& low = TCADLine::Create(drawing, {-50, 0}, {50, 0});   // screen y = 100
    auto& high = TCADLine::Create(drawing, {-50, 6}, {50, 6});  // screen y = 94
    auto& steep = TCADLine::Create(drawing, {60, -50}, {60, 50}); // screen x = 160
    auto& arc = TCADArc::Create(drawing, TCoord{0, 0}, 40.0, 0.0, kPi); // upper half

    struct Case {
        int x, y;
        TCADObject* expected;
    };
    const Case cases[] = {
        {130, 98, &low},     // 2 px from low, 4 from high
        {130, 96, &high},    // 4 px from low, 2 from high
        {130, 105, nullptr}, // 5 px from the nearest
        {163, 120, &steep},
        {165, 120, nullptr},
        {100, 57, &arc},    // 3 px outside the top of the arc
        {100, 143, nullptr}, // the lower half is not part of the arc
        {400, 100, nullptr}, // beyond the lines' ends
    };
    for (const auto& c : cases) {
        drawing.PaintBoxMouseDown(Qt::LeftButton, {}, c.x, c.y);
        EXPECT_EQ(drawing.CADObjectSelected, c.expected) << c.x << "," << c.y;
    }
    high.Visible = false;
    drawing.PaintBoxMouseDown(Qt::LeftButton, {}, 130, 96);
    EXPECT_EQ(drawing.CADObjectSelected, &low);
}

TEST(TCADDrawingTest, MouseMovesPanZoomAndReport)
{
    QStringList status;
    ImageBox box({200, 200});
    TCADOnPaintBox drawing(&box, [&](const QString& t) { status << t; });
    drawing.Paint();
    drawing.PaintBoxMouseMove({}, {}, 110, 90);
    const QString sep = decimalSeparator();
    EXPECT_EQ(status.last(), "Coordinates : (10" + sep + "000,10" + sep + "000)");

    drawing.PaintBoxMouseMove(Qt::RightButton, {}, 130, 80); // drag by (20, -10) pixels
    EXPECT_EQ(drawing.XYTFW2S.Oin1, 20);
    EXPECT_EQ(drawing.XYTFW2S.Oin2, 10);
    EXPECT_EQ(status.last(), "Origin : (20" + sep + "000,10" + sep + "000)");
    EXPECT_EQ(drawing.XYTFW2S.TransFormCoord({-10, -10}), TPoint(110, 100));

    drawing.PaintBoxMouseMove(Qt::MiddleButton, Qt::ShiftModifier, 130, 70); // up: zoom in
    EXPECT_DOUBLE_EQ(drawing.XYTFW2S.S1, 1.1);
    EXPECT_DOUBLE_EQ(drawing.XYTFW2S.S2, -1.1);
    EXPECT_EQ(status.last(), "Scale : 1" + sep + "1");
    drawing.PaintBoxMouseMove(Qt::RightButton, Qt::ShiftModifier, 130, 75); // down: zoom out
    EXPECT_DOUBLE_EQ(drawing.XYTFW2S.S1, 1.0);
    EXPECT_EQ(drawing.LastMouseY, 75);
}
