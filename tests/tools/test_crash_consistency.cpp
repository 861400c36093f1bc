// Each of the station's file writers (crash_writer) killed with SIGKILL at random moments while it
// saves, round after round in the same folder: after every kill each file must be its old or its
// new version byte for byte (the trace, which only grows, may also hold its old version and the
// beginning of the next entry, which its next opening must cut off), the settings store must
// open, pass its integrity check and hold the old or the new settings, and leftovers of the
// killed saves must not stop the next save.
//
// The old and new versions come from a clean run of the same writer on a copy of the folder as
// it was before the kill, stopped before and after the save the kill interrupted. The kills fall
// at random within the time of about six saves; the draws are seeded, the seed is printed,
// LAPIDO_CRASH_SEED=N repeats the same kill points (relative to the writer's speed) and
// LAPIDO_CRASH_ROUNDS=N changes the number of kills per writer.
#include "platform/settingsstore.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace lapido {
namespace {

struct WriterCase {
    const char* kind;
    QStringList targets;     // relative to the folder
    bool store = false;      // the settings store itself is at stake
    bool appendOnly = false; // one target that only grows, its first save of a run opens it
};

void PrintTo(const WriterCase& w, std::ostream* os)
{
    *os << w.kind;
}

const WriterCase kWriters[] = {
    {"template", {"Templates/Crash.xml", "Templates/Crash.jpg"}},
    {"drawing", {"logo.lal"}},
    {"outline", {"glyph.kol"}},
    {"store", {}, true},
    {"export", {"export.txt"}},
    {"counters", {"counters/LaserPulses.ini"}},
    {"trace", {"LATrace"}, false, true},
};

constexpr int kDefaultRounds = 6;
constexpr int kTimeoutMs = 60'000;

int envInt(const char* name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariable(name).toInt(&ok);
    return ok ? v : fallback;
}

// What one version of a writer's files holds: each target's bytes (nullopt when absent) and,
// for the store, its entries.
struct Version {
    std::map<QString, std::optional<QByteArray>> files;
    std::optional<std::vector<SettingsEntry>> entries;
};

std::optional<QByteArray> fileBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

Version takeVersion(const QString& folder, const WriterCase& w)
{
    Version v;
    for (const QString& t : w.targets)
        v.files[t] = fileBytes(folder + QLatin1Char('/') + t);
    if (w.store)
        v.entries = SettingsStore::open(folder + QStringLiteral("/settings.db"))->entries();
    return v;
}

QString describe(const std::optional<QByteArray>& bytes)
{
    return bytes ? QStringLiteral("%1 bytes").arg(bytes->size()) : QStringLiteral("absent");
}

std::set<QString> filesIn(const QString& folder)
{
    std::set<QString> out;
    const QDir root(folder);
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        out.insert(root.relativeFilePath(it.next()));
    return out;
}

void copyFolder(const QString& from, const QString& to)
{
    for (const QString& rel : filesIn(from)) {
        const QString target = to + QLatin1Char('/') + rel;
        QDir().mkpath(QFileInfo(target).path());
        ASSERT_TRUE(QFile::copy(from + QLatin1Char('/') + rel, target)) << qPrintable(rel);
    }
}

QString integrityOf(const QString& dbPath)
{
    sqlite3* db = nullptr;
    QString result;
    if (sqlite3_open_v2(dbPath.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        result = QString::fromUtf8(sqlite3_errmsg(db));
    } else {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr);
        while (st && sqlite3_step(st) == SQLITE_ROW)
            result += QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return result;
}

// One run of the writer program.
class WriterRun {
public:
    WriterRun(const char* kind, const QString& folder, long first, bool step)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(env);
        // The trace of the station's own work goes to the current folder: keep it in the scratch.
        m_process.setWorkingDirectory(folder);
        QStringList args{QString::fromLatin1(kind), folder, QString::number(first)};
        if (step)
            args << QStringLiteral("--step");
        m_process.start(QStringLiteral(LAPIDO_CRASH_WRITER), args);
    }
    ~WriterRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(kTimeoutMs);
        }
    }

    // The next line the writer printed; nullopt when it ended without one.
    std::optional<QString> line()
    {
        while (!m_process.canReadLine())
            if (!m_process.waitForReadyRead(kTimeoutMs))
                break;
        if (!m_process.canReadLine())
            return std::nullopt;
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }
    // Lets a stepped run make count more saves.
    void step(long count) { m_process.write(QByteArray::number(count) + '\n'); }
    QProcess& process() { return m_process; }
    QString errors() { return QString::fromUtf8(m_process.readAllStandardError()); }

