// The settings window answering the main window, on the simulated machine and camera.
#include "ui/settings/settingswindowlink.h"

#include "camera/simcamera.h"
#include "camera/ueye.h"
#include "camera/ueyeapi.h"
#include "machine/laser.h"
#include "peripherals/ledsrgb.h"
#include "platform/numfmt.h"
#include "platform/processstarter.h"
#include "platform/stationglobals.h"
#include "records/loggingproxy.h"
#include "records/pulsecounters.h"
#include "settings/settingskeys.h"
#include "sim/dmcsimulator.h"
#include "ui/main/frmmain.h"
#include "ui/settings/frmsettings.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <memory>

namespace lapido {
namespace {

class RecordingStarter final : public ProcessStarter {
public:
    bool startDetached(const QString& program, const QStringList&) override
    {
        started << program;
        return true;
    }
    QStringList started;
};

class SettingsLinkTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        setUserLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        setWorkingDir(scratch() + QStringLiteral("/"));
        qputenv("XDG_CONFIG_HOME", scratch(QStringLiteral("config")).toLocal8Bit());
        m_sim = std::make_unique<ScopedDmcSimulator>(&m_clock);
        keys::write(keys::GalilIP, QStringLiteral("sim"));
        keys::write(keys::WorkingDir, scratch() + QStringLiteral("/"));
        Settings() = TSettings{};
        PulseCountTracker::ResetInstance();
        m_laser = std::make_unique<TLaser>();
        setLaser(m_laser.get());
        m_camera = std::make_unique<ScopedSimulatedCamera>(SimulatedCameraOptions{});
        m_previousStarter = setProcessStarter(&m_starter);
        m_main = std::make_unique<TfrmMain>();
        m_main->setCamera(std::make_unique<TuEye>(UEyeLibrary::simulated()));
        m_settings = std::make_unique<TfrmSettings>();
        m_link = std::make_unique<TSettingsWindowLink>(*m_main, *m_settings);
    }
    void TearDown() override
    {
        m_link.reset();
        m_settings.reset();
        m_main.reset();
        setProcessStarter(m_previousStarter);
        setLaser(nullptr);
        m_laser.reset();
        m_camera.reset();
        m_sim.reset();
        TLedsRGB::ReleaseInstance();
        PulseCountTracker::ResetInstance();
        TLoggingProxy::ResetInstance();
        Settings() = TSettings{};
        qunsetenv("XDG_CONFIG_HOME");
        StationFixture::TearDown();
    }

    std::unique_ptr<ScopedDmcSimulator> m_sim;
    std::unique_ptr<TLaser> m_laser;
    std::unique_ptr<ScopedSimulatedCamera> m_camera;
    RecordingStarter m_starter;
    ProcessStarter* m_previousStarter = nullptr;
    std::unique_ptr<TfrmMain> m_main;
    std::unique_ptr<TfrmSettings> m_settings;
    std::unique_ptr<TSettingsWindowLink> m_link;
};

TEST_F(SettingsLinkTest, SettingsButtonIsDisabledWhileTheDialogIsOpen)
{
    auto* button = m_main->findChild<QAbstractButton*>(QStringLiteral("BitBtnSettings"));
    ASSERT_NE(button, nullptr);
    bool disabledWhileOpen = false;
    bool wasModal = false;
    QTimer::singleShot(0, m_settings.get(), [&] {
        disabledWhileOpen = !button->isEnabled();
        wasModal = m_settings->isVisible() && QApplication::activeModalWidget() == m_settings.get();
        m_settings->reject();
    });
    emit m_main->settingsRequested();
    EXPECT_TRUE(disabledWhileOpen);
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(m_settings->isVisible());
    EXPECT_TRUE(button->isEnabled());
}

TEST_F(SettingsLinkTest, AutomaticBackupRunsWhenTheMainWindowIsFirstShown)
{
    EXPECT_TRUE(m_starter.started.isEmpty());
    m_main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_main.get()));
    EXPECT_EQ(m_starter.started, QStringList{Settings().VaultkeepLink});
    EXPECT_TRUE(store().ReadString("Backup", "Backupdate", "N/A").startsWith(QDate::currentDate().toString("MM/dd/yyyy")));
}

TEST_F(SettingsLinkTest, VideoSpinsReachTheMainWindowsCameraTransform)
{
    m_main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_main.get()));
    m_settings->show();
    auto* scale = m_settings->findChild<QSpinBox*>(QStringLiteral("SpinEditVideoScale"));
    ASSERT_NE(scale, nullptr);
    scale->setValue(200);
    // The one-pixel wheel step comes from the main window's transform (halved when zoomed out).
    const int effectiveScale = m_main->station().ZoomOut ? 100 : 200;
    EXPECT_DOUBLE_EQ(Settings().WheelTick1_X, 1000.0 / effectiveScale);
}

} // namespace
} // namespace lapido
