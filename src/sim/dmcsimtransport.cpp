// DmcSimTransport: replies of the in-process simulator, trimmed and checked like a TCP link's.
#include "sim/dmcsimtransport.h"

#include "sim/dmcsimulator.h"

namespace lapido {

DmcSimTransport::DmcSimTransport(std::shared_ptr<DmcSimulator> simulator) : m_sim(std::move(simulator)) {}

DmcSimTransport::~DmcSimTransport() = default;

bool DmcSimTransport::connect()
{
    if (!m_sim)
        m_sim = currentDmcSimulator();
    m_connected = m_sim && !m_sim->linkLost();
    return m_connected;
}

void DmcSimTransport::disconnect()
{
    m_connected = false;
}

std::string DmcSimTransport::connection() const
{
    if (!m_connected)
        return {};
    return "sim, " + m_sim->revision() + ", 0";
}

GalilReply DmcSimTransport::command(std::string_view text, std::string_view, std::string_view, bool trim)
{
    if (!m_connected)
        return {false, {}, "NOT CONNECTED"};
    const std::optional<std::string> raw = m_sim->execute(text);
    if (!raw)
        return {false, {}, "TIMEOUT"};
    // A '?' anywhere in the acknowledgements means one of the line's commands was refused.
    const int expected = galil::commandsInLine(text);
    int acks = 0;
    bool refused = false;
    bool inData = false;
    for (char c : *raw) {
        if (c == '?' && !inData) {
            refused = true;
            ++acks;
        } else if (c == ':' && !inData) {
            ++acks;
        } else if (c == '\n') {
            inData = false;
        } else if (c != '\r') {
            inData = true;
        }
    }
    if (refused)
        return {false, {}, "COMMAND ERROR"};
    if (acks < expected)
        return {false, {}, "GARBLED REPLY"};
    return {true, trim ? galil::trimReply(*raw) : *raw, {}};
}

} // namespace lapido
