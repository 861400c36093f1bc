// lapidograph-cli check, run as a separate process: the legibility findings and the exit code.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

class CliCheck : public ::testing::Test {
protected:
    CliRun cli(const QStringList& args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LAPIDOGRAPH_SETTINGS", m_dir.filePath("settings.db"));
        env.insert("XDG_CONFIG_HOME", m_dir.path());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(LAPIDO_CLI), args);
        p.waitForFinished(60000);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }
    // A label of one text on a girdle of 0.5 mm.
    QString label(const char* name, const QString& text, const QString& font, double height)
    {
        const QString path = m_dir.filePath(QString::fromLatin1(name));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("<tree2xml app=\"lapidograph\"><item text=\"Label\" imageIndex=\"-1\" stateIndex=\"-1\" "
                               "Girdleheight=\"0.5\" SlantAngle=\"0.0\" type=\"TGlyphWideString\" textLabel=\"%1\" "
                               "fontName=\"%2\" textHeight=\"%3\" textOffset=\"0\" textSpacing=\"0.1\"/></tree2xml>\n")
                    .arg(text, font)
                    .arg(height)
                    .toUtf8());
        return path;
    }
    QTemporaryDir m_dir;
};

TEST_F(CliCheck, FindingsArePrintedAndSetTheExitCode)
{
    const CliRun tiny = cli({"check", label("tiny.xml", "eel", "Liberation Sans", 0.1)});
    EXPECT_EQ(tiny.exitCode, 1) << tiny.err.toStdString();
    const QStringList lines = tiny.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1) << tiny.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith("Characters 'e' at 0.050 mm: strokes ")) << tiny.out.toStdString();
    EXPECT_TRUE(lines[0].endsWith(" um apart, spot 10 um.")) << tiny.out.toStdString();

    const CliRun legible = cli({"check", label("legible.xml", "eel", "Liberation Sans", 1.0)});
    EXPECT_EQ(legible.exitCode, 0) << legible.err.toStdString();
    EXPECT_TRUE(legible.out.isEmpty()) << legible.out.toStdString();

    // A wider spot from the settings store reaches the check.
    ASSERT_EQ(cli({"settings", "set", "Marking", "SpotDiameter", "200"}).exitCode, 0);
    const CliRun wide = cli({"check", label("legible.xml", "eel", "Liberation Sans", 1.0)});
    EXPECT_EQ(wide.exitCode, 1);
    EXPECT_TRUE(wide.out.contains("spot 200 um.")) << wide.out.toStdString();
}

TEST_F(CliCheck, ALabelThatCannotBeReadIsAnErrorNotAPass)
{
    QFile f(m_dir.filePath("broken.xml"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<tree2xml><item");
    f.close();
    for (const QStringList& args : {QStringList{"check", m_dir.filePath("broken.xml")},
                                    QStringList{"check", m_dir.filePath("missing.xml")}, QStringList{"check"},
                                    // A device that never ends is read no further than a label can be long.
                                    QStringList{"check", "/dev/zero"}, QStringList{"check", m_dir.path()}}) {
        const CliRun run = cli(args);
        EXPECT_EQ(run.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_FALSE(run.err.isEmpty());
    }
}

} // namespace

// A label mark --preview refuses (an unknown font, a logo that is not there) is refused by
// check too, with the same exit code.
TEST_F(CliCheck, ALabelMarkRefusesIsRefusedToo)
{
    const QString unknownFont = label("font.xml", "eel", "No Such Font Anywhere", 1.0);
    const QString missingLogo = m_dir.filePath("logo.xml");
    {
        QFile f(missingLogo);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<tree2xml app=\"lapidograph\"><item text=\"Logo\" imageIndex=\"-1\" stateIndex=\"-1\" "
                "Girdleheight=\"0.5\" SlantAngle=\"0.0\" type=\"TGlyphLogo\" logoFileName=\"nowhere.lal\" "
                "logoHeight=\"0.8\" logoOffset=\"0\"/></tree2xml>\n");
    }
    for (const QString& path : {unknownFont, missingLogo}) {
        const CliRun preview = cli({"mark", "--preview", path, "--out", m_dir.filePath("out")});
        const CliRun check = cli({"check", path});
        EXPECT_EQ(check.exitCode, preview.exitCode) << path.toStdString() << ": " << check.err.toStdString();
        EXPECT_NE(check.exitCode, 0) << path.toStdString();
        EXPECT_FALSE(check.err.isEmpty()) << path.toStdString();
    }
}
