// Laser-source discovery, selection and the calls into the loaded plug-in.
#include "machine/lasersource.h"

#include "platform/debuglog.h"
#include "settings/settingsrecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <array>
#include <vector>

namespace lapido {

namespace {

const QString kPulseTriggeredName = QStringLiteral("Pulse Triggered laser - No software control");
const QString kGatedName = QStringLiteral("Gated Output laser - No software control");
const QString kUnknownModel = QStringLiteral("UNKOWN LASER MODEL");
const QString kPluginPattern = QStringLiteral("DE60_*.so");

TLaserSource* g_laserSource = nullptr;

// Plug-in text as 8-bit characters; keepLines leaves line ends and tabs of a report alone.
QString cleanText(const char* text, int maxChars, bool keepLines)
{
    QString out;
    for (int i = 0; i < maxChars && text[i] != '\0'; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool lineChar = c == '\n' || c == '\r' || c == '\t';
        if ((c < 0x20 && !(keepLines && lineChar)) || c == 0x7f)
            continue;
        out += QChar(c);
    }
    return out;
}

template <typename Fn>
Fn resolve(QLibrary& library, const char* name)
{
    return reinterpret_cast<Fn>(library.resolve(name));
}

} // namespace

QString laserModelName(LaserGetModelFn getModel)
{
    if (!getModel)
        return {};
    // Generous room: a plug-in that overruns the agreed 255 characters must not reach
    // beyond the buffer; anything past the limit is cut off.
    std::vector<char> buffer(4096, '\0');
    getModel(buffer.data());
    buffer.back() = '\0';
    return cleanText(buffer.data(), kLaserModelChars, false).trimmed();
}

TLaserSource* laserSource()
{
    return g_laserSource;
}

void setLaserSource(TLaserSource* source)
{
    g_laserSource = source;
}

TLaserSource::TLaserSource() = default;

TLaserSource::~TLaserSource()
{
    if (hLaser) {
        if (ShutDownLaser)
            ShutDownLaser();
        clearEntryPoints();
        hLaser->unload();
        hLaser.reset();
    }
    if (g_laserSource == this)
        g_laserSource = nullptr;
}

QString TLaserSource::programPluginFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

QString TLaserSource::installedPluginFolder()
{
    return QDir::cleanPath(programPluginFolder() + QStringLiteral("/" LAPIDO_PLUGIN_DIR_FROM_BIN));
}

void TLaserSource::LoadLaserSourcePackage()
{
    LoadLaserSourcePackage({QDir::currentPath(), programPluginFolder(), installedPluginFolder()});
}

void TLaserSource::LoadLaserSourcePackage(const QStringList& folders)
{
    m_sourceNames = {kPulseTriggeredName, kGatedName};
    LaserPackageNames = {QString(), QString()};
    QStringList seen;
    for (const QString& folder : folders) {
        if (folder.isEmpty())
            continue;
        const QDir dir(folder);
        for (const QString& file : dir.entryList({kPluginPattern}, QDir::Files, QDir::Name)) {
            // The full path: a bare name would send the loader through the system's library
            // path instead of this folder.
            const QString path = QFileInfo(dir.filePath(file)).canonicalFilePath();
            if (path.isEmpty() || seen.contains(path))
                continue;
            seen << path;
            QLibrary library(path);
            if (!library.load()) {
                LogDebug(QStringLiteral("Laser source plug-in skipped: ") + library.errorString());
                continue;
            }
            const QString model = laserModelName(resolve<LaserGetModelFn>(library, "GetLaserModel"));
            library.unload();
            if (model.isEmpty()) {
                LogDebug(QStringLiteral("Laser source plug-in without model name skipped: ") + path);
                continue;
            }
            m_sourceNames << model;
            LaserPackageNames << path;
        }
    }
    m_selected = kPulseTriggeredEntry;
}

int TLaserSource::indexOf(const QString& name) const
{
    const int i = m_sourceNames.indexOf(name);
    return i < 0 ? 0 : i;
}

void TLaserSource::clearEntryPoints()
{
    ShowPanel = nullptr;
    GetLaserModel = nullptr;
    OpenLaser = CloseLaser = StartUpLaser = ShutDownLaser = nullptr;
    LaserState = nullptr;
    SetLaserFrequency = nullptr;
    GetLaserFrequency = nullptr;
    SetLaserCurrent = SetLaserPower = nullptr;
    GetLaserCurrent = GetLaserPower = nullptr;
    LaserEmissionOn = LaserEmissionOff = nullptr;
    LaserIsEmitting = nullptr;
    LaserReport = nullptr;
    GetMaxPulseRate = nullptr;
}

void TLaserSource::resolveEntryPoints(QLibrary& library)
{
    ShowPanel = resolve<LaserShowPanelFn>(library, "ShowPanel");
    GetLaserModel = resolve<LaserGetModelFn>(library, "GetLaserModel");
    OpenLaser = resolve<LaserVoidFn>(library, "OpenLaser");
    CloseLaser = resolve<LaserVoidFn>(library, "CloseLaser");
    StartUpLaser = resolve<LaserVoidFn>(library, "StartUpLaser");
    ShutDownLaser = resolve<LaserVoidFn>(library, "ShutDownLaser");
    LaserState = resolve<LaserStateFn>(library, "LaserState");
    SetLaserFrequency = resolve<LaserSetFrequencyFn>(library, "SetLaserFrequency");
    GetLaserFrequency = resolve<LaserGetFrequencyFn>(library, "GetLaserFrequency");
    SetLaserCurrent = resolve<LaserSetFloatFn>(library, "SetLaserCurrent");
    GetLaserCurrent = resolve<LaserGetFloatFn>(library, "GetLaserCurrent");
    SetLaserPower = resolve<LaserSetFloatFn>(library, "SetLaserPower");
    GetLaserPower = resolve<LaserGetFloatFn>(library, "GetLaserPower");
    LaserEmissionOn = resolve<LaserVoidFn>(library, "LaserEmissionOn");
    LaserEmissionOff = resolve<LaserVoidFn>(library, "LaserEmissionOff");
    LaserIsEmitting = resolve<LaserIsEmittingFn>(library, "LaserIsEmitting");
    LaserReport = resolve<LaserReportFn>(library, "LaserReport");
    GetMaxPulseRate = resolve<LaserGetMaxPulseRateFn>(library, "GetMaxPulseRate");
}

void TLaserSource::unloadPlugin()
{
    if (!hLaser)
        return;
    if (CloseLaser)
        CloseLaser();
    clearEntryPoints();
    hLaser->unload();
    hLaser.reset();
}

bool TLaserSource::ComboBoxSourceSelect(int index, TSettings& settings)
{
    if (index < 0 || index >= m_sourceNames.size())
        return false;
    const QString picked = m_sourceNames.at(index);
    m_selected = index;
    if (picked != settings.LaserName) {
        settings.LaserName = picked;
        unloadPlugin();
        if (index >= kFirstPluginEntry) {
            auto library = std::make_unique<QLibrary>(LaserPackageNames.value(index));
            if (library->load()) {
                hLaser = std::move(library);
                resolveEntryPoints(*hLaser);
                const QString model = laserModelName(GetLaserModel);
                m_view.caption = GetLaserModel ? model : kUnknownModel;
                m_view.showButtonEnabled = true;
                if (OpenLaser)
                    OpenLaser();
                m_view.maxPulseFrequencyVisible = false;
                const bool pulsed = GetMaxPulseRate != nullptr;
                m_view.pulseCounterVisible = pulsed;
                m_view.pulseTrainVisible = pulsed;
                m_view.timedPulseVisible = !pulsed;
                FDoesPulseTrain = pulsed;
                if (pulsed) {
                    const int rate = GetMaxPulseRate();
                    // A source that reports no sensible rate keeps the configured one rather
                    // than turning every pulse-rate check into a division by zero.
                    if (rate > 0)
                        settings.MaxReprate = rate;
                    else
                        LogDebug(QStringLiteral("Laser source reported a maximum pulse rate of ")
                                 + QString::number(rate) + QStringLiteral(", kept ")
                                 + QString::number(settings.MaxReprate));
                }
            } else {
                LogDebug(QStringLiteral("Laser source plug-in could not be loaded: ") + library->errorString());
                m_view.caption.clear();
                m_view.showButtonEnabled = false;
            }
        } else {
            m_view.caption.clear();
            m_view.showButtonEnabled = false;
            const bool pulsed = index == kPulseTriggeredEntry;
            m_view.maxPulseFrequencyVisible = pulsed;
            m_view.pulseCounterVisible = pulsed;
            m_view.pulseTrainVisible = pulsed;
            m_view.timedPulseVisible = !pulsed;
            FDoesPulseTrain = pulsed;
        }
    }
    updateView();
    return true;
}

void TLaserSource::updateView()
{
    LaserSourceView& v = m_view;
    v.currentReadBackVisible = GetLaserCurrent != nullptr;
    v.currentCommandVisible = SetLaserCurrent != nullptr;
    v.currentVisible = v.currentReadBackVisible || v.currentCommandVisible;
    v.powerReadBackVisible = GetLaserPower != nullptr;
    v.powerCommandVisible = SetLaserPower != nullptr;
    v.powerVisible = v.powerReadBackVisible || v.powerCommandVisible;
    v.frequencyReadBackVisible = GetLaserFrequency != nullptr;
    v.frequencyCommandVisible = SetLaserFrequency != nullptr;
    v.frequencyVisible = v.frequencyReadBackVisible || v.frequencyCommandVisible;
    v.reportVisible = LaserReport != nullptr;
    v.groupVisible = v.currentVisible || v.powerVisible || v.frequencyVisible || v.reportVisible
        || v.pulseCounterVisible;
}

void TLaserSource::EmissionOn()
{
    if (LaserEmissionOn)
        LaserEmissionOn();
}

void TLaserSource::EmissionOff()
{
    if (LaserEmissionOff)
        LaserEmissionOff();
}

void TLaserSource::setFrequency(int hertz)
{
    if (SetLaserFrequency)
        SetLaserFrequency(hertz);
}

void TLaserSource::setCurrent(double amperes)
{
    if (SetLaserCurrent)
        SetLaserCurrent(amperes);
}

void TLaserSource::setPower(double percent)
{
    if (SetLaserPower)
        SetLaserPower(percent);
}

std::optional<int> TLaserSource::frequency() const
{
    if (!GetLaserFrequency)
        return std::nullopt;
    return GetLaserFrequency();
}

std::optional<double> TLaserSource::current() const
{
    if (!GetLaserCurrent)
        return std::nullopt;
    return GetLaserCurrent();
}

std::optional<double> TLaserSource::power() const
{
    if (!GetLaserPower)
        return std::nullopt;
    return GetLaserPower();
}

std::optional<QString> TLaserSource::report() const
{
    if (!LaserReport)
        return std::nullopt;
    std::vector<char> buffer(kLaserReportBytes, '\0');
    LaserReport(buffer.data());
    buffer.back() = '\0';
    return cleanText(buffer.data(), kLaserReportBytes - 1, true);
}

void TLaserSource::showPanel(bool service)
{
    if (ShowPanel)
        ShowPanel(service);
}

} // namespace lapido
