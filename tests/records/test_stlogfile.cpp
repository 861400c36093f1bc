// Trace file entries and the XY sampler's pacing and de-duplication.
#include "records/stlogfile.h"

#include "platform/numfmt.h"
#include "platform/stationglobals.h"
#include "settings/settingskeys.h"
#include "testsupport.h"

#include <QFile>
#include <QDir>
#include <QProcess>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace lapido {
namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Positions handed out one per query; the last one repeats.
class ScriptedSource final : public MotionSampleSource {
public:
    struct Sample {
        double x, y;
        bool shooting;
    };
    explicit ScriptedSource(std::vector<Sample> samples) : m_samples(std::move(samples)) {}

    void GetPosition(double& X, double& Y, double& Z, double& W) override
    {
        std::lock_guard lock(m_mutex);
        m_current = m_samples[std::min(m_next, m_samples.size() - 1)];
        ++m_next;
        X = m_current.x;
        Y = m_current.y;
        Z = 1;
        W = 0;
    }
    bool W_IsShooting() override
    {
        std::lock_guard lock(m_mutex);
        return m_current.shooting;
    }

private:
    std::mutex m_mutex;
    std::vector<Sample> m_samples;
    std::size_t m_next = 0;
    Sample m_current{};
};

bool waitFor(const std::function<bool()>& done)
{
    for (int i = 0; i < 2000; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

class FileLoggerTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        m_previousLocale = userLocale();
        setUserLocale(QLocale::c());
    }
    void TearDown() override
    {
        setUserLocale(m_previousLocale);
        StationFixture::TearDown();
    }
    static QDateTime fixedTime() { return QDateTime(QDate(2016, 5, 3), QTime(14, 22, 5)); }

    // Lets the sampler take one sample per millisecond of clock time, n times.
    void runSamples(MotionLogger& logger, int n)
    {
        for (int i = 0; i < n; ++i) {
            const auto before = logger.samplesTaken();
            m_clock.advanceUs(1000);
            ASSERT_TRUE(waitFor([&] { return logger.samplesTaken() > before; }));
        }
    }

    QLocale m_previousLocale;
};

TEST_F(FileLoggerTest, NewFileGetsWarningLineOnceAndOneSessionLinePerRun)
{
    {
        FileLogger first(scratch());
        EXPECT_EQ(first.filePath(), scratch(QStringLiteral("LATrace")));
    }
    FileLogger second(scratch());
    const QByteArray session = (" **** New Lapidograph log session started at ");
    const QByteArray text = readAll(scratch(QStringLiteral("LATrace")));
    const QList<QByteArray> lines = text.split('\n');
    ASSERT_EQ(lines.size(), 4) << text.constData(); // three lines and the tail after the last CR LF
    EXPECT_EQ(lines[0], traceFileWarningLine().toLatin1() + '\r');
    EXPECT_TRUE(lines[1].startsWith(session));
    EXPECT_TRUE(lines[1].endsWith(" ****\r"));
    EXPECT_TRUE(lines[2].startsWith(session));
    EXPECT_TRUE(lines[3].isEmpty());
    EXPECT_EQ(text.count("!!! IMPORTANT !!!"), 2); // both on the first line
}

TEST_F(FileLoggerTest, WithoutAFolderTheTraceGoesToTheCurrentFolderElseTheWorkingFolder)
{
    // A current folder that has been removed cannot be written by anyone (root included),
    // like the folder a desktop menu starts the station in.
    const struct {
        const char* name;
        bool currentWritable;
        const char* workingDir; // the station's working folder, relative to scratch; "" none
        const char* storedDir;  // the stored working folder, relative to scratch; "" none
        const char* expected;   // folder of the trace, relative to scratch
    } cases[] = {
        {"writable current folder", true, "work", "", "current"},
        {"station's working folder", false, "work", "stored", "work"},
        {"stored working folder", false, "", "stored", "stored"},
    };
    const struct RestoreCurrent {
        QString path = QDir::currentPath();
        ~RestoreCurrent() { QDir::setCurrent(path); }
    } restore;
    for (const auto& c : cases) {
        const QString base = scratch(QString::fromLatin1(c.name));
        const auto under = [&](const char* rel) { return base + QLatin1Char('/') + QString::fromLatin1(rel); };
        for (const char* rel : {"current", "work", "stored"}) {
            ASSERT_TRUE(QDir().mkpath(under(rel)));
        }
        setWorkingDir(*c.workingDir ? under(c.workingDir) : QString());
        keys::write(keys::WorkingDir, *c.storedDir ? under(c.storedDir) + QLatin1Char('/') : QString());
        ASSERT_TRUE(QDir::setCurrent(under("current")));
        if (!c.currentWritable) {
            ASSERT_TRUE(QDir(under("current")).removeRecursively());
        }
        {
            FileLogger logger;
            ASSERT_TRUE(logger.AppendLog(QStringLiteral("NMR"))) << c.name;
        }
        QDir::setCurrent(restore.path);
        EXPECT_TRUE(readAll(under(c.expected) + QStringLiteral("/LATrace")).endsWith("]:NMR\r\n")) << c.name;
        for (const char* rel : {"current", "work", "stored"}) {
            if (QString::fromLatin1(rel) != QString::fromLatin1(c.expected)) {
                EXPECT_FALSE(QFile::exists(under(rel) + QStringLiteral("/LATrace"))) << c.name << ": " << rel;
            }
        }
    }
}

