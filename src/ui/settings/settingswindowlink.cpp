// Wiring of the settings window to the main window.
#include "ui/settings/settingswindowlink.h"

#include "ui/main/frmmain.h"
#include "ui/settings/frmsettings.h"

namespace lapido {

TSettingsWindowLink::TSettingsWindowLink(TfrmMain& main, TfrmSettings& settings, QWidget* motionTest)
    : m_main(&main), m_settings(&settings)
{
    connect(&main, &TfrmMain::settingsRequested, this, &TSettingsWindowLink::openSettings);
    connect(&settings, &TfrmSettings::videoTransformChanged, &main, &TfrmMain::UpdateVideoTransform);
    connect(&settings, &TfrmSettings::labelViewRequested, &main, &TfrmMain::labelViewRequested);
    main.setAutoBackup([settings = m_settings] {
        if (settings)
            settings->AutoBackup();
    });
    if (motionTest)
        settings.setMotionTestWindow(motionTest);
    settings.setCameraSource([main = m_main]() -> TuEye* { return main ? main->camera() : nullptr; });
}

int TSettingsWindowLink::openSettings()
{
    if (!m_main || !m_settings)
        return 0;
    m_main->setSettingsButtonEnabled(false);
    const int result = m_settings->exec();
    m_main->setSettingsButtonEnabled(true);
    m_main->CheckAxisActivation();
    return result;
}

} // namespace lapido
