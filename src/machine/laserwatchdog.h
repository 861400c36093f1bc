// LaserWatchdog: a program on the controller that switches the laser lines off when the station falls silent.
#pragma once

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace lapido {

class TDMC;

// The polarities of the laser's lines, as the machine's settings give them.
struct LaserLinePolarities {
    bool invertGate = false;
    bool invertShutter = false;
    bool invertSystem = false;
    bool operator==(const LaserLinePolarities&) const = default;
};

// A controller that runs apart from the station keeps its outputs when the station dies or
// its cable is cut. While the laser may be on, a thread of the controller's own program
// watches a heartbeat the station refreshes: a deadline in the controller's clock
// ("WDHB=TIME+n"). Once the controller's clock passes it, the program closes the gate, takes
// the enable line and the supply off (with their off pulses), stops the motion, notes the
// trip in WDTRIP and ends. The heartbeat goes out before the station's commands when it is
// due and from a thread of this object in between, so that a station waiting on the operator
// keeps it fresh; a line that holds the controller's interpreter is announced with hold().
// The same thread reads WDTRIP now and then, so that a trip under a living station (its link
// stalled past the limit) stops the run at once instead of being found when the laser goes off.
class LaserWatchdog {
public:
    // The heartbeat older than this (controller time) switches the laser off.
    static constexpr int kLimitMs = 500;
    // How often the station refreshes it.
    static constexpr int kBeatMs = 100;
    // How often the thread asks the controller whether the program switched the laser off.
    static constexpr int kTripCheckMs = 200;
    // The longest a line may hold the controller's interpreter while armed: the heartbeat is
    // stretched by that much, and a dead station must leave the laser off within a second.
    static constexpr int kMaxHoldMs = 250;
    // The program thread it runs in.
    static constexpr int kThread = 3;

    explicit LaserWatchdog(TDMC& dmc);
    ~LaserWatchdog();
    LaserWatchdog(const LaserWatchdog&) = delete;
    LaserWatchdog& operator=(const LaserWatchdog&) = delete;

    // The download of the program for these polarities: "DL", a carriage return, the lines,
    // a backslash.
    static std::string programDownload(const LaserLinePolarities& lines);

    // Downloads the program (once per connection and polarities), measures the controller's
    // clock against the station's (once), sets the heartbeat and starts the program's thread.
    // nullopt when it runs; otherwise why it could not be armed.
    std::optional<QString> arm(const LaserLinePolarities& lines);
    // Halts the program's thread and stops the heartbeat. True when the program had switched
    // the laser off before (the station fell silent for longer than the limit).
    bool disarm();
    bool isArmed() const { return m_armed; }
    // True once the thread read a trip from the controller (since the last arm).
    bool tripSeen() const { return m_tripSeen.load(); }
    // Asks the controller now whether the program switched the laser off (false when it does
    // not answer): a stop for another reason may be the trip's consequence.
    bool askTripped();
    // The controller's interpreter is about to be held for holdMs of its own time (WT, MC): the
    // heartbeat is stretched by that much, as no other can pass meanwhile.
    void hold(std::int64_t holdMs);
    // The controller was reset: its program memory no longer holds the program.
    void forgetProgram() { m_loadedFor.reset(); }
    // Controller clock units per millisecond of the station's clock (0 before the first arm).
    double clockRate() const { return m_rate; }

private:
    std::string heartbeat(std::int64_t extraMs) const;
    std::optional<double> readControllerTime();
    std::optional<QString> measureClock();
    void startBeating();
    void stopBeating();

    TDMC& m_dmc;
    bool m_armed = false;
    std::optional<LaserLinePolarities> m_loadedFor;
    double m_rate = 0;
    std::thread m_beater;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::atomic<bool> m_tripSeen{false};
};

} // namespace lapido
