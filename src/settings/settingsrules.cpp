// Settings window rules: one table per kind of box.
#include "settings/settingsrules.h"

#include "platform/numfmt.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace lapido {

namespace {

using S = TSettings;

// What a box accepts.
enum class Accept {
    Thousandth, // 0.001 and above
    NonNegative,
    Any,
};

// How an accepted value reaches the record.
enum class Store {
    Plain,
    Rounded,         // whole number, halves to even
    Resolution,      // counts per unit: whole number, at least 1
    MinSpeed,        // at most min(X_Speed, Y_Speed)
    MinAccel,        // at most min(X_Accel, Y_Accel)
    MinDecel,        // at most min(X_Decel, Y_Decel)
    MinRadial,       // at most min(LinearAccel, LinearDecel)
    MaxReprate,      // whole number, at least 10
    PulseTrainRate,  // whole number within 1..MaxReprate
    None,            // the Y resolution box: shown only, it follows X
};

struct FloatBox {
    const char* key;
    Accept accept;
    Store store;
    double S::*real = nullptr;
    int S::*whole = nullptr;
};

constexpr FloatBox kFloatBoxes[] = {
    {"PulseDistance", Accept::Thousandth, Store::Plain, &S::PulseDistance},
    {"MarkingSpeed", Accept::Thousandth, Store::MinSpeed, &S::MarkingSpeed},
    {"CornerSpeed", Accept::Thousandth, Store::Plain, &S::CornerSpeed},
    {"LinearAccel", Accept::Thousandth, Store::MinAccel, &S::LinearAccel},
    {"LinearDecel", Accept::Thousandth, Store::MinDecel, &S::LinearDecel},
    {"RadialAccel", Accept::Thousandth, Store::MinRadial, &S::RadialAccel},
    {"MinSegmentLength", Accept::Thousandth, Store::Plain, &S::MinSegmentLength},
    {"PhotoResolution", Accept::Thousandth, Store::Plain, &S::PhotoResolution},
    {"PhotoSpeed", Accept::Thousandth, Store::MinSpeed, &S::PhotoSpeed},
    {"SpotDiameter", Accept::Thousandth, Store::Plain, &S::SpotDiameter},

    {"Goto1_X", Accept::NonNegative, Store::Plain, &S::Goto1_X},
    {"Goto1_Y", Accept::NonNegative, Store::Plain, &S::Goto1_Y},
    {"Goto1_Z", Accept::NonNegative, Store::Plain, &S::Goto1_Z},
    {"Goto1_A", Accept::NonNegative, Store::Plain, &S::Goto1_A},
    {"Goto2_X", Accept::NonNegative, Store::Plain, &S::Goto2_X},
    {"Goto2_Y", Accept::NonNegative, Store::Plain, &S::Goto2_Y},
    {"Goto2_Z", Accept::NonNegative, Store::Plain, &S::Goto2_Z},
    {"Goto2_A", Accept::NonNegative, Store::Plain, &S::Goto2_A},
    {"Goto3_X", Accept::NonNegative, Store::Plain, &S::Goto3_X},
    {"Goto3_Y", Accept::NonNegative, Store::Plain, &S::Goto3_Y},
    {"Goto3_Z", Accept::NonNegative, Store::Plain, &S::Goto3_Z},
    {"Goto3_A", Accept::NonNegative, Store::Plain, &S::Goto3_A},
    {"StartUp_X", Accept::NonNegative, Store::Plain, &S::StartUp_X},
    {"StartUp_Y", Accept::NonNegative, Store::Plain, &S::StartUp_Y},
    {"StartUp_Z", Accept::NonNegative, Store::Plain, &S::StartUp_Z},
    {"StartUp_A", Accept::NonNegative, Store::Plain, &S::StartUp_A},

    {"WheelTick1_Z", Accept::Thousandth, Store::Plain, &S::WheelTick1_Z},
    {"WheelTick2_X", Accept::Thousandth, Store::Plain, &S::WheelTick2_X},
    {"WheelTick2_Y", Accept::Thousandth, Store::Plain, &S::WheelTick2_Y},
    {"WheelTick2_Z", Accept::Thousandth, Store::Plain, &S::WheelTick2_Z},
    {"WheelTick2_A", Accept::Thousandth, Store::Plain, &S::WheelTick2_A},
    {"WheelTick3_X", Accept::Thousandth, Store::Plain, &S::WheelTick3_X},
    {"WheelTick3_Y", Accept::Thousandth, Store::Plain, &S::WheelTick3_Y},
    {"WheelTick3_Z", Accept::Thousandth, Store::Plain, &S::WheelTick3_Z},
    {"WheelTick3_A", Accept::Thousandth, Store::Plain, &S::WheelTick3_A},

    {"XY_CountsPerMM", Accept::Thousandth, Store::Resolution, nullptr, &S::XY_CountsPerMM},
    {"Y_CountsPerMM", Accept::Thousandth, Store::None},
    {"Z_CountsPerMM", Accept::Thousandth, Store::Resolution, nullptr, &S::Z_CountsPerMM},
    {"A_CountsPerDeg", Accept::Thousandth, Store::Resolution, nullptr, &S::A_CountsPerDeg},
    {"X_Speed", Accept::Thousandth, Store::Plain, &S::X_Speed},
    {"Y_Speed", Accept::Thousandth, Store::Plain, &S::Y_Speed},
    {"Z_Speed", Accept::Thousandth, Store::Plain, &S::Z_Speed},
    {"A_Speed", Accept::Thousandth, Store::Plain, &S::A_Speed},
    {"X_Accel", Accept::Thousandth, Store::Plain, &S::X_Accel},
    {"Y_Accel", Accept::Thousandth, Store::Plain, &S::Y_Accel},
    {"Z_Accel", Accept::Thousandth, Store::Plain, &S::Z_Accel},
    {"A_Accel", Accept::Thousandth, Store::Plain, &S::A_Accel},
    {"X_Decel", Accept::Thousandth, Store::Plain, &S::X_Decel},
    {"Y_Decel", Accept::Thousandth, Store::Plain, &S::Y_Decel},
    {"Z_Decel", Accept::Thousandth, Store::Plain, &S::Z_Decel},
    {"A_Decel", Accept::Thousandth, Store::Plain, &S::A_Decel},
    {"X_RefPos", Accept::NonNegative, Store::Plain, &S::X_RefPos},
    {"Y_RefPos", Accept::NonNegative, Store::Plain, &S::Y_RefPos},
    {"Z_RefPos", Accept::NonNegative, Store::Plain, &S::Z_RefPos},
    {"A_RefPos", Accept::NonNegative, Store::Plain, &S::A_RefPos},
    {"X_MinPos", Accept::NonNegative, Store::Plain, &S::X_MinPos},
    {"Y_MinPos", Accept::NonNegative, Store::Plain, &S::Y_MinPos},
    {"Z_MinPos", Accept::NonNegative, Store::Plain, &S::Z_MinPos},
    {"X_MaxPos", Accept::NonNegative, Store::Plain, &S::X_MaxPos},
    {"Y_MaxPos", Accept::NonNegative, Store::Plain, &S::Y_MaxPos},
    {"Z_MaxPos", Accept::NonNegative, Store::Plain, &S::Z_MaxPos},

    {"EnableOnDelay", Accept::Any, Store::Plain, &S::EnableOnDelay},
    {"EnableOffDelay", Accept::Any, Store::Plain, &S::EnableOffDelay},
    {"SystemOnDelay", Accept::Any, Store::Plain, &S::SystemOnDelay},

    {"MaxReprate", Accept::Thousandth, Store::MaxReprate, nullptr, &S::MaxReprate},
    {"PulseTrainRate", Accept::Thousandth, Store::PulseTrainRate, nullptr, &S::PulseTrainRate},
    {"LaserFrequency", Accept::Thousandth, Store::Rounded, nullptr, &S::LaserFrequency},
    {"LaserCurrent", Accept::Thousandth, Store::Plain, &S::LaserCurrent},
    {"LaserPower", Accept::Thousandth, Store::Plain, &S::LaserPower},
};

constexpr auto kFloatKeys = [] {
    std::array<const char*, std::size(kFloatBoxes)> keys{};
    for (std::size_t i = 0; i < keys.size(); ++i)
        keys[i] = kFloatBoxes[i].key;
    return keys;
}();

const FloatBox* floatBox(const QString& key)
{
    for (const FloatBox& b : kFloatBoxes)
        if (key == QLatin1String(b.key))
            return &b;
    return nullptr;
}

struct SpinBox {
    const char* key;
    int S::*field;
    bool video;
};

// ContourResolution is handled on its own (degrees on the page, radians in the record).
constexpr SpinBox kSpinBoxes[] = {
    {"ContourResolution", nullptr, false},
    {"ContourBuffering", &S::ContourBuffering, false},
    {"WheelBuffer", &S::WheelBuffer, false},
    {"VideoRefresh", &S::VideoRefresh, false},
    {"VideoScale", &S::VideoScale, true},
    {"VideoAspect", &S::VideoAspect, true},
    {"CrossHairX", &S::CrossHairX, true},
    {"CrossHairY", &S::CrossHairY, true},
    {"PulseTrainCount", &S::PulseTrainCount, false},
    {"TimedPulseWidth", &S::TimedPulseWidth, false},
};

constexpr auto kSpinKeys = [] {
    std::array<const char*, std::size(kSpinBoxes)> keys{};
    for (std::size_t i = 0; i < keys.size(); ++i)
        keys[i] = kSpinBoxes[i].key;
    return keys;
}();

// A whole number that a 32-bit field holds; nullopt beyond it.
std::optional<int> roundedInt(double value)
{
    if (!(std::fabs(value) < 2147483647.0))
        return std::nullopt;
    return static_cast<int>(RoundHalfEven(value));
}

// Three decimals in fixed notation with a point, no grouping: the form the boxes take, so that
// the value a message proposes can be typed as it stands in any locale.
QString fixed3(double value)
{
    return QString::number(value, 'f', 3);
}

constexpr ProtectedControl kProtected[] = {
    {"ButtonExit", ControlNeeds::Service},
    // X and Y axes
    {"EditXY_CountsPerMM", ControlNeeds::Service},
    {"EditY_CountsPerMM", ControlNeeds::Service},
    {"SpeedButtonXMinus", ControlNeeds::Service},
    {"SpeedButtonXPlus", ControlNeeds::Service},
    {"SpeedButtonYMinus", ControlNeeds::Service},
    {"SpeedButtonYPlus", ControlNeeds::Service},
    {"EditX_Speed", ControlNeeds::Service},
    {"EditY_Speed", ControlNeeds::Service},
    {"EditX_Accel", ControlNeeds::Service},
    {"EditY_Accel", ControlNeeds::Service},
    {"EditX_Decel", ControlNeeds::Service},
    {"EditY_Decel", ControlNeeds::Service},
    {"EditX_RefPos", ControlNeeds::Service},
    {"EditY_RefPos", ControlNeeds::Service},
    {"EditX_MinPos", ControlNeeds::Service},
    {"EditY_MinPos", ControlNeeds::Service},
    {"EditX_MaxPos", ControlNeeds::Service},
    {"EditY_MaxPos", ControlNeeds::Service},
    {"ComboBoxX_Current", ControlNeeds::Service},
    {"ComboBoxY_Current", ControlNeeds::Service},
    // Z axis
    {"EditZ_CountsPerMM", ControlNeeds::ServiceAndZ},
    {"SpeedButtonZMinus", ControlNeeds::ServiceAndZ},
    {"SpeedButtonZPlus", ControlNeeds::ServiceAndZ},
    {"EditZ_Speed", ControlNeeds::ServiceAndZ},
    {"EditZ_Accel", ControlNeeds::ServiceAndZ},
    {"EditZ_Decel", ControlNeeds::ServiceAndZ},
    {"EditZ_RefPos", ControlNeeds::ServiceAndZ},
    {"EditZ_MinPos", ControlNeeds::ServiceAndZ},
    {"EditZ_MaxPos", ControlNeeds::ServiceAndZ},
    {"ComboBoxZ_Current", ControlNeeds::ServiceAndZ},
    // All three low-current boxes follow the Z-axis, as they always have.
    {"CheckBoxXAxesLowCurrentMode", ControlNeeds::ServiceAndZ},
    {"CheckBoxYAxesLowCurrentMode", ControlNeeds::ServiceAndZ},
    {"CheckBoxZAxesLowCurrentMode", ControlNeeds::ServiceAndZ},
    // A axis
    {"EditA_CountsPerDeg", ControlNeeds::ServiceAndA},
    {"SpeedButtonAMinus", ControlNeeds::ServiceAndA},
    {"SpeedButtonAPlus", ControlNeeds::ServiceAndA},
    {"EditA_Speed", ControlNeeds::ServiceAndA},
    {"EditA_Accel", ControlNeeds::ServiceAndA},
    {"EditA_Decel", ControlNeeds::ServiceAndA},
    {"EditA_RefPos", ControlNeeds::ServiceAndA},
    {"ComboBoxA_Current", ControlNeeds::ServiceAndA},
    {"CheckBoxUseAaxis", ControlNeeds::Never},
    // Video, motion test, hardware
    {"SpinEditVideoRefresh", ControlNeeds::Service},
    {"SpinEditVideoAspect", ControlNeeds::Service},
    {"ButtonCalibrate", ControlNeeds::Service},
    {"ButtonTest", ControlNeeds::Service},
    {"CheckBoxUseZaxis", ControlNeeds::Service},
    {"CheckBoxInvertLimits", ControlNeeds::Service},
    {"CheckBoxInvertHoming", ControlNeeds::Service},
    {"CheckBoxInvertTrigger", ControlNeeds::Service},
    // Marking
    {"EditCornerSpeed", ControlNeeds::Service},
    {"EditLinearAccel", ControlNeeds::Service},
    {"EditLinearDecel", ControlNeeds::Service},
    {"EditRadialAccel", ControlNeeds::Service},
    {"EditMaxReprate", ControlNeeds::Service},
    {"SpinEditContourResolution", ControlNeeds::Service},
    {"SpinEditContourBuffering", ControlNeeds::Service},
    // Mouse wheel
    {"EditWheelTick1_X", ControlNeeds::Service},
    {"EditWheelTick1_Y", ControlNeeds::Service},
    {"EditWheelTick1_Z", ControlNeeds::ServiceAndZ},
    {"EditWheelTick1_A", ControlNeeds::ServiceAndA},
    {"EditWheelTick2_X", ControlNeeds::Service},
    {"EditWheelTick2_Y", ControlNeeds::Service},
    {"EditWheelTick2_Z", ControlNeeds::ServiceAndZ},
    {"EditWheelTick2_A", ControlNeeds::ServiceAndA},
    {"EditWheelTick3_X", ControlNeeds::Service},
    {"EditWheelTick3_Y", ControlNeeds::Service},
    {"EditWheelTick3_Z", ControlNeeds::ServiceAndZ},
    {"EditWheelTick3_A", ControlNeeds::ServiceAndA},
    {"SpinEditWheelBuffer", ControlNeeds::Service},
    // Laser source, administration
    {"ComboBoxSource", ControlNeeds::Service},
    {"ButtonVaultkeepLink", ControlNeeds::Service},
    {"ButtonEditWorkingDir", ControlNeeds::Service},
    // The Z boxes of the positions follow the Z-axis alone.
    {"EditStartUp_Z", ControlNeeds::ZAxis},
    {"EditGoto1_Z", ControlNeeds::ZAxis},
    {"EditGoto2_Z", ControlNeeds::ZAxis},
    {"EditGoto3_Z", ControlNeeds::ZAxis},
};

} // namespace

