// Tests of the simulated controller behind its TCP port.
#include "platform/clock.h"
#include "sim/dmcsimserver.h"
#include "sim/dmcsimulator.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace lapido {
namespace {

// The number of the process's memory mappings: a thread's stack is one (with its guard page, two)
// until the thread is joined.
long mappingCount()
{
    std::ifstream maps("/proc/self/maps");
    long lines = 0;
    for (std::string line; std::getline(maps, line);)
        ++lines;
    return lines;
}

// One connection: sends a command, reads its answer, closes with a reset so that the client's
// ports are not held in TIME_WAIT. Returns the answer ("" when anything failed).
std::string askOnce(std::uint16_t port, const std::string& line)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0
        && ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size())) {
        char buf[256];
        while (answer.find(':') == std::string::npos && answer.find('?') == std::string::npos) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            answer.append(buf, static_cast<std::size_t>(n));
        }
    }
    linger reset{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(fd);
    return answer;
}

// Each finished connection's thread is reclaimed while the server runs: a long run of short
// connections, one after the other, neither ends the server nor grows its memory.
TEST(DmcSimServerTest, ManyConnectionsInARowKeepMemoryFlat)
{
    VirtualClock clock{1'000'000};
    auto sim = std::make_shared<DmcSimulator>(&clock);
    DmcSimServer server(sim);
    std::string error;
    ASSERT_TRUE(server.listen(0, "127.0.0.1", &error)) << error;

    constexpr int kWarmUp = 1000;
    constexpr int kConnections = 40000;
    long before = 0;
    for (int i = 0; i < kConnections; ++i) {
        if (i == kWarmUp)
            before = mappingCount();
        const std::string answer = askOnce(server.port(), "MG 7\r");
        ASSERT_NE(answer.find('7'), std::string::npos) << "connection " << i << ": \"" << answer << "\"";
    }
    const long after = mappingCount();
    ASSERT_GT(before, 0);
    // A thread never joined keeps its stack; a few live connections and the allocator's
    // per-thread arenas may add some.
    EXPECT_LT(after - before, 200) << "mappings before " << before << ", after " << after;
}

// Every handle held by a peer that sends nothing: the newcomer is turned away until the idle
// connections time out, then it is served. A download sent in pieces over the link is taken
// whole.
TEST(DmcSimServerTest, IdleConnectionsGiveTheirHandlesBack)
{
    auto sim = std::make_shared<DmcSimulator>();
    DmcSimServer server(sim);
    server.setIdleTimeoutMs(300);
    std::string error;
    ASSERT_TRUE(server.listen(0, "127.0.0.1", &error)) << error;
    std::vector<int> idle;
    for (int i = 0; i < DmcSimServer::kMaxHandles; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(server.port());
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        idle.push_back(fd);
    }
    // The first one answers, so all eight hold handles by now.
    ASSERT_EQ(::send(idle[0], "MG 1\r", 5, MSG_NOSIGNAL), 5);
    char buf[64];
    ASSERT_GT(::recv(idle[0], buf, sizeof buf, 0), 0);
    EXPECT_EQ(askOnce(server.port(), "MG 9\r"), "") << "all handles taken";
    // The server closes each idle one: its peer reads the end of the stream.
    for (int fd : idle) {
        EXPECT_EQ(::recv(fd, buf, sizeof buf, 0), 0);
        ::close(fd);
    }
    EXPECT_EQ(askOnce(server.port(), "MG 9\r"), " 9.0000\r\n:");
    EXPECT_EQ(askOnce(server.port(), "DL\r#A\rWT 5\rEN\r\\"), ":");
    EXPECT_EQ(askOnce(server.port(), "XQ #A,0\r"), ":");
}

} // namespace
} // namespace lapido
