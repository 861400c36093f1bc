// TuEye over a fake vendor library: loading, the order of the opening calls, failures, picture
// settings and the frame copy.
#include "camera/simcamera.h"
#include "camera/ueye.h"
#include "records/filelogging.h"
#include "records/loggingproxy.h"
#include "settings/settingskeys.h"

#include "fake_ueye.h"
#include "testsupport.h"

#include <QDir>
#include <QLibrary>

#include <cstring>

namespace lapido {
namespace {

class CameraLibraryTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        // Maintenance records go to files in the scratch folder.
        store().WriteString(QStringLiteral("LoggingDatabase"), QStringLiteral("logfileenabled"), QStringLiteral("1"));
        store().WriteString(QStringLiteral("LoggingDatabase"), QStringLiteral("logfilebasedir"), scratch());
        TLoggingProxy::ResetInstance();
        // The file sink keeps the folder it was made for; this test's folder is a new one.
        TFileLogging::ResetInstance();
        QLibrary lib(QStringLiteral(FAKE_UEYE_LIBRARY));
        ASSERT_TRUE(lib.load()) << lib.errorString().toStdString();
        auto control = reinterpret_cast<FakeUEyeControl* (*)()>(lib.resolve("fake_ueye_control"));
        ASSERT_NE(control, nullptr);
        m_fake = control();
        *m_fake = FakeUEyeControl{};
        m_fake->sensorWidth = 1280;
        m_fake->sensorHeight = 1024;
        m_fake->colorMode = 2;
        m_fake->bitsPerPixel = 32;
    }
    void TearDown() override
    {
        TLoggingProxy::ResetInstance();
        StationFixture::TearDown();
    }
    std::unique_ptr<TuEye> openFake()
    {
        QString error;
        auto lib = UEyeLibrary::load(QStringLiteral(FAKE_UEYE_LIBRARY), &error);
        EXPECT_TRUE(lib) << error.toStdString();
        return std::make_unique<TuEye>(std::move(lib));
    }
    QStringList calls() const { return QString::fromLatin1(m_fake->calls).split(QLatin1Char(','), Qt::SkipEmptyParts); }
    // The action texts of the CameraNotAvailable records written so far.
    QStringList cameraRecords() const
    {
        QStringList texts;
        for (const QString& f : QDir(scratch()).entryList({QStringLiteral("CameraNotAvailable_*.log")})) {
            QFile file(scratch(f));
            if (file.open(QIODevice::ReadOnly))
                texts << QString::fromUtf8(file.readAll().split('\n').value(1).split('\t').value(0));
        }
        return texts;
    }

    FakeUEyeControl* m_fake = nullptr;
};

TEST_F(CameraLibraryTest, OpensWithTheCallsInOrderAndStartsInAutomaticGain)
{
    auto cam = openFake();
    ASSERT_TRUE(cam->IsPresent());
    const QStringList expected = {
        "is_InitCamera", "is_SetDisplayMode", "is_SetErrorReport", "is_GetSensorInfo", "is_SetImageSize",
        "is_SetAOI(colour)", "is_GetColorDepth", "is_AllocImageMem", "is_SetImageMem", "is_SetImageSize",
        "is_SetDisplayMode", "is_SetColorMode",
        // SetAutoGain(true): brightness and contrast are not yet connected, then gain on, speed
        "is_SetAutoParameter", "is_SetAutoParameter", "is_SetWhiteBalance", "is_FreezeVideo",
        // SetContrast(7), SetBrightness(0) in automatic gain
        "is_SetGamma", "is_SetAutoParameter"};
    EXPECT_EQ(calls(), expected);
    EXPECT_EQ(m_fake->autoGain, 1.0);
    EXPECT_EQ(m_fake->autoSpeed, 100.0);
    EXPECT_EQ(cam->fMaxWidth, 1280);
    EXPECT_EQ(cam->BitsPerPixel, 32);
    // Contrast 7 is gamma Round(100 * 10^-0.14) = 72 and reads back about 7.1; brightness 0 is
    // the reference Round(127.5) = 128, halves to even.
    EXPECT_EQ(m_fake->gamma, 72);
    EXPECT_EQ(cam->fGamma, 72);
    EXPECT_NEAR(cam->GetContrast(), 7.13, 0.01);
    EXPECT_EQ(m_fake->autoReference, 128.0);
    EXPECT_NEAR(cam->GetBrightness(), 128 * 100.0 / 255 - 50, 1e-5);
    EXPECT_TRUE(cameraRecords().isEmpty());

    cam.reset();
    EXPECT_EQ(calls().mid(calls().size() - 2), (QStringList{"is_FreeImageMem", "is_ExitCamera"}));
}

