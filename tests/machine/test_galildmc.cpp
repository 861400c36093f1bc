// Tests of the controller channel TDMC: opening, log lines, upper-casing, number reading, locking.
#include "machine/galil.h"
#include "machine/galildmc.h"
#include "platform/debuglog.h"
#include "platform/settingsstore.h"
#include "settings/settingskeys.h"
#include "sim/dmcsimtransport.h"
#include "sim/dmcsimulator.h"
#include "testsupport.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

namespace lapido {
namespace {

// A link that records what it was given and answers from a function.
class FakeTransport final : public GalilTransport {
public:
    std::string addressValue;
    std::string defaultAddress = "fake";
    std::string connectionText = "fake, DMC test, 1";
    std::vector<std::string> sent;
    std::function<GalilReply(std::string_view)> answer = [](std::string_view) { return GalilReply{true, "1.0000", {}}; };
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};

    std::string address() const override { return addressValue.empty() ? defaultAddress : addressValue; }
    void setAddress(std::string_view a) override { addressValue = std::string(a); }
    bool connect() override { return true; }
    void disconnect() override {}
    std::string connection() const override { return connectionText; }
    GalilReply command(std::string_view text, std::string_view terminator, std::string_view ack, bool trim) override
    {
        if (inside.fetch_add(1) != 0)
            overlapped = true;
        EXPECT_EQ(terminator, "\r\n");
        EXPECT_EQ(ack, "");
        EXPECT_TRUE(trim);
        sent.emplace_back(text);
        GalilReply r = answer(text);
        std::this_thread::yield();
        inside.fetch_sub(1);
        return r;
    }
};

class TDMCTest : public test::StationFixture {
protected:
    // A channel on a fake link (owned by the channel; the pointer stays valid while it lives).
    std::unique_ptr<TDMC> openFake(std::function<void(FakeTransport&)> setup = {})
    {
        auto t = std::make_unique<FakeTransport>();
        fake = t.get();
        if (setup)
            setup(*t);
        return std::make_unique<TDMC>(std::move(t));
    }
    FakeTransport* fake = nullptr;
};

struct SeparateCase {
    const char* text;
    std::vector<double> values; // successive calls
    const char* rest;           // what is left after them
};

TEST(SeparateValue, TakesNumbersOffTheFront)
{
    const SeparateCase cases[] = {
        {"12.5000\r\n", {12.5}, ""},
        {"abc,7", {0}, "7"},
        {"", {0, 0}, ""},
        {"1500, 2000,-30, 0", {1500, 2000, -30, 0, 0}, ""},
        {" 1.0000\r\n: 7.0000", {1}, ""},
        {"-2.5000", {-2.5}, ""},
        {"1e3,+4", {1000, 4}, ""},
        {"1.2.3,5", {0}, "5"},
        {"12abc", {0}, ""},
        {"\t 42 \t,x", {42, 0}, ""},
        {",9", {0}, "9"},
    };
    for (const auto& c : cases) {
        std::string st = c.text;
        for (std::size_t i = 0; i < c.values.size(); ++i)
            EXPECT_DOUBLE_EQ(TDMC::SeparateValue(st), c.values[i]) << '"' << c.text << "\" call " << i;
        EXPECT_EQ(st, c.rest) << c.text;
    }
}

TEST_F(TDMCTest, OpensAtTheDefaultAddressAndWritesItBack)
{
    ScopedDmcSimulator sim(&m_clock);
    DebugLogCapture log;
    {
        TDMC dmc;
        EXPECT_TRUE(dmc.Connected());
        EXPECT_EQ(keys::read(keys::GalilIP), "sim");
        EXPECT_NE(dmc.ConnectionString().find("sim"), std::string::npos);
        EXPECT_EQ(dmc.Controller(), 0);
        EXPECT_EQ(dmc.ReplyStr(), "");
    }
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"Opening controller: 0", "Opening controller succeeded.",
                                                     "Closed controller: 0"}));
}

// The machine library knows only TCP; the address "sim" reaches the simulator because this
// program registered it, and any address can be routed to a link of the program's choice.
TEST_F(TDMCTest, AddressesReachOnlyTheLinksRegisteredForThem)
{
    ScopedDmcSimulator sim(&m_clock);
    ASSERT_TRUE(galilTransportRegistered("sim"));
    // Whatever happens below, the later tests find the simulator registered again.
    struct Reregister {
        ~Reregister() { registerSimulatedController(); }
    } reregister;

    std::vector<std::string> made;
    registerGalilTransport("bench-1", [&made] {
        made.emplace_back("bench-1");
        auto t = std::make_unique<FakeTransport>();
        t->connectionText = "bench-1 link";
        return t;
    });
    {
        TGalil galil;
        galil.setAddress("bench-1");
        EXPECT_TRUE(galil.connect());
        EXPECT_EQ(galil.connection(), "bench-1 link");
        EXPECT_TRUE(galil.command("SH", "\r\n", "", true).ok);
        galil.setAddress("BENCH-1"); // exact text only: this one would be a TCP host
        galil.disconnect();
    }
    EXPECT_EQ(made, std::vector<std::string>{"bench-1"});
    registerGalilTransport("bench-1", {});
    EXPECT_FALSE(galilTransportRegistered("bench-1"));

    // Without a registration "sim" is no controller at all: the channel stays unconnected and
    // says so, as with a machine that is switched off.
    registerGalilTransport("sim", {});
    {
        DebugLogCapture log;
        TDMC dmc;
        EXPECT_FALSE(dmc.Connected());
        EXPECT_EQ(dmc.CommandReply("SH"), "");
        EXPECT_EQ(sim->transcript().size(), 0u);
    }
    registerSimulatedController();
    TDMC dmc;
    EXPECT_TRUE(dmc.Connected());
    EXPECT_EQ(dmc.CommandReply("MG 1+1"), "2.0000");
}

