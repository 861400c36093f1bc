// The station program as separate processes on the simulated machine: a second start raises
// the first and ends without a window; a stop signal ends the first with the laser shut down
// and frees its place for the next start.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

#ifdef LAPIDOGRAPH_PROGRAM

namespace lapido {
namespace {

class StationProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // The debug log tells what the station did; without it nothing would be logged.
        QFile properties(m_dir.filePath("log4station.properties"));
        ASSERT_TRUE(properties.open(QIODevice::WriteOnly));
        properties.write("log4station.rootLogger=DEBUG, F\n"
                         "log4station.appender.F=TFileAppender\n"
                         "log4station.appender.F.File=station.log\n"
                         "log4station.appender.F.layout=TPatternLayout\n"
                         "log4station.appender.F.layout.Pattern=%m%n\n");
    }

    void prepare(QProcess& p, const QStringList& args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LAPIDOGRAPH_SETTINGS", m_dir.filePath("settings.db"));
        env.insert("XDG_CONFIG_HOME", m_dir.filePath("config"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(m_dir.path());
        p.setProgram(LAPIDOGRAPH_PROGRAM);
        p.setArguments(args);
    }

    QString log() const
    {
        QFile f(m_dir.filePath("station.log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    bool waitFor(const std::function<bool()>& condition, int ms = 60000)
    {
        QElapsedTimer t;
        t.start();
        while (!condition()) {
            if (t.elapsed() > ms)
                return false;
            QThread::msleep(50);
        }
        return true;
    }

    QTemporaryDir m_dir;
};

TEST_F(StationProcessTest, SecondStartRaisesTheFirstAndEnds)
{
    QProcess first;
    prepare(first, {"--simulate", "/nohoming", "/DEBUG"});
    first.start();
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(waitFor([&] { return log().contains("Main window shown."); }))
        << log().toStdString() << first.readAllStandardError().toStdString();
    EXPECT_TRUE(log().contains("Start."));

    QProcess second;
    prepare(second, {"--simulate"});
    QElapsedTimer t;
    t.start();
    second.start();
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(waitFor([&] { return log().contains("Brought to the front by a second start."); }, 10000));
    // It made no window: the main window's creation would have logged its start again.
    EXPECT_EQ(log().count("Start."), 1);
    EXPECT_EQ(first.state(), QProcess::Running);

    // A stop signal is an orderly end: the machine is shut down (the laser's outputs off).
    const qsizetype before = log().size();
    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(30000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    const QString tail = log().mid(before);
    EXPECT_TRUE(tail.contains("Sending command: MO")) << tail.toStdString();
    EXPECT_TRUE(tail.contains("Sending command: CB")) << tail.toStdString();

    // Its place is free again: the next start is a station of its own.
    QProcess third;
    prepare(third, {"--simulate", "/NOHOMING"});
    third.start();
    ASSERT_TRUE(waitFor([&] { return log().count("Main window shown.") == 2; }))
        << third.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(third.processId()), SIGTERM);
    ASSERT_TRUE(third.waitForFinished(30000));
    EXPECT_EQ(third.exitCode(), 0);
}

TEST_F(StationProcessTest, HelpAndVersionNeedNoMachine)
{
    QProcess p;
    prepare(p, {"--version"});
    p.start();
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardOutput()).startsWith("lapidograph 0.1.0.0"));
    prepare(p, {"--sim-speed", "0"});
    p.start();
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 2);
    EXPECT_FALSE(QFile::exists(m_dir.filePath("settings.db"))); // nothing opened, nothing written
}

// Without a display the station cannot show its window, but the help and the version need
// none: they are printed, and a start says in one line why it ends.
TEST_F(StationProcessTest, WithoutDisplayHelpAndVersionWorkAndAStartSaysWhy)
{
    struct Case {
        QStringList args;
        int exitCode;
        const char* outStart;
    };
    const Case cases[] = {
        {{"--version"}, 0, "lapidograph 0.1.0.0"},
        {{"--help"}, 0, "usage: lapidograph"},
        {{"--simulate"}, 1, nullptr},
    };
    for (const Case& c : cases) {
        QProcess p;
        prepare(p, c.args);
        QProcessEnvironment env = p.processEnvironment();
        env.remove("QT_QPA_PLATFORM");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        p.setProcessEnvironment(env);
        p.start();
        ASSERT_TRUE(p.waitForFinished(20000)) << c.args.join(' ').toStdString();
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << c.args.join(' ').toStdString();
        EXPECT_EQ(p.exitCode(), c.exitCode) << c.args.join(' ').toStdString();
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        if (c.outStart)
            EXPECT_TRUE(out.startsWith(QLatin1String(c.outStart))) << out.toStdString();
        else
            EXPECT_TRUE(out.isEmpty()) << out.toStdString();
        if (c.exitCode == 1) {
            EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
            EXPECT_TRUE(err.contains("DISPLAY")) << err.toStdString();
        }
    }
    EXPECT_FALSE(QFile::exists(m_dir.filePath("settings.db")));
}

} // namespace
} // namespace lapido

#endif
