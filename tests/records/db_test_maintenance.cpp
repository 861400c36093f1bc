// Maintenance log against a real MariaDB server: database, tables, records read back.
#include "testdatabase.h"

#include "records/databaselogging.h"
#include "records/loggingproxy.h"
#include "settings/settingsrecord.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QRandomGenerator>

namespace lapido {
namespace {

class MaintenanceDatabaseTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        m_server = test::testDatabaseServer();
        if (!m_server)
            GTEST_SKIP() << test::kSkipWithoutServer;
        m_admin = m_server->connect();
        ASSERT_NE(m_admin, nullptr);
        // A database of its own per test: nothing left over from another run can satisfy it.
        m_dbname = QStringLiteral("lalog_test_%1_%2")
                       .arg(QCoreApplication::applicationPid())
                       .arg(QRandomGenerator::global()->bounded(1000000));
        m_config = {QStringLiteral("MariaDB Unicode"), m_server->hostWithPort(), m_server->user, m_server->password,
                    m_dbname};
        m_savedRecord = Settings();
        TLoggingProxy::ResetInstance();
        TDataBaseLogging::ResetInstance();
    }
    void TearDown() override
    {
        TLoggingProxy::ResetInstance();
        TDataBaseLogging::ResetInstance();
        if (m_admin)
            m_admin->exec(QStringLiteral("DROP DATABASE IF EXISTS ") + m_dbname);
        m_admin.reset();
        Settings() = m_savedRecord;
        StationFixture::TearDown();
    }
    void writeSettings()
    {
        const QString s = QStringLiteral("LoggingDatabase");
        store().WriteString(s, QStringLiteral("databaseenabled"), QStringLiteral("1"));
        store().WriteString(s, QStringLiteral("drivername"), m_config.drivername);
        store().WriteString(s, QStringLiteral("hostname"), m_config.hostname);
        store().WriteString(s, QStringLiteral("username"), m_config.username);
        store().WriteString(s, QStringLiteral("password"), m_config.password);
        store().WriteString(s, QStringLiteral("dbname"), m_config.dbname);
    }
    SqlRows rowsOf(const QString& table)
    {
        return m_admin->query(QStringLiteral("SELECT `Action`, `NewValue`, `ShotsCounts`, "
                                             "DATE_FORMAT(`LogDateTime`, '%Y-%m-%d %H:%i:%s'), `MachineId`, "
                                             "`SWVersion`, `User` FROM ")
                              + m_dbname + QChar('.') + table);
    }

    std::optional<test::TestDatabaseServer> m_server;
    std::unique_ptr<OdbcConnection> m_admin;
    QString m_dbname;
    DatabaseLoggingConfig m_config;
    TSettings m_savedRecord;
};

TEST_F(MaintenanceDatabaseTest, CreatesDatabaseAndEveryTableOfTheVocabulary)
{
    QString error;
    auto sink = TDataBaseLogging::create(m_config, {QStringLiteral("M1"), QStringLiteral("0.1.0.0")},
                                         defaultLocalTimeSource(), &error);
    ASSERT_NE(sink, nullptr) << error.toStdString();
    const SqlRows tables = m_admin->query(
        QStringLiteral("SELECT TABLE_NAME FROM information_schema.TABLES WHERE TABLE_SCHEMA=? ORDER BY TABLE_NAME"),
        {m_dbname});
    ASSERT_TRUE(tables.ok()) << tables.error.toStdString();
    QStringList names;
    for (const auto& row : tables.rows)
        names << row[0];
    QStringList expected;
    for (const auto& a : maintenanceActions())
        expected << QString::fromLatin1(a.table);
    expected.sort(Qt::CaseInsensitive);
    names.sort(Qt::CaseInsensitive);
    EXPECT_EQ(names, expected);
    const SqlRows floatColumn = m_admin->query(
        QStringLiteral("SELECT DATA_TYPE FROM information_schema.COLUMNS WHERE TABLE_SCHEMA=? AND "
                       "TABLE_NAME='LaserEnergyAfterFocusingLens' AND COLUMN_NAME='Action'"),
        {m_dbname});
    ASSERT_EQ(floatColumn.rows.size(), 1u);
    EXPECT_EQ(floatColumn.rows[0][0].toLower(), QStringLiteral("float"));

    // A second start finds everything in place.
    EXPECT_NE(TDataBaseLogging::create(m_config, {}, defaultLocalTimeSource(), &error), nullptr) << error.toStdString();
}

