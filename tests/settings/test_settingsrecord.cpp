// The settings record: defaults, fallbacks, locale, derived values and the save/load round trip.
#include "settings/settingsrecord.h"
#include "settings/settingsexport.h"
#include "settings/settingskeys.h"

#include "platform/debuglog.h"
#include "platform/numfmt.h"
#include "testsupport.h"

#include <cmath>

using namespace lapido;

class SettingsRecordTest : public test::StationFixture {
protected:
    TSettings load()
    {
        TSettings r;
        LoadSettingsFromRegistery(store(), r);
        return r;
    }
    void TearDown() override
    {
        setUserLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        StationFixture::TearDown();
    }
    void SetUp() override
    {
        StationFixture::SetUp();
        setUserLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    }
};

// In every locale: the default texts of the tables carry a point, and a missing key is no
// unreadable value.
TEST_F(SettingsRecordTest, EmptyStoreGivesTheTableDefaults)
{
    for (const QLocale& locale : {QLocale(QLocale::English, QLocale::UnitedStates), QLocale(QLocale::German, QLocale::Germany),
                                  QLocale(QLocale::French, QLocale::France)}) {
        SCOPED_TRACE(locale.name().toStdString());
        setUserLocale(locale);
        const TSettings r = load();
        TSettings expected;
        expected.ContourResolution = contourResolutionRadians(6);
        UpdateVideoView(expected, false, 768, 576);
        EXPECT_EQ(r, expected);
        EXPECT_EQ(r.X_Accel, 5);
        EXPECT_EQ(r.MarkingSpeed, 0.5);
        EXPECT_EQ(r.StartUp_Z, 12.5);
        EXPECT_EQ(r.SpotDiameter, 10);
        EXPECT_FALSE(r.UseAaxis);
        EXPECT_TRUE(r.Auto_Backup);
        EXPECT_NEAR(r.WheelTick1_X, 1000.0 / 300.0, 1e-12);
        EXPECT_EQ(r.ContourResolution, 0.10471975511965977);
        EXPECT_EQ(r.BeforeMarking_Z, 12.5);
        EXPECT_EQ(r.WLabeTextLengthMode, QStringLiteral("-- Disabled --"));
    }
}

TEST(SettingsRecordBeforeLoading, ContourResolutionIsOneDegree)
{
    EXPECT_EQ(TSettings{}.ContourResolution, 0.017453292519943295);
}

struct Fallback {
    const char* section;
    const char* key;
    const char* stored;
    double expected;
};

class SettingsFallbackTest : public SettingsRecordTest, public ::testing::WithParamInterface<Fallback> {};

// The value each field ends up with, by key name (the printed record is the record).
double fieldValue(const TSettings& r, const QString& key)
{
    for (const QString& line : settingsRecordLines(r))
        if (line.startsWith(key + QChar('=')))
            return StrToFloat(line.mid(key.size() + 1), QChar('.')).value_or(NAN);
    return NAN;
}

TEST_P(SettingsFallbackTest, UnparsableTextFallsBackAsTheTablesSay)
{
    const auto& c = GetParam();
    store().WriteString(c.section, c.key, c.stored);
    EXPECT_EQ(fieldValue(load(), c.key), c.expected) << c.key << "=" << c.stored;
}

INSTANTIATE_TEST_SUITE_P(Table, SettingsFallbackTest,
                         ::testing::Values(Fallback{"Motion", "X_Accel", "abc", 100},
                                           Fallback{"Positioning", "Goto3_Y", "x", 15},
                                           Fallback{"Positioning", "StartUp_Y", "?", 15},
                                           Fallback{"Marking", "MarkingSpeed", "fast", 0.2},
                                           Fallback{"Marking", "LinearAccel", "", 1},
                                           Fallback{"Marking", "SpotDiameter", "wide", 10},
                                           Fallback{"Motion", "XY_CountsPerMM", "20000.5", 10000},
                                           Fallback{"Motion", "A_CountsPerDeg", "many", 50000},
                                           Fallback{"Marking", "MaxReprate", "1e3", 1000},
                                           Fallback{"Video", "VideoScale", "500000", 500000},
                                           Fallback{"3DMouse", "XMovementSpeedUp", "quick", 1},
                                           Fallback{"Hardware", "EnableOnDelay", "soon", 0}));

