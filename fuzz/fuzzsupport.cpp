// The shared environment of the fuzz targets.
#include "fuzzsupport.h"

#include "platform/clock.h"
#include "platform/settingsstore.h"
#include "platform/stationglobals.h"
#include "settings/settingskeys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace lapido::fuzz {

namespace {

// Qt's messages about malformed input would flood the fuzzer's output.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "qFatal: %s\n", message.toLocal8Bit().constData());
        std::abort();
    }
}

struct Holder {
    int argc = 1;
    char name[16] = "fuzz";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<QGuiApplication> app;
    VirtualClock clock;
    ScriptedDialogs dialogs;
    Environment env;

    Holder()
    {
        qInstallMessageHandler(quietMessages);
        // In memory where the system offers it: the readers' files are written and flushed on
        // every input, which on a disc would be most of the time spent.
        const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/lapido-fuzz-XXXXXX"));
        if (!dir->isValid())
            fail("no temporary folder");
        // Nothing may reach the user's own folders: the store, the data and configuration
        // folders all live in the private folder.
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir->filePath(QStringLiteral("data"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir->filePath(QStringLiteral("config"))));
        qputenv("LAPIDOGRAPH_SETTINGS", QFile::encodeName(dir->filePath(QStringLiteral("settings.db"))));
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
        env.folder = dir->path();
        env.workingDir = dir->filePath(QStringLiteral("work")) + QLatin1Char('/');
        QDir().mkpath(env.workingDir);
        setAppRegistry(SettingsStore::open(dir->filePath(QStringLiteral("settings.db"))));
        keys::write(keys::WorkingDir, env.workingDir);
        setWorkingDir(env.workingDir);
        setSystemClock(&clock);
        setOperatorDialogs(&dialogs);
        env.dialogs = &dialogs;
    }
};

Holder& holder()
{
    // libFuzzer calls the target from one thread; the holder lives until the process ends.
    static Holder h;
    return h;
}

} // namespace

Environment& environment()
{
    return holder().env;
}

void resetBetweenInputs()
{
    holder().dialogs.clear();
}

QString writeInput(const QString& name, const QByteArray& content)
{
    const QString path = environment().folder + QLatin1Char('/') + name;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size())
        fail("cannot write the input file");
    return path;
}

void fail(const char* what)
{
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

} // namespace lapido::fuzz
