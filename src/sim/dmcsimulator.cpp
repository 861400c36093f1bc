// DmcSimulator: command interpreter, motion model and laser record (first slice: replies only).
#include "sim/dmcsimulator.h"

#include "platform/clock.h"

namespace lapido {

class DmcSimulatorState {
public:
    DmcModel model;
    DmcWiring wiring;
};

DmcSimulator::DmcSimulator(Clock* clock, DmcModel model)
    : m_clock(clock), m_state(std::make_unique<DmcSimulatorState>())
{
    m_state->model = model;
}

DmcSimulator::~DmcSimulator() = default;

Clock& DmcSimulator::clock() const
{
    return m_clock ? *m_clock : systemClock();
}

std::optional<std::string> DmcSimulator::execute(std::string_view)
{
    return std::string("?");
}

std::string DmcSimulator::revision() const
{
    return "DMC4040 Rev sim";
}

bool DmcSimulator::linkLost() const
{
    return false;
}

namespace {
std::mutex g_currentMutex;
std::shared_ptr<DmcSimulator> g_current;
} // namespace

std::shared_ptr<DmcSimulator> currentDmcSimulator()
{
    std::lock_guard lock(g_currentMutex);
    if (!g_current)
        g_current = std::make_shared<DmcSimulator>();
    return g_current;
}

void setCurrentDmcSimulator(std::shared_ptr<DmcSimulator> simulator)
{
    std::lock_guard lock(g_currentMutex);
    g_current = std::move(simulator);
}

ScopedDmcSimulator::ScopedDmcSimulator(Clock* clock, DmcModel model)
    : m_sim(std::make_shared<DmcSimulator>(clock, model))
{
    std::lock_guard lock(g_currentMutex);
    m_previous = g_current;
    g_current = m_sim;
}

ScopedDmcSimulator::~ScopedDmcSimulator()
{
    std::lock_guard lock(g_currentMutex);
    g_current = m_previous;
}

} // namespace lapido
