// Faults of the machine while a label is marked on the station model: whatever goes wrong, the
// run ends in bounded time, the laser is commanded off, the operator reads one message saying
// what happened, and what was stored before stays as it was.
#include "controllerfaults.h"
#include "markingfixture.h"
#include "smalldisk.h"
#include "testdatabase.h"

#include "platform/eventpump.h"
#include "records/lapidographdb.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace lapido {
namespace {

using test::ControllerFault;
using test::DatabaseFault;
using test::MarkingFixture;
using test::SmallDisk;

// Runs inside the machine's waits; gives up (and says so) when the run outlasts its guard in
// virtual time, so a hang shows as a failure and not as a test that never ends.
class GuardedPump final : public EventPump {
public:
    GuardedPump(Clock& clock, std::int64_t limitUs, std::function<void()> f)
        : m_clock(clock), m_deadline(clock.nowUs() + limitUs), m_f(std::move(f)), m_previous(setEventPump(this))
    {
    }
    ~GuardedPump() override { setEventPump(m_previous); }
    void pump() override
    {
        if (m_clock.nowUs() > m_deadline) {
            if (!m_expired)
                MarkingAborted() = true;
            m_expired = true;
            return;
        }
        m_f();
    }
    bool expired() const { return m_expired; }

private:
    Clock& m_clock;
    std::int64_t m_deadline;
    std::function<void()> m_f;
    EventPump* m_previous;
    bool m_expired = false;
};

class ControllerFaultTest : public MarkingFixture, public ::testing::WithParamInterface<ControllerFault> {
protected:
    // The last character of a label node.
    static TGlyph* lastChar(TTreeNode* label)
    {
        TTreeNode* run = label->Item(label->Count() - 1);
        return run->Item(run->Count() - 1)->Data();
    }
};

TEST_P(ControllerFaultTest, RunEndsWithTheLaserOffAndTheOperatorTold)
{
    const ControllerFault& f = GetParam();
    // Counters as the station loaded them at start, stored and in its record.
    keys::write(keys::PulseCount, QStringLiteral("1234"));
    keys::write(keys::TotalPulseCount, QStringLiteral("56789"));
    Settings().PulseCount = 1234;
    Settings().TotalPulseCount = 56789;
    TTreeNode* label = addLabel("IIIIIIII");
    inspect();
    const QStringList traceBefore = trace();
    bool injected = false;
    {
        GuardedPump pump(m_clock, 600'000'000, [&] {
            if (!injected && sim().markCount() > 0) {
                f.inject(sim());
                injected = true;
            }
        });
        engrave();
        EXPECT_FALSE(pump.expired()) << "the run outlasted ten minutes of machine time";
    }
    ASSERT_TRUE(injected);
    EXPECT_EQ(st().AIMState, TAIMState::aimsInspecting);
    EXPECT_FALSE(laser().GateIsOpen);
    EXPECT_FALSE(laser().EnableIsOn);
    if (f.linkWorks) {
        const DmcWiring w = sim().wiring();
        EXPECT_FALSE(sim().output(w.gateBit)) << "gate line";
        EXPECT_FALSE(sim().output(w.enableBit)) << "enable line";
        EXPECT_FALSE(sim().isMoving('S'));
    }
    EXPECT_FALSE(lastChar(label)->Processed) << "a label cut short is not reported as marked";

    const QStringList lines = trace();
    EXPECT_TRUE(lines.contains("Mabu"));
    EXPECT_FALSE(lines.contains("Im:"));
    ASSERT_GE(lines.size(), traceBefore.size());
    EXPECT_EQ(lines.mid(0, traceBefore.size()), traceBefore) << "the trace keeps what it held";

    QStringList told;
    for (const auto& e : m_dialogs.transcript())
        told << e.title + ": " + e.text;
    ASSERT_EQ(told.size(), 1) << told.join("\n").toStdString();
    EXPECT_TRUE(told[0].contains(QString::fromLatin1(f.message))) << told[0].toStdString();

    // The shots fired before the fault are added, none taken away.
    EXPECT_GE(keys::read(keys::PulseCount).toLongLong(), 1234);
    EXPECT_GE(keys::read(keys::TotalPulseCount).toLongLong(), 56789);
}

INSTANTIATE_TEST_SUITE_P(Faults, ControllerFaultTest, ::testing::ValuesIn(test::controllerFaults()),
                         [](const auto& info) { return std::string(info.param.name); });

// The marking-record database fails: unreachable when the station starts, or its connection
// dropped by the server while a label is marked. Marking goes on; each run tells the operator
// once that its label was not recorded.
class DatabaseFaultTest : public MarkingFixture, public ::testing::WithParamInterface<DatabaseFault> {
protected:
    void SetUp() override
    {
        MarkingFixture::SetUp();
        const auto server = test::testDatabaseServer();
        if (GetParam().reachableAtStart) {
            if (!server)
                GTEST_SKIP() << test::kSkipWithoutServer;
            m_admin = server->connect();
            ASSERT_NE(m_admin, nullptr);
            ASSERT_TRUE(m_admin->exec(QStringLiteral("CREATE DATABASE IF NOT EXISTS Lapidograph")).ok());
        }
        test::storeDatabaseSettings(store(), server, GetParam().reachableAtStart);
    }
    void TearDown() override
    {
        m_station.reset();
        m_admin.reset();
        MarkingFixture::TearDown();
    }
    std::unique_ptr<OdbcConnection> m_admin;
};

TEST_P(DatabaseFaultTest, MarkingGoesOnAndEachRunSaysOnceItWasNotRecorded)
{
    const DatabaseFault& f = GetParam();
    keys::write(keys::PulseCount, QStringLiteral("1234"));
    keys::write(keys::TotalPulseCount, QStringLiteral("56789"));
    Settings().PulseCount = 1234;
    Settings().TotalPulseCount = 56789;
    TDataModule1 db;
    db.Open();
    EXPECT_EQ(m_dialogs.texts(),
              f.reachableAtStart ? QStringList{} : QStringList{QStringLiteral("Error: did not find the database")});
    ASSERT_EQ(db.connected(), f.reachableAtStart);
    QString connectionId;
    if (f.reachableAtStart) {
        const SqlRows id = db.connection()->query(QStringLiteral("SELECT CONNECTION_ID()"));
        ASSERT_EQ(id.rows.size(), 1u);
        connectionId = id.rows[0][0];
    }
    makeStation(scratch(), &db);

    for (const char* text : {"IIII", "HHHH"}) {
        SCOPED_TRACE(text);
        m_dialogs.clear();
        st().TreeViewGlyphs().Clear();
        TTreeNode* label = addLabel(QString::fromLatin1(text));
        inspect();
        const QStringList traceBefore = trace();
        {
            GuardedPump pump(m_clock, 600'000'000, [&] {
                if (!connectionId.isEmpty() && sim().markCount() > 0) {
                    ASSERT_TRUE(m_admin->exec(QStringLiteral("KILL ") + connectionId).ok());
                    connectionId.clear();
                }
            });
            engrave();
            EXPECT_FALSE(pump.expired()) << "the run outlasted ten minutes of machine time";
        }
        EXPECT_EQ(st().AIMState, TAIMState::aimsInspecting);
        EXPECT_FALSE(laser().GateIsOpen || laser().EnableIsOn);
        const DmcWiring w = sim().wiring();
        EXPECT_FALSE(sim().output(w.gateBit) || sim().output(w.enableBit));
        TTreeNode* run = label->Item(label->Count() - 1);
        EXPECT_TRUE(run->Item(run->Count() - 1)->Data()->Processed) << "the label itself was marked";

        const QStringList lines = trace();
        ASSERT_GE(lines.size(), traceBefore.size());
        EXPECT_EQ(lines.mid(0, traceBefore.size()), traceBefore);
        EXPECT_TRUE(lines.last().endsWith(QStringLiteral("]:ME"))) << "the run's trace is complete";
        EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("Error: database connection is absent")});
    }
    EXPECT_FALSE(db.connected());
    EXPECT_GT(keys::read(keys::PulseCount).toLongLong(), 1234) << "the shots of both runs are counted";
    EXPECT_GT(keys::read(keys::TotalPulseCount).toLongLong(), 56789);
}

