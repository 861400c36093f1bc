// Headless marking of the example labels on the simulated machine: the marks show the label,
// a label saved and read back marks the same pulses, abort and controller faults stop with the
// laser off.
#include "geometry/cadobjects.h"
#include "glyphs/glyph.h"
#include "glyphs/richstring.h"
#include "platform/stationglobals.h"
#include "settings/settingskeys.h"
#include "workflow/station.h"
#include "workflow/templatelist.h"

#include "clirun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>

namespace lapido {
namespace {

using test::CliRun;
using test::readText;

// Marks without their controller time: what was burnt where.
QStringList markPlaces(const QString& csvPath)
{
    QStringList places;
    const QStringList lines = readText(csvPath).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines.mid(1)) {
        const QStringList f = line.split(QLatin1Char(','));
        if (f.size() == 5)
            places << f[0] + QLatin1Char(',') + f[1] + QLatin1Char(',') + f[2] + QLatin1Char(',') + f[4];
    }
    return places;
}

// Groups of marked columns in the picture separated by at least `gap` blank columns: one per
// character or logo part that stands apart along the label.
int columnGroups(const QImage& picture, int gap = 3)
{
    const QImage img = picture.convertToFormat(QImage::Format_Grayscale8);
    int groups = 0, blank = 1000;
    for (int x = 0; x < img.width(); ++x) {
        bool dark = false;
        for (int y = 0; y < img.height() && !dark; ++y)
            dark = qGray(img.pixel(x, y)) < 128;
        if (dark) {
            if (blank >= gap)
                ++groups;
            blank = 0;
        } else {
            ++blank;
        }
    }
    return groups;
}

class MarkRunTest : public test::CliRunFixture {};

struct Example {
    const char* file;
    QStringList extra;
    int groups; // characters and logo parts apart along the label
    int gap = 3; // blank picture columns between them (a photo's dot columns stand apart)
};

void PrintTo(const Example& e, std::ostream* os)
{
    *os << e.file;
}

class ExampleMarkTest : public MarkRunTest, public ::testing::WithParamInterface<Example> {};

TEST_P(ExampleMarkTest, MarksPictureShowsTheLabel)
{
    const Example& e = GetParam();
    const CliRun run = mark(example(e.file), "out", e.extra);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("laser after marking: gate closed, enable off")) << run.out.toStdString();

    const QImage picture(scratch("out/marks.png"));
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(columnGroups(picture, e.gap), e.groups);
    EXPECT_FALSE(markPlaces(scratch("out/marks.csv")).isEmpty());

    const QString trace = readText(scratch("out/LATrace"));
    EXPECT_TRUE(trace.contains("\r\nIm:\r\n"));
    EXPECT_FALSE(trace.contains("Mabu"));
    const QStringList commands = readText(scratch("out/commands.log")).split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(commands.isEmpty());
    for (const QString& line : commands)
        ASSERT_EQ(line.count('\t'), 1) << line.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ExampleMarkTest,
    ::testing::Values(Example{"text-stroke.xml", {}, 6}, Example{"text-truetype.xml", {}, 4},
                      Example{"logo.xml", {}, 5}, Example{"photo.xml", {}, 1, 40},
                      Example{"curved-girdle.xml", {"--teach-left", "14,12.48", "--teach-right", "16,12.49"}, 14}),
    [](const auto& info) {
        QString name = QString::fromLatin1(info.param.file).section('.', 0, 0);
        return name.remove('-').toStdString();
    });

