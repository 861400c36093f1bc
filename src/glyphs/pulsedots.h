// Dots marked one pulse each, the way every glyph made of dots (photos, 2D codes) marks them.
#pragma once

#include "geometry/xytransform.h"

#include <string>
#include <vector>

namespace lapido {

class TLaser;

// One row of dots in the coordinated pulse mode: from a run-up point to the first dot, a pulse
// at each dot in the order given, then on to a run-out point, so that every dot is fired at
// speed. Machine coordinates. False when the run stopped (abort, guard stop, a faulted
// sequence): the caller marks no further row.
bool markPulseRow(TLaser& laser, const TCoord& runUp, const std::vector<TCoord>& dots, const TCoord& runOut);

// The command of one timed gate pulse, for a source without a pulse train of its own: the gate
// held open for the settings' timed pulse width, written for the gate's polarity, then the next
// position increment started.
std::string timedGatePulseCommand(const TLaser& laser);

// Moves to a dot and fires one timed gate pulse there. False when the run stopped: after a
// guard stop or an abort not one more pulse goes.
bool fireTimedPulseAt(TLaser& laser, const TCoord& dot, const std::string& command);

} // namespace lapido
