// TcpTransport: connection, one-write commands and acknowledgement counting over POSIX sockets.
#include "machine/tcptransport.h"

#include "platform/debuglog.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>

namespace lapido {

namespace {

std::int64_t monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Extra patience for lines that hold a controller-side wait: WT n holds the answer n ms, a
// motion-complete wait as long as the move runs, a reset some hundreds of milliseconds.
constexpr int kMotionWaitMs = 120000;
constexpr int kResetMs = 5000;

} // namespace

TcpTransport::TcpTransport(std::string address, int timeoutMs)
    : m_address(std::move(address)), m_timeoutMs(timeoutMs)
{
}

TcpTransport::~TcpTransport()
{
    disconnect();
}

bool TcpTransport::parseAddress(std::string_view address, std::string& host, std::uint16_t& port)
{
    port = kDefaultPort;
    const std::size_t colon = address.rfind(':');
    // An IPv6 literal has colons of its own; only "[v6]:port" carries a port then.
    const bool bracketed = !address.empty() && address.front() == '[';
    if (colon != std::string_view::npos && (address.find(':') == colon || bracketed)) {
        const std::string_view p = address.substr(colon + 1);
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), value);
        if (p.empty() || ec != std::errc() || end != p.data() + p.size() || value == 0 || value > 65535)
            return false;
        port = static_cast<std::uint16_t>(value);
        address = address.substr(0, colon);
    }
    if (bracketed && address.size() >= 2 && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    host = std::string(address);
    return !host.empty();
}

int TcpTransport::lineTimeoutMs(std::string_view line, int baseMs)
{
    std::int64_t total = baseMs;
    std::size_t start = 0;
    while (start <= line.size()) {
        std::size_t end = line.find(';', start);
        if (end == std::string_view::npos)
            end = line.size();
        std::string_view cmd = line.substr(start, end - start);
        while (!cmd.empty() && cmd.front() == ' ')
            cmd.remove_prefix(1);
        if (cmd.substr(0, 2) == "WT") {
            std::string_view n = cmd.substr(2);
            while (!n.empty() && n.front() == ' ')
                n.remove_prefix(1);
            long long ms = 0;
            std::from_chars(n.data(), n.data() + n.size(), ms);
            if (ms > 0)
                total += ms;
        } else if (cmd.substr(0, 2) == "MC" || cmd.substr(0, 2) == "AM") {
            total += kMotionWaitMs;
        } else if (cmd.substr(0, 2) == "RS") {
            total += kResetMs;
        }
        start = end + 1;
    }
    return static_cast<int>(std::min<std::int64_t>(total, 24LL * 3600 * 1000));
}

bool TcpTransport::connect()
{
    disconnect();
    std::string host;
    std::uint16_t port = 0;
    if (!parseAddress(m_address, host, port)) {
        LogDebug("Controller address not understood: " + m_address);
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
        LogDebug("Controller host not found: " + host);
        return false;
    }
    for (addrinfo* ai = found; ai && m_fd < 0; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0)
            continue;
        // Non-blocking connect so that a controller that is off costs one time-out, not the
        // system's minutes.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (rc < 0 && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            rc = ::poll(&p, 1, m_timeoutMs) == 1 ? 0 : -1;
            int err = 0;
            socklen_t len = sizeof err;
            if (rc == 0 && (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0 || err != 0))
                rc = -1;
        }
        if (rc < 0) {
            ::close(fd);
            continue;
        }
        // Without it every short command waits for the delayed acknowledgement of the last one.
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        m_fd = fd;
    }
    freeaddrinfo(found);
    if (m_fd < 0) {
        LogDebug("Controller not reachable at " + m_address);
        return false;
    }
    // Identify the controller: "address, revision, serial number", as the vendor object did.
    // Neither answer is needed to work, so a firmware that keeps quiet costs at most a second.
    const int identifyMs = std::min(m_timeoutMs, 1000);
    const GalilReply rev = exchange("\x12\x16", identifyMs);
    if (!isOpen())
        return false;
    m_connection = m_address;
    if (rev.ok && !rev.text.empty())
        m_connection += ", " + galil::trimReply(rev.text);
    const GalilReply serial = rev.ok ? exchange("MG _BN", identifyMs) : GalilReply{};
    if (serial.ok) {
        std::string s = galil::trimReply(serial.text);
        if (const auto dot = s.find('.'); dot != std::string::npos)
            s.erase(dot);
        m_connection += ", " + s;
    }
    return true;
}

void TcpTransport::disconnect()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_connection.clear();
}

void TcpTransport::drainStale()
{
    // What already arrived of a line that timed out.
    char buf[512];
    while (m_fd >= 0) {
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0)
            continue;
        if (n == 0) {
            LogDebug("Controller closed the connection");
            disconnect();
        }
        return;
    }
}

