// DmcSimServer: accept loop and one reader thread per connection.
#include "sim/dmcsimserver.h"

#include "sim/dmcsimulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace lapido {

namespace {
constexpr int kPollMs = 100;
} // namespace

DmcSimServer::DmcSimServer(std::shared_ptr<DmcSimulator> simulator) : m_sim(std::move(simulator)) {}

DmcSimServer::~DmcSimServer()
{
    stop();
}

bool DmcSimServer::listen(std::uint16_t port, const std::string& bindAddress, std::string* error)
{
    auto fail = [&](const std::string& what) {
        if (error)
            *error = what + ": " + std::strerror(errno);
        if (m_listenFd >= 0)
            ::close(m_listenFd);
        m_listenFd = -1;
        return false;
    };
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        return fail("socket");
    int one = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (::inet_pton(AF_INET, bindAddress.c_str(), &addr.sin_addr) != 1) {
        errno = EINVAL;
        return fail("address " + bindAddress);
    }
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0)
        return fail("bind");
    if (::listen(m_listenFd, kMaxHandles) < 0)
        return fail("listen");
    socklen_t len = sizeof addr;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_stop = false;
    m_acceptThread = std::thread([this] { acceptLoop(); });
    return true;
}

void DmcSimServer::stop()
{
    m_stop = true;
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    std::list<Client> clients;
    {
        std::lock_guard lock(m_mutex);
        clients.swap(m_clients);
    }
    for (Client& c : clients)
        c.thread.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    m_listenFd = -1;
}

void DmcSimServer::joinFinished()
{
    std::lock_guard lock(m_mutex);
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        if (it->finished) {
            it->thread.join();
            it = m_clients.erase(it);
        } else {
            ++it;
        }
    }
}

void DmcSimServer::acceptLoop()
{
    while (!m_stop) {
        joinFinished();
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0)
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        if (m_open >= kMaxHandles) {
            ::close(fd); // every handle taken: the controller resets the newcomer
            continue;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ++m_open;
        std::lock_guard lock(m_mutex);
        Client& client = m_clients.emplace_back();
        client.thread = std::thread([this, fd, &client] { serve(fd, client); });
    }
}

void DmcSimServer::serve(int fd, Client& client)
{
    std::string pending;
    char buf[4096];
    // A download ("DL" on a line of its own) runs up to its backslash or Ctrl-Z, carriage
    // returns included, and is handed to the simulator in one piece.
    bool downloading = false;
    auto lastInput = std::chrono::steady_clock::now();
    while (!m_stop) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kPollMs);
        if (ready == 0) {
            // A connection that stays silent gives its handle back, as the controller frees the
            // handles of peers that went away without closing.
            const int idleMs = m_idleTimeoutMs.load();
            if (idleMs > 0 && std::chrono::steady_clock::now() - lastInput >= std::chrono::milliseconds(idleMs))
                break;
            continue;
        }
        if (ready < 0 && errno == EINTR)
            continue;
        const ssize_t n = ready < 0 ? -1 : ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        lastInput = std::chrono::steady_clock::now();
        pending.append(buf, static_cast<std::size_t>(n));
        bool closeNow = false;
        bool sendFailed = false;
        // Each command's answer goes out as soon as it is ready, in one write.
        const auto send = [&](std::string_view part) {
            if (!sendFailed && !part.empty() && ::send(fd, part.data(), part.size(), MSG_NOSIGNAL) < 0)
                sendFailed = true;
        };
        for (;;) {
            std::string line;
            if (downloading) {
                const std::size_t end = pending.find_first_of("\\\x1a");
                if (end == std::string::npos)
                    break;
                line = "DL\r" + pending.substr(0, end) + "\\";
                pending.erase(0, end + 1);
                downloading = false;
            } else {
                const std::size_t cr = pending.find('\r');
                if (cr == std::string::npos)
                    break;
                line = pending.substr(0, cr);
                pending.erase(0, cr + 1);
                std::string_view bare(line);
                while (!bare.empty() && (bare.front() == ' ' || bare.front() == '\n'))
                    bare.remove_prefix(1);
                while (!bare.empty() && bare.back() == ' ')
                    bare.remove_suffix(1);
                if (bare == "DL") {
                    downloading = true;
                    continue;
                }
            }
            m_sim->execute(line, send);
            if (sendFailed || m_sim->linkLost()) {
                closeNow = true;
                break;
            }
        }
        if (closeNow)
            break;
        // A peer that streams without ever ending a line must not grow the buffer forever.
        if (pending.size() > 1 << 20)
            break;
    }
    ::close(fd);
    --m_open;
    client.finished = true;
}

} // namespace lapido