SettingsEditor::SettingsEditor(TSettings& record, bool service) : ST_Service(service), m_record(record)
{
    updateSpeedStates();
}

std::span<const char* const> SettingsEditor::floatEditKeys() { return kFloatKeys; }

bool SettingsEditor::isFloatEditKey(const QString& key) { return floatBox(key) != nullptr; }

bool SettingsEditor::EditFloatChange(const QString& key, const QString& text)
{
    const FloatBox* box = floatBox(key);
    if (!box)
        return false;
    // A new text drops the machine's reason for the old one.
    m_reasons.remove(key);
    std::optional<double> value = StrToFloatPoint(text.trimmed().toStdString());
    if (value && *value < 0 && box->accept != Accept::Any)
        value.reset();
    if (value && *value < 0.001 && box->accept == Accept::Thousandth)
        value.reset();
    // A whole-number field takes the rounded value; one that does not fit the field is refused
    // rather than wrapped, and a resolution must keep at least one count per unit, or every
    // position would divide by zero.
    std::optional<int> whole;
    if (value && box->whole) {
        whole = roundedInt(*value);
        if (!whole || (box->store == Store::Resolution && *whole < 1))
            value.reset();
    }
    if (!value) {
        if (!m_refused.contains(key))
            m_refused << key;
        updateSpeedStates();
        return false;
    }
    m_refused.removeAll(key);
    TSettings& r = m_record;
    const double v = *value;
    switch (box->store) {
    case Store::Plain: r.*box->real = v; break;
    case Store::Rounded:
    case Store::Resolution: r.*box->whole = *whole; break;
    case Store::MinSpeed: r.*box->real = std::min({v, r.X_Speed, r.Y_Speed}); break;
    case Store::MinAccel: r.*box->real = std::min({v, r.X_Accel, r.Y_Accel}); break;
    case Store::MinDecel: r.*box->real = std::min({v, r.X_Decel, r.Y_Decel}); break;
    case Store::MinRadial: r.*box->real = std::min({v, r.LinearAccel, r.LinearDecel}); break;
    case Store::MaxReprate: r.*box->whole = std::max(*whole, 10); break;
    case Store::PulseTrainRate: r.*box->whole = std::clamp(*whole, 1, std::max(1, r.MaxReprate)); break;
    case Store::None: break;
    }
    updateSpeedStates();
    return true;
}

