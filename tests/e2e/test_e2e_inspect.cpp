// The inspection through lapidograph-cli: mark --inspect on the simulated machine, clean and with
// a glyph left out, and inspect on a saved picture of the run.
#include "testsupport.h"

#include <QFile>
#include <QProcess>

namespace lapido {
namespace {

struct CliRun {
    int exitCode = -1;
    QString out;
};

class InspectRunTest : public test::StationFixture {
protected:
    CliRun cli(const QStringList& args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LAPIDOGRAPH_SETTINGS", scratch("settings.db"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LC_ALL", "C.UTF-8");
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(scratch());
        p.start(QStringLiteral(LAPIDO_CLI), args);
        p.waitForFinished(120000);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput())};
    }
    static QString example(const QString& name) { return QStringLiteral(LAPIDO_EXAMPLES_DIR "/") + name; }
    QString read(const QString& path) const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
};

TEST_F(InspectRunTest, MarkInspectPrintsEachGlyphAndFailsWithExitFourOnASkippedGlyph)
{
    const CliRun clean = cli({"mark", example("text-stroke.xml"), "--out", scratch("clean"), "--inspect"});
    EXPECT_EQ(clean.exitCode, 0) << clean.out.toStdString();
    EXPECT_TRUE(clean.out.contains(QStringLiteral("'7': ok"))) << clean.out.toStdString();
    EXPECT_TRUE(clean.out.contains(QStringLiteral("read back: LG1407 (matches)"))) << clean.out.toStdString();
    EXPECT_TRUE(read(scratch("clean/LATrace")).contains(QStringLiteral("Inspection: ok")));
    EXPECT_TRUE(QFile::exists(scratch("clean/LAInspection.log")));

    const CliRun skipped =
        cli({"mark", example("text-stroke.xml"), "--out", scratch("skip"), "--inspect", "--sim-skip-glyph", "2"});
    EXPECT_EQ(skipped.exitCode, 4) << skipped.out.toStdString();
    EXPECT_TRUE(skipped.out.contains(QStringLiteral("'G': 0 % of its marks found"))) << skipped.out.toStdString();
    EXPECT_TRUE(read(scratch("skip/LATrace")).contains(QStringLiteral("Inspection: failed: 'G': 0 % of its marks found")));

    // The same run's marks on a saved picture of the simulated camera, inspected afterwards.
    const CliRun render = cli({"render", example("text-stroke.xml"), scratch("picture.png"), "--camera", "sim",
                               "--no-overlay", "--marks", scratch("skip/marks.csv")});
    ASSERT_EQ(render.exitCode, 0);
    const CliRun inspect = cli({"inspect", example("text-stroke.xml"), scratch("picture.png"), "--out", scratch("later")});
    EXPECT_EQ(inspect.exitCode, 4) << inspect.out.toStdString();
    EXPECT_TRUE(inspect.out.contains(QStringLiteral("'G': 0 % of its marks found"))) << inspect.out.toStdString();
    EXPECT_TRUE(inspect.out.contains(QStringLiteral("'L': ok"))) << inspect.out.toStdString();

    EXPECT_EQ(cli({"mark", example("text-stroke.xml"), "--sim-misfire", "2"}).exitCode, 2);
    EXPECT_EQ(cli({"inspect", example("text-stroke.xml"), scratch("missing.png")}).exitCode, 1);
}

} // namespace
} // namespace lapido
