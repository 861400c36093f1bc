// The settings record every part reads, and its load from and save to the store.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace lapido {

class SettingsStore;

// One field per key of the settings window's pages; floats are doubles, integers 32-bit,
// counters 64-bit. ContourResolution is held in radians; the WheelTick1 X/Y/A steps are derived.
struct TSettings {
    // MouseWheel (µm, A in 1/1000 degree)
    double WheelTick1_X = 0, WheelTick1_Y = 0, WheelTick1_Z = 10, WheelTick1_A = 0;
    double WheelTick2_X = 40, WheelTick2_Y = 40, WheelTick2_Z = 40, WheelTick2_A = 40;
    double WheelTick3_X = 300, WheelTick3_Y = 300, WheelTick3_Z = 300, WheelTick3_A = 300;
    int WheelBuffer = 20;

    // Colors (0x00BBGGRR)
    std::uint32_t CrossHair = 255, Girdle = 16711935, Grid = 32896, Outline = 65535;
    std::uint32_t Selected = 16776960, Processed = 4227327, SelectedProcessed = 16744448;

    // Video
    int CrossHairX = 384, CrossHairY = 288, VideoScale = 300, VideoAspect = 100, VideoRefresh = 40;

    // Motion
    int XY_CountsPerMM = 10000, Z_CountsPerMM = 10000, A_CountsPerDeg = 50000;
    bool X_Reversed = false, Y_Reversed = false, Z_Reversed = false, A_Reversed = false;
    double X_Speed = 10, Y_Speed = 10, Z_Speed = 10, A_Speed = 10;
    double X_Accel = 5, Y_Accel = 5, Z_Accel = 5, A_Accel = 5;
    double X_Decel = 5, Y_Decel = 5, Z_Decel = 5, A_Decel = 5;
    double X_RefPos = 0, Y_RefPos = 0, Z_RefPos = 0, A_RefPos = 0;
    double X_MinPos = 1, Y_MinPos = 1, Z_MinPos = 1;
    double X_MaxPos = 35, Y_MaxPos = 35, Z_MaxPos = 35;

    // Marking
    double PulseDistance = 0.5, MarkingSpeed = 0.5, CornerSpeed = 0.02;
    double LinearAccel = 5, LinearDecel = 5, RadialAccel = 5;
    double ContourResolution = 0.017453292519943295; // radians: 1 degree until the settings are loaded
    int ContourBuffering = 50;
    double MinSegmentLength = 1, PhotoResolution = 5, PhotoSpeed = 0.1;
    double SpotDiameter = 10; // µm: the laser spot on the stone, what the legibility check keeps apart
    int MaxReprate = 1000;
    bool DeleteLabelAfterF10 = false, DeletePictureAfterF10 = false, DeleteLogoAfterF10 = false;
    bool DeleteSpaceAfterF10 = false, TargetLabelAfterF10 = false, FormatLabelText = false;
    bool DeleteZAZBZCAfterF12 = false, AutoTemplateName = false;
    QString WLabeTextLengthMode = QStringLiteral("-- Disabled --");
    int WLabelTextLength = 10;
    QString WLabelTextType = QStringLiteral("-- Disable --");
    bool WLabelCheckBeforeEngrave = false;

    // Layout
    bool IgnoreGridleheigh = false, IgnoreSlantAngle = false;

    // Positioning
    double StartUp_X = 15, StartUp_Y = 12.5, StartUp_Z = 12.5, StartUp_A = 0;
    double Goto1_X = 15, Goto1_Y = 10, Goto1_Z = 10, Goto1_A = 0;
    double Goto2_X = 15, Goto2_Y = 15, Goto2_Z = 15, Goto2_A = 0;
    double Goto3_X = 15, Goto3_Y = 25, Goto3_Z = 25, Goto3_A = 0;
    // BeforeAndAfterMarking_Z, read once for each direction.
    double BeforeMarking_Z = 12.5, AfterMarking_Z = 12.5;

    // 3DMouse (loaded, never written)
    double XMovementSpeedUp = 1, YMovementSpeedUp = 1, ZMovementSpeedUp = 1;

    // Hardware
    bool UseZaxis = true, UseAaxis = false;
    bool InvertLimits = true, InvertHoming = true, InvertTrigger = true;
    bool InvertGate = false, InvertShutter = false, InvertSystem = false;
    double EnableOnDelay = 0, EnableOffDelay = 0, SystemOnDelay = 0;
    int X_Current = 1, Y_Current = 1, Z_Current = 1, A_Current = 1;
    bool XAxesLowCurrentMode = true, YAxesLowCurrentMode = true, ZAxesLowCurrentMode = true;
    std::int64_t TotalPulseCount = 0, PulseCount = 0;

    // Administration
    QString Password = QStringLiteral("TRIMDOG");
    QString WorkingDir;

    // LaserSource
    int PulseTrainCount = 10, PulseTrainRate = 100, TimedPulseWidth = 50, LaserFrequency = 1000;
    double LaserCurrent = 10, LaserPower = 100;
    QString LaserName = QStringLiteral("Unkown laser model !!!");

    // Backup
    bool Auto_Backup = true;
    QString BackupPath = QStringLiteral("/var/backups/Lapidograph");
    QString Backupdate = QStringLiteral("N/A");
    QString VaultkeepLink = QStringLiteral("/usr/bin/vaultkeep");

    // LabelVeiw
    bool showatstartup = false;

    bool operator==(const TSettings&) const = default;
};

// The process-wide record (owned by the settings window in the station).
TSettings& Settings();

// What the settings window's controls hold, by key name: the text of an edit box or combo,
// the value of a spin box, a colour or a check state as decimal text ("1"/"0").
using ControlTexts = QHash<QString, QString>;

// Fills the record from the store, key by key, then the derived values.
void LoadSettingsFromRegistery(const SettingsStore& store, TSettings& record);
// The same, with a missing key taking what the window's control for it holds (so that a key
// never saved keeps what the operator last typed) instead of the table default. Keys with a
// fixed default (the booleans of Marking, Layout, Backup and Hardware, WheelBuffer, the laser
// command values, LaserName, Password, the counters) and keys without a control ignore it.
void LoadSettingsFromRegistery(const SettingsStore& store, TSettings& record, const ControlTexts& controls);
void LoadSettingsFromRegistery();
// Writes every key of the settings window's pages except those written by their own buttons
// (WorkingDir, BackupPath, Backupdate, VaultkeepLink) and those never written
// (BeforeAndAfterMarking_Z, the 3DMouse keys).
void SaveSettingsToRegistery(SettingsStore& store, const TSettings& record);
void SaveSettingsToRegistery();

// Degrees of the page and radians of the record.
double contourResolutionRadians(int degrees);
int contourResolutionDegrees(double radians);

// The camera view the overlay and the wheel steps derive from the video settings.
struct VideoView {
    int crossHairX = 0, crossHairY = 0; // effective cross hair in paint-area pixels
    int scale = 0;                       // effective pixels per mm along X
    double scaleY = 0;                   // pixels per mm along Y, negative: Y grows upwards
};
// Effective view for a paint area of the given size, zoomed out (half size) or not; also sets
// the one-pixel wheel steps of the record.
VideoView UpdateVideoView(TSettings& record, bool zoomOut, int paintWidth, int paintHeight);

// "Key=value" for every field, in declaration order: floats in the store's text form, the
// radians of ContourResolution in full precision.
QStringList settingsRecordLines(const TSettings& record);

} // namespace lapido
