// A readable text form of the whole store that round-trips every value exactly.
#pragma once

#include "platform/settingsstore.h"

#include <QString>

#include <vector>

namespace lapido {

// "[Section]" lines followed by "Key=Value" lines. In keys and values a backslash, tab, CR and
// LF are written \\, \t, \r, \n; in keys "=" is written \=. Nothing is trimmed.
QString exportSettingsText(const std::vector<SettingsEntry>& entries);

struct ParsedSettings {
    std::vector<SettingsEntry> entries;
    QString error; // "line N: ..." when the text is not in the export form; entries then empty
};
ParsedSettings parseSettingsText(const QString& text);

} // namespace lapido
