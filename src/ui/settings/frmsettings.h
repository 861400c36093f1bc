// TfrmSettings: the settings window, the only editor of the settings record.
#pragma once

#include "settings/settingsrules.h"

#include <QColor>
#include <QDialog>
#include <QHash>
#include <QPointer>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QTimeEdit;
class QToolButton;

namespace lapido {

class TLaserSource;
class TLedsRGB;
class TuEye;

// A modal, fixed-size dialog over the process-wide record (Settings()). Most boxes write the
// record as they change; OK checks the pulse frequencies, saves, and applies the motion and
// laser settings to the machine; Cancel reloads the record from the store.
class TfrmSettings : public QDialog {
    Q_OBJECT
public:
    // FormCreate: loads the record, takes service mode from the debug switch, finds the laser
    // sources and selects the stored one, fills the controls.
    explicit TfrmSettings(QWidget* parent = nullptr);
    // Writes the shot counters once more; unloads a laser source this window created.
    ~TfrmSettings() override;

    void ApplySettingsToControls();
    // Reloads the record; a key missing from the store takes what its control holds.
    void LoadSettingsFromRegistery();
    // The record into the machine object (when there is one); false with the message shown
    // when the machine refused the values.
    bool ApplyMotionSettings();
    void ApplyLaserSettings();
    // Advances the shot counters from the controller's pulse count and shows them.
    void UpdatePulseCount(std::int64_t Count);
    // The automatic backup at the first start of the day.
    void AutoBackup();

    SettingsEditor& editor() { return m_editor; }
    TLaserSource* laserSource() const { return m_laserSource; }
    bool serviceMode() const { return m_editor.ST_Service; }

    // The motion test window "Test..." shows below this window (none until it exists).
    void setMotionTestWindow(QWidget* window) { m_motionTest = window; }
    // The camera "Calibrate..." films with: the main window's, asked for at each run since the
    // program may replace it. None: the button reports that there is no camera.
    using CameraSource = std::function<TuEye*()>;
    void setCameraSource(CameraSource source) { m_cameraSource = std::move(source); }
    // The ring light the "Advanced Illumination" group drives (the station's one when unset).
    void setLight(TLedsRGB* light) { m_light = light; }
    // How a colour is chosen: the chosen colour and whether the dialog was accepted. The
    // default opens a colour dialog; tests answer without one.
    using ColorChooser = std::function<std::pair<QColor, bool>(const QColor& initial)>;
    void setColorChooser(ColorChooser chooser) { m_chooseColor = std::move(chooser); }

    // The read-back of the laser page (also run by its 500 ms timer while that page shows).
    void LaserReadBack();
    bool laserReadBackRunning() const { return m_laserTimer.isActive(); }

signals:
    // A cross-hair, scale or aspect value changed (or the record was reloaded): the camera
    // overlay and the one-pixel wheel steps must be recomputed (UpdateVideoTransform).
    void videoTransformChanged();
    // The laser source changed what it can do: the main window's pulse boxes follow.
    void laserSourceChanged();
    // Label view "Show".
    void labelViewRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void done(int result) override;

private:
    // Building the pages.
    QWidget* buildMarkingPage();
    QWidget* buildPositionsPage();
    QWidget* buildColorsPage();
    QWidget* buildMousePage();
    QWidget* buildMotionPage();
    QWidget* buildVideoPage();
    QWidget* buildHardwarePage();
    QWidget* buildLaserPage();
    QWidget* buildPulsePage();
    QWidget* buildAdministrationPage();
    QWidget* buildMiscPage();
    QGroupBox* buildLightGroup();
    QLineEdit* floatEdit(const char* key);
    QSpinBox* spinEdit(const char* key, int minimum, int maximum, int step = 1);
    QCheckBox* checkBox(const char* name, const QString& caption);

