// lapidograph-cli machine: numbers out of the range the station can act on are refused.
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct MachineArgs {
    QStringList args;
    int exitCode;
    const char* message; // part of the error text, or empty
};

TEST(CliMachine, NumbersBeyondWhatTheMachineCanDoAreRefused)
{
    QTemporaryDir dir;
    const MachineArgs cases[] = {
        {{"jog", "X", "100", "0.05"}, 0, ""},
        {{"jog", "X", "100", "1e300"}, 2, "jog lasts from 0 to 86400 seconds"},
        {{"jog", "X", "100", "-1"}, 2, "jog lasts from 0 to 86400 seconds"},
        {{"pulse-train", "1e300", "5"}, 2, "at most 2147483647"},
        {{"pulse-train", "5", "3e9"}, 2, "at most 2147483647"},
        {{"timed-pulse", "1e300"}, 2, "at most 2147483647 ms"},
    };
    for (const MachineArgs& c : cases) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LAPIDOGRAPH_SETTINGS", dir.filePath("settings.db"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(LAPIDO_CLI), QStringList{"machine", "--address", "sim"} + c.args);
        ASSERT_TRUE(p.waitForFinished(60000)) << c.args.join(' ').toStdString();
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_EQ(p.exitCode(), c.exitCode) << c.args.join(' ').toStdString() << ": " << err.toStdString();
        EXPECT_TRUE(err.contains(QLatin1String(c.message))) << err.toStdString();
    }
}

} // namespace
