// GStreamer pipelines as the station's camera, against real videotestsrc pipelines: frames in every
// depth checked pixel by pixel, colour balance, snapshots, pipelines that fail to start and one
// that ends while the picture runs.
#include "camera/camerachoice.h"
#include "camera/gstcamera.h"
#include "camera/ueye.h"

#include "camerafixture.h"

#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QThread>

#include <gtest/gtest.h>

namespace lapido {
namespace {

class GstCameraTest : public test::CameraRecordsFixture {
protected:
    std::unique_ptr<TuEye> openPipeline(const QString& pipeline)
    {
        auto lib = UEyeLibrary::fromSource(makeGstCameraSource(pipeline));
        m_lib = lib.get();
        return std::make_unique<TuEye>(std::move(lib));
    }
    // Draws until the picture meets the condition (a pipeline runs in its own time); false when it
    // never does within a generous bound.
    template <typename Pred>
    static bool drawUntil(TuEye& cam, QImage& picture, Pred pred)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 20000) {
            cam.Draw(picture, false);
            if (pred(picture))
                return true;
            QThread::msleep(5);
        }
        return false;
    }
    static int channelDistance(QRgb a, QRgb b)
    {
        return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
    }
    const UEyeLibrary* m_lib = nullptr;
};

TEST_F(GstCameraTest, DescriptionWithoutAppsinkGetsConverterAndSink)
{
    EXPECT_EQ(gstPipelineWithSink(QStringLiteral(" v4l2src device=/dev/video0 ")),
              QStringLiteral("v4l2src device=/dev/video0 ! videoconvert ! appsink"));
    const QString own = QStringLiteral("videotestsrc ! videoconvert ! appsink name=s");
    EXPECT_EQ(gstPipelineWithSink(own), own);
    // An element whose name merely contains the word is not an appsink.
    EXPECT_EQ(gstPipelineWithSink(QStringLiteral("myappsinkish")), QStringLiteral("myappsinkish ! videoconvert ! appsink"));
}

struct FormatCase {
    const char* name;
    const char* caps;
    int width, height;
    int bits;         // 0: whatever the converter chooses
    int tolerance;    // per channel, for the formats with fewer bits
};

class GstFrameFormats : public GstCameraTest, public ::testing::WithParamInterface<FormatCase> {};

// A solid colour reaches the picture in the depth asked for, every pixel of it, at the frame's size.
TEST_P(GstFrameFormats, SolidColourArrivesInEveryPixel)
{
    const FormatCase& c = GetParam();
    const bool grey = c.bits == 8;
    // Grey for the grey frame, where a colour would turn into its luma.
    const QRgb colour = grey ? qRgb(0x80, 0x80, 0x80) : qRgb(0x20, 0x40, 0x80);
    auto cam = openPipeline(QStringLiteral("videotestsrc pattern=solid-color foreground-color=0x%1 ! video/x-raw,%2,width=%3,height=%4")
                                .arg(colour, 8, 16, QLatin1Char('0'))
                                .arg(QString::fromLatin1(c.caps))
                                .arg(c.width)
                                .arg(c.height));
    ASSERT_TRUE(cam->IsPresent()) << m_lib->lastError().toStdString();
    EXPECT_EQ(cam->fMaxWidth, c.width);
    EXPECT_EQ(cam->fMaxHeight, c.height);
    if (c.bits) {
        EXPECT_EQ(cam->BitsPerPixel, c.bits);
    }
    EXPECT_EQ(cam->SensorInfo.nColorMode == ueye::kColorModeMonochrome, grey);
    QImage picture(c.width, c.height, QImage::Format_RGB32);
    ASSERT_TRUE(cam->Draw(picture, false));
    EXPECT_EQ(picture.format(), videoFormatForBits(cam->BitsPerPixel));
    int wrong = 0;
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            wrong += channelDistance(picture.pixel(x, y), colour) > c.tolerance;
    EXPECT_EQ(wrong, 0) << "pixel (0,0) is " << std::hex << picture.pixel(0, 0);
    EXPECT_TRUE(cameraRecords().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Depths, GstFrameFormats,
                         ::testing::Values(FormatCase{"bgrx", "format=BGRx", 64, 48, 32, 0},
                                           // 101 pixels of 3 bytes: GStreamer pads each line, so
                                           // its stride is not the picture memory's line
                                           FormatCase{"bgr_odd_width", "format=BGR", 101, 37, 24, 0},
                                           FormatCase{"rgb16", "format=RGB16", 101, 37, 16, 4},
                                           FormatCase{"rgb15", "format=RGB15", 64, 48, 15, 8},
                                           FormatCase{"gray8", "format=GRAY8", 64, 48, 8, 3},
                                           // A format the picture does not take goes through the
                                           // converter appended to the pipeline.
                                           FormatCase{"i420_converted", "format=I420", 64, 48, 0, 6}),
                         [](const auto& info) { return std::string(info.param.name); });

// A pattern with structure, checked pixel by pixel: 8-pixel checkers of two colours, from the
// first pixel on, in a frame larger than the picture (cropped evenly) and halved in zoom-out.
TEST_F(GstCameraTest, CheckersLandWherePatternPutsThem)
{
    auto cam = openPipeline(QStringLiteral("videotestsrc pattern=checkers-8 ! video/x-raw,format=BGRx,width=160,height=120"));
    ASSERT_TRUE(cam->IsPresent()) << m_lib->lastError().toStdString();
    QImage frame(160, 120, QImage::Format_RGB32);
    ASSERT_TRUE(cam->Draw(frame, false));
    const QRgb a = frame.pixel(0, 0), b = frame.pixel(8, 0);
    ASSERT_NE(a, b);
    auto expected = [&](int x, int y) { return ((x / 8) + (y / 8)) % 2 == 0 ? a : b; };
    int wrong = 0;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x)
            wrong += frame.pixel(x, y) != expected(x, y);
    EXPECT_EQ(wrong, 0);

    // A 100 x 50 picture shows the frame's middle: frame pixel (30 + x, 35 + y).
    QImage cropped(100, 50, QImage::Format_RGB32);
    ASSERT_TRUE(cam->Draw(cropped, false));
    wrong = 0;
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x)
            wrong += cropped.pixel(x, y) != expected(30 + x, 35 + y);
    EXPECT_EQ(wrong, 0);

    // Halved: every second pixel of every second line, centred in a 100 x 80 picture.
    QImage half(100, 80, QImage::Format_RGB32);
    ASSERT_TRUE(cam->Draw(half, true));
    wrong = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 80; ++x)
            wrong += half.pixel(10 + x, 10 + y) != expected(2 * x, 2 * y);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(half.pixel(5, 5), kVideoBackground);
}

