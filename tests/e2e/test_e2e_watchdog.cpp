// A marking run on a controller at a network address (lapidograph-dmcsim, a separate process on
// real time) whose station dies or loses its link mid-label: a second later the controller's
// own laser lines are off, read from the controller itself, and a station that lives on does
// not claim what it cannot know.
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

namespace lapido {
namespace {

#ifdef LAPIDO_DMCSIM

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One line to the controller on a connection of its own; its answer up to the acknowledgement
// ("" when none came within a few seconds).
std::string ask(int port, const std::string& line)
{
    const int fd = connectTo(port);
    if (fd < 0)
        return {};
    const std::string out = line + '\r';
    ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
    std::string reply;
    char buf[256];
    while (reply.find(':') == std::string::npos && reply.find('?') == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            break;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        reply.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return reply;
}

// A link between the station and the controller that the test can cut: either both ends are
// closed at once (the link dropped), or nothing passes any more while both stay open (a cable
// pulled: no end learns of it).
class CuttableLink {
public:
    enum class Cut { Dropped, Silent };

    explicit CuttableLink(int controllerPort) : m_controllerPort(controllerPort)
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 4);
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~CuttableLink()
    {
        m_stop = true;
        m_thread.join();
        for (int fd : {m_listen, m_station, m_controller})
            if (fd >= 0)
                ::close(fd);
    }
    int port() const { return m_port; }
    // What the station sent so far.
    std::string sent() const
    {
        std::lock_guard lock(m_sentMutex);
        return m_sent;
    }
    void cut(Cut how)
    {
        m_cut = how;
        m_cutDone = true;
    }

private:
    void run()
    {
        char buf[4096];
        while (!m_stop) {
            if (m_cutDone && m_cut == Cut::Dropped && m_station >= 0) {
                ::close(m_station);
                ::close(m_controller);
                m_station = m_controller = -1;
            }
            pollfd p[3] = {{m_listen, POLLIN, 0}, {m_station, POLLIN, 0}, {m_controller, POLLIN, 0}};
            if (::poll(p, 3, 20) <= 0)
                continue;
            if ((p[0].revents & POLLIN) && m_station < 0) {
                m_station = ::accept(m_listen, nullptr, nullptr);
                m_controller = connectTo(m_controllerPort);
            }
            for (int i : {1, 2}) {
                if (p[i].fd < 0 || !(p[i].revents & (POLLIN | POLLHUP)))
                    continue;
                const ssize_t n = ::recv(p[i].fd, buf, sizeof buf, 0);
                if (n <= 0) {
                    ::close(m_station);
                    ::close(m_controller);
                    m_station = m_controller = -1;
                    break;
                }
                if (i == 1) {
                    std::lock_guard lock(m_sentMutex);
                    m_sent.append(buf, static_cast<std::size_t>(n));
                }
                // Once the cable is pulled, what is sent goes nowhere.
                if (!m_cutDone)
                    ::send(i == 1 ? m_controller : m_station, buf, static_cast<std::size_t>(n), MSG_NOSIGNAL);
            }
        }
    }

    int m_controllerPort;
    int m_listen = -1;
    int m_port = 0;
    int m_station = -1;
    int m_controller = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_cutDone{false};
    std::atomic<Cut> m_cut{Cut::Dropped};
    mutable std::mutex m_sentMutex;
    std::string m_sent;
    std::thread m_thread;
};

class WatchdogRunTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        // Sped up, so that the run reaches its label soon; the station measures the controller's clock.
        m_server.start(QStringLiteral(LAPIDO_DMCSIM), {"--port", "0", "--speed", "5"});
        ASSERT_TRUE(m_server.waitForStarted(10000));
        QString banner;
        while (!banner.contains('\n') && m_server.waitForReadyRead(10000))
            banner += QString::fromUtf8(m_server.readAllStandardOutput());
        m_port = banner.section(QStringLiteral("port "), 1).trimmed().toInt();
        ASSERT_GT(m_port, 0) << banner.toStdString();
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert("LAPIDOGRAPH_SETTINGS", scratch("settings.db"));
        m_env.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess set;
        set.setProcessEnvironment(m_env);
        set.start(QStringLiteral(LAPIDO_CLI), {"settings", "set", "Hardware", "EnableOnDelay", "0"});
        ASSERT_TRUE(set.waitForFinished(30000));
    }
    void TearDown() override
    {
        m_server.kill();
        m_server.waitForFinished(5000);
        StationFixture::TearDown();
    }

