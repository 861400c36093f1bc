#include "glyphs/pulsedots.h"

#include "machine/laser.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"

namespace lapido {

bool markPulseRow(TLaser& laser, const TCoord& runUp, const std::vector<TCoord>& dots, const TCoord& runOut)
{
    if (!laser.WaitOnMotionComplete())
        return false;
    laser.MoveTo(runUp.X, runUp.Y);
    laser.StartLIXY_Pulse_Mode();
    bool aborted = false;
    for (const TCoord& p : dots) {
        if (MarkingAborted()) {
            laser.StopLIXYMode();
            aborted = true;
            break;
        }
        laser.AddLIXY_Pulse(p.X, p.Y, false);
    }
    // After a stop the run-out is not queued: queuing it could begin the stopped sequence and
    // open the gate again.
    if (!aborted)
        laser.AddLIXY_Pulse(runOut.X, runOut.Y, true);
    laser.FinishLIXYMode();
    return !(MarkingAborted() || laser.sequenceFaulted());
}

std::string timedGatePulseCommand(const TLaser& laser)
{
    const std::string width = std::to_string(Settings().TimedPulseWidth);
    return laser.InvertGate ? "CB1;WT" + width + ";SB1;IP ,,,1" : "SB1;WT" + width + ";CB1;IP ,,,1";
}

bool fireTimedPulseAt(TLaser& laser, const TCoord& dot, const std::string& command)
{
    laser.MoveTo(dot.X, dot.Y);
    // The timed gate pulse is sent as it is, past OpenGate.
    if (!laser.WaitOnMotionComplete())
        return false;
    laser.DMCCmd(command);
    return !MarkingAborted();
}

} // namespace lapido
