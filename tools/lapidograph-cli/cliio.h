// Output helpers for the command-line tools.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>

#include <optional>
#include <vector>

namespace lapido {
class TStation;
}

namespace lapido::cli {

void out(const QString& line);  // standard output, one line
void err(const QString& line);  // standard error, one line
// Prints "lapidograph-cli: <message>" to standard error and returns exit code 2.
int usageError(const QString& message);
// "X,Y[,Z]": exactly count numbers with a point, separated by commas; nullopt otherwise.
std::optional<std::vector<double>> pointNumbers(const QString& text, int count);
// The bytes of a label file, read no further than a label can be long (a device never ends);
// nullopt after an error line when it cannot be read or is too large to be a label.
std::optional<QByteArray> readLabelFile(const QString& path);
// Logos are looked up in "Logos" beside the label when it has one (a label travels with its
// drawings), else in the station's working folder.
void takeLogoFolder(const QDir& labelFolder);
// The label into the station, decoded as its XML declaration says; a relative picture path is
// taken from the label's folder. After an error line: Unreadable when it is not a label,
// Refused when it is a label asking for what cannot be inscribed (a number out of range, more
// characters than a girdle carries).
enum class LabelLoad { Loaded, Unreadable, Refused };
LabelLoad loadLabel(TStation& station, const QString& labelPath, const QByteArray& labelBytes);

} // namespace lapido::cli