TcpTransport::SendResult TcpTransport::sendAll(std::string_view bytes, std::int64_t deadline)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            pollfd p{m_fd, POLLOUT, 0};
            const std::int64_t left = deadline - monotonicMs();
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
                return SendResult::TimedOut;
            continue;
        }
        if (n <= 0) {
            disconnect();
            return SendResult::Lost;
        }
        sent += static_cast<std::size_t>(n);
    }
    return SendResult::Sent;
}

bool TcpTransport::resynchronise()
{
    // After a time-out the stream is out of step until proven otherwise: the timed-out line's
    // answer may still be on its way, and taken for the next command's it would shift every
    // later answer by one. What has arrived is dropped, then a marker is asked whose answer
    // cannot be mistaken ("MG n" of a number never asked before); everything up to that answer
    // is the late part of the old line. No marker answer: the link is closed, so that no later
    // command can be given a stale reply.
    drainStale();
    if (m_fd < 0)
        return false;
    const std::uint32_t nonce = ++m_marker;
    const std::string marker = "MG " + std::to_string(nonce);
    const std::string answer = " " + std::to_string(nonce) + ".0000\r\n:";
    const std::int64_t deadline = monotonicMs() + m_timeoutMs;
    const SendResult sent = sendAll(marker + '\r', deadline);
    std::string seen;
    std::size_t dropped = 0;
    char buf[4096];
    bool found = false;
    while (sent == SendResult::Sent && m_fd >= 0 && !found) {
        const std::int64_t left = deadline - monotonicMs();
        pollfd p{m_fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0) {
            disconnect();
            break;
        }
        for (ssize_t i = 0; i < n; ++i)
            if (!(static_cast<unsigned char>(buf[i]) & 0x80))
                seen += buf[i];
        const std::size_t at = seen.find(answer);
        // The marker's answer starts an answer: at the start, after an acknowledgement or a line end.
        if (at != std::string::npos && (at == 0 || seen[at - 1] == ':' || seen[at - 1] == '?' || seen[at - 1] == '\n')) {
            dropped += at;
            found = true;
        } else if (seen.size() > 2 * answer.size()) {
            // Keep only what could still be the beginning of the marker's answer.
            const std::size_t keep = answer.size() + 1;
            dropped += seen.size() - keep;
            seen.erase(0, seen.size() - keep);
        }
    }
    if (!found) {
        LogDebug("Controller out of step after a time-out and no answer to the marker " + marker + "; link closed");
        disconnect();
        return false;
    }
    LogDebug("Controller back in step after a time-out (" + std::to_string(dropped) + " late bytes dropped)");
    return true;
}

GalilReply TcpTransport::exchange(std::string_view line, int timeoutMs)
{
    if (m_fd < 0)
        return {false, {}, "NOT CONNECTED"};
    // Only a line that timed out can leave bytes behind; otherwise the stream is in step and
    // nothing is asked before the command.
    if (m_stale) {
        m_stale = false;
        if (!resynchronise())
            return {false, {}, "OUT OF STEP (link closed)"};
    }
    // One write per command: a command split over two segments can stall on the peer's
    // delayed acknowledgement. A program download ends with its backslash, which closes the
    // download by itself: a carriage return after it would be an empty command of its own.
    const bool download = galil::isDownload(line);
    std::string out(line);
    if (!download)
        out += '\r';
    const std::int64_t deadline = monotonicMs() + timeoutMs;
    switch (sendAll(out, deadline)) {
    case SendResult::Sent:
        break;
    case SendResult::TimedOut:
        m_stale = true;
        return {false, {}, "TIMEOUT"};
    case SendResult::Lost:
        return {false, {}, "LINK LOST"};
    }
    const int expected = galil::commandsInLine(line);
    galil::AckScanner acks;
    std::string reply;
    char buf[4096];
    std::size_t unsolicited = 0;
    while (acks.acks < expected) {
        const std::int64_t left = deadline - monotonicMs();
        pollfd p{m_fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
            m_stale = true;
            return {false, {}, "TIMEOUT"};
        }
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0) {
            disconnect();
            return {false, {}, "LINK LOST"};
        }
        for (ssize_t i = 0; i < n; ++i) {
            const char c = buf[i];
            // Unsolicited characters carry the top bit; they are no part of the answer.
            if (static_cast<unsigned char>(c) & 0x80) {
                ++unsolicited;
                continue;
            }
            reply += c;
            acks.feed(c);
        }
    }
    if (unsolicited > 0)
        LogDebug("Controller sent " + std::to_string(unsolicited) + " unsolicited bytes; dropped");
    if (acks.refused)
        return {false, {}, "COMMAND ERROR"};
    return {true, std::move(reply), {}};
}

GalilReply TcpTransport::command(std::string_view text, std::string_view, std::string_view, bool trim)
{
    GalilReply r = exchange(text, lineTimeoutMs(text, m_timeoutMs));
    if (!r.ok) {
        if (r.error == "COMMAND ERROR") {
            const GalilReply why = exchange("TC1", m_timeoutMs);
            if (why.ok)
                r.error += ": " + galil::trimReply(why.text);
        }
        return r;
    }
    if (trim)
        r.text = galil::trimReply(r.text);
    return r;
}

} // namespace lapido