INSTANTIATE_TEST_SUITE_P(Faults, DatabaseFaultTest,
                         ::testing::Values(DatabaseFault{"DownAtStart", false}, DatabaseFault{"LostMidRun", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The disk fills up while a label is marked, under the trace file or under the settings store
// that keeps the shot counters.
struct DiskFault {
    const char* name;
    bool traceOnIt;
    bool storeOnIt;
    const char* message; // what the operator is told, in part
};

void PrintTo(const DiskFault& f, std::ostream* os)
{
    *os << f.name;
}

class SmallDiskFixture : public MarkingFixture {
protected:
    void SetUp() override
    {
        MarkingFixture::SetUp();
        m_disk = std::make_unique<SmallDisk>(scratch(QStringLiteral("small")));
        if (!m_disk->mounted())
            GTEST_SKIP() << "a small filesystem cannot be mounted here (needs root)";
    }
    void TearDown() override
    {
        m_station.reset();
        m_logger.reset();
        // The store on the small disk closes before the disk goes.
        MarkingFixture::TearDown();
        m_disk.reset();
    }
    std::unique_ptr<SmallDisk> m_disk;
};

class FullDiskTest : public SmallDiskFixture, public ::testing::WithParamInterface<DiskFault> {};

TEST_P(FullDiskTest, RunEndsOnceToldAndKeepsWhatWasStored)
{
    const DiskFault& f = GetParam();
    if (f.storeOnIt) {
        auto moved = SettingsStore::open(m_disk->path() + QStringLiteral("/settings.db"));
        moved->setValues(store().entries());
        setAppRegistry(std::move(moved));
    }
    if (f.traceOnIt)
        makeStation(m_disk->path());
    keys::write(keys::PulseCount, QStringLiteral("1234"));
    keys::write(keys::TotalPulseCount, QStringLiteral("56789"));
    Settings().PulseCount = 1234;
    Settings().TotalPulseCount = 56789;
    addLabel("IIIIIIII");
    inspect();
    const QStringList traceBefore = trace();
    ASSERT_FALSE(traceBefore.isEmpty());
    bool filled = false;
    {
        GuardedPump pump(m_clock, 600'000'000, [&] {
            if (!filled && sim().markCount() > 0) {
                // The trace is brought to a block boundary first, so that its next line
                // needs a block of its own.
                if (f.traceOnIt) {
                    const qint64 block = ::sysconf(_SC_PAGESIZE);
                    const qint64 size = QFileInfo(m_logger->filePath()).size();
                    m_logger->AppendLogWD(QString(int((block - (size + 2) % block) % block), QLatin1Char('-')));
                }
                m_disk->fill();
                filled = true;
            }
        });
        engrave();
        EXPECT_FALSE(pump.expired()) << "the run outlasted ten minutes of machine time";
    }
    ASSERT_TRUE(filled);
    EXPECT_EQ(st().AIMState, TAIMState::aimsInspecting);
    EXPECT_FALSE(laser().GateIsOpen || laser().EnableIsOn);
    const DmcWiring w = sim().wiring();
    EXPECT_FALSE(sim().output(w.gateBit) || sim().output(w.enableBit));

    const QStringList told = m_dialogs.texts();
    ASSERT_EQ(told.size(), 1) << told.join("\n").toStdString();
    EXPECT_TRUE(told[0].contains(QString::fromLatin1(f.message), Qt::CaseInsensitive)) << told[0].toStdString();

    // What was stored before the disk filled is still there and still reads.
    const QStringList lines = trace();
    ASSERT_GE(lines.size(), traceBefore.size());
    EXPECT_EQ(lines.mid(0, traceBefore.size()), traceBefore);
    EXPECT_GE(keys::read(keys::PulseCount).toLongLong(), 1234);
    EXPECT_GE(keys::read(keys::TotalPulseCount).toLongLong(), 56789);
}

INSTANTIATE_TEST_SUITE_P(Faults, FullDiskTest,
                         ::testing::Values(DiskFault{"Trace", true, false, "trace file"},
                                           DiskFault{"Counters", false, true, "counters"}),
                         [](const auto& info) { return std::string(info.param.name); });

// The main window's template Save on a full disk, replacing the selected template or saving
// under a new name: refused in one message that names the file, and the files of the earlier
// save stay as they were, with nothing left beside them. When the template still fits but its
// snapshot does not, the operator is told about the snapshot, which keeps its earlier picture.
struct TemplateSave {
    const char* name;
    DialogResult answer;  // to "Replace Template ...?"
    const char* newName;  // typed for "Save As...", or none
    const char* fileName; // named in the message
    off_t room;           // left free on the disk: enough for the template but not its snapshot
};

void PrintTo(const TemplateSave& c, std::ostream* os)
{
    *os << c.name;
}

class TemplateOnFullDiskTest : public SmallDiskFixture, public ::testing::WithParamInterface<TemplateSave> {};

TEST_P(TemplateOnFullDiskTest, SaveIsRefusedNamingTheFileAndTheEarlierFilesStay)
{
    const TemplateSave& c = GetParam();
    setWorkingDir(m_disk->path() + QStringLiteral("/"));
    makeStation(scratch());
    const QDir templates(m_disk->path() + QStringLiteral("/Templates"));
    addLabel(QStringLiteral("AB"));
    m_dialogs.queueText(QStringLiteral("Ring"));
    st().BitBtnSaveTemplateClick();
    ASSERT_EQ(m_dialogs.transcript().size(), 1u) << m_dialogs.texts().join("\n").toStdString();
    const auto bytes = [&templates](const char* name) {
        QFile f(templates.filePath(QString::fromLatin1(name)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray xml = bytes("Ring.xml");
    const QByteArray jpg = bytes("Ring.jpg");
    ASSERT_TRUE(xml.contains("textLabel=\"AB\""));
    ASSERT_FALSE(jpg.isEmpty());

    st().TreeViewGlyphs().Clear();
    addLabel(QStringLiteral("CD"));
    m_disk->fill(c.room);
    m_dialogs.clear();
    m_dialogs.queueAnswer(c.answer);
    if (c.newName)
        m_dialogs.queueText(QString::fromLatin1(c.newName));
    st().BitBtnSaveTemplateClick();

    QStringList errors;
    for (const auto& e : m_dialogs.transcript())
        if (e.kind == DialogKind::Error)
            errors << e.text;
    ASSERT_EQ(errors.size(), 1) << m_dialogs.texts().join("\n").toStdString();
    EXPECT_TRUE(errors[0].contains(QString::fromLatin1(c.fileName))) << errors[0].toStdString();
    if (c.room > 0)
        EXPECT_TRUE(bytes("Ring.xml").contains("textLabel=\"CD\"")) << "the template itself was written";
    else
        EXPECT_EQ(bytes("Ring.xml"), xml);
    EXPECT_EQ(bytes("Ring.jpg"), jpg);
    EXPECT_EQ(templates.entryList(QDir::Files), (QStringList{QStringLiteral("Ring.jpg"), QStringLiteral("Ring.xml")}));
}

INSTANTIATE_TEST_SUITE_P(Faults, TemplateOnFullDiskTest,
                         ::testing::Values(TemplateSave{"Replace", DialogResult::Yes, nullptr, "Ring.xml", 0},
                                           TemplateSave{"SaveAs", DialogResult::No, "Band", "Band.xml", 0},
                                           TemplateSave{"SnapshotOnly", DialogResult::Yes, nullptr, "Ring.jpg", 4096}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace lapido
