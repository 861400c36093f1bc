// Names, encodings and defaults of every store key that parts read or write on their own.
#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace lapido {
class SettingsStore;
}

namespace lapido::keys {

// A key with its section, name and default. Readers go through read()/write() below so that
// no section or key name is spelled twice in the station.
struct TextKey {
    const char* section;
    const char* name;
    const char* defaultValue;
};
struct IntKey {
    const char* section;
    const char* name;
    int defaultValue;
};
struct BoolKey {
    const char* section;
    const char* name;
    bool defaultValue;
};

// Section names.
inline constexpr char kMouseWheel[] = "MouseWheel";
inline constexpr char kColors[] = "Colors";
inline constexpr char kVideo[] = "Video";
inline constexpr char kMotion[] = "Motion";
inline constexpr char kMarking[] = "Marking";
inline constexpr char kLayout[] = "Layout";
inline constexpr char kPositioning[] = "Positioning";
inline constexpr char k3DMouse[] = "3DMouse";
inline constexpr char kHardware[] = "Hardware";
inline constexpr char kAdministration[] = "Administration";
inline constexpr char kLaserSource[] = "LaserSource";
inline constexpr char kBackup[] = "Backup";
inline constexpr char kLabelVeiw[] = "LabelVeiw";
inline constexpr char kEcam[] = "Ecam";
inline constexpr char kAxesHandling[] = "AxesHandling";
inline constexpr char kBarCode[] = "BarCode";
inline constexpr char kDiamond[] = "Diamond";
inline constexpr char kPathNames[] = "PathNames";
inline constexpr char kRollDown[] = "RollDown";
inline constexpr char kLoggingDatabase[] = "LoggingDatabase";
inline constexpr char kDatabase[] = "Database";
inline constexpr char kInspection[] = "Inspection";

// Administration
inline constexpr TextKey WorkingDir{kAdministration, "WorkingDir", ""};
// Default: the computer's network name (see machineNumber()).
inline constexpr TextKey MachineNumber{kAdministration, "MachineNumber", ""};

// Video: the simulated camera stands in when no vendor camera library is installed.
inline constexpr BoolKey SimulateCamera{kVideo, "SimulateCamera", false};
// Video: which camera films the stone: "vendor" (the vendor library, as chosen at start),
// "gstreamer" (CameraPipeline), "genicam" (GenICamCamera, empty: the first one) or "sim".
inline constexpr TextKey CameraKind{kVideo, "CameraKind", "vendor"};
inline constexpr TextKey CameraPipeline{kVideo, "CameraPipeline", ""};
inline constexpr TextKey GenICamCamera{kVideo, "GenICamCamera", ""};

// Hardware
inline constexpr TextKey GalilIP{kHardware, "GalilIP", ""};
inline constexpr TextKey ArdlightCOMnb{kHardware, "ArdlightCOMnb", ""};
inline constexpr IntKey Sleep{kHardware, "sleep", 0};
// The laser-enable step re-reads the stored float as whole seconds; a fraction gives 8.
inline constexpr IntKey EnableOnDelaySeconds{kHardware, "EnableOnDelay", 8};
inline constexpr BoolKey XAxesLowCurrentMode{kHardware, "XAxesLowCurrentMode", true};
inline constexpr BoolKey YAxesLowCurrentMode{kHardware, "YAxesLowCurrentMode", true};
inline constexpr BoolKey ZAxesLowCurrentMode{kHardware, "ZAxesLowCurrentMode", true};
// Shot counters (64-bit decimal texts; unparsable reads as 0), also saved with the record.
inline constexpr TextKey TotalPulseCount{kHardware, "TotalPulseCount", "0"};
inline constexpr TextKey PulseCount{kHardware, "PulseCount", "0"};
// Milliseconds a machine wait may see no progress (no motion, no buffer change) before the
// machine is put in its safe state.
inline constexpr IntKey MachineGuardTime{kHardware, "MachineGuardTime", 10000};

// LaserSource
inline constexpr IntKey VA5BlowerStatus{kLaserSource, "VA5BlowerStatus", 0};
inline constexpr TextKey GalilIsBusy{kLaserSource, "GalilIsBusy", ""};

// Positioning, Ecam, AxesHandling (integer texts)
inline constexpr IntKey BeforeAndAfterMarkingSpeedUp{kPositioning, "BeforeAndAfterMarkingSpeedUp", 1};
inline constexpr IntKey SpeedUpMoveToStartPosition{kEcam, "SpeedUpMoveToStartPosition", 1};
inline constexpr IntKey ResetAndFreeEnable{kAxesHandling, "ResetAndFreeEnable", 1};

// BarCode
inline constexpr TextKey ScannedCode{kBarCode, "ScannedCode", ""};

// Diamond: stored as the text of the edit boxes, unconverted.
inline constexpr TextKey DiamondDiameter{kDiamond, "Diameter", "5.0"};
inline constexpr TextKey DiamondGirdle{kDiamond, "Girdle", "0.15"};

// Layout: label defaults, stored as edit-box texts.
inline constexpr TextKey RichLabel{kLayout, "RichLabel", ""};
inline constexpr TextKey RichLabelFont{kLayout, "RichLabelFont", "Arial"};
inline constexpr TextKey TextLabelFont{kLayout, "TextLabelFont", "Arial"};
inline constexpr TextKey SymbolListFont{kLayout, "SymbolListFont", "Arial"};
inline constexpr IntKey RichLabelStyle{kLayout, "RichLabelStyle", 0};
inline constexpr IntKey TextLabelStyle{kLayout, "TextLabelStyle", 0};
inline constexpr IntKey SymbolListStyle{kLayout, "SymbolListStyle", 0};
inline constexpr TextKey RichLabelHeight{kLayout, "RichLabelHeight", "80.0"};
inline constexpr TextKey TextLabelHeight{kLayout, "TextLabelHeight", "80.0"};
inline constexpr TextKey SymbolListHeight{kLayout, "SymbolListHeight", "80.0"};
inline constexpr TextKey LogoHeight{kLayout, "LogoHeight", "80.0"};
inline constexpr TextKey PhotoHeight{kLayout, "PhotoHeight", "80.0"};
inline constexpr TextKey RichLabelOffset{kLayout, "RichLabelOffset", "0.0"};
inline constexpr TextKey TextLabelOffset{kLayout, "TextLabelOffset", "0.0"};
inline constexpr TextKey SymbolListOffset{kLayout, "SymbolListOffset", "0.0"};
inline constexpr TextKey LogoOffset{kLayout, "LogoOffset", "0.0"};
inline constexpr TextKey PhotoOffset{kLayout, "PhotoOffset", "0.0"};
inline constexpr TextKey RichLabelSpacing{kLayout, "RichLabelSpacing", "0.0"};
inline constexpr TextKey TextLabelSpacing{kLayout, "TextLabelSpacing", "0.0"};
inline constexpr TextKey SymbolListSpacing{kLayout, "SymbolListSpacing", "0.0"};
inline constexpr TextKey SpaceWidth{kLayout, "SpaceWidth", "50.0"};
inline constexpr TextKey TextLabel{kLayout, "TextLabel", ""};
// Each character as "$" + four upper-case hex digits of its UTF-16 unit.
inline constexpr TextKey SymbolList{kLayout, "SymbolList", ""};
inline constexpr TextKey LogoName{kLayout, "LogoName", ""};
inline constexpr BoolKey IgnoreGridleheigh{kLayout, "IgnoreGridleheigh", false};
inline constexpr BoolKey IgnoreSlantAngle{kLayout, "IgnoreSlantAngle", false};
// "BindKey1" .. "BindKey9"; "NULL" means no template bound.
inline constexpr char kBindKeyPrefix[] = "BindKey";
inline constexpr char kBindKeyNone[] = "NULL";
QString bindKeyName(int digit);

// PathNames
inline constexpr TextKey PhotoDir{kPathNames, "PhotoDir", ""};

// RollDown: pulse test and grid controls of the main window.
inline constexpr IntKey RollDownPulseTrainCount{kRollDown, "PulseTrainCount", 10};
inline constexpr IntKey RollDownPulseTrainRate{kRollDown, "PulseTrainRate", 100};
inline constexpr TextKey RollDownGrid{kRollDown, "Grid", "0.500"};
inline constexpr BoolKey RollDownShowGrid{kRollDown, "ShowGrid", true};

// LabelVeiw window position (default: the window's current position).
inline constexpr char kXGuiPos[] = "XGuiPos";
inline constexpr char kYGuiPos[] = "YGuiPos";

// Colors: ring-light templates, written with the all-off pattern when missing.
inline constexpr char kAdvLightPrefix[] = "AdvLight";
inline constexpr TextKey AdvLightInspection{kColors, "AdvLightinspection", ""};
inline constexpr TextKey AdvLightHolderFree{kColors, "AdvLightholderfree", ""};
// "0#0#0#0#@1#0#0#0#@...15#0#0#0#@"
QString allOffLightTemplate();

// LoggingDatabase (maintenance action log). The file log folder defaults to the system's
// temporary folder here, where the original station used a drive path.
inline constexpr TextKey LogFileEnabled{kLoggingDatabase, "logfileenabled", "0"};
inline constexpr TextKey LogFileBaseDir{kLoggingDatabase, "logfilebasedir", "/tmp/"};
inline constexpr TextKey DatabaseEnabled{kLoggingDatabase, "databaseenabled", "0"};
inline constexpr TextKey LogDriverName{kLoggingDatabase, "drivername", ""};
inline constexpr TextKey LogHostName{kLoggingDatabase, "hostname", ""};
inline constexpr TextKey LogUserName{kLoggingDatabase, "username", ""};
inline constexpr TextKey LogPassword{kLoggingDatabase, "password", ""};
inline constexpr TextKey LogDbName{kLoggingDatabase, "dbname", "lalog"};

// Database (marking records).
inline constexpr TextKey DbCustomer{kDatabase, "customer", ""};
inline constexpr TextKey DbUserName{kDatabase, "username", "sa"};
inline constexpr TextKey DbPassword{kDatabase, "password", ""};
inline constexpr TextKey DbHostName{kDatabase, "hostname", "database_hostname"};
// ODBC driver of the marking-record server (an addition of this station).
inline constexpr TextKey DbDriverName{kDatabase, "odbcdriver", "FreeTDS"};

// Inspection of every inscription after its run: thresholds of the verdict (decimal texts with a
// point; percentages, µm, grey levels) and whether the text is read back.
inline constexpr TextKey InspectionMinCoverage{kInspection, "MinCoverage", "92"};
inline constexpr TextKey InspectionMaxOffset{kInspection, "MaxOffset", "4"};
inline constexpr TextKey InspectionMaxSpread{kInspection, "MaxSpread", "6"};
inline constexpr TextKey InspectionMaxMarkWidth{kInspection, "MaxMarkWidth", "125"};
inline constexpr IntKey InspectionMaxStrayMarks{kInspection, "MaxStrayMarks", 0};
inline constexpr TextKey InspectionMarkContrast{kInspection, "MarkContrast", "50"};
inline constexpr TextKey InspectionMinMarkContrast{kInspection, "MinMarkContrast", "20"};
inline constexpr TextKey InspectionSearchDistance{kInspection, "SearchDistance", "30"};
inline constexpr BoolKey InspectionReadBack{kInspection, "ReadBack", true};
inline constexpr BoolKey InspectionFailOnReadBack{kInspection, "FailOnReadBack", false};
// The lowest grade a 2D code may have, "A" to "D".
inline constexpr TextKey InspectionMinCodeGrade{kInspection, "MinCodeGrade", "D"};

// The window's simulated machine misbehaving on purpose (decimal texts with a point): a share of
// pulses leaving no mark, the n-th glyph (from 1; 0 none) left out, marks so many times wider and
// fainter, the table drifting so many µm in X over the label.
inline constexpr char kSimulator[] = "Simulator";
inline constexpr TextKey SimMisfireRate{kSimulator, "MisfireRate", "0"};
inline constexpr IntKey SimSkipGlyph{kSimulator, "SkipGlyph", 0};
inline constexpr TextKey SimDefocus{kSimulator, "Defocus", "1"};
inline constexpr TextKey SimDriftUm{kSimulator, "DriftUm", "0"};

// Read and write with the store's rules; store defaults to AppRegistry().
QString read(const TextKey& key);
int read(const IntKey& key);
bool read(const BoolKey& key);
void write(const TextKey& key, const QString& value);
void write(const IntKey& key, int value);
void write(const BoolKey& key, bool value);
QString read(SettingsStore& store, const TextKey& key);
int read(SettingsStore& store, const IntKey& key);
bool read(SettingsStore& store, const BoolKey& key);

// MachineNumber with the computer's network name as default.
QString machineNumber();

} // namespace lapido::keys
