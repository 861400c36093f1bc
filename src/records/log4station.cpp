// Debug-log configuration from "log4station.properties".
#include "records/log4station.h"

#include "platform/debuglog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

#include <log4cxx/helpers/properties.h>
#include <log4cxx/logmanager.h>
#include <log4cxx/propertyconfigurator.h>

#include <cstdio>

namespace lapido {

namespace {

const QString kPrefix = QStringLiteral("log4station.");

QString appenderClass(const QString& name)
{
    if (name == QLatin1String("TFileAppender"))
        return QStringLiteral("org.apache.log4j.FileAppender");
    if (name == QLatin1String("TRollingFileAppender"))
        return QStringLiteral("org.apache.log4j.RollingFileAppender");
    return {};
}

QString layoutClass(const QString& name)
{
    if (name == QLatin1String("TSimpleLayout"))
        return QStringLiteral("org.apache.log4j.SimpleLayout");
    if (name == QLatin1String("TPatternLayout"))
        return QStringLiteral("org.apache.log4j.PatternLayout");
    if (name == QLatin1String("THTMLLayout"))
        return QStringLiteral("org.apache.log4j.HTMLLayout");
    if (name == QLatin1String("TXMLLayout"))
        return QStringLiteral("org.apache.log4j.xml.XMLLayout");
    return {};
}

bool isTrue(const QString& v)
{
    return v.trimmed().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

// "LEVEL#class" asks the logging library for a level of a custom class, and a class that is no
// level makes it crash while configuring. The station has no level classes: only the level's
// name is kept. For a logger the level is the first of its comma-separated items.
QString withoutLevelClass(const QString& key, const QString& value, bool levelFirstOfList, QStringList& diagnostics)
{
    const qsizetype comma = levelFirstOfList ? value.indexOf(QChar(',')) : -1;
    const QString level = comma < 0 ? value : value.left(comma);
    const qsizetype hash = level.indexOf(QChar('#'));
    if (hash < 0)
        return value;
    diagnostics << QStringLiteral("Custom level classes are not supported: [%1] of [%2] is read as [%3]")
                       .arg(level.trimmed(), key, level.left(hash).trimmed());
    return level.left(hash).trimmed() + (comma < 0 ? QString() : value.mid(comma));
}

} // namespace

std::map<QString, QString> parsePropertiesText(const QString& text)
{
    std::map<QString, QString> out;
    const QStringList raw = text.split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
    QString pending;
    for (const QString& lineIn : raw) {
        QString line = pending.isEmpty() ? lineIn.trimmed() : pending + lineIn.trimmed();
        pending.clear();
        if (line.isEmpty() || line.startsWith(QChar('#')) || line.startsWith(QChar('!')))
            continue;
        // An odd number of trailing backslashes continues the line.
        int backslashes = 0;
        for (int i = static_cast<int>(line.size()) - 1; i >= 0 && line.at(i) == QChar('\\'); --i)
            ++backslashes;
        if (backslashes % 2 == 1) {
            pending = line.left(line.size() - 1);
            continue;
        }
        qsizetype sep = -1;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const QChar c = line.at(i);
            if (c == QChar('=') || c == QChar(':') || c.isSpace()) {
                sep = i;
                break;
            }
        }
        QString key = sep < 0 ? line : line.left(sep);
        QString value;
        if (sep >= 0) {
            value = line.mid(sep + 1).trimmed();
            if (line.at(sep).isSpace() && (value.startsWith(QChar('=')) || value.startsWith(QChar(':'))))
                value = value.mid(1).trimmed();
        }
        out[key.trimmed()] = value;
    }
    if (!pending.isEmpty()) {
        const qsizetype eq = pending.indexOf(QChar('='));
        if (eq > 0)
            out[pending.left(eq).trimmed()] = pending.mid(eq + 1).trimmed();
    }
    return out;
}

std::map<QString, QString> translateDebugLogProperties(const std::map<QString, QString>& station,
                                                       QStringList& diagnostics,
                                                       const QString& programFolder)
{
    std::map<QString, QString> out;
    QStringList droppedAppenders;
    // First pass: appender classes, so that options of a dropped appender are dropped too.
    for (const auto& [key, value] : station) {
        if (!key.startsWith(kPrefix + QStringLiteral("appender.")))
            continue;
        const QString rest = key.mid(kPrefix.size() + 9);
        if (rest.contains(QChar('.')))
            continue;
        if (appenderClass(value.trimmed()).isEmpty()) {
            diagnostics << QStringLiteral("Could not instantiate class [%1] for appender [%2]").arg(value, rest);
            droppedAppenders << rest;
        }
    }
    for (const auto& [key, valueIn] : station) {
        if (!key.startsWith(kPrefix)) {
            diagnostics << QStringLiteral("Ignoring key [%1]").arg(key);
            continue;
        }
        const QString rest = key.mid(kPrefix.size());
        QString value = valueIn;
        if (rest == QLatin1String("debug"))
            continue; // handled by the caller: it decides where diagnostics go
        if (rest == QLatin1String("threshold"))
            value = withoutLevelClass(key, value, false, diagnostics);
        else if (rest == QLatin1String("rootLogger") || rest == QLatin1String("rootCategory")
                 || rest.startsWith(QStringLiteral("logger.")) || rest.startsWith(QStringLiteral("category.")))
            value = withoutLevelClass(key, value, true, diagnostics);
        if (rest.startsWith(QStringLiteral("appender."))) {
            const QString tail = rest.mid(9);
            const QString name = tail.section(QChar('.'), 0, 0);
            const QString option = tail.section(QChar('.'), 1);
            if (droppedAppenders.contains(name))
                continue;
            if (option.isEmpty()) {
                value = appenderClass(value.trimmed());
            } else if (option == QLatin1String("layout")) {
                const QString cls = layoutClass(value.trimmed());
                if (cls.isEmpty()) {
                    diagnostics << QStringLiteral("Could not instantiate class [%1]; using TSimpleLayout").arg(value);
                    value = layoutClass(QStringLiteral("TSimpleLayout"));
                } else {
                    value = cls;
                }
            } else if (option == QLatin1String("layout.Pattern") || option == QLatin1String("Pattern")) {
                out[QStringLiteral("log4j.appender.") + name + QStringLiteral(".layout.ConversionPattern")] = value;
                continue;
            } else if (option == QLatin1String("layout.Title") || option == QLatin1String("Title")) {
                out[QStringLiteral("log4j.appender.") + name + QStringLiteral(".layout.Title")] = value;
                continue;
            } else if (option == QLatin1String("AppDir")) {
                continue; // applied to .File below
            } else if (option == QLatin1String("File")) {
                const auto appDir = station.find(kPrefix + QStringLiteral("appender.") + name + QStringLiteral(".AppDir"));
                if (appDir != station.end() && isTrue(appDir->second) && QFileInfo(value).isRelative())
                    value = QDir(programFolder).filePath(value);
            }
        }
        out[QStringLiteral("log4j.") + rest] = value;
    }
    return out;
}

namespace {

void report(const QStringList& diagnostics, bool toFile, bool toStderr)
{
    if (toStderr)
        for (const QString& d : diagnostics)
            std::fprintf(stderr, "log4station: %s\n", d.toLocal8Bit().constData());
    if (toFile && !diagnostics.isEmpty()) {
        QFile f(QStringLiteral("log4station.log"));
        if (f.open(QIODevice::Append | QIODevice::Text)) {
            QTextStream ts(&f);
            for (const QString& d : diagnostics)
                ts << "log4station: " << d << '\n';
        }
    }
}

} // namespace

DebugLogConfig ConfigureDebugLog(const QString& fileName)
{
    DebugLogConfig result;
    IgnoreLoggingLibraryDefaults();
    QFile file(fileName);
    if (!file.exists()) {
        // Not an error: a station without the file logs nothing.
        result.diagnostics << QStringLiteral("Could not read configuration file [%1] %2").arg(fileName, QStringLiteral("file not found"))
                           << QStringLiteral("Ignoring configuration file [%1]").arg(fileName);
        return result;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        result.diagnostics << QStringLiteral("Could not read configuration file [%1] %2").arg(fileName, file.errorString())
                           << QStringLiteral("Ignoring configuration file [%1]").arg(fileName);
        report(result.diagnostics, false, true);
        return result;
    }
    const auto station = parsePropertiesText(QString::fromUtf8(file.readAll()));
    const auto dbg = station.find(QStringLiteral("log4station.debug"));
    const bool debug = dbg != station.end() && isTrue(dbg->second);

    const QString programFolder = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    const auto translated = translateDebugLogProperties(station, result.diagnostics, programFolder);

    log4cxx::helpers::Properties props;
    for (const auto& [k, v] : translated)
        props.setProperty(k.toStdString(), v.toStdString());
    clearDebugLogFailure();
    try {
        log4cxx::PropertyConfigurator::configure(props);
    } catch (const std::exception& e) {
        result.diagnostics << QStringLiteral("Could not read configuration file [%1] %2").arg(fileName, QString::fromUtf8(e.what()))
                           << QStringLiteral("Ignoring configuration file [%1]").arg(fileName);
    }
    result.configured = !log4cxx::Logger::getRootLogger()->getAllAppenders().empty();
    result.diagnostics << QStringLiteral("Finished configuring from [%1]").arg(fileName);
    report(result.diagnostics, debug, false);
    return result;
}

void ResetDebugLog()
{
    // Closing writes what the appenders still hold (and a layout's footer).
    guardDebugLog([] { log4cxx::LogManager::resetConfiguration(); });
}

} // namespace lapido