    // Handlers.
    void EditFloatChange(const QString& key, const QString& text);
    void SpinEditChange(const QString& key, const QString& text);
    void updateRedStates();
    // OK with refused boxes: says which, shows the first, and is true (nothing is saved).
    bool refuseRedBoxes();
    // The motion test window back to its owner (it is ours only while this window shows).
    void returnMotionTest();
    // The light the page shows: the one handed, else the station's (none made here).
    TLedsRGB* shownLight() const;
    void refreshProtectedControls();
    void ButtonCloseClick();
    void copyOkOnlyControls();
    ControlTexts controlTexts() const;
    void chooseColor(std::uint32_t TSettings::*field, QLabel* panel);
    void GetPosition(int row);
    void calibrateCamera();
    void ComboBoxSourceSelect(int index);
    void applyLaserSourceView();
    void onTabChanged(int index);
    void updateLaserTimer();
    void showCounters(const QString& total, const QString& sinceReset);
    void refreshPulseOverview();
    void PulseSetClick();
    void makeManualBackup();
    void showBackupFields();

    // Ring light.
    TLedsRGB& light();
    void lightConnect();
    void lightDisconnect();
    void updateLightButtons();
    void refreshLedLabels();
    void lightColors();
    void lightTemplatePicked(const QString& name);
    void lightSave();

    SettingsEditor m_editor;
    bool m_filling = false;

    QTabWidget* m_tabs = nullptr;
    QHash<QString, QLineEdit*> m_floatEdits;
    QHash<QString, QSpinBox*> m_spinEdits;
    QHash<QString, QLabel*> m_colorPanels;
    std::array<QToolButton*, 4> m_minusButtons{};
    std::array<QToolButton*, 4> m_plusButtons{};
    std::array<QComboBox*, 4> m_currentCombos{};
    std::array<QCheckBox*, 3> m_lowCurrent{};
    QHash<QString, QCheckBox*> m_checks;
    QHash<QString, QCheckBox*> m_polarity;
    QComboBox* m_textType = nullptr;
    QComboBox* m_textLengthMode = nullptr;

    // Laser page.
    std::unique_ptr<TLaserSource> m_ownLaserSource;
    TLaserSource* m_laserSource = nullptr;
    QComboBox* m_sourceCombo = nullptr;
    QPushButton* m_showPanel = nullptr;
    QWidget* m_maxPulseBox = nullptr;
    QGroupBox* m_laserControl = nullptr;
    QGroupBox* m_timedPulse = nullptr;
    QGroupBox* m_pulseTrain = nullptr;
    QGroupBox* m_pulseCounter = nullptr;
    struct LaserRow {
        QWidget* row = nullptr;
        QWidget* command = nullptr;
        QLabel* readBack = nullptr;
    };
    LaserRow m_current, m_power, m_frequency;
    QLabel* m_maxPulseCaption = nullptr;
    QPlainTextEdit* m_report = nullptr;
    QLabel* m_totalCount = nullptr;
    QLabel* m_pulseCount = nullptr;
    QTimer m_laserTimer;
    QWidget* m_laserPage = nullptr;
    QWidget* m_motionPage = nullptr;
    QWidget* m_miscPage = nullptr;

    // Pulse page.
    QComboBox* m_register = nullptr;
    QPlainTextEdit* m_overview = nullptr;
    QLineEdit* m_partNumber = nullptr;
    QDateEdit* m_installDate = nullptr;
    QTimeEdit* m_installTime = nullptr;

    // Administration page.
    QLineEdit* m_password = nullptr;
    QPushButton* m_enter = nullptr;
    QLabel* m_backupDate = nullptr;
    QLabel* m_backupFolder = nullptr;
    QPushButton* m_manualBackup = nullptr;
    QLabel* m_workingDir = nullptr;

    CameraSource m_cameraSource;

    // Ring light group.
    TLedsRGB* m_light = nullptr;
    QSpinBox* m_comPort = nullptr;
    QLineEdit* m_lightDevice = nullptr;
    QPushButton* m_connect = nullptr;
    QPushButton* m_disconnect = nullptr;
    QLabel* m_lightStatus = nullptr;
    std::array<QCheckBox*, 16> m_ledChecks{};
    std::array<QLabel*, 16> m_ledLabels{};
    QList<QAbstractButton*> m_lightButtons; // enabled only while connected
    QRadioButton* m_inspection = nullptr;
    QRadioButton* m_holderFree = nullptr;

    QPointer<QWidget> m_motionTest;
    QPointer<QWidget> m_motionTestOwner; // its parent before "Test..." made it one of ours
    ColorChooser m_chooseColor;
};

} // namespace lapido
