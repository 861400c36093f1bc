// Every command that writes a file, against a full disk and against a device: it fails, names
// the file, and the file that was there before is still there, byte for byte.
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

struct CliRun {
    int exitCode = -1;
    QString err;
};

struct Writer {
    const char* name;
    QString target; // relative to the folder the command runs in
    QStringList args;
};

QString examples(const char* name)
{
    return lapido::test::testDataDir() + QStringLiteral("/../../examples/") + QLatin1String(name);
}

std::vector<Writer> writers()
{
    const QString dxf = lapido::test::testDataDir() + QStringLiteral("/geometry/logo_r2000.dxf");
    const QString photo = lapido::test::testDataDir() + QStringLiteral("/glyphs/photo/stone.png");
    return {
        {"dxf2lal", "logo.lal", {"dxf2lal", dxf, "logo.lal"}},
        {"settings export", "export.txt", {"settings", "export", "export.txt"}},
        {"outline --out", "e.kol", {"outline", "--font", "Liberation Sans", "--char", "e", "--out", "e.kol"}},
        {"render", "label.png", {"render", examples("text-stroke.xml"), "label.png"}},
        {"dither", "dots.png", {"dither", photo, "dots.png", "--size", "60x60"}},
    };
}

// A small filesystem of its own, so that filling it up touches nothing else.
class CliFullDisk : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QProcess mount;
        mount.start(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=512k", "tmpfs", m_dir.path()});
        if (!mount.waitForFinished(10000) || mount.exitStatus() != QProcess::NormalExit || mount.exitCode() != 0)
            GTEST_SKIP() << "a small filesystem cannot be mounted here (needs root)";
        m_mounted = true;
    }
    void TearDown() override
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {m_dir.path()});
    }

    CliRun cli(const QStringList& args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // The store lives outside the full disk: only the command's own output is at stake.
        env.insert("LAPIDOGRAPH_SETTINGS", m_store.filePath("settings.db"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(m_dir.path());
        p.start(QStringLiteral(LAPIDO_CLI), args);
        p.waitForFinished(60000);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardError())};
    }

    // Fills the filesystem to the last byte (large blocks, then single bytes for the rest of
    // the last page).
    void fill(off_t room = 0)
    {
        const QByteArray path = QFile::encodeName(m_dir.filePath("filler"));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        const std::vector<char> block(64 * 1024, 'x');
        for (std::size_t size : {block.size(), std::size_t(4096), std::size_t(1)})
            while (::write(fd, block.data(), size) == static_cast<ssize_t>(size)) {
            }
        if (room > 0) {
            ASSERT_EQ(::ftruncate(fd, std::max<off_t>(0, ::lseek(fd, 0, SEEK_END) - room)), 0);
        }
        ::close(fd);
    }
    void unfill() { QFile::remove(m_dir.filePath("filler")); }

    QTemporaryDir m_dir;
    QTemporaryDir m_store;
    bool m_mounted = false;
};

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

TEST_F(CliFullDisk, EveryWriterFailsAndKeepsTheEarlierFile)
{
    for (const Writer& w : writers()) {
        SCOPED_TRACE(w.name);
        const QString target = m_dir.filePath(w.target);
        // An earlier file of the same name, written while there was room.
        ASSERT_EQ(cli(w.args).exitCode, 0) << w.name << " does not work with room to spare";
        const QByteArray before = contents(target);
        ASSERT_FALSE(before.isEmpty());
        const QStringList filesBefore = QDir(QFileInfo(target).absolutePath()).entryList(QDir::Files);

        fill();
        const CliRun r = cli(w.args);
        unfill();
        EXPECT_NE(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("cannot write"))) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains(QStringLiteral("Unknown error"))) << r.err.toStdString();
        EXPECT_EQ(contents(target), before);
        // Nothing half-written is left beside it.
        QStringList filesAfter = QDir(QFileInfo(target).absolutePath()).entryList(QDir::Files);
        filesAfter.removeAll(QStringLiteral("filler"));
        EXPECT_EQ(filesAfter, filesBefore);
    }
}

// A marking run on a full disk fails and says which file it could not write, whatever it
// managed to mark.
TEST_F(CliFullDisk, MarkingRunFailsWhenItsLogsCannotBeWritten)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("run")));
    fill();
    const CliRun r = cli({"mark", examples("text-stroke.xml"), "--out", "run"});
    unfill();
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains(QStringLiteral("cannot write"))) << r.err.toStdString();

    // Room for the logs and the trace, none for the marks: the reason is named.
    fill(90000);
    const CliRun marks = cli({"mark", examples("text-stroke.xml"), "--out", "run"});
    unfill();
    EXPECT_EQ(marks.exitCode, 1);
    EXPECT_TRUE(marks.err.contains(QStringLiteral("marks.csv\": No space left on device"))) << marks.err.toStdString();
}

// A device or a folder is never written into or replaced.
TEST(CliDeviceTarget, WritersRefuseDevicesAndFolders)
{
    QTemporaryDir dir;
    QTemporaryDir store;
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    for (const QString& target : {QStringLiteral("/dev/full"), QStringLiteral("/dev/null"), dir.filePath("folder")}) {
        for (Writer w : writers()) {
            SCOPED_TRACE(std::string(w.name) + " into " + target.toStdString());
            w.args.replace(w.args.indexOf(w.target), target);
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("LAPIDOGRAPH_SETTINGS", store.filePath("settings.db"));
            p.setProcessEnvironment(env);
            p.setWorkingDirectory(dir.path());
            p.start(QStringLiteral(LAPIDO_CLI), w.args);
            p.waitForFinished(60000);
            const QString err = QString::fromUtf8(p.readAllStandardError());
            EXPECT_NE(p.exitCode(), 0) << err.toStdString();
            EXPECT_TRUE(err.contains(target)) << err.toStdString();
        }
    }
    EXPECT_TRUE(QFileInfo(dir.filePath("folder")).isDir());
    EXPECT_TRUE(QDir(dir.filePath("folder")).isEmpty());
}

} // namespace
