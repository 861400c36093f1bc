// The station's debug log on a device that refuses data: the commands that read
// "log4station.properties" run to their end and say once that the log stopped.
#include "smalldisk.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace {

struct CliRun {
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QString out;
    QString err;
};

TEST(CliDebugLog, ALogThatCannotBeWrittenStopsNoCommand)
{
    struct Case {
        const char* what;
        const char* appender;
        bool smallDisk;
    };
    const Case cases[] = {
        {"file appender on /dev/full", "TFileAppender", false},
        {"rolling appender of 8 KB on a full disk", "TRollingFileAppender", true},
    };
    const QString label = lapido::test::testDataDir() + QStringLiteral("/../../examples/text-stroke.xml");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        std::optional<lapido::test::SmallDisk> disk;
        QString logPath = QStringLiteral("/dev/full");
        if (c.smallDisk) {
            disk.emplace(dir.filePath("disk"));
            if (!disk->mounted()) {
                std::printf("skipped: a small filesystem cannot be mounted here (needs root)\n");
                continue;
            }
            logPath = disk->path() + QStringLiteral("/station.log");
            disk->fill(1024); // room for the file and its first lines, then full
        }
        QFile props(dir.filePath("log4station.properties"));
        ASSERT_TRUE(props.open(QIODevice::WriteOnly));
        props.write(QStringLiteral("log4station.rootLogger=DEBUG, F\n"
                                   "log4station.appender.F=%1\n"
                                   "log4station.appender.F.File=%2\n"
                                   "log4station.appender.F.MaxFileSize=8KB\n"
                                   "log4station.appender.F.MaxBackupIndex=2\n"
                                   "log4station.appender.F.layout=TPatternLayout\n"
                                   "log4station.appender.F.layout.Pattern=%d %p %m%n\n")
                        .arg(QLatin1String(c.appender), logPath)
                        .toUtf8());
        props.close();
        auto cli = [&](const QStringList& args) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("LAPIDOGRAPH_SETTINGS", dir.filePath("settings.db"));
            env.insert("QT_QPA_PLATFORM", "offscreen");
            p.setProcessEnvironment(env);
            p.setWorkingDirectory(dir.path());
            p.start(QStringLiteral(LAPIDO_CLI), args);
            p.waitForFinished(120000);
            return CliRun{p.exitCode(), p.exitStatus(), QString::fromUtf8(p.readAllStandardOutput()),
                          QString::fromUtf8(p.readAllStandardError())};
        };
        const CliRun marked = cli({"mark", label, "--out", dir.filePath("out")});
        EXPECT_EQ(marked.status, QProcess::NormalExit) << marked.err.toStdString();
        EXPECT_EQ(marked.exitCode, 0) << marked.err.toStdString() << marked.out.toStdString();
        EXPECT_TRUE(marked.out.contains(QStringLiteral("glyphs marked: 7"))) << marked.out.toStdString();
        EXPECT_EQ(marked.err.count(QStringLiteral("debug log cannot be written")), 1) << marked.err.toStdString();

        const CliRun asked = cli({"dmc", "MG 1+1"});
        EXPECT_EQ(asked.status, QProcess::NormalExit);
        EXPECT_EQ(asked.exitCode, 0) << asked.err.toStdString();
        EXPECT_EQ(asked.out.trimmed(), QStringLiteral("2.0000"));
        EXPECT_EQ(asked.err.count(QStringLiteral("debug log cannot be written")), 1) << asked.err.toStdString();
    }
}

} // namespace
