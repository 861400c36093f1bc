// TDMC: the one command channel to the motion controller (every byte to it passes here).
#pragma once

#include "machine/galiltransport.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace lapido {

// Opens the controller at the stored address, sends commands and keeps the last reply. It
// never raises: a failed command gives an empty reply, which numeric reads turn into 0.
// Thread safe: every command and reply pair runs under one lock, so the trace sampler can
// read positions while a marking runs on the main thread.
class TDMC {
public:
    // Opens the controller at Hardware/GalilIP through the address-dispatching transport
    // (address "sim": the in-process simulator; "host" or "host:port": TCP).
    TDMC();
    // Opens through the given transport (tests, or a caller that chose the link itself).
    explicit TDMC(std::unique_ptr<GalilTransport> transport);
    // Opens through the given transport at an address chosen for this run (a command line's):
    // the stored address is neither read nor written.
    TDMC(std::unique_ptr<GalilTransport> transport, std::string_view address);
    ~TDMC();
    TDMC(const TDMC&) = delete;
    TDMC& operator=(const TDMC&) = delete;

    // The normal path: upper-cases, logs (except the polling commands), stores ReplyStr.
    std::string CommandReply(std::string_view Cmd);
    // One status read: no log, no upper-casing, no Connected test; "0.0000" on failure.
    std::string LightCommandReply(std::string_view Cmd);
    // Fire and forget: logs, sends upper-cased when connected, drops the reply.
    void FastCommand(std::string_view Cmd);
    // Takes the first comma-separated number off the front of St (first line only); 0 when
    // St is empty or the token is not a number.
    static double SeparateValue(std::string& St);

    bool Connected() const { return m_connected; }
    // Reply to the last CommandReply (empty after a failure).
    std::string ReplyStr() const;
    // Why the last CommandReply failed (the controller's refusal with its reason, a time-out,
    // a lost link); empty when it succeeded.
    std::string LastError() const;
    const std::string& ConnectionString() const { return m_connectionString; }
    // Controller number shown in the log lines; never assigned, so always 0.
    int Controller() const { return m_controller; }

    // One command without a log line and without upper-casing; nullopt when it failed.
    std::optional<std::string> QuietCommand(std::string_view Cmd);

    // The heartbeat of the controller's watchdog: once set, it goes out (quietly) before any
    // command when periodMs have passed since the last one, on the station's clock or in real
    // time, whichever shows more; beatIfDue() sends it from another thread under the same rule
    // (it waits while a command holds the channel, as the controller's interpreter does).
    // Heartbeat(text) sends a given one now, e.g. a longer one before a line that holds the
    // controller. An empty command stops the heartbeat.
    void setHeartbeat(std::string command, std::int64_t periodMs);
    bool beatIfDue();
    void Heartbeat(std::string_view command);

    // True when Cmd is one of the polling commands that leave no log line.
    static bool isQuiet(std::string_view Cmd);
    // The link underneath (tests reach the simulator through it).
    GalilTransport& transport() { return *m_transport; }

private:
    // At the stored address (written back when empty), or at the given one.
    void open(std::optional<std::string_view> address);
    // Sends the heartbeat when it is due (the lock held).
    void beatLocked(bool force, std::string_view command = {});

    std::unique_ptr<GalilTransport> m_transport;
    mutable std::mutex m_mutex;
    bool m_connected = false;
    std::string m_replyStr;
    std::string m_lastError;
    std::string m_connectionString;
    int m_controller = 0;
    std::string m_heartbeat;
    std::int64_t m_heartbeatPeriodMs = 0;
    std::int64_t m_lastBeatStationMs = 0;
    std::int64_t m_lastBeatRealMs = 0;
};

// The time one command takes to the controller and back on the channel's link, in ms on the
// station's clock: the median of a few harmless status reads (0 without a connection). The
// marking preview adds it to every command, as a real run pays it.
double MeasureRoundTripMs(TDMC& dmc, int samples = 9);

} // namespace lapido
