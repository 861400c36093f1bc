// The inspection through lapidograph-cli: mark --inspect on the simulated machine, clean and with
// a glyph left out, and inspect on a saved picture of the run.
#include "clirun.h"

#include <QFile>
#include <QProcess>

namespace lapido {
namespace {

using test::CliRun;
using test::readText;

class InspectRunTest : public test::CliRunFixture {};

TEST_F(InspectRunTest, MarkInspectPrintsEachGlyphAndFailsWithExitFourOnASkippedGlyph)
{
    const CliRun clean = cli({"mark", example("text-stroke.xml"), "--out", scratch("clean"), "--inspect"});
    EXPECT_EQ(clean.exitCode, 0) << clean.out.toStdString();
    EXPECT_TRUE(clean.out.contains(QStringLiteral("'7': ok"))) << clean.out.toStdString();
    EXPECT_TRUE(clean.out.contains(QStringLiteral("read back: LG1407 (matches)"))) << clean.out.toStdString();
    EXPECT_TRUE(readText(scratch("clean/LATrace")).contains(QStringLiteral("Inspection: ok")));
    EXPECT_TRUE(QFile::exists(scratch("clean/LAInspection.log")));

    const CliRun skipped =
        cli({"mark", example("text-stroke.xml"), "--out", scratch("skip"), "--inspect", "--sim-skip-glyph", "2"});
    EXPECT_EQ(skipped.exitCode, 4) << skipped.out.toStdString();
    EXPECT_TRUE(skipped.out.contains(QStringLiteral("'G': 0 % of its marks found"))) << skipped.out.toStdString();
    EXPECT_TRUE(readText(scratch("skip/LATrace")).contains(QStringLiteral("Inspection: failed: 'G': 0 % of its marks found")));

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