TEST_F(FileLoggerTest, DatedAndUndatedEntriesAreOnDiskWhenTheCallReturns)
{
    FileLogger logger(scratch());
    logger.setLocalTimeSource([] { return fixedTime(); });
    ASSERT_TRUE(logger.AppendLog(QStringLiteral("NMR")));
    const QByteArray afterDated = readAll(logger.filePath());
    EXPECT_TRUE(afterDated.endsWith(
        ("[" + FormatShortDateLongTime(fixedTime()) + "]:NMR\r\n").toLocal8Bit()));
    ASSERT_TRUE(logger.AppendLogWD(QStringLiteral("RCbefore\"M\":ABC")));
    EXPECT_TRUE(readAll(logger.filePath()).endsWith("]:NMR\r\nRCbefore\"M\":ABC\r\n"));
}

TEST_F(FileLoggerTest, UnwritableOrFullTraceFileReportsOnceAndKeepsGoing)
{
    const struct {
        const char* name;
        bool (*block)(const QString& path);
    } cases[] = {
        // A folder where the file should be: every open fails, whoever runs the test.
        {"folder in the way", [](const QString& path) { return QDir().mkpath(path); }},
        // A full disk: the open succeeds, the write does not.
        {"full disk", [](const QString& path) { return QFile::link(QStringLiteral("/dev/full"), path); }},
    };
    for (const auto& c : cases) {
        m_dialogs.clear();
        const QString folder = scratch(QString::fromLatin1(c.name));
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_TRUE(c.block(folder + QStringLiteral("/LATrace"))) << c.name;
        FileLogger logger(folder);
        EXPECT_FALSE(logger.lastError().isEmpty()) << c.name;
        EXPECT_FALSE(logger.AppendLog(QStringLiteral("NMR"))) << c.name;
        EXPECT_FALSE(logger.AppendLogWD(QStringLiteral("Im:"))) << c.name;
        EXPECT_TRUE(logger.lastError().contains(QStringLiteral("LATrace"))) << c.name;
        ASSERT_EQ(m_dialogs.transcript().size(), 1u) << c.name;
        EXPECT_FALSE(m_dialogs.transcript()[0].modal) << c.name; // never holds a marking in a modal box
    }
}

TEST_F(FileLoggerTest, AnEntryTornByAKillIsCutOffWhenTheTraceIsOpenedAgain)
{
    // What a station killed while appending leaves: the trace and, beside it, the note of the
    // entry it was writing (where it began, how long it is).
    const QByteArray earlier = traceFileWarningLine().toLatin1() + "\r\n[03/05/2016 14:22:05]:NMR\r\n";
    const QByteArray entry = "1.5:2\r\n1.75:2\r\n2:2\r\n\r\n";
    const struct {
        const char* name;
        QByteArray onDisk;
        QByteArray kept;
    } cases[] = {
        {"torn at a line end", earlier + entry.left(7), earlier},
        {"torn inside a line", earlier + entry.left(10), earlier},
        {"complete, the note not yet removed", earlier + entry, earlier + entry},
    };
    for (const auto& c : cases) {
        const QString folder = scratch(QString::fromLatin1(c.name));
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile trace(folder + QStringLiteral("/LATrace"));
        ASSERT_TRUE(trace.open(QIODevice::WriteOnly));
        trace.write(c.onDisk);
        trace.close();
        QFile note(folder + QStringLiteral("/LATrace.tail"));
        ASSERT_TRUE(note.open(QIODevice::WriteOnly));
        note.write(QByteArray::number(earlier.size()) + ' ' + QByteArray::number(entry.size()) + '\n');
        note.close();

        FileLogger logger(folder, [] { return fixedTime(); });
        const QByteArray text = readAll(logger.filePath());
        EXPECT_TRUE(text.startsWith(c.kept)) << c.name;
        EXPECT_EQ(text.mid(c.kept.size()).count("\r\n"), 1) << c.name << ": only the session line follows";
        EXPECT_TRUE(text.mid(c.kept.size()).startsWith(" **** New Lapidograph log session")) << c.name;
        EXPECT_FALSE(QFile::exists(note.fileName())) << c.name;
    }
}

