// The settings record into the machine object and the laser source.
#pragma once

#include <QString>

#include <optional>

namespace lapido {

struct TSettings;
class TLaser;
class TLaserSource;

// Copies the motion, marking-speed, polarity and delay values of the record into the
// machine in the settings window's order, then sets the axes up. Refuses a record whose
// counts per mm, speeds or accelerations are not positive before anything is copied or sent;
// the message says which value.
std::optional<QString> ApplyMotionSettings(const TSettings& settings, TLaser& laser);

// Start-up selection of the stored source: picks the entry named LaserName (entry 0 when
// none matches) as if newly chosen, so that its plug-in is loaded.
void SelectStoredLaserSource(TLaserSource& source, TSettings& settings);
// Re-selects the stored source (nothing happens when it is already selected) and sends the
// stored frequency, current and power to the plug-in entry points that exist.
void ApplyLaserSettings(TLaserSource& source, TSettings& settings);

} // namespace lapido
