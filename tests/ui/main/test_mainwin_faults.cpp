// Faults met while the main window engraves: the controller's, the camera's, the ring light's,
// the marking-record database's and a full disk. Whatever goes wrong, the run ends in bounded
// time with the laser off, the operator reads one message, and the window goes on working.
#include "mainwinfixture.h"
#include "smalldisk.h"
#include "testdatabase.h"

#include "records/stlogfile.h"
#include "platform/settingsstore.h"
#include "sim/dmcsimserver.h"
#include "sim/lightsimulator.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>

namespace lapido::test {
namespace {

class MainWindowFaultFixture : public MainWindowTest {
protected:
    struct FaultRun {
        bool injected = false;
        bool expired = false;
    };
    // Engrave (F9), with the fault brought in once the first mark is made. A run that outlasts
    // ten minutes of machine time is a hang; it is ended (and reported) here.
    FaultRun engraveWith(const std::function<void()>& inject)
    {
        FaultRun run;
        const std::int64_t deadlineUs = m_clock.nowUs() + 600'000'000;
        QTimer watch;
        watch.setInterval(0);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (m_window->station().AIMState != TAIMState::aimsMarking)
                return;
            if (!run.injected && markCount() > 0) {
                inject();
                run.injected = true;
            }
            if (!run.expired && m_clock.nowUs() > deadlineUs) {
                run.expired = true;
                MarkingAborted() = true;
            }
        });
        watch.start();
        key(Qt::Key_F9);
        watch.stop();
        return run;
    }
    bool laserOff() const
    {
        const DmcWiring wiring = (*m_sim)->wiring();
        return !m_laser->EnableIsOn && !m_laser->GateIsOpen && !(*m_sim)->output(wiring.gateBit)
            && !(*m_sim)->output(wiring.enableBit);
    }
    ::testing::AssertionResult wholeLabelMarked() const
    {
        const TMarkingProgress& progress = m_window->station().markingProgress();
        if (!MarkingAborted() && progress.glyphCount > 0 && progress.glyph == progress.glyphCount)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << (MarkingAborted() ? "aborted, " : "") << progress.glyph << " of "
                                             << progress.glyphCount << " glyphs marked; told: " << told().toStdString();
    }
    // The window takes the operator's hand again: the run's buttons are back and a label can
    // be added.
    void expectWindowWorking()
    {
        EXPECT_EQ(m_window->station().AIMState, TAIMState::aimsInspecting);
        EXPECT_TRUE(findButton<QToolButton>(QStringLiteral("Inspect"))->isChecked());
        EXPECT_FALSE(findButton(QStringLiteral("Abort (Esc)"))->isEnabled());
        EXPECT_TRUE(findButton(QStringLiteral("Settings"))->isEnabled());
        auto* tree = m_window->findChild<QTreeWidget*>();
        const int labels = tree->topLevelItemCount();
        addLabel(QStringLiteral("I"));
        EXPECT_EQ(tree->topLevelItemCount(), labels + 1);
    }
    // The next stone: reset and free the holder (F10), "Go to Start", and the table brought
    // back to where the last stone was centred, as the operator centres the next one.
    void nextStone()
    {
        double x = 0, y = 0, z = 0, w = 0;
        m_laser->GetPosition(x, y, z, w);
        key(Qt::Key_F10);
        auto* goToStart = m_window->findChild<QPushButton*>(QStringLiteral("BitBtn3"));
        ASSERT_TRUE(goToStart && goToStart->isVisible()) << told().toStdString();
        QTest::mouseClick(goToStart, Qt::LeftButton);
        // A fresh stone: the marks of the last one leave with it (left on the simulated stone,
        // the next label would be marked over them, and its inspection would rightly find
        // marks beside it).
        (*m_sim)->clearMarks();
        m_laser->MoveTo(x, y, z);
        m_laser->WaitOnMotionComplete();
        // The marking reference follows the position the window reads.
        letPositionTimerTick();
    }
    QString told() const { return m_dialogs.texts().join(QStringLiteral(" | ")); }
    // Waits, with the window's events running, until the ring light's start is over.
    bool lightStarted()
    {
        QDeadlineTimer limit(30000);
        while (!limit.hasExpired()) {
            const TLedsRGB* light = TLedsRGB::ExistingInstance();
            if (light && !light->Starting())
                return true;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return false;
    }
    // Lets the window's position timer run n more ticks (each reads the machine, and a further
    // message would come with one), counted on the timer itself: elapsed time, which a busy
    // machine stretches, says nothing about how many ticks ran.
    void letPositionTimerTick(int n = 3)
    {
        QTimer* positionTimer = nullptr;
        for (QTimer* t : m_window->findChildren<QTimer*>())
            if (!t->isSingleShot() && t->interval() == TStation::kPositionTimerMs)
                positionTimer = t;
        ASSERT_NE(positionTimer, nullptr);
        int ticks = 0;
        const QMetaObject::Connection counted = QObject::connect(positionTimer, &QTimer::timeout, [&ticks] { ++ticks; });
        // Only a stopped timer ends the wait without its ticks; then the test fails here.
        QDeadlineTimer stalled(std::chrono::minutes(2));
        while (ticks < n && !stalled.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
        QObject::disconnect(counted);
        EXPECT_GE(ticks, n) << "the window's position timer stopped";
    }
};

// The controller's faults met during an Engrave (F9) of the window: the run ends, the laser is
// off, the operator reads one message, and the window goes on working.
class MainWindowFaultTest : public MainWindowFaultFixture, public ::testing::WithParamInterface<ControllerFault> {};

TEST_P(MainWindowFaultTest, F9RunStopsWithTheLaserOffOneMessageAndTheWindowWorking)
{
    const ControllerFault& f = GetParam();
    start();
    addLabel(QStringLiteral("HHHH"));
    m_dialogs.clear();
    const FaultRun run = engraveWith([&] { f.inject(**m_sim); });
    ASSERT_TRUE(run.injected);
    EXPECT_FALSE(run.expired) << "the run outlasted ten minutes of machine time";
    EXPECT_TRUE(MarkingAborted()) << "a label cut short is not reported as marked";
    EXPECT_FALSE(m_laser->EnableIsOn || m_laser->GateIsOpen);
    if (f.linkWorks) {
        EXPECT_TRUE(laserOff()) << "gate and enable lines";
    }
    // The window's timers go on reading the machine; the operator is still told only once.
    letPositionTimerTick();
    const QStringList texts = m_dialogs.texts();
    ASSERT_EQ(texts.size(), 1) << told().toStdString();
    EXPECT_TRUE(texts[0].contains(QString::fromLatin1(f.message))) << texts[0].toStdString();

    expectWindowWorking();
    // Once a controller that still answers is clear, Engrave restarts the label.
    if (f.linkWorks) {
        (*m_sim)->setLimitSwitch('X', 0);
        m_dialogs.clear();
        const int before = markCount();
        m_dialogs.queueCaption(QStringLiteral("Restart"));
        key(Qt::Key_F9);
        EXPECT_GT(markCount(), before);
        EXPECT_FALSE(MarkingAborted()) << told().toStdString();
        EXPECT_FALSE(m_laser->EnableIsOn || m_laser->GateIsOpen);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, MainWindowFaultTest, ::testing::ValuesIn(controllerFaults()),
                         [](const auto& info) { return std::string(info.param.name); });

// The camera lost in the middle of an Engrave: the laser does not need it, so the label is
// marked in full without a box in the middle of the run, and the picture shows the grey field.
TEST_F(MainWindowFaultFixture, CameraLostDuringF9LeavesTheRunAloneAndThePictureGrey)
{
    start();
    addLabel(QStringLiteral("HHHH"));
    m_dialogs.clear();
    const FaultRun run = engraveWith([] { setSimulatedCameraLost(true); });
    ASSERT_TRUE(run.injected);
    EXPECT_TRUE(wholeLabelMarked());
    EXPECT_TRUE(laserOff());
    EXPECT_TRUE(m_dialogs.texts().isEmpty()) << told().toStdString();
    const QImage picture = cameraPicture();
    EXPECT_EQ(picture.pixel(picture.width() / 2, picture.height() / 2), kVideoBackground);
    // The window goes on: another label is added and engraved.
    expectWindowWorking();
    const int before = markCount();
    key(Qt::Key_F9);
    EXPECT_GT(markCount(), before);
}

// The ring light's cable pulled while a label is engraved. The marking does not need the
// light: the label is marked in full. The next change of light (the reset for the next stone,
// the rotate keys) finds the light gone; the operator is told once, and the window goes on.
TEST_F(MainWindowFaultFixture, RingLightUnpluggedDuringF9IsToldOnceAndTheWindowGoesOn)
{
    LightSimulator light;
    QString why;
    ASSERT_TRUE(light.start(&why)) << why.toStdString();
    keys::write(keys::ArdlightCOMnb, light.portName());
    start();
    ASSERT_TRUE(lightStarted());
    ASSERT_TRUE(TLedsRGB::GetInstance().IsConnected());
    addLabel(QStringLiteral("HHHH"));
    m_dialogs.clear();
    const FaultRun run = engraveWith([&] { light.stop(); });
    ASSERT_TRUE(run.injected);
    EXPECT_TRUE(wholeLabelMarked());
    EXPECT_TRUE(laserOff());

    nextStone();
    // The rotate keys: Ctrl held with R down, then "*" and "-" of the numeric pad.
    QTest::keyPress(m_window.get(), Qt::Key_R, Qt::ControlModifier);
    QTest::keyClick(m_window.get(), Qt::Key_Asterisk, Qt::ControlModifier | Qt::KeypadModifier);
    QTest::keyClick(m_window.get(), Qt::Key_Minus, Qt::ControlModifier | Qt::KeypadModifier);
    QTest::keyRelease(m_window.get(), Qt::Key_R, Qt::ControlModifier);
    letPositionTimerTick();
    const QStringList texts = m_dialogs.texts();
    ASSERT_EQ(texts.size(), 1) << told().toStdString();
    EXPECT_TRUE(texts[0].contains(QStringLiteral("ring light"), Qt::CaseInsensitive)) << texts[0].toStdString();
    EXPECT_FALSE(TLedsRGB::GetInstance().IsConnected());

    // The next stone is marked as before.
    m_window->station().TreeViewGlyphs().Clear();
    addLabel(QStringLiteral("I"));
    const int before = markCount();
    key(Qt::Key_F9);
    EXPECT_GT(markCount(), before);
    EXPECT_TRUE(laserOff());
    EXPECT_EQ(m_dialogs.texts().size(), 1) << told().toStdString();
}

// The window is shown and used while the ring light comes up; Engrave waits for the light,
// says why, and moves nothing until it is ready.
TEST_F(MainWindowFaultFixture, EngraveWaitsForTheRingLightsStart)
{
    LightSimulator light;
    QString why;
    ASSERT_TRUE(light.start(&why)) << why.toStdString();
    keys::write(keys::ArdlightCOMnb, light.portName());
    start();
    ASSERT_TRUE(m_window->isVisible());
    auto* state = m_window->findChild<QLabel*>(QStringLiteral("LabelLightState"));
    ASSERT_NE(state, nullptr);
    ASSERT_NE(TLedsRGB::ExistingInstance(), nullptr);
    ASSERT_TRUE(TLedsRGB::ExistingInstance()->Starting()) << "the window waited for the light before it was shown";
    EXPECT_TRUE(state->text().contains(QStringLiteral("starting")));

    addLabel(QStringLiteral("I"));
    m_dialogs.clear();
    key(Qt::Key_F9);
    EXPECT_EQ(markCount(), 0);
    EXPECT_TRUE(laserOff());
    ASSERT_EQ(m_dialogs.texts().size(), 1) << told().toStdString();
    EXPECT_TRUE(m_dialogs.texts()[0].contains(QStringLiteral("ring light is still starting"))) << told().toStdString();
    EXPECT_NE(m_window->station().controls().down, TSpeedButton::Mark);

    ASSERT_TRUE(lightStarted());
    EXPECT_EQ(state->text(), QStringLiteral("light ready"));
    // The light heard what a waiting start says, then the template asked for at the window's
    // show.
    QDeadlineTimer limit(10000);
    while (light.received().size() < 3 && !limit.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const QStringList heard = light.received();
    ASSERT_EQ(heard.size(), 3) << heard.join(u'|').toStdString();
    EXPECT_EQ(heard[0], QStringLiteral("TSN"));
    EXPECT_EQ(heard[1], QStringLiteral("TC"));
    EXPECT_TRUE(heard[2].startsWith(QStringLiteral("SC"))) << heard[2].toStdString();
    m_dialogs.clear();
    key(Qt::Key_F9);
    EXPECT_GT(markCount(), 0);
    EXPECT_TRUE(laserOff());
}

// The marking-record database unreachable when the window opens, or its connection dropped by
// the server while a label is marked. Marking goes on; each run tells the operator once that
// its label was not recorded.
class MainWindowDatabaseTest : public MainWindowFaultFixture, public ::testing::WithParamInterface<DatabaseFault> {
protected:
    void SetUp() override
    {
        MainWindowFaultFixture::SetUp();
        const auto server = testDatabaseServer();
        if (GetParam().reachableAtStart) {
            if (!server)
                GTEST_SKIP() << kSkipWithoutServer;
            m_admin = server->connect();
            ASSERT_NE(m_admin, nullptr);
            ASSERT_TRUE(m_admin->exec(QStringLiteral("CREATE DATABASE IF NOT EXISTS Lapidograph")).ok());
        }
        storeDatabaseSettings(store(), server, GetParam().reachableAtStart);
    }
    void TearDown() override
    {
        MainWindowFaultFixture::TearDown();
        m_admin.reset();
    }
    // Drops every connection of the server but the test's own: the station's, as a server
    // restart would.
    void dropStationConnections()
    {
        const SqlRows ids = m_admin->query(QStringLiteral(
            "SELECT ID FROM information_schema.PROCESSLIST WHERE ID <> CONNECTION_ID() AND DB = 'Lapidograph'"));
        ASSERT_FALSE(ids.rows.empty()) << "the station's connection";
        for (const auto& row : ids.rows)
            ASSERT_TRUE(m_admin->exec(QStringLiteral("KILL ") + row[0]).ok());
    }
    std::unique_ptr<OdbcConnection> m_admin;
};

TEST_P(MainWindowDatabaseTest, MarkingGoesOnAndEachRunSaysOnceItWasNotRecorded)
{
    const DatabaseFault& f = GetParam();
    start();
    EXPECT_EQ(m_dialogs.texts().contains(QStringLiteral("Error: did not find the database")), !f.reachableAtStart)
        << told().toStdString();
    bool dropped = !f.reachableAtStart;
    for (const char* text : {"HHHH", "II"}) {
        SCOPED_TRACE(text);
        m_window->station().TreeViewGlyphs().Clear();
        addLabel(QString::fromLatin1(text));
        m_dialogs.clear();
        const FaultRun run = engraveWith([&] {
            if (!dropped) {
                dropStationConnections();
                dropped = true;
            }
        });
        ASSERT_TRUE(run.injected);
        EXPECT_FALSE(run.expired) << "the run outlasted ten minutes of machine time";
        EXPECT_TRUE(wholeLabelMarked());
        EXPECT_TRUE(laserOff());
        EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("Error: database connection is absent")});
        expectWindowWorking();
        nextStone();
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, MainWindowDatabaseTest,
                         ::testing::Values(DatabaseFault{"DownAtStart", false}, DatabaseFault{"LostMidRun", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The disk under the trace file, the templates or the settings store fills up.
class MainWindowFullDiskTest : public MainWindowFaultFixture {
protected:
    void SetUp() override
    {
        MainWindowFaultFixture::SetUp();
        m_disk = std::make_unique<SmallDisk>(scratch(QStringLiteral("small")));
        if (!m_disk->mounted())
            GTEST_SKIP() << "a small filesystem cannot be mounted here (needs root)";
        // The window's trace goes to the folder the station runs in.
        m_previousFolder = QDir::currentPath();
        QDir::setCurrent(m_disk->path());
        FileLogger::ResetInstance();
    }
    void TearDown() override
    {
        MainWindowFaultFixture::TearDown();
        FileLogger::ResetInstance();
        if (!m_previousFolder.isEmpty())
            QDir::setCurrent(m_previousFolder);
        m_disk.reset();
    }
    QStringList trace() const
    {
        QFile f(FileLogger::GetInstance().filePath());
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).split(QStringLiteral("\r\n")) : QStringList();
    }
    std::unique_ptr<SmallDisk> m_disk;
    QString m_previousFolder;
};

// The trace's disk fills up while a label is engraved. The run ends with the laser off and the
// operator told once; the trace keeps what it held, and once the disk has room again the next
// label is marked and traced in full.
TEST_F(MainWindowFullDiskTest, TraceOnAFullDiskEndsTheRunOnceToldAndKeepsTheTrace)
{
    start();
    ASSERT_TRUE(FileLogger::GetInstance().filePath().startsWith(m_disk->path()));
    addLabel(QStringLiteral("HHHHHHHH"));
    m_dialogs.clear();
    QStringList before;
    const FaultRun run = engraveWith([&] {
        // The trace is brought to a block boundary first, so that its next line needs a block
        // of its own.
        FileLogger& logger = FileLogger::GetInstance();
        const qint64 block = ::sysconf(_SC_PAGESIZE);
        const qint64 size = QFileInfo(logger.filePath()).size();
        logger.AppendLogWD(QString(int((block - (size + 2) % block) % block), QLatin1Char('-')));
        before = trace();
        m_disk->fill();
    });
    ASSERT_TRUE(run.injected);
    EXPECT_FALSE(run.expired) << "the run outlasted ten minutes of machine time";
    EXPECT_TRUE(laserOff());
    letPositionTimerTick();
    const QStringList texts = m_dialogs.texts();
    ASSERT_EQ(texts.size(), 1) << told().toStdString();
    EXPECT_TRUE(texts[0].contains(QStringLiteral("trace file"), Qt::CaseInsensitive)) << texts[0].toStdString();
    const QStringList after = trace();
    ASSERT_GE(after.size(), before.size());
    EXPECT_EQ(after.mid(0, before.size() - 1), before.mid(0, before.size() - 1)) << "the trace keeps what it held";
    expectWindowWorking();

    m_disk->free();
    nextStone();
    m_window->station().TreeViewGlyphs().Clear();
    addLabel(QStringLiteral("II"));
    m_dialogs.clear();
    key(Qt::Key_F9);
    EXPECT_TRUE(wholeLabelMarked()) << told().toStdString();
    EXPECT_TRUE(m_dialogs.texts().isEmpty()) << told().toStdString();
    EXPECT_TRUE(trace().join(QStringLiteral("\n")).contains(QStringLiteral("Label \"II\"")));
}

// A template saved over its earlier version on a full disk: refused in one message naming the
// file, the earlier files kept, and the label still in the window, so that the same Save once
// the disk has room writes it.
TEST_F(MainWindowFullDiskTest, TemplateSaveOnAFullDiskNamesTheFileAndKeepsTheEarlierOne)
{
    setWorkingDir(m_disk->path() + QStringLiteral("/"));
    keys::write(keys::WorkingDir, m_disk->path() + QStringLiteral("/"));
    start();
    const QDir templates(m_disk->path() + QStringLiteral("/Templates"));
    const auto bytes = [&templates](const char* name) {
        QFile f(templates.filePath(QString::fromLatin1(name)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    addLabel(QStringLiteral("AB"));
    m_dialogs.clear();
    m_dialogs.queueText(QStringLiteral("Ring"));
    click(QStringLiteral("Save"));
    const QByteArray xml = bytes("Ring.xml");
    const QByteArray jpg = bytes("Ring.jpg");
    ASSERT_TRUE(xml.contains("textLabel=\"AB\"")) << told().toStdString();
    ASSERT_FALSE(jpg.isEmpty());

    m_window->station().TreeViewGlyphs().Clear();
    addLabel(QStringLiteral("CD"));
    m_disk->fill();
    m_dialogs.clear();
    m_dialogs.queueAnswer(DialogResult::Yes);
    click(QStringLiteral("Save"));
    QStringList errors;
    for (const auto& e : m_dialogs.transcript())
        if (e.kind == DialogKind::Error)
            errors << e.text;
    ASSERT_EQ(errors.size(), 1) << told().toStdString();
    EXPECT_TRUE(errors[0].contains(QStringLiteral("Ring.xml"))) << errors[0].toStdString();
    EXPECT_EQ(bytes("Ring.xml"), xml);
    EXPECT_EQ(bytes("Ring.jpg"), jpg);
    EXPECT_EQ(templates.entryList(QDir::Files), (QStringList{QStringLiteral("Ring.jpg"), QStringLiteral("Ring.xml")}));
    auto* combo = m_window->findChild<QComboBox*>(QStringLiteral("ComboBoxTemplates"));
    EXPECT_TRUE(combo->currentText().endsWith(QStringLiteral("Ring"))) << combo->currentText().toStdString();

    m_disk->free();
    m_dialogs.clear();
    m_dialogs.queueAnswer(DialogResult::Yes);
    click(QStringLiteral("Save"));
    EXPECT_TRUE(bytes("Ring.xml").contains("textLabel=\"CD\"")) << told().toStdString();
    for (const auto& e : m_dialogs.transcript())
        EXPECT_NE(e.kind, DialogKind::Error) << e.text.toStdString();
}

// The shot counters of a real machine's run on a full disk. Shots are counted only for a
// controller reached at an address (a simulated machine's shots are not the laser's), so the
// simulated controller is served over TCP here, as a machine's controller is reached. The run
// goes on, the operator is told once, and the counters stored before stay.
TEST_F(MainWindowFullDiskTest, CountersOnAFullDiskAreToldOnceAndKeepTheirStoredValues)
{
    DmcSimServer server(m_sim->get());
    std::string error;
    ASSERT_TRUE(server.listen(0, "127.0.0.1", &error)) << error;
    keys::write(keys::GalilIP, QStringLiteral("127.0.0.1:%1").arg(server.port()));
    auto moved = SettingsStore::open(m_disk->path() + QStringLiteral("/settings.db"));
    ASSERT_NE(moved, nullptr);
    moved->setValues(store().entries());
    setAppRegistry(std::move(moved));
    keys::write(keys::PulseCount, QStringLiteral("1234"));
    keys::write(keys::TotalPulseCount, QStringLiteral("56789"));
    Settings().PulseCount = 1234;
    Settings().TotalPulseCount = 56789;
    setLaser(nullptr);
    m_laser = std::make_unique<TLaser>();
    setLaser(m_laser.get());
    ASSERT_TRUE(m_laser->HardwareFound);
    // The trace is kept off the full disk: its length follows the move sampler, which runs on
    // the wall clock, so whether its last lines still found room would depend on how busy the
    // machine was. Its own full disk is another test's.
    QDir::setCurrent(scratch());
    FileLogger::ResetInstance();
    start();
    ASSERT_FALSE(FileLogger::GetInstance().filePath().startsWith(m_disk->path()));
    addLabel(QStringLiteral("HHHH"));
    m_dialogs.clear();
    const FaultRun run = engraveWith([&] { m_disk->fill(); });
    ASSERT_TRUE(run.injected);
    EXPECT_FALSE(run.expired) << "the run outlasted ten minutes of machine time";
    EXPECT_TRUE(laserOff());
    letPositionTimerTick();
    const QStringList texts = m_dialogs.texts();
    ASSERT_EQ(texts.size(), 1) << told().toStdString();
    EXPECT_TRUE(texts[0].contains(QStringLiteral("counters"), Qt::CaseInsensitive)) << texts[0].toStdString();
    EXPECT_GE(keys::read(keys::PulseCount).toLongLong(), 1234);
    EXPECT_GE(keys::read(keys::TotalPulseCount).toLongLong(), 56789);
    expectWindowWorking();
    m_window.reset();
    setLaser(nullptr);
    m_laser.reset();
}

} // namespace
} // namespace lapido::test