// The station started on the simulated machine opens "sim" whatever the store holds, and
// neither reads nor rewrites the stored address (empty or not).
TEST_F(TDMCTest, FixedAddressLeavesTheStoredOneAlone)
{
    ScopedDmcSimulator sim(&m_clock);
    for (const QString& stored : {QStringLiteral("192.0.2.7:23"), QString()}) {
        if (stored.isEmpty())
            AppRegistry().removeValue(QStringLiteral("Hardware"), QStringLiteral("GalilIP"));
        else
            keys::write(keys::GalilIP, stored);
        TDMC dmc(std::make_unique<TGalil>(), "sim");
        EXPECT_TRUE(dmc.Connected()) << stored.toStdString();
        EXPECT_EQ(dmc.CommandReply("MG 2*3"), "6.0000");
        EXPECT_EQ(AppRegistry().value(QStringLiteral("Hardware"), QStringLiteral("GalilIP")),
                  stored.isEmpty() ? std::nullopt : std::optional<QString>(stored));
    }
}

TEST_F(TDMCTest, StoredAddressIsPassedThroughUntouched)
{
    keys::write(keys::GalilIP, QStringLiteral("  Weird:Address "));
    auto dmc = openFake();
    EXPECT_EQ(fake->addressValue, "  Weird:Address ");
    EXPECT_EQ(keys::read(keys::GalilIP), "  Weird:Address ");
    EXPECT_FALSE(dmc->Connected()); // the connection text does not name that address
}

TEST_F(TDMCTest, NotConnectedLogsTheFirstLineOnlyAndSendsNothing)
{
    DebugLogCapture log;
    auto dmc = openFake([](FakeTransport& t) { t.connectionText = "elsewhere"; });
    EXPECT_FALSE(dmc->Connected());
    EXPECT_EQ(dmc->CommandReply("SH"), "");
    dmc->FastCommand("ST");
    EXPECT_TRUE(fake->sent.empty());
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{"Opening controller: 0",
                                        "Communication with the motion controller could not be established. "
                                        "Please check that the inscribing machine is powered",
                                        "Sending command: SH", "Sending fast command: ST"}));
}

struct LogCase {
    const char* cmd;
    const char* wire;
    std::vector<std::string> lines;
};

TEST_F(TDMCTest, LogLinesAndUpperCasing)
{
    const LogCase cases[] = {
        {"MG _BGX", "MG _BGX", {}},
        {"RPXYZ", "RPXYZ", {}},
        {"SP 100,200,300", "SP 100,200,300", {}},
        {"IP ,,5", "IP ,,5", {}},
        {"PA ?,?,?", "PA ?,?,?", {}},
        {"LM?", "LM?", {}},
        {"SH", "SH", {"Sending command: SH", "Sending command: SH with result 1.0000"}},
        {"sh", "SH", {"Sending command: sh", "Sending command: SH with result 1.0000"}},
        // Quiet only once upper-cased: the first line is written, the second is not.
        {"mg _bgx", "MG _BGX", {"Sending command: mg _bgx"}},
        {"MG \"\xe9t\xe9\"", "MG \"\xe9T\xe9\"", {"Sending command: MG \"\xe9t\xe9\"", "Sending command: MG \"\xe9T\xe9\" with result 1.0000"}},
    };
    auto dmc = openFake();
    for (const auto& c : cases) {
        DebugLogCapture log;
        fake->sent.clear();
        EXPECT_EQ(dmc->CommandReply(c.cmd), "1.0000");
        EXPECT_EQ(dmc->ReplyStr(), "1.0000");
        EXPECT_EQ(fake->sent, std::vector<std::string>{c.wire}) << c.cmd;
        EXPECT_EQ(log.lines(), c.lines) << c.cmd;
    }
}

TEST_F(TDMCTest, FailedCommandGivesEmptyReplyAndSaysWhy)
{
    auto dmc = openFake([](FakeTransport& t) {
        t.answer = [](std::string_view) { return GalilReply{false, {}, "COMMAND ERROR: 1 Unrecognized command"}; };
    });
    dmc->CommandReply("SH"); // a previous reply must not survive a failure
    DebugLogCapture log;
    EXPECT_EQ(dmc->CommandReply("XX"), "");
    EXPECT_EQ(dmc->ReplyStr(), "");
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"Sending command: XX",
                                                     "Command XX failed: COMMAND ERROR: 1 Unrecognized command",
                                                     "Sending command: XX with result "}));
}

