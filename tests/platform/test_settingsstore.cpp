// The settings store: read rules, names without case, bad files, two writers at once.
#include "platform/settingsstore.h"
#include "platform/numfmt.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace lapido;

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_store = SettingsStore::open(path());
    }
    QString path() const { return m_dir.filePath(QStringLiteral("settings.db")); }
    QTemporaryDir m_dir;
    std::unique_ptr<SettingsStore> m_store;
};

TEST_F(SettingsStoreTest, MissingSectionOrValueGivesTheDefault)
{
    EXPECT_EQ(m_store->ReadString("Nope", "Key", "dflt"), QStringLiteral("dflt"));
    EXPECT_EQ(m_store->ReadInteger("Nope", "Key", 7), 7);
    EXPECT_TRUE(m_store->ReadBool("Nope", "Key", true));
    EXPECT_EQ(m_store->ReadFloat("Nope", "Key", "2.5", 9), 2.5);
    EXPECT_FALSE(m_store->sectionExists("Nope"));
}

TEST_F(SettingsStoreTest, NamesIgnoreCaseAndKeepTheirFirstSpelling)
{
    m_store->WriteString("Motion", "X_Accel", "5");
    m_store->WriteString("MOTION", "x_accel", "7");
    EXPECT_EQ(m_store->ReadString("motion", "X_ACCEL", ""), QStringLiteral("7"));
    const auto all = m_store->entries();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].section, QStringLiteral("Motion"));
    EXPECT_EQ(all[0].key, QStringLiteral("X_Accel"));
}

TEST_F(SettingsStoreTest, TypedReadsFollowTheirRules)
{
    struct Case {
        const char* stored;
        int asInt;
        bool asBool;
    };
    const Case cases[] = {{"120", 120, true}, {"-5", -5, true}, {"0", 0, false},
                          {"1.5", 42, true}, {"", 42, true}, {"abc", 42, true}};
    for (const auto& c : cases) {
        m_store->WriteString("S", "K", c.stored);
        EXPECT_EQ(m_store->ReadInteger("S", "K", 42), c.asInt) << c.stored;
        EXPECT_EQ(m_store->ReadBool("S", "K", true), c.asBool) << c.stored;
    }
    // A present but empty value is the stored text, not the default.
    m_store->WriteString("S", "Empty", "");
    EXPECT_EQ(m_store->ReadString("S", "Empty", "dflt"), QString());
    m_store->WriteString("S", "F", "abc");
    EXPECT_EQ(m_store->ReadFloat("S", "F", "5.0", 100), 100);
    m_store->WriteColor("Colors", "CrossHair", 255);
    EXPECT_EQ(m_store->ReadString("Colors", "CrossHair", ""), QStringLiteral("255"));
    EXPECT_EQ(m_store->ReadColor("Colors", "CrossHair", 0), 255u);
    m_store->WriteInteger("Hardware", "TotalPulseCount", 123456789012345LL);
    EXPECT_EQ(m_store->ReadInt64("Hardware", "TotalPulseCount", 0), 123456789012345LL);
}

TEST_F(SettingsStoreTest, FloatsFollowTheUserLocale)
{
    setUserLocale(QLocale(QLocale::German, QLocale::Germany));
    m_store->WriteFloat("Marking", "MarkingSpeed", 0.5);
    EXPECT_EQ(m_store->ReadString("Marking", "MarkingSpeed", ""), QStringLiteral("0,5"));
    EXPECT_EQ(m_store->ReadFloat("Marking", "MarkingSpeed", "0.5", 0.2), 0.5);
    m_store->WriteString("Marking", "MarkingSpeed", "0.5"); // written on an English system
    EXPECT_EQ(m_store->ReadFloat("Marking", "MarkingSpeed", "0.5", 0.2), 0.2);
    setUserLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(m_store->ReadFloat("Marking", "MarkingSpeed", "0.5", 0.2), 0.5);
    setUserLocale(QLocale::system());
}

TEST_F(SettingsStoreTest, ValuesSurviveReopening)
{
    m_store->WriteString("Layout", "TextLabel", QStringLiteral("Ünïcode\ttab\nline"));
    m_store.reset();
    auto again = SettingsStore::open(path());
    EXPECT_EQ(again->ReadString("Layout", "TextLabel", ""), QStringLiteral("Ünïcode\ttab\nline"));
}

