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
    galil::AckScanner acks;
    acks.feed(*raw);
    if (acks.refused) {
        // As the vendor's drivers do, ask for the reason so that the log can say it.
        const std::optional<std::string> why = m_sim->execute("TC1");
        return {false, {}, "COMMAND ERROR" + (why ? ": " + galil::trimReply(*why) : std::string())};
    }
    if (acks.acks < galil::commandsInLine(text))
        return {false, {}, "GARBLED REPLY"};
    return {true, trim ? galil::trimReply(*raw) : *raw, {}};
}

} // namespace lapido
