// TcpTransport: the controller's Ethernet ASCII command protocol over a TCP socket.
#pragma once

#include "machine/galiltransport.h"

#include <cstdint>
#include <string>

namespace lapido {

// Plain POSIX socket (usable from any thread, unlike a QTcpSocket) with TCP_NODELAY; each
// command goes out in one write, with a carriage return, and the reply is read until every
// command of the line has its ':' or '?'. A command never waits longer than its time-out; a
// peer that closes or stays silent gives a failed reply, never a hang.
class TcpTransport final : public GalilTransport {
public:
    static constexpr std::uint16_t kDefaultPort = 23;

    explicit TcpTransport(std::string address = {}, int timeoutMs = 3000);
    ~TcpTransport() override;

    std::string address() const override { return m_address; }
    void setAddress(std::string_view address) override { m_address = std::string(address); }
    bool connect() override;
    void disconnect() override;
    std::string connection() const override { return m_connection; }
    bool isRemote() const override { return true; }
    GalilReply command(std::string_view text, std::string_view terminator, std::string_view ack,
                       bool trim) override;

    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    int timeoutMs() const { return m_timeoutMs; }
    bool isOpen() const { return m_fd >= 0; }

    // Splits "host" or "host:port"; false when the port is not a number in 1..65535.
    static bool parseAddress(std::string_view address, std::string& host, std::uint16_t& port);
    // Time-out for one line: the base, plus the controller-side waits the line holds.
    static int lineTimeoutMs(std::string_view line, int baseMs);

private:
    enum class SendResult { Sent, TimedOut, Lost };
    GalilReply exchange(std::string_view line, int timeoutMs);
    void drainStale();
    SendResult sendAll(std::string_view bytes, std::int64_t deadlineMs);
    // Brings the stream back in step after a time-out; false (and the link closed) when the
    // controller does not answer the marker.
    bool resynchronise();

    std::string m_address;
    int m_timeoutMs;
    int m_fd = -1;
    bool m_stale = false; // a line timed out: its late answer may still come
    std::uint32_t m_marker = 24680; // the number of the last resynchronisation marker
    std::string m_connection;
};

} // namespace lapido
