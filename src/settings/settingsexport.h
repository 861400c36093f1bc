// A readable text form of the whole store that round-trips every value exactly.
#pragma once

#include "platform/settingsstore.h"

#include <QString>

#include <vector>

namespace lapido {

// The last line of every export: an import without it was cut off and is refused.
inline const QString kSettingsExportEnd = QStringLiteral("# end of Lapidograph settings");

// "[Section]" lines followed by "Key=Value" lines, then the closing line. In keys and values a
// backslash, tab, CR and LF are written \\, \t, \r, \n; in keys "=" is written \= and a
// leading "[" or "#" \[ or \#. Nothing is trimmed. Lines may end in LF or CR LF.
QString exportSettingsText(const std::vector<SettingsEntry>& entries);
// The whole store in that form as the file's new content, replacing it atomically; empty on
// success, else the message naming the file.
QString exportSettingsFile(const SettingsStore& store, const QString& path);

struct ParsedSettings {
    std::vector<SettingsEntry> entries;
    QString error; // "line N: ..." when the text is not in the export form; entries then empty
};
ParsedSettings parseSettingsText(const QString& text);

} // namespace lapido