namespace {
// Runs on every connection opened while registered: foreign keys on, so that a deferred one can
// make a COMMIT fail.
int enableForeignKeys(sqlite3* db, const char**, const void*)
{
    return sqlite3_exec(db, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr);
}

struct ForeignKeysOnEveryConnection {
    ForeignKeysOnEveryConnection() { sqlite3_auto_extension(hook()); }
    ~ForeignKeysOnEveryConnection() { sqlite3_cancel_auto_extension(hook()); }
    ForeignKeysOnEveryConnection(const ForeignKeysOnEveryConnection&) = delete;
    ForeignKeysOnEveryConnection& operator=(const ForeignKeysOnEveryConnection&) = delete;
    static void (*hook())() { return reinterpret_cast<void (*)()>(&enableForeignKeys); }
};
} // namespace

// A COMMIT refused at its end (here a deferred foreign key that a trigger breaks for the value
// "poison") reports the write as failed, keeps none of its values, and leaves the store
// writable.
TEST_F(SettingsStoreTest, FailedCommitRollsBackAndLaterWritesWork)
{
    const ForeignKeysOnEveryConnection foreignKeys;
    m_store = SettingsStore::open(path());
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(path()).constData(), &db), SQLITE_OK);
        const int rc = sqlite3_exec(db,
                                    "CREATE TABLE parent(id INTEGER PRIMARY KEY);"
                                    "CREATE TABLE child(p INTEGER REFERENCES parent(id) DEFERRABLE INITIALLY DEFERRED);"
                                    "CREATE TRIGGER poison AFTER INSERT ON settings WHEN new.value = 'poison'"
                                    " BEGIN INSERT INTO child VALUES (1); END;",
                                    nullptr, nullptr, nullptr);
        sqlite3_close(db);
        ASSERT_EQ(rc, SQLITE_OK);
    }

    EXPECT_THROW(m_store->setValues({{"S", "Kept", "no"}, {"S", "Bad", "poison"}}), SettingsStoreError);
    EXPECT_FALSE(m_store->value("S", "Kept").has_value());
    EXPECT_THROW(m_store->setValue("S", "Bad", "poison"), SettingsStoreError);

    m_store->setValues({{"S", "Kept", "yes"}, {"S", "Other", "1"}});
    m_store->WriteString("S", "Later", "2");
    m_store.reset();
    auto again = SettingsStore::open(path());
    EXPECT_EQ(again->ReadString("S", "Kept", ""), QStringLiteral("yes"));
    EXPECT_EQ(again->ReadString("S", "Later", ""), QStringLiteral("2"));
    EXPECT_FALSE(again->value("S", "Bad").has_value());
}

TEST(SettingsStoreFile, NotADatabaseIsOneClearErrorAndTheFileIsUntouched)
{
    QTemporaryDir dir;
    const QString p = dir.filePath("settings.db");
    QFile f(p);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const QByteArray junk(4096, 'x');
    f.write(junk);
    f.close();
    try {
        SettingsStore::open(p);
        FAIL() << "opened a file that is not a database";
    } catch (const SettingsStoreError& e) {
        EXPECT_NE(std::string(e.what()).find(p.toStdString()), std::string::npos) << e.what();
    }
    QFile back(p);
    ASSERT_TRUE(back.open(QIODevice::ReadOnly));
    EXPECT_EQ(back.readAll(), junk);
}

TEST(SettingsStoreFile, ReadOnlyFileIsRefused)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes read-only files";
    QTemporaryDir dir;
    const QString p = dir.filePath("settings.db");
    SettingsStore::open(p)->WriteString("A", "B", "C");
    ASSERT_EQ(chmod(QFile::encodeName(p).constData(), 0444), 0);
    EXPECT_THROW(SettingsStore::open(p), SettingsStoreError);
}

