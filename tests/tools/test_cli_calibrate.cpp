// lapidograph-cli calibrate: measures the simulated camera's true optics on the simulated machine
// and writes the settings only with --store.
#include <QProcess>
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
    if (!p.waitForFinished(300000))
        return {};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

QString videoSettings(const QTemporaryDir& dir)
{
    return cli(dir, {"settings", "list", "Video"}).out;
}

TEST(CliCalibrate, ReportsTheTrueOpticsAndStoresThemOnlyWhenAsked)
{
    QTemporaryDir dir;
    const QStringList run{"calibrate", "--address", "sim", "--sim-optics", "260,95,-1.2,402,270,4"};
    const QString before = videoSettings(dir);

    const CliRun measured = cli(dir, run);
    ASSERT_EQ(measured.exitCode, 0) << measured.err.toStdString();
    for (const char* expected : {"(VideoScale 260)", "(VideoAspect 95)", "(CrossHairX 402, CrossHairY 270)",
                                 "Warning: the camera is turned by -1.2", "Residual: ", "not stored"})
        EXPECT_TRUE(measured.out.contains(QLatin1String(expected))) << expected << "\n" << measured.out.toStdString();
    EXPECT_EQ(videoSettings(dir), before);

    const CliRun stored = cli(dir, run + QStringList{"--store"});
    ASSERT_EQ(stored.exitCode, 0) << stored.err.toStdString();
    EXPECT_TRUE(stored.out.contains(QLatin1String("stored in the settings")));
    for (const auto& [key, value] : {std::pair{"VideoScale", "260"}, std::pair{"VideoAspect", "95"},
                                     std::pair{"CrossHairX", "402"}, std::pair{"CrossHairY", "270"}})
        EXPECT_EQ(cli(dir, {"settings", "get", "Video", key}).out.trimmed(), QLatin1String(value)) << key;
}

TEST(CliCalibrate, SimulatedOpticsNeedTheSimulatorAndSixNumbers)
{
    QTemporaryDir dir;
    const QString before = videoSettings(dir);
    const QStringList cases[] = {
        {"calibrate", "--address", "127.0.0.1:1", "--sim-optics", "300,100,0,384,288,0"},
        {"calibrate", "--address", "sim", "--sim-optics", "300,100,0,384,288"},
        {"calibrate", "--address", "sim", "--sim-optics", "0,100,0,384,288,0"},
        {"calibrate", "--address", "sim", "--sim-optics", "300,100,0,384,288,-1"},
        {"calibrate", "--bogus"},
    };
    for (const QStringList& args : cases) {
        const CliRun run = cli(dir, args);
        EXPECT_EQ(run.exitCode, 2) << args.join(' ').toStdString() << ": " << run.err.toStdString();
    }
    EXPECT_EQ(videoSettings(dir), before);
}

} // namespace
