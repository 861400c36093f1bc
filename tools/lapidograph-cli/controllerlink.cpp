// The controller address of a command-line run and the channel opened at it.
#include "controllerlink.h"

#include "machine/galil.h"
#include "settings/settingskeys.h"

namespace lapido::cli {

QString controllerAddress(const QString& given)
{
    return given.isEmpty() ? keys::read(keys::GalilIP) : given;
}

bool isSimulatorAddress(const QString& address)
{
    return address.isEmpty() || address == QLatin1String(TGalil::kDefaultAddress);
}

QString addressText(const QString& address)
{
    return address.isEmpty() ? QString::fromLatin1(TGalil::kDefaultAddress) : address;
}

std::unique_ptr<TDMC> openController(const QString& address, std::unique_ptr<GalilTransport> link)
{
    if (!link)
        link = std::make_unique<TGalil>();
    return std::make_unique<TDMC>(std::move(link), address.toStdString());
}

} // namespace lapido::cli
