// Fixtures shared by the test programs: a fresh settings store, virtual time, scripted dialogs.
// Every test program gets its main() from testmain.cpp (an offscreen QGuiApplication, so fonts
// and painting work); test folders add no main() of their own.
#pragma once

#include "platform/clock.h"
#include "platform/operatordialogs.h"
#include "platform/settingsstore.h"

#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace lapido::test {

// Gives each test its own empty store (installed as AppRegistry), a virtual clock, scripted
// dialogs and a scratch folder; the previous ones come back afterwards.
class StationFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    SettingsStore& store() { return AppRegistry(); }
    QString scratch(const QString& name = {}) const;

    QTemporaryDir m_dir;
    VirtualClock m_clock;
    ScriptedDialogs m_dialogs;

private:
    Clock* m_previousClock = nullptr;
    OperatorDialogs* m_previousDialogs = nullptr;
};

// Folder of the test data under tests/ (source tree).
QString testDataDir();

} // namespace lapido::test
