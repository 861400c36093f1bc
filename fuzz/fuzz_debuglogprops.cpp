// Fuzz target: the debug-log properties file, translated to the logging library's keys and
// handed to it, as at start. Every log file the text names is moved into the private folder,
// and every appender gets a file there, so that no input writes anywhere else.
#include "fuzzsupport.h"

#include "platform/debuglog.h"
#include "records/log4station.h"

#include <log4cxx/helpers/properties.h>
#include <log4cxx/logmanager.h>
#include <log4cxx/propertyconfigurator.h>

using namespace lapido;

// The logging library as Debian builds it deletes its rolling policy through a base of a
// different size (inside the library, on every reset of a rolling appender); that is no
// fault of ours and not one this target can find, so it is not reported here.
extern "C" const char* __asan_default_options()
{
    return "new_delete_type_mismatch=0";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const fuzz::Environment& env = fuzz::environment();
    fuzz::resetBetweenInputs();
    const auto station = parsePropertiesText(QString::fromUtf8(fuzz::bytes(data, size)));
    QStringList diagnostics;
    const auto translated = translateDebugLogProperties(station, diagnostics, env.folder + QStringLiteral("/program"));
    for (const auto& [key, value] : translated)
        fuzz::check(key.startsWith(QLatin1String("log4j.")), "a translated key left the library's name space");

    log4cxx::helpers::Properties props;
    const QString logFile = env.folder + QStringLiteral("/debug.log");
    for (const auto& [key, value] : translated) {
        // Every option naming a file (File, ActiveFileName, a rolling policy's FileNamePattern)
        // is pointed into the private folder.
        const QString option = key.section(QLatin1Char('.'), -1);
        QString given = value;
        if (option.contains(QLatin1String("file"), Qt::CaseInsensitive))
            given = option.contains(QLatin1String("pattern"), Qt::CaseInsensitive) ? env.folder + QStringLiteral("/debug.%i.log")
                                                                                     : logFile;
        props.setProperty(key.toStdString(), given.toStdString());
        // An appender without a file would write (and roll) relative to the current folder.
        if (key.count(QLatin1Char('.')) == 2 && key.startsWith(QLatin1String("log4j.appender.")))
            props.setProperty((key + QStringLiteral(".File")).toStdString(), logFile.toStdString());
    }
    try {
        log4cxx::PropertyConfigurator::configure(props);
    } catch (const std::exception&) {
        // Refused by the library: the station reports it and logs nothing.
    }
    LogDebug(QStringLiteral("fuzz"));
    ResetDebugLog();
    return 0;
}