TEST_F(MaintenanceDatabaseTest, RecordsThroughTheProxyReadBackFieldForField)
{
    writeSettings();
    store().WriteString(QStringLiteral("Administration"), QStringLiteral("MachineNumber"), QStringLiteral("LAB-3"));
    Settings().PulseCount = 98765;
    TLoggingProxy proxy;
    ASSERT_EQ(proxy.sink(), TLoggingProxy::Sink::Database);

    const QStringList hostile = {QStringLiteral("it's \"quoted\"; DROP TABLE StoneCounts; -- x"),
                                 QStringLiteral("/* c */ :param ?"), QStringLiteral("")};
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    for (const QString& value : hostile)
        ASSERT_TRUE(proxy.InsertStoneCounts(QStringLiteral("StoneCounts"), value)) << m_dialogs.texts().join(' ').toStdString();
    ASSERT_TRUE(proxy.InsertTotalMachinePulses(QStringLiteral("TotalMachinePulses"), QStringLiteral("123456")));
    EXPECT_TRUE(m_dialogs.transcript().empty());

    const SqlRows stones = rowsOf(QStringLiteral("StoneCounts"));
    ASSERT_TRUE(stones.ok()) << stones.error.toStdString();
    ASSERT_EQ(stones.rows.size(), std::size_t(hostile.size()));
    for (qsizetype i = 0; i < hostile.size(); ++i) {
        const QStringList& row = stones.rows[std::size_t(i)];
        EXPECT_EQ(row[0], QStringLiteral("StoneCounts"));
        EXPECT_EQ(row[1], hostile[i]);
        EXPECT_EQ(row[2], QStringLiteral("98765"));
        const QDateTime logged = QDateTime::fromString(row[3], QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        EXPECT_GE(logged, before.addSecs(-1)) << row[3].toStdString();
        EXPECT_LE(logged, QDateTime::currentDateTime().addSecs(1));
        EXPECT_EQ(row[4], QStringLiteral("LAB-3"));
        EXPECT_EQ(row[5], programFileVersion());
        EXPECT_EQ(row[6], QStringLiteral("LA"));
    }
    const SqlRows totals = rowsOf(QStringLiteral("TotalMachinePulses"));
    ASSERT_EQ(totals.rows.size(), 1u);
    EXPECT_EQ(totals.rows[0][1], QStringLiteral("123456"));
}

TEST_F(MaintenanceDatabaseTest, RefusedLoginIsShownOnceAndTheNextRecordTriesAgain)
{
    writeSettings();
    store().WriteString(QStringLiteral("LoggingDatabase"), QStringLiteral("password"), QStringLiteral("wrong"));
    TLoggingProxy proxy;
    EXPECT_FALSE(proxy.InsertCameraNotAvailable(QStringLiteral("is_InitCamera failed"), QString()));
    EXPECT_FALSE(proxy.InsertCameraNotAvailable(QStringLiteral("is_InitCamera failed"), QString()));
    ASSERT_EQ(m_dialogs.texts().size(), 1);
    EXPECT_TRUE(m_dialogs.texts()[0].startsWith(QStringLiteral("Maintenance log database error: ")));

    // The password is mended in the store; the station needs no restart for the next record.
    store().WriteString(QStringLiteral("LoggingDatabase"), QStringLiteral("password"), m_config.password);
    EXPECT_TRUE(proxy.InsertCameraNotAvailable(QStringLiteral("is_InitCamera failed"), QString()));
    EXPECT_EQ(rowsOf(QStringLiteral("CameraNotAvailable")).rows.size(), 1u);
}

TEST_F(MaintenanceDatabaseTest, ConnectionLostInTheMiddleIsReportedAndRecovered)
{
    writeSettings();
    TLoggingProxy proxy;
    ASSERT_TRUE(proxy.InsertStoneCounts(QStringLiteral("StoneCounts"), QStringLiteral("1")));
    TDataBaseLogging* sink = TDataBaseLogging::GetInstance();
    ASSERT_NE(sink, nullptr);
    const SqlRows id = sink->connection().query(QStringLiteral("SELECT CONNECTION_ID()"));
    ASSERT_EQ(id.rows.size(), 1u);
    ASSERT_TRUE(m_admin->exec(QStringLiteral("KILL ") + id.rows[0][0]).ok());

    // Whatever the driver does with the dead link, nothing crashes and at most one box shows;
    // the record after that reaches the table again.
    proxy.InsertStoneCounts(QStringLiteral("StoneCounts"), QStringLiteral("2"));
    EXPECT_LE(m_dialogs.texts().size(), 1);
    EXPECT_TRUE(proxy.InsertStoneCounts(QStringLiteral("StoneCounts"), QStringLiteral("3")));
    const SqlRows rows = rowsOf(QStringLiteral("StoneCounts"));
    ASSERT_GE(rows.rows.size(), 2u);
    EXPECT_EQ(rows.rows.back()[1], QStringLiteral("3"));
}

} // namespace
} // namespace lapido
