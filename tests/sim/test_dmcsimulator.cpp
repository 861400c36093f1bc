// Tests of the simulated controller: reply grammar, motion in virtual time, vector buffer, gearing,
// cam, laser record, faults.
#include "platform/clock.h"
#include "sim/dmcsimulator.h"

#include <QImage>
#include <QTemporaryDir>
#include <QFile>

#include <gtest/gtest.h>

#include "machine/galiltransport.h"

#include <clocale>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace lapido {
namespace {

class DmcSimulatorTest : public ::testing::Test {
protected:
    // Sends a line and returns the raw reply; an unanswered line fails the test.
    std::string send(const std::string& line)
    {
        const auto r = sim.execute(line);
        EXPECT_TRUE(r.has_value()) << line;
        return r.value_or("<none>");
    }
    // A reply's number ("MG" or a single position).
    double value(const std::string& line)
    {
        std::string r = send(line);
        EXPECT_GE(r.size(), 3u) << line;
        return std::stod(r.substr(0, r.find('\r')));
    }
    void sendAll(const std::vector<std::string>& lines)
    {
        for (const auto& l : lines)
            ASSERT_EQ(send(l).back(), ':') << l;
    }
    // Polls like the station does, 10 ms apart, until the operand reads 0.
    void waitZero(const std::string& query, int maxPolls = 100000)
    {
        for (int i = 0; i < maxPolls; ++i) {
            if (value(query) == 0)
                return;
            clock.sleepMs(10);
        }
        FAIL() << query << " never fell to 0";
    }
    // Laser ready: enable and system supply on, as the station's default wiring has them.
    void laserReady() { sendAll({"SB2", "SB3"}); }

