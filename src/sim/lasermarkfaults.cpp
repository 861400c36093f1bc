// The fault model of the simulated laser's marks.
#include "sim/lasermarkfaults.h"

#include <algorithm>

namespace lapido {

namespace {

// A repeatable value in [0, 1) for one pulse, so that a run with the same seed misfires on the
// same pulses.
double pulseDraw(std::size_t pulse, std::uint32_t seed)
{
    std::uint64_t h = std::uint64_t(pulse) * 0x9E3779B97F4A7C15ull ^ (std::uint64_t(seed) << 32 | seed);
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
    h *= 0x94D049BB133111EBull;
    h ^= h >> 32;
    return double(h >> 11) / double(1ull << 53);
}

} // namespace

bool LaserMarkFaultModel::admit(LaserMark& mark)
{
    const std::size_t pulse = m_pulse++;
    for (const LaserMarkFaults::Range& r : m_faults.skipped)
        if (pulse >= r.first && pulse - r.first < r.count)
            return false;
    if (m_faults.misfireRate > 0 && pulseDraw(pulse, m_faults.misfireSeed) < m_faults.misfireRate)
        return false;
    if (m_faults.driftUm != 0) {
        const double share = m_faults.driftOverPulses > 1
                                 ? std::min(1.0, double(pulse) / double(m_faults.driftOverPulses - 1))
                                 : 1.0;
        mark.xMm += m_faults.driftUm * 0.001 * share;
    }
    return true;
}

std::vector<LaserMark> LaserMarkFaultModel::apply(std::span<const LaserMark> marks)
{
    std::vector<LaserMark> kept;
    kept.reserve(marks.size());
    for (LaserMark m : marks)
        if (admit(m))
            kept.push_back(m);
    return kept;
}

} // namespace lapido
