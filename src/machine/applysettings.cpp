// ApplyMotionSettings and ApplyLaserSettings: the settings record into the machine.
#include "machine/applysettings.h"

#include "machine/laser.h"
#include "machine/lasersource.h"
#include "platform/debuglog.h"
#include "platform/numfmt.h"
#include "settings/settingsrecord.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace lapido {

std::optional<QString> ApplyMotionSettings(const TSettings& s, TLaser& laser)
{
    // Checked as the machine checks them before it sends them, so a refused record leaves the
    // machine as it was.
    if (auto error = motionValuesError({
            .xyCountsPerMm = double(s.XY_CountsPerMM),
            .zCountsPerMm = double(s.Z_CountsPerMM),
            .xSpeed = s.X_Speed, .xAccel = s.X_Accel, .xDecel = s.X_Decel,
            .ySpeed = s.Y_Speed, .yAccel = s.Y_Accel, .yDecel = s.Y_Decel,
            .zSpeed = s.Z_Speed, .zAccel = s.Z_Accel, .zDecel = s.Z_Decel,
            .vectorHiSpeed = s.MarkingSpeed,
            .vectorPhotoSpeed = s.PhotoSpeed,
            .vectorAccel = s.LinearAccel,
            .vectorDecel = s.LinearDecel,
            .pulseDistance = s.PulseDistance,
        })) {
        const QString message = QStringLiteral("Motion settings refused: ") + *error;
        LogDebug(message);
        return message;
    }
    laser.XY_CountsPerMM = s.XY_CountsPerMM;
    laser.X_Reversed = s.X_Reversed;
    laser.X_Speed = s.X_Speed;
    laser.X_Accel = s.X_Accel;
    laser.X_Decel = s.X_Decel;
    laser.X_RefPos = s.X_RefPos;
    laser.X_MinPos = s.X_MinPos;
    laser.X_MaxPos = s.X_MaxPos;
    laser.X_Current = s.X_Current;
    laser.Y_Reversed = s.Y_Reversed;
    laser.Y_Speed = s.Y_Speed;
    laser.Y_Accel = s.Y_Accel;
    laser.Y_Decel = s.Y_Decel;
    laser.Y_RefPos = s.Y_RefPos;
    laser.Y_MinPos = s.Y_MinPos;
    laser.Y_MaxPos = s.Y_MaxPos;
    laser.Y_Current = s.Y_Current;
    laser.Z_CountsPerMM = s.Z_CountsPerMM;
    laser.Z_Reversed = s.Z_Reversed;
    laser.Z_Speed = s.Z_Speed;
    laser.Z_Accel = s.Z_Accel;
    laser.Z_Decel = s.Z_Decel;
    laser.Z_RefPos = s.Z_RefPos;
    laser.Z_MinPos = s.Z_MinPos;
    laser.Z_MaxPos = s.Z_MaxPos;
    laser.Z_Current = s.Z_Current;
    laser.A_CountsPerDeg = s.A_CountsPerDeg;
    laser.A_Reversed = s.A_Reversed;
    laser.A_Speed = s.A_Speed;
    laser.A_Accel = s.A_Accel;
    laser.A_Decel = s.A_Decel;
    laser.A_RefPos = s.A_RefPos;
    laser.A_Current = s.A_Current;
    laser.VectorHiSpeed = s.MarkingSpeed;
    laser.VectorPhotoSpeed = s.PhotoSpeed;
    laser.VectorLoSpeed = s.CornerSpeed;
    laser.VectorAccel = s.LinearAccel;
    laser.VectorDecel = s.LinearDecel;
    laser.PulseDistance = s.PulseDistance;
    laser.InvertLimits = s.InvertLimits;
    laser.InvertHoming = s.InvertHoming;
    laser.InvertTrigger = s.InvertTrigger;
    laser.InvertGate = s.InvertGate;
    laser.InvertShutter = s.InvertShutter;
    laser.InvertSystem = s.InvertSystem;
    laser.EnableOnDelay = s.EnableOnDelay;
    laser.EnableOffDelay = s.EnableOffDelay;
    laser.SystemOnDelay = s.SystemOnDelay;
    if (laser.HardwareFound && !laser.SetMotionParams())
        return laser.lastError();
    return std::nullopt;
}

