// lapidograph-cli dxf2lal and outline --drawing, run as separate processes.
#include "testsupport.h"

#include <QDir>
#include <QFile>
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
    CliRun cli(const QStringList& args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LAPIDOGRAPH_SETTINGS", m_dir.filePath("settings.db"));
        env.insert("LC_ALL", "de_DE.UTF-8");
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
}
