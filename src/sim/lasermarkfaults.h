// Faults of the laser's marks on the simulated stone: pulses that leave no mark, a glyph left
// out, and the table drifting while the label is marked.
#pragma once

#include "sim/dmcsimulator.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace lapido {

// Pulses are counted from the moment the faults are armed, so that a plan of the run (the
// marks it will make, in firing order) can name the pulses of one glyph by their numbers.
struct LaserMarkFaults {
    // Share of pulses, 0 to 1, that leave no mark (a flash lamp or a shutter failing now and then).
    double misfireRate = 0;
    std::uint32_t misfireSeed = 1;
    // Pulses [first, first + count) of the run leave no mark.
    struct Range {
        std::size_t first = 0, count = 0;
        bool operator==(const Range&) const = default;
    };
    std::vector<Range> skipped;
    // The table creeps in X: the mark of pulse i lands driftUm * i / (driftOverPulses - 1) µm
    // to the right of where it was aimed (the whole drift from the last of them on).
    double driftUm = 0;
    std::size_t driftOverPulses = 0;

    bool any() const { return misfireRate > 0 || !skipped.empty() || driftUm != 0; }
    bool operator==(const LaserMarkFaults&) const = default;
};

// Applies the faults pulse by pulse, in firing order.
class LaserMarkFaultModel {
public:
    LaserMarkFaultModel() = default;
    explicit LaserMarkFaultModel(LaserMarkFaults faults) : m_faults(std::move(faults)) {}
    // Moves the mark where the drifted table puts it; false when the pulse leaves no mark.
    bool admit(LaserMark& mark);
    // Every mark of a list through the faults, as if fired in that order.
    std::vector<LaserMark> apply(std::span<const LaserMark> marks);
    const LaserMarkFaults& faults() const { return m_faults; }
    std::size_t pulses() const { return m_pulse; }

private:
    LaserMarkFaults m_faults;
    std::size_t m_pulse = 0;
};

} // namespace lapido