TEST_F(MarkRunTest, SavedAndReadBackLabelMarksTheSamePulses)
{
    keys::write(keys::WorkingDir, scratch() + "/");
    setWorkingDir(QStringLiteral(LAPIDO_EXAMPLES_DIR "/"));
    QDir().mkpath(scratch("resaved/Logos"));
    QFile::copy(example("Logos/diamond.lal"), scratch("resaved/Logos/diamond.lal"));
    for (const char* file : {"text-stroke.xml", "logo.xml", "text-truetype.xml", "photo.xml"}) {
        SCOPED_TRACE(file);
        TStation station;
        QString error;
        // Relative picture paths are read from the label's folder, as the headless run does.
        const QString current = QDir::currentPath();
        QDir::setCurrent(QStringLiteral(LAPIDO_EXAMPLES_DIR));
        const bool loaded = station.XML2Tree(readText(example(file)), &error);
        const QString xml = station.Tree2XML();
        QDir::setCurrent(current);
        ASSERT_TRUE(loaded) << error.toStdString();
        const QString resaved = scratch(QStringLiteral("resaved/") + file);
        {
            QFile f(resaved);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(xml.toUtf8());
        }
        ASSERT_EQ(mark(example(file), "first").exitCode, 0);
        ASSERT_EQ(mark(resaved, "second").exitCode, 0);
        const QStringList first = markPlaces(scratch("first/marks.csv"));
        const QStringList second = markPlaces(scratch("second/marks.csv"));
        ASSERT_FALSE(first.isEmpty());
        ASSERT_EQ(first.size(), second.size());
        for (int i = 0; i < first.size(); ++i)
            ASSERT_EQ(first[i], second[i]) << "mark " << i << "\n" << readText(resaved).toStdString();
    }
    resetStationGlobals();
}

TEST_F(MarkRunTest, AbortAndControllerFaultsStopWithTheLaserOff)
{
    struct Case {
        const char* what;
        QStringList options;
        const char* reason;
        bool answers; // the controller still answers, so it can confirm the laser is off
    };
    const Case cases[] = {
        {"abort after two glyphs", {"--abort-after", "2"}, "aborted by the operator", true},
        {"link lost while marking", {"--link-lost-after", "40"}, "link lost", false},
        {"controller silent", {"--fault", "silent"}, "no reply from the controller", false},
        {"controller answering garbage", {"--fault", "garbage"}, "no reply from the controller", false},
        {"link lost mid-glyph", {"--fault", "link-lost"}, "link lost", false},
        {"buffer run empty", {"--fault", "underrun"}, "nothing progressed", true},
        {"limit switch hit", {"--fault", "limit-switch"}, "limit switch", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(scratch("out")).removeRecursively();
        const CliRun run = mark(example("text-stroke.xml"), "out", c.options);
        EXPECT_EQ(run.exitCode, 3) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains("marking stopped: ")) << run.out.toStdString();
        EXPECT_TRUE(run.out.contains(c.reason)) << run.out.toStdString();
        // Only what the controller confirmed is claimed about the laser.
        EXPECT_EQ(run.out.contains("laser after marking: gate closed, enable off"), c.answers) << run.out.toStdString();
        EXPECT_EQ(run.out.contains("laser after marking: unknown"), !c.answers) << run.out.toStdString();
        const QString trace = readText(scratch("out/LATrace"));
        EXPECT_TRUE(trace.contains("\r\nMabu\r\n"));
        EXPECT_TRUE(trace.contains("\r\nIstbm:\r\nLabel \"LG 1407\"\r\n"));
        EXPECT_FALSE(trace.contains("\r\nIm:\r\n"));
        EXPECT_FALSE(markPlaces(scratch("out/marks.csv")).isEmpty()) << "stopped in the middle of the label";
        // A fault is told to the operator once; an abort is the operator's own doing.
        QStringList errors;
        for (const QString& box : readText(scratch("out/dialogs.log")).split('\n', Qt::SkipEmptyParts))
            if (box.startsWith(QLatin1String("error\t")))
                errors << box;
        if (c.options[0] == QLatin1String("--abort-after")) {
            EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
        } else {
            ASSERT_EQ(errors.size(), 1) << errors.join('\n').toStdString();
            EXPECT_TRUE(errors[0].contains(c.reason)) << errors[0].toStdString();
            EXPECT_EQ(errors[0].contains("The laser is off"), c.answers) << errors[0].toStdString();
            // One stop, one reason: standard output names the stop the operator was told of.
            const QString stopped = run.out.section(QStringLiteral("marking stopped: "), 1).section('\n', 0, 0);
            EXPECT_TRUE(errors[0].contains(QStringLiteral("Marking stopped: ") + stopped))
                << stopped.toStdString() << "\n" << errors[0].toStdString();
            EXPECT_EQ(errors[0].contains("The state of the laser is unknown"), !c.answers) << errors[0].toStdString();
        }
    }
    // Abort once two characters are marked: the marks stop after the second one.
    mark(example("text-stroke.xml"), "two", {"--abort-after", "2"});
    EXPECT_EQ(columnGroups(QImage(scratch("two/marks.png"))), 2);
    // Abort at once, while the laser is still being enabled: not one mark, and the run says so.
    const CliRun atOnce = mark(example("text-stroke.xml"), "none", {"--abort-after", "0"});
    EXPECT_EQ(atOnce.exitCode, 3) << atOnce.out.toStdString();
    EXPECT_TRUE(atOnce.out.contains("glyphs marked: 0")) << atOnce.out.toStdString();
    EXPECT_TRUE(atOnce.out.contains("marking stopped: aborted by the operator")) << atOnce.out.toStdString();
    EXPECT_TRUE(atOnce.out.contains("laser after marking: gate closed, enable off")) << atOnce.out.toStdString();
    EXPECT_TRUE(markPlaces(scratch("none/marks.csv")).isEmpty());
    EXPECT_TRUE(readText(scratch("none/LATrace")).contains("\r\nMabu\r\n"));
}

