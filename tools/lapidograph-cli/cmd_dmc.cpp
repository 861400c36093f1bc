// lapidograph-cli dmc: sends controller commands through the station's channel and prints the replies.
#include "cliio.h"
#include "commands.h"
#include "controllerlink.h"

#include "machine/galil.h"

#include <memory>

namespace lapido::cli {

// dmc [--address A] [--timeout MS] CMD...: each command goes through TDMC.CommandReply, as the
// station sends it (upper-cased, logged); one reply line per command, an empty line for a
// command without data. A command the controller refused (or that got no reply) gives the line
// "? " and the reason, the same reason on standard error, and the exit status 1 once every
// command was sent: a script must not read a refusal as an empty answer.
namespace {
const QString kDmcUsage = QStringLiteral(
    "usage: dmc [--address sim|HOST[:PORT]] [--timeout MS] COMMAND...\n"
    "  Sends each COMMAND to the controller as the station does (upper-cased) and prints one\n"
    "  reply line per command; a refused command prints \"? \" and the reason and the exit status\n"
    "  is 1. --address defaults to the stored GalilIP, --timeout (ms per command) to 3000.");
} // namespace

int cmdDmc(const QStringList& args)
{
    QString address;
    int timeoutMs = 3000;
    QStringList commands;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        // Options are the program's; no controller command starts with a dash.
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            out(kDmcUsage);
            return 0;
        }
        if (a.startsWith(QLatin1Char('-')) && a != QLatin1String("--address") && a != QLatin1String("--timeout"))
            return usageError(QStringLiteral("unknown option \"%1\"\n").arg(a) + kDmcUsage);
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
    int status = 0;
    for (const QString& c : commands) {
        const std::string reply = dmc->CommandReply(c.toLatin1().toStdString());
        const std::string why = dmc->LastError();
        if (why.empty()) {
            out(QString::fromLatin1(reply));
            continue;
        }
        out(QStringLiteral("? ") + QString::fromLatin1(why));
        err(QStringLiteral("lapidograph-cli: \"%1\" refused: %2").arg(c.toUpper(), QString::fromLatin1(why)));
        status = 1;
    }
    return status;
}

} // namespace lapido::cli
