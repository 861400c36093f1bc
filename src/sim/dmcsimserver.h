// DmcSimServer: the simulated controller behind a TCP port, speaking the Ethernet command protocol.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace lapido {

class DmcSimulator;

// Lines end with a carriage return (a following line feed is ignored); each command's answer
// is sent, in one write, as soon as it is ready. A program download ("DL" on a line of its own,
// the program, a backslash) is taken whole. Up to eight connections at a time, as the
// controller has eight handles; a further one is closed at once, and a connection that sends
// nothing for the idle time-out is closed so that its handle is free again. When the
// simulator's link is lost (fault injection) the connection is closed.
class DmcSimServer {
public:
    static constexpr int kMaxHandles = 8;

    explicit DmcSimServer(std::shared_ptr<DmcSimulator> simulator);
    ~DmcSimServer();
    DmcSimServer(const DmcSimServer&) = delete;
    DmcSimServer& operator=(const DmcSimServer&) = delete;

    // Listens on bindAddress:port (port 0 picks a free one) and serves on a thread of its own.
    bool listen(std::uint16_t port, const std::string& bindAddress = "127.0.0.1", std::string* error = nullptr);
    std::uint16_t port() const { return m_port; }
    void stop();
    // How long a connection may send nothing before it is closed; 0 keeps it forever.
    static constexpr int kDefaultIdleTimeoutMs = 60000;
    void setIdleTimeoutMs(int ms) { m_idleTimeoutMs = ms; }

private:
    // A connection's thread and whether it has finished, so that finished ones are joined while
    // the server runs: a thread never joined keeps its stack, and a long run of short
    // connections would otherwise exhaust the process's memory map.
    struct Client {
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void acceptLoop();
    void serve(int fd, Client& client);
    void joinFinished();

    std::shared_ptr<DmcSimulator> m_sim;
    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_open{0};
    std::atomic<int> m_idleTimeoutMs{kDefaultIdleTimeoutMs};
    std::thread m_acceptThread;
    std::mutex m_mutex;
    std::list<Client> m_clients; // a list: a running thread's entry must not move
};

} // namespace lapido
