// lapidograph-cli dmc: controller commands from a terminal, the service engineer's tool.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct DmcRun {
    int exitCode = -1;
    QStringList lines;
    QString err;
};

class CliDmc : public ::testing::Test {
protected:
    DmcRun dmc(const QStringList& args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LAPIDOGRAPH_SETTINGS", m_dir.filePath("settings.db"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(m_dir.path());
        p.start(QStringLiteral(LAPIDO_CLI), QStringList{"dmc"} + args);
        p.waitForFinished(30000);
        return {p.exitCode(), QString::fromLatin1(p.readAllStandardOutput()).split('\n'),
                QString::fromUtf8(p.readAllStandardError())};
    }
    QString stored(const QString& section, const QString& key)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LAPIDOGRAPH_SETTINGS", m_dir.filePath("settings.db"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(LAPIDO_CLI), {"settings", "get", section, key});
        p.waitForFinished(30000);
        return p.exitCode() == 0 ? QString::fromUtf8(p.readAllStandardOutput()).trimmed() : QStringLiteral("<absent>");
    }
    QTemporaryDir m_dir;
};

TEST_F(CliDmc, MovesTheSimulatedMachineAndPrintsTheReachedPosition)
{
    const DmcRun r = dmc({"--address", "sim", "PA 1000,2000,0", "BGXY", "MC", "RPXYZW", "xx", "mg 1+2"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    // One line per command: no data for the first three, the position, nothing for the
    // refused command, then the message of the lower-case command sent upper-cased.
    EXPECT_EQ(r.lines.mid(0, 6), (QStringList{"", "", "", "1000, 2000, 0, 0", "", "3.0000"}));
    EXPECT_EQ(stored("Hardware", "GalilIP"), "<absent>"); // an address given here is not stored
}

// Without an address the stored one is used (none: the simulated machine); the store is only
// read, so an empty address stays empty for the station to fill at its start.
TEST_F(CliDmc, StoredAddressIsUsedAndNothingIsWrittenBack)
{
    const DmcRun r = dmc({"MG _BGX"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.lines.value(0), "0.0000");
    EXPECT_EQ(stored("Hardware", "GalilIP"), "<absent>");
}

// The commands that run the station read "log4station.properties" in the current folder.
TEST_F(CliDmc, TheDebugLogIsConfiguredFromTheCurrentFolder)
{
    QFile props(m_dir.filePath("log4station.properties"));
    ASSERT_TRUE(props.open(QIODevice::WriteOnly));
    props.write("log4station.rootLogger=DEBUG, F\n"
                "log4station.appender.F=TFileAppender\n"
                "log4station.appender.F.File=debug.log\n"
                "log4station.appender.F.layout=TSimpleLayout\n");
    props.close();
    const DmcRun r = dmc({"--address", "sim", "MG 7"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QFile log(m_dir.filePath("debug.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly)) << "no debug log written";
    const QString text = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(text.contains("DEBUG - Opening controller succeeded.")) << text.toStdString();
    EXPECT_TRUE(text.contains("DEBUG - Sending command: MG 7 with result 7.0000")) << text.toStdString();
}

TEST_F(CliDmc, UnreachableControllerOrNoCommandFails)
{
    const DmcRun gone = dmc({"--address", "127.0.0.1:1", "--timeout", "300", "RPXYZW"});
    EXPECT_EQ(gone.exitCode, 1);
    EXPECT_TRUE(gone.err.contains("no controller at \"127.0.0.1:1\""));
    EXPECT_EQ(dmc({"--address", "sim"}).exitCode, 2);
    EXPECT_EQ(dmc({"--timeout", "0", "SH"}).exitCode, 2);
}

} // namespace
