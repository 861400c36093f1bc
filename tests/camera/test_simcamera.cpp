// The simulated camera: it films the stone under the table at the overlay's scale, with the
// girdle band and every mark, and the picture agrees with the overlay.
#include "camera/simcamera.h"
#include "camera/ueye.h"
#include "sim/dmcsimulator.h"

#include "camerafixture.h"

#include <QFile>

namespace lapido {
namespace {

class SimulatedCameraTest : public test::PictureFixture {
protected:
    // One frame of a freshly opened simulated camera, copied into the station's picture.
    QImage film(const SimulatedCameraOptions& options, bool halfSize = false)
    {
        ScopedSimulatedCamera scoped(options);
        TuEye cam(UEyeLibrary::simulated());
        EXPECT_TRUE(cam.IsPresent());
        QImage picture(kVideoBufferWidth, kVideoBufferHeight, QImage::Format_RGB32);
        cam.Draw(picture, halfSize);
        return picture;
    }
    static double rowBrightness(const QImage& img, int y, int x0, int x1)
    {
        double sum = 0;
        for (int x = x0; x < x1; ++x)
            sum += qGray(img.pixel(x, y));
        return sum / (x1 - x0);
    }
    static SimulatedCameraOptions atStartUp()
    {
        SimulatedCameraOptions o;
        o.tableMm = TCoord{15, 12.5}; // the start-up position: girdle centre under the cross hair
        return o;
    }
};

TEST_F(SimulatedCameraTest, GirdleBandLiesUnderTheOverlaysGirdleLines)
{
    for (bool zoomOut : {false, true}) {
        SCOPED_TRACE(zoomOut ? "zoomed out" : "full size");
        m_camera.UpdateVideoTransform(Settings(), zoomOut);
        const QImage img = film(atStartUp(), zoomOut);
        const QPoint c = m_camera.crossHair();
        const int halfBand = m_camera.toPixel(0, -GirdleHeight() / 2).y() - c.y();
        ASSERT_GT(halfBand, 5);
        const double inside = rowBrightness(img, c.y(), 100, 900);
        const double above = rowBrightness(img, c.y() - halfBand - 10, 100, 900);
        const double below = rowBrightness(img, c.y() + halfBand + 10, 100, 900);
        EXPECT_GT(inside, above + 30);
        EXPECT_GT(inside, below + 30);
        // The band's dark edges sit on the overlay's girdle lines.
        EXPECT_LT(rowBrightness(img, c.y() + halfBand, 100, 900), above);
        EXPECT_LT(rowBrightness(img, c.y() - halfBand, 100, 900), above);
    }
}

TEST_F(SimulatedCameraTest, PictureMovesWithTheTableAndShowsEveryMark)
{
    SimulatedCameraOptions at = atStartUp();
    const QImage still = film(at);
    at.tableMm->X += 0.1; // 30 pixels at 300 px/mm: the stone moves left
    const QImage moved = film(at);
    int differing = 0;
    for (int y = 0; y < still.height(); y += 7)
        for (int x = 0; x + 30 < still.width(); x += 5)
            differing += moved.pixel(x, y) != still.pixel(x + 30, y);
    EXPECT_EQ(differing, 0);
    EXPECT_NE(moved, still); // the surface has a texture to see the motion by

    // A mark 0.1 mm right of the cross hair and one of an earlier run 0.05 mm above it.
    ScopedDmcSimulator controller;
    ASSERT_TRUE(controller->execute("DP 15000,12500"));
    SimulatedCameraOptions marked;
    marked.extraMarks = {LaserMark{15.1, 12.5, 12.5, 0, LaserMarkKind::Pulse},
                         LaserMark{15.0, 12.55, 12.5, 0, LaserMarkKind::Pulse}};
    const QImage img = film(marked);
    const QPoint c = m_camera.crossHair();
    EXPECT_LT(qGray(img.pixel(c.x() + 30, c.y())), 40);
    EXPECT_LT(qGray(img.pixel(c.x(), c.y() - 15)), 40);
    EXPECT_GT(qGray(img.pixel(c.x() + 15, c.y())), 100);
    // Without the marks the simulated controller's position gives the same picture as the
    // explicit start-up position.
    marked.extraMarks.clear();
    EXPECT_EQ(film(marked), still);
}

// Every depth the camera may hand over carries the overlay in its colours; a monochrome frame
// is turned into colour for it.
TEST_F(SimulatedCameraTest, OverlayKeepsItsColoursAtEveryDepth)
{
    const struct {
        int bits;
        bool monochrome;
        QImage::Format withOverlay, without;
    } cases[] = {
        {8, true, QImage::Format_RGB32, QImage::Format_Grayscale8},
        {15, false, QImage::Format_RGB555, QImage::Format_RGB555},
        {16, false, QImage::Format_RGB16, QImage::Format_RGB16},
        {24, false, QImage::Format_BGR888, QImage::Format_BGR888},
        {32, false, QImage::Format_RGB32, QImage::Format_RGB32},
    };
    standAt(15, 12.5);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        SimulatedCameraOptions o = atStartUp();
        o.bitsPerPixel = c.bits;
        o.monochrome = c.monochrome;
        ScopedSimulatedCamera scoped(o);
        TuEye cam(UEyeLibrary::simulated());
        QImage buffer(kVideoBufferWidth, kVideoBufferHeight, QImage::Format_RGB32);
        st().ShowOverlay = true;
        VideoTimerTick(buffer, &cam, st(), m_camera, Settings());
        EXPECT_EQ(buffer.format(), c.withOverlay);
        EXPECT_EQ(buffer.pixel(m_camera.crossHair().x(), 5), stored(Settings().CrossHair));
        EXPECT_GT(qGray(buffer.pixel(700, m_camera.crossHair().y() + 3)), 120); // the girdle band
        st().ShowOverlay = false;
        VideoTimerTick(buffer, &cam, st(), m_camera, Settings());
        EXPECT_EQ(buffer.format(), c.without);
    }
}

TEST_F(SimulatedCameraTest, SimulatedFaultsBehaveAsAMissingCamera)
{
    for (int fault = 0; fault < 3; ++fault) {
        SimulatedCameraOptions o = atStartUp();
        o.initFails = fault == 0;
        o.configureFails = fault == 1;
        o.bitsPerPixel = fault == 2 ? 12 : 32;
        ScopedSimulatedCamera scoped(o);
        TuEye cam(UEyeLibrary::simulated());
        EXPECT_EQ(cam.IsPresent(), fault == 2);
        QImage buffer(kVideoBufferWidth, kVideoBufferHeight, QImage::Format_RGB32);
        VideoTimerTick(buffer, &cam, st(), m_camera, Settings());
        EXPECT_EQ(buffer.pixel(700, 700), kVideoBackground) << fault;
    }
}

TEST_F(SimulatedCameraTest, MarksOfAnEarlierRunAreReadBackFromTheirCsv)
{
    const struct {
        const char* text;
        int count; // -1: refused
    } cases[] = {
        {"x_mm,y_mm,z_mm,time_us,kind\n15.1,12.5,12.4,10,pulse\n15.2,12.6,12.4,20,gated\n", 2},
        {"x_mm,y_mm,z_mm,time_us,kind\n", 0},
        {"x_mm,y_mm,z_mm,time_us,kind\n15.1,abc,1,0,pulse\n", -1},
        {"x,y\n1,2\n", -1},
        {"", -1},
    };
    for (const auto& c : cases) {
        const QString path = scratch(QStringLiteral("marks.csv"));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(c.text);
        f.close();
        QString error;
        const auto marks = readMarksCsv(path, &error);
        ASSERT_EQ(marks.has_value(), c.count >= 0) << c.text;
        if (marks) {
            ASSERT_EQ(int(marks->size()), c.count);
            if (c.count == 2) {
                EXPECT_EQ((*marks)[1], (LaserMark{15.2, 12.6, 12.4, 20, LaserMarkKind::Gated}));
            }
        } else {
            EXPECT_FALSE(error.isEmpty());
        }
    }
}

} // namespace
} // namespace lapido

