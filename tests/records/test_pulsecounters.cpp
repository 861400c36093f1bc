// Shot counters: advancing, reset, persistence within a second; the laser-unit register.
#include "records/pulsecounters.h"

#include "platform/inifile.h"
#include "platform/numfmt.h"
#include "settings/settingsrecord.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>

namespace lapido {
namespace {

class PulseCounterTest : public test::StationFixture {
protected:
    // What a station started again after a crash would read.
    std::int64_t storedTotal() { return store().ReadInt64(QStringLiteral("Hardware"), QStringLiteral("TotalPulseCount"), -1); }
    std::int64_t storedSinceReset() { return store().ReadInt64(QStringLiteral("Hardware"), QStringLiteral("PulseCount"), -1); }
    TSettings m_record;
};

TEST_F(PulseCounterTest, CountsAddTheGrowthAndRestartAfterADrop)
{
    struct Step {
        std::int64_t count;
        std::int64_t added;
    };
    const Step steps[] = {{100, 100}, {250, 150}, {250, 0}, {10, 10}, {40, 30}, {0, 0}, {-5, 0}};
    m_record.TotalPulseCount = 1000;
    PulseCountTracker tracker(m_record);
    std::int64_t total = 1000;
    for (const Step& s : steps) {
        tracker.UpdatePulseCount(s.count);
        total += s.added;
        EXPECT_EQ(m_record.TotalPulseCount, total) << "count " << s.count;
        EXPECT_EQ(m_record.PulseCount, total - 1000) << "count " << s.count;
    }
}

TEST_F(PulseCounterTest, ResetClearsOnlyTheResettableCounter)
{
    PulseCountTracker tracker(m_record);
    tracker.UpdatePulseCount(700);
    m_dialogs.queueAnswer(DialogResult::No);
    EXPECT_FALSE(tracker.ResetPulseCount());
    EXPECT_EQ(m_record.PulseCount, 700);

    m_dialogs.queueAnswer(DialogResult::Yes);
    EXPECT_TRUE(tracker.ResetPulseCount());
    EXPECT_EQ(m_dialogs.texts().last(), QStringLiteral("Are you sure to reset the counter?"));
    EXPECT_EQ(m_record.PulseCount, 0);
    EXPECT_EQ(storedSinceReset(), 0);

    tracker.UpdatePulseCount(1200);
    const QLocale previous = userLocale();
    setUserLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(tracker.pulseCountText(), QStringLiteral("500"));
    EXPECT_EQ(tracker.totalPulseCountText(), QStringLiteral("1,200"));
    setUserLocale(previous);
}

TEST_F(PulseCounterTest, StoreNeverLagsMoreThanOneSecondBehind)
{
    PulseCountTracker tracker(m_record);
    // A marking: the position timer reports the growing count every 50 ms for five seconds.
    std::int64_t count = 0;
    std::int64_t countOneSecondAgo = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> history; // (time, total)
    std::int64_t lastStored = -1;
    int writes = 0;
    for (int tick = 0; tick < 100; ++tick) {
        count += 37;
        tracker.UpdatePulseCount(count);
        history.emplace_back(m_clock.nowUs(), m_record.TotalPulseCount);
        for (const auto& [t, total] : history)
            if (t <= m_clock.nowUs() - PulseCountTracker::kSaveIntervalUs)
                countOneSecondAgo = total;
        // A kill now: the store holds at least what was counted a second ago.
        const std::int64_t stored = storedTotal();
        EXPECT_GE(stored, countOneSecondAgo) << "tick " << tick;
        if (stored != lastStored)
            ++writes;
        lastStored = stored;
        m_clock.advanceUs(50'000);
    }
    // Five seconds of marking: the store is written about once a second, not at every tick.
    EXPECT_LE(writes, 6);
    // The end of the marking writes the rest.
    EXPECT_TRUE(tracker.SavePulseCounters());
    EXPECT_EQ(storedTotal(), count);
    EXPECT_EQ(storedSinceReset(), count);
    EXPECT_FALSE(tracker.hasUnsavedChanges());
}

TEST_F(PulseCounterTest, UnparsableStoredCounterReadsAsZero)
{
    store().WriteString(QStringLiteral("Hardware"), QStringLiteral("TotalPulseCount"), QStringLiteral("12x"));
    TSettings record;
    record.TotalPulseCount = 77;
    LoadSettingsFromRegistery(store(), record);
    EXPECT_EQ(record.TotalPulseCount, 0);
}

TEST_F(PulseCounterTest, LaserUnitIsEnteredOnceAndTheOverviewListsIt)
{
    TPulseCounters counters(scratch());
    const QDateTime installed(QDate(2016, 5, 3), QTime(14, 22, 5));
    ASSERT_TRUE(counters.AppendLaserUnitPulses(QStringLiteral("LU-4711"), 0, installed)) << counters.lastError().toStdString();
    ASSERT_TRUE(counters.AppendLaserUnitPulses(QStringLiteral("LU-0815"), 0, QDateTime(QDate(2017, 1, 2), QTime(0, 0))));
    const QString path = counters.filePath(QStringLiteral("LaserPulses.ini"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    // The same part number again leaves the file as it was.
    ASSERT_TRUE(counters.AppendLaserUnitPulses(QStringLiteral("LU-4711"), 99, QDateTime(QDate(2020, 1, 1), QTime(1, 0))));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    file.close();

    const IniFile ini(path);
    EXPECT_EQ(ini.ReadSection(QStringLiteral("LU-4711")), (QStringList{QStringLiteral("InstallationDate"), QStringLiteral("NumberOfPulses")}));
    EXPECT_EQ(ini.ReadString(QStringLiteral("LU-4711"), QStringLiteral("InstallationDate"), {}), FormatShortDateLongTime(installed));
    // Midnight: the date alone.
    EXPECT_EQ(ini.ReadString(QStringLiteral("LU-0815"), QStringLiteral("InstallationDate"), {}),
              userLocale().toString(QDate(2017, 1, 2), QLocale::ShortFormat));
    EXPECT_EQ(counters.GetLaserPulseData(),
              QStringLiteral("LU-4711 InstallationDate=") + FormatShortDateLongTime(installed)
                  + QStringLiteral(" NumberOfPulses=0 \r\nLU-0815 InstallationDate=")
                  + userLocale().toString(QDate(2017, 1, 2), QLocale::ShortFormat) + QStringLiteral(" NumberOfPulses=0 \r\n"));
}

TEST_F(PulseCounterTest, EnteringAUnitKeepsEveryValueOfTheRegister)
{
    // A register edited by hand: Latin-1, a quoted value keeping its blanks, quotes in a value.
    const QString path = scratch(QStringLiteral("LaserPulses.ini"));
    ASSERT_TRUE(QFile::copy(test::testDataDir() + QStringLiteral("/records/LaserPulses-quoted.ini"), path));
    const IniFile before(path);
    ASSERT_EQ(before.ReadString(QStringLiteral("LU-0815"), QStringLiteral("Remark"), {}), QString::fromUtf8("  Kühler, spare from stock "));

    TPulseCounters counters(scratch());
    ASSERT_TRUE(counters.AppendLaserUnitPulses(QStringLiteral("LU-4711"), 5, QDateTime(QDate(2024, 6, 1), QTime(9, 0))));
    const IniFile after(path);
    EXPECT_EQ(after.ReadSections(), (QStringList{QStringLiteral("LU-0815"), QStringLiteral("LU-4711")}));
    for (const QString& key : before.ReadSection(QStringLiteral("LU-0815")))
        EXPECT_EQ(after.ReadString(QStringLiteral("LU-0815"), key, QStringLiteral("missing")),
                  before.ReadString(QStringLiteral("LU-0815"), key, {}))
            << key.toStdString();
    EXPECT_EQ(after.encoding(), IniFile::Encoding::Latin1);
}

TEST_F(PulseCounterTest, OverviewOfEachRegisterReadsItsOwnFile)
{
    TPulseCounters counters(scratch());
    const struct {
        const char* file;
        QString (TPulseCounters::*get)() const;
    } registers[] = {{"LaserPulses.ini", &TPulseCounters::GetLaserPulseData},
                     {"ThyratronExchange.ini", &TPulseCounters::GetThyratronExchangeData},
                     {"OpticCleaning.ini", &TPulseCounters::GetOpticCleaningData},
                     {"OpticExchange.ini", &TPulseCounters::GetOpticExchangeData}};
    for (const auto& r : registers) {
        EXPECT_EQ((counters.*r.get)(), QString()) << r.file; // missing file: empty overview
        QFile f(counters.filePath(QString::fromLatin1(r.file)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("[") + r.file + "]\r\nA=1\r\n\r\n[Empty]\r\n");
        f.close();
        EXPECT_EQ((counters.*r.get)(), QString::fromLatin1(r.file) + QStringLiteral(" A=1 \r\nEmpty \r\n")) << r.file;
    }
}

TEST_F(PulseCounterTest, PartNumbersThatWouldBreakTheRegisterAreRefused)
{
    TPulseCounters counters(scratch());
    for (const QString& bad : {QString(), QStringLiteral("A]B"), QStringLiteral("X\nY"), QStringLiteral("[Z")}) {
        EXPECT_FALSE(counters.AppendLaserUnitPulses(bad, 0, QDateTime::currentDateTime())) << bad.toStdString();
        EXPECT_FALSE(counters.lastError().isEmpty());
    }
    EXPECT_FALSE(QFile::exists(counters.filePath(QStringLiteral("LaserPulses.ini"))));
}

} // namespace
} // namespace lapido