TEST_F(MarkRunTest, GivenReferenceCentresTheLabel)
{
    ASSERT_EQ(mark(example("text-stroke.xml"), "out", {"--reference", "20,11,13"}).exitCode, 0);
    double minX = 1e9, maxX = -1e9;
    for (const QString& m : markPlaces(scratch("out/marks.csv"))) {
        const QStringList f = m.split(',');
        minX = std::min(minX, f[0].toDouble());
        maxX = std::max(maxX, f[0].toDouble());
        EXPECT_NEAR(f[1].toDouble(), 11, 0.1);
        EXPECT_DOUBLE_EQ(f[2].toDouble(), 13) << "flat focus at the reference height";
    }
    EXPECT_NEAR((minX + maxX) / 2, 20, 0.05);
}

TEST_F(MarkRunTest, AnswersGoToTheQuestionsInOrderAndAreLogged)
{
    // A fixed length of 10 refuses "LG 1407"; the operator may inscribe it anyway.
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LAPIDOGRAPH_SETTINGS", scratch("settings.db"));
        p.setProcessEnvironment(env);
        for (const QStringList& set : {QStringList{"WLabelCheckBeforeEngrave", "1"},
                                       QStringList{"WLabeTextLengthMode", "Fixed "},
                                       QStringList{"WLabelTextLength", "10"}}) {
            p.start(QStringLiteral(LAPIDO_CLI), QStringList{"settings", "set", "Marking"} + set);
            ASSERT_TRUE(p.waitForFinished(30000));
            ASSERT_EQ(p.exitCode(), 0);
        }
    }
    struct Case {
        const char* answer;
        int exitCode;
        const char* pressed;
        const char* trace;
    };
    for (const Case& c : {Case{"no", 3, "Yes\tNo", "\r\nOrN\r\n"}, Case{"yes", 0, "No|Yes\tYes", "\r\nOrY\r\n"}}) {
        SCOPED_TRACE(c.answer);
        QDir(scratch("out")).removeRecursively();
        const CliRun run = mark(example("text-stroke.xml"), "out", {"--answer", c.answer});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
        const QStringList boxes = readText(scratch("out/dialogs.log")).split('\n', Qt::SkipEmptyParts).filter("custom\tLapidograph");
        ASSERT_EQ(boxes.size(), 1);
        EXPECT_TRUE(boxes[0].startsWith("custom\tLapidograph\tWarning !\\r\\nLabel format does not match")) << boxes[0].toStdString();
        EXPECT_TRUE(boxes[0].contains("Text Length Filter: Fixed  10 NOT OK.")) << boxes[0].toStdString();
        EXPECT_TRUE(boxes[0].endsWith(c.pressed)) << boxes[0].toStdString();
        EXPECT_TRUE(readText(scratch("out/LATrace")).contains(c.trace));
    }
}

