// lapidograph-cli dmc: controller commands from a terminal, the service engineer's tool.
#include <QDir>
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
    // The station's own debug-log configuration, writing debug.log beside it.
    void writeStationLogConfig()
    {
        QFile props(m_dir.filePath("log4station.properties"));
        ASSERT_TRUE(props.open(QIODevice::WriteOnly));
        props.write("log4station.rootLogger=DEBUG, F\n"
                    "log4station.appender.F=TFileAppender\n"
                    "log4station.appender.F.File=debug.log\n"
                    "log4station.appender.F.layout=TSimpleLayout\n");
    }
    QTemporaryDir m_dir;
};

TEST_F(CliDmc, MovesTheSimulatedMachineAndPrintsTheReachedPosition)
{
    const DmcRun r = dmc({"--address", "sim", "PA 1000,2000,0", "BGXY", "MC", "RPXYZW", "mg 1+2"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    // One line per command: no data for the first three, the position, then the message of
    // the lower-case command sent upper-cased.
    EXPECT_EQ(r.lines.mid(0, 5), (QStringList{"", "", "", "1000, 2000, 0, 0", "3.0000"}));
    EXPECT_EQ(stored("Hardware", "GalilIP"), "<absent>"); // an address given here is not stored
}

// A refusal is not an empty answer: its line carries the controller's reason, the same reason
// goes to standard error, the later commands still run and the exit status says it failed.
TEST_F(CliDmc, RefusedCommandShowsTheControllersReasonAndFails)
{
    const DmcRun r = dmc({"--address", "sim", "xx", "MG 1+2", "PA 1,2"});
    EXPECT_EQ(r.exitCode, 1);
    ASSERT_GE(r.lines.size(), 3);
    EXPECT_TRUE(r.lines[0].startsWith("? COMMAND ERROR: ")) << r.lines[0].toStdString();
    EXPECT_GT(r.lines[0].size(), QString("? COMMAND ERROR: ").size()); // the reason follows
    EXPECT_EQ(r.lines[1], "3.0000");
    EXPECT_TRUE(r.err.contains("\"XX\" refused: COMMAND ERROR: ")) << r.err.toStdString();
    EXPECT_EQ(dmc({"--address", "sim", "MG 1"}).exitCode, 0);
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
    writeStationLogConfig();
    const DmcRun r = dmc({"--address", "sim", "MG 7"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QFile log(m_dir.filePath("debug.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly)) << "no debug log written";
    const QString text = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(text.contains("DEBUG - Opening controller succeeded.")) << text.toStdString();
    EXPECT_TRUE(text.contains("DEBUG - Sending command: MG 7 with result 7.0000")) << text.toStdString();
}

// The logging library would configure itself from its own default files in the current folder
// at the first log line; only "log4station.properties" may configure the debug log, with or
// without it present.
TEST_F(CliDmc, TheLoggingLibrarysOwnDefaultFilesAreIgnored)
{
    const QByteArray properties = "log4j.rootLogger=DEBUG, T\n"
                                  "log4j.appender.T=org.apache.log4j.FileAppender\n"
                                  "log4j.appender.T.File=trap.log\n"
                                  "log4j.appender.T.layout=org.apache.log4j.SimpleLayout\n";
    const QByteArray xml = "<?xml version=\"1.0\"?>\n"
                           "<log4j:configuration xmlns:log4j=\"http://jakarta.apache.org/log4j/\">\n"
                           " <appender name=\"T\" class=\"org.apache.log4j.FileAppender\">\n"
                           "  <param name=\"File\" value=\"trap.log\"/>\n"
                           "  <layout class=\"org.apache.log4j.SimpleLayout\"/>\n"
                           " </appender>\n"
                           " <root><priority value=\"debug\"/><appender-ref ref=\"T\"/></root>\n"
                           "</log4j:configuration>\n";
    for (const char* name : {"log4j.properties", "log4cxx.properties", "log4j.xml", "log4cxx.xml"}) {
        for (const bool withOurs : {false, true}) {
            SCOPED_TRACE(std::string(name) + (withOurs ? " beside log4station.properties" : " alone"));
            QDir(m_dir.path()).removeRecursively();
            ASSERT_TRUE(QDir().mkpath(m_dir.path()));
            QFile f(m_dir.filePath(QString::fromLatin1(name)));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(name).endsWith(".xml") ? xml : properties);
            f.close();
            if (withOurs)
                writeStationLogConfig();
            const DmcRun r = dmc({"--address", "sim", "MG 7"});
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            EXPECT_FALSE(QFile::exists(m_dir.filePath("trap.log")));
            EXPECT_EQ(QFile::exists(m_dir.filePath("debug.log")), withOurs);
        }
    }
}

TEST_F(CliDmc, UnreachableControllerOrNoCommandFails)
{
    const DmcRun gone = dmc({"--address", "127.0.0.1:1", "--timeout", "300", "RPXYZW"});
    EXPECT_EQ(gone.exitCode, 1);
    EXPECT_TRUE(gone.err.contains("no controller at \"127.0.0.1:1\""));
    EXPECT_EQ(dmc({"--address", "sim"}).exitCode, 2);
    EXPECT_EQ(dmc({"--timeout", "0", "SH"}).exitCode, 2);
}

// Help and unknown options are the program's: nothing reaches the controller (the debug log
// shows every command sent).
TEST_F(CliDmc, HelpAndUnknownOptionsSendNothing)
{
    writeStationLogConfig();
    const DmcRun help = dmc({"--address", "sim", "--help"});
    EXPECT_EQ(help.exitCode, 0) << help.err.toStdString();
    EXPECT_TRUE(help.lines.join('\n').contains("usage: dmc")) << help.lines.join('\n').toStdString();
    const DmcRun unknown = dmc({"--address", "sim", "--bogus", "MG 1"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.contains("unknown option \"--bogus\"")) << unknown.err.toStdString();
    QFile log(m_dir.filePath("debug.log"));
    const QString logged = log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    EXPECT_FALSE(logged.contains("Sending command")) << logged.toStdString();
}

} // namespace
