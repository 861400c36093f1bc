// Shared test fixtures.
#include "testsupport.h"

#include "platform/stationglobals.h"

namespace lapido::test {

void StationFixture::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    setAppRegistry(SettingsStore::open(m_dir.filePath(QStringLiteral("settings.db"))));
    m_previousClock = setSystemClock(&m_clock);
    m_previousDialogs = setOperatorDialogs(&m_dialogs);
    resetStationGlobals();
}

void StationFixture::TearDown()
{
    setOperatorDialogs(m_previousDialogs);
    setSystemClock(m_previousClock);
    setAppRegistry(nullptr);
    resetStationGlobals();
}

QString StationFixture::scratch(const QString& name) const
{
    return name.isEmpty() ? m_dir.path() : m_dir.filePath(name);
}

QString testDataDir()
{
    return QStringLiteral(LAPIDO_TEST_DATA_DIR);
}

} // namespace lapido::test