#ifdef LAPIDO_DMCSIM
// A controller at a network address: the simulator as a separate TCP server, sped up, on the
// real clock. There are no marks to read here; the command log shows the label went out.
TEST_F(MarkRunTest, MarksOnAControllerAtANetworkAddress)
{
    QProcess server;
    server.start(QStringLiteral(LAPIDO_DMCSIM), {"--port", "0", "--speed", "50"});
    ASSERT_TRUE(server.waitForStarted(10000));
    QString banner;
    for (int i = 0; i < 50 && !banner.contains('\n'); ++i) {
        server.waitForReadyRead(200);
        banner += QString::fromUtf8(server.readAllStandardOutput());
    }
    const QString port = banner.section(QStringLiteral("port "), 1).trimmed();
    ASSERT_FALSE(port.isEmpty()) << banner.toStdString();
    {
        QProcess set;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LAPIDOGRAPH_SETTINGS", scratch("settings.db"));
        set.setProcessEnvironment(env);
        set.start(QStringLiteral(LAPIDO_CLI), {"settings", "set", "Hardware", "EnableOnDelay", "0"});
        ASSERT_TRUE(set.waitForFinished(30000));
    }
    const CliRun run = mark(example("text-stroke.xml"), "out", {"--address", "127.0.0.1:" + port});
    server.kill();
    server.waitForFinished(5000);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("laser after marking: gate closed, enable off"));
    const QStringList commands = readText(scratch("out/commands.log")).split('\n', Qt::SkipEmptyParts);
    EXPECT_GT(commands.filter(QRegularExpression("^LI ")).size(), 10);
    EXPECT_TRUE(readText(scratch("out/LATrace")).contains("\r\nIm:\r\nLabel \"LG 1407\"\r\n"));
    EXPECT_FALSE(QFile::exists(scratch("out/marks.csv")));
}
#endif

// A headless run on the simulated machine reads the station's settings and changes none of
// them: its shots are not the laser's, and the address it chose, the working folder and the
// template bindings stay as they were; no folder appears in the working folder.
TEST_F(MarkRunTest, ARunOnTheSimulatedMachineLeavesTheStoreAsItWas)
{
    keys::write(keys::PulseCount, QStringLiteral("1234"));
    keys::write(keys::TotalPulseCount, QStringLiteral("56789"));
    const auto before = store().entries();
    for (const QStringList& options : {QStringList{}, QStringList{"--address", "sim"}}) {
        SCOPED_TRACE(options.join(' ').toStdString());
        QDir(scratch("out")).removeRecursively();
        const CliRun run = mark(example("text-stroke.xml"), "out", options);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        ASSERT_FALSE(markPlaces(scratch("out/marks.csv")).isEmpty());
        EXPECT_EQ(store().entries(), before);
        EXPECT_EQ(QDir(scratch()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{"out"});
        EXPECT_FALSE(QDir(QStringLiteral(LAPIDO_EXAMPLES_DIR "/Templates")).exists());
    }
}

// Logos travel between stations: a drawing and a label burn the same marks whether the station
// writes its numbers with a point or with a comma.
TEST_F(MarkRunTest, TheSameLabelMarksTheSameInAPointAndACommaLocale)
{
    for (const char* label : {"logo.xml", "text-truetype.xml"}) {
        SCOPED_TRACE(label);
        const CliRun c = mark(example(label), "c");
        const CliRun de = mark(example(label), "de", {}, QStringLiteral("de_DE.UTF-8"));
        ASSERT_EQ(c.exitCode, 0) << c.err.toStdString();
        ASSERT_EQ(de.exitCode, 0) << de.err.toStdString();
        const QStringList marks = markPlaces(scratch("c/marks.csv"));
        ASSERT_FALSE(marks.isEmpty());
        EXPECT_EQ(markPlaces(scratch("de/marks.csv")), marks);
    }
}

TEST_F(MarkRunTest, ALabelThatIsNoLabelIsRefusedBeforeTheMachineMarks)
{
    QFile f(scratch("broken.xml"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<tree2xml><item text=\"Logo\" type=\"TGlyphLogo\" logoFileName=\"../../etc/passwd\"");
    f.close();
    const CliRun run = mark(scratch("broken.xml"), "out");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("is not a label")) << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(scratch("out/marks.csv")));
}

