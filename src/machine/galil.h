// TGalil: the transport chosen by address, as the vendor object chose its link.
#pragma once

#include "machine/galiltransport.h"

#include <memory>
#include <string>

namespace lapido {

// Address "sim" (also the default reported when none is set) connects to the process's
// in-process controller simulator; anything else is a TCP controller at "host" or
// "host:port" (port 23 by default).
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
