// TTickTimer: a named millisecond delay on the station's tick counter, with its modal wait.
#pragma once

#include <QString>

#include <cstdint>

namespace lapido {

// The delays of the laser output lines (enable settle time, system start-up, delayed
// switch-off). Ticks come from systemClock(), so tests run them on virtual time.
class TTickTimer {
public:
    TTickTimer(const QString& AName, std::uint32_t ADelay);

    void Start();
    void Start(std::uint32_t ADelay);
    void Stop();
    // Milliseconds until the end tick, 0 once it has passed.
    std::uint32_t Remaining() const;
    // True exactly once: the first call after a running timer has run out.
    bool Finished();
    bool IsRunning() const { return Running; }
    // Returns true at once when the end tick has passed; otherwise shows the modal wait
    // ("Waiting....", "Please wait!", Name, progress, Abort) until it has. False when the
    // operator pressed Abort.
    bool Wait();

    QString Name;
    std::int64_t StartTick = 0;
    std::int64_t EndTick = 0;
    std::uint32_t Delay = 0;
    bool Running = false;
};

} // namespace lapido
