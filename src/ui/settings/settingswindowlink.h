// The settings window answering the main window: "Settings" opens it, the automatic backup
// runs when the main window is first shown, the camera overlay follows the video values.
#pragma once

#include <QObject>
#include <QPointer>

namespace lapido {

class TfrmMain;
class TfrmSettings;

class TSettingsWindowLink : public QObject {
    Q_OBJECT
public:
    // Connects the two windows (the link belongs to whoever creates it); the motion test window (when the program made one) opens
    // below the settings window from its "Test..." button.
    TSettingsWindowLink(TfrmMain& main, TfrmSettings& settings, QWidget* motionTest = nullptr);

    // "Settings": the dialog runs modally with the main window's button disabled; the axes
    // displays follow the settings afterwards. Returns the dialog's result.
    int openSettings();

private:
    QPointer<TfrmMain> m_main;
    QPointer<TfrmSettings> m_settings;
};

} // namespace lapido