TEST_F(TDMCTest, LightCommandIsSentAsTypedWithoutLogAndDefaultsToZero)
{
    auto dmc = openFake([](FakeTransport& t) {
        t.connectionText = "not connected at all"; // no Connected test either
        t.answer = [](std::string_view text) {
            return text == "MG @OUT[1]" ? GalilReply{true, "1.0000", {}} : GalilReply{false, {}, "TIMEOUT"};
        };
    });
    DebugLogCapture log;
    EXPECT_EQ(dmc->LightCommandReply("MG @OUT[1]"), "1.0000");
    EXPECT_EQ(dmc->LightCommandReply("mg @out[1]"), "0.0000");
    EXPECT_EQ(fake->sent, (std::vector<std::string>{"MG @OUT[1]", "mg @out[1]"}));
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(dmc->ReplyStr(), ""); // the light command does not touch ReplyStr
}

TEST_F(TDMCTest, FastCommandLogsAndDropsTheReply)
{
    auto dmc = openFake();
    DebugLogCapture log;
    dmc->FastCommand("st sxyzw");
    EXPECT_EQ(fake->sent, std::vector<std::string>{"ST SXYZW"});
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Sending fast command: st sxyzw"});
    EXPECT_EQ(dmc->ReplyStr(), "");
}

TEST_F(TDMCTest, SecondThreadNeverInterleavesItsPairs)
{
    auto dmc = openFake([](FakeTransport& t) {
        t.answer = [](std::string_view text) { return GalilReply{true, std::string(text), {}}; };
    });
    std::atomic<bool> stop{false};
    std::atomic<int> mismatches{0};
    std::thread sampler([&] {
        while (!stop)
            if (dmc->CommandReply("RPXYZW") != "RPXYZW")
                ++mismatches;
    });
    for (int i = 0; i < 2000; ++i) {
        const std::string cmd = "SB" + std::to_string(i % 8 + 1);
        if (dmc->CommandReply(cmd) != cmd || dmc->LightCommandReply("MG @OUT[1]") != "MG @OUT[1]")
            ++mismatches;
    }
    stop = true;
    sampler.join();
    EXPECT_FALSE(fake->overlapped);
    EXPECT_EQ(mismatches, 0);
}

TEST_F(TDMCTest, SamplerReadsPositionsWhileAMarkingRuns)
{
    ScopedDmcSimulator sim(&m_clock);
    TDMC dmc;
    ASSERT_TRUE(dmc.Connected());
    for (const char* c : {"SB1;SB2;SB3", "GAW=S", "GRW=1", "CS", "LM XY", "VS 5000", "VA 50000", "VD 50000"})
        dmc.CommandReply(c);
    for (int i = 0; i < 200; ++i)
        dmc.CommandReply("LI 50,3");
    dmc.CommandReply("LE");
    dmc.CommandReply("BGS");
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::atomic<int> reads{0};
    std::thread sampler([&] {
        double lastX = 0;
        while (!done) {
            std::string r = dmc.CommandReply("RPXYZW");
            const double x = TDMC::SeparateValue(r), y = TDMC::SeparateValue(r);
            TDMC::SeparateValue(r);
            const double w = TDMC::SeparateValue(r);
            // Every reply is a whole position of this path: X ahead of the last, Y and W on it.
            if (x < lastX || std::fabs(y - x * 3 / 50) > 2 || std::fabs(w - std::hypot(x, y)) > 2 || !r.empty())
                ++bad;
            lastX = x;
            ++reads;
        }
    });
    while (true) {
        std::string r = dmc.CommandReply("MG _BGS");
        if (TDMC::SeparateValue(r) == 0)
            break;
        m_clock.sleepMs(10);
        std::this_thread::sleep_for(std::chrono::microseconds(200)); // let the sampler in
    }
    done = true;
    sampler.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(dmc.CommandReply("RPXY"), "10000, 600");
    EXPECT_EQ(sim->markCount(), static_cast<std::size_t>(sim->referencePosition('W')));
}

TEST_F(TDMCTest, SimulatorFaultsReadAsZeroWithoutRaising)
{
    ScopedDmcSimulator sim(&m_clock);
    TDMC dmc;
    ASSERT_TRUE(dmc.Connected());
    sim->setGarbageReply(true);
    std::string reply = dmc.CommandReply("MG _BGX");
    EXPECT_FALSE(reply.empty());
    EXPECT_EQ(TDMC::SeparateValue(reply), 0);
    sim->setGarbageReply(false);
    sim->setNoReply(true);
    EXPECT_EQ(dmc.CommandReply("RPXYZW"), "");
    EXPECT_EQ(dmc.LightCommandReply("MG @OUT[1]"), "0.0000");
    sim->setNoReply(false);
    sim->setLinkLostAfter(1);
    EXPECT_EQ(dmc.CommandReply("SB1"), "");
    EXPECT_EQ(dmc.CommandReply("MG @OUT[1]"), "");
    EXPECT_TRUE(dmc.Connected()); // settled at opening; a lost link shows as empty replies
}

} // namespace
} // namespace lapido
