// Helpers shared by the geometry tests.
#pragma once

#include "settings/settingsrecord.h"

#include <numbers>

namespace lapido::test {

// Sets the spline and arc tolerance for one test and restores it afterwards.
class ScopedContourResolution {
public:
    explicit ScopedContourResolution(double degrees) : m_saved(Settings().ContourResolution)
    {
        Settings().ContourResolution = degrees * std::numbers::pi / 180;
    }
    ~ScopedContourResolution() { Settings().ContourResolution = m_saved; }
    ScopedContourResolution(const ScopedContourResolution&) = delete;
    ScopedContourResolution& operator=(const ScopedContourResolution&) = delete;

private:
    double m_saved;
};

} // namespace lapido::test
