// The settings window on the offscreen platform, against a settings store in a temporary file,
// the simulated controller and the simulated ring light.
#include "ui/settings/frmsettings.h"
#include "ui/machine/frmtestmotion.h"

#include "camera/simcamera.h"
#include "camera/ueye.h"
#include "machine/laser.h"
#include "peripherals/ledsrgb.h"
#include "platform/numfmt.h"
#include "platform/processstarter.h"
#include "platform/stationglobals.h"
#include "records/pulsecounters.h"
#include "settings/settingskeys.h"
#include "sim/dmcsimulator.h"
#include "sim/lightsimulator.h"
#include "testsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QScreen>
#include <QTest>

#include <memory>
#include <set>
#include <type_traits>
#include <string>
#include <vector>

namespace lapido {
namespace {

class RecordingStarter final : public ProcessStarter {
public:
    bool startDetached(const QString& program, const QStringList& arguments) override
    {
        started.push_back(program + QChar(' ') + arguments.join(QChar(' ')));
        return true;
    }
    QStringList started;
};

class SettingsWindowTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        qputenv("LAPIDOGRAPH_SETTINGS", store().path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", scratch(QStringLiteral("config")).toLocal8Bit());
        setUserLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        Settings() = TSettings{};
        PulseCountTracker::ResetInstance();
        TPulseCounters::ResetInstance();
        m_sim = std::make_unique<ScopedDmcSimulator>(&m_clock);
        keys::write(keys::GalilIP, QStringLiteral("sim"));
    }
    void TearDown() override
    {
        m_window.reset();
        setLaser(nullptr);
        m_laser.reset();
        m_sim.reset();
        TLedsRGB::ReleaseInstance();
        PulseCountTracker::ResetInstance();
        TPulseCounters::ResetInstance();
        Settings() = TSettings{};
        setUserLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        qunsetenv("LAPIDOGRAPH_SETTINGS");
        qunsetenv("XDG_CONFIG_HOME");
        StationFixture::TearDown();
    }