std::optional<double> SettingsEditor::boxValue(const TSettings& record, const QString& key)
{
    if (key == QLatin1String("Y_CountsPerMM"))
        return record.XY_CountsPerMM;
    const FloatBox* box = floatBox(key);
    if (!box)
        return std::nullopt;
    return box->real ? record.*box->real : double(record.*box->whole);
}

bool SettingsEditor::isRed(const QString& key) const
{
    if (isRefused(key))
        return true;
    if (key == QLatin1String("MarkingSpeed"))
        return m_markingSpeedRed;
    if (key == QLatin1String("PhotoSpeed"))
        return m_photoSpeedRed;
    return false;
}

QStringList SettingsEditor::refusedKeys() const
{
    QStringList out;
    for (const char* key : kFloatKeys)
        if (m_refused.contains(QLatin1String(key)))
            out << QString::fromLatin1(key);
    return out;
}

void SettingsEditor::refuseValue(const QString& key, const QString& reason)
{
    if (!m_refused.contains(key))
        m_refused << key;
    m_reasons.insert(key, reason);
}

QString SettingsEditor::refusalReason(const QString& key) const
{
    const auto it = m_reasons.constFind(key);
    if (it != m_reasons.cend())
        return *it;
    const FloatBox* box = floatBox(key);
    if (box && box->accept == Accept::Any)
        return QStringLiteral("not a number (write it with a point)");
    if (box && box->accept == Accept::NonNegative)
        return QStringLiteral("not a number of 0 or more (write it with a point)");
    return QStringLiteral("not a number of 0.001 or more (write it with a point)");
}

