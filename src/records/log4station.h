// Debug-log configuration: "log4station.properties" translated to the logging library's own keys.
#pragma once

#include <QString>
#include <QStringList>

#include <map>

namespace lapido {

struct DebugLogConfig {
    bool configured = false;  // an appender is attached to the root logger
    QStringList diagnostics;  // the framework's own messages about the configuration
};

// Reads the properties file once (at start, before any window) and configures the root
// logger. No file: nothing is logged and the station goes on. An unreadable file is reported
// as "Could not read configuration file [name] reason" and "Ignoring configuration file
// [name]" on standard error; with "log4station.debug=true" every diagnostic is also appended
// to "log4station.log" beside the current folder.
DebugLogConfig ConfigureDebugLog(const QString& fileName = QStringLiteral("log4station.properties"));

// The properties as the logging library understands them (exposed for tests): keys
// "log4station.X" become "log4j.X", appender and layout class names are mapped, ".Pattern"
// becomes ".ConversionPattern", and ".AppDir=true" puts a relative ".File" in the program's
// folder. Unknown classes are dropped with a diagnostic.
std::map<QString, QString> translateDebugLogProperties(const std::map<QString, QString>& station,
                                                       QStringList& diagnostics,
                                                       const QString& programFolder);

// Java-style properties text: "key=value", "key: value" or "key value"; "#" and "!" comments;
// a trailing backslash continues the line.
std::map<QString, QString> parsePropertiesText(const QString& text);

// Detaches every appender (program end, tests).
void ResetDebugLog();

} // namespace lapido
