// LaserWatchdog: the program text, arming and disarming it, and the heartbeat.
#include "machine/laserwatchdog.h"

#include "machine/galildmc.h"
#include "platform/clock.h"
#include "platform/debuglog.h"
#include "platform/numfmt.h"

#include <chrono>
#include <cmath>

namespace lapido {

namespace {

// The clock is measured over at least this long: a status read's round trip is a small part of it.
constexpr std::int64_t kClockSpanMs = 100;

std::string setLine(bool on, bool inverted, int bit)
{
    return ((on != inverted) ? "SB" : "CB") + std::to_string(bit);
}

} // namespace

LaserWatchdog::LaserWatchdog(TDMC& dmc) : m_dmc(dmc) {}

LaserWatchdog::~LaserWatchdog()
{
    // The program stays armed on the controller if the station ends without disarming it: it is
    // then exactly the station that fell silent.
    stopBeating();
}

std::string LaserWatchdog::programDownload(const LaserLinePolarities& l)
{
    // One command per line: the switch-off runs in the order the station's own switch-off
    // uses (gate, enable line and its off pulse, supply and its off pulse).
    const char* lines[] = {"#WDOG", "WT 50", "JP #WDOG,TIME<WDHB"};
    std::string text = "DL\r";
    for (const char* line : lines)
        text += std::string(line) + '\r';
    const std::string off[] = {
        setLine(false, l.invertGate, 1),
        setLine(false, l.invertShutter, 2),
        setLine(true, l.invertShutter, 5), "WT 20", setLine(false, l.invertShutter, 5),
        setLine(false, l.invertSystem, 3),
        setLine(true, l.invertSystem, 7), "WT 20", setLine(false, l.invertSystem, 7),
        "WDTRIP=1",
        "ST SXYZW",
        "EN",
    };
    for (const std::string& line : off)
        text += line + '\r';
    return text + '\\';
}

std::string LaserWatchdog::heartbeat(std::int64_t extraMs) const
{
    const double units = (kLimitMs + std::max<std::int64_t>(0, extraMs)) * std::max(m_rate, 0.0);
    return "WDHB=TIME+" + std::to_string(std::llround(units));
}

std::optional<double> LaserWatchdog::readControllerTime()
{
    const auto reply = m_dmc.QuietCommand("MG TIME");
    if (!reply)
        return std::nullopt;
    return StrToFloatPoint(trimmedAscii(*reply));
}

std::optional<QString> LaserWatchdog::measureClock()
{
    // The controller's clock counts samples, a millisecond each on most models and 1/1024 s on
    // some, and a simulator may run faster than the station: the deadline is put in its units.
    Clock& clock = systemClock();
    const std::int64_t s0 = clock.nowUs();
    const auto t0 = readControllerTime();
    const std::int64_t s1 = clock.nowUs();
    clock.sleepMs(kClockSpanMs);
    const std::int64_t s2 = clock.nowUs();
    const auto t1 = readControllerTime();
    const std::int64_t s3 = clock.nowUs();
    if (!t0 || !t1)
        return QStringLiteral("the controller does not tell its clock (MG TIME)");
    const double stationMs = ((s2 + s3) - (s0 + s1)) / 2000.0;
    const double rate = stationMs > 0 ? (*t1 - *t0) / stationMs : 0;
    if (!(rate > 0.01) || !std::isfinite(rate))
        return QStringLiteral("the controller's clock does not run (MG TIME)");
    m_rate = rate;
    return std::nullopt;
}

std::optional<QString> LaserWatchdog::arm(const LaserLinePolarities& lines)
{
    if (m_armed)
        return std::nullopt;
    if (m_loadedFor != lines) {
        m_dmc.CommandReply(programDownload(lines));
        if (!m_dmc.LastError().empty())
            return QStringLiteral("the controller refused the watchdog program (%1)")
                .arg(QString::fromStdString(m_dmc.LastError()));
        m_loadedFor = lines;
    }
    if (m_rate <= 0)
        if (auto problem = measureClock())
            return problem;
    m_tripSeen = false;
    for (const std::string& command :
         {std::string("WDTRIP=0"), heartbeat(0), "XQ #WDOG," + std::to_string(kThread)}) {
        m_dmc.CommandReply(command);
        if (!m_dmc.LastError().empty())
            return QStringLiteral("the controller refused \"%1\" (%2)")
                .arg(QString::fromStdString(command), QString::fromStdString(m_dmc.LastError()));
    }
    m_dmc.setHeartbeat(heartbeat(0), kBeatMs);
    m_armed = true;
    startBeating();
    LogDebug("Laser watchdog armed on the controller");
    return std::nullopt;
}

bool LaserWatchdog::disarm()
{
    if (!m_armed)
        return false;
    stopBeating();
    m_dmc.setHeartbeat({}, 0);
    m_armed = false;
    m_dmc.CommandReply("HX" + std::to_string(kThread));
    const bool wasTripped = askTripped() || m_tripSeen;
    LogDebug(wasTripped ? "Laser watchdog disarmed; it had switched the laser off" : "Laser watchdog disarmed");
    return wasTripped;
}

bool LaserWatchdog::askTripped()
{
    const auto tripped = m_dmc.QuietCommand("MG WDTRIP");
    const bool yes = tripped && StrToFloatPoint(trimmedAscii(*tripped)).value_or(0) != 0;
    if (yes)
        m_tripSeen = true;
    return yes;
}

void LaserWatchdog::hold(std::int64_t holdMs)
{
    if (m_armed && holdMs > 0)
        m_dmc.Heartbeat(heartbeat(holdMs));
}

void LaserWatchdog::startBeating()
{
    stopBeating();
    {
        std::lock_guard lock(m_mutex);
        m_stop = false;
    }
    // Real time: the controller's clock runs whether or not the station's does.
    m_beater = std::thread([this] {
        std::unique_lock lock(m_mutex);
        auto nextCheck = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTripCheckMs);
        while (!m_stop) {
            m_wake.wait_for(lock, std::chrono::milliseconds(kBeatMs / 4));
            if (m_stop)
                break;
            lock.unlock();
            m_dmc.beatIfDue();
            if (!m_tripSeen && std::chrono::steady_clock::now() >= nextCheck) {
                askTripped();
                nextCheck = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTripCheckMs);
            }
            lock.lock();
        }
    });
}

void LaserWatchdog::stopBeating()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_beater.joinable())
        m_beater.join();
}

} // namespace lapido
