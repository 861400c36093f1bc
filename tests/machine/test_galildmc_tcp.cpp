// Tests of the channel over both links: the in-process simulator and TCP to lapidograph-dmcsim in a
// separate process; and of the TCP link against peers that misbehave.
#include "machine/galildmc.h"
#include "machine/tcptransport.h"
#include "platform/debuglog.h"
#include "settings/settingskeys.h"
#include "sim/dmcsimulator.h"
#include "testsupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

namespace lapido {
namespace {

using Ms = std::chrono::milliseconds;

std::int64_t realMs()
{
    return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// lapidograph-dmcsim started beside the test programs, on a free port.
class SimProcess {
public:
    SimProcess()
    {
        const auto exe = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "lapidograph-dmcsim";
        int out[2];
        if (::pipe(out) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::execl(exe.c_str(), exe.c_str(), "--port", "0", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        // First line: "lapidograph-dmcsim listening on 127.0.0.1 port N".
        std::string line;
        char c;
        pollfd p{out[0], POLLIN, 0};
        while (line.find('\n') == std::string::npos && ::poll(&p, 1, 5000) == 1 && ::read(out[0], &c, 1) == 1)
            line += c;
        ::close(out[0]);
        const auto at = line.rfind("port ");
        if (at != std::string::npos)
            m_port = std::atoi(line.c_str() + at + 5);
    }
    ~SimProcess() { kill(); }
    void kill()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }
    int port() const { return m_port; }

private:
    pid_t m_pid = -1;
    int m_port = 0;
};

// A TCP peer whose answers the test decides: reply(line) gives the bytes to send (nullopt:
// stay silent) and may sleep first; closeAtOnce drops every connection on arrival.
class FakePeer {
public:
    explicit FakePeer(std::function<std::optional<std::string>(const std::string&)> reply, bool closeAtOnce = false)
        : m_reply(std::move(reply)), m_closeAtOnce(closeAtOnce)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_fd, 4);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~FakePeer()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }

private:
    void run()
    {
        int client = -1;
        std::string pending;
        while (!m_stop) {
            pollfd p[2] = {{m_fd, POLLIN, 0}, {client, POLLIN, 0}};
            if (::poll(p, client >= 0 ? 2 : 1, 50) <= 0)
                continue;
            if (p[0].revents & POLLIN) {
                const int c = ::accept(m_fd, nullptr, nullptr);
                if (m_closeAtOnce) {
                    ::close(c);
                } else {
                    if (client >= 0)
                        ::close(client);
                    client = c;
                }
            }
            if (client >= 0 && (p[1].revents & (POLLIN | POLLHUP))) {
                char buf[256];
                const ssize_t n = ::recv(client, buf, sizeof buf, 0);
                if (n <= 0) {
                    ::close(client);
                    client = -1;
                    continue;
                }
                pending.append(buf, static_cast<std::size_t>(n));
                std::size_t cr;
                while ((cr = pending.find('\r')) != std::string::npos) {
                    const std::string line = pending.substr(0, cr);
                    pending.erase(0, cr + 1);
                    if (auto r = m_reply(line))
                        ::send(client, r->data(), r->size(), MSG_NOSIGNAL);
                }
            }
        }
        if (client >= 0)
            ::close(client);
    }

    std::function<std::optional<std::string>(const std::string&)> m_reply;
    bool m_closeAtOnce;
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// ---- one contract, two links

class ChannelContract : public test::StationFixture, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        if (GetParam()) {
            m_process = std::make_unique<SimProcess>();
            ASSERT_GT(m_process->port(), 0) << "lapidograph-dmcsim did not start";
            keys::write(keys::GalilIP, QStringLiteral("127.0.0.1:%1").arg(m_process->port()));
        } else {
            m_sim = std::make_unique<ScopedDmcSimulator>(&m_clock);
        }
    }
    void TearDown() override
    {
        m_process.reset();
        m_sim.reset();
        StationFixture::TearDown();
    }
    // Polls a motion flag as the station does, until it reads 0 (bounded in real time too,
    // since the separate simulator runs on real time).
    bool waitStopped(TDMC& dmc, const char* query)
    {
        const auto deadline = realMs() + 10000;
        while (realMs() < deadline) {
            std::string r = dmc.CommandReply(query);
            if (TDMC::SeparateValue(r) == 0)
                return true;
            systemClock().sleepMs(10);
            if (GetParam())
                std::this_thread::sleep_for(Ms(2));
        }
        return false;
    }