void SettingsEditor::clearRefused()
{
    m_refused.clear();
    m_reasons.clear();
    updateSpeedStates();
}

void SettingsEditor::updateSpeedStates()
{
    const TSettings& r = m_record;
    m_markingSpeedRed = (r.MaxReprate + 0.1) * r.PulseDistance * 0.001 < r.MarkingSpeed
                        || isRefused(QStringLiteral("MarkingSpeed"));
    m_photoSpeedRed = (r.MaxReprate + 0.1) * r.PhotoResolution * 0.001 < r.PhotoSpeed
                      || isRefused(QStringLiteral("PhotoSpeed"));
}

std::span<const char* const> SettingsEditor::spinEditKeys() { return kSpinKeys; }

SettingsEditor::SpinOutcome SettingsEditor::SpinEditChange(const QString& key, const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return SpinOutcome::Ignored;
    const std::optional<int> value = StrToInt(trimmed);
    if (!value)
        return SpinOutcome::Ignored;
    for (const SpinBox& b : kSpinBoxes) {
        if (key != QLatin1String(b.key))
            continue;
        if (!b.field) {
            m_record.ContourResolution = contourResolutionRadians(*value);
            return SpinOutcome::Stored;
        }
        m_record.*b.field = *value;
        return b.video ? SpinOutcome::StoredVideo : SpinOutcome::Stored;
    }
    return SpinOutcome::Ignored;
}

