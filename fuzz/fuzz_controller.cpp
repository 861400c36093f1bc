// Fuzz target: the motion controller's replies over the TCP link. A peer on the loopback
// interface answers each command line with the next reply of the input, so the link's
// acknowledgement scanner, its trimming and the machine's reading of positions, status and
// variables all meet made-up replies. Input: replies, each one length byte and that many
// bytes; a reply that does not finish the line's acknowledgements is continued by the next.
// When the input ends the peer closes, as a controller that is switched off.
#include "fuzzsupport.h"

#include "machine/galildmc.h"
#include "machine/laser.h"
#include "machine/tcptransport.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

using namespace lapido;

namespace {

// One listening socket for the whole run.
struct Listener {
    int fd = -1;
    std::uint16_t port = 0;
    Listener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0
            || ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            fuzz::fail("no loopback listener");
        port = ntohs(a.sin_port);
    }
};

Listener& listener()
{
    static Listener l;
    return l;
}

std::vector<std::string> splitReplies(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> replies;
    std::size_t at = 0;
    while (at < size) {
        const std::size_t length = data[at++];
        const std::size_t n = std::min(length, size - at);
        replies.emplace_back(reinterpret_cast<const char*>(data + at), n);
        at += n;
    }
    return replies;
}

// Serves one connection: waits for each command line, then sends replies until the line has
// as many acknowledgements as the link waits for (counted the way the link counts them).
void serve(int client, const std::vector<std::string>& replies)
{
    std::size_t next = 0;
    std::string pending;
    char buf[4096];
    for (;;) {
        const auto cr = pending.find('\r');
        if (cr == std::string::npos) {
            const ssize_t n = ::recv(client, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            pending.append(buf, std::size_t(n));
            continue;
        }
        const std::string line = pending.substr(0, cr);
        pending.erase(0, cr + 1);
        const int expected = galil::commandsInLine(line);
        galil::AckScanner acks;
        while (acks.acks < expected && next < replies.size()) {
            const std::string& reply = replies[next++];
            if (!reply.empty() && ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL) < 0)
                break;
            for (char c : reply)
                if (!(static_cast<unsigned char>(c) & 0x80))
                    acks.feed(c);
        }
        if (acks.acks < expected) {
            // Out of replies: the controller goes away; whatever the link still sends is read
            // and dropped until it closes.
            ::shutdown(client, SHUT_WR);
            while (::recv(client, buf, sizeof buf, 0) > 0) {
            }
            break;
        }
    }
    ::close(client);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::environment();
    fuzz::resetBetweenInputs();
    const std::vector<std::string> replies = splitReplies(data, size);
    Listener& l = listener();
    std::thread peer([&] {
        // A link that never connected leaves nobody to wait for.
        pollfd p{l.fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1)
            return;
        const int client = ::accept4(l.fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0)
            serve(client, replies);
    });

    {
        const std::string address = "127.0.0.1:" + std::to_string(l.port);
        auto dmc = std::make_unique<TDMC>(std::make_unique<TcpTransport>(address, 500), address);
        TLaser laser(std::move(dmc));
        laser.XY_CountsPerMM = 1000;
        laser.Z_CountsPerMM = 1000;
        double x = 0, y = 0, z = 0, w = 0;
        laser.GetPosition(x, y, z, w);
        laser.GetEncoder(x, y, z, w);
        laser.DistanceToTarget(x, y, z);
        laser.IsMoving();
        laser.W_IsShooting();
        laser.Getvariable("Counter");
        laser.WaitOnMotionComplete();
        std::string reply = laser.DMCCmd("TP");
        while (!reply.empty())
            TDMC::SeparateValue(reply);
        // Leaving: the machine switches the laser off over whatever is left of the link.
    }
    if (peer.joinable())
        peer.join();
    // The machine asks the program to end when no controller answers; nothing runs that loop.
    QCoreApplication::removePostedEvents(nullptr);
    return 0;
}