    // The window as the station creates it, shown (modeless here, so the test can drive it).
    TfrmSettings& window(bool show = true)
    {
        if (!m_window) {
            m_window = std::make_unique<TfrmSettings>();
            if (show) {
                m_window->show();
                EXPECT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
            }
        }
        return *m_window;
    }
    // The machine object on the simulated controller; every command it sends is kept.
    TLaser& laser()
    {
        if (!m_laser) {
            m_laser = std::make_unique<TLaser>();
            m_laser->ShowDMCCmd = true;
            m_laser->setEchoHook([this](EchoLine kind, const std::string& text) {
                if (kind == EchoLine::Command)
                    m_sent.push_back(text);
            });
            setLaser(m_laser.get());
        }
        return *m_laser;
    }
    template <typename T = QWidget>
    T* child(const QString& name)
    {
        T* w = window().findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    QLineEdit* edit(const char* key) { return child<QLineEdit>(QStringLiteral("Edit") + QLatin1String(key)); }
    void type(const char* key, const QString& text)
    {
        QLineEdit* e = edit(key);
        e->selectAll();
        if (text.isEmpty())
            QTest::keyClick(e, Qt::Key_Delete);
        QTest::keyClicks(e, text);
    }
    void click(const QString& name) { child<QPushButton>(name)->click(); }
    bool isRed(QWidget* w) { return w->palette().color(QPalette::Text) == QColor(Qt::red); }
    void enterService()
    {
        child<QLineEdit>("EditPassword")->setText("TRIMDOG");
        click("ButtonEnter");
    }
    bool sent(const std::string& prefix) const
    {
        for (const std::string& c : m_sent)
            if (c.rfind(prefix, 0) == 0)
                return true;
        return false;
    }

    std::unique_ptr<ScopedDmcSimulator> m_sim;
    std::unique_ptr<TLaser> m_laser;
    std::unique_ptr<TfrmSettings> m_window;
    std::vector<std::string> m_sent;
};

TEST_F(SettingsWindowTest, TabsCaptionAndFixedSize)
{
    auto* tabs = child<QTabWidget>("PageControl");
    QStringList captions;
    for (int i = 0; i < tabs->count(); ++i)
        captions << tabs->tabText(i);
    EXPECT_EQ(captions, (QStringList{"Marking", "Positions", "Colors", "Mouse", "Motion", "Video", "Hardware", "Laser",
                                     "Pulse", "Administration", "Misc"}));
    EXPECT_EQ(window().windowTitle(), QStringLiteral("Settings"));
    EXPECT_TRUE(window().isModal());
    EXPECT_EQ(window().minimumSize(), window().maximumSize());
}

TEST_F(SettingsWindowTest, MarkingSpeedIsHeldToTheSlowerAxisWhileTheBoxKeepsTheTypedText)
{
    store().WriteString("Motion", "Y_Speed", "8");
    window();
    type("MarkingSpeed", "9");
    EXPECT_EQ(Settings().MarkingSpeed, 8);
    EXPECT_EQ(edit("MarkingSpeed")->text(), QStringLiteral("9"));
    // Far beyond what 1000 Hz at 0.5 µm can mark.
    EXPECT_TRUE(isRed(edit("MarkingSpeed")));
    type("PulseDistance", "10");
    EXPECT_FALSE(isRed(edit("MarkingSpeed")));
}

TEST_F(SettingsWindowTest, OkRefusesASpeedThePulsesCannotFollowAndSavesNothing)
{
    window();
    type("MarkingSpeed", "0.6");
    click("ButtonClose");
    ASSERT_FALSE(m_dialogs.transcript().empty());
    EXPECT_EQ(m_dialogs.transcript().back().kind, DialogKind::Error);
    EXPECT_EQ(m_dialogs.transcript().back().text,
              QStringLiteral("Pulse frequency is too high.  Reduce marking speed to 0.500 mm/s, or increase pulse "
                             "distance to 0.600 µm."));
    EXPECT_TRUE(window().isVisible());
    EXPECT_FALSE(store().value("Marking", "MarkingSpeed").has_value());
}

// A red box never reaches the store: a refused text leaves the record with what was there
// before or what a prefix of the text gave ("12" of "12,5", 0 of "-0.00"), and saving that
// would store a value the box does not show.
TEST_F(SettingsWindowTest, OkWithARedBoxNamesItSavesNothingAndStaysOpen)
{
    struct Case {
        const char* key;
        const char* typed;
    };
    const Case cases[] = {{"StartUp_X", "12,5"}, {"Goto1_Z", "-0.001"}, {"Goto3_Y", "35,5"},
                          {"StartUp_Y", ""},     {"MarkingSpeed", "0,3"}, {"PulseDistance", "1e"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        m_window.reset();
        Settings() = TSettings{};
        window();
        type(c.key, QString::fromLatin1(c.typed));
        ASSERT_TRUE(isRed(edit(c.key)));
        const auto asked = m_dialogs.transcript().size();
        const auto stored = store().entries();
        click("ButtonClose");
        EXPECT_TRUE(window().isVisible());
        ASSERT_GT(m_dialogs.transcript().size(), asked);
        EXPECT_EQ(m_dialogs.transcript().back().kind, DialogKind::Error);
        EXPECT_TRUE(m_dialogs.transcript().back().text.contains(QLatin1String(c.key)))
            << m_dialogs.transcript().back().text.toStdString();
        EXPECT_EQ(store().entries(), stored) << "saved with a red box";
    }
}

// Values the boxes take but the controller would not: red with the reason, nothing saved,
// nothing sent.
TEST_F(SettingsWindowTest, OkRefusesValuesTheControllerWouldRefuse)
{
    laser();
    window();
    enterService();
    type("X_Speed", "1000000");
    type("Goto2_X", "1e9");
    EXPECT_FALSE(isRed(edit("X_Speed")));
    m_sent.clear();
    const auto stored = store().entries();
    click("ButtonClose");
    EXPECT_TRUE(window().isVisible());
    ASSERT_FALSE(m_dialogs.transcript().empty());
    const QString text = m_dialogs.transcript().back().text;
    EXPECT_TRUE(text.contains(QLatin1String("X_Speed"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QLatin1String("10000000000 counts"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QLatin1String("Goto2_X"))) << text.toStdString();
    EXPECT_TRUE(isRed(edit("X_Speed")));
    EXPECT_TRUE(isRed(edit("Goto2_X")));
    EXPECT_EQ(store().entries(), stored);
    EXPECT_TRUE(m_sent.empty());

    // Mended, the same OK saves and sends.
    type("X_Speed", "12");
    type("Goto2_X", "15");
    EXPECT_FALSE(isRed(edit("X_Speed")));
    click("ButtonClose");
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(store().ReadString("Motion", "X_Speed", ""), QStringLiteral("12"));
    EXPECT_TRUE(sent("SP 120000"));
}

TEST_F(SettingsWindowTest, CommaIsRefusedOnACommaLocale)
{
    setUserLocale(QLocale(QLocale::German, QLocale::Germany));
    window();
    type("PhotoResolution", "0,5");
    EXPECT_TRUE(isRed(edit("PhotoResolution")));
    EXPECT_EQ(Settings().PhotoResolution, 5);
    type("PhotoResolution", "2.5");
    EXPECT_FALSE(isRed(edit("PhotoResolution")));
    EXPECT_EQ(Settings().PhotoResolution, 2.5);
}

TEST_F(SettingsWindowTest, PulseRatesAreHeldToTheirRanges)
{
    window();
    enterService(); // the highest rate is a service value
    type("MaxReprate", "3");
    EXPECT_EQ(Settings().MaxReprate, 10);
    type("MaxReprate", "1000");
    type("PulseTrainRate", "5000");
    EXPECT_EQ(Settings().PulseTrainRate, 1000);
}

TEST_F(SettingsWindowTest, XResolutionIsCopiedToY)
{
    window();
    enterService();
    type("XY_CountsPerMM", "20000");
    EXPECT_EQ(edit("Y_CountsPerMM")->text(), QStringLiteral("20000"));
    EXPECT_EQ(Settings().XY_CountsPerMM, 20000);
}

TEST_F(SettingsWindowTest, PasswordWithBlanksUnlocksTheProtectedControls)
{
    window();
    EXPECT_FALSE(edit("X_Speed")->isEnabled());
    auto* password = child<QLineEdit>("EditPassword");
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    QTest::keyClicks(password, " trimdog ");
    EXPECT_FALSE(child<QPushButton>("ButtonEnter")->isEnabled());
    password->setText("  TRIMDOG ");
    ASSERT_TRUE(child<QPushButton>("ButtonEnter")->isEnabled());
    click("ButtonEnter");
    EXPECT_TRUE(password->text().isEmpty());
    EXPECT_TRUE(window().serviceMode());
    EXPECT_TRUE(edit("X_Speed")->isEnabled());
    EXPECT_FALSE(edit("A_Speed")->isEnabled());
    // Without a Z-axis its boxes stay locked, the position Z boxes too.
    child<QCheckBox>("CheckBoxUseZaxis")->setChecked(false);
    EXPECT_FALSE(edit("Z_Speed")->isEnabled());
    EXPECT_FALSE(edit("Goto1_Z")->isEnabled());
    click("ButtonExit");
    EXPECT_FALSE(window().serviceMode());
    EXPECT_FALSE(edit("X_Speed")->isEnabled());
}

TEST_F(SettingsWindowTest, ManualBackupWithAMissingToolStillStampsTheDate)
{
    store().WriteString("Backup", "VaultkeepLink", scratch("missing/vaultkeep"));
    window();
    click("ButtonManualBackup");
    const QString stamp = store().ReadString("Backup", "Backupdate", "N/A");
    EXPECT_NE(stamp, QStringLiteral("N/A"));
    EXPECT_TRUE(stamp.startsWith(QDate::currentDate().toString("MM/dd/yyyy")));
    EXPECT_EQ(child<QLabel>("LabelBackupdate")->text(), stamp);
    EXPECT_TRUE(child<QPushButton>("ButtonManualBackup")->isEnabled());
}

TEST_F(SettingsWindowTest, OneAutomaticBackupPerDay)
{
    RecordingStarter starter;
    ProcessStarter* previous = setProcessStarter(&starter);
    store().WriteString("Backup", "BackupPath", "/srv/station backup");
    window().AutoBackup();
    window().AutoBackup();
    setProcessStarter(previous);
    EXPECT_EQ(starter.started,
              QStringList{Settings().VaultkeepLink + " --Backup -LaHives -McHives /srv/station backup"});
}

TEST_F(SettingsWindowTest, CancelRestoresTheStoredValuesAndKeepsTypedOnesForMissingKeys)
{
    store().WriteString("Motion", "X_Speed", "12");
    window();
    enterService();
    type("X_Speed", "20");
    type("Y_Speed", "9"); // never stored
    child<QSpinBox>("SpinEditVideoScale")->setValue(250);
    EXPECT_EQ(Settings().X_Speed, 20);
    click("ButtonCancel");
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(Settings().X_Speed, 12);
    EXPECT_EQ(Settings().Y_Speed, 9);
    EXPECT_EQ(Settings().VideoScale, 250);
    EXPECT_FALSE(store().value("Motion", "Y_Speed").has_value());
}

TEST_F(SettingsWindowTest, OkSavesAndSendsTheMotionSettingsToTheController)
{
    laser();
    window();
    enterService();
    type("X_Speed", "12");
    m_sent.clear();
    click("ButtonClose");
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(store().ReadString("Motion", "X_Speed", ""), QStringLiteral("12"));
    EXPECT_EQ(laser().X_Speed, 12);
    // 12 mm/s at 10000 counts per mm.
    EXPECT_TRUE(sent("SP 120000")) << (m_sent.empty() ? std::string("nothing sent") : m_sent.front());
}

TEST_F(SettingsWindowTest, VideoSpinsUpdateTheOverlayAtOnce)
{
    int updates = 0;
    QObject::connect(&window(), &TfrmSettings::videoTransformChanged, [&] { ++updates; });
    child<QSpinBox>("SpinEditCrossHairX")->setValue(400);
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(Settings().CrossHairX, 400);
    child<QSpinBox>("SpinEditVideoScale")->setValue(150);
    EXPECT_EQ(updates, 2);
    child<QSpinBox>("SpinEditVideoRefresh")->setValue(100);
    EXPECT_EQ(updates, 2);
}

TEST_F(SettingsWindowTest, CalibrateMeasuresTheCameraInServiceModeAndStoresWhenAsked)
{
    DmcWiring wiring = (*m_sim)->wiring();
    wiring.xyCountsPerMm = Settings().XY_CountsPerMM;
    (*m_sim)->setWiring(wiring);
    laser();
    ASSERT_TRUE(window().ApplyMotionSettings());
    laser().ServoHere();
    laser().MoveTo(15, 12.5);
    ASSERT_TRUE(laser().WaitOnMotionComplete());
    SimulatedCameraOptions options;
    SimulatedOptics optics;
    optics.scalePxPerMm = 240;
    optics.aspectPercent = 96;
    optics.rotationDeg = 0.3;
    optics.crossHairPx = {390, 280};
    optics.noiseGreyLevels = 2;
    options.optics = optics;
    options.testMark = SimulatedTestMark{TCoord{15, 12.5}, 0.02};
    ScopedSimulatedCamera scene(options);
    TuEye camera(UEyeLibrary::simulated());
    window().setCameraSource([&camera] { return &camera; });

    auto* button = child<QPushButton>("ButtonCalibrate");
    EXPECT_FALSE(button->isEnabled());
    enterService();
    ASSERT_TRUE(button->isEnabled());
    int updates = 0;
    QObject::connect(&window(), &TfrmSettings::videoTransformChanged, [&] { ++updates; });
    m_dialogs.queueAnswer(DialogResult::Yes);
    button->click();
    EXPECT_EQ(child<QSpinBox>("SpinEditVideoScale")->value(), 240);
    EXPECT_EQ(child<QSpinBox>("SpinEditVideoAspect")->value(), 96);
    EXPECT_EQ(child<QSpinBox>("SpinEditCrossHairX")->value(), 390);
    EXPECT_EQ(child<QSpinBox>("SpinEditCrossHairY")->value(), 280);
    EXPECT_EQ(store().value(QStringLiteral("Video"), QStringLiteral("VideoScale")), QStringLiteral("240"));
    EXPECT_GE(updates, 1);

    window().setCameraSource({});
    button->click();
    EXPECT_EQ(m_dialogs.texts().back(), QStringLiteral("Calibration needs the machine and the camera."));
}

TEST_F(SettingsWindowTest, PolarityBoxesCountOnlyWhileTheWindowShows)
{
    window(false);
    auto* gate = window().findChild<QCheckBox*>("CheckBoxInvertGate");
    ASSERT_NE(gate, nullptr);
    gate->setChecked(true);
    EXPECT_FALSE(Settings().InvertGate);
    window().show();
    gate->setChecked(false);
    gate->setChecked(true);
    EXPECT_TRUE(Settings().InvertGate);
}

TEST_F(SettingsWindowTest, InitializeHomesAndGetReadsThePosition)
{
    laser();
    // As when the main window is first shown.
    ASSERT_TRUE(window().ApplyMotionSettings());
    click("ButtonInitialize");
    ASSERT_TRUE(laser().Initialized);
    click("ButtonGetGoto2");
    EXPECT_EQ(edit("Goto2_X")->text(), QStringLiteral("15"));
    EXPECT_EQ(edit("Goto2_Y")->text(), QStringLiteral("12.5"));
    EXPECT_EQ(Settings().Goto2_Y, 12.5);
    EXPECT_EQ(Settings().Goto2_Z, 12.5);
}

TEST_F(SettingsWindowTest, MotionTestWindowOpensBelowAndClosesWithTheMotionPage)
{
    laser();
    TfrmTestMotion testWindow;
    window().setMotionTestWindow(&testWindow);
    enterService();
    child<QTabWidget>("PageControl")->setCurrentIndex(4);
    click("ButtonTest");
    ASSERT_TRUE(testWindow.isVisible());
    // Modal settings block every window outside them: the test window is one of theirs.
    EXPECT_EQ(testWindow.parentWidget(), &window());
    const QRect screen = window().screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(testWindow.frameGeometry()))
        << testWindow.frameGeometry().y() << " on a screen " << screen.height() << " high";
    EXPECT_GE(testWindow.frameGeometry().width(), std::min(window().frameGeometry().width(), screen.width()));
    child<QTabWidget>("PageControl")->setCurrentIndex(0);
    EXPECT_FALSE(testWindow.isVisible());
    window().hide();
    EXPECT_EQ(testWindow.parentWidget(), nullptr);
}

TEST_F(SettingsWindowTest, LaserPageFollowsTheSourceAndShootsThroughTheController)
{
    laser();
    auto* tabs = child<QTabWidget>("PageControl");
    EXPECT_FALSE(window().laserReadBackRunning());
    tabs->setCurrentIndex(7);
    EXPECT_TRUE(window().laserReadBackRunning());
    tabs->setCurrentIndex(8);
    EXPECT_FALSE(window().laserReadBackRunning());
    tabs->setCurrentIndex(7);

    auto* source = child<QComboBox>("ComboBoxSource");
    ASSERT_GE(source->count(), 2);
    EXPECT_EQ(source->itemText(0), QStringLiteral("Pulse Triggered laser - No software control"));
    emit source->activated(1); // gated: one timed pulse instead of trains
    EXPECT_EQ(Settings().LaserName, QStringLiteral("Gated Output laser - No software control"));
    EXPECT_FALSE(child<QWidget>("GroupBoxPulseTrain")->isVisibleTo(&window()));
    EXPECT_TRUE(child<QWidget>("GroupBoxTimedPulse")->isVisibleTo(&window()));
    emit source->activated(0);
    EXPECT_TRUE(child<QWidget>("GroupBoxPulseTrain")->isVisibleTo(&window()));

    type("PulseTrainRate", "5000"); // held to 1000
    m_sent.clear();
    click("ButtonShootTrain");
    EXPECT_EQ(edit("PulseTrainRate")->text(), QStringLiteral("1000"));
    EXPECT_FALSE(m_sent.empty());
    EXPECT_FALSE(laser().GateIsOpen);
}

// The Laser page laid out as a desktop dialog: no empty group for a source without controls of
// its own, buttons and number boxes at their own width, the boxes of a page in one column.
TEST_F(SettingsWindowTest, PagesKeepTheirBoxesAlignedAndAtTheirOwnWidth)
{
    laser();
    auto* tabs = child<QTabWidget>("PageControl");
    auto* source = child<QComboBox>("ComboBoxSource");
    auto* control = child<QWidget>("GroupBoxLaserControl");
    tabs->setCurrentIndex(7);
    auto settle = [&] {
        QApplication::processEvents();
        window().layout()->activate();
        tabs->currentWidget()->layout()->activate();
    };
    // The x of each visible widget of a kind on the current page.
    auto columns = [&](auto* kind, const QString& prefix) {
        using W = std::remove_pointer_t<decltype(kind)>;
        std::set<int> xs;
        for (W* w : tabs->currentWidget()->findChildren<W*>())
            if (w->isVisibleTo(&window()) && w->objectName().startsWith(prefix))
                xs.insert(w->mapTo(&window(), QPoint(0, 0)).x());
        return xs;
    };

    for (const int builtIn : {0, 1}) {
        emit source->activated(builtIn);
        settle();
        EXPECT_FALSE(control->isVisibleTo(&window())) << source->itemText(builtIn).toStdString();
    }
    const int plugin = source->findText(QStringLiteral("DE60 Simulated Source"));
    ASSERT_GE(plugin, 0) << "the simulated source is not beside the test program";
    emit source->activated(plugin);
    settle();
    ASSERT_TRUE(control->isVisibleTo(&window()));
    EXPECT_EQ(columns(static_cast<QPushButton*>(nullptr), QStringLiteral("ButtonSet")).size(), 1u);
    EXPECT_EQ(columns(static_cast<QLineEdit*>(nullptr), QStringLiteral("EditLaser")).size(), 1u);
    for (QPushButton* b : tabs->currentWidget()->findChildren<QPushButton*>()) {
        if (b->isVisibleTo(&window())) {
            EXPECT_EQ(b->width(), b->sizeHint().width()) << b->objectName().toStdString();
        }
    }

    for (int page = 0; page < tabs->count(); ++page) {
        tabs->setCurrentIndex(page);
        settle();
        for (QSpinBox* spin : tabs->currentWidget()->findChildren<QSpinBox*>())
            EXPECT_LE(spin->width(), spin->sizeHint().width()) << spin->objectName().toStdString();
    }
    tabs->setCurrentIndex(0); // groups of forms only: every box in one column
    settle();
    const auto boxes = columns(static_cast<QWidget*>(nullptr), QStringLiteral("Edit"));
    const auto spins = columns(static_cast<QWidget*>(nullptr), QStringLiteral("SpinEdit"));
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(spins, boxes);
}

TEST_F(SettingsWindowTest, CountersAreGroupedAndResetAfterTheQuestion)
{
    store().WriteString("Hardware", "TotalPulseCount", "1234567");
    store().WriteString("Hardware", "PulseCount", "999");
    window();
    EXPECT_EQ(child<QLabel>("LabelTotalPulseCount")->text(), QStringLiteral("1,234,567"));
    EXPECT_EQ(child<QLabel>("LabelPulseCount")->text(), QStringLiteral("999"));
    m_dialogs.queueAnswer(DialogResult::No);
    click("ButtonResetPulseCount");
    EXPECT_EQ(m_dialogs.transcript().back().text, QStringLiteral("Are you sure to reset the counter?"));
    EXPECT_EQ(Settings().PulseCount, 999);
    m_dialogs.queueAnswer(DialogResult::Yes);
    click("ButtonResetPulseCount");
    EXPECT_EQ(Settings().PulseCount, 0);
    EXPECT_EQ(child<QLabel>("LabelPulseCount")->text(), QStringLiteral("0"));
    window().UpdatePulseCount(1000);
    EXPECT_EQ(Settings().TotalPulseCount, 1235567);
    // Written again when the window goes at the end of the run.
    m_window.reset();
    EXPECT_EQ(store().ReadString("Hardware", "TotalPulseCount", ""), QStringLiteral("1235567"));
    EXPECT_EQ(store().ReadString("Hardware", "PulseCount", ""), QStringLiteral("1000"));
}

TEST_F(SettingsWindowTest, CancelKeepsShotsCountedSinceTheLastWrite)
{
    window().UpdatePulseCount(100); // written at once
    window().UpdatePulseCount(250); // within the same second: pending
    click("ButtonCancel");
    EXPECT_EQ(Settings().TotalPulseCount, 250);
    EXPECT_EQ(store().ReadString("Hardware", "TotalPulseCount", ""), QStringLiteral("250"));
}

TEST_F(SettingsWindowTest, LaserUnitEnteredOnThePulsePage)
{
    window();
    child<QTabWidget>("PageControl")->setCurrentIndex(8);
    child<QLineEdit>("EditPartNumber")->setText("LU-77");
    click("ButtonPulseSet");
    EXPECT_TRUE(child<QWidget>("MemoPulseOverview")->property("plainText").toString().contains("LU-77"));
}

TEST_F(SettingsWindowTest, LabelRuleCombosShowTheStoredTextOrNothing)
{
    store().WriteString("Marking", "WLabeTextLengthMode", "Maximum ");
    store().WriteString("Marking", "WLabelTextType", "Numeric");
    window();
    EXPECT_EQ(child<QComboBox>("ComboBoxWLabeTextLengthMode")->currentIndex(), 2);
    EXPECT_EQ(child<QComboBox>("ComboBoxWLabelTextType")->currentIndex(), -1);
    // Copied at OK only.
    child<QComboBox>("ComboBoxWLabeTextLengthMode")->setCurrentIndex(1);
    EXPECT_EQ(Settings().WLabeTextLengthMode, QStringLiteral("Maximum "));
    click("ButtonClose");
    EXPECT_EQ(store().ReadString("Marking", "WLabeTextLengthMode", ""), QStringLiteral("Fixed "));
}

TEST_F(SettingsWindowTest, WorkingFolderEditAsksForARestart)
{
    window();
    enterService();
    m_dialogs.queueText(QStringLiteral("/data/station"));
    click("ButtonEditWorkingDir");
    EXPECT_EQ(child<QLabel>("LabelWorkingDir")->text(), QStringLiteral("/data/station/"));
    EXPECT_EQ(m_dialogs.texts().back(), QStringLiteral("Working directory edited. Please restart application."));
}

class SettingsLightTest : public SettingsWindowTest {
protected:
    void SetUp() override
    {
        SettingsWindowTest::SetUp();
        QString error;
        ASSERT_TRUE(m_light.start(&error)) << error.toStdString();
    }
    LightSimulator m_light;
};

TEST_F(SettingsLightTest, ConnectByDevicePathColourAndSaveTemplate)
{
    TLedsRGB light([] { return makeLightSerialLink(); });
    window().setLight(&light);
    child<QLineEdit>("EditLightDevice")->setText(m_light.portName());
    EXPECT_FALSE(child<QPushButton>("ButtonColors")->isEnabled());
    click("ButtonConnect");
    ASSERT_TRUE(light.IsConnected());
    EXPECT_EQ(keys::read(keys::ArdlightCOMnb), m_light.portName());
    EXPECT_EQ(child<QLabel>("LabelLightStatus")->text(), QStringLiteral("Connected"));
    EXPECT_TRUE(child<QPushButton>("ButtonColors")->isEnabled());
    EXPECT_FALSE(child<QPushButton>("ButtonConnect")->isEnabled());

    child<QCheckBox>("CheckBoxLed3")->setChecked(true);
    window().setColorChooser([](const QColor&) { return std::pair{QColor(255, 128, 0), false}; });
    click("ButtonColors");
    EXPECT_TRUE(light.GetLedsColor().contains("3#255#128#0#"));
    // The simulator reads the command on its own thread.
    for (int i = 0; i < 100 && !m_light.pattern().contains("3#255#128#0#"); ++i)
        QTest::qWait(20);
    EXPECT_TRUE(m_light.pattern().contains("3#255#128#0#"));
    EXPECT_EQ(child<QLabel>("LabelLed3")->palette().color(QPalette::WindowText), QColor(255, 128, 0));

    click("ButtonSaveTemplate");
    EXPECT_EQ(m_dialogs.texts().back(), QStringLiteral("No target to save!"));
    child<QRadioButton>("RadioButtonHolderFree")->click(); // loads the stored (all-off) template
    EXPECT_FALSE(light.GetLedsColor().contains("3#255#128#0#"));
    click("ButtonSaveTemplate");
    EXPECT_EQ(keys::read(keys::AdvLightHolderFree), keys::allOffLightTemplate());

    click("ButtonDisconnect");
    EXPECT_FALSE(light.IsConnected());
    EXPECT_EQ(child<QLabel>("LabelLightStatus")->text(), QStringLiteral("Disconnected"));
}

} // namespace
} // namespace lapido

namespace lapido {
namespace {

// The station connects its light at start and never hands it to the window: the page shows
// that light, connected, with its buttons usable.
TEST_F(SettingsLightTest, ThePageShowsTheLightTheStationConnected)
{
    TLedsRGB::setInstancePortOverride(m_light.portName());
    ASSERT_TRUE(TLedsRGB::GetInstance().IsConnected());
    window();
    auto* tabs = child<QTabWidget>("PageControl");
    tabs->setCurrentIndex(tabs->count() - 1);
    EXPECT_EQ(child<QLabel>("LabelLightStatus")->text(), QStringLiteral("Connected"));
    EXPECT_FALSE(child<QPushButton>("ButtonConnect")->isEnabled());
    EXPECT_TRUE(child<QPushButton>("ButtonColors")->isEnabled());
    TLedsRGB::setInstancePortOverride({});
}

} // namespace
} // namespace lapido