TEST_F(FileLoggerTest, AnEntryThatTheDiskHasNoRoomForLeavesNothingOfItself)
{
    // A small filesystem of its own, filled up to two free pages: the long entry starts to be
    // written and then fails.
    const QString disk = scratch(QStringLiteral("disk"));
    ASSERT_TRUE(QDir().mkpath(disk));
    if (QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=256k", "tmpfs", disk}) != 0)
        GTEST_SKIP() << "a small filesystem cannot be mounted here (needs root)";
    const struct Unmount {
        QString path;
        ~Unmount() { QProcess::execute(QStringLiteral("umount"), {path}); }
    } unmount{disk};
    QByteArray before;
    {
        FileLogger logger(disk, [] { return fixedTime(); });
        ASSERT_TRUE(logger.AppendLog(QStringLiteral("NMR")));
        before = readAll(logger.filePath());

        const QByteArray filler = QFile::encodeName(disk + QStringLiteral("/filler"));
        const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        const std::vector<char> block(4096, 'x');
        off_t size = 0;
        while (::write(fd, block.data(), block.size()) == ssize_t(block.size()))
            size += off_t(block.size());
        ASSERT_EQ(::ftruncate(fd, size - 2 * off_t(block.size())), 0);
        ::close(fd);

        EXPECT_FALSE(logger.AppendLogWD(QString(64 * 1024, QChar('7'))));
        EXPECT_TRUE(logger.lastError().contains(QStringLiteral("LATrace")));
    }
    const QByteArray after = readAll(disk + QStringLiteral("/LATrace"));
    EXPECT_TRUE(after == before) << after.size() << " bytes, " << before.size() << " before the entry";
    EXPECT_FALSE(QFile::exists(disk + QStringLiteral("/LATrace.tail")));
}

TEST_F(FileLoggerTest, SamplerWritesEachNewFiringPointOnce)
{
    ScriptedSource source({{1.5, 2, true},
                           {1.5, 2, true},   // same point: no second line
                           {3, 2.25, false}, // not firing: skipped
                           {3, 2.25, true},
                           {0.001, -4, true}});
    FileLogger logger(scratch());
    logger.AppendLogWD(QStringLiteral("Im:"));
    logger.AppendLogWD(QStringLiteral("Label 1"));
    MotionLogger sampler(source);
    sampler.Start();
    runSamples(sampler, 5);
    sampler.Stop();
    EXPECT_EQ(sampler.strmovelog(), QStringLiteral("1.5:2\r\n3:2.25\r\n0.001:-4\r\n"));
}

TEST_F(FileLoggerTest, SamplerUsesTheUserLocaleForNumbers)
{
    setUserLocale(QLocale(QLocale::German, QLocale::Germany));
    ScriptedSource source({{1.5, 2.25, true}});
    MotionLogger sampler(source);
    sampler.Start();
    runSamples(sampler, 1);
    sampler.Stop();
    EXPECT_EQ(sampler.strmovelog(), QStringLiteral("1,5:2,25\r\n"));
}

TEST_F(FileLoggerTest, SamplerTakesAtMostOneSamplePerMillisecondOfClockTime)
{
    ScriptedSource source({{1, 1, true}});
    MotionLogger sampler(source);
    sampler.Start();
    // Time stands still: one sample, however long the marking thread takes.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_LE(sampler.samplesTaken(), 1);
    // Ten milliseconds of clock time give at most ten more.
    for (int i = 0; i < 10; ++i) {
        m_clock.advanceUs(1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // The clock stands still again, so waiting longer cannot add samples beyond the bound; the
    // wait only gives a busy machine time to run the sampler at all.
    for (int waited = 0; sampler.samplesTaken() < 2 && waited < 5000; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_LE(sampler.samplesTaken(), 11);
    EXPECT_GE(sampler.samplesTaken(), 2);
    sampler.Stop();
}

TEST_F(FileLoggerTest, MoveTraceGoesBetweenTheNodeEntriesAndEnd)
{
    ScriptedSource source({{2, 3, true}, {2.5, 3, true}});
    FileLogger logger(scratch());
    logger.setLocalTimeSource([] { return fixedTime(); });
    logger.StartXYLogging(source);
    ASSERT_TRUE(logger.isSampling());
    // The sampler reads on its own thread while time moves on the marking's.
    for (int i = 0; i < 5; ++i) {
        m_clock.advanceUs(1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    logger.AppendLogWD(QStringLiteral("Im:"));
    logger.AppendLogWD(QStringLiteral("Label 1"));
    ASSERT_TRUE(logger.WriteEngravingMoveTraceLog());
    EXPECT_FALSE(logger.isSampling());
    logger.AppendLog(QStringLiteral("ME"));
    const QByteArray text = readAll(logger.filePath());
    const QByteArray me = ("[" + FormatShortDateLongTime(fixedTime()) + "]:ME\r\n").toLocal8Bit();
    EXPECT_TRUE(text.endsWith("Im:\r\nLabel 1\r\n2:3\r\n2.5:3\r\n\r\n" + me)) << text.constData();
}

TEST_F(FileLoggerTest, MarkingWithoutFiringWritesOneEmptyLine)
{
    ScriptedSource source({{2, 3, false}, {4, 5, false}});
    FileLogger logger(scratch());
    logger.StartXYLogging(source);
    m_clock.advanceUs(5000);
    logger.AppendLogWD(QStringLiteral("Label 1"));
    ASSERT_TRUE(logger.WriteEngravingMoveTraceLog());
    logger.AppendLogWD(QStringLiteral("ME"));
    EXPECT_TRUE(readAll(logger.filePath()).endsWith("Label 1\r\n\r\nME\r\n"));
}

} // namespace
} // namespace lapido
