// lapidograph-cli dmc: sends controller commands through the station's channel and prints the replies.
#include "cliio.h"
#include "commands.h"

#include "machine/galil.h"
#include "machine/galildmc.h"
#include "platform/settingsstore.h"
#include "settings/settingskeys.h"

#include <QTemporaryDir>

#include <memory>

namespace lapido::cli {

// dmc [--address A] [--timeout MS] CMD...: each command goes through TDMC.CommandReply, as the
// station sends it (upper-cased, logged); one reply line per command, an empty line for a
// command without data or one the controller refused.
int cmdDmc(const QStringList& args)
{
    QString address;
    bool haveAddress = false;
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
                haveAddress = true;
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

    // An address given here is used for this run only: the channel reads its address from a
    // scratch store, and the user's stored address stays as it is.
    std::unique_ptr<QTemporaryDir> scratch;
    if (haveAddress) {
        scratch = std::make_unique<QTemporaryDir>();
        if (!scratch->isValid())
            return usageError(QStringLiteral("cannot create a temporary folder"));
        setAppRegistry(SettingsStore::open(scratch->filePath(QStringLiteral("settings.db"))));
        keys::write(keys::GalilIP, address);
    }
    auto link = std::make_unique<TGalil>();
    link->setTimeoutMs(timeoutMs);
    TDMC dmc(std::move(link));
    if (!dmc.Connected()) {
        err(QStringLiteral("lapidograph-cli: no controller at \"%1\"")
                .arg(keys::read(keys::GalilIP).isEmpty() ? QString::fromLatin1(TGalil::kDefaultAddress)
                                                         : keys::read(keys::GalilIP)));
        if (haveAddress)
            setAppRegistry(nullptr);
        return 1;
    }
    for (const QString& c : commands)
        out(QString::fromLatin1(dmc.CommandReply(c.toLatin1().toStdString())));
    if (haveAddress)
        setAppRegistry(nullptr);
    return 0;
}

} // namespace lapido::cli
