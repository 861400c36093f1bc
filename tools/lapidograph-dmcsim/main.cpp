// lapidograph-dmcsim: serves the simulated motion controller over TCP on real (optionally sped-up) time.
#include "platform/clock.h"
#include "platform/numfmt.h"
#include "sim/dmcsimserver.h"
#include "sim/dmcsimulator.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

void usage(std::FILE* out)
{
    std::fprintf(out,
                 "usage: lapidograph-dmcsim [--port P] [--speed N] [--listen ADDRESS] [--buffer N] [--axes 4|8]\n"
                 "                          [--idle-timeout S]\n"
                 "  --port P        TCP port (default 23; 0 picks a free one and prints it)\n"
                 "  --speed N       run the controller's time N times faster than real time\n"
                 "  --listen ADDR   IPv4 address to listen on (default 127.0.0.1)\n"
                 "  --buffer N      vector buffer size (default 512)\n"
                 "  --axes N        4 or 8 axes (default 4)\n"
                 "  --idle-timeout S  close a connection that sends nothing for S seconds, freeing its\n"
                 "                  handle (default 60; 0 never)\n"
                 "  --help          this text\n"
                 "  --version       the program's version\n");
}

// Numbers on the command line take a point whatever the locale says.
bool number(const char* text, double& out)
{
    const auto v = lapido::StrToFloatPoint(text);
    if (!v)
        return false;
    out = *v;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    double port = 23;
    double speed = 1.0;
    std::string listenAddress = "127.0.0.1";
    lapido::DmcModel model;
    double idleSeconds = lapido::DmcSimServer::kDefaultIdleTimeoutMs / 1000.0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        double value = 0;
        const bool hasValue = i + 1 < argc;
        if (a == "--help" || a == "-h") {
            std::printf("lapidograph-dmcsim serves the laser inscription station's simulated motion controller\n"
                        "over TCP, for testing the controller link without a machine.\n\n");
            usage(stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("lapidograph-dmcsim %s\n", LAPIDO_FILE_VERSION);
            return 0;
        }
        if (!hasValue) {
            usage(stderr);
            return 2;
        }
        const char* v = argv[++i];
        if (a == "--listen") {
            listenAddress = v;
            continue;
        }
        if (!number(v, value)) {
            std::fprintf(stderr, "lapidograph-dmcsim: %s needs a number, not \"%s\"\n", a.c_str(), v);
            return 2;
        }
        if (a == "--port" && value >= 0 && value <= 65535 && value == static_cast<int>(value))
            port = value;
        else if (a == "--speed" && value > 0 && value <= 1000)
            speed = value;
        else if (a == "--buffer" && value >= 1 && value <= 4096 && value == static_cast<int>(value))
            model.bufferSize = static_cast<int>(value);
        else if (a == "--axes" && (value == 4 || value == 8))
            model.axisCount = static_cast<int>(value);
        else if (a == "--idle-timeout" && value >= 0 && value <= 86400)
            idleSeconds = value;
        else {
            std::fprintf(stderr, "lapidograph-dmcsim: bad option %s %s\n", a.c_str(), v);
            usage(stderr);
            return 2;
        }
    }

    lapido::RealClock clock(speed);
    auto sim = std::make_shared<lapido::DmcSimulator>(&clock, model);
    lapido::DmcSimServer server(sim);
    server.setIdleTimeoutMs(static_cast<int>(idleSeconds * 1000));
    std::string error;
    if (!server.listen(static_cast<std::uint16_t>(port), listenAddress, &error)) {
        std::fprintf(stderr, "lapidograph-dmcsim: cannot listen on %s:%d: %s\n", listenAddress.c_str(),
                     static_cast<int>(port), error.c_str());
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::printf("lapidograph-dmcsim listening on %s port %u\n", listenAddress.c_str(), server.port());
    std::fflush(stdout);
    while (!g_stop)
        ::usleep(100000);
    server.stop();
    return 0;
}
