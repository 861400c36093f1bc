// Maintenance log: sink selection, the file sink's names and content, the statements sent.
#include "records/databaselogging.h"
#include "records/filelogging.h"
#include "records/loggingproxy.h"

#include "platform/numfmt.h"
#include "settings/settingsrecord.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>

namespace lapido {
namespace {

const QString kSection = QStringLiteral("LoggingDatabase");

class MaintenanceLogTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        TLoggingProxy::ResetInstance();
        TFileLogging::ResetInstance();
        TDataBaseLogging::ResetInstance();
        m_savedRecord = Settings();
    }
    void TearDown() override
    {
        TLoggingProxy::ResetInstance();
        TFileLogging::ResetInstance();
        TDataBaseLogging::ResetInstance();
        Settings() = m_savedRecord;
        StationFixture::TearDown();
    }
    static QDateTime when() { return QDateTime(QDate(2016, 5, 3), QTime(14, 22, 5, 123)); }
    static QByteArray read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    TSettings m_savedRecord;
};

TEST_F(MaintenanceLogTest, SinkIsChosenByExactlyOne)
{
    using Sink = TLoggingProxy::Sink;
    const struct {
        const char* file;
        const char* database;
        Sink expected;
    } cases[] = {
        {"1", "1", Sink::File},      {"1", "0", Sink::File},     {"0", "1", Sink::Database},
        {"yes", "0", Sink::None},    {"0", "yes", Sink::None},   {"true", "1", Sink::Database},
        {nullptr, nullptr, Sink::None}, {" 1", nullptr, Sink::None},
    };
    for (const auto& c : cases) {
        store().removeValue(kSection, QStringLiteral("logfileenabled"));
        store().removeValue(kSection, QStringLiteral("databaseenabled"));
        if (c.file)
            store().WriteString(kSection, QStringLiteral("logfileenabled"), QString::fromLatin1(c.file));
        if (c.database)
            store().WriteString(kSection, QStringLiteral("databaseenabled"), QString::fromLatin1(c.database));
        EXPECT_EQ(TLoggingProxy().sink(), c.expected) << (c.file ? c.file : "-") << "/" << (c.database ? c.database : "-");
    }
}

TEST_F(MaintenanceLogTest, FileNameCarriesTheMillisecondStampAndADoubledSeparator)
{
    TFileLogging sink(MaintenanceIdentity{QStringLiteral("M1"), QStringLiteral("1.2.3.4")}, QStringLiteral("logs/"),
                      [] { return when(); });
    EXPECT_EQ(sink.fileNameFor(QStringLiteral("TotalMachinePulses"), when()),
              QStringLiteral("logs//TotalMachinePulses_2016-05-03 14_22_05_123.log"));
}

TEST_F(MaintenanceLogTest, FileRecordHoldsHeaderAndOneDataLine)
{
    setUserLocale(QLocale::c());
    Settings().PulseCount = 4242;
    const QString dir = scratch() + QChar('/');
    TFileLogging sink(MaintenanceIdentity{QStringLiteral("Station-7"), QStringLiteral("0.1.0.0")}, dir,
                      [] { return when(); });
    ASSERT_TRUE(sink.InsertTotalMachinePulses(QStringLiteral("TotalMachinePulses"), QStringLiteral("123456")));
    const QString path = sink.fileNameFor(QStringLiteral("TotalMachinePulses"), when());
    EXPECT_TRUE(path.contains(QStringLiteral("//TotalMachinePulses_")));
    EXPECT_EQ(read(path), QByteArray("Action\tNewValue\tShotsCounts\tLogDateTime\tMachineId\tSWVersion\tUser\r\n"
                                     "TotalMachinePulses\t123456\t4242\t2016-05-03 14:22:05\tStation-7\t0.1.0.0\tLA\r\n"));

    // Same action in the same millisecond: the second record replaces the first.
    ASSERT_TRUE(sink.InsertTotalMachinePulses(QStringLiteral("TotalMachinePulses"), QStringLiteral("999")));
    EXPECT_TRUE(read(path).contains("\t999\t"));
    EXPECT_EQ(QDir(scratch()).entryList(QStringList{QStringLiteral("*.log")}).size(), 1);
}

