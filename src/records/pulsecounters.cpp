// Shot counters and the laser-unit registers.
#include "records/pulsecounters.h"

#include "platform/clock.h"
#include "platform/debuglog.h"
#include "platform/inifile.h"
#include "platform/numfmt.h"
#include "platform/operatordialogs.h"
#include "platform/settingsstore.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"

#include <QDir>

#include <array>

namespace lapido {

namespace {
std::unique_ptr<PulseCountTracker>& trackerSlot()
{
    static std::unique_ptr<PulseCountTracker> instance;
    return instance;
}
std::unique_ptr<TPulseCounters>& countersSlot()
{
    static std::unique_ptr<TPulseCounters> instance;
    return instance;
}
} // namespace

// ---------------------------------------------------------------- shot counters

PulseCountTracker::PulseCountTracker(TSettings& record) : m_record(record) {}

PulseCountTracker::PulseCountTracker() : PulseCountTracker(Settings()) {}

PulseCountTracker& PulseCountTracker::GetInstance()
{
    auto& slot = trackerSlot();
    if (!slot)
        slot = std::make_unique<PulseCountTracker>();
    return *slot;
}

void PulseCountTracker::ResetInstance()
{
    trackerSlot().reset();
}

void PulseCountTracker::UpdatePulseCount(std::int64_t Count)
{
    if (Count < LastCount)
        LastCount = 0;
    if (Count > 0) {
        const std::int64_t added = Count - LastCount;
        if (added != 0) {
            m_record.TotalPulseCount += added;
            m_record.PulseCount += added;
            m_dirty = true;
        }
        LastCount = Count;
    }
    saveIfDue();
}

void PulseCountTracker::saveIfDue()
{
    if (!m_dirty)
        return;
    const std::int64_t now = systemClock().nowUs();
    if (m_everSaved && now - m_lastSaveUs < kSaveIntervalUs)
        return;
    SavePulseCounters();
}

bool PulseCountTracker::SavePulseCounters()
{
    if (!m_dirty)
        return true;
    const auto entry = [](const keys::TextKey& key, std::int64_t value) {
        return SettingsEntry{QString::fromLatin1(key.section), QString::fromLatin1(key.name), QString::number(value)};
    };
    try {
        // Both counters in one transaction: a crash never leaves one ahead of the other.
        AppRegistry().setValues({entry(keys::TotalPulseCount, m_record.TotalPulseCount),
                                 entry(keys::PulseCount, m_record.PulseCount)});
    } catch (const SettingsStoreError& e) {
        const QString reason = QString::fromUtf8(e.what());
        LogDebug(QStringLiteral("Pulse counters not saved: ") + reason);
        // The shots are the laser's service record: the operator learns once that they are
        // not being kept, not at every save while the store stays unwritable.
        if (!m_failureShown) {
            m_failureShown = true;
            operatorDialogs().notice(QStringLiteral("Shot counters"),
                                     QStringLiteral("The laser's shot counters could not be saved: %1\n"
                                                    "They are saved again with the next shots.")
                                         .arg(reason));
        }
        return false;
    }
    m_failureShown = false;
    m_dirty = false;
    m_everSaved = true;
    m_lastSaveUs = systemClock().nowUs();
    return true;
}

bool PulseCountTracker::ResetPulseCount()
{
    const DialogResult answer = operatorDialogs().confirmation(
        QStringLiteral("Are you sure to reset the counter?"), {{DialogResult::Yes, {}, true}, {DialogResult::No, {}, false}});
    if (answer != DialogResult::Yes)
        return false;
    m_record.PulseCount = 0;
    m_dirty = true;
    SavePulseCounters();
    return true;
}

QString PulseCountTracker::totalPulseCountText() const
{
    return userLocale().toString(static_cast<qlonglong>(m_record.TotalPulseCount));
}

QString PulseCountTracker::pulseCountText() const
{
    return userLocale().toString(static_cast<qlonglong>(m_record.PulseCount));
}

// ---------------------------------------------------------------- registers

QString installationDateText(const QDateTime& when)
{
    const QLocale loc = userLocale();
    if (when.time() == QTime(0, 0))
        return loc.toString(when.date(), QLocale::ShortFormat);
    return FormatShortDateLongTime(when);
}

TPulseCounters::TPulseCounters(const QString& folder) : m_folder(folder.isEmpty() ? configFolder() : folder) {}

TPulseCounters& TPulseCounters::GetInstance()
{
    auto& slot = countersSlot();
    if (!slot)
        slot = std::make_unique<TPulseCounters>();
    return *slot;
}

void TPulseCounters::ResetInstance()
{
    countersSlot().reset();
}

QString TPulseCounters::filePath(const QString& fileName) const
{
    return QDir(m_folder).filePath(fileName);
}

bool TPulseCounters::AppendLaserUnitPulses(const QString& partNumber, std::int64_t pulses, const QDateTime& installed)
{
    m_lastError.clear();
    const QString name = partNumber.trimmed();
    // A bracket or line break would end the section header and corrupt the register.
    if (name.isEmpty() || name.contains(QChar('[')) || name.contains(QChar(']')) || name.contains(QChar('\n'))
        || name.contains(QChar('\r')) || name.startsWith(QChar(';'))) {
        m_lastError = QStringLiteral("\"%1\" cannot be used as a part number.").arg(partNumber);
        return false;
    }
    const QString path = filePath(QString::fromLatin1(kLaserPulsesFile));
    IniFile ini;
    if (!ini.loadFromFile(path)) {
        m_lastError = QStringLiteral("Cannot read \"%1\": %2").arg(path, ini.errorString());
        return false;
    }
    if (ini.SectionExists(name))
        return true;
    ini.WriteString(name, QStringLiteral("InstallationDate"), installationDateText(installed));
    ini.WriteInteger(name, QStringLiteral("NumberOfPulses"), pulses);
    QDir().mkpath(m_folder);
    if (!ini.saveToFile(path)) {
        m_lastError = QStringLiteral("Cannot write \"%1\": %2").arg(path, ini.errorString());
        return false;
    }
    return true;
}

QString TPulseCounters::ReadFullFile(const QString& path)
{
    const IniFile ini(path);
    QString text;
    for (const QString& section : ini.ReadSections()) {
        text += section + QChar(' ');
        for (const QString& key : ini.ReadSection(section))
            text += key + QChar('=') + ini.ReadString(section, key, QString()) + QChar(' ');
        text += QStringLiteral("\r\n");
    }
    return text;
}

QString TPulseCounters::GetLaserPulseData() const
{
    return ReadFullFile(filePath(QString::fromLatin1(kLaserPulsesFile)));
}

QString TPulseCounters::GetThyratronExchangeData() const
{
    return ReadFullFile(filePath(QString::fromLatin1(kThyratronExchangeFile)));
}

QString TPulseCounters::GetOpticExchangeData() const
{
    return ReadFullFile(filePath(QString::fromLatin1(kOpticExchangeFile)));
}

QString TPulseCounters::GetOpticCleaningData() const
{
    return ReadFullFile(filePath(QString::fromLatin1(kOpticCleaningFile)));
}

} // namespace lapido
