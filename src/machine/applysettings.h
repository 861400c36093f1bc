// The settings record into the machine object and the laser source.
#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace lapido {

struct TSettings;
class TLaser;
class TLaserSource;

// Copies the motion, marking-speed, polarity and delay values of the record into the
// machine in the settings window's order, then sets the axes up. Refuses a record whose
// counts per mm, speeds or accelerations are not positive before anything is copied or sent;
// the message says which value.
std::optional<QString> ApplyMotionSettings(const TSettings& settings, TLaser& laser);

// A value of the record that the controller or the laser source would refuse, by the key of
// its settings box, with the reason in the operator's words.
struct RefusedSetting {
    QString key;
    QString reason;
    bool operator==(const RefusedSetting&) const = default;
};
// Every motion, position and laser value checked as the controller and the source will take
// it: speeds, accelerations and positions turned into counts must fit the controller's 32-bit
// fields, speeds and accelerations must be above 0, the laser's frequency must not pass its
// highest pulse rate and its power 100 %. Empty when the record may be saved and sent.
std::vector<RefusedSetting> RefusedMachineSettings(const TSettings& settings);

// Start-up selection of the stored source: picks the entry named LaserName (entry 0 when
// none matches) as if newly chosen, so that its plug-in is loaded.
void SelectStoredLaserSource(TLaserSource& source, TSettings& settings);
// Re-selects the stored source (nothing happens when it is already selected) and sends the
// stored frequency, current and power to the plug-in entry points that exist.
void ApplyLaserSettings(TLaserSource& source, TSettings& settings);

} // namespace lapido