TEST_F(MaintenanceLogTest, CameraRecordThroughTheProxyHasAnEmptyValue)
{
    store().WriteString(kSection, QStringLiteral("logfileenabled"), QStringLiteral("1"));
    store().WriteString(kSection, QStringLiteral("logfilebasedir"), scratch());
    store().WriteString(QStringLiteral("Administration"), QStringLiteral("MachineNumber"), QStringLiteral("LAB-3"));
    EXPECT_TRUE(TLoggingProxy::GetInstance().InsertCameraNotAvailable(QStringLiteral("is_InitCamera failed"), QString()));
    const QStringList files = QDir(scratch()).entryList(QStringList{QStringLiteral("CameraNotAvailable_*.log")});
    ASSERT_EQ(files.size(), 1);
    const QList<QByteArray> lines = read(scratch(files[0])).split('\n');
    ASSERT_EQ(lines.size(), 3);
    const QList<QByteArray> fields = lines[1].chopped(1).split('\t');
    ASSERT_EQ(fields.size(), 7);
    EXPECT_EQ(fields[0], "is_InitCamera failed");
    EXPECT_EQ(fields[1], "");
    EXPECT_EQ(fields[4], "LAB-3");
    EXPECT_EQ(fields[6], "LA");
}

TEST_F(MaintenanceLogTest, UnwritableFolderIsReportedWithTheErrorClassAndTheStationGoesOn)
{
    TFileLogging sink(MaintenanceIdentity{QStringLiteral("M"), QStringLiteral("1.0.0.0")},
                      scratch(QStringLiteral("no/such/folder")), [] { return when(); });
    EXPECT_FALSE(sink.InsertStoneCounts(QStringLiteral("StoneCounts"), QStringLiteral("1")));
    ASSERT_EQ(m_dialogs.texts().size(), 1);
    EXPECT_TRUE(m_dialogs.texts()[0].startsWith(QStringLiteral("FileCreateErrorlog error : "))) << m_dialogs.texts()[0].toStdString();
}