TEST_F(CameraLibraryTest, MonochromeSensorTakesTheMonoAreaAndNoWhiteBalance)
{
    m_fake->colorMode = 1;
    m_fake->bitsPerPixel = 8;
    auto cam = openFake();
    EXPECT_TRUE(calls().contains(QStringLiteral("is_SetAOI(mono)")));
    EXPECT_FALSE(calls().contains(QStringLiteral("is_SetWhiteBalance")));
}

TEST_F(CameraLibraryTest, PictureSettingsFollowTheirFormulas)
{
    auto cam = openFake();
    const struct {
        bool autoGain;
        float brightness, contrast;
        int libBrightness, libContrast, gamma;
        double reference;
    } cases[] = {
        // manual: brightness (x + 50) * 255 / 100 and contrast (x + 50) * 511 / 100, rounded
        {false, 10, -50, 153, 0, -1, -1},
        {false, 80, 80, 255, 511, -1, -1},   // clamped to 50
        {false, -0.2f, 0, 127, 256, -1, -1}, // 127.0 and 255.5 -> 256 (half to even)
        // automatic gain: reference and gamma 100 * 10^(-x / 50)
        {true, 50, 50, -1, -1, 10, 255},
        {true, -50, -50, -1, -1, 1000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.autoGain << " " << c.brightness << " " << c.contrast);
        cam->SetAutoGain(c.autoGain);
        EXPECT_EQ(m_fake->autoGain, c.autoGain ? 1.0 : 0.0);
        cam->SetBrightness(c.brightness);
        cam->SetContrast(c.contrast);
        if (c.libBrightness >= 0) {
            EXPECT_EQ(m_fake->brightness, c.libBrightness);
            EXPECT_EQ(m_fake->contrast, c.libContrast);
            EXPECT_NEAR(cam->GetBrightness(), c.libBrightness * 100.0 / 255 - 50, 1e-4);
            EXPECT_NEAR(cam->GetContrast(), c.libContrast * 100.0 / 511 - 50, 1e-4);
        } else {
            EXPECT_EQ(m_fake->gamma, c.gamma);
            EXPECT_EQ(m_fake->autoReference, c.reference);
            EXPECT_NEAR(cam->GetContrast(), std::clamp(c.contrast, -50.f, 50.f), 0.01);
        }
    }
}