// A companion program writes while the station reads and writes: nothing may fail or be lost.
TEST(SettingsStoreFile, TwoProcessesWriteAtOnceAndLoseNothing)
{
    QTemporaryDir dir;
    const QString p = dir.filePath("settings.db");
    // The station's store is open when the companion is forked: the child must take turns
    // with it, not pass through the locks it inherits.
    auto store = SettingsStore::open(p);
    constexpr int kWrites = 2000;

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int rc = 0;
        try {
            auto store = SettingsStore::open(p);
            for (int i = 0; i < kWrites; ++i) {
                store->WriteInteger("Child", QString::number(i), i);
                if (store->ReadInteger("Child", QString::number(i), -1) != i)
                    rc = 3;
            }
        } catch (...) {
            rc = 4;
        }
        _exit(rc);
    }
    int readFailures = 0;
    for (int i = 0; i < kWrites; ++i) {
        store->WriteInteger("Parent", QString::number(i), i);
        store->ReadString("Child", QString::number(i / 2), "");
        if (store->ReadInteger("Parent", QString::number(i), -1) != i)
            ++readFailures;
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFailures, 0);
    EXPECT_EQ(store->entries("Parent").size(), static_cast<size_t>(kWrites));
    EXPECT_EQ(store->entries("Child").size(), static_cast<size_t>(kWrites));
    for (int i = 0; i < kWrites; i += 97)
        EXPECT_EQ(store->ReadInteger("Child", QString::number(i), -1), i);
}

namespace {

// Opens and closes each of the store's files as a file dialog guessing their type does. On
// Linux that close drops every record lock the process holds on the file.
void touchStoreFiles(const QString& path)
{
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        const QByteArray name = QFile::encodeName(path + QLatin1String(suffix));
        const int fd = ::open(name.constData(), O_RDONLY);
        if (fd < 0)
            continue;
        char head[64];
        [[maybe_unused]] const ssize_t n = ::read(fd, head, sizeof head);
        ::close(fd);
    }
}

