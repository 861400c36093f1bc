// The one debug operation every part of the station writes through.
#pragma once

#include <QString>

#include <string>
#include <string_view>
#include <vector>

namespace lapido {

// Debug line on the root logger. Cheap when nothing is configured: no properties file means
// nothing is logged.
// The logging library configures itself from its own default files in the current folder
// ("log4j.properties", "log4cxx.xml" and the like) the first time a logger is asked for; only
// "log4station.properties" configures the station's debug log, so that is switched off.
void IgnoreLoggingLibraryDefaults();

void LogDebug(std::string_view text);
void LogDebug(const QString& text);
inline void LogDebug(const char* text) { LogDebug(std::string_view(text)); }
inline void LogDebug(const std::string& text) { LogDebug(std::string_view(text)); }

// Collects the debug lines written while it lives (tests read what a part logged).
class DebugLogCapture {
public:
    DebugLogCapture();
    ~DebugLogCapture();
    DebugLogCapture(const DebugLogCapture&) = delete;
    DebugLogCapture& operator=(const DebugLogCapture&) = delete;

    std::vector<std::string> lines() const;
    void clear();

};

} // namespace lapido