private:
    QProcess m_process;
};

class CrashConsistency : public ::testing::TestWithParam<WriterCase> {
protected:
    // A clean run stepped from save first through save first + count - 1 (count >= 1): the
    // versions of the folder before and after the last save. The run is started by the caller
    // (early, so that its start-up overlaps the killed run); savingUs, when given, receives the
    // time the saves took.
    std::pair<Version, Version> cleanVersions(WriterRun& run, const QString& folder, long first, int count,
                                              std::int64_t* savingUs = nullptr)
    {
        const WriterCase& w = GetParam();
        std::pair<Version, Version> out;
        EXPECT_EQ(run.line(), QStringLiteral("ready")) << qPrintable(run.errors());
        QElapsedTimer timer;
        timer.start();
        // All saves but the last in one go, then the last one alone.
        const long last = first + count - 1;
        if (last > first && !saveThrough(run, first, last - 1))
            return out;
        out.first = takeVersion(folder, w);
        if (!saveThrough(run, last, last))
            return out;
        if (savingUs)
            *savingUs = timer.nsecsElapsed() / 1000;
        out.second = takeVersion(folder, w);
        run.process().closeWriteChannel();
        EXPECT_TRUE(run.process().waitForFinished(kTimeoutMs));
        EXPECT_EQ(run.process().exitCode(), 0) << qPrintable(run.errors());
        return out;
    }
    // Lets the stepped run make saves from through to and waits for each; false when one did
    // not end.
    static bool saveThrough(WriterRun& run, long from, long to)
    {
        run.step(to - from + 1);
        for (long n = from; n <= to; ++n) {
            if (run.line() != QString::number(n)) {
                ADD_FAILURE() << "clean save " << n << " did not end: " << qPrintable(run.errors());
                return false;
            }
        }
        return true;
    }
    std::pair<Version, Version> cleanVersions(const QString& folder, long first, int count,
                                              std::int64_t* savingUs = nullptr)
    {
        WriterRun run(GetParam().kind, folder, first, true);
        return cleanVersions(run, folder, first, count, savingUs);
    }

    // The target as a clean run's first save leaves it on a copy of the folder.
    QByteArray reopened(const QString& folder, long first, const QString& target)
    {
        QTemporaryDir copy;
        copyFolder(folder, copy.path());
        return cleanVersions(copy.path(), first, 1).second.files.at(target).value_or(QByteArray());
    }

    QByteArray m_opening;
};