std::vector<RefusedSetting> RefusedMachineSettings(const TSettings& s)
{
    std::vector<RefusedSetting> out;
    constexpr double kMaxCounts = std::numeric_limits<std::int32_t>::max();
    const double xy = s.XY_CountsPerMM, z = s.Z_CountsPerMM, a = s.A_CountsPerDeg;
    auto number = [](double v) { return FloatToStr(v, QChar('.')); };

    // Rates: above 0, and in counts within the controller's fields.
    struct Rate {
        const char* key;
        double value;
        double countsPerUnit;
    };
    const Rate rates[] = {
        {"X_Speed", s.X_Speed, xy}, {"X_Accel", s.X_Accel, xy}, {"X_Decel", s.X_Decel, xy},
        {"Y_Speed", s.Y_Speed, xy}, {"Y_Accel", s.Y_Accel, xy}, {"Y_Decel", s.Y_Decel, xy},
        {"Z_Speed", s.Z_Speed, z},  {"Z_Accel", s.Z_Accel, z},  {"Z_Decel", s.Z_Decel, z},
        {"A_Speed", s.A_Speed, a},  {"A_Accel", s.A_Accel, a},  {"A_Decel", s.A_Decel, a},
        {"MarkingSpeed", s.MarkingSpeed, xy}, {"PhotoSpeed", s.PhotoSpeed, xy},
        {"CornerSpeed", s.CornerSpeed, xy},   {"LinearAccel", s.LinearAccel, xy},
        {"LinearDecel", s.LinearDecel, xy},   {"RadialAccel", s.RadialAccel, xy},
        {"PulseDistance", s.PulseDistance, 0},
    };
    for (const Rate& r : rates) {
        const QString key = QString::fromLatin1(r.key);
        if (!(r.value > 0) || !std::isfinite(r.value))
            out.push_back({key, QStringLiteral("must be greater than 0")});
        else if (r.countsPerUnit > 0 && r.value * r.countsPerUnit > kMaxCounts)
            out.push_back({key, QStringLiteral("%1 makes %2 counts, more than the controller takes (%3)")
                                    .arg(number(r.value), number(std::round(r.value * r.countsPerUnit)),
                                         number(kMaxCounts))});
    }

    // Positions: in counts within the controller's fields.
    struct Position {
        const char* key;
        double value;
        double countsPerUnit;
    };
    const Position positions[] = {
        {"X_RefPos", s.X_RefPos, xy}, {"Y_RefPos", s.Y_RefPos, xy}, {"Z_RefPos", s.Z_RefPos, z},
        {"A_RefPos", s.A_RefPos, a},  {"X_MinPos", s.X_MinPos, xy}, {"Y_MinPos", s.Y_MinPos, xy},
        {"Z_MinPos", s.Z_MinPos, z},  {"X_MaxPos", s.X_MaxPos, xy}, {"Y_MaxPos", s.Y_MaxPos, xy},
        {"Z_MaxPos", s.Z_MaxPos, z},
        {"StartUp_X", s.StartUp_X, xy}, {"StartUp_Y", s.StartUp_Y, xy}, {"StartUp_Z", s.StartUp_Z, z},
        {"StartUp_A", s.StartUp_A, a},  {"Goto1_X", s.Goto1_X, xy},     {"Goto1_Y", s.Goto1_Y, xy},
        {"Goto1_Z", s.Goto1_Z, z},      {"Goto1_A", s.Goto1_A, a},      {"Goto2_X", s.Goto2_X, xy},
        {"Goto2_Y", s.Goto2_Y, xy},     {"Goto2_Z", s.Goto2_Z, z},      {"Goto2_A", s.Goto2_A, a},
        {"Goto3_X", s.Goto3_X, xy},     {"Goto3_Y", s.Goto3_Y, xy},     {"Goto3_Z", s.Goto3_Z, z},
        {"Goto3_A", s.Goto3_A, a},
    };
    for (const Position& p : positions) {
        if (!std::isfinite(p.value) || std::fabs(p.value * p.countsPerUnit) > kMaxCounts)
            out.push_back({QString::fromLatin1(p.key),
                           QStringLiteral("%1 makes %2 counts, more than the controller takes (%3)")
                               .arg(number(p.value), number(std::round(p.value * p.countsPerUnit)),
                                    number(kMaxCounts))});
    }

    // The laser source.
    if (s.LaserFrequency <= 0)
        out.push_back({QStringLiteral("LaserFrequency"), QStringLiteral("must be greater than 0")});
    else if (s.MaxReprate > 0 && s.LaserFrequency > s.MaxReprate)
        out.push_back({QStringLiteral("LaserFrequency"),
                       QStringLiteral("%1 Hz is more than the laser's highest pulse rate (%2 Hz)")
                           .arg(s.LaserFrequency)
                           .arg(s.MaxReprate)});
    if (!(s.LaserCurrent > 0) || !std::isfinite(s.LaserCurrent))
        out.push_back({QStringLiteral("LaserCurrent"), QStringLiteral("must be greater than 0")});
    if (!(s.LaserPower > 0) || !(s.LaserPower <= 100))
        out.push_back({QStringLiteral("LaserPower"), QStringLiteral("must lie above 0 and at most 100 %")});
    return out;
}

void SelectStoredLaserSource(TLaserSource& source, TSettings& settings)
{
    const int index = source.indexOf(settings.LaserName);
    settings.LaserName.clear();
    source.ComboBoxSourceSelect(index, settings);
}

void ApplyLaserSettings(TLaserSource& source, TSettings& settings)
{
    source.ComboBoxSourceSelect(source.indexOf(settings.LaserName), settings);
    source.setFrequency(settings.LaserFrequency);
    source.setCurrent(settings.LaserCurrent);
    source.setPower(settings.LaserPower);
}

} // namespace lapido
