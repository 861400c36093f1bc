// lapidograph-cli settings: read and write the station's settings store.
#include "cliio.h"
#include "commands.h"

#include "platform/savefile.h"
#include "platform/settingsstore.h"
#include "settings/settingsexport.h"
#include "settings/settingsrecord.h"

#include <QFile>
#include <QFileInfo>

namespace lapido::cli {

int cmdSettings(const QStringList& args)
{
    if (args.isEmpty())
        return usageError(QStringLiteral("settings needs a subcommand (get, set, list, export, import, record)"));
    const QString sub = args.at(0);
    // What only reads the store opens it for reading: a store on a read-only medium, or one the
    // user may not write, can still be looked at (a new store is made as before).
    const bool readsOnly = sub == QLatin1String("get") || sub == QLatin1String("list") || sub == QLatin1String("export")
                           || sub == QLatin1String("record");
    if (readsOnly && QFileInfo(defaultSettingsPath()).isFile())
        setAppRegistry(SettingsStore::openForReading(defaultSettingsPath()));
    SettingsStore& store = AppRegistry();

    if (sub == QLatin1String("get")) {
        if (args.size() != 3)
            return usageError(QStringLiteral("usage: settings get SECTION KEY"));
        const auto v = store.value(args.at(1), args.at(2));
        if (!v)
            return 1;
        out(*v);
        return 0;
    }
    if (sub == QLatin1String("set")) {
        if (args.size() != 4)
            return usageError(QStringLiteral("usage: settings set SECTION KEY VALUE"));
        store.setValue(args.at(1), args.at(2), args.at(3));
        return 0;
    }
    if (sub == QLatin1String("list")) {
        if (args.size() > 2)
            return usageError(QStringLiteral("usage: settings list [SECTION]"));
        for (const auto& e : store.entries(args.size() == 2 ? args.at(1) : QString()))
            out(e.section + QChar('\t') + e.key + QChar('=') + e.value);
        return 0;
    }
    if (sub == QLatin1String("export")) {
        if (args.size() != 2)
            return usageError(QStringLiteral("usage: settings export FILE"));
        const QString error = exportSettingsFile(store, args.at(1));
        if (!error.isEmpty()) {
            err(QStringLiteral("lapidograph-cli: ") + error);
            return 1;
        }
        return 0;
    }
    if (sub == QLatin1String("import")) {
        if (args.size() != 2)
            return usageError(QStringLiteral("usage: settings import FILE"));
        if (const QString why = unreadableFileReason(args.at(1)); !why.isEmpty()) {
            err(QStringLiteral("lapidograph-cli: ") + why);
            return 1;
        }
        QFile f(args.at(1));
        if (!f.open(QIODevice::ReadOnly)) {
            err(QStringLiteral("Cannot read \"%1\": %2").arg(args.at(1), f.errorString()));
            return 1;
        }
        // An export is a few thousand lines; read no further than any could be long.
        constexpr qint64 kMaxExportBytes = 64 * 1024 * 1024;
        const QByteArray bytes = f.read(kMaxExportBytes + 1);
        if (bytes.size() > kMaxExportBytes) {
            err(QStringLiteral("lapidograph-cli: \"%1\" is too large to be a settings export").arg(args.at(1)));
            return 1;
        }
        const auto parsed = parseSettingsText(QString::fromUtf8(bytes));
        if (!parsed.error.isEmpty()) {
            err(QStringLiteral("\"%1\": %2").arg(args.at(1), parsed.error));
            return 1;
        }
        store.setValues(parsed.entries);
        return 0;
    }
    if (sub == QLatin1String("record")) {
        if (args.size() != 1)
            return usageError(QStringLiteral("usage: settings record"));
        TSettings record;
        LoadSettingsFromRegistery(store, record);
        for (const auto& line : settingsRecordLines(record))
            out(line);
        return 0;
    }
    return usageError(QStringLiteral("unknown settings subcommand \"%1\"").arg(sub));
}

} // namespace lapido::cli
