// lapidograph-cli dxf2lal and outline --drawing, run as separate processes.
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

class CliGeometry : public ::testing::Test {
protected:
    CliRun cli(const QStringList& args, const QString& locale = QStringLiteral("de_DE.UTF-8"))
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LAPIDOGRAPH_SETTINGS", m_dir.filePath("settings.db"));
        env.insert("LC_ALL", locale);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(LAPIDO_CLI), args);
        p.waitForFinished(60000);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }
    QString sample(const char* name) const
    {
        return lapido::test::testDataDir() + QStringLiteral("/geometry/") + QLatin1String(name);
    }
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(CliGeometry, DxfBecomesADrawingWhoseOutlineIsNormalised)
{
    const QString lal = m_dir.filePath("logo.lal");
    const CliRun import = cli({"dxf2lal", sample("logo_r2000.dxf"), lal});
    ASSERT_EQ(import.exitCode, 0) << import.err.toStdString();
    EXPECT_TRUE(import.out.startsWith("7 objects"));

    const CliRun outline = cli({"outline", "--drawing", lal, "--json"});
    ASSERT_EQ(outline.exitCode, 0) << outline.err.toStdString();
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(outline.out.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError);
    // The slot, ring and stroke span x 0..4 and y -1..2: height 3 becomes 1.
    EXPECT_DOUBLE_EQ(o["Width"].toDouble(), 4.0 / 3);
    const QJsonArray contours = o["contours"].toArray();
    ASSERT_EQ(contours.size(), 4);
    double minY = 1e9, maxY = -1e9, minX = 1e9;
    for (const auto& c : contours)
        for (const auto& p : c.toArray()) {
            minX = std::min(minX, p.toArray()[0].toDouble());
            minY = std::min(minY, p.toArray()[1].toDouble());
            maxY = std::max(maxY, p.toArray()[1].toDouble());
        }
    EXPECT_NEAR(minX, 0, 1e-12);
    EXPECT_NEAR(minY, -0.5, 1e-12);
    EXPECT_NEAR(maxY, 0.5, 1e-12);
    // The closed slot comes back to its start.
    const QJsonArray slot = contours[0].toArray();
    EXPECT_EQ(slot.first(), slot.last());
}

TEST_F(CliGeometry, BadInputIsReportedAndWritesNothing)
{
    const QString bad = m_dir.filePath("bad.dxf");
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("0\nSECTION\n2\nENTITIES\n0\nLINE\n10\n1\n20\nx\n");
    f.close();
    const QString out = m_dir.filePath("bad.lal");
    const CliRun r = cli({"dxf2lal", bad, out});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("line 10")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(out));

    EXPECT_EQ(cli({"outline", "--drawing", bad}).exitCode, 1);
    EXPECT_EQ(cli({"outline", "--drawing"}).exitCode, 2);
    EXPECT_EQ(cli({"dxf2lal", bad}).exitCode, 2);

    // A file without lines or arcs makes no drawing: a logo of it would mark nothing.
    const QString noEntities = m_dir.filePath("none.dxf");
    QFile g(noEntities);
    ASSERT_TRUE(g.open(QIODevice::WriteOnly));
    g.write("0\nSECTION\n2\nENTITIES\n0\nENDSEC\n0\nEOF\n");
    g.close();
    for (const QString& in : {QStringLiteral("/dev/null"), noEntities}) {
        const CliRun empty = cli({"dxf2lal", in, out});
        EXPECT_EQ(empty.exitCode, 1) << in.toStdString();
        EXPECT_TRUE(empty.err.contains("holds no lines or arcs")) << empty.err.toStdString();
        EXPECT_FALSE(QFile::exists(out));
    }
}

// A drawing reads the same on a comma station and a point station, whichever wrote it; a
// number that reads neither way stops the command with the object and the key.
TEST_F(CliGeometry, DrawingNumbersReadTheSameInEveryLocale)
{
    const QString lal = m_dir.filePath("logo.lal");
    ASSERT_EQ(cli({"dxf2lal", sample("logo_r2000.dxf"), lal}).exitCode, 0);
    QFile written(lal);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray text = written.readAll();
    written.close();
    EXPECT_FALSE(text.contains("X=0,") || text.contains("Y=0,")) << "a comma written on a comma locale";

    auto drawing = [&](const char* name, const char* x) {
        const QString path = m_dir.filePath(QLatin1String(name));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("[General]\r\nDescription=VeduvAZU Drawing\r\nObjectCount=2\r\n"
                           "[Object_1]\r\nType=TCADLine\r\nBeginX=0\r\nBeginY=0\r\nEndX=1\r\nEndY=0,5\r\n"
                           "[Object_2]\r\nType=TCADArc\r\nBeginX=")
                + x + "\r\nBeginY=0\r\nEndX=0\r\nEndY=0\r\nCenterX=0\r\nCenterY=0\r\nRadius=0.35\r\n"
                      "Angle=0.5\r\nBeginAngle=0\r\nEndAngle=0.5\r\n");
        return path;
    };
    const QString good = drawing("good.lal", "0.35");
    const CliRun de = cli({"outline", "--drawing", good, "--json"});
    const CliRun c = cli({"outline", "--drawing", good, "--json"}, QStringLiteral("C"));
    ASSERT_EQ(de.exitCode, 0) << de.err.toStdString();
    ASSERT_EQ(c.exitCode, 0) << c.err.toStdString();
    EXPECT_EQ(de.out, c.out);
    // Bounds (0, 0)-(1, 0.5), the arc reaching x = 0.35: height 0.5 scales to 1, width 2.
    EXPECT_DOUBLE_EQ(QJsonDocument::fromJson(c.out.toUtf8()).object()["Width"].toDouble(), 2);

    const CliRun bad = cli({"outline", "--drawing", drawing("bad.lal", "0.35.1")}, QStringLiteral("C"));
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_TRUE(bad.err.contains(QStringLiteral("Object_2 (TCADArc), BeginX: \"0.35.1\" is not a number")))
        << bad.err.toStdString();
}

// An outline file goes only where a file can be: a folder, a device or a missing folder is
// refused with the reason, and an earlier outline at the target survives a refused write.
TEST_F(CliGeometry, OutlineOutSaysWhyItCannotWrite)
{
    const QStringList font = {"outline", "--font", "Liberation Sans", "--char", "e", "--out"};
    const QString good = m_dir.filePath("e.kol");
    ASSERT_EQ(cli(font + QStringList{good}).exitCode, 0);
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath("folder")));
    struct Case {
        QString target;
        const char* reason;
    };
    const Case cases[] = {
        {m_dir.filePath("folder"), "it is a folder"},
        {QStringLiteral("/dev/null"), "it is a device"},
        {m_dir.filePath("missing/e.kol"), "does not exist"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target.toStdString());
        const CliRun r = cli(font + QStringList{c.target});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains(c.target) && r.err.contains(QLatin1String(c.reason))) << r.err.toStdString();
    }
    EXPECT_GT(QFileInfo(good).size(), 16);
}

// A drawing that cannot be read is reported with the real reason, not as a format fault.
TEST_F(CliGeometry, UnreadableDrawingNamesTheReason)
{
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath("folder.lal")));
    const std::pair<QString, const char*> cases[] = {
        {m_dir.filePath("folder.lal"), "it is a folder"},
        {QStringLiteral("/dev/zero"), "it is a device"},
        {m_dir.filePath("missing.lal"), "does not exist"},
    };
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(path.toStdString());
        const CliRun r = cli({"outline", "--drawing", path});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains(QLatin1String(reason))) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains("Invalid file format")) << r.err.toStdString();
    }
}
