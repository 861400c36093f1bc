// GenICam cameras through Aravis, against Aravis's own fake camera in this process: features set
// and read back, frames at the asked size, a camera vanishing mid-run.
#include "camera/genicamcamera.h"
#include "camera/ueye.h"

#include "camerafixture.h"

#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

namespace lapido {
namespace {

class GenICamCameraTest : public test::CameraRecordsFixture {
protected:
    static void SetUpTestSuite() { enableGenICamFakeCamera(); }

    std::unique_ptr<TuEye> open(const QString& parameter)
    {
        QString why;
        const auto options = parseGenICamParameter(parameter, &why);
        EXPECT_TRUE(options) << why.toStdString();
        auto source = makeGenICamCameraSource(options.value_or(GenICamOptions{}));
        m_source = source.get();
        auto lib = UEyeLibrary::fromSource(std::move(source));
        m_lib = lib.get();
        return std::make_unique<TuEye>(std::move(lib));
    }
    // Draws until the camera has delivered a frame the picture shows (the fake camera runs on its
    // own thread).
    static bool drawFrame(TuEye& cam, QImage& picture)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 20000) {
            picture.fill(kVideoBackground);
            cam.Draw(picture, false);
            if (picture.pixel(picture.width() / 2, picture.height() / 2) != kVideoBackground)
                return true;
            QThread::msleep(5);
        }
        return false;
    }
    GenICamCameraSource* m_source = nullptr;
    const UEyeLibrary* m_lib = nullptr;
};

TEST_F(GenICamCameraTest, ParameterTextsAreReadOrRefused)
{
    const auto full = parseGenICamParameter(QStringLiteral("Fake_1, exposure=2500, gain=3, fps=12.5, format=Mono8, size=320x240"));
    ASSERT_TRUE(full);
    GenICamOptions expected;
    expected.name = QStringLiteral("Fake_1");
    expected.exposureUs = 2500;
    expected.gain = 3;
    expected.frameRateHz = 12.5;
    expected.pixelFormat = QStringLiteral("Mono8");
    expected.size = QSize(320, 240);
    EXPECT_EQ(*full, expected);
    EXPECT_EQ(parseGenICamParameter(QString())->name, QString()); // the first camera found
    for (const char* bad : {"Fake_1,exposure", "Fake_1,exposure=-1", "Fake_1,fps=0", "Fake_1,size=320", "Fake_1,size=0x10",
                            "Fake_1,shutter=3", "Fake_1,gain=nan"}) {
        QString why;
        EXPECT_FALSE(parseGenICamParameter(QString::fromLatin1(bad), &why)) << bad;
        EXPECT_FALSE(why.isEmpty()) << bad;
    }
}

TEST_F(GenICamCameraTest, FakeCameraIsListed)
{
    EXPECT_TRUE(listGenICamCameras().join(QLatin1Char('\n')).contains(QLatin1String("Fake_1")))
        << listGenICamCameras().join(QLatin1Char('\n')).toStdString();
}

TEST_F(GenICamCameraTest, FeaturesAreSetAndFramesComeAtTheAskedSize)
{
    auto cam = open(QStringLiteral("Fake_1,exposure=2000,gain=2,fps=20,format=Mono8,size=320x240"));
    ASSERT_TRUE(cam->IsPresent()) << m_lib->lastError().toStdString();
    const auto rb = m_source->readback();
    EXPECT_NEAR(rb.exposureUs, 2000, 1);
    EXPECT_NEAR(rb.gain, 2, 0.01);
    EXPECT_NEAR(rb.frameRateHz, 20, 0.1);
    EXPECT_EQ(rb.pixelFormat, QStringLiteral("Mono8"));
    EXPECT_EQ(rb.size, QSize(320, 240));
    EXPECT_EQ(cam->fMaxWidth, 320);
    EXPECT_EQ(cam->fMaxHeight, 240);
    EXPECT_EQ(cam->BitsPerPixel, 8);
    EXPECT_EQ(cam->SensorInfo.nColorMode, ueye::kColorModeMonochrome);
    // The fake camera has automatic gain but neither black level nor gamma.
    EXPECT_EQ(m_lib->controls(), (CameraControls{false, false, true}));

    QImage picture(320, 240, QImage::Format_RGB32);
    ASSERT_TRUE(drawFrame(*cam, picture));
    EXPECT_EQ(picture.format(), QImage::Format_Grayscale8);
    // Its test picture is a diagonal ramp: each pixel equals its neighbour one down and one
    // left, over the whole frame, and the ramp is not flat (the gain saturates part of it).
    int wrong = 0, distinct = 0;
    for (int y = 0; y + 1 < 240; ++y)
        for (int x = 0; x + 1 < 320; ++x) {
            wrong += picture.pixel(x + 1, y) != picture.pixel(x, y + 1);
            distinct += picture.pixel(x + 1, y) != picture.pixel(x, y);
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(distinct, 320 * 240 / 10);
    EXPECT_TRUE(cameraRecords().isEmpty());
}

TEST_F(GenICamCameraTest, CameraThatCannotBeOpenedSaysWhy)
{
    for (const char* parameter : {"NoSuchCamera_7", "Fake_1,format=Bogus12"}) {
        SCOPED_TRACE(parameter);
        clearCameraRecords();
        auto cam = open(QString::fromLatin1(parameter));
        EXPECT_FALSE(cam->IsPresent());
        EXPECT_FALSE(m_lib->lastError().isEmpty());
        EXPECT_EQ(cameraRecords(), QStringList{QStringLiteral("is_InitCamera failed")});
    }
}

// The camera vanishing mid-run (Aravis reports its control link lost) is the lost camera: one
// maintenance record, the grey field from then on.
TEST_F(GenICamCameraTest, CameraVanishingMidRunIsTheLostCamera)
{
    auto cam = open(QStringLiteral("Fake_1,size=64x48,format=Mono8"));
    ASSERT_TRUE(cam->IsPresent()) << m_lib->lastError().toStdString();
    QImage picture(64, 48, QImage::Format_RGB32);
    ASSERT_TRUE(drawFrame(*cam, picture));
    m_source->simulateControlLost();
    for (int tick = 0; tick < 3; ++tick) {
        picture.fill(Qt::red);
        EXPECT_TRUE(cam->Draw(picture, false));
        EXPECT_EQ(picture.pixel(32, 24), kVideoBackground);
    }
    QStringList values;
    EXPECT_EQ(cameraRecords(&values), QStringList{QStringLiteral("is_IsVideoFinish or is_InquireImageMem failed while running")});
    EXPECT_TRUE(values.value(0).contains(QLatin1String("control link"))) << values.value(0).toStdString();
}

} // namespace
} // namespace lapido