TEST_F(MaintenanceLogTest, TableNameNeverLeavesTheLogFolder)
{
    const QString inner = scratch(QStringLiteral("logs"));
    ASSERT_TRUE(QDir().mkpath(inner));
    TFileLogging sink(MaintenanceIdentity{QStringLiteral("M"), QStringLiteral("1.0.0.0")}, inner, [] { return when(); });
    EXPECT_FALSE(sink.InsertReg(QStringLiteral("../escape"), QString(), QString()));
    EXPECT_TRUE(QDir(scratch()).entryList(QStringList{QStringLiteral("*.log")}).isEmpty());
    EXPECT_TRUE(QDir(inner).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(m_dialogs.texts().size(), 1);
}

TEST_F(MaintenanceLogTest, VocabularyKnowsBothNameFormsAndTheFloatTable)
{
    const struct {
        const char* name;
        const char* table;
    } cases[] = {{"InsertBELL2Exchange", "BEL2Exchange"},
                 {"BEL2Exchange", "BEL2Exchange"},
                 {"InsertFocusingLensCleaning", "FocusLensCleaning"},
                 {"InsertGasFilterRemainingLiftime", "GasFilterRemainingLifeTime"},
                 {"InsertRemaingGasExchanges", "RemainingGasExchanges"},
                 {"TrayflowInitFailure", "TrayflowInitFailure"}};
    for (const auto& c : cases) {
        const MaintenanceAction* a = findMaintenanceAction(QString::fromLatin1(c.name));
        ASSERT_NE(a, nullptr) << c.name;
        EXPECT_STREQ(a->table, c.table);
    }
    EXPECT_EQ(findMaintenanceAction(QStringLiteral("insertbell2exchange")), nullptr);
    const auto all = maintenanceActions();
    ASSERT_EQ(all.size(), 30u);
    EXPECT_STREQ(all[0].table, "TotalMachinePulses");
    EXPECT_TRUE(all[25].isFloatTable);
    EXPECT_EQ(all[25].operation, nullptr);
    EXPECT_STREQ(all[29].table, "TrayflowInitFailure");
}

TEST_F(MaintenanceLogTest, StatementsAreSentAsWritten)
{
    EXPECT_EQ(TDataBaseLogging::CreateActionSQL(QStringLiteral("StoneCounts")),
              QStringLiteral("CREATE TABLE IF NOT EXISTS `StoneCounts`(`Action` VARCHAR(100), `NewValue` VARCHAR(100), "
                             "`ShotsCounts` VARCHAR(100), `LogDateTime` DATETIME, `MachineId` VARCHAR(255), "
                             "`SWVersion` VARCHAR(255), `User` VARCHAR(255));"));
    EXPECT_EQ(TDataBaseLogging::CreateFloatActionSQL(QStringLiteral("LaserEnergyAfterFocusingLens")),
              QStringLiteral("CREATE TABLE IF NOT EXISTS LaserEnergyAfterFocusingLens(Action FLOAT, `NewValue` "
                             "VARCHAR(100), `ShotsCounts` VARCHAR(100), LogDateTime DATETIME, MachineId VARCHAR(255), "
                             "`SWVersion` VARCHAR(255), `User` VARCHAR(255))"));
    EXPECT_EQ(TDataBaseLogging::insertSQL(QStringLiteral("StoneCounts")),
              QStringLiteral("INSERT INTO StoneCounts (`Action`,`NewValue`, `ShotsCounts`, `LogDateTime`,`MachineId`, "
                             "`SWVersion`, `User`) VALUES (?,?,?,?,?,?,?);"));
}

TEST_F(MaintenanceLogTest, ConnectionTextKeepsItsFormAndCannotBeExtendedByAValue)
{
    DatabaseLoggingConfig c{QStringLiteral("MariaDB Unicode"), QStringLiteral("dbhost"), QStringLiteral("service"),
                            QStringLiteral("secret"), QStringLiteral("lalog")};
    EXPECT_EQ(c.connectionText(),
              QStringLiteral("Mode=ReadWrite;Extended Properties=\"DRIVER={MariaDB Unicode};DATABASE=mysql;"
                             "SERVER=dbhost;UID=service;PASSWORD=secret;PORT=;OPTION=3;STMT=;\""));
    c.hostname = QStringLiteral("dbhost:3307");
    c.password = QStringLiteral("a;DATABASE=x}");
    EXPECT_EQ(c.odbcConnectionString(),
              QStringLiteral("DRIVER={MariaDB Unicode};DATABASE=mysql;SERVER=dbhost;UID=service;"
                             "PASSWORD={a;DATABASE=x}}};PORT=3307;OPTION=3;STMT=;"));
    c.drivername.clear();
    EXPECT_TRUE(c.odbcConnectionString().startsWith(QStringLiteral("DRIVER={MariaDB Unicode};")));
}

TEST_F(MaintenanceLogTest, DatabaseThatCannotBeReachedIsShownOnceAndRetried)
{
    store().WriteString(kSection, QStringLiteral("databaseenabled"), QStringLiteral("1"));
    // Nothing listens on port 1 of the loopback: the connection is refused at once.
    store().WriteString(kSection, QStringLiteral("hostname"), QStringLiteral("127.0.0.1:1"));
    store().WriteString(kSection, QStringLiteral("username"), QStringLiteral("nobody"));
    TLoggingProxy proxy;
    EXPECT_FALSE(proxy.InsertCameraNotAvailable(QStringLiteral("is_InitCamera failed"), QString()));
    EXPECT_FALSE(proxy.InsertTrayflowInitFailure(QStringLiteral("Execute failed: 2"), QString()));
    ASSERT_EQ(m_dialogs.texts().size(), 1);
    EXPECT_TRUE(m_dialogs.texts()[0].startsWith(QStringLiteral("Maintenance log database error: ")));
    EXPECT_EQ(TDataBaseLogging::GetInstance(), nullptr);
}

TEST_F(MaintenanceLogTest, DatabaseNameMustBeAPlainName)
{
    DatabaseLoggingConfig c{QStringLiteral("MariaDB Unicode"), QStringLiteral("127.0.0.1:1"), QString(), QString(),
                            QStringLiteral("lalog; DROP DATABASE mysql")};
    QString error;
    EXPECT_EQ(TDataBaseLogging::create(c, {}, defaultLocalTimeSource(), &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("not a plain name")));
}

TEST_F(MaintenanceLogTest, MaintenanceDateTimeUsesTheLocaleTimeSeparator)
{
    const QLocale previous = userLocale();
    setUserLocale(QLocale(QLocale::Finnish, QLocale::Finland));
    const QString finnish = maintenanceDateTimeText(QDateTime(QDate(2016, 5, 3), QTime(4, 2, 5)));
    setUserLocale(QLocale::c());
    EXPECT_EQ(maintenanceDateTimeText(QDateTime(QDate(2016, 5, 3), QTime(4, 2, 5))), QStringLiteral("2016-05-03 04:02:05"));
    setUserLocale(previous);
    EXPECT_EQ(finnish, QStringLiteral("2016-05-03 04.02.05"));
}

} // namespace
} // namespace lapido
