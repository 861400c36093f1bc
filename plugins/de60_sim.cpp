// The simulated laser source: every plug-in entry point, with its state in the report text.
//
// Built in several variants (see CMakeLists.txt): the full pulse-triggered source, a gated
// source without GetMaxPulseRate, one without a model name and one that hands back garbage
// text. When the environment names a file in DE60_SIM_LOG, every call is appended to it, so
// that a test can see the order of calls after the library has been unloaded.
#include "machine/lasersourceabi.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define DE60_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct SourceState {
    bool opened = false;
    bool emitting = false;
    bool startedUp = false;
    bool shutDown = false;
    int frequencyHz = 1000;
    double currentA = 10.0;
    double powerPercent = 100.0;
    int emissionOnCalls = 0;
    int emissionOffCalls = 0;
};

SourceState g_state;

void logCall(const char* what, const std::string& detail = {})
{
    const char* path = std::getenv("DE60_SIM_LOG");
    if (!path || !*path)
        return;
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s%s%s\n", what, detail.empty() ? "" : " ", detail.c_str());
        std::fclose(f);
    }
}

std::string number(double v)
{
    // Like "%g", but with a point in any C locale.
    char text[64];
    const auto res = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 6);
    return std::string(text, res.ptr);
}

} // namespace

#ifndef DE60_SIM_NO_MODEL
DE60_EXPORT void GetLaserModel(char* buffer)
{
#ifdef DE60_SIM_GARBAGE
    // Longer than the agreed 255 characters, with control characters and no terminator in
    // reach of the limit.
    for (int i = 0; i < 600; ++i)
        buffer[i] = (i % 10 == 0) ? '\x07' : 'G';
#else
    std::strcpy(buffer,
#ifdef DE60_SIM_GATED
                "  DE60 Simulated Gated Source  "
#else
                "  DE60 Simulated Source  "
#endif
    );
#endif
}
#endif

DE60_EXPORT void ShowPanel(bool service)
{
    logCall("ShowPanel", service ? "service" : "operator");
}

DE60_EXPORT void OpenLaser()
{
    g_state = SourceState{};
    g_state.opened = true;
    logCall("OpenLaser");
}

DE60_EXPORT void CloseLaser()
{
    g_state.opened = false;
    g_state.emitting = false;
    logCall("CloseLaser");
}

DE60_EXPORT void StartUpLaser()
{
    g_state.startedUp = true;
    logCall("StartUpLaser");
}

DE60_EXPORT void ShutDownLaser()
{
    g_state.shutDown = true;
    g_state.emitting = false;
    logCall("ShutDownLaser");
}

DE60_EXPORT std::int32_t LaserState()
{
    return (g_state.opened ? 1 : 0) | (g_state.emitting ? 2 : 0);
}

DE60_EXPORT void SetLaserFrequency(std::int32_t hertz)
{
    g_state.frequencyHz = hertz;
    logCall("SetLaserFrequency", std::to_string(hertz));
}

DE60_EXPORT std::int32_t GetLaserFrequency()
{
    return g_state.frequencyHz;
}

DE60_EXPORT void SetLaserCurrent(double amperes)
{
    g_state.currentA = amperes;
    logCall("SetLaserCurrent", number(amperes));
}

DE60_EXPORT double GetLaserCurrent()
{
    return g_state.currentA;
}

DE60_EXPORT void SetLaserPower(double percent)
{
    g_state.powerPercent = percent;
    logCall("SetLaserPower", number(percent));
}

DE60_EXPORT double GetLaserPower()
{
    return g_state.powerPercent;
}

DE60_EXPORT void LaserEmissionOn()
{
    g_state.emitting = true;
    ++g_state.emissionOnCalls;
    logCall("LaserEmissionOn");
}

DE60_EXPORT void LaserEmissionOff()
{
    g_state.emitting = false;
    ++g_state.emissionOffCalls;
    logCall("LaserEmissionOff");
}

DE60_EXPORT bool LaserIsEmitting()
{
    return g_state.emitting;
}

DE60_EXPORT void LaserReport(char* buffer)
{
#ifdef DE60_SIM_GARBAGE
    std::memset(buffer, 'R', lapido::kLaserReportBytes);
#else
    std::snprintf(buffer, lapido::kLaserReportBytes,
                  "Opened: %s\nEmission: %s\nFrequency: %d Hz\nCurrent: %s A\nPower: %s %%\n"
                  "Emission on calls: %d\nEmission off calls: %d\nShut down: %s\n",
                  g_state.opened ? "yes" : "no", g_state.emitting ? "on" : "off", g_state.frequencyHz,
                  number(g_state.currentA).c_str(), number(g_state.powerPercent).c_str(),
                  g_state.emissionOnCalls, g_state.emissionOffCalls, g_state.shutDown ? "yes" : "no");
#endif
}

#ifndef DE60_SIM_GATED
DE60_EXPORT std::int32_t GetMaxPulseRate()
{
#ifdef DE60_SIM_GARBAGE
    return -1;
#else
    return 5000;
#endif
}
#endif