std::optional<QString> SettingsEditor::frequencyCheck() const
{
    const TSettings& r = m_record;
    if ((r.MaxReprate + 0.1) * 0.001 * r.PulseDistance < r.MarkingSpeed) {
        return QStringLiteral("Pulse frequency is too high.  Reduce marking speed to ")
               + fixed3(0.001 * r.PulseDistance * r.MaxReprate)
               + QStringLiteral(" mm/s, or increase pulse distance to ")
               + fixed3(1000 * r.MarkingSpeed / r.MaxReprate) + QStringLiteral(" µm.");
    }
    if ((r.MaxReprate + 0.1) * 0.001 * r.PhotoResolution < r.PhotoSpeed) {
        return QStringLiteral("Photo engraving frequency is too high.  Reduce photo engraving speed to ")
               + fixed3(0.001 * r.PhotoResolution * r.MaxReprate)
               + QStringLiteral(" mm/s, or increase photo engraving resolution to ")
               + fixed3(1000 * r.PhotoSpeed / r.MaxReprate) + QStringLiteral(" µm.");
    }
    return std::nullopt;
}

bool SettingsEditor::passwordMatches(const QString& text) const
{
    return text.trimmed() == m_record.Password;
}

std::span<const ProtectedControl> SettingsEditor::protectedControls() { return kProtected; }

