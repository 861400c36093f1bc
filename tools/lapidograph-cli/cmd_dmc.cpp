// lapidograph-cli dmc: sends controller commands through the station's channel and prints the replies.
#include "cliio.h"
#include "commands.h"
#include "controllerlink.h"

#include "machine/galil.h"

#include <memory>

namespace lapido::cli {

// dmc [--address A] [--timeout MS] CMD...: each command goes through TDMC.CommandReply, as the
// station sends it (upper-cased, logged); one reply line per command, an empty line for a
// command without data or one the controller refused.
int cmdDmc(const QStringList& args)
{
    QString address;
    int timeoutMs = 3000;
    QStringList commands;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--address") || a == QLatin1String("--timeout")) {
            if (i + 1 >= args.size())
                return usageError(a + QStringLiteral(" needs a value"));
            const QString v = args[++i];
            if (a == QLatin1String("--address")) {
                address = v;
            } else {
                bool ok = false;
                timeoutMs = v.toInt(&ok);
                if (!ok || timeoutMs < 1 || timeoutMs > 600000)
                    return usageError(QStringLiteral("--timeout needs milliseconds between 1 and 600000"));
            }
        } else {
            commands << a;
        }
    }
    if (commands.isEmpty())
        return usageError(QStringLiteral("dmc needs at least one command, e.g. dmc \"MG _BGX\""));

    auto link = std::make_unique<TGalil>();
    link->setTimeoutMs(timeoutMs);
    const QString effectiveAddress = controllerAddress(address);
    const auto dmc = openController(effectiveAddress, std::move(link));
    if (!dmc->Connected()) {
        err(QStringLiteral("lapidograph-cli: no controller at \"%1\"").arg(addressText(effectiveAddress)));
        return 1;
    }
    for (const QString& c : commands)
        out(QString::fromLatin1(dmc->CommandReply(c.toLatin1().toStdString())));
    return 0;
}

} // namespace lapido::cli
