// Debug-log configuration: the station's property names reach the logging library.
#include "records/log4station.h"

#include "platform/debuglog.h"

#include "smalldisk.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

using namespace lapido;

namespace {
void writeFile(const QString& path, const QByteArray& text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}
QString readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}
} // namespace

TEST(Log4Station, TranslatesKeysAndClassNames)
{
    std::map<QString, QString> station = {
        {"log4station.rootLogger", "DEBUG, A, B"},
        {"log4station.threshold", "ALL"},
        {"log4station.appender.A", "TRollingFileAppender"},
        {"log4station.appender.A.File", "station.log"},
        {"log4station.appender.A.AppDir", "true"},
        {"log4station.appender.A.MaxFileSize", "100KB"},
        {"log4station.appender.A.layout", "TPatternLayout"},
        {"log4station.appender.A.layout.Pattern", "%p %m%n"},
        {"log4station.appender.B", "TNoSuchAppender"},
        {"log4station.appender.B.File", "b.log"},
    };
    QStringList diagnostics;
    const auto out = translateDebugLogProperties(station, diagnostics, "/opt/station");
    EXPECT_EQ(out.at("log4j.rootLogger"), QStringLiteral("DEBUG, A, B"));
    EXPECT_EQ(out.at("log4j.appender.A"), QStringLiteral("org.apache.log4j.RollingFileAppender"));
    EXPECT_EQ(out.at("log4j.appender.A.File"), QStringLiteral("/opt/station/station.log"));
    EXPECT_EQ(out.at("log4j.appender.A.layout"), QStringLiteral("org.apache.log4j.PatternLayout"));
    EXPECT_EQ(out.at("log4j.appender.A.layout.ConversionPattern"), QStringLiteral("%p %m%n"));
    EXPECT_EQ(out.at("log4j.appender.A.MaxFileSize"), QStringLiteral("100KB"));
    EXPECT_EQ(out.count("log4j.appender.B"), 0u);
    EXPECT_EQ(out.count("log4j.appender.B.File"), 0u);
    ASSERT_EQ(diagnostics.size(), 1);
    EXPECT_TRUE(diagnostics[0].contains("TNoSuchAppender"));
}

TEST(Log4Station, PropertiesTextForms)
{
    const auto p = parsePropertiesText(QStringLiteral("# comment\n! also\nk1=v1\nk2: v2\nk3 v3\n"
                                                      "k4 = spaced value \nk5=first \\\n  second\n"));
    EXPECT_EQ(p.at("k1"), QStringLiteral("v1"));
    EXPECT_EQ(p.at("k2"), QStringLiteral("v2"));
    EXPECT_EQ(p.at("k3"), QStringLiteral("v3"));
    EXPECT_EQ(p.at("k4"), QStringLiteral("spaced value"));
    EXPECT_EQ(p.at("k5"), QStringLiteral("first second"));
    EXPECT_EQ(p.size(), 5u);
}

TEST(Log4Station, ConfiguredFileAppenderReceivesDebugLines)
{
    QTemporaryDir dir;
    const QString logPath = dir.filePath("debug.log");
    const QString props = dir.filePath("log4station.properties");
    writeFile(props, QStringLiteral("log4station.rootLogger=DEBUG, F\n"
                                    "log4station.appender.F=TFileAppender\n"
                                    "log4station.appender.F.File=%1\n"
                                    "log4station.appender.F.layout=TSimpleLayout\n")
                         .arg(logPath)
                         .toUtf8());
    const DebugLogConfig cfg = ConfigureDebugLog(props);
    EXPECT_TRUE(cfg.configured);
    LogDebug("Start.");
    LogDebug(QStringLiteral("Opening controller succeeded."));
    ResetDebugLog();
    EXPECT_EQ(readFile(logPath), QStringLiteral("DEBUG - Start.\nDEBUG - Opening controller succeeded.\n"));
}

