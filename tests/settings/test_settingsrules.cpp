// The settings window's rules without widgets: live edits, red states, the OK checks, the
// password and protected controls, the combos, the ring-light port and Cancel's reload.
#include "settings/settingsrules.h"

#include "platform/numfmt.h"
#include "testsupport.h"

#include <cmath>

using namespace lapido;

namespace {

// The value a field holds, by key name (the printed record is the record).
double fieldValue(const TSettings& r, const QString& key)
{
    for (const QString& line : settingsRecordLines(r))
        if (line.startsWith(key + QChar('=')))
            return StrToFloat(line.mid(key.size() + 1)).value_or(NAN);
    return NAN;
}

class SettingsRulesTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        setUserLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    void TearDown() override
    {
        setUserLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        StationFixture::TearDown();
    }
    TSettings m_record;
    SettingsEditor m_editor{m_record};
};

struct LiveEdit {
    const char* name;
    const char* key;
    const char* text;
    bool accepted;
    double stored; // the field's value afterwards (the default when refused)
};

class LiveEditTest : public SettingsRulesTest, public ::testing::WithParamInterface<LiveEdit> {};

TEST_P(LiveEditTest, AcceptsOrRefusesAndStoresByTheBoxRule)
{
    const LiveEdit& c = GetParam();
    // Limits the min() rules work against.
    m_record.X_Speed = 10;
    m_record.Y_Speed = 8;
    m_record.X_Accel = 6;
    m_record.Y_Accel = 7;
    m_record.LinearAccel = 5;
    m_record.LinearDecel = 4;
    // The point is the separator whatever the locale.
    setUserLocale(QLocale(QLocale::German, QLocale::Germany));
    const QString key = QString::fromLatin1(c.key);
    EXPECT_EQ(m_editor.EditFloatChange(key, QString::fromUtf8(c.text)), c.accepted);
    EXPECT_EQ(m_editor.isRefused(key), !c.accepted);
    EXPECT_DOUBLE_EQ(fieldValue(m_record, key), c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LiveEditTest,
    ::testing::Values(
        LiveEdit{"MarkingSpeedHeldToTheSlowerAxis", "MarkingSpeed", "9", true, 8},
        LiveEdit{"PhotoSpeedHeldToTheSlowerAxis", "PhotoSpeed", "8.5", true, 8},
        LiveEdit{"CommaRefusedOnACommaLocale", "MarkingSpeed", "0,5", false, 0.5},
        LiveEdit{"BlanksAroundAreTrimmed", "PulseDistance", "  0.7 ", true, 0.7},
        LiveEdit{"TextRefused", "CornerSpeed", "fast", false, 0.02},
        LiveEdit{"EmptyRefused", "CornerSpeed", "", false, 0.02},
        LiveEdit{"BelowAThousandthRefused", "PulseDistance", "0.0009", false, 0.5},
        LiveEdit{"AThousandthAccepted", "PulseDistance", "0.001", true, 0.001},
        LiveEdit{"ZeroRefusedForASpeed", "X_Speed", "0", false, 10},
        LiveEdit{"ZeroAcceptedForAPosition", "Goto2_Y", "0", true, 0},
        LiveEdit{"NegativeRefusedForAPosition", "X_RefPos", "-1", false, 0},
        LiveEdit{"ZeroAcceptedForAWorkArea", "Z_MinPos", "0", true, 0},
        LiveEdit{"DelayTakesAnyNumber", "EnableOnDelay", "-2.5", true, -2.5},
        LiveEdit{"LinearAccelHeldToTheAxes", "LinearAccel", "9", true, 6},
        LiveEdit{"LinearDecelHeldToTheAxes", "LinearDecel", "3", true, 3},
        LiveEdit{"RadialHeldToLinearAccelAndDecel", "RadialAccel", "9", true, 4},
        LiveEdit{"MaxReprateAtLeastTen", "MaxReprate", "3", true, 10},
        LiveEdit{"MaxReprateHalfToEvenDown", "MaxReprate", "1000.5", true, 1000},
        LiveEdit{"MaxReprateHalfToEvenUp", "MaxReprate", "1001.5", true, 1002},
        LiveEdit{"MaxReprateBeyondTheFieldRefused", "MaxReprate", "1e12", false, 1000},
        LiveEdit{"PulseTrainRateHeldToMaxReprate", "PulseTrainRate", "5000", true, 1000},
        LiveEdit{"PulseTrainRateAtLeastOne", "PulseTrainRate", "0.2", true, 1},
        LiveEdit{"LaserFrequencyRounded", "LaserFrequency", "2500.5", true, 2500},
        LiveEdit{"ResolutionRounded", "XY_CountsPerMM", "2.5", true, 2},
        LiveEdit{"ResolutionOfNoCountRefused", "Z_CountsPerMM", "0.4", false, 10000},
        LiveEdit{"ExponentAccepted", "WheelTick2_X", "1e2", true, 100}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsRulesTest, RefusedTextKeepsTheLastAcceptedValue)
{
    ASSERT_TRUE(m_editor.EditFloatChange("X_Speed", "12"));
    EXPECT_FALSE(m_editor.EditFloatChange("X_Speed", "12x"));
    EXPECT_EQ(m_record.X_Speed, 12);
    EXPECT_TRUE(m_editor.isRed("X_Speed"));
    ASSERT_TRUE(m_editor.EditFloatChange("X_Speed", "13"));
    EXPECT_FALSE(m_editor.isRed("X_Speed"));
}

TEST_F(SettingsRulesTest, SpeedBoxesTurnRedWhenThePulsesCannotKeepUp)
{
    // 1000 Hz and 0.5 µm allow 0.50005 mm/s.
    ASSERT_TRUE(m_editor.EditFloatChange("MarkingSpeed", "0.50005"));
    EXPECT_FALSE(m_editor.markingSpeedRed());
    ASSERT_TRUE(m_editor.EditFloatChange("MarkingSpeed", "0.6"));
    EXPECT_TRUE(m_editor.markingSpeedRed());
    // A change of another box decides again.
    ASSERT_TRUE(m_editor.EditFloatChange("PulseDistance", "0.6"));
    EXPECT_FALSE(m_editor.markingSpeedRed());
    ASSERT_TRUE(m_editor.EditFloatChange("MaxReprate", "500"));
    EXPECT_TRUE(m_editor.markingSpeedRed());
    // A refused text is red even though the stored speed is fine.
    ASSERT_TRUE(m_editor.EditFloatChange("MaxReprate", "1000"));
    EXPECT_FALSE(m_editor.EditFloatChange("MarkingSpeed", "abc"));
    EXPECT_TRUE(m_editor.markingSpeedRed());
    EXPECT_FALSE(m_editor.photoSpeedRed());
    // The photo speed against the photo resolution: 1000.1 Hz × 5 µm = 5.0005 mm/s.
    ASSERT_TRUE(m_editor.EditFloatChange("PhotoSpeed", "6"));
    EXPECT_TRUE(m_editor.photoSpeedRed());
    ASSERT_TRUE(m_editor.EditFloatChange("PhotoResolution", "6"));
    EXPECT_FALSE(m_editor.photoSpeedRed());
}

TEST_F(SettingsRulesTest, FrequencyChecksOfOk)
{
    m_record.MarkingSpeed = 0.50005;
    EXPECT_EQ(m_editor.frequencyCheck(), std::nullopt);
    m_record.MarkingSpeed = 0.6;
    const QString pulse = QStringLiteral(
        "Pulse frequency is too high.  Reduce marking speed to 0.500 mm/s, or increase pulse distance to 0.600 µm.");
    EXPECT_EQ(m_editor.frequencyCheck(), pulse);
    setUserLocale(QLocale(QLocale::German, QLocale::Germany));
    m_record.MaxReprate = 2000; // four digits: no group separator
    m_record.MarkingSpeed = 2.5;
    // Written as the boxes take them, with a point, on a comma locale too.
    EXPECT_EQ(m_editor.frequencyCheck(),
              QStringLiteral("Pulse frequency is too high.  Reduce marking speed to 1.000 mm/s, or increase "
                             "pulse distance to 1.250 µm."));
    // The marking check comes first; then the photo one.
    m_record.MarkingSpeed = 0.5;
    m_record.PhotoSpeed = 12;
    EXPECT_EQ(m_editor.frequencyCheck(),
              QStringLiteral("Photo engraving frequency is too high.  Reduce photo engraving speed to 10.000 mm/s, "
                             "or increase photo engraving resolution to 6.000 µm."));
}

TEST_F(SettingsRulesTest, SpinBoxesStoreNumbersAndIgnoreTheRest)
{
    using O = SettingsEditor::SpinOutcome;
    EXPECT_EQ(m_editor.SpinEditChange("CrossHairX", "400"), O::StoredVideo);
    EXPECT_EQ(m_record.CrossHairX, 400);
    EXPECT_EQ(m_editor.SpinEditChange("VideoRefresh", "55"), O::Stored);
    EXPECT_EQ(m_editor.SpinEditChange("VideoRefresh", ""), O::Ignored);
    EXPECT_EQ(m_editor.SpinEditChange("VideoRefresh", "5x"), O::Ignored);
    EXPECT_EQ(m_record.VideoRefresh, 55);
    EXPECT_EQ(m_editor.SpinEditChange("ContourResolution", "6"), O::Stored);
    EXPECT_EQ(m_record.ContourResolution, 0.10471975511965977);
}

TEST_F(SettingsRulesTest, PasswordIsTrimmedAndCaseSensitive)
{
    const struct {
        const char* typed;
        bool matches;
    } cases[] = {{"TRIMDOG", true}, {"  TRIMDOG ", true}, {"\tTRIMDOG\n", true},
                 {"trimdog", false}, {"TRIM DOG", false}, {"", false}};
    for (const auto& c : cases)
        EXPECT_EQ(m_editor.passwordMatches(QString::fromLatin1(c.typed)), c.matches) << '"' << c.typed << '"';
    m_record.Password = QStringLiteral("other");
    EXPECT_FALSE(m_editor.passwordMatches("TRIMDOG"));
}

TEST_F(SettingsRulesTest, ProtectedControlsFollowServiceModeAndTheAxes)
{
    auto enabled = [&](const char* name) {
        for (const ProtectedControl& c : SettingsEditor::protectedControls())
            if (std::string_view(c.name) == name)
                return m_editor.isEnabled(c.needs);
        ADD_FAILURE() << name << " is not protected";
        return true;
    };
    m_record.UseZaxis = true;
    m_editor.ST_Service = false;
    for (const char* name : {"ButtonExit", "EditXY_CountsPerMM", "EditZ_Speed", "EditMaxReprate", "ButtonTest",
                             "ComboBoxSource", "ButtonEditWorkingDir", "CheckBoxInvertLimits"})
        EXPECT_FALSE(enabled(name)) << name;
    EXPECT_TRUE(enabled("EditGoto1_Z"));

    m_editor.ST_Service = true;
    for (const char* name : {"ButtonExit", "EditXY_CountsPerMM", "EditZ_Speed", "CheckBoxXAxesLowCurrentMode"})
        EXPECT_TRUE(enabled(name)) << name;
    for (const char* name : {"EditA_Speed", "CheckBoxUseAaxis", "EditWheelTick2_A"})
        EXPECT_FALSE(enabled(name)) << name;

    m_record.UseZaxis = false;
    for (const char* name : {"EditZ_Speed", "CheckBoxXAxesLowCurrentMode", "EditWheelTick3_Z", "EditGoto1_Z"})
        EXPECT_FALSE(enabled(name)) << name;
    EXPECT_TRUE(enabled("EditY_MaxPos"));
}

TEST(SettingsCombos, StoredTextIsLookedUpExactly)
{
    const QStringList modes = labelTextLengthModes();
    EXPECT_EQ(comboIndexOfStoredText(modes, "Fixed "), 1);
    EXPECT_EQ(comboIndexOfStoredText(modes, "Fixed"), -1); // the blank belongs to the value
    EXPECT_EQ(comboIndexOfStoredText(modes, "Minimum"), 3);
    EXPECT_EQ(comboIndexOfStoredText(labelTextTypes(), "Numeric only"), 2);
    EXPECT_EQ(comboIndexOfStoredText(labelTextTypes(), ""), -1);
}

TEST(RingLightPort, ComNumberOrDevicePath)
{
    EXPECT_EQ(ringLightPortName(8, ""), QStringLiteral("COM8"));
    EXPECT_EQ(ringLightPortName(3, "  /dev/ttyACM0 "), QStringLiteral("/dev/ttyACM0"));
    EXPECT_EQ(ringLightPortFields("COM12"), (RingLightPortFields{12, {}}));
    EXPECT_EQ(ringLightPortFields("/dev/ttyACM0"), (RingLightPortFields{8, "/dev/ttyACM0"}));
    EXPECT_EQ(ringLightPortFields(""), (RingLightPortFields{8, {}}));
    EXPECT_EQ(ringLightPortFields("COMx"), (RingLightPortFields{8, "COMx"}));
}

TEST_F(SettingsRulesTest, ReloadTakesWhatTheControlsHoldForMissingKeys)
{
    store().WriteString("Motion", "X_Speed", "12");
    ControlTexts controls{{"X_Speed", "7"},     {"Y_Speed", "9"},        {"Z_CountsPerMM", "abc"},
                          {"VideoScale", "250"}, {"Password", "typed"}, {"LaserCurrent", "3"},
                          {"CrossHair", "65280"}, {"WLabelTextType", "Numeric only"}};
    TSettings r;
    LoadSettingsFromRegistery(store(), r, controls);
    EXPECT_EQ(r.X_Speed, 12);        // stored wins
    EXPECT_EQ(r.Y_Speed, 9);         // missing: the control
    EXPECT_EQ(r.Z_CountsPerMM, 10000); // the control's text is not a count
    EXPECT_EQ(r.VideoScale, 250);
    EXPECT_EQ(r.CrossHair, 65280u);
    EXPECT_EQ(r.WLabelTextType, QStringLiteral("Numeric only"));
    EXPECT_EQ(r.Password, QStringLiteral("TRIMDOG")); // fixed defaults
    EXPECT_EQ(r.LaserCurrent, 10);
    EXPECT_EQ(r.X_Accel, 5); // no control: the table
}

} // namespace
