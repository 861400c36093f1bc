// Faults of the motion controller that a marking run must survive, injected into the simulated
// machine once it has made its first mark. The station model's and the window's fault tables
// run the same list.
#pragma once

#include "sim/dmcsimulator.h"

#include <functional>
#include <ostream>
#include <vector>

namespace lapido::test {

struct ControllerFault {
    const char* name;
    std::function<void(DmcSimulator&)> inject;
    bool linkWorks;       // the controller still answers after the fault
    const char* message;  // what the operator is told, in part
};

inline void PrintTo(const ControllerFault& f, std::ostream* os)
{
    *os << f.name;
}

inline std::vector<ControllerFault> controllerFaults()
{
    return {
        {"Silent", [](DmcSimulator& s) { s.setNoReply(true); }, false, "no reply from the controller"},
        {"Garbage", [](DmcSimulator& s) { s.setGarbageReply(true); }, false, "no reply from the controller"},
        {"LinkLostMidGlyph", [](DmcSimulator& s) { s.setLinkLostAfter(3); }, false, "link lost"},
        {"BufferUnderrun", [](DmcSimulator& s) { s.forceBufferUnderrun(); }, true, "nothing progressed"},
        // Labels run along X, so the forward switch trips while the vector sequence moves.
        {"LimitSwitchHit", [](DmcSimulator& s) { s.setLimitSwitch('X', 1); }, true, "limit switch"},
    };
}

} // namespace lapido::test
