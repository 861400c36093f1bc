// Starting an outside program (the backup tool, the companion queue program) without waiting.
#pragma once

#include <QString>
#include <QStringList>

namespace lapido {

// Starts programs detached from the station: the station neither waits for them nor ends them.
// Arguments travel as a list, never through a shell, so blanks and quotes in a folder name
// reach the program unchanged.
class ProcessStarter {
public:
    virtual ~ProcessStarter() = default;
    // False when the program could not be started (missing, not executable); the reason is
    // logged. A started program's own outcome is not known here.
    virtual bool startDetached(const QString& program, const QStringList& arguments) = 0;
};

// The real starter (QProcess, detached, standard streams not connected to the station).
class DetachedProcessStarter final : public ProcessStarter {
public:
    bool startDetached(const QString& program, const QStringList& arguments) override;
};

// The starter of the running program (the real one unless a test installed its own).
ProcessStarter& processStarter();
ProcessStarter* setProcessStarter(ProcessStarter* starter);

} // namespace lapido