TEST_P(CrashConsistency, EveryFileIsItsOldOrItsNewVersionAfterAKill)
{
    const WriterCase& w = GetParam();
    const int rounds = envInt("LAPIDO_CRASH_ROUNDS", kDefaultRounds);
    const auto seed = static_cast<std::uint32_t>(envInt("LAPIDO_CRASH_SEED", int(std::random_device{}() >> 1)));
    std::cout << "[crash " << w.kind << "] LAPIDO_CRASH_SEED=" << seed << " LAPIDO_CRASH_ROUNDS=" << rounds << std::endl;
    std::mt19937 random(seed);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString work = dir.filePath(QStringLiteral("work"));
    ASSERT_TRUE(QDir().mkpath(work));
    // Two clean saves first, so that every kill has an old version to keep. Kills fall within
    // the time of about six saves after the writer is ready, however busy the machine is.
    std::int64_t twoSavesUs = 0;
    cleanVersions(work, 1, 2, &twoSavesUs);
    ASSERT_FALSE(HasFailure());
    const std::int64_t spanUs = std::clamp<std::int64_t>(twoSavesUs * 3, 2'000, 500'000);
    std::uniform_real_distribution<double> when(0.0, 1.0);
    const std::set<QString> baseline = filesIn(work);
    const std::set<QString> targets(w.targets.begin(), w.targets.end());

    long first = 3;
    long saves = 0;
    int newVersions = 0;
    int torn = 0;
    if (w.appendOnly) {
        // What an opening appends to an intact file.
        const QByteArray intact = *takeVersion(work, w).files.at(w.targets.at(0));
        const QByteArray opened = reopened(work, 3, w.targets.at(0));
        ASSERT_TRUE(opened.startsWith(intact));
        m_opening = opened.mid(intact.size());
    }
    std::set<QString> leftovers;
    for (int round = 1; round <= rounds; ++round) {
        const auto delay = static_cast<std::int64_t>(when(random) * double(spanUs));
        SCOPED_TRACE(QStringLiteral("%1, seed %2, round %3, kill %4 us after ready")
                         .arg(QLatin1String(w.kind)).arg(seed).arg(round).arg(delay).toStdString());
        const QString reference = dir.filePath(QStringLiteral("reference%1").arg(round));
        ASSERT_TRUE(QDir().mkpath(reference));
        copyFolder(work, reference);

        long last = first - 1;
        WriterRun clean(w.kind, reference, first, true);
        {
            WriterRun killed(w.kind, work, first, false);
            ASSERT_EQ(killed.line(), QStringLiteral("ready")) << qPrintable(killed.errors());
            std::this_thread::sleep_for(std::chrono::microseconds(delay));
            killed.process().kill();
            ASSERT_TRUE(killed.process().waitForFinished(kTimeoutMs));
            ASSERT_EQ(killed.process().exitStatus(), QProcess::CrashExit)
                << "the writer stopped before the kill: " << qPrintable(killed.errors());
            while (const auto done = killed.line())
                last = done->toLong();
        }

        const auto [before, after] = cleanVersions(clean, reference, first, int(last - first + 2));
        ASSERT_FALSE(HasFailure());
        const Version got = takeVersion(work, w);
        for (const QString& t : w.targets) {
            const auto& bytes = got.files.at(t);
            const bool isOld = bytes == before.files.at(t);
            const bool isNew = bytes == after.files.at(t);
            if (w.appendOnly && !isOld && !isNew) {
                // An entry cut short by the kill: what came before it must be intact, and the
                // next opening must cut the torn part off before it writes anything.
                EXPECT_TRUE(bytes && bytes->startsWith(*before.files.at(t)) && after.files.at(t)->startsWith(*bytes))
                    << qPrintable(t) << " after save " << last << " is " << qPrintable(describe(bytes))
                    << ", not the old version (" << qPrintable(describe(before.files.at(t)))
                    << ") followed by the beginning of the next entry";
                const QByteArray again = reopened(work, first, t);
                EXPECT_TRUE(again == *before.files.at(t) + m_opening)
                    << "opened again, " << qPrintable(t) << " has " << again.size() << " bytes, not the old version ("
                    << before.files.at(t)->size() << ") and the opening's " << m_opening.size();
                ++torn;
                continue;
            }
            EXPECT_TRUE(isOld || isNew) << qPrintable(t) << " after save " << last << " is " << qPrintable(describe(bytes))
                                        << ", neither the old version (" << qPrintable(describe(before.files.at(t)))
                                        << ") nor the new one (" << qPrintable(describe(after.files.at(t))) << ")";
            newVersions += !isOld;
        }
        if (w.store) {
            EXPECT_EQ(integrityOf(work + QStringLiteral("/settings.db")), QStringLiteral("ok"));
            EXPECT_TRUE(got.entries == before.entries || got.entries == after.entries)
                << "the store holds neither the settings of save " << last << " nor those of the next";
            newVersions += got.entries != before.entries;
        }
        ASSERT_FALSE(HasFailure());

        for (const QString& f : filesIn(work))
            if (!baseline.count(f) && !targets.count(f) && !f.startsWith(QStringLiteral("settings.db")))
                leftovers.insert(f);
        QDir(reference).removeRecursively();
        saves += last - first + 1;
        first = last + 2;
    }

    // Whatever the kills left beside the files, the next saves work.
    cleanVersions(work, first, 2);
    std::cout << "[crash " << w.kind << "] " << rounds << " kills after " << saves << " saves, " << newVersions
              << " after a file had its new version, " << torn
              << " in the middle of an entry; files left beside the targets: " << leftovers.size();
    for (const QString& f : leftovers)
        std::cout << ' ' << qPrintable(f);
    std::cout << std::endl;
}

INSTANTIATE_TEST_SUITE_P(Writers, CrashConsistency, ::testing::ValuesIn(kWriters),
                         [](const ::testing::TestParamInfo<WriterCase>& info) { return std::string(info.param.kind); });

} // namespace
} // namespace lapido
