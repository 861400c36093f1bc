// DmcSimTransport: the controller link to the in-process simulator (address "sim").
#pragma once

#include "machine/galil.h"
#include "machine/galiltransport.h"

#include <memory>

namespace lapido {

class DmcSimulator;

// Talks to a simulator in the same process; the replies go through the same trimming and
// error rules as a TCP link, so the channel cannot tell them apart.
class DmcSimTransport final : public GalilTransport {
public:
    // simulator: null means currentDmcSimulator() at connect time.
    explicit DmcSimTransport(std::shared_ptr<DmcSimulator> simulator = nullptr);
    ~DmcSimTransport() override;

    std::string address() const override { return "sim"; }
    void setAddress(std::string_view) override {}
    bool connect() override;
    void disconnect() override;
    std::string connection() const override;
    GalilReply command(std::string_view text, std::string_view terminator, std::string_view ack,
                       bool trim) override;

    const std::shared_ptr<DmcSimulator>& simulator() const { return m_sim; }

private:
    std::shared_ptr<DmcSimulator> m_sim;
    bool m_connected = false;
};

// Registers DmcSimTransport as the link of the controller address "sim", reaching
// currentDmcSimulator() at each connect. Called by the programs that run the simulated
// machine; inline so that the simulator library itself needs only the transport interface
// (the caller links the machine library anyway).
inline void registerSimulatedController()
{
    registerGalilTransport(TGalil::kDefaultAddress, [] { return std::make_unique<DmcSimTransport>(); });
}

} // namespace lapido