    std::unique_ptr<SimProcess> m_process;
    std::unique_ptr<ScopedDmcSimulator> m_sim;
};

TEST_P(ChannelContract, MovesTheMachineAndReadsTheCounts)
{
    TDMC dmc;
    ASSERT_TRUE(dmc.Connected()) << dmc.ConnectionString();
    for (const char* c : {"SH", "SP 200000,200000,200000", "AC 67107840,67107840,67107840",
                          "DC 67107840,67107840,67107840", "PA 1000,2000,-300", "BGXYZ"})
        dmc.CommandReply(c);
    EXPECT_EQ(dmc.CommandReply("MG _BGX"), "1.0000");
    ASSERT_TRUE(waitStopped(dmc, "MG _BGX"));
    ASSERT_TRUE(waitStopped(dmc, "MG _BGY"));
    ASSERT_TRUE(waitStopped(dmc, "MG _BGZ"));
    std::string pos = dmc.CommandReply("RPXYZW");
    EXPECT_EQ(pos, "1000, 2000,-300, 0");
    EXPECT_EQ(TDMC::SeparateValue(pos), 1000);
    EXPECT_EQ(TDMC::SeparateValue(pos), 2000);
    EXPECT_EQ(TDMC::SeparateValue(pos), -300);
    EXPECT_EQ(TDMC::SeparateValue(pos), 0);
    EXPECT_EQ(dmc.CommandReply("pa ?,?,?"), "1000, 2000,-300");
}

TEST_P(ChannelContract, RepliesStayInStepAfterErrorsAndMultiCommandLines)
{
    TDMC dmc;
    ASSERT_TRUE(dmc.Connected());
    EXPECT_EQ(dmc.CommandReply("XX"), "");
    EXPECT_EQ(dmc.CommandReply("MG 1+2"), "3.0000");
    EXPECT_EQ(dmc.CommandReply("SB1;XX;CB1"), "");
    EXPECT_EQ(dmc.CommandReply("MG @OUT[1]"), "0.0000"); // the command after the refused one ran
    EXPECT_EQ(dmc.CommandReply("MG1+2;MG3+4"), "3.0000\r\n: 7.0000");
    EXPECT_EQ(dmc.CommandReply("SB4;WT20;CB4"), "");
    EXPECT_EQ(dmc.LightCommandReply("MG @OUT[4]"), "0.0000");
    // Only the front blanks and the trailing acknowledgement go: the first command's ":" stays.
    EXPECT_EQ(dmc.CommandReply("V1=1.5;V1="), ": 1.5000");
    EXPECT_EQ(dmc.CommandReply("MG \"A:B\""), "A:B");
}

INSTANTIATE_TEST_SUITE_P(Links, ChannelContract, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "TcpToSeparateSimulator" : "InProcessSimulator"; });

// ---- the TCP link against peers that misbehave

TEST(TcpTransport, AddressForms)
{
    struct Case {
        const char* address;
        bool ok;
        const char* host;
        std::uint16_t port;
    };
    const Case cases[] = {
        {"10.0.0.70", true, "10.0.0.70", 23},   {"controller:1023", true, "controller", 1023},
        {"host:0", false, "", 0},               {"host:65536", false, "", 0},
        {"host:x", false, "", 0},               {"", false, "", 0},
        {"[::1]:24", true, "::1", 24},          {"fe80::1", true, "fe80::1", 23},
    };
    for (const auto& c : cases) {
        std::string host;
        std::uint16_t port = 0;
        EXPECT_EQ(TcpTransport::parseAddress(c.address, host, port), c.ok) << c.address;
        if (c.ok) {
            EXPECT_EQ(host, c.host) << c.address;
            EXPECT_EQ(port, c.port) << c.address;
        }
    }
}

