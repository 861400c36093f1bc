// The controller address of a command-line run and the channel opened at it.
#include "controllerlink.h"

#include "cliio.h"
#include "machine/applysettings.h"
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

StoredLaserSource::StoredLaserSource(TSettings& settings)
{
    m_source.LoadLaserSourcePackage();
    SelectStoredLaserSource(m_source, settings);
    ApplyLaserSettings(m_source, settings);
    setLaserSource(&m_source);
}

StoredLaserSource::~StoredLaserSource()
{
    setLaserSource(nullptr);
}

TerminalDialogs::TerminalDialogs() : m_previous(setOperatorDialogs(&m_dialogs))
{
    m_dialogs.onEntry = [](const ScriptedDialogs::Entry& e) {
        err(QStringLiteral("[%1] %2").arg(e.title, QString(e.text).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    };
}

TerminalDialogs::~TerminalDialogs()
{
    setOperatorDialogs(m_previous);
}

} // namespace lapido::cli
