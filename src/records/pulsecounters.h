// Laser shot counters (total and resettable) and the registers of laser units and optics.
#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <memory>

namespace lapido {

struct TSettings;

// Advances the two shot counters of the settings record from the controller's pulse count
// (the W axis position, one step per shot) and keeps them in the store: the first change is
// written at once, later ones at most once per second of clock time, so that a station that
// dies in the middle of a marking loses at most the last second of shots. Call
// SavePulseCounters at the end of every marking and at program end to write the rest.
class PulseCountTracker {
public:
    explicit PulseCountTracker(TSettings& record);
    PulseCountTracker();

    // The tracker of the run (on the global settings record).
    static PulseCountTracker& GetInstance();
    static void ResetInstance();

    // A count below the last one (controller reset) restarts from 0; a count of 0 or less
    // changes nothing; otherwise both counters grow by Count - LastCount.
    void UpdatePulseCount(std::int64_t Count);
    // Writes both counters now when they changed since the last write. False when the store
    // refused (the change stays pending).
    bool SavePulseCounters();
    // Asks "Are you sure to reset the counter?"; on Yes the resettable counter becomes 0 and
    // is written at once. True when reset.
    bool ResetPulseCount();

    // The counters as the settings page shows them: the locale's thousands separators.
    QString totalPulseCountText() const;
    QString pulseCountText() const;
    bool hasUnsavedChanges() const { return m_dirty; }

    // The controller count at the previous update (0 when the window is created).
    std::int64_t LastCount = 0;

    static constexpr std::int64_t kSaveIntervalUs = 1'000'000;

private:
    void saveIfDue();

    TSettings& m_record;
    bool m_dirty = false;
    bool m_everSaved = false;
    bool m_failureShown = false; // the operator was told that saving failed
    std::int64_t m_lastSaveUs = 0;
};

// The four registers of installed laser units, thyratron exchanges and optic cleanings and
// exchanges: profile files kept in the station's configuration folder.
class TPulseCounters {
public:
    // Registers in the given folder (the configuration folder when empty).
    explicit TPulseCounters(const QString& folder = {});

    static TPulseCounters& GetInstance();
    static void ResetInstance();

    // Enters a laser unit with its installation time (written as the locale's short date and
    // long time, the time left out at exactly midnight) and pulses. Nothing happens when the
    // part number is already entered. False with lastError() when the part number cannot be
    // a section name or the file cannot be written.
    bool AppendLaserUnitPulses(const QString& partNumber, std::int64_t pulses, const QDateTime& installed);

    QString GetLaserPulseData() const;
    QString GetThyratronExchangeData() const;
    QString GetOpticExchangeData() const;
    QString GetOpticCleaningData() const;

    // Overview of a profile file: per section its name and a blank, then "key=value" and a
    // blank per key, then CR LF. An empty or missing file gives the empty text.
    static QString ReadFullFile(const QString& path);

    QString filePath(const QString& fileName) const;
    const QString& lastError() const { return m_lastError; }

    static constexpr char kLaserPulsesFile[] = "LaserPulses.ini";
    static constexpr char kThyratronExchangeFile[] = "ThyratronExchange.ini";
    static constexpr char kOpticCleaningFile[] = "OpticCleaning.ini";
    static constexpr char kOpticExchangeFile[] = "OpticExchange.ini";

private:
    QString m_folder;
    QString m_lastError;
};

// The installation date text of a laser unit.
QString installationDateText(const QDateTime& when);

} // namespace lapido
