// Linked (as the object library lapido_sim_link) into the test and benchmark programs that
// drive the station on the simulated machine: the controller address "sim" then reaches the
// in-process simulator before main() runs, as it does in the programs, which register it
// themselves.
#include "sim/dmcsimtransport.h"

namespace {

[[maybe_unused]] const bool g_simulatorRegistered = [] {
    lapido::registerSimulatedController();
    return true;
}();

} // namespace
