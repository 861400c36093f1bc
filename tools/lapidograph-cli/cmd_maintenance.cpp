// lapidograph-cli maintenance: the action vocabulary, and a record of any action through the log.
#include "cliio.h"
#include "commands.h"

#include "platform/operatordialogs.h"
#include "records/databaselogging.h"
#include "records/loggingproxy.h"
#include "records/maintenancerecord.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"

namespace lapido::cli {

namespace {
QString sinkDescription(TLoggingProxy::Sink sink)
{
    switch (sink) {
    case TLoggingProxy::Sink::File:
        return QStringLiteral("files in ") + keys::read(keys::LogFileBaseDir);
    case TLoggingProxy::Sink::Database:
        return QStringLiteral("database ") + keys::read(keys::LogDbName) + QStringLiteral(" on ")
               + keys::read(keys::LogHostName);
    case TLoggingProxy::Sink::None:
        break;
    }
    return QStringLiteral("none (logfileenabled and databaseenabled are not \"1\"; records are dropped)");
}
} // namespace

int cmdMaintenance(const QStringList& args)
{
    const QString sub = args.value(0);
    if (sub == QLatin1String("list") && args.size() == 1) {
        for (const MaintenanceAction& a : maintenanceActions())
            out(QString::fromLatin1(a.table) + QChar('\t')
                + (a.operation ? QString::fromLatin1(a.operation) : QStringLiteral("(table only)")));
        out(QStringLiteral("# sink: ") + sinkDescription(TLoggingProxy().sink()));
        return 0;
    }
    if (sub == QLatin1String("record") && (args.size() == 2 || args.size() == 3)) {
        const MaintenanceAction* action = findMaintenanceAction(args.at(1));
        if (!action)
            return usageError(QStringLiteral("unknown action \"%1\" (see maintenance list)").arg(args.at(1)));
        if (!action->operation)
            return usageError(QStringLiteral("%1 is a table without an operation; it takes no records")
                                  .arg(QString::fromLatin1(action->table)));
        // The record carries the shot counter the station would have loaded.
        LoadSettingsFromRegistery();
        ScriptedDialogs dialogs;
        int shown = 0;
        dialogs.onEntry = [&](const ScriptedDialogs::Entry& e) {
            ++shown;
            err(e.text);
        };
        OperatorDialogs* previous = setOperatorDialogs(&dialogs);
        TLoggingProxy& proxy = TLoggingProxy::GetInstance();
        const QString table = QString::fromLatin1(action->table);
        const bool written = proxy.InsertReg(table, table, args.value(2));
        setOperatorDialogs(previous);
        if (proxy.sink() == TLoggingProxy::Sink::None) {
            err(QStringLiteral("nothing recorded: sink ") + sinkDescription(proxy.sink()));
            return 1;
        }
        if (!written || shown > 0)
            return 1;
        out(QStringLiteral("recorded ") + table + QStringLiteral(" in ") + sinkDescription(proxy.sink()));
        return 0;
    }
    return usageError(QStringLiteral("usage: maintenance list | record ACTION [VALUE]"));
}

} // namespace lapido::cli
