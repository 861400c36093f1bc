// Output helpers for the command-line tools.
#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace lapido::cli {

void out(const QString& line);  // standard output, one line
void err(const QString& line);  // standard error, one line
// Prints "lapidograph-cli: <message>" to standard error and returns exit code 2.
int usageError(const QString& message);
// "X,Y[,Z]": exactly count numbers with a point, separated by commas; nullopt otherwise.
std::optional<std::vector<double>> pointNumbers(const QString& text, int count);
// The text of a label file (UTF-8); nullopt after an error line when it cannot be read or is
// too large to be a label.
std::optional<QString> readLabelFile(const QString& path);

} // namespace lapido::cli
