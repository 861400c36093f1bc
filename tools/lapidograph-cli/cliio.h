// Output helpers for the command-line tools.
#pragma once

#include <QString>

namespace lapido::cli {

void out(const QString& line);  // standard output, one line
void err(const QString& line);  // standard error, one line
// Prints "lapidograph-cli: <message>" to standard error and returns exit code 2.
int usageError(const QString& message);

} // namespace lapido::cli
