// Settings record: one table of fields drives load, save and the printed record.
#include "settings/settingsrecord.h"

#include "platform/debuglog.h"
#include "platform/numfmt.h"
#include "platform/settingsstore.h"
#include "settings/settingskeys.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <variant>

namespace lapido {

namespace {

constexpr double kRadToDeg = 57.295779513082320877;

// How a field is stored.
enum class Kind {
    Float,      // locale float text, Unparsable fallback
    Int,        // decimal integer
    CountsInt,  // integer written with the float conversion
    Bool,
    Text,
    Color,
    Int64,
    Radians,    // whole degrees in the store, radians in the record
    LoadOnly,   // float read with the default as fallback, never written (3DMouse)
    Derived,    // never stored
};

using Member = std::variant<double TSettings::*, int TSettings::*, bool TSettings::*, QString TSettings::*,
                            std::uint32_t TSettings::*, std::int64_t TSettings::*>;

struct Field {
    const char* section;
    const char* key;
    Kind kind;
    Member member;
    const char* defaultText; // float, text: the default text; others: unused
    double fallback;         // float: Unparsable; int/bool/colour/int64: the default
    bool save = true;        // false: loaded only (written by its own button elsewhere)
};

using S = TSettings;
using namespace keys;

// Order: the pages' order; BeforeAndAfterMarking_Z is special-cased after StartUp_Z.
const Field kFields[] = {
    {kMouseWheel, "WheelTick1_X", Kind::Derived, &S::WheelTick1_X, nullptr, 0},
    {kMouseWheel, "WheelTick1_Y", Kind::Derived, &S::WheelTick1_Y, nullptr, 0},
    {kMouseWheel, "WheelTick1_Z", Kind::Float, &S::WheelTick1_Z, "10.0", 10},
    {kMouseWheel, "WheelTick1_A", Kind::Derived, &S::WheelTick1_A, nullptr, 0},
    {kMouseWheel, "WheelTick2_X", Kind::Float, &S::WheelTick2_X, "40.0", 40},
    {kMouseWheel, "WheelTick2_Y", Kind::Float, &S::WheelTick2_Y, "40.0", 40},
    {kMouseWheel, "WheelTick2_Z", Kind::Float, &S::WheelTick2_Z, "40.0", 40},
    {kMouseWheel, "WheelTick2_A", Kind::Float, &S::WheelTick2_A, "40.0", 40},
    {kMouseWheel, "WheelTick3_X", Kind::Float, &S::WheelTick3_X, "300.0", 300},
    {kMouseWheel, "WheelTick3_Y", Kind::Float, &S::WheelTick3_Y, "300.0", 300},
    {kMouseWheel, "WheelTick3_Z", Kind::Float, &S::WheelTick3_Z, "300.0", 300},
    {kMouseWheel, "WheelTick3_A", Kind::Float, &S::WheelTick3_A, "300.0", 300},
    {kMouseWheel, "WheelBuffer", Kind::Int, &S::WheelBuffer, nullptr, 20},

    {kColors, "CrossHair", Kind::Color, &S::CrossHair, nullptr, 255},
    {kColors, "Girdle", Kind::Color, &S::Girdle, nullptr, 16711935},
    {kColors, "Grid", Kind::Color, &S::Grid, nullptr, 32896},
    {kColors, "Outline", Kind::Color, &S::Outline, nullptr, 65535},
    {kColors, "Selected", Kind::Color, &S::Selected, nullptr, 16776960},
    {kColors, "Processed", Kind::Color, &S::Processed, nullptr, 4227327},
    {kColors, "SelectedProcessed", Kind::Color, &S::SelectedProcessed, nullptr, 16744448},

    {kVideo, "CrossHairX", Kind::Int, &S::CrossHairX, nullptr, 384},
    {kVideo, "CrossHairY", Kind::Int, &S::CrossHairY, nullptr, 288},
    {kVideo, "VideoScale", Kind::Int, &S::VideoScale, nullptr, 300},
    {kVideo, "VideoAspect", Kind::Int, &S::VideoAspect, nullptr, 100},
    {kVideo, "VideoRefresh", Kind::Int, &S::VideoRefresh, nullptr, 40},

    {kMotion, "XY_CountsPerMM", Kind::CountsInt, &S::XY_CountsPerMM, nullptr, 10000},
    {kMotion, "Z_CountsPerMM", Kind::CountsInt, &S::Z_CountsPerMM, nullptr, 10000},
    {kMotion, "A_CountsPerDeg", Kind::CountsInt, &S::A_CountsPerDeg, nullptr, 50000},
    {kMotion, "X_Reversed", Kind::Bool, &S::X_Reversed, nullptr, 0},
    {kMotion, "Y_Reversed", Kind::Bool, &S::Y_Reversed, nullptr, 0},
    {kMotion, "Z_Reversed", Kind::Bool, &S::Z_Reversed, nullptr, 0},
    {kMotion, "A_Reversed", Kind::Bool, &S::A_Reversed, nullptr, 0},
    {kMotion, "X_Speed", Kind::Float, &S::X_Speed, "10.0", 10},
    {kMotion, "Y_Speed", Kind::Float, &S::Y_Speed, "10.0", 10},
    {kMotion, "Z_Speed", Kind::Float, &S::Z_Speed, "10.0", 10},
    {kMotion, "A_Speed", Kind::Float, &S::A_Speed, "10.0", 10},
    {kMotion, "X_Accel", Kind::Float, &S::X_Accel, "5.0", 100},
    {kMotion, "Y_Accel", Kind::Float, &S::Y_Accel, "5.0", 100},
    {kMotion, "Z_Accel", Kind::Float, &S::Z_Accel, "5.0", 100},
    {kMotion, "A_Accel", Kind::Float, &S::A_Accel, "5.0", 100},
    {kMotion, "X_Decel", Kind::Float, &S::X_Decel, "5.0", 100},
    {kMotion, "Y_Decel", Kind::Float, &S::Y_Decel, "5.0", 100},
    {kMotion, "Z_Decel", Kind::Float, &S::Z_Decel, "5.0", 100},
    {kMotion, "A_Decel", Kind::Float, &S::A_Decel, "5.0", 100},
    {kMotion, "X_RefPos", Kind::Float, &S::X_RefPos, "0.0", 0},
    {kMotion, "Y_RefPos", Kind::Float, &S::Y_RefPos, "0.0", 0},
    {kMotion, "Z_RefPos", Kind::Float, &S::Z_RefPos, "0.0", 0},
    {kMotion, "A_RefPos", Kind::Float, &S::A_RefPos, "0.0", 0},
    {kMotion, "X_MinPos", Kind::Float, &S::X_MinPos, "1.0", 1},
    {kMotion, "Y_MinPos", Kind::Float, &S::Y_MinPos, "1.0", 1},
    {kMotion, "Z_MinPos", Kind::Float, &S::Z_MinPos, "1.0", 1},
    {kMotion, "X_MaxPos", Kind::Float, &S::X_MaxPos, "35.0", 35},
    {kMotion, "Y_MaxPos", Kind::Float, &S::Y_MaxPos, "35.0", 35},
    {kMotion, "Z_MaxPos", Kind::Float, &S::Z_MaxPos, "35.0", 35},

    {kMarking, "PulseDistance", Kind::Float, &S::PulseDistance, "0.5", 0.5},
    {kMarking, "MarkingSpeed", Kind::Float, &S::MarkingSpeed, "0.5", 0.2},
    {kMarking, "CornerSpeed", Kind::Float, &S::CornerSpeed, "0.02", 0.02},
    {kMarking, "LinearAccel", Kind::Float, &S::LinearAccel, "5.0", 1},
    {kMarking, "LinearDecel", Kind::Float, &S::LinearDecel, "5.0", 1},
    {kMarking, "RadialAccel", Kind::Float, &S::RadialAccel, "5.0", 1},
    {kMarking, "ContourResolution", Kind::Radians, &S::ContourResolution, nullptr, 6},
    {kMarking, "ContourBuffering", Kind::Int, &S::ContourBuffering, nullptr, 50},
    {kMarking, "MinSegmentLength", Kind::Float, &S::MinSegmentLength, "1.0", 1},
    {kMarking, "PhotoResolution", Kind::Float, &S::PhotoResolution, "5.0", 5},
    {kMarking, "PhotoSpeed", Kind::Float, &S::PhotoSpeed, "0.1", 0.1},
    {kMarking, "SpotDiameter", Kind::Float, &S::SpotDiameter, "10.0", 10},
    {kMarking, "MaxReprate", Kind::Int, &S::MaxReprate, nullptr, 1000},
    {kMarking, "DeleteLabelAfterF10", Kind::Bool, &S::DeleteLabelAfterF10, nullptr, 0},
    {kMarking, "DeletePictureAfterF10", Kind::Bool, &S::DeletePictureAfterF10, nullptr, 0},
    {kMarking, "DeleteLogoAfterF10", Kind::Bool, &S::DeleteLogoAfterF10, nullptr, 0},
    {kMarking, "DeleteSpaceAfterF10", Kind::Bool, &S::DeleteSpaceAfterF10, nullptr, 0},
    {kMarking, "TargetLabelAfterF10", Kind::Bool, &S::TargetLabelAfterF10, nullptr, 0},
    {kMarking, "FormatLabelText", Kind::Bool, &S::FormatLabelText, nullptr, 0},
    {kMarking, "DeleteZAZBZCAfterF12", Kind::Bool, &S::DeleteZAZBZCAfterF12, nullptr, 0},
    {kMarking, "AutoTemplateName", Kind::Bool, &S::AutoTemplateName, nullptr, 0},
    {kMarking, "WLabeTextLengthMode", Kind::Text, &S::WLabeTextLengthMode, "-- Disabled --", 0},
    {kMarking, "WLabelTextLength", Kind::Int, &S::WLabelTextLength, nullptr, 10},
    {kMarking, "WLabelTextType", Kind::Text, &S::WLabelTextType, "-- Disable --", 0},
    {kMarking, "WLabelCheckBeforeEngrave", Kind::Bool, &S::WLabelCheckBeforeEngrave, nullptr, 0},

    {kLayout, "IgnoreGridleheigh", Kind::Bool, &S::IgnoreGridleheigh, nullptr, 0},
    {kLayout, "IgnoreSlantAngle", Kind::Bool, &S::IgnoreSlantAngle, nullptr, 0},

    {kPositioning, "StartUp_X", Kind::Float, &S::StartUp_X, "15.0", 15},
    {kPositioning, "StartUp_Y", Kind::Float, &S::StartUp_Y, "12.5", 15},
    {kPositioning, "StartUp_Z", Kind::Float, &S::StartUp_Z, "12.5", 15},
    {kPositioning, "StartUp_A", Kind::Float, &S::StartUp_A, "0.0", 0},
    {kPositioning, "Goto1_X", Kind::Float, &S::Goto1_X, "15.0", 15},
    {kPositioning, "Goto1_Y", Kind::Float, &S::Goto1_Y, "10.0", 15},
    {kPositioning, "Goto1_Z", Kind::Float, &S::Goto1_Z, "10.0", 15},
    {kPositioning, "Goto1_A", Kind::Float, &S::Goto1_A, "0.0", 0},
    {kPositioning, "Goto2_X", Kind::Float, &S::Goto2_X, "15.0", 15},
    {kPositioning, "Goto2_Y", Kind::Float, &S::Goto2_Y, "15.0", 15},
    {kPositioning, "Goto2_Z", Kind::Float, &S::Goto2_Z, "15.0", 15},
    {kPositioning, "Goto2_A", Kind::Float, &S::Goto2_A, "0.0", 0},
    {kPositioning, "Goto3_X", Kind::Float, &S::Goto3_X, "15.0", 15},
    {kPositioning, "Goto3_Y", Kind::Float, &S::Goto3_Y, "25.0", 15},
    {kPositioning, "Goto3_Z", Kind::Float, &S::Goto3_Z, "25.0", 15},
    {kPositioning, "Goto3_A", Kind::Float, &S::Goto3_A, "0.0", 0},
    {kPositioning, "BeforeMarking_Z", Kind::Derived, &S::BeforeMarking_Z, nullptr, 0},
    {kPositioning, "AfterMarking_Z", Kind::Derived, &S::AfterMarking_Z, nullptr, 0},

    {k3DMouse, "XMovementSpeedUp", Kind::LoadOnly, &S::XMovementSpeedUp, "1", 1},
    {k3DMouse, "YMovementSpeedUp", Kind::LoadOnly, &S::YMovementSpeedUp, "1", 1},
    {k3DMouse, "ZMovementSpeedUp", Kind::LoadOnly, &S::ZMovementSpeedUp, "1", 1},

    {kHardware, "UseZaxis", Kind::Bool, &S::UseZaxis, nullptr, 1},
    {kHardware, "UseAaxis", Kind::Derived, &S::UseAaxis, nullptr, 0},
    {kHardware, "InvertLimits", Kind::Bool, &S::InvertLimits, nullptr, 1},
    {kHardware, "InvertHoming", Kind::Bool, &S::InvertHoming, nullptr, 1},
    {kHardware, "InvertTrigger", Kind::Bool, &S::InvertTrigger, nullptr, 1},
    {kHardware, "InvertGate", Kind::Bool, &S::InvertGate, nullptr, 0},
    {kHardware, "InvertShutter", Kind::Bool, &S::InvertShutter, nullptr, 0},
    {kHardware, "InvertSystem", Kind::Bool, &S::InvertSystem, nullptr, 0},
    {kHardware, "EnableOnDelay", Kind::Float, &S::EnableOnDelay, "0.0", 0},
    {kHardware, "EnableOffDelay", Kind::Float, &S::EnableOffDelay, "0.0", 0},
    {kHardware, "SystemOnDelay", Kind::Float, &S::SystemOnDelay, "0.0", 0},
    {kHardware, "X_Current", Kind::Int, &S::X_Current, nullptr, 1},
    {kHardware, "Y_Current", Kind::Int, &S::Y_Current, nullptr, 1},
    {kHardware, "Z_Current", Kind::Int, &S::Z_Current, nullptr, 1},
    {kHardware, "A_Current", Kind::Int, &S::A_Current, nullptr, 1},
    {kHardware, "XAxesLowCurrentMode", Kind::Bool, &S::XAxesLowCurrentMode, nullptr, 1},
    {kHardware, "YAxesLowCurrentMode", Kind::Bool, &S::YAxesLowCurrentMode, nullptr, 1},
    {kHardware, "ZAxesLowCurrentMode", Kind::Bool, &S::ZAxesLowCurrentMode, nullptr, 1},
    {kHardware, "TotalPulseCount", Kind::Int64, &S::TotalPulseCount, nullptr, 0},
    {kHardware, "PulseCount", Kind::Int64, &S::PulseCount, nullptr, 0},

    {kAdministration, "Password", Kind::Text, &S::Password, "TRIMDOG", 0},
    {kAdministration, "WorkingDir", Kind::Text, &S::WorkingDir, "", 0, false},

    {kLaserSource, "PulseTrainCount", Kind::Int, &S::PulseTrainCount, nullptr, 10},
    {kLaserSource, "PulseTrainRate", Kind::Int, &S::PulseTrainRate, nullptr, 100},
    {kLaserSource, "TimedPulseWidth", Kind::Int, &S::TimedPulseWidth, nullptr, 50},
    {kLaserSource, "LaserFrequency", Kind::Int, &S::LaserFrequency, nullptr, 1000},
    {kLaserSource, "LaserCurrent", Kind::Float, &S::LaserCurrent, "10.0", 10},
    {kLaserSource, "LaserPower", Kind::Float, &S::LaserPower, "100.0", 100},
    {kLaserSource, "LaserName", Kind::Text, &S::LaserName, "Unkown laser model !!!", 0},

    {kBackup, "Auto_Backup", Kind::Bool, &S::Auto_Backup, nullptr, 1},
    {kBackup, "BackupPath", Kind::Text, &S::BackupPath, "/var/backups/Lapidograph", 0, false},
    {kBackup, "Backupdate", Kind::Text, &S::Backupdate, "N/A", 0, false},
    {kBackup, "VaultkeepLink", Kind::Text, &S::VaultkeepLink, "/usr/bin/vaultkeep", 0, false},

    {kLabelVeiw, "showatstartup", Kind::Bool, &S::showatstartup, nullptr, 0},
};

template <typename T>
T& ref(TSettings& r, const Member& m)
{
    return r.*std::get<T TSettings::*>(m);
}
template <typename T>
const T& cref(const TSettings& r, const Member& m)
{
    return r.*std::get<T TSettings::*>(m);
}

QString fullPrecision(double v)
{
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? QString::fromLatin1(buf, static_cast<int>(end - buf)) : QString();
}

} // namespace

double contourResolutionRadians(int degrees)
{
    // degrees * pi / 180 in double arithmetic: 6 degrees is held as 0.10471975511965977, the
    // value stations have always held (one unit in the last place below the exact product).
    return degrees * 3.14159265358979323846 / 180.0;
}

int contourResolutionDegrees(double radians)
{
    return static_cast<int>(RoundHalfEven(radians * kRadToDeg));
}

namespace {

// Keys whose load default is fixed whatever their control shows.
bool hasFixedDefault(const Field& f)
{
    const std::string_view k(f.key);
    if (f.kind == Kind::Bool) {
        const std::string_view sec(f.section);
        if (sec == kMarking || sec == kLayout || sec == kBackup || sec == kHardware)
            return true;
    }
    return f.kind == Kind::Int64 || k == "WheelBuffer" || k == "LaserFrequency" || k == "LaserCurrent"
           || k == "LaserPower" || k == "LaserName" || k == "Password";
}

} // namespace

void LoadSettingsFromRegistery(const SettingsStore& store, TSettings& r)
{
    LoadSettingsFromRegistery(store, r, ControlTexts{});
}

void LoadSettingsFromRegistery(const SettingsStore& stored, TSettings& r, const ControlTexts& controls)
{
    // One read of the file for the whole record (each read of the store opens it again), and
    // a record never made of half of a companion program's import.
    const auto snapshot = stored.memoryCopy();
    const SettingsStore& store = *snapshot;
    for (const Field& f : kFields) {
        const QString sec = QString::fromLatin1(f.section);
        const QString key = QString::fromLatin1(f.key);
        std::optional<QString> control;
        if (!hasFixedDefault(f)) {
            if (auto it = controls.constFind(key); it != controls.constEnd())
                control = *it;
        }
        // An integer control whose text is not a whole number gives the table default.
        auto intDefault = [&](int tableDefault) {
            return control ? StrToInt(control->trimmed()).value_or(tableDefault) : tableDefault;
        };
        switch (f.kind) {
        case Kind::Float:
            ref<double>(r, f.member) =
                store.ReadFloat(sec, key, control.value_or(QString::fromLatin1(f.defaultText)), f.fallback);
            break;
        case Kind::LoadOnly:
            // No fallback of its own: a text that does not convert keeps the default.
            ref<double>(r, f.member) = store.ReadFloat(sec, key, QString::fromLatin1(f.defaultText), f.fallback);
            break;
        case Kind::Int:
            ref<int>(r, f.member) = store.ReadInteger(sec, key, intDefault(static_cast<int>(f.fallback)));
            break;
        case Kind::CountsInt: {
            // The control's text is the read's default; what does not parse as an integer,
            // stored or typed, gives the fixed fallback.
            const int fallback = static_cast<int>(f.fallback);
            const QString text = store.ReadString(sec, key, control.value_or(QString::number(fallback)));
            ref<int>(r, f.member) = StrToInt(text).value_or(fallback);
            break;
        }
        case Kind::Bool:
            ref<bool>(r, f.member) = store.ReadBool(sec, key, intDefault(f.fallback != 0 ? 1 : 0) != 0);
            break;
        case Kind::Text:
            ref<QString>(r, f.member) = store.ReadString(sec, key, control.value_or(QString::fromUtf8(f.defaultText)));
            break;
        case Kind::Color: {
            const auto fallback = static_cast<std::uint32_t>(f.fallback);
            const auto typed = control ? StrToInt64(control->trimmed()) : std::nullopt;
            ref<std::uint32_t>(r, f.member) =
                store.ReadColor(sec, key, typed && *typed >= 0 ? static_cast<std::uint32_t>(*typed) : fallback);
            break;
        }
        case Kind::Int64:
            ref<std::int64_t>(r, f.member) = store.ReadInt64(sec, key, static_cast<std::int64_t>(f.fallback));
            break;
        case Kind::Radians:
            ref<double>(r, f.member) =
                contourResolutionRadians(store.ReadInteger(sec, key, intDefault(static_cast<int>(f.fallback))));
            break;
        case Kind::Derived:
            break;
        }
        if (std::string_view(f.key) == "StartUp_Z") {
            // BeforeAndAfterMarking_Z defaults to the start-up Z just loaded; without a
            // fallback of its own, a text that does not convert keeps that default.
            const QString defText = FloatToStr(r.StartUp_Z);
            const double z = store.ReadFloat(sec, QStringLiteral("BeforeAndAfterMarking_Z"), defText, r.StartUp_Z);
            r.BeforeMarking_Z = z;
            r.AfterMarking_Z = z;
        }
    }
    r.UseAaxis = false;
    UpdateVideoView(r, false, 768, 576);
}

void SaveSettingsToRegistery(SettingsStore& store, const TSettings& r)
{
    std::vector<SettingsEntry> out;
    for (const Field& f : kFields) {
        if (!f.save)
            continue;
        const QString sec = QString::fromLatin1(f.section);
        const QString key = QString::fromLatin1(f.key);
        QString text;
        switch (f.kind) {
        case Kind::Float: text = FloatToStr(cref<double>(r, f.member)); break;
        case Kind::Int: text = QString::number(cref<int>(r, f.member)); break;
        case Kind::CountsInt: text = FloatToStr(cref<int>(r, f.member)); break;
        case Kind::Bool: text = cref<bool>(r, f.member) ? QStringLiteral("1") : QStringLiteral("0"); break;
        case Kind::Text: text = cref<QString>(r, f.member); break;
        case Kind::Color: text = QString::number(cref<std::uint32_t>(r, f.member) & 0xFFFFFFu); break;
        case Kind::Int64: text = QString::number(cref<std::int64_t>(r, f.member)); break;
        case Kind::Radians: text = QString::number(contourResolutionDegrees(cref<double>(r, f.member))); break;
        case Kind::LoadOnly: continue;
        case Kind::Derived:
            if (std::string_view(f.key) != "UseAaxis")
                continue;
            text = QStringLiteral("0"); // the A-axis is never enabled
            break;
        }
        out.push_back({sec, key, text});
        const std::string_view k(f.key);
        if (k == "EnableOnDelay" || k == "EnableOffDelay" || k == "SystemOnDelay")
            LogDebug(QStringLiteral("AppRegistry.WriteString Hardware ") + key + text);
    }
    store.setValues(out);
}

TSettings& Settings()
{
    static TSettings record;
    return record;
}

void LoadSettingsFromRegistery()
{
    LoadSettingsFromRegistery(AppRegistry(), Settings());
}

void SaveSettingsToRegistery()
{
    SaveSettingsToRegistery(AppRegistry(), Settings());
}

VideoView UpdateVideoView(TSettings& r, bool zoomOut, int paintWidth, int paintHeight)
{
    const int mx = paintWidth / 2;
    const int my = paintHeight / 2;
    VideoView v;
    if (zoomOut) {
        v.crossHairX = mx + (r.CrossHairX - mx) / 2;
        v.crossHairY = my + (r.CrossHairY - my) / 2;
        v.scale = r.VideoScale / 2;
    } else {
        v.crossHairX = r.CrossHairX;
        v.crossHairY = r.CrossHairY;
        v.scale = r.VideoScale;
    }
    v.scaleY = -static_cast<double>(v.scale) * r.VideoAspect / 100.0;
    const double step = v.scale > 1 ? 1000.0 / v.scale : 1.0;
    r.WheelTick1_X = step;
    r.WheelTick1_Y = step;
    r.WheelTick1_A = step;
    return v;
}

QStringList settingsRecordLines(const TSettings& r)
{
    QStringList lines;
    for (const Field& f : kFields) {
        const QString key = QString::fromLatin1(f.key);
        QString text;
        std::visit(
            [&](auto m) {
                using T = std::remove_cvref_t<decltype(r.*m)>;
                if constexpr (std::is_same_v<T, double>) {
                    text = f.kind == Kind::Radians ? fullPrecision(r.*m) : FloatToStr(r.*m);
                } else if constexpr (std::is_same_v<T, bool>) {
                    text = (r.*m) ? QStringLiteral("1") : QStringLiteral("0");
                } else if constexpr (std::is_same_v<T, QString>) {
                    text = r.*m;
                } else {
                    text = QString::number(r.*m);
                }
            },
            f.member);
        lines << key + QChar('=') + text;
    }
    return lines;
}

} // namespace lapido