    VirtualClock clock{1'000'000};
    DmcSimulator sim{&clock};
};

struct ReplyCase {
    const char* name;
    std::vector<std::string> setup;
    std::string line;
    std::string reply;
};

class DmcReplyGrammar : public DmcSimulatorTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(DmcReplyGrammar, AnswersLikeTheController)
{
    for (const auto& s : GetParam().setup)
        send(s);
    EXPECT_EQ(send(GetParam().line), GetParam().reply);
}

const ReplyCase kReplyCases[] = {
    {"OutputsOneAckEach", {}, "SB2;SB4;SB5", ":::"},
    {"TwoMessages", {}, "MG1+2;MG3+4", " 3.0000\r\n: 7.0000\r\n:"},
    {"MiddleCommandRefused", {}, "SB1;XX;CB1", ":?:"},
    {"LowerCaseRefused", {}, "sh", "?"},
    {"UnknownCommand", {}, "QQ", "?"},
    {"FifthAxisOnFourAxisModel", {}, "MG _BGE", "?"},
    {"EmptyLine", {}, "", ":"},
    {"LineFeedIsBlank", {}, "\nSH", ":"},
    {"EmptyBufferFree", {}, "LM?", " 512\r\n:"},
    {"BufferFreeWithBlank", {"LM XY", "LI 10,0", "LI 0,10"}, "LM ?", " 510\r\n:"},
    {"NoTargetsYet", {}, "PA ?,?,?", " 0, 0, 0\r\n:"},
    {"NegativeTargets", {"PA 1500,-2000,30"}, "PA ?,?,?", " 1500,-2000, 30\r\n:"},
    {"FieldsLeftUntouched", {"PA 1,2,3", "PA ,,9"}, "PA ?,?,?", " 1, 2, 9\r\n:"},
    {"DefinedPositionsFourAxes", {"DP 1500,2000,-30"}, "RPXYZW", " 1500, 2000,-30, 0\r\n:"},
    {"DefinedPositionsThreeAxes", {"DP 1500,2000,-30"}, "RPXYZ", " 1500, 2000,-30\r\n:"},
    {"DpLeavesEncoder", {"DP 1500,2000,-30"}, "TPXYZW", " 0, 0, 0, 0\r\n:"},
    {"DeSetsEncoderOnly", {"DE 700,,-5"}, "TPXYZW", " 700, 0,-5, 0\r\n:"},
    {"WEncoderKeepsItsValue", {"DE ,,,12", "DPW=40"}, "TPXYZW", " 0, 0, 0, 12\r\n:"},
    {"VariableRoundTrip", {"V1=1.5"}, "V1=", " 1.5000\r\n:"},
    {"VariableQueryForm", {"speed=-2.5"}, "speed=?", "-2.5000\r\n:"},
    {"UndefinedVariable", {}, "V9=", "?"},
    {"OutputBitRead", {"SB1"}, "MG @OUT[1]", " 1.0000\r\n:"},
    {"OutputBitCleared", {"SB1", "CB1"}, "MG @OUT[1]", " 0.0000\r\n:"},
    {"MotorOffRefusesBegin", {"MO", "PA 100"}, "BGX", "?"},
    {"ResetLeavesMotorsOff", {"RS", "PA 100"}, "BGX", "?"},
    {"PowerOnMotorsOn", {"PA 100"}, "BGX", ":"},
    {"ReasonOfLastError", {"MO", "PA 100", "BGX"}, "TC1", " 20 Begin not valid with motor off\r\n:"},
    {"ReasonOfUnknownCommand", {"ZZ"}, "TC1", " 1 Unrecognized command\r\n:"},
    {"BeginWithoutSequence", {"SH", "LM XY"}, "BGS", "?"},
    {"SegmentOfZeroLength", {"LM XY"}, "LI 0,0", "?"},
    {"SegmentBeforeMode", {}, "LI 10,0", "?"},
    {"SegmentWithSpeeds", {"LM XY"}, "LI 150,-20 <2000 >800", ":"},
    {"DotSegment", {"LM XYW"}, "LI 10,5,,0>1;LI 0,0,,1", "::"},
    {"GearAxisEqualsForm", {"GRW=0.1"}, "GR ,,,?", " 0.1000\r\n:"},
    {"GearRatioTooLarge", {}, "GRW=128", "?"},
    {"SpeedQuery", {"SP 100,200,300", "SPN=1000"}, "SP ?,?", " 100, 200\r\n:"},
    {"VirtualAxisSpeedQuery", {"SPN=1000"}, "SPN=?", " 1000\r\n:"},
    {"AmplifierGainWithMotorOn", {"SH"}, "AG 1,1,1,0", "?"},
    {"AmplifierGainWithMotorOff", {"RS"}, "AG 1,1,1,0", ":"},
    {"CamTableBeforeEnable", {}, "EG,,0", "?"},
    {"CamEntryIndexTooLarge", {}, "ET[257]=,,5", "?"},
    {"Revision", {}, "\x12\x16", "DMC4040 Rev sim\r\n:"},
    {"MessageText", {}, "MG \"a:b;c\"", "a:b;c\r\n:"},
    {"NotANumber", {}, "PA 1x", "?"},
    {"TooManyFields", {}, "PA 1,2,3,4,5", "?"},
    {"SoftLimitsOffAtTheRangeEnds", {"BL -2147483648", "FL 2147483647"}, "BL ?;FL ?", "-2147483648\r\n: 2147483647\r\n:"},
    {"LimitBeyondTheNumberRangeKeepsTheOldOne", {"BL -2000", "BL -1e300"}, "BL ?", "-2000\r\n:"},
    {"ReasonOfNumberOutOfRange", {"FL 2147483648"}, "TC1", " 6 Number out of range\r\n:"},
    {"WaitBeyondTheNumberRange", {}, "WT 1e300", "?"},
    {"VectorSpeedBeyondTheNumberRange", {"VS 5000"}, "VS 1e20;VS ?", "? 5000\r\n:"},
    {"LiteralBeyondTheNumberRange", {}, "MG 99999999999", "?"},
    {"NestedBrackets", {}, "MG ((((2))))*-(-3)", " 6.0000\r\n:"},
    {"BracketsTooDeep", {}, "MG " + std::string(100000, '(') + "1", "?"},
    {"SignsTooDeep", {}, "MG " + std::string(100000, '-') + "1", "?"},
    {"ResetAnswers", {"SB1", "DP 5"}, "RS;MG @OUT[1];RPX", ": 0.0000\r\n: 0\r\n:"},
};

INSTANTIATE_TEST_SUITE_P(Replies, DmcReplyGrammar, ::testing::ValuesIn(kReplyCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The simulator runs inside the station's process, whose C locale follows the environment.
TEST_F(DmcSimulatorTest, RepliesWriteAPointInACommaCLocale)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    bool comma = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8"})
        if (std::setlocale(LC_NUMERIC, name) && std::string(std::localeconv()->decimal_point) == ",") {
            comma = true;
            break;
        }
    if (!comma) {
        std::setlocale(LC_NUMERIC, saved.c_str());
        GTEST_SKIP() << "no comma locale installed";
    }
    const std::string reply = send("MG 1.5;MG -2.25;MG 3");
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(reply, " 1.5000\r\n:-2.2500\r\n: 3.0000\r\n:");
}

TEST_F(DmcSimulatorTest, ControllerWaitsAdvanceVirtualTime)
{
    const auto t0 = clock.nowUs();
    EXPECT_EQ(send("SB4;WT20;CB4"), ":::");
    EXPECT_EQ(clock.nowUs() - t0, 20'000);
    EXPECT_FALSE(sim.output(4));
    const auto t1 = clock.nowUs();
    send("RS");
    EXPECT_GT(clock.nowUs(), t1); // a reset takes controller time too
}

TEST_F(DmcSimulatorTest, EachAcknowledgementLeavesWhenItsCommandIsDone)
{
    std::vector<std::pair<std::string, std::int64_t>> parts;
    const auto t0 = clock.nowUs();
    sim.execute("SB4;WT20;MG @OUT[4];CB4", [&](std::string_view p) { parts.emplace_back(p, clock.nowUs() - t0); });
    const std::vector<std::pair<std::string, std::int64_t>> expected = {
        {":", 0}, {":", 20'000}, {" 1.0000\r\n:", 20'000}, {":", 20'000}};
    EXPECT_EQ(parts, expected);
}

TEST_F(DmcSimulatorTest, TrapezoidHonoursSpeedAndAccelerationAndArrivesExactly)
{
    sendAll({"SH", "SP 20000,10000,5000", "AC 200000,100000,100000", "DC 400000,100000,100000",
             "PA 30000,-7000,1234", "BGXYZ"});
    EXPECT_EQ(value("MG _BGX"), 1);
    double lastX = 0, lastV = 0;
    double maxV = 0, maxDv = 0;
    int samples = 0;
    while (sim.isMoving('X') || sim.isMoving('Y') || sim.isMoving('Z')) {
        clock.sleepMs(1);
        sim.advanceToNow();
        const double x = static_cast<double>(sim.referencePosition('X'));
        const double v = (x - lastX) * 1000.0;
        maxV = std::max(maxV, v);
        maxDv = std::max(maxDv, std::fabs(v - lastV) * 1000.0);
        lastX = x;
        lastV = v;
        ASSERT_LT(++samples, 100000);
    }
    EXPECT_LE(maxV, 20000 + 1000); // one count of rounding per sample
    EXPECT_LE(maxDv, 400000 + 2'000'000); // rounding of two counts per sample squared
    EXPECT_EQ(send("RPXYZW"), " 30000,-7000, 1234, 0\r\n:");
    EXPECT_EQ(send("TPXYZW"), " 30000,-7000, 1234, 0\r\n:");
    EXPECT_EQ(value("MG _BGX"), 0);
    // Ideal time of X: accelerate 0.1 s, cruise, decelerate 0.05 s.
    const double ideal = 0.1 / 2 + (30000 - 1000 - 500) / 20000.0 + 0.05 + 0.1 / 2 + 0.05 / 2;
    EXPECT_NEAR(samples / 1000.0, std::max(ideal, 7000 / 10000.0 + 0.2), 0.05);
}

TEST_F(DmcSimulatorTest, McHoldsTheAnswerUntilTheMoveEnds)
{
    sendAll({"SH", "SP 10000,10000,10000", "AC 1000000,1000000,1000000", "DC 1000000,1000000,1000000",
             "PA 5000,,2000", "BGXZ"});
    const auto t0 = clock.nowUs();
    EXPECT_EQ(send("MCXZ"), ":");
    EXPECT_NEAR((clock.nowUs() - t0) / 1e6, 0.51, 0.02);
    EXPECT_EQ(send("RPXYZ"), " 5000, 0, 2000\r\n:");
}

TEST_F(DmcSimulatorTest, IncrementStartsByItselfAndExtendsARunningMove)
{
    sendAll({"SH", "SP 1000,1000,1000", "IP 500"});
    EXPECT_EQ(value("MG _BGX"), 1);
    sendAll({"IP 250"});
    EXPECT_EQ(send("PA ?"), " 750\r\n:");
    send("MC");
    EXPECT_EQ(sim.referencePosition('X'), 750);
}

TEST_F(DmcSimulatorTest, NewTargetWaitsForTheNextBegin)
{
    sendAll({"SH", "SP 10000", "PA 1000", "BGX", "PA 5000"});
    EXPECT_EQ(send("BGX"), "?"); // still moving
    send("MCX");
    EXPECT_EQ(sim.referencePosition('X'), 1000);
    EXPECT_EQ(send("BGX;MCX;RPX"), ":: 5000\r\n:");
}

TEST_F(DmcSimulatorTest, JogChangesSpeedOnTheFlyAndRefusesASecondBegin)
{
    sendAll({"SH", "AC 1000000", "DC 1000000", "JG 1000", "BGX"});
    clock.sleepMs(100);
    const auto x1 = sim.referencePosition('X');
    EXPECT_NEAR(static_cast<double>(x1), 100, 3);
    EXPECT_EQ(send("JG 3000"), ":");
    EXPECT_EQ(send("BGX"), "?");
    clock.sleepMs(100);
    EXPECT_NEAR(static_cast<double>(sim.referencePosition('X') - x1), 300, 6);
    sendAll({"STX"});
    waitZero("MG _BGX");
}

TEST_F(DmcSimulatorTest, HomingStaysBusyThroughBothStagesAndEndsAtZero)
{
    sim.setHomeSwitch('X', -3000);
    sendAll({"SH", "SP 30000", "DC 67107840", "DP 2000", "DE 2500", "HM", "BGX"});
    int busyPolls = 0;
    for (; busyPolls < 10000 && value("MG _BGX") == 1; ++busyPolls)
        clock.sleepMs(10);
    EXPECT_GT(busyPolls, 10);
    EXPECT_EQ(send("RPX;TPX"), " 0\r\n: 0\r\n:");
}

TEST_F(DmcSimulatorTest, SoftLimitStopsTheAxisAndRefusesFurtherMovesThatWay)
{
    sendAll({"SH", "SP 10000", "AC 1000000", "DC 1000000", "FL 1000", "PA 5000", "BGX"});
    send("MC");
    const auto x = sim.referencePosition('X');
    EXPECT_GE(x, 1000);
    EXPECT_LT(x, 1100);
    EXPECT_EQ(send("PA 6000;BGX"), ":?");
    EXPECT_EQ(send("TC1"), " 22 Begin not possible due to Limit Switch\r\n:");
    EXPECT_EQ(send("PA 0;BGX"), "::");
}

TEST_F(DmcSimulatorTest, InjectedLimitSwitchRefusesThatDirectionOnly)
{
    send("SH");
    sim.setLimitSwitch('Y', -1);
    EXPECT_EQ(send("PA ,-100;BGY"), ":?");
    EXPECT_EQ(send("PA ,100;BGY"), "::");
    sim.setLimitSwitch('Y', 0);
}

// Queues a straight vector sequence with W geared to the path and the laser ready.
TEST_F(DmcSimulatorTest, GearedPulsesFallEveryHalfCountAlongOneMillimetre)
{
    laserReady();
    sendAll({"SH", "GAW=N", "DPW=0", "GAW=S", "GRW=2", "CS", "LM XY", "VS 2000", "VA 10000", "VD 10000",
             "LI 1000,0 <2000 >0", "SB1", "LE", "BGS"});
    waitZero("MG _BGS");
    EXPECT_EQ(sim.markCount(), 2000u);
    EXPECT_EQ(sim.referencePosition('W'), 2000);
    EXPECT_EQ(send("RPXYZW"), " 1000, 0, 0, 2000\r\n:");
    // The marks are evenly spread: every pulse half a micrometre after the last.
    const auto marks = sim.marks();
    for (std::size_t i = 1; i < marks.size(); ++i) {
        ASSERT_NEAR(marks[i].xMm - marks[i - 1].xMm, 0.0005, 1e-6) << i;
        ASSERT_GE(marks[i].timeUs, marks[i - 1].timeUs);
    }
    // The picture shows one straight line: 1 mm at 100 px/mm is 100 pixels of one row.
    const QImage img = sim.marksImage(100.0, 0.1);
    ASSERT_FALSE(img.isNull());
    int dark = 0;
    int rowsWithInk = 0;
    for (int y = 0; y < img.height(); ++y) {
        int inRow = 0;
        for (int x = 0; x < img.width(); ++x)
            inRow += qGray(img.pixel(x, y)) < 128 ? 1 : 0;
        dark += inRow;
        rowsWithInk += inRow > 0 ? 1 : 0;
    }
    EXPECT_EQ(rowsWithInk, 1);
    EXPECT_EQ(dark, 101);
    // A scale no picture can have gives none.
    for (double scale : {1e6, 1e12, 1e300})
        EXPECT_TRUE(sim.marksImage(scale, 0.1).isNull()) << scale;
}

TEST_F(DmcSimulatorTest, NoMarkWhileTheGateIsClosedOrTheLaserNotReady)
{
    const std::vector<std::vector<std::string>> wirings = {
        {"SB2", "SB3"},        // ready, gate closed
        {"SB1", "SB3"},        // gate open, enable off
        {"SB1", "SB2"},        // gate open, supply off
    };
    for (const auto& outputs : wirings) {
        send("RS");
        sim.clearMarks();
        sendAll(outputs);
        sendAll({"SH", "GAW=S", "GRW=1", "LM XY", "LI 0,300", "LE", "BGS"});
        waitZero("MG _BGS");
        EXPECT_EQ(sim.wSteps(), 300);
        EXPECT_EQ(sim.markCount(), 0u) << outputs[0] << outputs[1];
    }
}

TEST_F(DmcSimulatorTest, InvertedWiringFiresOnLowLevels)
{
    DmcWiring w;
    w.gateActiveHigh = false;
    w.enableActiveHigh = false;
    w.systemActiveHigh = false;
    sim.setWiring(w);
    sendAll({"SH", "GAW=S", "GRW=1", "LM XY", "LI 200,0", "LE", "BGS"});
    waitZero("MG _BGS");
    EXPECT_EQ(sim.markCount(), 200u);
}

TEST_F(DmcSimulatorTest, BufferFreeCountDropsAsQueuedAndRisesAsExecuted)
{
    sendAll({"SH", "LM XY", "VS 10000", "VA 1000000", "VD 1000000"});
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ(send("LI 10,0"), ":") << i;
    EXPECT_EQ(send("LI 10,0"), "?"); // full
    EXPECT_EQ(value("LM?"), 0);
    sendAll({"BGS"});
    clock.sleepMs(5);
    const double during = value("LM?");
    EXPECT_GT(during, 0);
    EXPECT_LT(during, 512);
    // Without LE the path stops dead when the buffer runs dry, and waits for more.
    clock.sleepMs(2000);
    EXPECT_EQ(value("LM?"), 512);
    EXPECT_EQ(value("MG _BGS"), 1);
    EXPECT_EQ(value("MG _CS"), 512);
    sendAll({"LI 0,100", "LE"});
    waitZero("MG _BGS");
    EXPECT_EQ(send("RPXY"), " 5120, 100\r\n:");
}

TEST_F(DmcSimulatorTest, EndSpeedDemandSlowsThePathBeforeTheJunction)
{
    sendAll({"SH", "LM XY", "VS 10000", "VA 100000", "VD 100000", "LI 5000,0 <10000 >1000", "LI 5000,0 <10000",
             "LE", "BGS"});
    // Time spent on the last 50 counts before the junction: braking with VD to reach
    // 1000 counts/s there takes (sqrt(1000^2 + 2 VD 50) - 1000) / VD = 23 ms; had the path
    // kept its 10000 counts/s it would be 5 ms.
    std::int64_t enteredUs = -1, junctionUs = -1;
    for (int i = 0; i < 5000 && sim.isMoving('S'); ++i) {
        clock.sleepMs(1);
        sim.advanceToNow();
        const auto x = sim.referencePosition('X');
        if (enteredUs < 0 && x >= 4950)
            enteredUs = clock.nowUs();
        if (junctionUs < 0 && x >= 5000)
            junctionUs = clock.nowUs();
    }
    EXPECT_GE(junctionUs - enteredUs, 18'000);
    EXPECT_LE(junctionUs - enteredUs, 28'000);
    EXPECT_EQ(sim.referencePosition('X'), 10000);
}

TEST_F(DmcSimulatorTest, StopSequenceDeceleratesAndDiscardsTheRest)
{
    sendAll({"SH", "LM XY", "VS 10000", "VA 100000", "VD 100000", "LI 20000,0", "LI 20000,0", "BGS"});
    clock.sleepMs(500);
    sendAll({"ST S"});
    waitZero("MG _BGS");
    const auto x = sim.referencePosition('X');
    EXPECT_GT(x, 4000);
    EXPECT_LT(x, 20000);
    EXPECT_EQ(value("LM?"), 512);
}

TEST_F(DmcSimulatorTest, DotModeFiresOnePulseAtEachDot)
{
    laserReady();
    sendAll({"SH", "SB1", "GAW=N", "GRW=1", "CS", "LM XYW", "VS 5000", "VA 1000000", "VD 1000000"});
    for (int dot = 0; dot < 5; ++dot)
        sendAll({"LI 100,0,,0", "LI 0,0,,1"});
    sendAll({"LI 50,0,,0>1", "LE", "BGS"});
    waitZero("MG _BGS");
    const auto marks = sim.marks();
    ASSERT_EQ(marks.size(), 5u);
    for (std::size_t i = 0; i < marks.size(); ++i)
        EXPECT_NEAR(marks[i].xMm, 0.1 * static_cast<double>(i + 1), 1e-9);
}

TEST_F(DmcSimulatorTest, PulseTrainOnTheVirtualAxis)
{
    laserReady();
    sendAll({"SB1", "GAW=N", "GRW=0.1", "ACN=67107840", "DCN=67107840", "SPN=1000", "PRN=50", "BGN"});
    EXPECT_EQ(value("MG _BGN"), 1);
    const auto t0 = clock.nowUs();
    waitZero("MG _BGN");
    EXPECT_NEAR((clock.nowUs() - t0) / 1000.0, 50, 11);
    EXPECT_EQ(sim.markCount(), 5u);
    EXPECT_EQ(sim.referencePosition('W'), 5);
    EXPECT_EQ(sim.referencePosition('N'), 50);
}

TEST_F(DmcSimulatorTest, TimedGatePulseMarksOnlyWhileOpen)
{
    DmcWiring w;
    w.gatedSource = true;
    sim.setWiring(w);
    laserReady();
    send("SB1;WT20;CB1");
    clock.sleepMs(50);
    sim.advanceToNow();
    EXPECT_NEAR(static_cast<double>(sim.markCount()), 20, 1);
    for (const auto& m : sim.marks())
        EXPECT_EQ(m.kind, LaserMarkKind::Gated);
}

TEST_F(DmcSimulatorTest, CamDrivesZFromTheXEncoder)
{
    // The station's set-up for X from 2 mm over 5 mm (b = 100, m = 5000), heights 0..500 counts.
    sendAll({"SH", "SP 10000,10000,10000", "AC 1000000,1000000,1000000", "DC 1000000,1000000,1000000"});
    for (int i = 0; i <= 50; ++i)
        sendAll({"ET[" + std::to_string(i) + "]=,," + std::to_string(i * 10)});
    sendAll({"EB0", "EAX", "EM 5000,500", "EP 100,0", "SHXZ", "LC ,,1", "PA 2000,,0", "BGXZ", "MCXZ",
             "DE 0,,0", "DP ,,0", "EB1", "WT300", "EG,,0"});
    sendAll({"PA 4550", "BGX", "MCX"});
    EXPECT_EQ(sim.referencePosition('Z'), 255); // 2550 master counts: between entries 25 and 26
    sendAll({"PA 2050", "BGX", "MCX"});
    EXPECT_EQ(sim.referencePosition('Z'), 5);
    EXPECT_EQ(value("MG _BGZ"), 0); // a cam slave has no profile of its own
    sendAll({"EB0", "PA 6000", "BGX", "MCX"});
    EXPECT_EQ(sim.referencePosition('Z'), 5);
}

// Outside the table the slave holds the first or the last entry, however far the master is.
TEST_F(DmcSimulatorTest, CamHoldsTheEndEntriesFarOutsideTheTable)
{
    struct Case {
        const char* phase;
        std::int64_t z;
    };
    for (const Case& c : {Case{"-2147483648", 700}, Case{"2147483647", -30}}) {
        sendAll({"SH", "SP 10000,10000,10000", "AC 1000000,1000000,1000000", "DC 1000000,1000000,1000000",
                 "EB0", "PA 0", "BGX", "MCX", "ET[0]=,,-30", "ET[1]=,,10", "ET[255]=,,20", "ET[256]=,,700", "EAX", "EM 0",
                 std::string("EP 1,") + c.phase, "EB1", "EG,,0", "PA 10", "BGX", "MCX"});
        EXPECT_EQ(sim.referencePosition('Z'), c.z) << c.phase;
    }
}

// The controller's own programs: a download is stored, not run; a thread runs it in controller
// samples whether or not the host talks; waits, jumps on a condition of TIME, HX and AB stop it.
TEST_F(DmcSimulatorTest, ProgramsRunInTheirThreadsOnControllerTime)
{
    const std::string program = "DL\r#BLINK\rSB8\rWT 100\rCB8\rWT 100\rJP #BLINK,TIME<DONE\rN=N+1\rEN\r\\";
    EXPECT_EQ(send(program), ":");
    EXPECT_EQ(send("MG @OUT[8]"), " 0.0000\r\n:") << "a download runs nothing";
    EXPECT_EQ(send("MG _XQ2"), "-1.0000\r\n:");
    sendAll({"N=0", "DONE=TIME+1000", "XQ #BLINK,2"});
    // The thread runs while the host says nothing: only the clock moves.
    clock.sleepMs(50);
    EXPECT_EQ(send("MG @OUT[8]"), " 1.0000\r\n:");
    EXPECT_EQ(send("MG _XQ2"), " 2.0000\r\n:") << "the line it waits on (WT 100)";
    clock.sleepMs(100);
    EXPECT_EQ(send("MG @OUT[8]"), " 0.0000\r\n:");
    clock.sleepMs(900);
    EXPECT_EQ(send("MG N;MG _XQ2"), " 1.0000\r\n:-1.0000\r\n:") << "the loop ended once TIME passed DONE";

    struct Stop {
        const char* what;
        const char* command;
        bool stops;
    };
    const Stop stops[] = {{"HX of its thread", "HX2", true}, {"HX of all", "HX", true}, {"HX of another", "HX1", false},
                          {"AB", "AB", true},                 {"AB 1 (motion only)", "AB 1", false}};
    for (const Stop& stop : stops) {
        SCOPED_TRACE(stop.what);
        sendAll({"DONE=TIME+100000", "XQ #BLINK,2"});
        clock.sleepMs(20);
        sendAll({stop.command});
        EXPECT_EQ(value("MG _XQ2") == -1, stop.stops);
        sendAll({"HX"});
    }

    // Refused: a jump outside a program, an unknown label, a thread beyond the eighth; RS
    // forgets the program.
    EXPECT_EQ(send("JP #BLINK"), "?");
    EXPECT_EQ(send("XQ #NONE,1"), "?");
    EXPECT_EQ(send("TC1"), " 110 No label found\r\n:");
    EXPECT_EQ(send("XQ #BLINK,8"), "?");
    sendAll({"RS"});
    EXPECT_EQ(send("XQ #BLINK,2"), "?");
}

struct FaultCase {
    const char* name;
    void (*inject)(DmcSimulator&);
    bool answered;
};

class DmcFaults : public DmcSimulatorTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(DmcFaults, LineOutcome)
{
    GetParam().inject(sim);
    const auto r = sim.execute("MG _BGX");
    EXPECT_EQ(r.has_value(), GetParam().answered);
    if (r) {
        EXPECT_EQ(r->find("0.0000"), std::string::npos); // never a believable reply
    }
}

const FaultCase kFaults[] = {
    {"NoReply", [](DmcSimulator& s) { s.setNoReply(true); }, false},
    {"Garbage", [](DmcSimulator& s) { s.setGarbageReply(true); }, true},
    {"LinkLostNow", [](DmcSimulator& s) { s.setLinkLostAfter(0); }, false},
};

INSTANTIATE_TEST_SUITE_P(Injected, DmcFaults, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DmcSimulatorTest, LinkLostAfterSomeLinesStaysLost)
{
    sim.setLinkLostAfter(2);
    EXPECT_TRUE(sim.execute("SH").has_value());
    EXPECT_TRUE(sim.execute("SH").has_value());
    EXPECT_FALSE(sim.execute("SH").has_value());
    EXPECT_TRUE(sim.linkLost());
    EXPECT_FALSE(sim.execute("SH").has_value());
}

TEST_F(DmcSimulatorTest, ForcedUnderrunLeavesThePathWaiting)
{
    sendAll({"SH", "LM XY", "VS 1000", "LI 100,0", "LI 100,0", "LI 100,0", "LE", "BGS"});
    clock.sleepMs(20);
    sim.forceBufferUnderrun();
    clock.sleepMs(1000);
    EXPECT_EQ(value("MG _BGS"), 1);
    EXPECT_EQ(value("LM?"), 512);
    EXPECT_EQ(sim.referencePosition('X'), 100);
}

TEST_F(DmcSimulatorTest, CsvAndTranscriptRecordWhatHappened)
{
    laserReady();
    sendAll({"SH", "SB1", "GAW=S", "GRW=1", "LM XY", "LI 3,4", "LE", "BGS"});
    waitZero("MG _BGS");
    QTemporaryDir dir;
    const QString path = dir.filePath("marks.csv");
    ASSERT_TRUE(sim.writeMarksCsv(path));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 6); // header + five pulses along a 5-count path
    EXPECT_EQ(lines[0], "x_mm,y_mm,z_mm,time_us,kind");
    EXPECT_TRUE(lines[5].startsWith("0.003000,0.004000,0.000000,"));
    EXPECT_TRUE(lines[5].endsWith(",pulse"));
    EXPECT_TRUE(sim.writeMarksPng(dir.filePath("marks.png"), 1000));
    const auto t = sim.transcript();
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t.front().line, "SB2");
    EXPECT_EQ(t.front().reply, ":");
}

// Whatever arrives, each command of a line gets exactly one ':' or '?' (quoted MG text is left
// out: a text that starts with ':' cannot be told from an acknowledgement on this protocol).
TEST_F(DmcSimulatorTest, AnyLineGetsOneAcknowledgementPerCommand)
{
    const std::string alphabet = "ABCDEGHIJLMNOPRSTVXYZW0123456789 ,;?=<>_@[]-.+*/()\n\t\x12\x16";
    const char* seeds[] = {"SH", "BG", "LI", "LM", "GR", "EG", "ET[", "DP", "IP", "JG", "MG _", "PA ", "SB", "CS"};
    std::mt19937 rng(20261210);
    for (int n = 0; n < 20000; ++n) {
        std::string line = (rng() % 2) ? seeds[rng() % std::size(seeds)] : "";
        const std::size_t len = rng() % 24;
        for (std::size_t i = 0; i < len; ++i)
            line += alphabet[rng() % alphabet.size()];
        // Controller-side waits are left out: a random jog plus a random wait would only
        // measure how long the simulator takes to run hours of virtual time.
        if (line.find("WT") != std::string::npos || line.find("MC") != std::string::npos ||
            line.find("AM") != std::string::npos || line.find("RS") != std::string::npos)
            continue;
        const auto reply = sim.execute(line);
        ASSERT_TRUE(reply.has_value()) << line;
        galil::AckScanner acks;
        acks.feed(*reply);
        ASSERT_EQ(acks.acks, galil::commandsInLine(line)) << '"' << line << "\" -> \"" << *reply << '"';
        if (n % 64 == 0)
            clock.sleepMs(1);
    }
}

TEST_F(DmcSimulatorTest, LongVectorSequenceIsDeterministic)
{
    auto run = [] {
        VirtualClock c(0);
        DmcSimulator s(&c);
        s.execute("SB1;SB2;SB3;SH;GAW=S;GRW=1;LM XY;VS 20000;VA 200000;VD 200000");
        int sent = 0;
        for (int i = 0; i < 400; ++i)
            sent += s.execute("LI 37," + std::to_string(i % 2 ? 11 : -11) + " <20000 >5000") == ":";
        s.execute("LE;BGS");
        while (s.isMoving('S'))
            c.sleepMs(10), s.advanceToNow();
        return std::make_tuple(sent, s.markCount(), c.nowUs(), s.referencePosition('X'));
    };
    const auto a = run();
    EXPECT_EQ(a, run());
    EXPECT_EQ(std::get<0>(a), 400);
    EXPECT_EQ(std::get<3>(a), 400 * 37);
}

} // namespace
} // namespace lapido
