// lapidograph-cli camera: listing what is present and one frame of each kind of camera into a PNG.
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#ifdef LAPIDO_CLI
namespace {

class CameraCommand : public ::testing::Test {
protected:
    int run(const QStringList& args, QString* outText = nullptr, QString* errText = nullptr)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LAPIDOGRAPH_SETTINGS", m_dir.filePath("settings.db"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(LAPIDO_CLI), QStringList{"camera"} + args);
        p.waitForFinished(120000);
        if (outText)
            *outText = QString::fromUtf8(p.readAllStandardOutput());
        if (errText)
            *errText = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir m_dir;
};

TEST_F(CameraCommand, GrabWritesOneFrameOfEachKind)
{
    const struct {
        QStringList source;
        QSize size;
    } cases[] = {
        {{"gst:videotestsrc pattern=solid-color foreground-color=0xff204080 ! video/x-raw,width=80,height=60"}, {80, 60}},
        {{"genicam:Fake_1,size=128x96", "--genicam-fake"}, {128, 96}},
        {{"sim"}, {1280, 1024}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source.join(' ').toStdString());
        const QString file = path("frame.png");
        QFile::remove(file);
        QString out, err;
        ASSERT_EQ(run(QStringList{"grab", "--out", file, "--source"} + c.source, &out, &err), 0) << err.toStdString();
        const QImage frame(file);
        EXPECT_EQ(frame.size(), c.size);
        EXPECT_TRUE(out.contains(QStringLiteral("%1 x %2").arg(c.size.width()).arg(c.size.height()))) << out.toStdString();
    }
    // The last frame is the simulated camera's: the stone, not the empty grey field.
    const QImage filmed(path("frame.png"));
    EXPECT_NE(filmed.pixel(640, 512), 0xFF383838u);
}

TEST_F(CameraCommand, GrabRefusesOrSaysWhyThereIsNoFrame)
{
    const struct {
        QStringList args;
        int exitCode;
        const char* said;
    } cases[] = {
        {{"grab", "--source", "usb", "--out", path("x.png")}, 2, "gst:PIPELINE"},
        {{"grab", "--source", "sim", "--out", path("x.jpg")}, 2, ".png"},
        {{"grab", "--source", "sim"}, 2, "usage"},
        {{"grab", "--source", "gst:nosuchelement", "--out", path("x.png")}, 1, "nosuchelement"},
        // The fake camera alone: no GenICam camera is looked for on the network.
        {{"grab", "--source", "genicam:NoSuchCamera_7", "--out", path("x.png"), "--genicam-fake"}, 1, "NoSuchCamera_7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QString err;
        EXPECT_EQ(run(c.args, nullptr, &err), c.exitCode);
        EXPECT_TRUE(err.contains(QLatin1String(c.said))) << err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(path("x.png")));
}

TEST_F(CameraCommand, ListNamesGenICamCamerasAndTheVendorLibrary)
{
    QString out;
    ASSERT_EQ(run({"list", "--genicam-fake"}, &out), 0);
    EXPECT_TRUE(out.contains(QLatin1String("--source \"genicam:Fake_1\""))) << out.toStdString();
    EXPECT_TRUE(out.contains(QLatin1String("vendor\t"))) << out.toStdString();
}

} // namespace
#endif