namespace lapido {
namespace {

class SimulatedCameraLive : public test::PictureFixture {};

// Pulses fired by the simulated controller appear in the next frame, as they do while marking.
TEST_F(SimulatedCameraLive, MarksOfTheSimulatedControllerAppearInTheNextFrame)
{
    ScopedDmcSimulator controller(&m_clock);
    for (const char* line : {"DP 15000,12500", "SB1", "SB2", "SB3"})
        ASSERT_TRUE(controller->execute(line)) << line;
    ScopedSimulatedCamera scene(SimulatedCameraOptions{});
    TuEye cam(UEyeLibrary::simulated());
    QImage picture(kVideoBufferWidth, kVideoBufferHeight, QImage::Format_RGB32);
    cam.Draw(picture, false); // the frame filmed when the camera opened: nothing marked yet
    const QPoint c = m_camera.crossHair();
    EXPECT_GT(qGray(picture.pixel(c)), 100);

    for (const char* line : {"SPD=1000", "PRD=20", "BGD"})
        ASSERT_TRUE(controller->execute(line)) << line;
    m_clock.sleepMs(200);
    controller->advanceToNow();
    ASSERT_GT(controller->markCount(), 0u);
    cam.Draw(picture, false); // shows the frame requested before the pulses
    cam.Draw(picture, false);
    EXPECT_LT(qGray(picture.pixel(c)), 40);
}

} // namespace
} // namespace lapido