TEST(TcpTransport, ControllerWaitsLengthenTheTimeOut)
{
    EXPECT_EQ(TcpTransport::lineTimeoutMs("MG _BGX", 500), 500);
    EXPECT_EQ(TcpTransport::lineTimeoutMs("SB1;WT300;CB1", 500), 800);
    EXPECT_EQ(TcpTransport::lineTimeoutMs("WT 20;WT20", 500), 540);
    EXPECT_GT(TcpTransport::lineTimeoutMs("MCXZ", 500), 60000);
    EXPECT_GT(TcpTransport::lineTimeoutMs("RS", 500), 2000);
}

// The identification went unanswered, so the stream is out of step: the first command asks the
// marker, waits one time-out for it and closes the link; later commands fail at once.
TEST(TcpTransport, SilentPeerCostsOneTimeOutThenTheLinkCloses)
{
    FakePeer peer([](const std::string&) { return std::nullopt; });
    TcpTransport link(peer.address(), 200);
    ASSERT_TRUE(link.connect());
    EXPECT_EQ(link.connection(), peer.address()); // no identification came back
    const auto t0 = realMs();
    const GalilReply r = link.command("MG _BGX", "\r\n", "", true);
    const auto took = realMs() - t0;
    EXPECT_FALSE(r.ok);
    EXPECT_GE(took, 190);
    EXPECT_LT(took, 1000);
    EXPECT_FALSE(link.isOpen());
    EXPECT_FALSE(link.command("MG _BGX", "\r\n", "", true).ok);
    EXPECT_LT(realMs() - t0, 1000);
}

TEST(TcpTransport, PeerThatClosesGivesFailuresAtOnce)
{
    FakePeer peer([](const std::string&) { return std::nullopt; }, true);
    TcpTransport link(peer.address(), 2000);
    link.connect();
    const auto t0 = realMs();
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(link.command("RPXYZW", "\r\n", "", true).ok);
    EXPECT_LT(realMs() - t0, 2500); // at most the first exchange waits, never one per command
    EXPECT_FALSE(link.isOpen());
}

TEST(TcpTransport, LateReplyOfATimedOutCommandDoesNotAnswerTheNext)
{
    FakePeer peer([](const std::string& line) -> std::optional<std::string> {
        if (line == "MG 1") {
            std::this_thread::sleep_for(Ms(300));
            return std::string(" 1.0000\r\n:");
        }
        if (line == "MG 2") // a controller program's message (top bit set) slips in between
            return std::string(" 2.0\xc8\xc9\x8a" "000\r\n:");
        if (line == "XX")
            return std::string("?");
        if (line == "TC1")
            return std::string(" 1 Unrecognized command\r\n:");
        if (line.rfind("MG ", 0) == 0) // the marker that brings the stream back in step
            return " " + line.substr(3) + ".0000\r\n:";
        return std::string(":");
    });
    TcpTransport link(peer.address(), 100);
    ASSERT_TRUE(link.connect());
    EXPECT_FALSE(link.command("MG 1", "\r\n", "", true).ok);
    std::this_thread::sleep_for(Ms(400));
    DebugLogCapture log;
    const GalilReply two = link.command("MG 2", "\r\n", "", true);
    EXPECT_TRUE(two.ok) << two.error;
    EXPECT_EQ(two.text, "2.0000");
    const auto lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Controller sent 3 unsolicited bytes; dropped"), lines.end());
    const GalilReply bad = link.command("XX", "\r\n", "", true);
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.error, "COMMAND ERROR: 1 Unrecognized command");
}

