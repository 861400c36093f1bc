// Every program answers --help and --version the way manual-page generators and packagers
// read them: on standard output, exit code 0, the project's version, and nothing created.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>

namespace {

struct Program {
    const char* name;
    const char* path;
};

const Program kPrograms[] = {
    {"lapidograph-cli", LAPIDO_CLI},
    {"lapidograph-dmcsim", LAPIDO_DMCSIM},
};

void PrintTo(const Program& p, std::ostream* os)
{
    *os << p.name;
}

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
};

class ProgramHelp : public ::testing::TestWithParam<Program> {
protected:
    Outcome run(const QStringList& args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_home.path());
        env.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        env.insert("XDG_DATA_HOME", m_home.filePath("data"));
        env.remove("LAPIDOGRAPH_SETTINGS");
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(m_home.path());
        p.start(QString::fromUtf8(GetParam().path), args);
        EXPECT_TRUE(p.waitForFinished(30000));
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }
    QStringList leftInHome() const
    {
        return QDir(m_home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }
    QTemporaryDir m_home;
};

TEST_P(ProgramHelp, VersionIsTheProjectsOnStandardOutput)
{
    const Outcome r = run({"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, QStringLiteral("%1 %2\n").arg(QString::fromUtf8(GetParam().name), QStringLiteral(LAPIDO_FILE_VERSION)));
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    EXPECT_TRUE(leftInHome().isEmpty()) << leftInHome().join(' ').toStdString();
}

TEST_P(ProgramHelp, HelpGoesToStandardOutputAndTouchesNothing)
{
    const Outcome r = run({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("usage: ") + QString::fromUtf8(GetParam().name))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("--version")));
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    EXPECT_TRUE(leftInHome().isEmpty()) << leftInHome().join(' ').toStdString();
}

TEST_P(ProgramHelp, AnUnknownArgumentIsAUsageErrorOnStandardError)
{
    const Outcome r = run({"--no-such-option"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("usage: "))) << r.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramHelp, ::testing::ValuesIn(kPrograms),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             std::replace(n.begin(), n.end(), '-', '_');
                             return n;
                         });

} // namespace
