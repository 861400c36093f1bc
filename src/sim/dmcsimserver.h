// DmcSimServer: the simulated controller behind a TCP port, speaking the Ethernet command protocol.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lapido {

class DmcSimulator;

// Lines end with a carriage return (a following line feed is ignored); each command's answer
// is sent, in one write, as soon as it is ready. Up to eight connections at a time, as the
// controller has eight handles; a further one is closed at once. When the simulator's link
// is lost (fault injection) the connection is closed.
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

private:
    void acceptLoop();
    void serve(int fd);

    std::shared_ptr<DmcSimulator> m_sim;
    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_open{0};
    std::thread m_acceptThread;
    std::mutex m_mutex;
    std::vector<std::thread> m_clients;
};

} // namespace lapido
