// The commands of lapidograph-cli; each returns the process exit code.
#pragma once

#include <QStringList>

namespace lapido::cli {

// args: the words after the command name.
int cmdSettings(const QStringList& args);

} // namespace lapido::cli
