// TDMC: opening, the command paths with their log lines, and reading numbers out of replies.
#include "machine/galildmc.h"

#include "machine/galil.h"
#include "platform/clock.h"
#include "platform/debuglog.h"
#include "platform/numfmt.h"
#include "platform/settingsstore.h"
#include "settings/settingskeys.h"

#include <QDebug>

#include <algorithm>
#include <array>
#include <chrono>
#include <exception>
#include <vector>

namespace lapido {

namespace {

// The polling commands: positions, encoders, motion status, buffer and speed. Timers send
// them many times a second, so they stay out of the log.
constexpr std::array<std::string_view, 13> kQuietCommands = {
    "TPXYZW", "RPXYZW", "MG _BGS", "MG _BGX", "MG _BGY", "MG _BGE", "MG _BGD",
    "MG _BGZ", "LM?",    "RPXYZ",  "SP ",     "IP ,,",   "PA ?,?,?",
};

// Only ASCII letters: the command language knows no others, and bytes above 127 of an
// 8-bit string must pass untouched.
std::string upperAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::int64_t realMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

TDMC::TDMC() : TDMC(std::make_unique<TGalil>()) {}

TDMC::TDMC(std::unique_ptr<GalilTransport> transport) : m_transport(std::move(transport))
{
    if (!m_transport)
        m_transport = std::make_unique<TGalil>();
    open(std::nullopt);
}

TDMC::TDMC(std::unique_ptr<GalilTransport> transport, std::string_view address) : m_transport(std::move(transport))
{
    if (!m_transport)
        m_transport = std::make_unique<TGalil>();
    open(address);
}

TDMC::~TDMC()
{
    if (m_connected) {
        std::lock_guard lock(m_mutex);
        try {
            m_transport->disconnect();
        } catch (const std::exception&) {
        }
        LogDebug("Closed controller: " + std::to_string(m_controller));
    }
}

void TDMC::open(std::optional<std::string_view> address)
{
    LogDebug("Opening controller: " + std::to_string(m_controller));
    try {
        if (address) {
            m_transport->setAddress(*address);
        } else {
            const QString stored = keys::read(AppRegistry(), keys::GalilIP);
            m_transport->setAddress(stored.toStdString());
            if (stored.isEmpty())
                keys::write(keys::GalilIP, QString::fromStdString(m_transport->address()));
        }
        m_transport->connect();
        m_connectionString = m_transport->connection();
        const std::string address = m_transport->address();
        m_connected = m_connectionString.find(address) != std::string::npos;
    } catch (const std::exception&) {
        m_connected = false;
    }
    LogDebug(m_connected ? std::string("Opening controller succeeded.")
                         : std::string("Communication with the motion controller could not be "
                                       "established. Please check that the inscribing machine is "
                                       "powered"));
    m_replyStr.clear();
}

bool TDMC::isQuiet(std::string_view Cmd)
{
    for (std::string_view q : kQuietCommands)
        if (Cmd.find(q) != std::string_view::npos)
            return true;
    return false;
}

std::string TDMC::ReplyStr() const
{
    std::lock_guard lock(m_mutex);
    return m_replyStr;
}

void TDMC::beatLocked(bool force, std::string_view command)
{
    if (m_heartbeat.empty() || !m_connected)
        return;
    const std::int64_t stationMs = systemClock().tickMs();
    const std::int64_t nowReal = realMs();
    if (!force && stationMs - m_lastBeatStationMs < m_heartbeatPeriodMs && nowReal - m_lastBeatRealMs < m_heartbeatPeriodMs)
        return;
    try {
        m_transport->command(command.empty() ? std::string_view(m_heartbeat) : command, "\r\n", "", true);
    } catch (const std::exception&) {
    }
    // The time after the answer: the controller took the heartbeat by then.
    m_lastBeatStationMs = systemClock().tickMs();
    m_lastBeatRealMs = realMs();
}

void TDMC::setHeartbeat(std::string command, std::int64_t periodMs)
{
    std::lock_guard lock(m_mutex);
    m_heartbeat = std::move(command);
    m_heartbeatPeriodMs = periodMs;
    m_lastBeatStationMs = systemClock().tickMs();
    m_lastBeatRealMs = realMs();
}

bool TDMC::beatIfDue()
{
    std::lock_guard lock(m_mutex);
    if (m_heartbeat.empty())
        return false;
    beatLocked(false);
    return true;
}

void TDMC::Heartbeat(std::string_view command)
{
    std::lock_guard lock(m_mutex);
    beatLocked(true, command);
}

std::optional<std::string> TDMC::QuietCommand(std::string_view Cmd)
{
    std::lock_guard lock(m_mutex);
    if (!m_connected)
        return std::nullopt;
    beatLocked(false);
    try {
        GalilReply reply = m_transport->command(Cmd, "\r\n", "", true);
        if (reply.ok)
            return std::move(reply.text);
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

std::string TDMC::CommandReply(std::string_view Cmd)
{
    std::lock_guard lock(m_mutex);
    beatLocked(false);
    m_replyStr.clear();
    m_lastError.clear();
    if (!isQuiet(Cmd))
        LogDebug("Sending command: " + std::string(Cmd));
    if (!m_connected) {
        m_lastError = "not connected";
        return {};
    }
    const std::string upper = upperAscii(Cmd);
    try {
        GalilReply reply = m_transport->command(upper, "\r\n", "", true);
        if (reply.ok) {
            m_replyStr = std::move(reply.text);
        } else {
            m_lastError = reply.error.empty() ? std::string("no reply") : reply.error;
            if (!reply.error.empty() && !isQuiet(upper))
                LogDebug("Command " + upper + " failed: " + reply.error);
        }
    } catch (const std::exception& e) {
        m_replyStr.clear();
        m_lastError = e.what();
    }
    if (!isQuiet(upper))
        LogDebug("Sending command: " + upper + " with result " + m_replyStr);
    return m_replyStr;
}

std::string TDMC::LastError() const
{
    std::lock_guard lock(m_mutex);
    return m_lastError;
}

std::string TDMC::LightCommandReply(std::string_view Cmd)
{
    std::lock_guard lock(m_mutex);
    beatLocked(false);
    std::string result = "0.0000";
    try {
        GalilReply reply = m_transport->command(Cmd, "\r\n", "", true);
        if (reply.ok)
            result = std::move(reply.text);
        else
            qDebug().noquote() << QStringLiteral("exception light cmd ") + QString::fromStdString(reply.error);
    } catch (const std::exception& e) {
        qDebug().noquote() << QStringLiteral("exception light cmd ") + QString::fromUtf8(e.what());
    }
    return result;
}

void TDMC::FastCommand(std::string_view Cmd)
{
    std::lock_guard lock(m_mutex);
    LogDebug("Sending fast command: " + std::string(Cmd));
    if (!m_connected)
        return;
    beatLocked(false);
    try {
        m_transport->command(upperAscii(Cmd), "\r\n", "", true);
    } catch (const std::exception&) {
    }
}

double TDMC::SeparateValue(std::string& St)
{
    if (St.empty())
        return 0;
    if (const auto cr = St.find('\r'); cr != std::string::npos)
        St.erase(cr);
    std::string_view token;
    std::string rest;
    if (const auto comma = St.find(','); comma != std::string::npos) {
        token = trimmedAscii(std::string_view(St).substr(0, comma));
        rest = St.substr(comma + 1);
    } else {
        token = trimmedAscii(St);
    }
    // "inf", "nan" and a lone sign are no numbers: the controller never sends them.
    const double value = StrToFloatPoint(token).value_or(0.0);
    St = std::move(rest);
    return value;
}

double MeasureRoundTripMs(TDMC& dmc, int samples)
{
    if (!dmc.Connected() || samples < 1)
        return 0;
    Clock& clock = systemClock();
    std::vector<std::int64_t> us;
    us.reserve(static_cast<size_t>(samples));
    for (int i = 0; i < samples; ++i) {
        const std::int64_t start = clock.nowUs();
        // A position read: answered at once, changes nothing, leaves no log line.
        dmc.LightCommandReply("TPX");
        us.push_back(clock.nowUs() - start);
    }
    // The median: one read delayed by the system says nothing about the link.
    std::nth_element(us.begin(), us.begin() + samples / 2, us.end());
    return double(us[static_cast<size_t>(samples / 2)]) / 1000.0;
}

} // namespace lapido
