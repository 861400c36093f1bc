// TLaser command streams: what DMCCmd sends for start-up, moves, output lines, marking and cam.
#include "platform/debuglog.h"
#include "platform/numfmt.h"

#include "test_laserfixture.h"

#include <cmath>

namespace lapido {
namespace {

using test::Commands;

class LaserCommandTest : public test::LaserFixture {};

TEST_F(LaserCommandTest, InitializeWithoutHomingOnAReversedXAxis)
{
    m_settings.X_Reversed = true;
    m_settings.X_RefPos = 2;
    m_settings.Y_RefPos = 1;
    TLaser& l = applied();
    l.setStartSwitches({.noHoming = true});
    l.Initialize();
    const Commands expected{
        "MG _BGX", "RS", "CB1", "CB2;CB4;CB5", "CB3;CB6;CB7", "SB3", "SB6;WT20;CB6", "MT -2,-2,-2,-2",
        "LC 1,1,1,1", "CE 3",
        // axis set-up
        "STXYZ", "LC 1,1,1,1", "AG 1,1,1,0", "CN -1", "CN ,-1", "MT ,,,2", "AC 5000,5000,5000",
        "DC 5000,5000,5000", "SP 10000,10000,10000", "GAW=S", "GMW=1", "SH", "WT50",
        // reference, limits swapped and negated for X, start-up position
        "DC 5000,5000,5000", "DP -2000,1000,0", "DE -2000", "BL -35000,1000,1000", "FL -1000,35000,35000",
        "SP 10000,10000,10000", "PA -15000,12500,12500", "BGXY"};
    EXPECT_EQ(m_sent, expected);
    EXPECT_TRUE(l.Initialized);
}

struct HomingCase {
    const char* name;
    bool noHoming;
    bool debugMode;
    DialogResult answer;
    bool homes;
};

class LaserHomingTest : public LaserCommandTest, public ::testing::WithParamInterface<HomingCase> {};

TEST_P(LaserHomingTest, StartSwitchesDecideHoming)
{
    const HomingCase& c = GetParam();
    TLaser& l = applied();
    l.setStartSwitches({c.noHoming, c.debugMode});
    m_dialogs.queueAnswer(c.answer);
    l.Initialize();
    EXPECT_TRUE(l.Initialized);
    const bool asked = m_dialogs.texts().contains(QStringLiteral("Do Homing?"));
    EXPECT_EQ(asked, c.debugMode && !c.noHoming);
    const std::size_t hm = indexOf("HM");
    EXPECT_EQ(hm < m_sent.size(), c.homes);
    if (c.homes) {
        EXPECT_EQ(m_sent.at(hm - 1), "DC 67107840,67107840,67107840");
        EXPECT_EQ(m_sent.at(hm + 1), "BGXY");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Switches, LaserHomingTest,
    ::testing::Values(HomingCase{"Normal", false, false, DialogResult::Yes, true},
                      HomingCase{"NoHoming", true, false, DialogResult::Yes, false},
                      HomingCase{"DebugYes", false, true, DialogResult::Yes, true},
                      HomingCase{"DebugNo", false, true, DialogResult::No, false},
                      HomingCase{"DebugNoHoming", true, true, DialogResult::Yes, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LaserCommandTest, MovesOnAReversedXAxis)
{
    m_settings.X_Reversed = true;
    TLaser& l = applied();
    l.MoveTo(1.5, 2, 0);
    EXPECT_EQ(m_sent, (Commands{"SP 10000,10000,10000", "PA -1500,2000,0", "BGXY"}));
    m_sent.clear();
    Settings().UseZaxis = true;
    l.MoveZFastTo(1, 1, 2, 3);
    l.IncrementX(0.25);
    l.IncrementZ(-0.0025); // -2.5 counts: halves go to even
    l.JogX(1.5);
    EXPECT_EQ(m_sent, (Commands{"SP 10000,10000,30000", "PA -1000,1000,2000", "BGXYZ", "SP 10000,10000,10000",
                                "IP -250", "SP 10000,10000,10000", "IP ,,-2", "JG -1500", "BGX"}));
    m_sent.clear();
    Settings().UseZaxis = false;
    l.IncrementZ(1);
    l.JogZ(1);
    EXPECT_TRUE(m_sent.empty()) << "no Z moves without a motorised Z";
}

TEST_F(LaserCommandTest, EnableOffWithAShortDelayWaitsInTheController)
{
    m_settings.EnableOffDelay = 0.3;
    TLaser& l = applied();
    ASSERT_TRUE(l.EnableOn());
    EXPECT_EQ(m_sent, (Commands{"WT0", "SB2", "SB4;WT20;CB4", "WT0"}));
    m_sent.clear();
    l.EnableOff();
    EXPECT_EQ(m_sent, (Commands{"WT300", "CB2", "SB5;WT20;CB5"}));
    EXPECT_FALSE(l.EnableIsOn);
}

TEST_F(LaserCommandTest, EnableOffWithALongDelayIsPendingAndEnableOnCancelsIt)
{
    m_settings.EnableOffDelay = 2;
    TLaser& l = applied();
    ASSERT_TRUE(l.EnableOn());
    m_sent.clear();
    l.EnableOff();
    EXPECT_TRUE(m_sent.empty());
    m_clock.advanceUs(1'000'000);
    ASSERT_TRUE(l.EnableOn());
    EXPECT_EQ(m_sent, (Commands{"WT0", "SB2", "SB4;WT20;CB4", "WT0"})) << "enable sequence again, no switch-off";
    m_sent.clear();
    m_clock.advanceUs(1'500'000);
    l.CheckTimers();
    EXPECT_TRUE(m_sent.empty()) << "the cancelled switch-off never comes";

    l.EnableOff();
    m_clock.advanceUs(2'100'000);
    l.CheckTimers();
    EXPECT_EQ(m_sent, (Commands{"CB2", "SB5;WT20;CB5"}));
}

TEST_F(LaserCommandTest, EnableOnDuringSystemStartUpWaitsTheRemainderInTheController)
{
    m_settings.SystemOnDelay = 0.25;
    TLaser& l = applied();
    l.SystemOn();
    m_clock.advanceUs(100'000);
    m_sent.clear();
    ASSERT_TRUE(l.EnableOn());
    ASSERT_FALSE(m_sent.empty());
    EXPECT_EQ(m_sent.front(), "WT150");
    EXPECT_TRUE(m_dialogs.transcript().empty());
    EXPECT_FALSE(l.SystemIsOn);
    m_clock.advanceUs(200'000);
    l.CheckTimers();
    EXPECT_TRUE(l.SystemIsOn);
}

TEST_F(LaserCommandTest, AbortedEnableWaitSwitchesTheEnableLineOffAgain)
{
    store().WriteString(QStringLiteral("Hardware"), QStringLiteral("EnableOnDelay"), QStringLiteral("3"));
    TLaser& l = applied();
    m_dialogs.abortNextWaitAfter(2);
    EXPECT_FALSE(l.EnableOn());
    EXPECT_EQ(m_sent, (Commands{"WT0", "SB2", "SB4;WT20;CB4", "CB2", "SB5;WT20;CB5"}));
    EXPECT_FALSE(l.EnableIsOn);
}

struct GearCase {
    const char* name;
    int countsPerMm;
    double pulseDistanceUm;
    QLocale::Language language;
    const char* command;
};

class LaserGearTest : public LaserCommandTest, public ::testing::WithParamInterface<GearCase> {};

TEST_P(LaserGearTest, GearRatioIsClampedAndAlwaysUsesAPoint)
{
    const GearCase& c = GetParam();
    const QLocale previous = userLocale();
    setUserLocale(QLocale(c.language));
    m_settings.XY_CountsPerMM = c.countsPerMm;
    m_settings.PulseDistance = c.pulseDistanceUm;
    TLaser& l = applied();
    l.StartLIXYMode();
    EXPECT_EQ(m_sent.at(3), c.command);
    m_sent.clear();
    l.SetVariable("  V1 ", 0.5);
    EXPECT_EQ(m_sent, Commands{"V1=0.5"});
    setUserLocale(previous);
}

INSTANTIATE_TEST_SUITE_P(
    Ratios, LaserGearTest,
    ::testing::Values(GearCase{"Two", 1000, 0.5, QLocale::English, "GRW=2"},
                      GearCase{"Clamped", 5, 0.5, QLocale::English, "GRW=127"},
                      GearCase{"CommaLocale", 1000, 0.4, QLocale::German, "GRW=2.5"},
                      GearCase{"Fraction", 1000, 0.3, QLocale::English, "GRW=3.33333333333333"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LaserCommandTest, VectorModeBeginsBeforeThe51stVertexWithContourBuffering50)
{
    Settings().ContourBuffering = 50;
    TLaser& l = applied();
    l.MoveTo(1, 1);
    l.WaitOnMotionComplete();
    m_sent.clear();
    l.StartLIXYMode();
    EXPECT_EQ(m_sent, (Commands{"GAW=N", "DPW=0", "GAW=S", "GRW=0.2", "CS", "LM XY", "VS 500", "VA 5000", "VD 5000"}));
    m_sent.clear();
    for (int i = 1; i <= 60; ++i) {
        l.AddLIXYVertex(1 + 0.01 * i, 1, 0.3);
        if (i == 1)
            l.AddLIXYVertex(1.01, 1, 0.3); // a zero-length segment is never sent
    }
    l.FinishLIXYMode();
    EXPECT_EQ(m_sent.front(), "LI 10,0 <500 >300");
    const std::size_t bgs = indexOf("BGS");
    ASSERT_LT(bgs, m_sent.size());
    EXPECT_EQ(count("LI ", bgs), 50);
    EXPECT_EQ(m_sent.at(bgs - 1), "SB1") << "the gate opens just before the motion begins";
    EXPECT_EQ(count("LI "), 60);
    EXPECT_EQ(count("BGS"), 1);
    EXPECT_EQ(l.LIXYSegmentSent, 60);
    EXPECT_EQ(Commands(m_sent.end() - 3, m_sent.end()), (Commands{"LE", "CB1", "GRW=0"}));
    EXPECT_EQ(l.bufferGauge(), 0);
}

TEST_F(LaserCommandTest, ShortContourIsBegunByFinishAndAStoppedOneIsNot)
{
    TLaser& l = applied();
    l.StartLIXYMode();
    l.AddLIXYVertex(0.1, 0, 1);
    l.AddLIXYVertex(0.1, 0.1, 1);
    m_sent.clear();
    l.FinishLIXYMode();
    EXPECT_EQ(Commands(m_sent.begin(), m_sent.begin() + 3), (Commands{"LE", "SB1", "BGS"}));

    l.StartLIXYMode();
    l.AddLIXYVertex(0, 0.1, 1);
    m_sent.clear();
    l.StopLIXYMode();
    l.FinishLIXYMode();
    EXPECT_EQ(count("STS"), 0) << "nothing was running";
    EXPECT_EQ(count("BGS"), 0);
    EXPECT_EQ(count("LE"), 1);
}

TEST_F(LaserCommandTest, DotModeBeginsBeforeThe27thDotWithContourBuffering51)
{
    Settings().ContourBuffering = 51;
    m_settings.Y_Accel = 4;
    m_settings.X_Decel = 3;
    TLaser& l = applied();
    l.StartLIXY_Pulse_Mode();
    EXPECT_EQ(m_sent, (Commands{"GAW=N", "GRW=1", "CS", "LM XYW", "VS 100", "VA 4000", "VD 3000"}));
    m_sent.clear();
    for (int i = 1; i <= 30; ++i)
        l.AddLIXY_Pulse(0.01 * i, 0, false);
    l.AddLIXY_Pulse(0.31, 0, true);
    l.FinishLIXYMode();
    EXPECT_EQ(Commands(m_sent.begin(), m_sent.begin() + 2), (Commands{"LI 10,0,,0", "LI 0,0,,1"}));
    const std::size_t bgs = indexOf("BGS");
    ASSERT_LT(bgs, m_sent.size());
    EXPECT_EQ(count("LI 0,0,,1", bgs), 26);
    EXPECT_EQ(l.LIXYSegmentSent, 61);
    EXPECT_EQ(count("LI 10,0,,0>1"), 1);
}

TEST_F(LaserCommandTest, PulsesAndPulseTrains)
{
    TLaser& l = applied();
    l.SystemOn();
    l.EmitPulseTrain(1, 100);
    const Commands train{"SB1", "GAW=N", "GRW=0.1", "ACN=67107840", "DCN=67107840", "SPN=1000", "PRN=10", "BGN", "CB1"};
    const std::size_t open = indexOf("SB1");
    ASSERT_LE(open + train.size(), m_sent.size());
    EXPECT_EQ(Commands(m_sent.begin() + open, m_sent.begin() + open + train.size()), train);
    EXPECT_EQ(sim().markCount(), 1u) << "one pulse fired with the gate open";

    m_sent.clear();
    l.EmitPulse(50);
    EXPECT_EQ(count("SB1;WT50;CB1"), 1);
    EXPECT_FALSE(l.EnableIsOn);

    m_sent.clear();
    l.EmitPulseTrain(0, 100);
    l.EmitPulseTrain(5, 0);
    EXPECT_TRUE(m_sent.empty()) << "a train that cannot advance is refused";
}

TEST_F(LaserCommandTest, AfterAndBeforeMarkingPositionsToggleOnce)
{
    Settings().UseZaxis = true;
    Settings().AfterMarking_Z = 2;
    Settings().BeforeMarking_Z = 2;
    store().WriteString(QStringLiteral("Positioning"), QStringLiteral("BeforeAndAfterMarkingSpeedUp"), QStringLiteral("3"));
    TLaser& l = applied();
    l.ServoHere();
    l.MoveTo(5, 5, 10);
    m_sent.clear();
    DebugLogCapture log;
    l.MoveToAfterMarkingPosition();
    l.MoveToAfterMarkingPosition();
    EXPECT_EQ(m_sent, (Commands{"SP 10000,10000,30000", "PA 5000,5000,8000", "BGXYZ"})) << "waits for the move, then once";
    EXPECT_TRUE(l.InAfterMarkingPosition);
    m_sent.clear();
    l.MoveToBeforeMarkingPosition();
    l.MoveToBeforeMarkingPosition();
    EXPECT_EQ(m_sent, (Commands{"SP 10000,10000,30000", "PA 5000,5000,10000", "BGXYZ"}));
    EXPECT_FALSE(l.InAfterMarkingPosition);
    const auto lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "AfterMarking_Z2"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "BeforeMarking_Z2"), lines.end());
}

TEST_F(LaserCommandTest, EchoShowsCommandsAndRepliesButNotStatusReads)
{
    TLaser& l = applied();
    std::vector<std::pair<EchoLine, std::string>> memo;
    l.setEchoHook([&](EchoLine kind, const std::string& text) { memo.emplace_back(kind, text); });
    l.SetVariable("V1", 1.5);
    EXPECT_DOUBLE_EQ(l.Getvariable("V1"), 1.5);
    l.IsMoving();
    double x, y, z, w;
    l.GetPosition(x, y, z, w);
    l.DistanceToTarget(x, y, z);
    const std::vector<std::pair<EchoLine, std::string>> expected{
        {EchoLine::Command, "V1=1.5"}, {EchoLine::Reply, ""}, {EchoLine::Command, "V1="}, {EchoLine::Reply, "1.5000"}};
    EXPECT_EQ(memo, expected);
    memo.clear();
    l.ShowDMCCmd = false;
    l.MoveTo(1, 1);
    EXPECT_TRUE(memo.empty());
}

struct CamCase {
    const char* name;
    bool xReversed;
    const char* firstEntry;
    const char* leftPosition;
    const char* encoder;
    const char* engage;
};

class LaserCamTest : public LaserCommandTest, public ::testing::WithParamInterface<CamCase> {};

TEST_P(LaserCamTest, CamSetUpForNormalAndReversedX)
{
    const CamCase& c = GetParam();
    Settings().UseZaxis = true;
    m_settings.X_Reversed = c.xReversed;
    TLaser& l = applied();
    for (int i = 0; i <= 50; ++i)
        l.Z_ECAMTable[i] = 12 + 0.01 * i;
    DebugLogCapture log;
    l.XZ_ECAM_Start(2.0, 0.1);

    const std::size_t et0 = indexOf("ET[0]=,,12000") < m_sent.size() ? indexOf("ET[0]=,,12000") : indexOf("ET[0]=,,12500");
    ASSERT_LT(et0 + 51, m_sent.size());
    EXPECT_EQ(m_sent.at(et0), c.firstEntry);
    EXPECT_EQ(m_sent.at(et0 + 7), c.xReversed ? "ET[7]=,,12430" : "ET[7]=,,12070");
    const Commands tail(m_sent.begin() + et0 + 51, m_sent.end());
    const Commands expected{"EB0", "EAX", "EM 5000,500", "EP 100,0", "SHXZ", "LC ,,1", c.leftPosition,
                            "SP 10000,10000,10000", "BGXZ", "MCXZ", "SP 10000,10000,10000", c.encoder,
                            "DP ,,12000", "EB1", "WT300", c.engage};
    EXPECT_EQ(tail, expected);
    EXPECT_EQ(keys::read(keys::GalilIsBusy), QStringLiteral("0"));

    const auto lines = log.lines();
    auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    EXPECT_TRUE(has("Wrote 1 to Lapidograph\\LaserSource\\GalilIsBusy"));
    EXPECT_TRUE(has(c.xReversed ? "X is reversed" : "X is not reversed"));
    EXPECT_TRUE(has(c.xReversed ? "X start counts : -7000" : "X start counts: 2000"));
    EXPECT_TRUE(has("X_Interval_Counts : 100"));
    std::string heights = "ECAM: ";
    for (double h : l.Z_ECAMTable)
        heights += FloatToStr(h).toStdString() + " ";
    EXPECT_TRUE(has(heights)) << "heights in stored order";
    EXPECT_EQ(lines.back(), "Wrote 0 to Lapidograph\\LaserSource\\GalilIsBusy");
}

INSTANTIATE_TEST_SUITE_P(Axes, LaserCamTest,
                         ::testing::Values(CamCase{"NormalX", false, "ET[0]=,,12000", "PA 2000,,12000", "DE 0,,12000", "EG,,0"},
                                           CamCase{"ReversedX", true, "ET[0]=,,12500", "PA -2000,,12000",
                                                   "DE 4999,,12000", "EG,,4999"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LaserCommandTest, CamIntervalBelowOneCountClearsTheBusyFlagAgain)
{
    Settings().UseZaxis = false;
    TLaser& l = applied();
    l.XZ_ECAM_Start(2.0, 0.1);
    EXPECT_TRUE(m_sent.empty());
    EXPECT_FALSE(store().value(QStringLiteral("LaserSource"), QStringLiteral("GalilIsBusy")).has_value());

    Settings().UseZaxis = true;
    l.XZ_ECAM_Start(2.0, 0.0004);
    EXPECT_EQ(count("ET["), 0);
    EXPECT_EQ(keys::read(keys::GalilIsBusy), QStringLiteral("0"));
    m_sent.clear();
    l.XZ_ECAM_Stop();
    EXPECT_EQ(m_sent, (Commands{"EB0", "LC ,,1"}));
}

struct BadSettingsCase {
    const char* name;
    void (*spoil)(TSettings&);
    const char* mentions;
};

class LaserBadSettingsTest : public LaserCommandTest, public ::testing::WithParamInterface<BadSettingsCase> {};

TEST_P(LaserBadSettingsTest, RefusedBeforeAnythingIsSent)
{
    const BadSettingsCase& c = GetParam();
    TLaser& l = applied();
    TSettings bad = m_settings;
    c.spoil(bad);
    const auto error = ApplyMotionSettings(bad, l);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->contains(QLatin1String(c.mentions))) << error->toStdString();
    EXPECT_TRUE(m_sent.empty());
    EXPECT_EQ(l.XY_CountsPerMM, 1000) << "the machine keeps its last good values";
    EXPECT_EQ(l.X_Speed, 10);
}

INSTANTIATE_TEST_SUITE_P(
    Values, LaserBadSettingsTest,
    ::testing::Values(BadSettingsCase{"ZeroCounts", [](TSettings& s) { s.XY_CountsPerMM = 0; }, "XY_CountsPerMM"},
                      BadSettingsCase{"NegativeZCounts", [](TSettings& s) { s.Z_CountsPerMM = -1000; }, "Z_CountsPerMM"},
                      BadSettingsCase{"ZeroSpeed", [](TSettings& s) { s.X_Speed = 0; }, "X_Speed"},
                      BadSettingsCase{"NegativeAccel", [](TSettings& s) { s.Z_Accel = -5; }, "Z_Accel"},
                      BadSettingsCase{"NaNDecel", [](TSettings& s) { s.LinearDecel = std::nan(""); }, "LinearDecel"},
                      BadSettingsCase{"ZeroPulseDistance", [](TSettings& s) { s.PulseDistance = 0; }, "PulseDistance"},
                      BadSettingsCase{"CountsOverflow", [](TSettings& s) { s.Y_Speed = 1e7; }, "Y speed in counts"}),
    [](const auto& info) { return std::string(info.param.name); });

// A link that never connects: the station without a controller.
class DeadTransport final : public GalilTransport {
public:
    std::string address() const override { return "dead"; }
    void setAddress(std::string_view) override {}
    bool connect() override { return false; }
    void disconnect() override {}
    std::string connection() const override { return {}; }
    GalilReply command(std::string_view, std::string_view, std::string_view, bool) override { return {}; }
};

TEST_F(LaserCommandTest, WithoutHardwareTheOperatorIsToldAndNothingIsSent)
{
    TLaser l(std::make_unique<TDMC>(std::make_unique<DeadTransport>()));
    EXPECT_FALSE(l.HardwareFound);
    EXPECT_TRUE(l.terminateRequested());
    EXPECT_TRUE(m_dialogs.texts().contains(
        QStringLiteral("No hardware detected! please make sure the power is on and restart Lapidograph.")));
    Commands sent;
    l.ShowDMCCmd = true;
    l.setEchoHook([&](EchoLine, const std::string& t) { sent.push_back(t); });
    l.MoveTo(1, 2, 3);
    l.EmitPulseTrain(10, 100);
    l.Initialize();
    double x = 1, y = 1, z = 1, w = 1;
    l.GetPosition(x, y, z, w);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(x, 0);
    EXPECT_EQ(w, 0);
    EXPECT_FALSE(l.IsMoving());
}

} // namespace
} // namespace lapido
