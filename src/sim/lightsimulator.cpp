// The simulated ring-light controller: a pseudo-terminal and a thread that plays the firmware.
#include "sim/lightsimulator.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace lapido {

namespace {

const QByteArray kIdentity = "RNG16 LED ring controller SN 000742";
const QByteArray kOtherIdentity = "THC-2 thermocouple reader SN 1187";
// One chunk of a reply that never ends: looks like a pattern, carries the tag, has no end mark.
const QByteArray kEndlessChunk = "RNG 0#255#255#255#@1#255#255#255#@";

QString errnoText(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

LightSimulator::LightSimulator() = default;

LightSimulator::~LightSimulator()
{
    stop();
}

std::optional<LightSimulator::Fault> LightSimulator::faultFromName(const QString& name)
{
    const QString n = name.toLower();
    if (n == QLatin1String("none"))
        return Fault::None;
    if (n == QLatin1String("silent"))
        return Fault::Silent;
    if (n == QLatin1String("garbage"))
        return Fault::Garbage;
    if (n == QLatin1String("other"))
        return Fault::OtherDevice;
    if (n == QLatin1String("endless"))
        return Fault::EndlessReply;
    return std::nullopt;
}

bool LightSimulator::start(QString* error)
{
    if (m_thread.joinable())
        return true;
    auto fail = [&](const char* what) {
        if (error)
            *error = errnoText(what);
        stop();
        return false;
    };
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail("posix_openpt");
    if (::grantpt(m_master) != 0)
        return fail("grantpt");
    if (::unlockpt(m_master) != 0)
        return fail("unlockpt");
    char name[128] = {};
    if (::ptsname_r(m_master, name, sizeof name) != 0)
        return fail("ptsname");
    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slave < 0)
        return fail("open slave");
    // Raw from the start: with the terminal's default echo the firmware would hear its own
    // replies as commands until the station sets the line up.
    termios tio{};
    if (::tcgetattr(m_slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_slave, TCSANOW, &tio);
    }
    const int flags = ::fcntl(m_master, F_GETFL);
    ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
    m_portName = QString::fromLocal8Bit(name);
    m_stop = false;
    m_thread = std::thread([this] { run(); });
    return true;
}

void LightSimulator::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = m_master = -1;
    m_streaming = false;
}

void LightSimulator::run()
{
    while (!m_stop) {
        pollfd pfd{m_master, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, m_streaming ? 2 : 10);
        if (ready > 0 && (pfd.revents & POLLIN)) {
            char buf[512];
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n > 0) {
                m_input.append(buf, n);
                // A client that never ends its lines must not make the firmware hoard memory.
                if (m_input.size() > 65536)
                    m_input.clear();
                for (;;) {
                    qsizetype end = -1;
                    for (qsizetype i = 0; i < m_input.size() && end < 0; ++i)
                        if (m_input.at(i) == '\r' || m_input.at(i) == '\n')
                            end = i;
                    if (end < 0)
                        break;
                    const QByteArray line = m_input.left(end);
                    m_input.remove(0, end + 1);
                    if (!line.isEmpty())
                        handle(line);
                }
            }
        }
        if (m_streaming && m_fault == Fault::EndlessReply)
            send(kEndlessChunk);
    }
}

void LightSimulator::handle(const QByteArray& line)
{
    const QString command = QString::fromLatin1(line);
    std::function<void(const QString&)> observer;
    {
        std::lock_guard lock(m_mutex);
        m_received << command;
        observer = m_observer;
    }
    if (observer)
        observer(command);

    m_streaming = false;
    const bool asksReply = command == QLatin1String("TSN") || command == QLatin1String("TC");
    switch (m_fault.load()) {
    case Fault::Silent:
        return;
    case Fault::Garbage: {
        QByteArray noise;
        for (int i = 0; i < 24; ++i) {
            m_noise ^= m_noise << 13;
            m_noise ^= m_noise >> 17;
            m_noise ^= m_noise << 5;
            // Anything but the reply end marks.
            char c = char(m_noise & 0xff);
            if (c == ';' || c == '\r' || c == '\n')
                c = '?';
            noise += c;
        }
        send(noise + "\r\n");
        return;
    }
    case Fault::OtherDevice:
        if (command == QLatin1String("TSN"))
            send(kOtherIdentity + "\r\n");
        else
            send("?\r\n");
        return;
    case Fault::EndlessReply:
        if (asksReply)
            m_streaming = true;
        return;
    case Fault::None:
        break;
    }

    if (command == QLatin1String("TSN")) {
        send(kIdentity + "\r\n");
    } else if (command == QLatin1String("TC")) {
        send(pattern().toLatin1() + "\r\n");
    } else if (command.startsWith(QLatin1String("SC"))) {
        QString body = command.mid(2);
        if (body.endsWith(QLatin1Char(';')))
            body.chop(1);
        setPattern(body);
    } else if (command.startsWith(QLatin1String("SR"))) {
        bool ok = false;
        const int steps = command.mid(2).toInt(&ok);
        if (ok && steps > 0) {
            std::lock_guard lock(m_mutex);
            for (int s = 0; s < steps % kLeds; ++s)
                std::rotate(m_leds.begin(), m_leds.begin() + 1, m_leds.end());
        }
    }
}

void LightSimulator::send(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size() && !m_stop) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EAGAIN) {
            // Nobody is reading; a real controller would drop what does not fit either.
            return;
        } else {
            return;
        }
    }
}

QString LightSimulator::patternLocked() const
{
    QString text;
    for (int i = 0; i < kLeds; ++i) {
        const Rgb& c = m_leds[size_t(i)];
        text += QStringLiteral("%1#%2#%3#%4#@").arg(i).arg(c.red).arg(c.green).arg(c.blue);
    }
    return text;
}

QString LightSimulator::pattern() const
{
    std::lock_guard lock(m_mutex);
    return patternLocked();
}

void LightSimulator::setPattern(const QString& pattern)
{
    std::lock_guard lock(m_mutex);
    applyPattern(pattern);
}

void LightSimulator::applyPattern(const QString& pattern)
{
    // Like the firmware: each well-formed entry sets the LED it names, anything else is skipped.
    for (const QString& entry : pattern.split(QLatin1Char('@'), Qt::SkipEmptyParts)) {
        const QStringList parts = entry.split(QLatin1Char('#'), Qt::SkipEmptyParts);
        if (parts.size() != 4)
            continue;
        int v[4];
        bool ok = true;
        for (int i = 0; i < 4 && ok; ++i)
            v[i] = parts.at(i).toInt(&ok);
        if (!ok || v[0] < 0 || v[0] >= kLeds)
            continue;
        m_leds[size_t(v[0])] = Rgb{v[1] & 0xff, v[2] & 0xff, v[3] & 0xff};
    }
}

QStringList LightSimulator::received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

void LightSimulator::clearReceived()
{
    std::lock_guard lock(m_mutex);
    m_received.clear();
}

void LightSimulator::setCommandObserver(std::function<void(const QString&)> observer)
{
    std::lock_guard lock(m_mutex);
    m_observer = std::move(observer);
}

} // namespace lapido