TEST_F(GstCameraTest, PipelinesThatCannotStartSayWhy)
{
    const struct {
        const char* pipeline;
        const char* reason; // a part of the reason given
    } cases[] = {
        {"nosuchelement ! fakesink", "nosuchelement"},
        {"", "no pipeline"},
        {"videotestsrc num-buffers=0", "ended before its first frame"},
        // Its own appsink, no converter: a format the picture does not take cannot be negotiated.
        {"videotestsrc ! video/x-raw,format=I420 ! appsink", "not-negotiated"},
        // A sink of its own other than an appsink leaves nothing to link the appended one to.
        {"videotestsrc ! fakesink", "could not link fakesink"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pipeline);
        clearCameraRecords();
        auto cam = openPipeline(QString::fromLatin1(c.pipeline));
        EXPECT_FALSE(cam->IsPresent());
        EXPECT_TRUE(m_lib->lastError().contains(QLatin1String(c.reason))) << m_lib->lastError().toStdString();
        QStringList values;
        EXPECT_EQ(cameraRecords(&values), QStringList{QStringLiteral("is_InitCamera failed")});
        EXPECT_TRUE(values.value(0).contains(QLatin1String(c.reason))) << values.value(0).toStdString();
        // Nothing to show, nothing to save; the picture stays as the tick leaves it.
        QImage picture(32, 24, QImage::Format_RGB32);
        picture.fill(kVideoBackground);
        EXPECT_TRUE(cam->Draw(picture, false));
        EXPECT_FALSE(cam->SaveToFile(scratch(QStringLiteral("never.jpg"))));
    }
}

// The end of the stream mid-run is the lost camera: one record, the grey field from then on.
TEST_F(GstCameraTest, PipelineEndingMidRunIsTheLostCamera)
{
    auto cam = openPipeline(QStringLiteral("videotestsrc num-buffers=8 pattern=white ! video/x-raw,format=BGRx,width=32,height=24"));
    ASSERT_TRUE(cam->IsPresent()) << m_lib->lastError().toStdString();
    QImage picture(32, 24, QImage::Format_RGB32);
    ASSERT_TRUE(cam->Draw(picture, false));
    EXPECT_EQ(picture.pixel(16, 12), qRgb(255, 255, 255));
    ASSERT_TRUE(drawUntil(*cam, picture, [](const QImage& p) { return p.pixel(16, 12) == kVideoBackground; }));
    for (int tick = 0; tick < 3; ++tick) {
        picture.fill(Qt::red);
        EXPECT_TRUE(cam->Draw(picture, false));
        EXPECT_EQ(picture.pixel(16, 12), kVideoBackground);
    }
    QStringList values;
    EXPECT_EQ(cameraRecords(&values), QStringList{QStringLiteral("is_IsVideoFinish or is_InquireImageMem failed while running")});
    EXPECT_TRUE(values.value(0).contains(QLatin1String("end of stream"))) << values.value(0).toStdString();
}

