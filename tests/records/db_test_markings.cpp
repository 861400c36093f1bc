// Marking records against a real MariaDB server with a Markings_v2 table made by the fixture.
#include "testdatabase.h"

#include "platform/numfmt.h"
#include "records/lapidographdb.h"
#include "testsupport.h"

#include <QRegularExpression>

namespace lapido {
namespace {

class MarkingDatabaseTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        m_server = test::testDatabaseServer();
        if (!m_server)
            GTEST_SKIP() << test::kSkipWithoutServer;
        m_admin = m_server->connect();
        ASSERT_NE(m_admin, nullptr);
        // The station never creates this table; the customer's server holds it.
        for (const char* sql : {"CREATE DATABASE IF NOT EXISTS Lapidograph",
                                "DROP TABLE IF EXISTS Lapidograph.Markings_v2",
                                "CREATE TABLE Lapidograph.Markings_v2 (GlobalIdentifier VARCHAR(64), "
                                "RptNumber VARCHAR(100), Label1 VARCHAR(400), Label2 VARCHAR(400), "
                                "Label3 VARCHAR(400), MarkingTimeStamp VARCHAR(64), MachineName VARCHAR(256))"})
            ASSERT_TRUE(m_admin->exec(QString::fromLatin1(sql)).ok()) << sql;
        test::storeDatabaseSettings(store(), m_server, true);
    }
    void TearDown() override
    {
        if (m_admin)
            m_admin->exec(QStringLiteral("DROP TABLE IF EXISTS Lapidograph.Markings_v2"));
        m_admin.reset();
        StationFixture::TearDown();
    }
    std::vector<QStringList> rowsFor(const QString& report)
    {
        const SqlRows r = m_admin->query(QStringLiteral("SELECT GlobalIdentifier, RptNumber, Label1, Label2, Label3, "
                                                        "MarkingTimeStamp, MachineName FROM Lapidograph.Markings_v2 "
                                                        "WHERE RptNumber=?"),
                                         {report});
        EXPECT_TRUE(r.ok()) << r.error.toStdString();
        return r.rows;
    }

    std::optional<test::TestDatabaseServer> m_server;
    std::unique_ptr<OdbcConnection> m_admin;
};

TEST_F(MarkingDatabaseTest, FourMarkingsOfOneReport)
{
    TDataModule1 db;
    const QDateTime first(QDate(2016, 5, 3), QTime(14, 22, 5));
    db.setLocalTimeSource([&] { return first; });
    db.Open();
    ASSERT_TRUE(db.connected()) << m_dialogs.texts().join(' ').toStdString();

    db.Insert(QStringLiteral("Label 1"), QStringLiteral("12345"));
    auto rows = rowsFor(QStringLiteral("12345"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
                    .match(rows[0][0])
                    .hasMatch())
        << rows[0][0].toStdString();
    EXPECT_EQ(rows[0].mid(1, 4), (QStringList{QStringLiteral("12345"), QStringLiteral("Label 1"),
                                             QStringLiteral("NULL"), QStringLiteral("NULL")}));
    EXPECT_EQ(rows[0][5], FormatShortDateLongTime(first));
    EXPECT_EQ(rows[0][6], TDataModule1::GetComputerNetName());

    db.setLocalTimeSource([] { return QDateTime(QDate(2017, 1, 1), QTime(9, 0)); });
    db.Insert(QStringLiteral("Logo 1Photo"), QStringLiteral("12345"));
    db.Insert(QStringLiteral("Label 2"), QStringLiteral("12345"));
    EXPECT_TRUE(m_dialogs.transcript().empty()) << m_dialogs.texts().join(' ').toStdString();
    rows = rowsFor(QStringLiteral("12345"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].mid(2, 4), (QStringList{QStringLiteral("Label 1"), QStringLiteral("Logo 1Photo"),
                                             QStringLiteral("Label 2"), FormatShortDateLongTime(first)}));

    db.Insert(QStringLiteral("Label 3"), QStringLiteral("12345"));
    EXPECT_EQ(m_dialogs.texts(),
              QStringList{QStringLiteral("Error: trying to enter more than 3 labels for report number 12345")});
    EXPECT_EQ(rowsFor(QStringLiteral("12345")), rows);
}

TEST_F(MarkingDatabaseTest, DuplicateReportNumberWritesNothing)
{
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(m_admin
                        ->exec(QStringLiteral("INSERT INTO Lapidograph.Markings_v2 VALUES (?,?,?,?,?,?,?)"),
                               {QStringLiteral("G%1").arg(i), QStringLiteral("777"), QStringLiteral("L"),
                                QStringLiteral("NULL"), QStringLiteral("NULL"), QStringLiteral("t"), QStringLiteral("m")})
                        .ok());
    TDataModule1 db;
    db.Open();
    db.Insert(QStringLiteral("Label 1"), QStringLiteral("777"));
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("Error: duplicate report number 777")});
    for (const auto& row : rowsFor(QStringLiteral("777")))
        EXPECT_EQ(row[3], QStringLiteral("NULL"));
}

