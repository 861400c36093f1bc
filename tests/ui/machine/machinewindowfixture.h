// The service windows over the in-process simulated controller, on virtual time.
#pragma once

#include "machine/applysettings.h"
#include "machine/laser.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"
#include "ui/machine/frmlaser.h"

#include "testsupport.h"

#include <memory>

namespace lapido::test {

// The manual command window made as at program start: it creates the machine object on the
// simulator; the machine is set up with 1000 counts per mm and initialised without homing.
class MachineWindowFixture : public StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        m_sim = std::make_unique<ScopedDmcSimulator>(&m_clock);
        keys::write(keys::GalilIP, QStringLiteral("sim"));
        Settings() = TSettings{};
        Settings().UseZaxis = false;
        Settings().XY_CountsPerMM = 1000;
        Settings().Z_CountsPerMM = 1000;
        m_form = std::make_unique<TfrmLaser>();
        ASSERT_EQ(ApplyMotionSettings(Settings(), m_form->laser()), std::nullopt);
        m_form->laser().setStartSwitches({.noHoming = true});
        m_form->laser().Initialize();
    }
    void TearDown() override
    {
        m_form.reset();
        m_sim.reset();
        Settings() = TSettings{};
        StationFixture::TearDown();
    }
    DmcSimulator& sim() { return **m_sim; }
    double positionX()
    {
        double X = 0, Y = 0, Z = 0, W = 0;
        m_form->laser().GetPosition(X, Y, Z, W);
        return X;
    }

    std::unique_ptr<ScopedDmcSimulator> m_sim;
    std::unique_ptr<TfrmLaser> m_form;
};

} // namespace lapido::test
