// lapidograph-cli records: one marking record through the station's data module.
#include "cliio.h"
#include "commands.h"

#include "platform/operatordialogs.h"
#include "records/lapidographdb.h"

namespace lapido::cli {

int cmdRecords(const QStringList& args)
{
    if (args.size() != 3 || args.at(0) != QLatin1String("insert"))
        return usageError(QStringLiteral("usage: records insert REPORT CONTENT"));
    ScriptedDialogs dialogs;
    int shown = 0;
    dialogs.onEntry = [&](const ScriptedDialogs::Entry& e) {
        ++shown;
        err(e.text);
    };
    OperatorDialogs* previous = setOperatorDialogs(&dialogs);
    TDataModule1 db;
    if (!db.isActive()) {
        setOperatorDialogs(previous);
        err(QStringLiteral("nothing recorded: marking records are off (Database/customer is not XGL)"));
        return 1;
    }
    db.Open();
    // Without a connection this says so, as the station does at every marking.
    db.Insert(args.at(2), args.at(1));
    setOperatorDialogs(previous);
    if (shown > 0)
        return 1;
    out(QStringLiteral("recorded report ") + args.at(1));
    return 0;
}

} // namespace lapido::cli
