// A station on the in-process simulator for the machine-object tests.
#pragma once

#include "machine/applysettings.h"
#include "machine/laser.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"

#include "testsupport.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace lapido::test {

using Commands = std::vector<std::string>;

// 1000 counts per mm on every axis, 5 µm between pulses, no enable delay; the echo hook
// records every command DMCCmd sends.
class LaserFixture : public StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        m_sim = std::make_unique<ScopedDmcSimulator>(&m_clock);
        keys::write(keys::GalilIP, QStringLiteral("sim"));
        store().WriteString(QStringLiteral("Hardware"), QStringLiteral("EnableOnDelay"), QStringLiteral("0"));
        Settings() = TSettings{};
        Settings().UseZaxis = false;
        m_settings = TSettings{};
        m_settings.XY_CountsPerMM = 1000;
        m_settings.Z_CountsPerMM = 1000;
        m_settings.MarkingSpeed = 0.5;
        m_settings.PhotoSpeed = 0.1;
        m_settings.PulseDistance = 5;
    }
    void TearDown() override
    {
        m_laser.reset();
        m_sim.reset();
        Settings() = TSettings{};
        StationFixture::TearDown();
    }

    DmcSimulator& sim() { return **m_sim; }

    TLaser& laser()
    {
        if (!m_laser) {
            m_laser = std::make_unique<TLaser>();
            m_laser->ShowDMCCmd = true;
            m_laser->setEchoHook([this](EchoLine kind, const std::string& text) {
                if (kind == EchoLine::Command)
                    m_sent.push_back(text);
            });
        }
        return *m_laser;
    }
    // Applies m_settings and forgets the set-up commands.
    TLaser& applied()
    {
        EXPECT_EQ(ApplyMotionSettings(m_settings, laser()), std::nullopt);
        m_sent.clear();
        return *m_laser;
    }
    long count(const std::string& prefix, std::size_t end = std::string::npos) const
    {
        const auto last = end == std::string::npos ? m_sent.end() : m_sent.begin() + end;
        return std::count_if(m_sent.begin(), last, [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    }
    std::size_t indexOf(const std::string& cmd) const
    {
        return std::find(m_sent.begin(), m_sent.end(), cmd) - m_sent.begin();
    }

    std::unique_ptr<ScopedDmcSimulator> m_sim;
    std::unique_ptr<TLaser> m_laser;
    TSettings m_settings;
    Commands m_sent;
};

} // namespace lapido::test