TEST_F(SettingsRecordTest, BeforeAndAfterMarkingZFollowsTheStartUpZ)
{
    store().WriteString("Positioning", "StartUp_Z", "20");
    EXPECT_EQ(load().AfterMarking_Z, 20);
    store().WriteString("Positioning", "BeforeAndAfterMarking_Z", "not a number");
    EXPECT_EQ(load().BeforeMarking_Z, 20);
    store().WriteString("Positioning", "BeforeAndAfterMarking_Z", "3.5");
    const TSettings r = load();
    EXPECT_EQ(r.BeforeMarking_Z, 3.5);
    EXPECT_EQ(r.AfterMarking_Z, 3.5);
}

TEST_F(SettingsRecordTest, SaveThenLoadGivesTheSameRecord)
{
    TSettings r = load();
    r.X_Speed = 12.75;
    r.MarkingSpeed = 0.3;
    r.XY_CountsPerMM = 20000;
    r.ContourResolution = contourResolutionRadians(8);
    r.CrossHair = 0x00FF00;
    r.TotalPulseCount = 9'876'543'210LL;
    r.WLabeTextLengthMode = QStringLiteral("Fixed ");
    r.X_Reversed = true;
    r.Password = QStringLiteral("secret");
    r.SpotDiameter = 7.5;
    SaveSettingsToRegistery(store(), r);
    EXPECT_EQ(store().ReadString("Marking", "SpotDiameter", ""), QStringLiteral("7.5"));
    EXPECT_EQ(store().ReadString("Motion", "XY_CountsPerMM", ""), QStringLiteral("20000"));
    EXPECT_EQ(store().ReadString("Marking", "ContourResolution", ""), QStringLiteral("8"));
    EXPECT_EQ(store().ReadString("Hardware", "UseAaxis", ""), QStringLiteral("0"));
    EXPECT_EQ(load(), r);
}

TEST_F(SettingsRecordTest, SaveLeavesTheButtonKeysAndTheNeverWrittenKeysAlone)
{
    SaveSettingsToRegistery(store(), load());
    for (const char* key : {"WorkingDir", "BackupPath", "Backupdate", "VaultkeepLink", "BeforeAndAfterMarking_Z",
                            "XMovementSpeedUp", "WheelTick1_X", "BeforeMarking_Z"})
        for (const auto& e : store().entries())
            EXPECT_NE(e.key, QString::fromLatin1(key));
}

TEST_F(SettingsRecordTest, SavingTheDelaysWritesTheirDebugLines)
{
    TSettings r = load();
    r.EnableOnDelay = 0.3;
    r.SystemOnDelay = 0.25;
    DebugLogCapture log;
    SaveSettingsToRegistery(store(), r);
    const auto lines = log.lines();
    const std::vector<std::string> expected = {"AppRegistry.WriteString Hardware EnableOnDelay0.3",
                                               "AppRegistry.WriteString Hardware EnableOffDelay0",
                                               "AppRegistry.WriteString Hardware SystemOnDelay0.25"};
    EXPECT_EQ(lines, expected);
}

TEST_F(SettingsRecordTest, CommaLocaleWritesACommaAndReadsItBack)
{
    setUserLocale(QLocale(QLocale::German, QLocale::Germany));
    TSettings r = load();
    r.MarkingSpeed = 0.5;
    r.PulseDistance = 0.25;
    SaveSettingsToRegistery(store(), r);
    EXPECT_EQ(store().ReadString("Marking", "MarkingSpeed", ""), QStringLiteral("0,5"));
    EXPECT_EQ(load().PulseDistance, 0.25);
    store().WriteString("Marking", "MarkingSpeed", "0.5"); // from a station with a point
    EXPECT_EQ(load().MarkingSpeed, 0.2);
}

TEST_F(SettingsRecordTest, ContourResolutionDegreesAndRadians)
{
    EXPECT_EQ(contourResolutionRadians(6), 0.10471975511965977);
    EXPECT_EQ(contourResolutionDegrees(contourResolutionRadians(6)), 6);
    for (int d = 3; d <= 10; ++d)
        EXPECT_EQ(contourResolutionDegrees(contourResolutionRadians(d)), d);
}

