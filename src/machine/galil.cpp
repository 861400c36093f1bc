// TGalil: picks the in-process simulator or a TCP controller from the address.
#include "machine/galil.h"

#include "machine/tcptransport.h"
#include "sim/dmcsimtransport.h"

namespace lapido {

TGalil::TGalil() = default;
TGalil::~TGalil() = default;

std::string TGalil::address() const
{
    return m_address.empty() ? std::string(kDefaultAddress) : m_address;
}

void TGalil::setAddress(std::string_view address)
{
    m_address = std::string(address);
}

bool TGalil::connect()
{
    disconnect();
    const std::string a = address();
    if (a == kDefaultAddress)
        m_link = std::make_unique<DmcSimTransport>();
    else
        m_link = std::make_unique<TcpTransport>(a, m_timeoutMs);
    return m_link->connect();
}

void TGalil::disconnect()
{
    if (m_link)
        m_link->disconnect();
    m_link.reset();
}

std::string TGalil::connection() const
{
    return m_link ? m_link->connection() : std::string();
}

GalilReply TGalil::command(std::string_view text, std::string_view terminator, std::string_view ack,
                           bool trim)
{
    if (!m_link)
        return {false, {}, "NOT CONNECTED"};
    return m_link->command(text, terminator, ack, trim);
}

} // namespace lapido
