// TLaser against the controller simulator: homing, marks of contours and dot rows, the cam,
// the laser plug-in around each firing, and the guard when the link goes or nothing moves.
#include "machine/lasersource.h"
#include "platform/debuglog.h"

#include "test_laserfixture.h"

#include <QDir>
#include <QFile>

#include <cmath>

namespace lapido {
namespace {

// Distance from p to the segment a-b (mm).
double segmentDistance(double px, double py, double ax, double ay, double bx, double by)
{
    const double dx = bx - ax, dy = by - ay;
    const double len2 = dx * dx + dy * dy;
    const double t = len2 > 0 ? std::clamp(((px - ax) * dx + (py - ay) * dy) / len2, 0.0, 1.0) : 0.0;
    return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

// The simulated laser source selected, with its calls logged to a file.
class LaserSimTest : public test::LaserFixture {
protected:
    void SetUp() override
    {
        LaserFixture::SetUp();
        m_log = scratch(QStringLiteral("laser-calls.log"));
        qputenv("DE60_SIM_LOG", m_log.toLocal8Bit());
        m_source = std::make_unique<TLaserSource>();
        m_source->LoadLaserSourcePackage({TLaserSource::programPluginFolder()});
        TSettings record;
        ASSERT_TRUE(m_source->ComboBoxSourceSelect(m_source->indexOf(QStringLiteral("DE60 Simulated Source")), record));
        ASSERT_TRUE(m_source->isLoaded());
        setLaserSource(m_source.get());
    }
    void TearDown() override
    {
        setLaserSource(nullptr);
        m_source.reset();
        qunsetenv("DE60_SIM_LOG");
        LaserFixture::TearDown();
    }
    QStringList emissionCalls() const
    {
        QFile f(m_log);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts).filter(QStringLiteral("Emission"));
    }
    // Laser supply and enable on, as the marking sequence does before marking.
    TLaser& ready()
    {
        TLaser& l = applied();
        l.ServoHere();
        l.SystemOn();
        EXPECT_TRUE(l.EnableOn());
        return l;
    }

    QString m_log;
    std::unique_ptr<TLaserSource> m_source;
};

TEST_F(LaserSimTest, InitializeHomesAndReachesTheStartUpPosition)
{
    Settings().UseZaxis = true;
    TLaser& l = applied();
    l.Initialize();
    ASSERT_TRUE(l.Initialized);
    EXPECT_EQ(count("HM"), 1);
    EXPECT_EQ(sim().referencePosition('X'), 15000);
    EXPECT_EQ(sim().referencePosition('Y'), 12500);
    EXPECT_EQ(sim().referencePosition('Z'), 12500);
    double x = 0, y = 0, z = 0, w = 0;
    l.GetPosition(x, y, z, w);
    EXPECT_DOUBLE_EQ(x, 15);
    EXPECT_DOUBLE_EQ(y, 12.5);
    EXPECT_DOUBLE_EQ(z, 12.5);
}

// The settings window's OK applies the settings with the motors on. The drives' current level
// changes only with the motor off: the controller refuses AG otherwise. It is sent only when
// the levels change, between MO and SH, and nothing of the set-up is refused.
TEST_F(LaserSimTest, SettingsAppliedWithTheMotorsOnChangeTheCurrentsWithoutARefusal)
{
    TLaser& l = applied();
    l.Initialize();
    ASSERT_TRUE(l.Initialized);
    m_sent.clear();
    EXPECT_EQ(ApplyMotionSettings(m_settings, l), std::nullopt);
    EXPECT_EQ(count("AG"), 0) << "the same levels sent again";

    m_settings.X_Current = 2;
    m_sent.clear();
    EXPECT_EQ(ApplyMotionSettings(m_settings, l), std::nullopt) << l.lastError().toStdString();
    const auto ag = indexOf("AG 2,1,1,0");
    ASSERT_LT(ag, m_sent.size());
    EXPECT_LT(indexOf("MO"), ag);
    EXPECT_LT(ag, indexOf("SH"));
    EXPECT_EQ(l.channel().CommandReply("MG _MOX").find('1'), std::string::npos) << "motor left off";
}

TEST_F(LaserSimTest, ContourLeavesMarksAlongThePathAtThePulseDistance)
{
    Settings().ContourBuffering = 20;
    TLaser& l = ready();
    // A 0.5 mm square as 40 vertices, slowing down into the corners.
    std::vector<std::pair<double, double>> corners{{5, 5}, {5.5, 5}, {5.5, 5.5}, {5, 5.5}, {5, 5}};
    l.MoveTo(5, 5);
    ASSERT_TRUE(l.WaitOnMotionComplete());
    sim().clearMarks();
    int fullest = 0;
    l.setBufferGaugeHook([&](int queued) { fullest = std::max(fullest, queued); });
    l.StartLIXYMode();
    for (std::size_t side = 0; side + 1 < corners.size(); ++side)
        for (int i = 1; i <= 10; ++i) {
            const double t = i / 10.0;
            const auto [ax, ay] = corners[side];
            const auto [bx, by] = corners[side + 1];
            l.AddLIXYVertex(ax + t * (bx - ax), ay + t * (by - ay), i == 10 ? 0.02 : 0.5);
        }
    l.FinishLIXYMode();

    const auto marks = sim().marks();
    // 2 mm of path at 5 µm: 400 pulses.
    EXPECT_NEAR(double(marks.size()), 400.0, 2.0);
    int spacingChecked = 0;
    for (std::size_t i = 0; i < marks.size(); ++i) {
        double nearest = 1e9;
        for (std::size_t s = 0; s + 1 < corners.size(); ++s)
            nearest = std::min(nearest, segmentDistance(marks[i].xMm, marks[i].yMm, corners[s].first, corners[s].second,
                                                        corners[s + 1].first, corners[s + 1].second));
        EXPECT_LT(nearest, 0.0011) << "mark " << i << " off the contour";
        if (i > 0) {
            const double d = std::hypot(marks[i].xMm - marks[i - 1].xMm, marks[i].yMm - marks[i - 1].yMm);
            EXPECT_LE(d, 0.0051 + 0.0001) << "gap before mark " << i;
            if (d > 0.0049)
                ++spacingChecked;
        }
    }
    EXPECT_GT(spacingChecked, 380) << "almost every pair of marks is one pulse distance apart";
    EXPECT_FALSE(l.GateIsOpen);
    EXPECT_EQ(emissionCalls(), (QStringList{QStringLiteral("LaserEmissionOn"), QStringLiteral("LaserEmissionOff")}));
    EXPECT_TRUE(m_source->report()->contains(QStringLiteral("Emission: off")));
    EXPECT_GT(fullest, 10) << "the gauge showed the queued segments while the feeder waited";
    EXPECT_LE(fullest, 40);
    EXPECT_EQ(l.bufferGauge(), 0);
}

TEST_F(LaserSimTest, DotRowLeavesOnePulsePerDot)
{
    TLaser& l = ready();
    l.MoveTo(4.9, 5);
    ASSERT_TRUE(l.WaitOnMotionComplete());
    sim().clearMarks();
    m_source->EmissionOn();
    l.StartLIXY_Pulse_Mode();
    for (int i = 0; i < 10; ++i)
        l.AddLIXY_Pulse(5 + 0.02 * i, 5, false);
    l.AddLIXY_Pulse(5.25, 5, true);
    l.FinishLIXYMode();
    const auto marks = sim().marks();
    ASSERT_EQ(marks.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_NEAR(marks[i].xMm, 5 + 0.02 * i, 0.0011);
        EXPECT_NEAR(marks[i].yMm, 5, 0.0011);
    }
    EXPECT_TRUE(m_source->report()->contains(QStringLiteral("Emission: off")));
}

TEST_F(LaserSimTest, BufferUnderrunShowsTheMarkingProblemNoticeAndMarkingGoesOn)
{
    Settings().ContourBuffering = 20;
    TLaser& l = ready();
    l.MoveTo(5, 5);
    ASSERT_TRUE(l.WaitOnMotionComplete());
    l.StartLIXYMode();
    for (int i = 1; i <= 60; ++i) {
        if (i == 40)
            sim().forceBufferUnderrun();
        l.AddLIXYVertex(5 + 0.01 * i, 5, 0.5);
    }
    l.FinishLIXYMode();
    EXPECT_EQ(count("LI "), 60);
    EXPECT_FALSE(l.sequenceFaulted());
    const auto& shown = m_dialogs.transcript();
    const auto notice = std::find_if(shown.begin(), shown.end(), [](const auto& e) { return e.title == QStringLiteral("Marking problem"); });
    ASSERT_NE(notice, shown.end());
    EXPECT_FALSE(notice->modal);
    EXPECT_TRUE(notice->text.startsWith(QStringLiteral("There was a buffer underrun during marking.\n")));
}

TEST_F(LaserSimTest, PulseTrainFiresTheCountWithEmissionAroundIt)
{
    TLaser& l = ready();
    sim().clearMarks();
    l.EmitPulseTrain(25, 1000);
    EXPECT_EQ(sim().markCount(), 25u);
    EXPECT_EQ(emissionCalls(), (QStringList{QStringLiteral("LaserEmissionOn"), QStringLiteral("LaserEmissionOff")}));
    EXPECT_FALSE(l.GateIsOpen);
    EXPECT_FALSE(sim().output(1));
}

struct CamFollowCase {
    const char* name;
    bool xReversed;
};

class LaserCamFollowTest : public LaserSimTest, public ::testing::WithParamInterface<CamFollowCase> {};

TEST_P(LaserCamFollowTest, ZFollowsTheTableOfHeightsWhileXMoves)
{
    Settings().UseZaxis = true;
    m_settings.X_Reversed = GetParam().xReversed;
    TLaser& l = applied();
    l.ServoHere();
    auto height = [](double i) { return 10 + 0.0004 * (i - 25) * (i - 25); };
    for (int i = 0; i <= 50; ++i)
        l.Z_ECAMTable[i] = height(i);
    l.XZ_ECAM_Start(2.0, 0.1);
    EXPECT_NEAR(sim().referencePosition('Z'), 1000 * height(0), 1);
    for (int i : {10, 25, 45}) {
        l.MoveTo(2.0 + 0.1 * i, 3);
        ASSERT_TRUE(l.WaitOnMotionComplete());
        EXPECT_NEAR(sim().referencePosition('Z'), 1000 * height(i), 2) << "table entry " << i;
    }
    l.XZ_ECAM_Stop();
}

INSTANTIATE_TEST_SUITE_P(Axes, LaserCamFollowTest,
                         ::testing::Values(CamFollowCase{"NormalX", false}, CamFollowCase{"ReversedX", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LaserSimTest, PullingTheLinkMidContourStopsWithTheLaserOff)
{
    Settings().ContourBuffering = 20;
    TLaser& l = ready();
    l.MoveTo(5, 5);
    ASSERT_TRUE(l.WaitOnMotionComplete());
    DebugLogCapture log;
    l.StartLIXYMode();
    sim().setLinkLostAfter(120);
    const std::int64_t start = m_clock.tickMs();
    for (int i = 1; i <= 300; ++i)
        l.AddLIXYVertex(5 + 0.01 * i, 5, 0.5);
    l.FinishLIXYMode();
    EXPECT_TRUE(sim().linkLost());
    EXPECT_GT(sim().markCount(), 0u) << "the link went while marking";
    EXPECT_LT(count("LI "), 300) << "no segment is queued after the link went";
    EXPECT_LT(m_clock.tickMs() - start, l.guardTimeMs());
    EXPECT_TRUE(l.sequenceFaulted());
    EXPECT_TRUE(l.lastError().contains(QStringLiteral("link lost"))) << l.lastError().toStdString();
    EXPECT_FALSE(l.GateIsOpen);
    EXPECT_FALSE(l.EnableIsOn);
    EXPECT_EQ(emissionCalls().last(), QStringLiteral("LaserEmissionOff"));
    const auto lines = log.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& s) { return s.rfind("Machine stopped: ", 0) == 0; }));
}

// A controller that reports motion for ever; its positions advance only when asked to.
class StuckTransport final : public GalilTransport {
public:
    explicit StuckTransport(bool advancing, int movingPolls) : m_advancing(advancing), m_movingPolls(movingPolls) {}
    std::string address() const override { return "stuck"; }
    void setAddress(std::string_view) override {}
    bool connect() override { return true; }
    void disconnect() override {}
    std::string connection() const override { return "stuck, test controller"; }
    GalilReply command(std::string_view text, std::string_view, std::string_view, bool) override
    {
        if (text == "MG _BGS")
            return {true, m_movingPolls-- > 0 ? "1.0000" : "0.0000", {}};
        if (text.substr(0, 5) == "MG _B")
            return {true, "0.0000", {}};
        if (text == "RPXYZW")
            return {true, std::to_string(m_advancing ? ++m_x : m_x) + ", 0, 0, 0", {}};
        sent.emplace_back(text);
        return {true, "", {}};
    }
    // Every command other than the status reads, in order.
    std::vector<std::string> sent;

private:
    bool m_advancing;
    int m_movingPolls;
    int m_x = 0;
};

struct StallCase {
    const char* name;
    bool advancing;
    bool completes;
};

class LaserStallTest : public test::StationFixture, public ::testing::WithParamInterface<StallCase> {};

TEST_P(LaserStallTest, MotionWaitEndsWhenNothingProgresses)
{
    const StallCase& c = GetParam();
    // 1000 polls of 10 ms: ten seconds of motion, longer than the guard time.
    TLaser l(std::make_unique<TDMC>(std::make_unique<StuckTransport>(c.advancing, 1000)));
    ASSERT_TRUE(l.HardwareFound);
    l.setGuardTimeMs(2000);
    const std::int64_t start = m_clock.tickMs();
    EXPECT_EQ(l.WaitOnMotionComplete(), c.completes);
    const std::int64_t elapsed = m_clock.tickMs() - start;
    if (c.completes) {
        EXPECT_GE(elapsed, 9000);
        EXPECT_TRUE(l.lastError().isEmpty());
    } else {
        EXPECT_GE(elapsed, 2000);
        EXPECT_LT(elapsed, 2500);
        EXPECT_TRUE(l.lastError().contains(QStringLiteral("nothing progressed"))) << l.lastError().toStdString();
    }
}

// A machine stuck for three seconds and then free again: the guard stops it during the first
// wait. From then on the laser stays off whatever the caller does next, as a stopped glyph's
// later contours would, until the operator starts again.
using LaserGuardStopTest = test::StationFixture;

TEST_F(LaserGuardStopTest, HoldsTheLaserOffUntilTheOperatorStartsAgain)
{
    store().WriteString(QStringLiteral("Hardware"), QStringLiteral("EnableOnDelay"), QStringLiteral("0"));
    auto transport = std::make_unique<StuckTransport>(false, 300);
    StuckTransport& controller = *transport;
    TLaser l(std::make_unique<TDMC>(std::move(transport)));
    ASSERT_TRUE(l.HardwareFound);
    l.XY_CountsPerMM = 1000;
    l.setGuardTimeMs(2000);
    ASSERT_FALSE(l.WaitOnMotionComplete());
    ASSERT_TRUE(l.sequenceFaulted());
    controller.sent.clear();

    EXPECT_FALSE(l.EnableOn());
    l.OpenGate();
    l.StartLIXYMode();
    for (int i = 1; i <= 40; ++i)
        l.AddLIXYVertex(0.01 * i, 0, 1);
    l.FinishLIXYMode();
    l.StartLIXY_Pulse_Mode();
    l.AddLIXY_Pulse(0.5, 0.5, false);
    l.AddLIXY_Pulse(0.6, 0.5, true);
    l.FinishLIXYMode();
    EXPECT_TRUE(l.sequenceFaulted());
    EXPECT_FALSE(l.GateIsOpen);
    EXPECT_FALSE(l.EnableIsOn);
    for (const std::string& c : controller.sent) {
        EXPECT_NE(c, "SB1") << "gate opened";
        EXPECT_NE(c, "SB2") << "enable line on";
        EXPECT_NE(c, "BGS") << "a sequence began";
        EXPECT_NE(c.rfind("LI ", 0), 0u) << "a segment was queued: " << c;
    }

    l.clearGuardStop();
    controller.sent.clear();
    EXPECT_TRUE(l.EnableOn());
    l.StartLIXYMode();
    l.AddLIXYVertex(0.5, 0, 1);
    l.FinishLIXYMode();
    EXPECT_EQ(std::count(controller.sent.begin(), controller.sent.end(), "BGS"), 1) << "marks again once started";
}

// A controller whose sequence runs for a few polls after its begin while the buffer answers
// with the given free-space text.
class BufferTransport final : public GalilTransport {
public:
    explicit BufferTransport(std::string bufferFree) : m_bufferFree(std::move(bufferFree)) {}
    std::string address() const override { return "buffer"; }
    void setAddress(std::string_view) override {}
    bool connect() override { return true; }
    void disconnect() override {}
    std::string connection() const override { return "buffer, test controller"; }
    GalilReply command(std::string_view text, std::string_view, std::string_view, bool) override
    {
        if (text == "BGS")
            m_movingPolls = 5;
        if (text == "MG _BGS")
            return {true, m_movingPolls-- > 0 ? "1.0000" : "0.0000", {}};
        if (text.substr(0, 5) == "MG _B")
            return {true, "0.0000", {}};
        if (text == "RPXYZW")
            return {true, std::to_string(++m_x) + ", 0, 0, 0", {}};
        if (text == "LM?")
            return {true, m_bufferFree, {}};
        return {true, "", {}};
    }

private:
    std::string m_bufferFree;
    int m_movingPolls = 0;
    int m_x = 0;
};

// Whatever number a confused link gives as the buffer's free space, the gauge stays a count of
// the segments the buffer can hold.
using LaserBufferTest = test::StationFixture;

TEST_F(LaserBufferTest, GaugeStaysInsideTheBufferForAnyFreeSpaceAnswer)
{
    for (const char* reply : {"-1e30", "1e30", "-5", "600", "500", "garbage"}) {
        TLaser l(std::make_unique<TDMC>(std::make_unique<BufferTransport>(reply)));
        ASSERT_TRUE(l.HardwareFound);
        std::vector<int> gauges;
        l.setBufferGaugeHook([&](int v) { gauges.push_back(v); });
        l.StartLIXYMode();
        l.AddLIXYVertex(0.1, 0, 1);
        l.AddLIXYVertex(0.1, 0.1, 1);
        l.FinishLIXYMode();
        ASSERT_GE(gauges.size(), 2u) << reply << ": the buffer was polled, then the gauge reset";
        for (int g : gauges) {
            EXPECT_GE(g, 0) << reply;
            EXPECT_LE(g, 512) << reply;
        }
        EXPECT_EQ(l.bufferGauge(), 0) << reply;
    }
}

// A controller that answers every position query with the given text.
class PositionTransport final : public GalilTransport {
public:
    PositionTransport(std::string positions, std::string targets)
        : m_positions(std::move(positions)), m_targets(std::move(targets)) {}
    std::string address() const override { return "positions"; }
    void setAddress(std::string_view) override {}
    bool connect() override { return true; }
    void disconnect() override {}
    std::string connection() const override { return "positions, test controller"; }
    GalilReply command(std::string_view text, std::string_view, std::string_view, bool) override
    {
        if (text.substr(0, 2) == "RP" || text.substr(0, 2) == "TP")
            return {true, m_positions, {}};
        if (text == "PA ?,?,?")
            return {true, m_targets, {}};
        return {true, "", {}};
    }

private:
    std::string m_positions;
    std::string m_targets;
};

// The controller's registers hold 32-bit counts. A reply beyond them is no position: it reads
// like a garbled one (0) instead of wrapping round to the far side of the table.
TEST_F(LaserBufferTest, PositionRepliesBeyondA32BitCountReadAsGarbled)
{
    TLaser l(std::make_unique<TDMC>(std::make_unique<PositionTransport>(
        "1e20, -1e20, 2147483648, 2147483647", "2147483647, -2147483648, 0")));
    ASSERT_TRUE(l.HardwareFound);
    l.XY_CountsPerMM = 1000;
    l.Z_CountsPerMM = 1000;
    double x = -1, y = -1, z = -1, w = -1;
    l.GetPosition(x, y, z, w);
    EXPECT_EQ(x, 0.0);
    EXPECT_EQ(y, 0.0);
    EXPECT_EQ(z, 0.0);
    EXPECT_EQ(w, 2147483647.0) << "the largest count is still a count";
    l.GetEncoder(x, y, z, w);
    EXPECT_EQ(x, 0.0);
    EXPECT_EQ(z, 0.0);
    l.ServoHere();
    EXPECT_EQ(l.TargetX, 0);
    EXPECT_EQ(l.TargetZ, 0);

    // Targets and positions at opposite ends of the range: the distance is not wrapped either.
    TLaser far(std::make_unique<TDMC>(std::make_unique<PositionTransport>(
        "-2147483648, 2147483647, 0", "2147483647, -2147483648, 0")));
    far.XY_CountsPerMM = 1000;
    far.Z_CountsPerMM = 1000;
    far.DistanceToTarget(x, y, z);
    EXPECT_DOUBLE_EQ(x, 4294967295.0 / 1000);
    EXPECT_DOUBLE_EQ(y, -4294967295.0 / 1000);
    EXPECT_EQ(z, 0.0);
}

INSTANTIATE_TEST_SUITE_P(Motion, LaserStallTest,
                         ::testing::Values(StallCase{"Stuck", false, false}, StallCase{"Moving", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace lapido
