// ApplyMotionSettings and ApplyLaserSettings: the settings record into the machine.
#include "machine/applysettings.h"

#include "machine/laser.h"
#include "machine/lasersource.h"
#include "platform/debuglog.h"
#include "settings/settingsrecord.h"

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
