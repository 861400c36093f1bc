// The controller's watchdog over the laser lines, on the simulator reached as a controller apart
// from the station (on the test's virtual clock, so that silence is a jump of the clock).
#include "machine/laserwatchdog.h"
#include "sim/dmcsimtransport.h"

#include "test_laserfixture.h"

namespace lapido {
namespace {

// The in-process simulator, presented as a controller on the network; it can refuse downloads.
class RemoteSimLink final : public GalilTransport {
public:
    std::string address() const override { return m_link.address(); }
    void setAddress(std::string_view) override {}
    bool connect() override { return m_link.connect(); }
    void disconnect() override { m_link.disconnect(); }
    std::string connection() const override { return m_link.connection(); }
    bool isRemote() const override { return true; }
    GalilReply command(std::string_view text, std::string_view terminator, std::string_view ack, bool trim) override
    {
        if (refuseDownloads && galil::isDownload(text))
            return {false, {}, "COMMAND ERROR: 111 Program too long"};
        return m_link.command(text, terminator, ack, trim);
    }
    bool refuseDownloads = false;

private:
    DmcSimTransport m_link;
};

class LaserWatchdogTest : public test::LaserFixture {
protected:
    // A machine on a controller apart from the station, set up, with the supply on.
    TLaser& remote(bool refuseDownloads = false)
    {
        auto link = std::make_unique<RemoteSimLink>();
        link->refuseDownloads = refuseDownloads;
        m_laser = std::make_unique<TLaser>(std::make_unique<TDMC>(std::move(link)));
        m_laser->ShowDMCCmd = true;
        m_laser->setEchoHook([this](EchoLine kind, const std::string& text) {
            if (kind == EchoLine::Command)
                m_sent.push_back(text);
        });
        TLaser& l = applied();
        l.SystemOn();
        return l;
    }
    bool watchdogRuns()
    {
        return sim().execute("MG _XQ" + std::to_string(LaserWatchdog::kThread)).value_or("") != "-1.0000\r\n:";
    }
    bool laserLinesOff() { return !sim().output(1) && !sim().output(2) && !sim().output(3); }
};

TEST_F(LaserWatchdogTest, RunsOnlyWhileTheEnableLineIsOnAndOnlyOnAControllerApart)
{
    TLaser& l = remote();
    EXPECT_FALSE(watchdogRuns());
    ASSERT_TRUE(l.EnableOn());
    EXPECT_TRUE(watchdogRuns());
    // Armed before the laser is enabled.
    std::vector<std::string> received;
    for (const auto& entry : sim().transcript())
        received.push_back(entry.line);
    const auto at = [&](const std::string& line) { return std::find(received.begin(), received.end(), line) - received.begin(); };
    EXPECT_LT(at("XQ #WDOG," + std::to_string(LaserWatchdog::kThread)), at("SB2"));
    // The station keeps talking (and beating): time passes, the laser stays on.
    for (int i = 0; i < 30; ++i) {
        m_clock.sleepMs(50);
        l.IsMoving();
    }
    EXPECT_TRUE(sim().output(2));
    l.EnableOffImmediate();
    EXPECT_FALSE(watchdogRuns());
    EXPECT_FALSE(l.sequenceFaulted());

    // The simulator in the station's own process dies with it: nothing is added to its stream.
    m_laser.reset();
    m_sent.clear();
    TLaser& local = applied();
    local.SystemOn();
    ASSERT_TRUE(local.EnableOn());
    EXPECT_EQ(count("DL"), 0);
    EXPECT_EQ(count("XQ"), 0);
    EXPECT_FALSE(watchdogRuns());
}

TEST_F(LaserWatchdogTest, AStationSilentPastTheLimitHasTheControllerSwitchTheLaserOff)
{
    TLaser& l = remote();
    ASSERT_TRUE(l.EnableOn());
    l.OpenGate();
    ASSERT_TRUE(sim().output(1) && sim().output(2) && sim().output(3));
    m_clock.sleepMs(LaserWatchdog::kLimitMs + 100);
    EXPECT_TRUE(laserLinesOff());
    EXPECT_FALSE(watchdogRuns());
    // The station learns of it when it switches the laser off itself, and stops the run.
    l.EnableOffImmediate();
    EXPECT_TRUE(l.sequenceFaulted());
    EXPECT_TRUE(l.lastError().contains(QStringLiteral("watchdog"))) << l.lastError().toStdString();
}

// A line that holds the controller's interpreter lets no heartbeat through; it is announced so
// that the laser is not switched off under a wait the station asked for.
TEST_F(LaserWatchdogTest, LinesThatHoldTheControllerStretchTheHeartbeat)
{
    struct Case {
        const char* what;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"a wait of the controller", {"WT1200"}},
        {"a move of about two seconds waited for", {"SH", "SP 10000,10000,10000", "PR 20000", "BGX", "MCX"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TLaser& l = remote();
        ASSERT_TRUE(l.EnableOn());
        const std::int64_t before = m_clock.tickMs();
        for (const std::string& line : c.lines)
            EXPECT_TRUE(l.DMCCmd(line).find('?') == std::string::npos && l.channel().LastError().empty()) << line;
        EXPECT_GT(m_clock.tickMs() - before, 2 * LaserWatchdog::kLimitMs) << "the line held the controller";
        EXPECT_TRUE(sim().output(2)) << "switched off under the station's own wait";
        l.EnableOffImmediate();
        EXPECT_FALSE(l.sequenceFaulted()) << l.lastError().toStdString();
        m_laser.reset();
    }
}

TEST_F(LaserWatchdogTest, AWatchdogTheControllerRefusesKeepsTheLaserOff)
{
    TLaser& l = remote(true);
    EXPECT_FALSE(l.EnableOn());
    EXPECT_FALSE(sim().output(2));
    EXPECT_EQ(count("SB2"), 0);
    EXPECT_TRUE(l.sequenceFaulted());
    EXPECT_TRUE(l.lastError().contains(QStringLiteral("watchdog"))) << l.lastError().toStdString();
}

} // namespace
} // namespace lapido