TEST(Log4Station, ALevelNamingAClassKeepsOnlyTheLevel)
{
    // "LEVEL#class" asks the logging library for a level of a custom class; a class that is no
    // level made it crash while configuring, so a file edited by hand took the station down.
    QTemporaryDir dir;
    const QString logPath = dir.filePath("debug.log");
    const QString props = dir.filePath("log4station.properties");
    QFile fixture(test::testDataDir() + QStringLiteral("/records/level-with-class.properties"));
    ASSERT_TRUE(fixture.open(QIODevice::ReadOnly));
    writeFile(props, fixture.readAll() + QStringLiteral("log4station.appender.A.File=%1\n").arg(logPath).toUtf8());

    const DebugLogConfig cfg = ConfigureDebugLog(props);
    EXPECT_TRUE(cfg.configured);
    EXPECT_EQ(cfg.diagnostics.filter(QStringLiteral("level classes")).size(), 3) << cfg.diagnostics.join('\n').toStdString();
    LogDebug("below the threshold");
    ResetDebugLog();
    EXPECT_EQ(readFile(logPath), QString());

    QStringList diagnostics;
    const auto translated = translateDebugLogProperties(
        {{"log4station.threshold", " ERROR # x.Y "}, {"log4station.rootLogger", "INFO#a.B, A, B"}, {"log4station.logger.M", "OFF#c"}},
        diagnostics, dir.path());
    EXPECT_EQ(translated.at("log4j.threshold"), "ERROR");
    EXPECT_EQ(translated.at("log4j.rootLogger"), "INFO, A, B");
    EXPECT_EQ(translated.at("log4j.logger.M"), "OFF");
}

TEST(Log4Station, NoFileLogsNothingAndTheStationGoesOn)
{
    QTemporaryDir dir;
    const DebugLogConfig cfg = ConfigureDebugLog(dir.filePath("log4station.properties"));
    EXPECT_FALSE(cfg.configured);
    ASSERT_EQ(cfg.diagnostics.size(), 2);
    EXPECT_TRUE(cfg.diagnostics[0].startsWith("Could not read configuration file ["));
    EXPECT_TRUE(cfg.diagnostics[1].startsWith("Ignoring configuration file ["));
    LogDebug("nothing configured"); // must not throw or print
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

TEST(Log4Station, UnreadableFileIsReportedAndIgnored)
{
    QTemporaryDir dir;
    const QString props = dir.filePath("log4station.properties");
    ASSERT_TRUE(QDir().mkpath(props)); // a folder where the file should be
    const DebugLogConfig cfg = ConfigureDebugLog(props);
    EXPECT_FALSE(cfg.configured);
    ASSERT_FALSE(cfg.diagnostics.isEmpty());
    EXPECT_TRUE(cfg.diagnostics.last().startsWith("Ignoring configuration file [" + props + "]"));
}

// A debug log whose device refuses data: a file appender on a device that is always full, and
// a rolling appender on a small filesystem filled to the last byte. Writing keeps going from two
// threads (the trace sampler logs beside the marking): nothing is thrown, the failure is told
// once, the log goes quiet, and closing it is quiet too.
TEST(Log4Station, ALogThatCannotBeWrittenIsToldOnceAndGoesQuiet)
{
    struct Case {
        const char* what;
        const char* appender;
        bool smallDisk;
    };
    const Case cases[] = {
        {"file appender on /dev/full", "TFileAppender", false},
        {"rolling appender on a full disk", "TRollingFileAppender", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        std::optional<test::SmallDisk> disk;
        QString logPath = QStringLiteral("/dev/full");
        if (c.smallDisk) {
            disk.emplace(dir.filePath("disk"));
            if (!disk->mounted()) {
                std::printf("skipped: a small filesystem cannot be mounted here (needs root)\n");
                continue;
            }
            logPath = disk->path() + QStringLiteral("/station.log");
        }
        const QString props = dir.filePath("log4station.properties");
        writeFile(props, QStringLiteral("log4station.rootLogger=DEBUG, F\n"
                                        "log4station.appender.F=%1\n"
                                        "log4station.appender.F.File=%2\n"
                                        "log4station.appender.F.MaxFileSize=8KB\n"
                                        "log4station.appender.F.MaxBackupIndex=3\n"
                                        "log4station.appender.F.layout=TSimpleLayout\n")
                             .arg(QLatin1String(c.appender), logPath)
                             .toUtf8());
        std::atomic<int> told{0};
        QString text;
        std::mutex textMutex;
        setDebugLogFailureHandler([&](const QString& t) {
            ++told;
            std::lock_guard lock(textMutex);
            text = t;
        });
        ASSERT_TRUE(ConfigureDebugLog(props).configured);
        if (disk)
            disk->fill(); // the log file exists; every later line meets a full disk
        const std::string line(100, 'x');
        auto write = [&] {
            for (int i = 0; i < 2000; ++i)
                LogDebug(line);
        };
        std::thread sampler(write);
        write();
        sampler.join();
        ResetDebugLog();
        setDebugLogFailureHandler({});
        EXPECT_EQ(told.load(), 1);
        EXPECT_TRUE(text.contains(QStringLiteral("debug log cannot be written"))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("No space left on device"))) << text.toStdString();
        EXPECT_EQ(debugLogFailure(), text);
        clearDebugLogFailure();
    }
}
