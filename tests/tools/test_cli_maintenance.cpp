// lapidograph-cli maintenance and records: what a service engineer sees.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

class CliMaintenance : public ::testing::Test {
protected:
    CliRun cli(const QStringList& args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LAPIDOGRAPH_SETTINGS", m_dir.filePath("settings.db"));
        env.insert("LC_ALL", "C.UTF-8");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(LAPIDO_CLI), args);
        p.waitForFinished(30000);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }
    void set(const char* section, const char* key, const QString& value)
    {
        ASSERT_EQ(cli({"settings", "set", section, key, value}).exitCode, 0);
    }
    QTemporaryDir m_dir;
};

TEST_F(CliMaintenance, ListNamesEveryActionAndTheSink)
{
    const CliRun r = cli({"maintenance", "list"});
    ASSERT_EQ(r.exitCode, 0);
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 31);
    EXPECT_EQ(lines[8], QStringLiteral("BEL2Exchange\tInsertBELL2Exchange"));
    EXPECT_EQ(lines[25], QStringLiteral("LaserEnergyAfterFocusingLens\t(table only)"));
    EXPECT_TRUE(lines[30].startsWith(QStringLiteral("# sink: none")));
}

TEST_F(CliMaintenance, RecordWritesOneFileAndRefusesWhatIsNoAction)
{
    EXPECT_EQ(cli({"maintenance", "record", "InsertLaserOCCleaning"}).exitCode, 1); // no sink: nothing recorded
    const QString logs = m_dir.filePath("logs");
    ASSERT_TRUE(QDir().mkpath(logs));
    set("LoggingDatabase", "logfileenabled", "1");
    set("LoggingDatabase", "logfilebasedir", logs);
    set("Hardware", "PulseCount", "777");

    const CliRun r = cli({"maintenance", "record", "InsertFocusingLensCleaning", "new lens"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList files = QDir(logs).entryList({"FocusLensCleaning_*.log"});
    ASSERT_EQ(files.size(), 1);
    QFile f(QDir(logs).filePath(files[0]));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> fields = f.readAll().split('\n').value(1).split('\t');
    ASSERT_EQ(fields.size(), 7);
    EXPECT_EQ(fields[0], "FocusLensCleaning");
    EXPECT_EQ(fields[1], "new lens");
    EXPECT_EQ(fields[2], "777");

    EXPECT_EQ(cli({"maintenance", "record", "Nonsense"}).exitCode, 2);
    EXPECT_EQ(cli({"maintenance", "record", "LaserEnergyAfterFocusingLens", "1"}).exitCode, 2);
    EXPECT_EQ(QDir(logs).entryList(QDir::Files).size(), 1);
}

TEST_F(CliMaintenance, RecordsInsertPrintsTheStationsMessages)
{
    CliRun r = cli({"records", "insert", "12345", "Label 1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("customer is not XGL"));
    set("Database", "customer", "xgl");
    set("Database", "odbcdriver", "MariaDB Unicode");
    set("Database", "hostname", "127.0.0.1:1");
    r = cli({"records", "insert", "12345", "Label 1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, QStringLiteral("Error: did not find the database\nError: database connection is absent\n"));
}

} // namespace
