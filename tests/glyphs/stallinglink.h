// The simulator's link with a jam: from a chosen command on, the machine reports motion while
// its positions stand still, until a stop command frees it. The guard sees "nothing
// progressed" and stops the machine; afterwards the machine answers normally again, which is
// when a careless caller could fire once more.
#pragma once

#include "machine/galil.h"
#include "machine/galiltransport.h"

#include <string>
#include <vector>

namespace lapido::test {

class StallingLink final : public GalilTransport {
public:
    // The jam begins at the count-th time `trigger` is sent.
    StallingLink(std::string trigger, int count) : m_trigger(std::move(trigger)), m_count(count)
    {
        m_link.setAddress("sim");
    }
    std::string address() const override { return m_link.address(); }
    void setAddress(std::string_view) override {}
    bool connect() override { return m_link.connect(); }
    void disconnect() override { m_link.disconnect(); }
    std::string connection() const override { return m_link.connection(); }
    GalilReply command(std::string_view text, std::string_view terminator, std::string_view ack, bool trim) override
    {
        if (text == m_trigger && --m_count == 0)
            m_jammed = true;
        if (m_jammed && text.substr(0, 2) == "ST")
            m_jammed = false;
        if (m_jammed && text == "MG _BGS")
            return {true, "1.0000", {}};
        if (m_jammed && text == "RPXYZW" && !m_frozen.empty())
            return {true, m_frozen, {}};
        GalilReply reply = m_link.command(text, terminator, ack, trim);
        if (text == "RPXYZW")
            m_frozen = reply.text;
        m_sent.emplace_back(text);
        return reply;
    }
    // Every command that reached the controller, in order.
    const std::vector<std::string>& sent() const { return m_sent; }

private:
    TGalil m_link;
    std::string m_trigger;
    int m_count;
    bool m_jammed = false;
    std::string m_frozen;
    std::vector<std::string> m_sent;
};

} // namespace lapido::test
