// The simulated controller wired as the stored settings say the real one is.
#pragma once

#include <memory>

namespace lapido {

class Clock;
class DmcSimulator;
struct TSettings;

// Axis scales, directions and output polarities taken from the settings record, so that the
// marks the simulator records land where the station means them.
std::shared_ptr<DmcSimulator> makeWiredSimulator(Clock* clock, const TSettings& settings);

} // namespace lapido
