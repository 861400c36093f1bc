// TGalil: picks a registered link or a TCP controller from the address.
#include "machine/galil.h"

#include "machine/tcptransport.h"

#include <map>
#include <mutex>

namespace lapido {

namespace {

// The registered links, keyed by exact address text. Registration happens at program start,
// lookups at connect; the lock keeps a late registration from racing a connect.
struct TransportRegistry {
    std::mutex mutex;
    std::map<std::string, GalilTransportFactory, std::less<>> factories;
};

TransportRegistry& registry()
{
    static TransportRegistry r;
    return r;
}

GalilTransportFactory registeredFactory(std::string_view address)
{
    TransportRegistry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto it = r.factories.find(address);
    return it == r.factories.end() ? GalilTransportFactory() : it->second;
}

} // namespace

void registerGalilTransport(std::string_view address, GalilTransportFactory factory)
{
    TransportRegistry& r = registry();
    std::lock_guard lock(r.mutex);
    if (factory)
        r.factories.insert_or_assign(std::string(address), std::move(factory));
    else if (const auto it = r.factories.find(address); it != r.factories.end())
        r.factories.erase(it);
}

bool galilTransportRegistered(std::string_view address)
{
    return static_cast<bool>(registeredFactory(address));
}

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
    if (const GalilTransportFactory factory = registeredFactory(a))
        m_link = factory();
    else if (a != kDefaultAddress)
        m_link = std::make_unique<TcpTransport>(a, m_timeoutMs);
    return m_link && m_link->connect();
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
