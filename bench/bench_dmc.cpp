// Controller channel speed: round trips through TDMC to the in-process simulator and over TCP loopback
// to lapidograph-dmcsim in a child process, beside a bare loopback round trip; and a 10 000-segment
// vector sequence on virtual time.
#include "machine/galildmc.h"
#include "machine/tcptransport.h"
#include "platform/clock.h"
#include "platform/settingsstore.h"
#include "settings/settingskeys.h"
#include "sim/dmcsimtransport.h"
#include "sim/dmcsimulator.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

using namespace lapido;

namespace {

// The channel reads its address from the store: give every benchmark a scratch one.
struct ScratchStore {
    ScratchStore(const QString& address)
    {
        setAppRegistry(SettingsStore::open(dir.filePath(QStringLiteral("settings.db"))));
        keys::write(keys::GalilIP, address);
    }
    ~ScratchStore() { setAppRegistry(nullptr); }
    QTemporaryDir dir;
};

// lapidograph-dmcsim next to this program, on a free port.
struct SimChild {
    SimChild()
    {
        const auto exe = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "lapidograph-dmcsim";
        int out[2];
        if (::pipe(out) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::execl(exe.c_str(), exe.c_str(), "--port", "0", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        std::string line;
        char c;
        pollfd p{out[0], POLLIN, 0};
        while (line.find('\n') == std::string::npos && ::poll(&p, 1, 5000) == 1 && ::read(out[0], &c, 1) == 1)
            line += c;
        ::close(out[0]);
        const auto at = line.rfind("port ");
        if (at != std::string::npos)
            port = std::atoi(line.c_str() + at + 5);
    }
    ~SimChild()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
    pid_t pid = -1;
    int port = 0;
};

void BM_TdmcInProcessSimulator(benchmark::State& state)
{
    ScratchStore store(QStringLiteral("sim"));
    VirtualClock clock;
    ScopedClock scoped(clock);
    ScopedDmcSimulator sim(&clock);
    TDMC dmc;
    if (!dmc.Connected()) {
        state.SkipWithError("no simulator");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(dmc.CommandReply("MG _BGX"));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TdmcInProcessSimulator);

void BM_TdmcTcpToSimulatorProcess(benchmark::State& state)
{
    SimChild child;
    if (child.port <= 0) {
        state.SkipWithError("lapidograph-dmcsim did not start");
        return;
    }
    ScratchStore store(QStringLiteral("127.0.0.1:%1").arg(child.port));
    TDMC dmc;
    if (!dmc.Connected()) {
        state.SkipWithError("not connected");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(dmc.CommandReply("MG _BGX"));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TdmcTcpToSimulatorProcess)->UseRealTime();

// The floor: a peer thread that answers each line at once with the same reply bytes, and a
// client that writes one command and reads until the acknowledgement; no parsing anywhere.
void BM_BareLoopbackRoundTrip(benchmark::State& state)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener, 1);
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    std::thread peer([listener] {
        const int fd = ::accept(listener, nullptr, nullptr);
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        char buf[256];
        static const char reply[] = " 0.0000\r\n:";
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0)
            for (ssize_t i = 0; i < n; ++i)
                if (buf[i] == '\r')
                    ::send(fd, reply, sizeof reply - 1, MSG_NOSIGNAL);
        ::close(fd);
    });
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    static const char cmd[] = "MG _BGX\r";
    char buf[256];
    for (auto _ : state) {
        ::send(fd, cmd, sizeof cmd - 1, 0);
        bool done = false;
        while (!done) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            done = buf[n - 1] == ':';
        }
    }
    state.SetItemsProcessed(state.iterations());
    ::close(fd);
    peer.join();
    ::close(listener);
}
BENCHMARK(BM_BareLoopbackRoundTrip)->UseRealTime();

// The same command over the TCP link without the channel above it (locking, logging test).
void BM_TcpTransportToSimulatorProcess(benchmark::State& state)
{
    SimChild child;
    TcpTransport link("127.0.0.1:" + std::to_string(child.port), 3000);
    if (child.port <= 0 || !link.connect()) {
        state.SkipWithError("lapidograph-dmcsim not reachable");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(link.command("MG _BGX", "\r\n", "", true));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TcpTransportToSimulatorProcess)->UseRealTime();

// A 10 000-segment contour fed as the station feeds it: 50 segments queued, "BGS", then one
// "LM?" per segment and 10 ms of (virtual) waiting while more than 10 are queued; W geared
// to the path, gate open, so every pulse is recorded. Wall time of the whole sequence.
void BM_VectorSequence10k(benchmark::State& state)
{
    ScratchStore store(QStringLiteral("sim"));
    std::int64_t pulses = 0;
    for (auto _ : state) {
        VirtualClock clock;
        ScopedClock scoped(clock);
        ScopedDmcSimulator sim(&clock);
        sim->setTranscriptLimit(1000);
        TDMC dmc;
        for (const char* c : {"SB1;SB2;SB3", "GAW=N", "DPW=0", "GAW=S", "GRW=1", "CS", "LM XY", "VS 2000",
                              "VA 10000", "VD 10000"})
            dmc.CommandReply(c);
        bool running = false;
        for (int i = 0; i < 10000; ++i) {
            if (running) {
                while (true) {
                    std::string f = dmc.CommandReply("LM?");
                    const double free = TDMC::SeparateValue(f);
                    if (free < 502)
                        clock.sleepMs(10);
                    if (free > 0)
                        break;
                }
            } else if (i == 50) {
                dmc.CommandReply("BGS");
                running = true;
            }
            dmc.CommandReply(i % 2 ? "LI 20,7 <2000 >1500" : "LI 20,-7 <2000 >1500");
        }
        dmc.CommandReply("LE");
        while (true) {
            std::string r = dmc.CommandReply("MG _BGS");
            if (TDMC::SeparateValue(r) == 0)
                break;
            clock.sleepMs(10);
        }
        pulses = static_cast<std::int64_t>(sim->markCount());
        state.counters["virtual_s"] = static_cast<double>(clock.nowUs()) / 1e6;
    }
    state.counters["pulses"] = static_cast<double>(pulses);
}
BENCHMARK(BM_VectorSequence10k)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    ::signal(SIGPIPE, SIG_IGN);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