TEST_F(SettingsRecordTest, VideoViewAndOnePixelSteps)
{
    TSettings r = load();
    r.CrossHairX = 400;
    r.CrossHairY = 300;
    VideoView v = UpdateVideoView(r, true, 768, 576);
    EXPECT_EQ(v.scale, 150);
    EXPECT_EQ(v.crossHairX, 392);
    EXPECT_EQ(v.crossHairY, 294);
    EXPECT_NEAR(r.WheelTick1_Y, 1000.0 / 150.0, 1e-12);
    r.VideoScale = 3;
    v = UpdateVideoView(r, true, 768, 576);
    EXPECT_EQ(v.scale, 1);
    EXPECT_EQ(r.WheelTick1_X, 1);
    r.VideoScale = 0; // a stored zero must not divide by zero
    v = UpdateVideoView(r, false, 768, 576);
    EXPECT_EQ(r.WheelTick1_A, 1);
}

TEST(SettingsExport, RoundTripsAwkwardNamesAndValues)
{
    const std::vector<SettingsEntry> entries = {
        {"Layout", "TextLabel", QStringLiteral("tab\there\nnew line\r\\back=slash")},
        {"Layout", "Key=With=Equals", "  padded  "},
        {"Layout", "[bracket", ""},
        {"Layout", "#hash", "#not a comment"},
        {"Other ] Section", "Ünï", QStringLiteral("€ 5")},
    };
    const auto parsed = parseSettingsText(exportSettingsText(entries));
    ASSERT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
    EXPECT_EQ(parsed.entries, entries);
}

TEST(SettingsExport, MalformedTextIsRefusedWhole)
{
    const QString end = kSettingsExportEnd + QStringLiteral("\n");
    const auto parsed = parseSettingsText(QStringLiteral("[A]\nok=1\nno separator here\n") + end);
    EXPECT_TRUE(parsed.error.startsWith(QStringLiteral("line 3"))) << parsed.error.toStdString();
    EXPECT_TRUE(parsed.entries.empty());
    EXPECT_TRUE(parseSettingsText(QStringLiteral("key=before any section\n") + end).error.startsWith(QStringLiteral("line 1")));
    EXPECT_TRUE(parseSettingsText(QStringLiteral("[A]\nk=bad\\q\n") + end).error.startsWith(QStringLiteral("line 2")));
    EXPECT_TRUE(parseSettingsText(QStringLiteral("[A]\nk=1\n") + end + QStringLiteral("[B]\nk=2\n")).error.contains("after the closing line"));
}

// An export cut off anywhere, even in the middle of a value or of its closing line, is refused
// whole: an import never sets "s" where the export said "sim".
TEST(SettingsExport, AnExportCutShortIsRefused)
{
    const QString text = exportSettingsText({{"Hardware", "GalilIP", "sim"}, {"Marking", "MarkingSpeed", "0.3"}});
    ASSERT_TRUE(parseSettingsText(text).error.isEmpty());
    ASSERT_TRUE(parseSettingsText(text.chopped(1)).error.isEmpty()) << "the last line end is optional";
    for (qsizetype n = 0; n < text.size() - 1; ++n) {
        const ParsedSettings cut = parseSettingsText(text.left(n));
        EXPECT_FALSE(cut.error.isEmpty()) << "cut after " << n << " characters";
        EXPECT_TRUE(cut.entries.empty());
    }
}

TEST(SettingsExport, LinesMayEndInCrLf)
{
    const std::vector<SettingsEntry> entries = {{"Layout", "TextLabel", QStringLiteral("line\rbreak")}, {"Layout", "#k", "v"}};
    QString text = exportSettingsText(entries);
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    const auto parsed = parseSettingsText(text);
    ASSERT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
    EXPECT_EQ(parsed.entries, entries);
}

TEST_F(SettingsRecordTest, DirectKeysReadTheirDefaults)
{
    EXPECT_EQ(keys::read(keys::DbUserName), QStringLiteral("sa"));
    EXPECT_EQ(keys::read(keys::EnableOnDelaySeconds), 8);
    store().WriteString("Hardware", "EnableOnDelay", "0.3");
    EXPECT_EQ(keys::read(keys::EnableOnDelaySeconds), 8); // a fraction is not whole seconds
    EXPECT_EQ(keys::allOffLightTemplate().left(16), QStringLiteral("0#0#0#0#@1#0#0#0"));
    EXPECT_TRUE(keys::allOffLightTemplate().endsWith(QStringLiteral("15#0#0#0#@")));
}