// Labels that would leave a wrong or empty inscription (nothing at all, fewer marks than they
// show, or a size the laser cannot resolve): `check`, `mark --preview`, `mark` and the station's
// own check give one verdict, exit code 3 with the reason on standard error, and `mark` sends not
// one command that moves the machine, homing included.
TEST_F(MarkRunTest, ALabelThatWouldNotBeInscribedAsComposedIsRefusedBeforeHoming)
{
    const auto write = [this](const QString& name, const QByteArray& bytes) {
        QDir(scratch()).mkpath(QFileInfo(scratch(name)).path());
        QFile f(scratch(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    };
    // Custom fonts live in the stored working folder; logos beside the label.
    keys::write(keys::WorkingDir, scratch() + QStringLiteral("/"));
    for (char d = '0'; d <= '9'; ++d)
        write(QStringLiteral("CustomFontsFolder/Garbled/%1.lal").arg(QLatin1Char(d)), "\x01\x02 not a drawing");
    QDir(scratch()).mkpath(QStringLiteral("CustomFontsFolder/Hollow"));
    write("Logos/empty.lal", "[General]\nDescription=VeduvAZU Drawing\nVersion=1\nObjectCount=0\n");
    write("Logos/lying.lal", "[General]\nDescription=VeduvAZU Drawing\nVersion=1\nObjectCount=2000000000\n");
    QFile::copy(example("Logos/diamond.lal"), scratch("Logos/diamond.lal"));
    // One stroke more than a girdle carries: refused when read, before a contour is made of it.
    QByteArray crowded = "[General]\nDescription=VeduvAZU Drawing\nVersion=1\nObjectCount="
                         + QByteArray::number(kMaxDrawingObjects + 1) + "\n";
    for (int n = 1; n <= kMaxDrawingObjects + 1; ++n)
        crowded += "[Object_" + QByteArray::number(n) + "]\nType=TCADLine\nBeginX=" + QByteArray::number(n)
                   + "\nBeginY=0\nEndX=" + QByteArray::number(n) + "\nEndY=1\n";
    write("Logos/crowded.lal", crowded);

    const auto item = [](const QString& attrs, const char* slant = "0.0") {
        return QStringLiteral("<tree2xml app=\"x\"><item text=\"n\" imageIndex=\"-1\" stateIndex=\"-1\" Girdleheight=\"0.15\" "
                              "SlantAngle=\"%1\" ")
                   .arg(QString::fromLatin1(slant))
               + attrs + QStringLiteral("/></tree2xml>");
    };
    const auto text = [&item](const char* font, const char* height, const char* slant = "0.0", const char* chars = "LG 7") {
        return item(QStringLiteral("type=\"TGlyphWideString\" textLabel=\"%3\" fontName=\"%1\" textHeight=\"%2\" "
                                   "textOffset=\"0\" textSpacing=\"0.1\"")
                        .arg(QString::fromLatin1(font), QString::fromLatin1(height), QString::fromLatin1(chars)),
                    slant);
    };
    const auto logo = [&item](const char* file, const char* height) {
        return item(QStringLiteral("type=\"TGlyphLogo\" logoFileName=\"%1\" logoHeight=\"%2\" logoOffset=\"0\"")
                        .arg(QString::fromLatin1(file), QString::fromLatin1(height)));
    };
    const auto photo = [&item](const QString& file, const char* height, const char* gamma = "1.5") {
        return item(QStringLiteral("type=\"TGlyphPhoto\" photoFileName=\"%1\" photoHeight=\"%2\" photoOffset=\"0\" "
                                   "photoGamma=\"%3\"")
                        .arg(file, QString::fromLatin1(height), QString::fromLatin1(gamma)));
    };
    const QString stone = example("photo/stone.png");
    struct Case {
        const char* what;
        QString xml;
        QStringList extra;
        const char* message;
    };
    const Case cases[] = {
        {"unknown font", text("Nowhere Sans", "0.8"), {}, "the font \"Nowhere Sans\" is not installed"},
        {"text height 0", text("ROMANS", "0"), {}, "\"textHeight\" is 0"},
        {"negative text height", text("ROMANS", "-0.8"), {}, "\"textHeight\" is -0.8"},
        {"text below the spot", text("ROMANS", "0.01"), {}, "below the 10 um the laser can resolve"},
        {"slant 1e308", text("ROMANS", "0.8", "1e308"), {}, "\"SlantAngle\" is 1e308"},
        {"slant 6e305", text("ROMANS", "0.8", "6e305"), {}, "\"SlantAngle\" is 6e305"},
        {"custom font of garbage", text("Garbled", "0.8", "0.0", "2407"), {},
         "the custom font \"Garbled\" has no usable drawing for '2', '4', '0', '7'"},
        {"custom font without drawings", text("Hollow", "0.8", "0.0", "2407"), {}, "the custom font \"Hollow\" has no usable drawing"},
        {"missing logo", logo("nowhere.lal", "0.8"), {}, "does not exist"},
        {"logo without objects", logo("empty.lal", "0.8"), {}, "holds nothing to mark"},
        {"logo whose object count lies", logo("lying.lal", "0.8"), {}, "holds nothing to mark"},
        {"logo beyond what a girdle carries", logo("crowded.lal", "0.8"), {},
         "The drawing holds 50001 objects, more than the 50000 a logo may hold"},
        {"logo height 1e-3", logo("diamond.lal", "1e-3"), {}, "below the 10 um the laser can resolve"},
        {"logo height 1e-9", logo("diamond.lal", "1e-9"), {}, "\"logoHeight\" is 1e-9"},
        {"missing picture", photo(scratch("nowhere.png"), "0.8"), {}, "does not exist"},
        {"photo height 0", photo(stone, "0"), {}, "\"photoHeight\" is 0"},
        {"photo height 0.01", photo(stone, "0.01"), {}, "nothing to mark"},
        {"photo height 1e-9", photo(stone, "1e-9"), {}, "\"photoHeight\" is 1e-9"},
        {"photo gamma -1", photo(stone, "0.8", "-1"), {}, "\"photoGamma\" is -1"},
        {"photo gamma 1e-9", photo(stone, "0.8", "1e-9"), {}, "\"photoGamma\" is 1e-9"},
        {"outside the work area", text("ROMANS", "0.8"), {"--reference", "0.01,12.5,12.5"}, "Label extends outside workarea!"},
        {"taught point outside the travel", text("ROMANS", "0.8"), {"--teach-left", "1e9,1e9"},
         "lies outside the travel of the axes"},
        {"taught point beyond the Z travel", text("ROMANS", "0.8"), {"--teach-right", "16,-1e9"},
         "lies outside the travel of the axes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write("label.xml", c.xml.toUtf8());
        QDir(scratch("out")).removeRecursively();
        const CliRun run = mark(scratch("label.xml"), "out", c.extra);
        EXPECT_EQ(run.exitCode, 3) << run.out.toStdString();
        EXPECT_TRUE(run.err.contains(QString::fromLatin1(c.message))) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains("glyphs marked: 0")) << run.out.toStdString();
        for (const QString& line : readText(scratch("out/commands.log")).split('\n', Qt::SkipEmptyParts)) {
            static const QRegularExpression moves(QStringLiteral("(^|;)(HM|BG|PA|PR|JG|LI|LM|SB|CB|OP)"));
            EXPECT_FALSE(moves.match(line).hasMatch()) << line.toStdString();
        }
        EXPECT_FALSE(QFile::exists(scratch("out/marks.csv")));

        const CliRun preview = cli(QStringList{"mark", "--preview", scratch("label.xml"), "--out", scratch("preview")} + c.extra);
        EXPECT_EQ(preview.exitCode, 3) << preview.out.toStdString();
        EXPECT_TRUE(preview.err.contains(QString::fromLatin1(c.message))) << preview.err.toStdString();

        // The check looks at the label, not at where it would stand on the machine.
        if (!c.extra.isEmpty())
            continue;
        const CliRun check = cli({"check", scratch("label.xml")});
        EXPECT_EQ(check.exitCode, 3) << check.out.toStdString();
        EXPECT_TRUE(check.err.contains(QString::fromLatin1(c.message))) << check.err.toStdString();

        // The station's own check, which Engrave runs before the machine moves.
        setWorkingDir(scratch() + QStringLiteral("/"));
        TStation station;
        QString error;
        bool refused = false;
        const bool loaded = station.XML2TreeFromBytes(c.xml.toUtf8(), &error, &refused);
        const QString verdict = loaded ? station.LabelMarkingProblems().join(QLatin1Char('\n')) : error;
        EXPECT_TRUE(loaded || refused) << error.toStdString();
        EXPECT_TRUE(verdict.contains(QString::fromLatin1(c.message))) << verdict.toStdString();
    }
}

TEST_F(MarkRunTest, AnOutputFolderHoldsOnlyThisRunsMarks)
{
    ASSERT_EQ(mark(example("text-stroke.xml"), "out").exitCode, 0);
    ASSERT_TRUE(QFile::exists(scratch("out/marks.csv")));
    ASSERT_TRUE(QFile::exists(scratch("out/marks.png")));
    QFile f(scratch("nofont.xml"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(readText(example("text-stroke.xml")).replace("ROMANS", "Nowhere Sans").toUtf8());
    f.close();
    const CliRun run = mark(scratch("nofont.xml"), "out");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_FALSE(QFile::exists(scratch("out/marks.csv"))) << "the earlier run's marks would pass for this run's";
    EXPECT_FALSE(QFile::exists(scratch("out/marks.png")));
}

TEST_F(MarkRunTest, AnEndlessInputIsReadOnlyUpToALabelsSize)
{
    const CliRun run = mark(QStringLiteral("/dev/zero"), "out");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("too large to be a label")) << run.err.toStdString();
}

// The preview of an example label: the marks the run makes, its duration within a millisecond
// of the run's own measure, and not one connection to the controller named, nothing stored,
// no trace.
TEST_F(MarkRunTest, PreviewPrintsTheRunsEstimateAndMarksWithoutAController)
{
    QTcpServer controller;
    ASSERT_TRUE(controller.listen(QHostAddress::LocalHost));
    const QString address = QStringLiteral("127.0.0.1:%1").arg(controller.serverPort());
    keys::write(keys::PulseCount, QStringLiteral("1234"));
    const auto stored = store().entries();
    struct Case {
        const char* label;
        QStringList extra;
    };
    const Case cases[] = {
        {"text-stroke.xml", {}},
        {"curved-girdle.xml", {"--teach-left", "14,12.48", "--teach-right", "16,12.49"}},
    };
    static const QRegularExpression estimateLine(QStringLiteral("^estimate: ([0-9]+\\.[0-9]{3}) s$"),
                                                 QRegularExpression::MultilineOption);
    static const QRegularExpression timeLine(QStringLiteral("\r\nTime: estimated ([0-9.]+) s, measured ([0-9.]+) s\r\n"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        QDir(scratch("preview")).removeRecursively();
        QDir(scratch("run")).removeRecursively();
        const CliRun preview = mark(example(c.label), "preview", QStringList{"--preview", "--address", address} + c.extra);
        ASSERT_EQ(preview.exitCode, 0) << preview.err.toStdString() << preview.out.toStdString();
        EXPECT_FALSE(controller.waitForNewConnection(50)) << "the preview connected to the controller";
        EXPECT_EQ(store().entries(), stored);
        EXPECT_EQ(QDir(scratch("preview")).entryList(QDir::Files), (QStringList{"marks.csv", "marks.png"}));
        const auto estimate = estimateLine.match(preview.out);
        ASSERT_TRUE(estimate.hasMatch()) << preview.out.toStdString();

        const CliRun run = mark(example(c.label), "run", c.extra);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QStringList marks = markPlaces(scratch("run/marks.csv"));
        ASSERT_FALSE(marks.isEmpty());
        EXPECT_EQ(markPlaces(scratch("preview/marks.csv")), marks);
        const auto times = timeLine.match(readText(scratch("run/LATrace")));
        ASSERT_TRUE(times.hasMatch());
        EXPECT_NEAR(estimate.captured(1).toDouble(), times.captured(2).toDouble(), 0.002);
    }
    const CliRun refused = mark(example("text-stroke.xml"), "preview", {"--preview", "--reference", "500,500,10"});
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_TRUE(refused.err.contains("Label extends outside workarea!")) << refused.err.toStdString();
    EXPECT_EQ(mark(example("text-stroke.xml"), "preview", {"--preview", "--abort-after", "1"}).exitCode, 2);
}

} // namespace
} // namespace lapido
