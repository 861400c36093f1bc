// The overlay painter and the video tick, from the station's state into a picture buffer.
#include "camerafixture.h"
#include "sim/dmcsimulator.h"

#include <QFile>

#include <functional>

#include <cmath>

namespace lapido {
namespace {

constexpr QRgb kGrey = 0xFF808080;

class VideoOverlayTest : public test::PictureFixture {};

TEST_F(VideoOverlayTest, GridSpacingFollowsScaleZoomAndPitch)
{
    const struct {
        int videoScale, aspect;
        bool zoomOut;
        double pitch;
        int columnStep, rowStep; // 0: no grid
    } cases[] = {
        {300, 100, true, 0.1, 15, 15},   // d = 150: columns 15 pixels apart
        {300, 100, true, 0.01, 0, 0},    // far more than 100 columns: none
        {300, 100, false, 0.5, 150, 150},
        {300, 50, false, 0.5, 150, 75},  // rows follow the aspect
        {100, 200, false, 0.1008, 10, 20}, // exactly 100 column steps: drawn
        {100, 200, false, 0.0998, 0, 0},   // 101 column steps: none
        {100, 100, false, 0.1008, 0, 0},   // 81 row steps: none
        {0, 100, false, 0.5, 0, 0},        // no scale, no division by zero
        {-300, 100, false, 0.5, 0, 0},
        {300, 100, false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.videoScale << " " << c.aspect << " " << c.zoomOut << " " << c.pitch);
        Settings().VideoScale = c.videoScale;
        Settings().VideoAspect = c.aspect;
        m_camera.UpdateVideoTransform(Settings(), c.zoomOut);
        const double d = m_camera.view().scale;
        const GridCrosses grid = overlayGrid(QPoint(0, 0), d, d * c.aspect / 100.0, c.pitch,
                                             QSize(kVideoBufferWidth, kVideoBufferHeight), QRect(-5000, -5000, 10000, 10000));
        if (c.columnStep == 0) {
            EXPECT_TRUE(grid.columns.empty());
            continue;
        }
        ASSERT_GE(grid.columns.size(), 2u);
        ASSERT_GE(grid.rows.size(), 2u);
        for (size_t i = 1; i < grid.columns.size(); ++i)
            EXPECT_NEAR(grid.columns[i] - grid.columns[i - 1], c.columnStep, 1);
        EXPECT_NEAR(grid.rows[1] - grid.rows[0], c.rowStep, 1);
    }
    // The one-pixel wheel step stays defined without a scale.
    Settings().VideoScale = 0;
    m_camera.UpdateVideoTransform(Settings(), false);
    EXPECT_EQ(Settings().WheelTick1_X, 1.0);
}

TEST_F(VideoOverlayTest, GridStaysInsideTheTravelBox)
{
    const GridCrosses grid = overlayGrid(QPoint(384, 288), 300, 300, 0.5, QSize(1008, 820), QRect(QPoint(234, -100), QPoint(700, 438)));
    EXPECT_EQ(grid.columns, (std::vector<int>{234, 384, 534, 684}));
    EXPECT_EQ(grid.rows, (std::vector<int>{138, 288, 438}));
}

TEST_F(VideoOverlayTest, MarkingHidesWhatWouldCoverTheStone)
{
    // Near the lower-left travel corner, focus below its travel: hatching, rings, grid and
    // girdle lines all show while aligning.
    standAt(1.5, 1.5, 0.5);
    const QPoint cross = m_camera.crossHair();
    const int girdleRow = m_camera.toPixel(0, GirdleHeight() / 2).y();
    const QPoint gridCross(cross.x() + 300, cross.y() - 150); // pitch 0.5 mm at 300 px/mm
    const QRgb girdle = stored(Settings().Girdle), gridColour = stored(Settings().Grid), crossColour = stored(Settings().CrossHair);
    const QRect ringArea(420, 150, 180, 100); // away from hatching, cross hair and grid

    for (bool marking : {false, true}) {
        SCOPED_TRACE(marking ? "marking" : "aligning");
        st().controls().down = marking ? TSpeedButton::Mark : TSpeedButton::Align;
        const QImage img = paintOverlay();
        // Left of the box (x < 234) vertical hatching at multiples of 16, below it (y > 438)
        // horizontal hatching.
        EXPECT_EQ(img.pixel(224, 100) == kGrey, !marking);
        EXPECT_EQ(img.pixel(600, 448) == kGrey, !marking);
        EXPECT_EQ(countColour(img, kGrey, ringArea) > 0, !marking);
        EXPECT_EQ(img.pixel(gridCross + QPoint(3, 0)) == gridColour, !marking);
        EXPECT_EQ(img.pixel(700, girdleRow) == girdle, !marking);
        // Box outline and cross hair stay.
        EXPECT_EQ(img.pixel(234, 300), kGrey);
        EXPECT_EQ(img.pixel(cross.x(), 20), crossColour);
        EXPECT_EQ(img.pixel(20, cross.y()), crossColour);
    }
}

TEST_F(VideoOverlayTest, FocusInsideItsTravelDrawsNoRings)
{
    standAt(15, 12.5, 12.5);
    st().ShowGrid = false;
    const QImage img = paintOverlay();
    EXPECT_EQ(countColour(img, kGrey, img.rect()), 0);
    EXPECT_EQ(countColour(img, stored(Settings().Grid), img.rect()), 0);
}

TEST_F(VideoOverlayTest, InspectingShowsTheTaughtGirdlePointsAndDebugShowsCamTicks)
{
    standAt(15, 12.5);
    st().ShowGrid = false;
    st().CuvatureLeft_X = -0.6;
    st().CuvatureRight_X = 0.4;
    st().Curvature_Start = 14.5;
    st().Curvature_Interval = 0.25;
    st().Curvature_Span = 1.0;
    const QRgb red = stored(Settings().CrossHair);
    const int H = kVideoBufferHeight;
    for (bool on : {false, true}) {
        SCOPED_TRACE(on ? "inspecting in debug mode" : "aligning");
        st().AIMState = on ? TAIMState::aimsInspecting : TAIMState::aimsAligning;
        setDebugMode(on);
        const QImage img = paintOverlay();
        for (double offset : {-0.6, 0.4}) {
            const int p = m_camera.toPixel(offset, 0).x();
            EXPECT_EQ(img.pixel(p, 3) == red, on) << offset;
            EXPECT_EQ(img.pixel(p, H - 4) == red, on) << offset;
        }
        // Cam positions 14.5 .. 15.5 every 0.25 mm: ticks 20 pixels long at both edges.
        for (int i = 0; i <= 4; ++i) {
            const int p = m_camera.toPixel(14.5 + i * 0.25 - 15, 0).x();
            if (p == m_camera.crossHair().x())
                continue;
            EXPECT_EQ(img.pixel(p, 15) == 0xFFFFFFFF, on) << i;
            EXPECT_EQ(img.pixel(p, H - 15) == 0xFFFFFFFF, on) << i;
            EXPECT_NE(img.pixel(p, 25), 0xFFFFFFFFu) << i;
        }
    }
}

TEST_F(VideoOverlayTest, LabelIsPaintedOnTheGirdleWhileAligningAndMarking)
{
    QFile file(test::testDataDir() + QStringLiteral("/../../examples/text-stroke.xml"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QString error;
    ASSERT_TRUE(st().XML2Tree(QString::fromUtf8(file.readAll()), &error)) << error.toStdString();
    setGirdleHeight(0.3);
    standAt(15, 12.5);
    st().ShowGrid = false;
    const QRgb outline = stored(Settings().Outline);
    const QPoint c = m_camera.crossHair();
    const int band = int(0.3 * 300 / 2);
    for (bool marking : {false, true}) {
        st().controls().down = marking ? TSpeedButton::Mark : TSpeedButton::Align;
        const QImage img = paintOverlay();
        // The whole label lies inside the girdle band, around the cross hair.
        const int inBand = countColour(img, outline, QRect(0, c.y() - band + 1, img.width(), 2 * band - 1));
        EXPECT_GT(inBand, 100) << marking;
        EXPECT_EQ(countColour(img, outline, img.rect()), inBand) << marking;
    }
}

// A window at rest copies the label's outlines instead of drawing every glyph at each tick; what
// it shows is what drawing them gives, and any change to what they show draws them anew.
TEST_F(VideoOverlayTest, AtRestTheLabelIsDrawnOnceAndRedrawnOnlyWhenItChanges)
{
    QFile file(test::testDataDir() + QStringLiteral("/../../examples/text-stroke.xml"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QString error;
    ASSERT_TRUE(st().XML2Tree(QString::fromUtf8(file.readAll()), &error)) << error.toStdString();
    setGirdleHeight(0.3);
    standAt(15, 12.5);
    TLabelLayer layer;
    const auto tick = [this](TLabelLayer* with) {
        QImage buffer(kVideoBufferWidth, kVideoBufferHeight, QImage::Format_RGB32);
        VideoTimerTick(buffer, nullptr, st(), m_camera, Settings(), buffer.size(), with);
        return buffer;
    };
    EXPECT_EQ(tick(&layer), tick(nullptr));
    EXPECT_EQ(tick(&layer), tick(nullptr));
    EXPECT_EQ(layer.drawCount(), 1) << "nothing changed between the ticks";

    TLabelTree& tree = st().TreeViewGlyphs();
    TTreeNode* character = tree.Root(0)->Item(0)->Item(1);
    ASSERT_NE(character->Data(), nullptr);
    const std::function<void()> changes[] = {
        [&] { tree.setSelected(character); },
        [&] { character->Data()->Processed = true; },
        [&] { st().AxisPosition_X = 15.05; },
        [&] { st().EditFloatChange(TEditBox::EditSlant, QStringLiteral("3")); },
        [&] { setGirdleHeight(0.25); },
    };
    int draws = layer.drawCount();
    for (const auto& change : changes) {
        change();
        EXPECT_EQ(tick(&layer), tick(nullptr));
        EXPECT_EQ(layer.drawCount(), ++draws);
        tick(&layer);
        EXPECT_EQ(layer.drawCount(), draws);
    }
}

// The preview's marks at rest are copied, not placed again; what they show is what placing them
// gives, and new marks or a moved table or camera place them anew.
TEST_F(VideoOverlayTest, AtRestThePreviewMarksArePlacedOnceAndAgainOnlyWhenTheyMove)
{
    standAt(15, 12.5);
    std::vector<LaserMark> marks;
    for (int i = 0; i < 400; ++i)
        marks.push_back(LaserMark{14.9 + 0.0005 * i, 12.5 + 0.03 * std::sin(i * 0.1), 12.5, i});
    std::uint64_t revision = 1;
    TMarksLayer layer;
    const auto paint = [&](TMarksLayer* with) {
        QImage buffer(kVideoBufferWidth, kVideoBufferHeight, QImage::Format_RGB32);
        buffer.fill(Qt::darkGray);
        PaintPreviewMarks(buffer, marks, st(), m_camera, with, revision);
        return buffer;
    };
    const QImage direct = paint(nullptr);
    int dots = 0;
    for (int y = 0; y < direct.height(); ++y)
        for (int x = 0; x < direct.width(); ++x)
            dots += direct.pixel(x, y) == kPreviewMarkColor;
    ASSERT_GT(dots, 100) << "the marks are not in the picture";
    EXPECT_EQ(paint(&layer), direct);
    EXPECT_EQ(paint(&layer), direct);
    EXPECT_EQ(layer.drawCount(), 1) << "nothing moved between the ticks";

    const std::function<void()> changes[] = {
        [&] { marks.resize(200); ++revision; },
        [&] { st().AxisPosition_X = 14.95; },
        [&] { st().AxisPosition_Y = 12.52; },
        [&] { m_camera.UpdateVideoTransform(Settings(), true); },
    };
    int draws = layer.drawCount();
    for (const auto& change : changes) {
        change();
        EXPECT_EQ(paint(&layer), paint(nullptr));
        EXPECT_EQ(layer.drawCount(), ++draws);
        paint(&layer);
        EXPECT_EQ(layer.drawCount(), draws);
    }
}

TEST_F(VideoOverlayTest, TickWithoutCameraIsTheGreyFieldWithOrWithoutOverlay)
{
    standAt(15, 12.5);
    QImage buffer(kVideoBufferWidth, kVideoBufferHeight, QImage::Format_RGB32);
    buffer.fill(Qt::blue);
    st().ShowOverlay = false;
    const QPoint offset = VideoTimerTick(buffer, nullptr, st(), m_camera, Settings(), QSize(900, 800));
    EXPECT_EQ(offset, QPoint(54, 10));
    EXPECT_EQ(countColour(buffer, 0xFF383838, buffer.rect()), buffer.width() * buffer.height());
    st().ShowOverlay = true;
    VideoTimerTick(buffer, nullptr, st(), m_camera, Settings());
    EXPECT_EQ(buffer.pixel(m_camera.crossHair().x(), 5), stored(Settings().CrossHair));
}

} // namespace
} // namespace lapido

namespace lapido {
namespace {

class DegenerateVideoSettings : public test::PictureFixture {};

// Stored values that make no picture sense still give a picture: cross hair, no grid, no crash.
TEST_F(DegenerateVideoSettings, PaintWithoutDividingByZero)
{
    QFile file(test::testDataDir() + QStringLiteral("/../../examples/text-stroke.xml"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    ASSERT_TRUE(st().XML2Tree(QString::fromUtf8(file.readAll())));
    const struct {
        int videoScale, aspect;
        double pitch;
        bool zoomOut;
    } cases[] = {
        {0, 100, 0.5, false}, {-300, 100, 0.5, false}, {1, 100, 0.5, true}, {300, 0, 0.5, false},
        {300, -100, 0.5, false}, {300, 100, -1, false}, {300, 100, std::nan(""), false},
    };
    standAt(15, 12.5, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.videoScale << " " << c.aspect << " " << c.pitch);
        Settings().VideoScale = c.videoScale;
        Settings().VideoAspect = c.aspect;
        st().GridPitch = c.pitch;
        m_camera.UpdateVideoTransform(Settings(), c.zoomOut);
        const QImage img = paintOverlay();
        EXPECT_EQ(img.pixel(m_camera.crossHair().x(), 2), stored(Settings().CrossHair));
        EXPECT_EQ(countColour(img, stored(Settings().Grid), img.rect()), 0);
    }
}

} // namespace
} // namespace lapido
