// Real and virtual clocks.
#include "platform/clock.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

namespace lapido {

namespace {
std::int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

RealClock::RealClock(double speed) : m_speed(speed > 0 ? speed : 1.0), m_startNs(steadyNs()) {}

std::int64_t RealClock::nowUs() const
{
    return static_cast<std::int64_t>(static_cast<double>(steadyNs() - m_startNs) * m_speed / 1000.0);
}

void RealClock::sleepUs(std::int64_t us)
{
    if (us <= 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<std::int64_t>(us / m_speed)));
}

bool RealClock::waitUntilUs(std::int64_t deadlineUs, std::int64_t realLimitMs)
{
    const std::int64_t left = deadlineUs - nowUs();
    if (left <= 0)
        return true;
    const auto realUs = static_cast<std::int64_t>(left / m_speed);
    if (realUs > realLimitMs * 1000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(realLimitMs));
        return false;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(realUs));
    return true;
}

void VirtualClock::sleepUs(std::int64_t us)
{
    if (us < 0)
        us = 0;
    {
        std::lock_guard lock(m_mutex);
        // Time stops at the end of the count instead of wrapping into the past.
        const std::int64_t now = m_nowUs.load();
        m_nowUs.store(now + std::min(us, std::numeric_limits<std::int64_t>::max() - now));
    }
    m_advanced.notify_all();
}

bool VirtualClock::waitUntilUs(std::int64_t deadlineUs, std::int64_t realLimitMs)
{
    std::unique_lock lock(m_mutex);
    return m_advanced.wait_for(lock, std::chrono::milliseconds(realLimitMs),
                               [&] { return m_nowUs.load() >= deadlineUs; });
}

namespace {
Clock& defaultClock()
{
    static RealClock clock;
    return clock;
}
std::atomic<Clock*> g_clock{nullptr};
} // namespace

Clock& systemClock()
{
    Clock* c = g_clock.load();
    return c ? *c : defaultClock();
}

Clock* setSystemClock(Clock* clock)
{
    return g_clock.exchange(clock);
}

} // namespace lapido
