// A label with a 2D code through lapidograph-cli: marked, read back and graded on the simulated
// machine, flagged when misfires leave it unreadable, predicted by check, included in the
// preview's estimate.
#include "clirun.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>

namespace lapido {
namespace {

using test::CliRun;
using test::readText;

class CodeRunTest : public test::CliRunFixture {
protected:
    // The example with its girdle and the code's module size replaced.
    QString variant(const QString& girdle, const QString& moduleUm)
    {
        QString text = readText(example("code.xml"));
        text.replace(QStringLiteral("Girdleheight=\"0.4\""), QStringLiteral("Girdleheight=\"%1\"").arg(girdle));
        text.replace(QStringLiteral("moduleSize=\"20\""), QStringLiteral("moduleSize=\"%1\"").arg(moduleUm));
        const QString path = scratch(QStringLiteral("code-%1-%2.xml").arg(girdle, moduleUm));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
        return path;
    }
};

TEST_F(CodeRunTest, MarkInspectReadsTheCodeBackAndFailsWhenMisfiresLeaveItUnreadable)
{
    const CliRun clean = cli({"mark", example("code.xml"), "--out", scratch("clean"), "--inspect"});
    EXPECT_EQ(clean.exitCode, 0) << clean.out.toStdString();
    static const QRegularExpression graded(QStringLiteral("Code \"2141234567\": grade [AB] \\(decode A, .*reads \"2141234567\""));
    EXPECT_TRUE(graded.match(clean.out).hasMatch()) << clean.out.toStdString();
    const QString trace = readText(scratch("clean/LATrace"));
    EXPECT_TRUE(trace.contains(QStringLiteral("Inspection: ok"))) << trace.toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("Code \"2141234567\": grade [AB]")).match(trace).hasMatch());
    EXPECT_TRUE(readText(scratch("clean/LAInspection.log")).contains(QStringLiteral("decode A")));
    EXPECT_TRUE(clean.out.contains(QStringLiteral("laser after marking: gate closed, enable off")));

    const CliRun misfired =
        cli({"mark", example("code.xml"), "--out", scratch("misfire"), "--inspect", "--sim-misfire", "0.2"});
    EXPECT_EQ(misfired.exitCode, 4) << misfired.out.toStdString();
    EXPECT_TRUE(misfired.out.contains(QStringLiteral("Code \"2141234567\": the code does not read")))
        << misfired.out.toStdString();
    EXPECT_TRUE(readText(scratch("misfire/LATrace")).contains(QStringLiteral("Inspection: failed: Code \"2141234567\": the code does not read")));
}

TEST_F(CodeRunTest, CheckPredictsTheGradeAndRefusesAModuleTheSpotCannotMark)
{
    const CliRun good = cli({"check", example("code.xml")});
    EXPECT_EQ(good.exitCode, 0) << good.out.toStdString();
    EXPECT_TRUE(good.out.contains(QStringLiteral("Code \"2141234567\": on the simulated camera grade A"))) << good.out.toStdString();

    // A girdle lower than the code: its edges cross the code, which no longer reads.
    const CliRun cramped = cli({"check", variant(QStringLiteral("0.15"), QStringLiteral("15"))});
    EXPECT_EQ(cramped.exitCode, 1) << cramped.out.toStdString();
    EXPECT_TRUE(cramped.out.contains(QStringLiteral("the code does not read"))) << cramped.out.toStdString();

    // Modules narrower than the spot (10 µm) and a pulse distance: refused as Engrave refuses.
    const CliRun narrow = cli({"check", variant(QStringLiteral("0.4"), QStringLiteral("9"))});
    EXPECT_EQ(narrow.exitCode, 3) << narrow.out.toStdString();
    const CliRun refused = cli({"mark", variant(QStringLiteral("0.4"), QStringLiteral("9")), "--out", scratch("narrow")});
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_TRUE(refused.out.contains(QStringLiteral("marking refused before the machine moved"))) << refused.out.toStdString();
    EXPECT_FALSE(QFile::exists(scratch("narrow/marks.csv")));
}

TEST_F(CodeRunTest, ThePreviewEstimatesTheCodeAndItsMarks)
{
    static const QRegularExpression estimateLine(QStringLiteral("^estimate: ([0-9]+\\.[0-9]{3}) s$"),
                                                 QRegularExpression::MultilineOption);
    const auto estimate = [&](const QString& label, const QString& out) {
        const CliRun run = cli({"mark", label, "--out", scratch(out), "--preview"});
        EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
        const auto m = estimateLine.match(run.out);
        EXPECT_TRUE(m.hasMatch()) << run.out.toStdString();
        return m.captured(1).toDouble();
    };
    const double small = estimate(example("code.xml"), QStringLiteral("small"));
    const double large = estimate(variant(QStringLiteral("0.4"), QStringLiteral("40")), QStringLiteral("large"));
    EXPECT_GT(small, 0);
    // Twice the module: the same pulses over twice the distance, and longer runs between rows.
    EXPECT_GT(large, small);
    const CliRun run = cli({"mark", example("code.xml"), "--out", scratch("run")});
    ASSERT_EQ(run.exitCode, 0);
    const QString previewMarks = readText(scratch("small/marks.csv"));
    const QString runMarks = readText(scratch("run/marks.csv"));
    EXPECT_EQ(previewMarks.count(QLatin1Char('\n')), runMarks.count(QLatin1Char('\n')));
}

} // namespace
} // namespace lapido