TEST_F(CameraLibraryTest, CameraThatCannotBeUsedIsRecordedAndShowsNothing)
{
    const struct {
        const char* name;
        int failInit, failDisplayMode;
        bool incomplete;
        const char* record;
    } cases[] = {
        {"init fails", 1, 0, false, "is_InitCamera failed"},
        {"display mode fails", 0, 1, false, "is_SetDisplayMode or is_SetErrorReport failed"},
        {"library lacks a call", 0, 0, true, "is_InitCamera failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const QString& f : QDir(scratch()).entryList({QStringLiteral("*.log")}))
            QFile::remove(scratch(f));
        m_fake->failInit = c.failInit;
        m_fake->failDisplayMode = c.failDisplayMode;
        m_fake->exitCount = 0;
        std::unique_ptr<UEyeLibrary> lib;
        QString error;
        if (c.incomplete) {
            lib = UEyeLibrary::load(QStringLiteral(FAKE_UEYE_INCOMPLETE_LIBRARY), &error);
            EXPECT_FALSE(lib);
            EXPECT_TRUE(error.contains(QStringLiteral("is_SetAOI"))) << error.toStdString();
        } else {
            lib = UEyeLibrary::load(QStringLiteral(FAKE_UEYE_LIBRARY), &error);
            ASSERT_TRUE(lib);
        }
        TuEye cam(std::move(lib));
        EXPECT_FALSE(cam.IsPresent());
        EXPECT_EQ(cameraRecords(), QStringList{QString::fromLatin1(c.record)});
        EXPECT_EQ(m_fake->exitCount, c.failDisplayMode);
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(Qt::red);
        EXPECT_TRUE(cam.Draw(picture, false));
        EXPECT_EQ(picture.pixel(10, 10), qRgb(255, 0, 0)); // not connected: left alone
        const QStringList callsBefore = calls();
        cam.SetAutoGain(true);
        cam.SetBrightness(20);
        EXPECT_EQ(calls(), callsBefore); // controls do nothing without a camera
        EXPECT_EQ(cam.GetBrightness(), 0.f);
        EXPECT_FALSE(cam.SaveToFile(scratch(QStringLiteral("x.jpg"))));
    }
}

TEST_F(CameraLibraryTest, StationChoosesTheLibraryFromSwitchAndSettings)
{
    const QString missing = scratch(QStringLiteral("libnone.so"));
    const struct {
        const char* name;
        bool simulate, settingAsks;
        QString file;
        bool expectLibrary, expectSimulated;
    } cases[] = {
        {"switch", true, false, missing, true, true},
        {"vendor installed", false, true, QStringLiteral(FAKE_UEYE_LIBRARY), true, false},
        {"none installed, settings ask", false, true, missing, true, true},
        {"none installed", false, false, missing, false, false},
        {"broken install is not replaced", false, true, QStringLiteral(FAKE_UEYE_INCOMPLETE_LIBRARY), false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        keys::write(keys::SimulateCamera, c.settingAsks);
        QString why;
        const auto lib = openCameraLibrary(c.simulate, &why, c.file);
        ASSERT_EQ(bool(lib), c.expectLibrary) << why.toStdString();
        if (lib)
            EXPECT_EQ(lib->isSimulated(), c.expectSimulated);
        else
            EXPECT_FALSE(why.isEmpty());
    }
}

// Copies with every depth, cropping, centring and half size: each picture pixel is either the
// background or exactly the frame pixel the centring rule names.
TEST_F(CameraLibraryTest, FrameCopyCentresCropsAndHalves)
{
    const struct {
        int bits, frameW, frameH, extraPitch;
        bool half;
        int pictureW, pictureH;
        QImage::Format format;
    } cases[] = {
        {8, 40, 30, 4, false, 64, 48, QImage::Format_Grayscale8}, // smaller: centred
        {15, 100, 70, 2, false, 64, 48, QImage::Format_RGB555},   // larger: cropped both sides
        {16, 63, 47, 0, false, 64, 48, QImage::Format_RGB16},     // odd difference
        {24, 101, 31, 3, false, 64, 48, QImage::Format_BGR888},   // wider, lower
        {32, 130, 99, 0, true, 64, 48, QImage::Format_RGB32},     // halved then cropped
        {24, 90, 60, 1, true, 64, 48, QImage::Format_BGR888},     // halved then centred
        {8, 200, 20, 0, true, 64, 48, QImage::Format_Grayscale8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits " << c.frameW << "x" << c.frameH << (c.half ? " half" : ""));
        m_fake->bitsPerPixel = c.bits;
        m_fake->sensorWidth = c.frameW;
        m_fake->sensorHeight = c.frameH;
        m_fake->extraPitch = c.extraPitch;
        auto cam = openFake();
        QImage picture(c.pictureW, c.pictureH, QImage::Format_RGB32);
        const int before = m_fake->freezeCount;
        ASSERT_TRUE(cam->Draw(picture, c.half));
        EXPECT_EQ(m_fake->freezeCount, before + 1);
        ASSERT_EQ(picture.format(), c.format);
        QImage background(1, 1, c.format);
        background.fill(kVideoBackground);
        const int bpp = picture.depth() / 8;
        const int step = c.half ? 2 : 1;
        const int w = c.frameW / step, h = c.frameH / step;
        const int ox = (c.pictureW - w) / 2, oy = (c.pictureH - h) / 2;
        int mismatches = 0;
        for (int y = 0; y < c.pictureH; ++y)
            for (int x = 0; x < c.pictureW; ++x) {
                const int fx = (x - ox) * step, fy = (y - oy) * step;
                const bool fromFrame = x - ox >= 0 && x - ox < w && y - oy >= 0 && y - oy < h;
                for (int k = 0; k < bpp; ++k) {
                    const uchar want = fromFrame ? fakeFrameByte(fx, fy, k) : background.constScanLine(0)[k];
                    if (picture.constScanLine(y)[x * bpp + k] != want && ++mismatches < 5)
                        ADD_FAILURE() << "pixel " << x << "," << y << " byte " << k;
                }
            }
        EXPECT_EQ(mismatches, 0);
    }
}

TEST_F(CameraLibraryTest, UnsupportedDepthLeavesTheGreyFieldAndStopsCapturing)
{
    for (int bits : {12, 48}) {
        m_fake->bitsPerPixel = bits;
        auto cam = openFake();
        ASSERT_TRUE(cam->IsPresent());
        QImage picture(32, 24, QImage::Format_RGB32);
        picture.fill(Qt::red);
        const int before = m_fake->freezeCount;
        EXPECT_TRUE(cam->Draw(picture, false));
        EXPECT_EQ(m_fake->freezeCount, before);
        EXPECT_EQ(picture.pixel(5, 5), kVideoBackground);
        EXPECT_EQ(picture.format(), QImage::Format_RGB32);
    }
}

TEST_F(CameraLibraryTest, NoImageMemoryMeansPresentButEmpty)
{
    m_fake->failAlloc = 1;
    auto cam = openFake();
    EXPECT_TRUE(cam->IsPresent());
    EXPECT_EQ(cam->ImageMemID, -1);
    EXPECT_FALSE(calls().contains(QStringLiteral("is_FreezeVideo")));
    QImage picture(32, 24, QImage::Format_RGB32);
    picture.fill(Qt::red);
    EXPECT_TRUE(cam->Draw(picture, false));
    EXPECT_EQ(picture.pixel(5, 5), qRgb(255, 0, 0));
}

TEST_F(CameraLibraryTest, SnapshotOfTheSimulatedCameraIsAJpegOfTheFrame)
{
    SimulatedCameraOptions options;
    options.sensorWidth = 320;
    options.sensorHeight = 240;
    options.tableMm = TCoord{15, 12.5};
    ScopedSimulatedCamera sim(options);
    TuEye cam(UEyeLibrary::simulated());
    ASSERT_TRUE(cam.IsPresent());
    const QString file = scratch(QStringLiteral("snap.jpg"));
    ASSERT_TRUE(cam.SaveToFile(file));
    QImage saved;
    ASSERT_TRUE(saved.load(file, "JPG"));
    EXPECT_EQ(saved.size(), QSize(320, 240));

    auto fake = openFake();
    EXPECT_TRUE(fake->SaveToFile(QStringLiteral("relative name.jpg")));
    EXPECT_STREQ(m_fake->savedFile, "relative name.jpg");
}

// The camera lost while the station runs (cable pulled, library failing): the picture turns to
// the grey field, one maintenance record says so, and the library is not called again.
TEST_F(CameraLibraryTest, CameraLostWhileRunningIsRecordedOnceAndShowsTheGreyField)
{
    SimulatedCameraOptions options;
    options.sensorWidth = 320;
    options.sensorHeight = 240;
    options.tableMm = TCoord{15, 12.5};
    ScopedSimulatedCamera sim(options);
    TuEye cam(UEyeLibrary::simulated());
    ASSERT_TRUE(cam.IsPresent());
    QImage picture(64, 48, QImage::Format_RGB32);
    ASSERT_TRUE(cam.Draw(picture, false));
    ASSERT_TRUE(cam.Draw(picture, false));
    EXPECT_NE(picture.pixel(32, 24), kVideoBackground) << "the stone is filmed before the fault";
    EXPECT_TRUE(cameraRecords().isEmpty());

    setSimulatedCameraLost(true);
    for (int tick = 0; tick < 3; ++tick) {
        picture.fill(Qt::red);
        EXPECT_TRUE(cam.Draw(picture, false));
        EXPECT_EQ(picture.pixel(32, 24), kVideoBackground);
    }
    EXPECT_EQ(cameraRecords(), QStringList{QStringLiteral("is_IsVideoFinish or is_InquireImageMem failed while running")});
}

} // namespace
} // namespace lapido
