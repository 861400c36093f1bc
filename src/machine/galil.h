// TGalil: the transport chosen by address, as the vendor object chose its link.
#pragma once

#include "machine/galiltransport.h"

#include <functional>
#include <memory>
#include <string>

namespace lapido {

// Makes the link for one registered address.
using GalilTransportFactory = std::function<std::unique_ptr<GalilTransport>()>;

// Registers the link that TGalil connects through for an exact address text, replacing any
// earlier registration of that address; an empty factory removes it. The programs register
// the in-process simulator under "sim"; the machine library itself knows only TCP.
void registerGalilTransport(std::string_view address, GalilTransportFactory factory);
bool galilTransportRegistered(std::string_view address);

// An address with a registered link connects through it; anything else is a TCP controller
// at "host" or "host:port" (port 23 by default). "sim", the default reported when no address
// is set, reaches nothing until a program registers a link for it: connect() then fails and
// the channel stays unconnected, as with a controller that is off.
class TGalil final : public GalilTransport {
public:
    static constexpr const char* kDefaultAddress = "sim";

    TGalil();
    ~TGalil() override;

    std::string address() const override;
    void setAddress(std::string_view address) override;
    bool connect() override;
    void disconnect() override;
    std::string connection() const override;
    GalilReply command(std::string_view text, std::string_view terminator, std::string_view ack,
                       bool trim) override;
    bool isRemote() const override { return m_link && m_link->isRemote(); }

    // Time-out per command of a TCP link in milliseconds (lines holding WT, MC or RS get
    // more). Applies to the next connect.
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    // The link in use after connect (null before).
    GalilTransport* link() { return m_link.get(); }

private:
    std::string m_address;
    int m_timeoutMs = 3000;
    std::unique_ptr<GalilTransport> m_link;
};

} // namespace lapido
