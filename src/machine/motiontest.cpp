// The motion test's profile split, distance check and test move.
#include "machine/motiontest.h"

#include "machine/laser.h"
#include "platform/eventpump.h"
#include "platform/numfmt.h"
#include "settings/settingsrecord.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>

namespace lapido {

namespace {

bool positiveFinite(double v) { return std::isfinite(v) && v > 0; }

} // namespace

std::optional<MotionProfile> motionProfile(double speed, double accel, double decel, double distance)
{
    if (!positiveFinite(speed) || !positiveFinite(accel) || !positiveFinite(decel) || !positiveFinite(distance))
        return std::nullopt;
    MotionProfile p;
    double sa = speed * (speed / accel) / 2;
    double sd = speed * (speed / decel) / 2;
    const double sum = sa + sd;
    if (sum > distance) {
        sa = sa * distance / sum;
        sd = sd * distance / sum;
        p.maxSpeedNotReached = true;
    } else {
        p.constDistance = distance - sa - sd;
    }
    p.accelDistance = sa;
    p.decelDistance = sd;
    return p;
}

std::optional<double> parseTestDistance(const QString& text)
{
    // Digits with at most one point: no group separators ("1,000" is not a thousand), no
    // exponent, no sign.
    static const QRegularExpression pointNumber(QStringLiteral("^(\\d+\\.?\\d*|\\.\\d+)$"));
    const QString trimmed = text.trimmed();
    if (!pointNumber.match(trimmed).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = QLocale::c().toDouble(trimmed, &ok);
    if (!ok || !std::isfinite(value) || value < 0.001)
        return std::nullopt;
    return value;
}

AxisMotionValues settingsAxisValues(const TSettings& s, TestAxis axis)
{
    switch (axis) {
    case TestAxis::X: return {s.XY_CountsPerMM, s.X_Speed, s.X_Accel, s.X_Decel};
    case TestAxis::Y: return {s.XY_CountsPerMM, s.Y_Speed, s.Y_Accel, s.Y_Decel};
    case TestAxis::Z: return {s.Z_CountsPerMM, s.Z_Speed, s.Z_Accel, s.Z_Decel};
    case TestAxis::A: return {s.A_CountsPerDeg, s.A_Speed, s.A_Accel, s.A_Decel};
    }
    return {};
}

AxisMotionValues machineAxisValues(const TLaser& l, TestAxis axis)
{
    switch (axis) {
    case TestAxis::X: return {l.XY_CountsPerMM, l.X_Speed, l.X_Accel, l.X_Decel};
    case TestAxis::Y: return {l.XY_CountsPerMM, l.Y_Speed, l.Y_Accel, l.Y_Decel};
    case TestAxis::Z: return {l.Z_CountsPerMM, l.Z_Speed, l.Z_Accel, l.Z_Decel};
    case TestAxis::A: return {l.A_CountsPerDeg, l.A_Speed, l.A_Accel, l.A_Decel};
    }
    return {};
}

void setMachineAxisValues(TLaser& l, TestAxis axis, const AxisMotionValues& v)
{
    switch (axis) {
    case TestAxis::X:
        l.XY_CountsPerMM = v.countsPerUnit;
        l.X_Speed = v.speed, l.X_Accel = v.accel, l.X_Decel = v.decel;
        break;
    case TestAxis::Y:
        l.XY_CountsPerMM = v.countsPerUnit;
        l.Y_Speed = v.speed, l.Y_Accel = v.accel, l.Y_Decel = v.decel;
        break;
    case TestAxis::Z:
        l.Z_CountsPerMM = v.countsPerUnit;
        l.Z_Speed = v.speed, l.Z_Accel = v.accel, l.Z_Decel = v.decel;
        break;
    case TestAxis::A:
        l.A_CountsPerDeg = v.countsPerUnit;
        l.A_Speed = v.speed, l.A_Accel = v.accel, l.A_Decel = v.decel;
        break;
    }
}

namespace {

// Puts the machine's own values back when the test move ends, by any path.
class RestoreAxis {
public:
    RestoreAxis(TLaser& laser, TestAxis axis) : m_laser(laser), m_axis(axis), m_saved(machineAxisValues(laser, axis)) {}
    ~RestoreAxis()
    {
        setMachineAxisValues(m_laser, m_axis, m_saved);
        m_laser.SetMotionParams();
    }
    RestoreAxis(const RestoreAxis&) = delete;
    RestoreAxis& operator=(const RestoreAxis&) = delete;

private:
    TLaser& m_laser;
    TestAxis m_axis;
    AxisMotionValues m_saved;
};

// One increment of the axis and its wait; false when the guard gave up, or (nothing sent)
// when the move would leave the work area.
bool step(TLaser& laser, TestAxis axis, double increment, QString* refusal)
{
    if (axis != TestAxis::A) {
        double x = 0, y = 0, z = 0, w = 0;
        laser.GetPosition(x, y, z, w);
        const double from = axis == TestAxis::X ? x : axis == TestAxis::Y ? y : z;
        const double low = axis == TestAxis::X ? laser.X_MinPos : axis == TestAxis::Y ? laser.Y_MinPos : laser.Z_MinPos;
        const double high = axis == TestAxis::X ? laser.X_MaxPos : axis == TestAxis::Y ? laser.Y_MaxPos : laser.Z_MaxPos;
        const double to = from + increment;
        // A thousandth of a millimetre of slack for positions read back in counts.
        if (!std::isfinite(to) || to < low - 0.001 || to > high + 0.001) {
            if (refusal) {
                const char* name = axis == TestAxis::X ? "X" : axis == TestAxis::Y ? "Y" : "Z";
                *refusal = QStringLiteral("The move of %1 mm would take %2 to %3 mm, outside the work area "
                                          "(%4 to %5 mm): nothing was moved.")
                               .arg(FloatToStr(increment, QChar('.')), QLatin1String(name), FloatToStr(to, QChar('.')),
                                    FloatToStr(low, QChar('.')), FloatToStr(high, QChar('.')));
            }
            return false;
        }
    }
    switch (axis) {
    case TestAxis::X: laser.IncrementX(increment); break;
    case TestAxis::Y: laser.IncrementY(increment); break;
    case TestAxis::Z: laser.IncrementZ(increment); break;
    case TestAxis::A: eventPump().pump(); return true;
    }
    return laser.WaitOnMotionComplete();
}

} // namespace

bool RunTestMove(TLaser& laser, TestAxis axis, TestMove move, double distance,
                 const AxisMotionValues& testValues, const std::function<bool()>& stopRequested, QString* refusal)
{
    RestoreAxis restore(laser, axis);
    setMachineAxisValues(laser, axis, testValues);
    if (!laser.SetMotionParams())
        return false;
    switch (move) {
    case TestMove::Back: return step(laser, axis, -distance, refusal);
    case TestMove::Forward: return step(laser, axis, distance, refusal);
    case TestMove::Loop:
        do {
            if (!step(laser, axis, distance, refusal) || !step(laser, axis, -distance, refusal))
                return false;
        } while (!stopRequested());
        return true;
    }
    return true;
}

} // namespace lapido
