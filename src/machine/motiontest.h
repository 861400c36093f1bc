// The motion test's rules without the window: the profile split of a test distance, the
// distance field check and the test move with the machine's own values put back afterwards.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace lapido {

class TLaser;
struct TSettings;

enum class TestAxis { X, Y, Z, A };
enum class TestMove { Back, Forward, Loop };

// How a point-to-point move of one distance splits into its trapezoid phases (mm).
struct MotionProfile {
    double accelDistance = 0;
    double constDistance = 0;
    double decelDistance = 0;
    // The move is too short to reach the speed: the trapezoid became a triangle.
    bool maxSpeedNotReached = false;
    bool operator==(const MotionProfile&) const = default;
};

// sa = v²/2a and sd = v²/2d; when they do not fit into the distance both shrink in the same
// ratio and there is no constant-speed part. nullopt when the speed, an acceleration or the
// distance is not a finite number above 0 (nothing sensible to show).
std::optional<MotionProfile> motionProfile(double speed, double accel, double decel, double distance);

// The distance field: trimmed text of digits with at most one point (no group separators, no
// exponent, no sign), at least 0.001 mm.
std::optional<double> parseTestDistance(const QString& text);

// The values of one axis that the test writes into the machine for the time of a move.
struct AxisMotionValues {
    std::int32_t countsPerUnit = 0;
    double speed = 0;
    double accel = 0;
    double decel = 0;
    bool operator==(const AxisMotionValues&) const = default;
};

AxisMotionValues settingsAxisValues(const TSettings& settings, TestAxis axis);
AxisMotionValues machineAxisValues(const TLaser& laser, TestAxis axis);
void setMachineAxisValues(TLaser& laser, TestAxis axis, const AxisMotionValues& values);

// One test move: the machine's values of the axis are saved, the test values written and
// sent, the move (or the back-and-forth loop, until stopRequested() after a pair) run, and the
// saved values written and sent again whatever happened. The A axis has no increment move,
// so it only waits. False when the test values were refused (nothing moved), a guarded wait
// gave up (a loop then ends too), or a move would leave the work area between the axis's
// minimum and maximum position: that move is not sent and `refusal` says why.
bool RunTestMove(TLaser& laser, TestAxis axis, TestMove move, double distance,
                 const AxisMotionValues& testValues, const std::function<bool()>& stopRequested,
                 QString* refusal = nullptr);

} // namespace lapido