// A companion program: this test program started again with LAPIDO_STORE_COMPANION set to
// "set|path|section|key|value" or "get|path|section|key|expected"; it exits 0 when the write
// was made or the read gave the expected text. "stockset" writes as a program using SQLite as
// it comes would: its close folds the log into the file and removes it when it finds no other
// connection open. With "held|file|offset" it exits 0 when another
// process holds a lock on that byte of the file (one a write lock would conflict with), 1 when
// nobody does. A fork would not do: it would carry the station's connection state into the
// companion.
const bool g_companionRun = [] {
    const QByteArray job = qgetenv("LAPIDO_STORE_COMPANION");
    if (job.isEmpty())
        return false;
    const QStringList f = QString::fromUtf8(job).split(QLatin1Char('|'));
    int rc = 2;
    if (f.value(0) == QLatin1String("held")) {
        const int fd = ::open(QFile::encodeName(f.value(1)).constData(), O_RDWR);
        struct flock probe {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        probe.l_start = f.value(2).toLongLong();
        probe.l_len = 1;
        if (fd >= 0 && ::fcntl(fd, F_GETLK, &probe) == 0)
            rc = probe.l_type != F_UNLCK ? 0 : 1;
        _exit(rc);
    }
    if (f.value(0) == QLatin1String("stockset")) {
        sqlite3* db = nullptr;
        sqlite3_stmt* st = nullptr;
        rc = 3;
        if (sqlite3_open(QFile::encodeName(f.value(1)).constData(), &db) == SQLITE_OK
            && sqlite3_busy_timeout(db, 30000) == SQLITE_OK
            && sqlite3_prepare_v2(db,
                                  "INSERT INTO settings(section, key, value) VALUES (?1, ?2, ?3)"
                                  " ON CONFLICT(section, key) DO UPDATE SET value = excluded.value",
                                  -1, &st, nullptr)
                == SQLITE_OK) {
            for (int i = 2; i <= 4; ++i) {
                const QByteArray text = f.value(i).toUtf8();
                sqlite3_bind_text(st, i - 1, text.constData(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
            }
            rc = sqlite3_step(st) == SQLITE_DONE ? 0 : 1;
        }
        sqlite3_finalize(st);
        sqlite3_close(db);
        _exit(rc);
    }
    try {
        auto store = SettingsStore::open(f.value(1));
        if (f.value(0) == QLatin1String("set")) {
            store->WriteString(f.value(2), f.value(3), f.value(4));
            rc = 0;
        } else {
            rc = store->ReadString(f.value(2), f.value(3), QString()) == f.value(4) ? 0 : 1;
        }
    } catch (...) {
        rc = 3;
    }
    _exit(rc);
}();

int companion(const QString& job)
{
    const pid_t child = fork();
    if (child == 0) {
        setenv("LAPIDO_STORE_COMPANION", job.toUtf8().constData(), 1);
        execl("/proc/self/exe", "companion", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace

// The station's own process opening and closing the store's files (a file dialog listing its
// folder) must not cost it its locks: a companion program writing next would take the store
// for unused, fold the station's log away and leave its later writes where nobody reads them,
// and the station's exit would then write its stale copy over the companion's values.
TEST(SettingsStoreFile, ForeignDescriptorsClosedInTheProcessLoseNoWrites)
{
    ASSERT_FALSE(g_companionRun);
    QTemporaryDir dir;
    const QString p = dir.filePath(QStringLiteral("settings.db"));
    auto station = SettingsStore::open(p);
    station->WriteString("Administration", "WorkingDir", "/station/");
    station->WriteString("Positioning", "Goto1_Y", "10");

    for (int round = 0; round < 3; ++round) {
        touchStoreFiles(p);
        const QString probe = QString::number(round);
        EXPECT_EQ(companion(QStringLiteral("stockset|%1|Test|Probe|%2").arg(p, probe)), 0);
        touchStoreFiles(p);
        EXPECT_EQ(station->ReadString("Test", "Probe", ""), probe) << "round " << round;

        const QString goto1 = QStringLiteral("12.%1").arg(round);
        station->WriteString("Positioning", "Goto1_Y", goto1);
        touchStoreFiles(p);
        EXPECT_EQ(companion(QStringLiteral("get|%1|Positioning|Goto1_Y|%2").arg(p, goto1)), 0)
            << "round " << round << ": the companion does not see the station's write";
    }

    EXPECT_EQ(companion(QStringLiteral("set|%1|Administration|WorkingDir|/companion/").arg(p)), 0);
    touchStoreFiles(p);
    station.reset(); // the station ends

    auto after = SettingsStore::open(p);
    EXPECT_EQ(after->ReadString("Administration", "WorkingDir", ""), QStringLiteral("/companion/"));
    EXPECT_EQ(after->ReadString("Positioning", "Goto1_Y", ""), QStringLiteral("12.2"));
    EXPECT_EQ(after->ReadString("Test", "Probe", ""), QStringLiteral("2"));
}

// A store operation in progress when the process closes another descriptor of the store's
// files keeps its locks: a companion program must still see the write lock and the store in
// use, or it would write at the same time or fold the log away under the writer. A raw
// connection holds its write transaction open here where a store operation cannot be paused.
TEST(SettingsStoreFile, LocksOfAnOperationOutliveAnotherDescriptorOfTheFile)
{
    ASSERT_FALSE(g_companionRun);
    QTemporaryDir dir;
    const QString p = dir.filePath(QStringLiteral("settings.db"));
    auto station = SettingsStore::open(p);
    station->WriteString("Positioning", "Goto1_Y", "10");

    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(p).constData(), &writer, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer,
                           "BEGIN IMMEDIATE;"
                           " UPDATE settings SET value = '12.5' WHERE section = 'Positioning' AND key = 'Goto1_Y'",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    // The shared-memory index's locks: the writer's byte, and the byte every open connection
    // holds so that nobody takes the store for unused.
    const QString index = p + QStringLiteral("-shm");
    struct Byte {
        const char* what;
        int offset;
    };
    for (const Byte b : {Byte{"write lock", 120}, Byte{"store in use", 128}}) {
        ASSERT_EQ(companion(QStringLiteral("held|%1|%2").arg(index).arg(b.offset)), 0) << b.what << " before";
        touchStoreFiles(p);
        EXPECT_EQ(companion(QStringLiteral("held|%1|%2").arg(index).arg(b.offset)), 0) << b.what << " lost";
    }
    ASSERT_EQ(sqlite3_exec(writer, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close_v2(writer);
    EXPECT_EQ(station->ReadString("Positioning", "Goto1_Y", ""), QStringLiteral("12.5"));
    EXPECT_EQ(companion(QStringLiteral("get|%1|Positioning|Goto1_Y|12.5").arg(p)), 0);
    // Once the writer is gone, its lock went with it.
    EXPECT_EQ(companion(QStringLiteral("held|%1|120").arg(index)), 1);
}
