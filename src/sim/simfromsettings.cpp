// The simulated controller wired from the settings record.
#include "sim/simfromsettings.h"

#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"

namespace lapido {

std::shared_ptr<DmcSimulator> makeWiredSimulator(Clock* clock, const TSettings& settings)
{
    auto sim = std::make_shared<DmcSimulator>(clock);
    DmcWiring wiring = sim->wiring();
    wiring.xyCountsPerMm = settings.XY_CountsPerMM;
    wiring.zCountsPerMm = settings.Z_CountsPerMM;
    wiring.xReversed = settings.X_Reversed;
    wiring.yReversed = settings.Y_Reversed;
    wiring.zReversed = settings.Z_Reversed;
    wiring.gateActiveHigh = !settings.InvertGate;
    wiring.enableActiveHigh = !settings.InvertShutter;
    wiring.systemActiveHigh = !settings.InvertSystem;
    sim->setWiring(wiring);
    return sim;
}

} // namespace lapido