// A peer that answers one line after the time-out: the answer of the line that timed out is
// never taken for a later command's. The stream is brought back in step (the next command gets
// its own answer), or, when the peer does not answer the marker, every later command fails.
TEST(TcpTransport, AnAnswerAfterTheTimeOutIsNeverTakenForTheNextCommands)
{
    constexpr int kTimeoutMs = 500;
    struct Case {
        const char* what;
        bool silentAfterTheLateAnswer;
        std::vector<std::optional<std::string>> expected; // MG 1 .. MG 5; nullopt: a failure
    };
    const Case cases[] = {
        {"late by one line, then in step", false, {"1.0000", std::nullopt, "3.0000", "4.0000", "5.0000"}},
        {"late by one line, then silent", true, {"1.0000", std::nullopt, std::nullopt, std::nullopt, std::nullopt}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::atomic<bool> answeredLate{false};
        FakePeer peer([&](const std::string& line) -> std::optional<std::string> {
            if (answeredLate && c.silentAfterTheLateAnswer)
                return std::nullopt;
            if (line.rfind("MG ", 0) != 0)
                return std::string(":");
            if (line == "MG 2") {
                // The controller holds this answer past the station's patience, and every
                // later line waits behind it, as in the controller's one interpreter.
                std::this_thread::sleep_for(Ms(kTimeoutMs + 300));
                answeredLate = true;
            }
            return " " + line.substr(3) + ".0000\r\n:";
        });
        TcpTransport link(peer.address(), kTimeoutMs);
        ASSERT_TRUE(link.connect());
        for (int i = 0; i < 5; ++i) {
            const std::string command = "MG " + std::to_string(i + 1);
            const GalilReply r = link.command(command, "\r\n", "", true);
            if (c.expected[i]) {
                EXPECT_TRUE(r.ok) << command << ": " << r.error;
                EXPECT_EQ(r.text, *c.expected[i]) << command;
            } else {
                EXPECT_FALSE(r.ok) << command << " answered " << r.text;
                EXPECT_EQ(r.text, "") << command;
            }
        }
    }
}

TEST(TcpTransport, ControllerSideWaitOutlastsTheBaseTimeOut)
{
    SimProcess process;
    ASSERT_GT(process.port(), 0);
    TcpTransport link("127.0.0.1:" + std::to_string(process.port()), 100);
    ASSERT_TRUE(link.connect());
    EXPECT_NE(link.connection().find("DMC4040 Rev sim"), std::string::npos);
    const auto t0 = realMs();
    const GalilReply r = link.command("SB4;WT300;CB4;MG @OUT[4]", "\r\n", "", true);
    EXPECT_GE(realMs() - t0, 290);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.text, "::: 0.0000"); // only the blanks in front of the whole reply go
}

TEST(TcpTransport, NobodyListeningMeansNotConnected)
{
    int port = 0;
    {
        FakePeer gone([](const std::string&) { return std::nullopt; });
        port = std::stoi(gone.address().substr(gone.address().rfind(':') + 1));
    }
    TcpTransport link("127.0.0.1:" + std::to_string(port), 500);
    EXPECT_FALSE(link.connect());
    EXPECT_EQ(link.connection(), "");
    EXPECT_FALSE(link.command("SH", "\r\n", "", true).ok);
}

class TcpChannel : public test::StationFixture {};

TEST_F(TcpChannel, SimulatorProcessGoneLeavesEmptyRepliesNotAHang)
{
    SimProcess process;
    ASSERT_GT(process.port(), 0);
    keys::write(keys::GalilIP, QStringLiteral("127.0.0.1:%1").arg(process.port()));
    TDMC dmc;
    ASSERT_TRUE(dmc.Connected());
    EXPECT_EQ(dmc.CommandReply("MG 2*3"), "6.0000");
    process.kill();
    const auto t0 = realMs();
    std::string r = dmc.CommandReply("RPXYZW");
    EXPECT_EQ(r, "");
    EXPECT_EQ(TDMC::SeparateValue(r), 0);
    EXPECT_EQ(dmc.LightCommandReply("MG @OUT[1]"), "0.0000");
    EXPECT_LT(realMs() - t0, 1000);
}

} // namespace
} // namespace lapido