bool SettingsEditor::isEnabled(ControlNeeds needs) const
{
    switch (needs) {
    case ControlNeeds::Service: return ST_Service;
    case ControlNeeds::ServiceAndZ: return ST_Service && m_record.UseZaxis;
    case ControlNeeds::ServiceAndA: return ST_Service && m_record.UseAaxis;
    case ControlNeeds::ZAxis: return m_record.UseZaxis;
    case ControlNeeds::Never: return false;
    }
    return false;
}

QStringList labelTextLengthModes()
{
    return {QStringLiteral("-- Disabled --"), QStringLiteral("Fixed "), QStringLiteral("Maximum "),
            QStringLiteral("Minimum")};
}

QStringList labelTextTypes()
{
    return {QStringLiteral("-- Disable --"), QStringLiteral("Alphabetic only"), QStringLiteral("Numeric only"),
            QStringLiteral("Alphanumeric only")};
}

int comboIndexOfStoredText(const QStringList& items, const QString& stored)
{
    return static_cast<int>(items.indexOf(stored));
}

QStringList motorCurrentItems()
{
    return {QStringLiteral("0.5 A"), QStringLiteral("1.0 A"), QStringLiteral("2.0 A"), QStringLiteral("3.0 A")};
}

QString ringLightPortName(int comNumber, const QString& devicePath)
{
    const QString device = devicePath.trimmed();
    if (!device.isEmpty())
        return device;
    return QStringLiteral("COM") + QString::number(comNumber);
}

RingLightPortFields ringLightPortFields(const QString& stored)
{
    RingLightPortFields fields;
    const QString name = stored.trimmed();
    if (name.isEmpty())
        return fields;
    if (name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) {
        if (const auto n = StrToInt(QStringView(name).mid(3)); n && *n >= 0) {
            fields.comNumber = *n;
            return fields;
        }
    }
    fields.devicePath = name;
    return fields;
}

} // namespace lapido