TEST_F(GstCameraTest, BrightnessAndContrastReachTheColourBalanceWhereThereIsOne)
{
    {
        auto plain = openPipeline(QStringLiteral("videotestsrc ! video/x-raw,width=32,height=24"));
        ASSERT_TRUE(plain->IsPresent());
        EXPECT_EQ(m_lib->controls(), (CameraControls{false, false, false}));
    }
    auto cam = openPipeline(QStringLiteral(
        "videotestsrc pattern=solid-color foreground-color=0xff808080 ! video/x-raw,format=BGRx,width=32,height=24 ! videobalance"));
    ASSERT_TRUE(cam->IsPresent()) << m_lib->lastError().toStdString();
    EXPECT_EQ(m_lib->controls(), (CameraControls{true, true, false}));
    QImage picture(32, 24, QImage::Format_RGB32);
    cam->SetAutoGain(false);
    cam->SetBrightness(50);
    EXPECT_TRUE(drawUntil(*cam, picture, [](const QImage& p) { return qGreen(p.pixel(5, 5)) >= 250; }));
    EXPECT_NEAR(cam->GetBrightness(), 50, 0.5);
    cam->SetBrightness(-50);
    EXPECT_TRUE(drawUntil(*cam, picture, [](const QImage& p) { return qGreen(p.pixel(5, 5)) <= 5; }));
    // Contrast spreads the mid grey away from black: doubled it is near white, nil it is black.
    cam->SetBrightness(0);
    cam->SetContrast(50);
    EXPECT_TRUE(drawUntil(*cam, picture, [](const QImage& p) { return qGreen(p.pixel(5, 5)) >= 0xE0; }));
    cam->SetContrast(-50);
    EXPECT_TRUE(drawUntil(*cam, picture, [](const QImage& p) { return qGreen(p.pixel(5, 5)) <= 0x40; }));
}

TEST_F(GstCameraTest, SnapshotIsTheFrameAsJpeg)
{
    auto cam = openPipeline(QStringLiteral("videotestsrc pattern=solid-color foreground-color=0xff204080 ! video/x-raw,format=BGR,width=101,height=37"));
    ASSERT_TRUE(cam->IsPresent()) << m_lib->lastError().toStdString();
    QImage picture(101, 37, QImage::Format_RGB32);
    ASSERT_TRUE(cam->Draw(picture, false));
    const QString file = scratch(QStringLiteral("snap.jpg"));
    ASSERT_TRUE(cam->SaveToFile(file));
    QImageReader reader(file);
    EXPECT_EQ(reader.format(), QByteArray("jpeg"));
    const QImage saved = reader.read();
    ASSERT_EQ(saved.size(), QSize(101, 37));
    EXPECT_LE(channelDistance(saved.pixel(50, 18), qRgb(0x20, 0x40, 0x80)), 6);
}

TEST_F(GstCameraTest, ChoiceFromSourceTextsAndSettings)
{
    const struct {
        const char* text;
        std::optional<CameraChoice> choice;
    } cases[] = {
        {"gst:videotestsrc ! videobalance", CameraChoice{CameraKind::GStreamer, "videotestsrc ! videobalance"}},
        {"genicam:Fake_1,exposure=2000,format=Mono8", CameraChoice{CameraKind::GenICam, "Fake_1,exposure=2000,format=Mono8"}},
        {"vendor", CameraChoice{CameraKind::Vendor, {}}},
        {"sim", CameraChoice{CameraKind::Simulated, {}}},
        {"gst:", std::nullopt},
        {"genicam:Fake_1,exposure=fast", std::nullopt},
        {"genicam:Fake_1,colour=red", std::nullopt},
        {"usb", std::nullopt},
    };
    for (const auto& c : cases) {
        QString why;
        const auto got = parseCameraSource(QString::fromLatin1(c.text), &why);
        EXPECT_EQ(got, c.choice) << c.text;
        EXPECT_EQ(why.isEmpty(), c.choice.has_value()) << c.text;
    }
    EXPECT_EQ(storedCameraChoice(), (CameraChoice{CameraKind::Vendor, {}}));
    const CameraChoice pipeline{CameraKind::GStreamer, QStringLiteral("videotestsrc ! video/x-raw,width=40,height=30")};
    storeCameraChoice(pipeline);
    EXPECT_EQ(storedCameraChoice(), pipeline);
    // The station's rule hands the stored pipeline to the camera.
    auto lib = openCameraLibrary(false);
    ASSERT_TRUE(lib);
    TuEye cam(std::move(lib));
    ASSERT_TRUE(cam.IsPresent());
    EXPECT_EQ(cam.fMaxWidth, 40);
    // --simulate keeps the simulated camera whatever the settings choose.
    EXPECT_TRUE(openCameraLibrary(true)->isSimulated());
}

TEST_F(GstCameraTest, GrabTakesOneFrameOrSaysWhy)
{
    const CameraGrab good = grabCameraFrame({CameraKind::GStreamer, QStringLiteral("videotestsrc pattern=black ! video/x-raw,width=48,height=36")});
    ASSERT_FALSE(good.frame.isNull()) << good.why.toStdString();
    EXPECT_EQ(good.frame.size(), QSize(48, 36));
    EXPECT_EQ(good.frame.pixel(24, 18) & 0xFFFFFF, 0u);
    const CameraGrab bad = grabCameraFrame({CameraKind::GStreamer, QStringLiteral("nosuchelement")});
    EXPECT_TRUE(bad.frame.isNull());
    EXPECT_TRUE(bad.why.contains(QLatin1String("nosuchelement"))) << bad.why.toStdString();
}

} // namespace
} // namespace lapido
