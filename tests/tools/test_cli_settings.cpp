// lapidograph-cli settings: what companion programs and service engineers rely on.
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

class CliSettings : public ::testing::Test {
protected:
    CliRun cli(const QStringList& args, const QString& locale = QStringLiteral("C.UTF-8"))
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LAPIDOGRAPH_SETTINGS", m_dir.filePath("settings.db"));
        env.insert("LC_ALL", locale);
        env.insert("LANG", locale);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(LAPIDO_CLI), args);
        p.waitForFinished(30000);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }
    QStringList recordLines(const QString& locale = QStringLiteral("C.UTF-8"))
    {
        return cli({"settings", "record"}, locale).out.split('\n', Qt::SkipEmptyParts);
    }
    QTemporaryDir m_dir;
    QTemporaryDir m_ro;
};

// A store on a read-only medium (its folder mounted read-only, so not even the log beside the
// file can be made) is still read by get, list, export and record; a write is refused with the
// reason and the values stay.
TEST_F(CliSettings, AReadOnlyStoreIsStillRead)
{
    ASSERT_EQ(cli({"settings", "set", "Diamond", "Girdle", "0.25"}).exitCode, 0);
    if (QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=1m", "tmpfs", m_ro.path()}) != 0)
        GTEST_SKIP() << "a small filesystem cannot be mounted here (needs root)";
    struct Unmount {
        QString path;
        ~Unmount() { QProcess::execute(QStringLiteral("umount"), {path}); }
    } unmount{m_ro.path()};
    for (const char* name : {"settings.db", "settings.db-wal", "settings.db-shm"})
        QFile::copy(m_dir.filePath(QString::fromLatin1(name)), m_ro.filePath(QString::fromLatin1(name)));
    ASSERT_EQ(QProcess::execute(QStringLiteral("mount"), {"-o", "remount,ro", m_ro.path()}), 0);

    const auto run = [this](const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LAPIDOGRAPH_SETTINGS", m_ro.filePath("settings.db"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(LAPIDO_CLI), args);
        p.waitForFinished(30000);
        return CliRun{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    };
    const CliRun get = run({"settings", "get", "Diamond", "Girdle"});
    EXPECT_EQ(get.exitCode, 0) << get.err.toStdString();
    EXPECT_EQ(get.out, QStringLiteral("0.25\n"));
    const CliRun list = run({"settings", "list", "Diamond"});
    EXPECT_EQ(list.exitCode, 0) << list.err.toStdString();
    EXPECT_TRUE(list.out.contains("Girdle=0.25")) << list.out.toStdString();
    EXPECT_EQ(run({"settings", "record"}).exitCode, 0);
    const CliRun set = run({"settings", "set", "Diamond", "Girdle", "1"});
    EXPECT_EQ(set.exitCode, 1);
    EXPECT_TRUE(set.err.contains("read-only")) << set.err.toStdString();
    EXPECT_EQ(run({"settings", "get", "Diamond", "Girdle"}).out, QStringLiteral("0.25\n"));
}

TEST_F(CliSettings, RecordShowsDefaultsAndFallbacks)
{
    QStringList lines = recordLines();
    EXPECT_TRUE(lines.contains("X_Accel=5"));
    EXPECT_TRUE(lines.contains("UseAaxis=0"));
    EXPECT_TRUE(lines.contains("ContourResolution=0.10471975511965977"));
    EXPECT_TRUE(lines.contains("Goto3_Y=25"));
    ASSERT_EQ(cli({"settings", "set", "Motion", "X_Accel", "abc"}).exitCode, 0);
    ASSERT_EQ(cli({"settings", "set", "Positioning", "Goto3_Y", "x"}).exitCode, 0);
    lines = recordLines();
    EXPECT_TRUE(lines.contains("X_Accel=100"));
    EXPECT_TRUE(lines.contains("Goto3_Y=15"));
}

TEST_F(CliSettings, GetPrintsTheRawTextAndFailsWhenMissing)
{
    EXPECT_EQ(cli({"settings", "get", "BarCode", "ScannedCode"}).exitCode, 1);
    ASSERT_EQ(cli({"settings", "set", "BarCode", "ScannedCode", "12345 AB"}).exitCode, 0);
    const CliRun r = cli({"settings", "get", "barcode", "SCANNEDCODE"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, QStringLiteral("12345 AB\n"));
    EXPECT_EQ(cli({"settings", "get", "BarCode"}).exitCode, 2);
}

TEST_F(CliSettings, CommaLocaleWritesAndReadsItsOwnFloats)
{
    ASSERT_EQ(cli({"settings", "set", "Marking", "MarkingSpeed", "0,3"}).exitCode, 0);
    EXPECT_TRUE(recordLines("de_DE.UTF-8").contains("MarkingSpeed=0,3"));
    // The same text on a system with a point is not a number: the fallback 0.2 applies.
    EXPECT_TRUE(recordLines("en_US.UTF-8").contains("MarkingSpeed=0.2"));
}

TEST_F(CliSettings, ExportImportRoundTripsEveryValue)
{
    cli({"settings", "set", "Layout", "TextLabel", "a=b\\c"});
    cli({"settings", "set", "Colors", "AdvLightholderfree", "0#0#0#0#@"});
    const QString file = m_dir.filePath("export.txt");
    ASSERT_EQ(cli({"settings", "export", file}).exitCode, 0);
    const QString before = cli({"settings", "list"}).out;

    QTemporaryDir other;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LAPIDOGRAPH_SETTINGS", other.filePath("settings.db"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(LAPIDO_CLI), {"settings", "import", file});
    ASSERT_TRUE(p.waitForFinished(30000));
    ASSERT_EQ(p.exitCode(), 0);
    p.start(QStringLiteral(LAPIDO_CLI), {"settings", "list"});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()), before);
}

TEST_F(CliSettings, AnImportCutShortOrEmptyLeavesTheStoreAsItWas)
{
    ASSERT_EQ(cli({"settings", "set", "Hardware", "GalilIP", "sim"}).exitCode, 0);
    const QString file = m_dir.filePath("export.txt");
    ASSERT_EQ(cli({"settings", "export", file}).exitCode, 0);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray whole = f.readAll();
    f.close();
    ASSERT_TRUE(whole.endsWith("\n# end of Lapidograph settings\n")) << whole.right(60).toStdString();
    ASSERT_EQ(cli({"settings", "set", "Hardware", "GalilIP", "10.0.0.7"}).exitCode, 0);
    const QString before = cli({"settings", "list"}).out;
    const int cut = int(whole.indexOf("GalilIP=sim")) + int(qstrlen("GalilIP=s"));
    for (const QByteArray& content : {whole.left(cut), QByteArray()}) {
        SCOPED_TRACE(content.size());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
        f.close();
        const CliRun r = cli({"settings", "import", file});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains("closing line")) << r.err.toStdString();
        EXPECT_EQ(cli({"settings", "list"}).out, before);
    }
}

TEST_F(CliSettings, BrokenStoreFileIsNamedAndLeftUntouched)
{
    QFile f(m_dir.filePath("settings.db"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(2048, 'z'));
    f.close();
    const CliRun r = cli({"settings", "record"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(m_dir.filePath("settings.db"))) << r.err.toStdString();
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray(2048, 'z'));
}

} // namespace
