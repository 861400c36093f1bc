// lapidograph-cli render: a label into a picture file, and the marks of a run under its outline.
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <map>

#include "testsupport.h"

#include <gtest/gtest.h>

#ifdef LAPIDO_CLI
namespace {

class RenderCommand : public ::testing::Test {
protected:
    int cli(const QStringList& args, QString* errText = nullptr) { return run(QStringList{"render"} + args, errText); }
    int run(const QStringList& args, QString* errText = nullptr)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LAPIDOGRAPH_SETTINGS", m_dir.filePath("settings.db"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(LAPIDO_CLI), args);
        p.waitForFinished(60000);
        if (errText)
            *errText = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QString label() const { return lapido::test::testDataDir() + QStringLiteral("/../../examples/text-stroke.xml"); }
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir m_dir;
};

TEST_F(RenderCommand, RefusesBadInvocationsAndFiles)
{
    QFile notALabel(path("bad.xml"));
    ASSERT_TRUE(notALabel.open(QIODevice::WriteOnly));
    notALabel.write("<html/>");
    notALabel.close();
    const struct {
        QStringList args;
        int exitCode;
    } cases[] = {
        {{}, 2},
        {{label()}, 2},
        {{label(), path("out.gif")}, 2},
        {{label(), path("out.png"), "--grid", "0"}, 2},
        {{label(), path("out.png"), "--camera", "usb"}, 2},
        {{label(), path("out.png"), "--marks", path("m.csv")}, 2}, // marks need the simulated camera
        {{path("missing.xml"), path("out.png")}, 1},
        {{path("bad.xml"), path("out.png")}, 1},
        {{label(), path("out.png"), "--camera", "sim", "--marks", path("missing.csv")}, 1},
        // A device that never ends is read no further than a line of marks can be long.
        {{label(), path("out.png"), "--camera", "sim", "--marks", "/dev/zero"}, 1},
    };
    for (const auto& c : cases) {
        QString err;
        EXPECT_EQ(cli(c.args, &err), c.exitCode) << c.args.join(' ').toStdString();
        EXPECT_FALSE(err.isEmpty());
    }
    EXPECT_FALSE(QFile::exists(path("out.png")));
}

TEST_F(RenderCommand, WritesTheTickAsPngOrPpm)
{
    ASSERT_EQ(cli({label(), path("out.png"), "--grid", "0.1", "--zoom-out"}), 0);
    QImage png(path("out.png"));
    ASSERT_EQ(png.size(), QSize(1008, 820));
    // Dark grey without a camera: the colour of most of the picture (the grid's crosses and
    // their dark rims lie over it).
    std::map<QRgb, int> colours;
    for (int y = 0; y < png.height(); ++y)
        for (int x = 0; x < png.width(); ++x)
            ++colours[png.pixel(x, y)];
    const auto most = std::max_element(colours.begin(), colours.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    EXPECT_EQ(most->first, 0xFF383838u);
    ASSERT_EQ(cli({label(), path("out.ppm"), "--camera", "sim", "--no-overlay"}), 0);
    QFile ppm(path("out.ppm"));
    ASSERT_TRUE(ppm.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ppm.read(14).startsWith("P6\n1008 820\n"));
    ppm.close();
    const QImage filmed(path("out.ppm"));
    EXPECT_NE(filmed.pixel(5, 5), 0xFF383838u);
}

TEST_F(RenderCommand, MarksOfARunShowUnderTheCrossHair)
{
    // Two marks at the start-up position (15, 12.5): one under the cross hair, one 0.1 mm right.
    QFile csv(path("marks.csv"));
    ASSERT_TRUE(csv.open(QIODevice::WriteOnly));
    csv.write("x_mm,y_mm,z_mm,time_us,kind\n15.0,12.5,12.5,0,pulse\n15.1,12.5,12.5,1,pulse\n");
    csv.close();
    ASSERT_EQ(cli({label(), path("marks.png"), "--camera", "sim", "--no-overlay", "--marks", path("marks.csv")}), 0);
    ASSERT_EQ(cli({label(), path("plain.png"), "--camera", "sim", "--no-overlay"}), 0);
    const QImage marked(path("marks.png")), plain(path("plain.png"));
    for (const QPoint at : {QPoint(384, 288), QPoint(414, 288)}) {
        EXPECT_LT(qGray(marked.pixel(at)), 40);
        EXPECT_GT(qGray(plain.pixel(at)), 100);
    }
}

// A label marked on the simulated machine and then rendered with its marks: the dark marks
// lie under the outline the overlay draws for the same label.
TEST_F(RenderCommand, MarkedLabelShowsItsMarksUnderTheOutline)
{
    ASSERT_EQ(run({"mark", label(), "--out", path("run")}), 0);
    ASSERT_EQ(cli({label(), path("marked.png"), "--camera", "sim", "--marks", path("run/marks.csv")}), 0);
    const QImage img = QImage(path("marked.png")).convertToFormat(QImage::Format_RGB32);
    const QRgb outline = qRgb(255, 255, 0); // the default Outline colour
    int dark = 0, darkNearOutline = 0;
    for (int y = 6; y < img.height() - 6; ++y)
        for (int x = 6; x < img.width() - 6; ++x) {
            if (qGray(img.pixel(x, y)) >= 40 || img.pixel(x, y) == 0xFF383838u)
                continue;
            ++dark;
            bool near = false;
            for (int dy = -5; dy <= 5 && !near; ++dy)
                for (int dx = -5; dx <= 5 && !near; ++dx)
                    near = (img.pixel(x + dx, y + dy) | 0xFF000000) == outline;
            darkNearOutline += near;
        }
    EXPECT_GT(dark, 200);
    EXPECT_GE(darkNearOutline, dark * 95 / 100);
}

} // namespace
#endif
