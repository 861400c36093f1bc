// Detached program start through QProcess.
#include "platform/processstarter.h"

#include "platform/debuglog.h"

#include <QFileInfo>
#include <QProcess>

#include <atomic>

namespace lapido {

bool DetachedProcessStarter::startDetached(const QString& program, const QStringList& arguments)
{
    // QProcess would also search PATH for a bare name; a configured tool path that does not
    // exist is reported as such instead of starting whatever PATH offers.
    if (program.contains(QChar('/')) && !QFileInfo(program).isFile()) {
        LogDebug(QStringLiteral("Cannot start ") + program + QStringLiteral(": no such file"));
        return false;
    }
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        LogDebug(QStringLiteral("Cannot start ") + program + QStringLiteral(": ") + process.errorString());
        return false;
    }
    LogDebug(QStringLiteral("Started ") + program + QStringLiteral(" (pid ") + QString::number(pid) + QChar(')'));
    return true;
}

namespace {
std::atomic<ProcessStarter*> g_starter{nullptr};
}

ProcessStarter& processStarter()
{
    static DetachedProcessStarter real;
    ProcessStarter* s = g_starter.load();
    return s ? *s : real;
}

ProcessStarter* setProcessStarter(ProcessStarter* starter)
{
    return g_starter.exchange(starter);
}

} // namespace lapido