TEST_F(MarkingDatabaseTest, ReportNumbersAndContentsAreStoredExactlyAsTyped)
{
    TDataModule1 db;
    db.Open();
    ASSERT_TRUE(db.connected());
    const QStringList reports = {QString(), QStringLiteral("12'45"), QStringLiteral("1; DELETE FROM Markings_v2; --"),
                                 QStringLiteral("x' OR '1'='1"), QStringLiteral("/* 9 */ \"q\"")};
    for (const QString& report : reports)
        db.Insert(QStringLiteral("Label 'A'; -- ") + report, report);
    EXPECT_TRUE(m_dialogs.transcript().empty()) << m_dialogs.texts().join(' ').toStdString();
    for (const QString& report : reports) {
        const auto rows = rowsFor(report);
        ASSERT_EQ(rows.size(), 1u) << report.toStdString();
        EXPECT_EQ(rows[0][1], report);
        EXPECT_EQ(rows[0][2], QStringLiteral("Label 'A'; -- ") + report);
    }
    // A second marking of the quoted report fills its own row only.
    db.Insert(QStringLiteral("Label 2"), QStringLiteral("x' OR '1'='1"));
    EXPECT_EQ(rowsFor(QStringLiteral("x' OR '1'='1"))[0][3], QStringLiteral("Label 2"));
    EXPECT_EQ(rowsFor(QStringLiteral("12'45"))[0][3], QStringLiteral("NULL"));
}

TEST_F(MarkingDatabaseTest, RefusedLoginMeansNoRecordsForTheRun)
{
    store().WriteString(QStringLiteral("Database"), QStringLiteral("password"), QStringLiteral("wrong"));
    TDataModule1 db;
    db.Open();
    db.Insert(QStringLiteral("Label 1"), QStringLiteral("555"));
    EXPECT_EQ(m_dialogs.texts(), (QStringList{QStringLiteral("Error: did not find the database"),
                                              QStringLiteral("Error: database connection is absent")}));
    EXPECT_TRUE(rowsFor(QStringLiteral("555")).empty());
}

TEST_F(MarkingDatabaseTest, ConnectionLostInTheMiddleIsReportedWithoutACrash)
{
    TDataModule1 db;
    db.Open();
    ASSERT_TRUE(db.connected());
    db.Insert(QStringLiteral("Label 1"), QStringLiteral("901"));
    const SqlRows id = db.connection()->query(QStringLiteral("SELECT CONNECTION_ID()"));
    ASSERT_EQ(id.rows.size(), 1u);
    ASSERT_TRUE(m_admin->exec(QStringLiteral("KILL ") + id.rows[0][0]).ok());

    db.Insert(QStringLiteral("Label 1"), QStringLiteral("902"));
    db.Insert(QStringLiteral("Label 1"), QStringLiteral("903"));
    // The first marking after the loss says so; from then on the module is disconnected.
    ASSERT_FALSE(m_dialogs.texts().isEmpty());
    for (const QString& text : m_dialogs.texts())
        EXPECT_EQ(text, QStringLiteral("Error: database connection is absent"));
    EXPECT_FALSE(db.connected());
    EXPECT_TRUE(rowsFor(QStringLiteral("903")).empty());
}

} // namespace
} // namespace lapido