    void setting(const char* section, const char* key, const char* value)
    {
        QProcess set;
        set.setProcessEnvironment(m_env);
        set.start(QStringLiteral(LAPIDO_CLI), {"settings", "set", section, key, value});
        ASSERT_TRUE(set.waitForFinished(30000));
    }
    void startMarking(QProcess& run, int port, const QStringList& more = {})
    {
        run.setProcessEnvironment(m_env);
        run.setWorkingDirectory(scratch());
        run.start(QStringLiteral(LAPIDO_CLI),
                  QStringList{"mark", QStringLiteral(LAPIDO_EXAMPLES_DIR "/text-stroke.xml"), "--out", scratch("out"),
                              "--address", QStringLiteral("127.0.0.1:%1").arg(port)}
                      + more);
        ASSERT_TRUE(run.waitForStarted(10000));
    }
    // The laser enabled and X sent to the start of a curved label, and the station waiting for
    // the move's end: it sent the controller's own wait (MC), or it watches the move itself.
    // Read from what the station sent, since a controller inside a wait answers no one else.
    static bool waitForLongMoveWithLaserOn(QProcess& run, const CuttableLink& link)
    {
        while (run.state() == QProcess::Running) {
            const std::string sent = link.sent();
            const std::size_t begin = sent.rfind("BGXZ\r");
            if (begin != std::string::npos && sent.find("SB2\r") < begin
                && (sent.find("MCXZ", begin) != std::string::npos || sent.find("MG _BGS", begin) != std::string::npos))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    // Mid-label: the gate of the controller is open (a contour is being marked).
    bool waitForGateOpen(QProcess& run)
    {
        while (run.state() == QProcess::Running) {
            if (ask(m_port, "MG @OUT[1]").find("1.0000") != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    // Gate, enable line and supply as the controller has them a second after the event.
    std::string linesASecondLater()
    {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        return ask(m_port, "MG @OUT[1],@OUT[2],@OUT[3]");
    }

    QProcess m_server;
    int m_port = 0;
    QProcessEnvironment m_env;
};

constexpr const char* kAllOff = " 0.0000  0.0000  0.0000\r\n:";

TEST_F(WatchdogRunTest, AStationKilledMidLabelLeavesTheLaserOff)
{
    QProcess run;
    startMarking(run, m_port);
    ASSERT_TRUE(waitForGateOpen(run)) << run.readAllStandardError().toStdString();
    EXPECT_EQ(ask(m_port, "MG @OUT[2]"), " 1.0000\r\n:") << "the laser is enabled while it marks";
    ::kill(static_cast<pid_t>(run.processId()), SIGKILL);
    ASSERT_TRUE(run.waitForFinished(10000));
    EXPECT_EQ(linesASecondLater(), kAllOff);
    EXPECT_EQ(ask(m_port, "MG WDTRIP"), " 1.0000\r\n:") << "the controller's watchdog switched it off";
}

TEST_F(WatchdogRunTest, ALinkCutMidLabelLeavesTheLaserOffAndTheStationSaysItCannotKnow)
{
    for (const auto how : {CuttableLink::Cut::Dropped, CuttableLink::Cut::Silent}) {
        SCOPED_TRACE(how == CuttableLink::Cut::Dropped ? "link dropped" : "cable pulled, no end told");
        QDir(scratch("out")).removeRecursively();
        CuttableLink link(m_port);
        QProcess run;
        startMarking(run, link.port());
        ASSERT_TRUE(waitForGateOpen(run)) << run.readAllStandardError().toStdString();
        link.cut(how);
        EXPECT_EQ(linesASecondLater(), kAllOff);
        ASSERT_TRUE(run.waitForFinished(60000));
        const QString out = QString::fromUtf8(run.readAllStandardOutput());
        EXPECT_EQ(run.exitCode(), 3) << out.toStdString();
        EXPECT_TRUE(out.contains("laser after marking: unknown")) << out.toStdString();
        QFile dialogs(scratch("out/dialogs.log"));
        ASSERT_TRUE(dialogs.open(QIODevice::ReadOnly));
        const QString told = QString::fromUtf8(dialogs.readAll());
        EXPECT_TRUE(told.contains("The state of the laser is unknown")) << told.toStdString();
        EXPECT_FALSE(told.contains("The laser is off")) << told.toStdString();
        // The next run starts with a controller that switched off by itself.
        ask(m_port, "WDTRIP=0");
    }
}

// A curved label whose move to its start takes seconds: the laser is enabled before it (the
// move is part of the run), taught far apart at a slow X speed, so that the controller is busy
// with the one move when the station dies or loses its link.
TEST_F(WatchdogRunTest, AStationDeadDuringALongMoveLeavesTheLaserOffWithinASecond)
{
    setting("Motion", "X_Speed", "1");
    const QStringList curved{"--teach-left", "14.5,12.4", "--teach-right", "30,12.6"};
    enum class Death { Killed, LinkDropped, CablePulled };
    for (const auto death : {Death::Killed, Death::LinkDropped, Death::CablePulled}) {
        SCOPED_TRACE(death == Death::Killed ? "station killed" : death == Death::LinkDropped ? "link dropped" : "cable pulled");
        QDir(scratch("out")).removeRecursively();
        ask(m_port, "WDTRIP=0");
        CuttableLink link(m_port);
        QProcess run;
        startMarking(run, link.port(), curved);
        ASSERT_TRUE(waitForLongMoveWithLaserOn(run, link)) << run.readAllStandardError().toStdString();
        if (death == Death::Killed) {
            ::kill(static_cast<pid_t>(run.processId()), SIGKILL);
        } else {
            link.cut(death == Death::LinkDropped ? CuttableLink::Cut::Dropped : CuttableLink::Cut::Silent);
        }
        EXPECT_EQ(linesASecondLater(), kAllOff);
        EXPECT_EQ(ask(m_port, "MG WDTRIP"), " 1.0000\r\n:") << "the controller's watchdog switched it off";
        if (death == Death::Killed) {
            ASSERT_TRUE(run.waitForFinished(10000));
        } else {
            ASSERT_TRUE(run.waitForFinished(60000));
            EXPECT_EQ(run.exitCode(), 3) << run.readAllStandardOutput().toStdString();
        }
    }
}

// The heartbeat lapses under a station that lives on (a stalled link, here the deadline moved
// into the past from another connection): the run stops at once and the operator is told that
// the controller switched the laser off, and why.
TEST_F(WatchdogRunTest, ATripUnderALivingStationStopsTheRunAndIsTold)
{
    QProcess run;
    startMarking(run, m_port);
    ASSERT_TRUE(waitForGateOpen(run)) << run.readAllStandardError().toStdString();
    // The station's own beat may land between our deadline and the controller's next look at
    // it, as a stall that ends at once would: the deadline is held in the past until the
    // controller has tripped.
    while (run.state() == QProcess::Running && ask(m_port, "MG WDTRIP") != " 1.0000\r\n:") {
        ask(m_port, "WDHB=0");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(run.waitForFinished(60000));
    const QString out = QString::fromUtf8(run.readAllStandardOutput());
    EXPECT_EQ(run.exitCode(), 3) << out.toStdString();
    EXPECT_TRUE(out.contains("marking stopped: the controller's watchdog switched the laser off")) << out.toStdString();
    EXPECT_FALSE(out.contains("glyphs marked: 7")) << "the run went on to the end: " << out.toStdString();
    QFile dialogs(scratch("out/dialogs.log"));
    ASSERT_TRUE(dialogs.open(QIODevice::ReadOnly));
    const QString told = QString::fromUtf8(dialogs.readAll());
    EXPECT_TRUE(told.contains("Marking stopped: the controller's watchdog switched the laser off: no heartbeat"))
        << told.toStdString();
    EXPECT_TRUE(told.contains("The laser is off; the label is not complete.")) << told.toStdString();
    EXPECT_EQ(ask(m_port, "MG @OUT[1],@OUT[2],@OUT[3]"), kAllOff);
}

#endif

} // namespace
} // namespace lapido
