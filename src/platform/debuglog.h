// The one debug operation every part of the station writes through.
#pragma once

#include <QString>

#include <functional>
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

// A debug log that cannot be written (a full disk, a device that refuses data) never stops the
// program: the first failed write detaches every appender, so the log goes quiet, and the
// failure is told once through the handler (on the thread that logged, possibly while a lock
// of the caller is held: a handler only hands the text on). Without a handler the text goes to
// standard error. The handler is also told when the log fails while it is being closed.
using DebugLogFailureHandler = std::function<void(const QString& text)>;
void setDebugLogFailureHandler(DebugLogFailureHandler handler);
// The text told when the debug log failed; empty while it works (or was never configured).
QString debugLogFailure();
// Forgets an earlier failure (a new configuration, tests).
void clearDebugLogFailure();
// Runs an operation on the logging library (closing, configuring) that may write to the log,
// taking a failure as above; false when it failed.
bool guardDebugLog(const std::function<void()>& operation);

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
