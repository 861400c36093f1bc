// lapidograph-cli machine: numbers out of the range the station can act on are refused; the laser
// is off at the end of every run; an address given on the command line is used, not stored.
#include "platform/settingsstore.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

CliRun cli(const QTemporaryDir& dir, const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LAPIDOGRAPH_SETTINGS", dir.filePath("settings.db"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir.path());
    p.start(QStringLiteral(LAPIDO_CLI), args);
    if (!p.waitForFinished(60000))
        return {};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

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

// The enable line's switch-off delay is the station's to wait out while its window runs; a run
// of the command ends before it, and must not leave the line on.
TEST(CliMachine, TheLaserIsOffAtTheEndWhateverTheSwitchOffDelay)
{
    QTemporaryDir dir;
    for (const char* delay : {"0", "0.4", "2.5"})
        for (const QStringList& fire : {QStringList{"timed-pulse", "20"}, QStringList{"pulse-train", "10", "100"}}) {
            SCOPED_TRACE(fire.join(' ').toStdString() + " after a delay of " + delay);
            ASSERT_EQ(cli(dir, {"settings", "set", "Hardware", "EnableOffDelay", delay}).exitCode, 0);
            const CliRun run = cli(dir, QStringList{"machine", "--address", "sim", "--echo"} + fire);
            ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
            const QStringList sent = run.out.split('\n').filter(QRegularExpression("^> "));
            // Enable on is "SB2" then a pulse on line 4, off is "CB2" then a pulse on line 5.
            const auto on = sent.lastIndexOf("> SB2");
            const auto off = sent.lastIndexOf("> CB2");
            ASSERT_GE(on, 0) << run.out.toStdString();
            EXPECT_GT(off, on) << run.out.toStdString();
            const QString all = sent.join('\n');
            EXPECT_GT(all.lastIndexOf("CB1"), all.lastIndexOf("SB1")) << "the gate was left open";
        }
}

// An address given with --address is for this run only: the store keeps the address it had,
// here none at all.
TEST(CliMachine, AnAddressOnTheCommandLineIsNotStored)
{
    QTemporaryDir dir;
    const CliRun run = cli(dir, {"machine", "--address", "sim", "position"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const auto store = lapido::SettingsStore::open(dir.filePath("settings.db"));
    EXPECT_EQ(store->value("Hardware", "GalilIP"), std::nullopt);
}

} // namespace
