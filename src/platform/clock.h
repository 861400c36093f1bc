// Time source for every wait and for the simulators: real time, or virtual time in tests.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>

namespace lapido {

// The station's millisecond tick counter and sleep. Model code never calls the system clock
// directly, so a whole marking can run on virtual time, deterministically, in milliseconds.
class Clock {
public:
    virtual ~Clock() = default;

    // Monotonic time since an arbitrary start, in microseconds.
    virtual std::int64_t nowUs() const = 0;
    // Let time pass for the caller. The virtual clock advances at once.
    virtual void sleepUs(std::int64_t us) = 0;
    // Passive wait until nowUs() >= deadlineUs, for a second thread that must not drive time
    // itself (the trace sampler). Returns false when the real-time safety limit ran out first.
    virtual bool waitUntilUs(std::int64_t deadlineUs, std::int64_t realLimitMs = 1000) = 0;

    // The tick counter of the station (milliseconds, wraps like a 32-bit counter would not).
    std::int64_t tickMs() const { return nowUs() / 1000; }
    // A wait longer than the microsecond count can hold is as long as it can hold.
    void sleepMs(std::int64_t ms)
    {
        constexpr std::int64_t kMaxMs = std::numeric_limits<std::int64_t>::max() / 1000;
        sleepUs(ms > kMaxMs ? std::numeric_limits<std::int64_t>::max() : ms * 1000);
    }
};

// Wall-clock time, optionally sped up for a demonstration on the simulated machine.
class RealClock final : public Clock {
public:
    explicit RealClock(double speed = 1.0);
    std::int64_t nowUs() const override;
    void sleepUs(std::int64_t us) override;
    bool waitUntilUs(std::int64_t deadlineUs, std::int64_t realLimitMs) override;

private:
    double m_speed;
    std::int64_t m_startNs;
};

// Time that moves only when someone sleeps on it. Thread safe: a sleeper on one thread
// releases passive waiters on another.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(std::int64_t startUs = 0) : m_nowUs(startUs) {}
    std::int64_t nowUs() const override { return m_nowUs.load(); }
    void sleepUs(std::int64_t us) override;
    bool waitUntilUs(std::int64_t deadlineUs, std::int64_t realLimitMs) override;
    void advanceUs(std::int64_t us) { sleepUs(us); }

private:
    std::atomic<std::int64_t> m_nowUs;
    std::mutex m_mutex;
    std::condition_variable m_advanced;
};

// The process-wide clock (real by default). Tests and headless runs install a virtual one.
Clock& systemClock();
// Installs a clock for the rest of the run (or until the returned previous one is restored).
Clock* setSystemClock(Clock* clock);

// RAII installation of a clock for a test or a headless run.
class ScopedClock {
public:
    explicit ScopedClock(Clock& clock) : m_previous(setSystemClock(&clock)) {}
    ~ScopedClock() { setSystemClock(m_previous); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    Clock* m_previous;
};

} // namespace lapido
