// TfrmMain: the station's main window, a view over TStation. It shows the model's state
// (positions, label tree, edit boxes, control states, the camera picture with its overlay)
// and forwards clicks, keys and wheel steps to it. Other windows are opened by the program,
// which connects them to the signals below.
#pragma once

#include "camera/videooverlay.h"
#include "glyphs/glyph.h"
#include "workflow/station.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QAbstractButton;
class QBoxLayout;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSlider;
class QSpinBox;
class QStackedWidget;
class QTextEdit;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace lapido {

class EventPump;
class TDataModule1;
class TuEye;
class TPreviewSwitch;
class TInspectionOverlay;
class TVideoPanel;

class TfrmMain : public QWidget {
    Q_OBJECT

public:
    // Runs FormCreate: settings, working folder, start switches, camera, controls.
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    TStation& station() { return *m_station; }
    const TStation& station() const { return *m_station; }

    // The program disables "Settings" while the settings window is open.
    void setSettingsButtonEnabled(bool enabled);
    // The A and Z displays and the round-shape option follow the axes in use.
    void CheckAxisActivation();
    // Recomputes the camera transform (and the one-pixel wheel steps) after the settings
    // window changed the cross hair, scale or aspect.
    void UpdateVideoTransform();
    // Replaces the camera (the program's choice of a simulated one; tests).
    void setCamera(std::unique_ptr<TuEye> camera);
    // The camera in use (none when the program has none).
    TuEye* camera() const { return m_camera.get(); }
    // The settings' automatic backup, run once when the window is first shown.
    void setAutoBackup(std::function<void()> backup);
    // The templates the templates manager left checked: imported by the template loader.
    void importTemplates(const QStringList& checkedNames);
    // Refills the logo list from the logo folder (after the logo editor closed).
    void reloadLogoList();

    // One tick of the video timer: frame, overlay, painted on the panel at once.
    void VideoTimerTick();
    const QImage& videoBuffer() const { return m_imageBuffer; }
    // The "Preview" switch with its estimated time and marks.
    TPreviewSwitch& previewSwitch() { return *m_previewSwitch; }
    // Copies the model's state onto the widgets (done by the timers; tests call it directly).
    void refreshControls();
    // The progress line of the run ("Glyph k of n" and the time elapsed).
    QString progressText() const;

signals:
    void settingsRequested();
    void manualCommandRequested();
    void clipboardRequested();
    void symbolsRequested();
    // The label editor's character map: the symbol picker on the formatted text.
    void characterMapRequested();
    void logoEditorRequested();
    void templatesManagerRequested();
    void previewRequested();
    void labelViewRequested();
    void photoGammaChanged(double gamma);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct EditBinding {
        TEditBox box;
        QLineEdit* edit;
        QLabel* mm; // millimetre display or null
    };

    // Construction of the controls (frmmainpanels.cpp): one builder per panel, and the
    // arrangement of the panels on the screen. The builders only make and place controls.
    void buildUi();
    // Enables the picture controls the camera has; the others say they are not available.
    void showCameraControls();
    QWidget* buildPositionPanel();
    QWidget* buildAimPanel();
    QWidget* buildStonePanel();
    QWidget* buildTreePanel();
    QWidget* buildPropertyPanels();
    QWidget* buildPositioningPanel();
    QWidget* buildTemplatePanel();
    QWidget* buildRollDownPanel();
    QWidget* buildDebugPanel();
    QLineEdit* bindEdit(TEditBox box, QLabel* mm = nullptr);
    // The window fills the screen's free room (top-left, frameless unless debugging); the side
    // panels stand in one column or two, as the width allows.
    void fitToScreen();
    void arrangeSideColumns();
    // Shows "simulated" beside the position display while any device is simulated.
    void updateSimulatedSign();
    // A light template asked for: applied now, after the light's start, or the start begun.
    void lightTemplate(const QString& name);
    void showLightState();
    // What the controls do: each panel's clicks and changes reach the station.
    void connectControls();
    void connectAimPanel();
    void connectStonePanel();
    void connectTreePanel();
    void connectPropertyPanels();
    void connectPositioningPanel();
    void connectTemplatePanel();
    void connectRollDownPanel();
    void connectDebugPanel();
    void connectTimers();
    // True unless a machine operation is letting the window's events through.
    bool outsideMachineOperation() const;

    void positionTick();
    void formControlTick();
    void blowerTick();
    void videoTimerFired();
    void afterCommand();
    void takeStationCaret();
    // The kind of control that has the keyboard focus, as the key table sees it.
    TKeyFocus keyFocusOf(const QWidget* focus) const;
    void refreshTree();
    void refreshEdits();
    void refreshPanel();
    void treeSelectionChanged();
    void richTextChanged();
    void richSelectionChanged();
    void richContextMenu(const QPoint& pos);
    TWheelControl wheelControlAt(QObject* receiver) const;
    void applyZoom();
    void snapshot();
    void dragPicture(QPointF from, QPointF to);
    void focusTarget(TFocusTarget target);

    std::unique_ptr<TDataModule1> m_dataBase;
    std::unique_ptr<TStation> m_station;
    std::unique_ptr<TuEye> m_camera;
    std::unique_ptr<EventPump> m_pump;
    EventPump* m_previousPump = nullptr;
    TVideoTransform m_videoTransform;
    TLabelLayer m_labelLayer; // the label's outlines, drawn again only when they change
    QImage m_imageBuffer;
    QPoint m_videoOffset;
    bool m_zoomApplied = false;
    bool m_shown = false;
    bool m_activated = false;
    bool m_refreshing = false;
    bool m_treeDirty = true;
    bool m_settingsLocked = false;
    bool m_inRichChange = false;
    bool m_simulatedMachine = false;
    // The ring light comes up while the window is already in use; Engrave waits for it.
    enum class LightState { NotStarted, Starting, Ready, Failed };
    LightState m_lightState = LightState::NotStarted;
    QString m_pendingLightTemplate;
    QLabel* m_lightStatus = nullptr;
    QStringList m_pendingTemplates;

    QTimer* m_timerLaser = nullptr;
    QTimer* m_timerVideo = nullptr;
    QTimer* m_timerBlower = nullptr;
    QTimer* m_formControlTimer = nullptr;
    QTimer* m_loadTemplatesTimer = nullptr;

    TVideoPanel* m_video = nullptr;
    // The side column's scrolled part and its two columns of panels.
    QScrollArea* m_sideScroll = nullptr;
    QBoxLayout* m_sideColumns = nullptr;
    QWidget* m_sideColumnA = nullptr;
    QWidget* m_sideColumnB = nullptr;
    QLabel* m_progress = nullptr;
    // Position display.
    std::array<QLabel*, 4> m_axisValue{};   // X Y Z A
    std::array<QLabel*, 4> m_axisName{};
    std::array<QLabel*, 4> m_axisUnit{};
    std::array<QFrame*, 4> m_jogPanel{};
    QLabel* m_wCount = nullptr;
    QLabel* m_focusHeight = nullptr;
    QLabel* m_encoderX = nullptr;
    QLabel* m_simulated = nullptr;
    QLabel* m_version = nullptr;
    // Align / Inspect / Engrave.
    QToolButton* m_align = nullptr;
    QToolButton* m_inspect = nullptr;
    QToolButton* m_mark = nullptr;
    QPushButton* m_abort = nullptr;
    QPushButton* m_reset = nullptr;
    QPushButton* m_goToStart = nullptr;
    QPushButton* m_settings = nullptr;
    QPushButton* m_exit = nullptr;
    QPushButton* m_rollDownButton = nullptr;
    // Stone.
    QGroupBox* m_girdleBox = nullptr;
    QGroupBox* m_slantBox = nullptr;
    QToolButton* m_girdleUp = nullptr;
    QToolButton* m_girdleDown = nullptr;
    QToolButton* m_slantUp = nullptr;
    QToolButton* m_slantDown = nullptr;
    QRadioButton* m_round = nullptr;
    // Tree and property panels.
    QTreeWidget* m_tree = nullptr;
    std::array<QPushButton*, 6> m_add{};
    QPushButton* m_taskUp = nullptr;
    QPushButton* m_taskDown = nullptr;
    QPushButton* m_delTask = nullptr;
    QStackedWidget* m_panels = nullptr;
    QTextEdit* m_richEdit = nullptr;
    QComboBox* m_richFont = nullptr;
    QComboBox* m_richStyle = nullptr;
    QLineEdit* m_textLabel = nullptr;
    QComboBox* m_textFont = nullptr;
    QComboBox* m_textStyle = nullptr;
    QLabel* m_symbolPreview = nullptr;
    QPushButton* m_characterMap = nullptr;
    QPushButton* m_editSymbols = nullptr;
    QPushButton* m_saveAsLogo = nullptr;
    QComboBox* m_logoList = nullptr;
    QPushButton* m_logos = nullptr;
    QPushButton* m_loadPicture = nullptr;
    QPushButton* m_photoPreview = nullptr;
    QSlider* m_gamma = nullptr;
    std::array<QComboBox*, 4> m_markingStatus{}; // char, logo, photo, code panels
    // 2D code.
    QPushButton* m_addCode = nullptr;
    QLineEdit* m_codeContent = nullptr;
    QComboBox* m_codeKind = nullptr;
    QDoubleSpinBox* m_codeModule = nullptr;
    QSpinBox* m_codeQuiet = nullptr;
    QComboBox* m_codeMarking = nullptr;
    QDoubleSpinBox* m_codeOffset = nullptr;
    QCheckBox* m_codeScanned = nullptr;
    QCheckBox* m_codeAutoInc = nullptr;
    QLabel* m_codeInfo = nullptr;
    QCheckBox* m_autoInc = nullptr;
    QPushButton* m_incLabel = nullptr;
    // Positioning.
    std::array<QPushButton*, 3> m_focusLcr{};
    QPushButton* m_setFocus = nullptr;
    std::array<QPushButton*, 3> m_standby{};
    std::array<QRadioButton*, 5> m_circleRadio{};
    std::array<QLabel*, 4> m_circlePointLabel{};
    QLineEdit* m_circleX = nullptr;
    QLineEdit* m_circleY = nullptr;
    QPushButton* m_circleSet = nullptr;
    QPushButton* m_circleGoto = nullptr;
    QPushButton* m_circleClear = nullptr;
    // Templates.
    QComboBox* m_templates = nullptr;
    QPushButton* m_templateSave = nullptr;
    QPushButton* m_templateLoad = nullptr;
    QPushButton* m_templateClose = nullptr;
    // Roll-down panel.
    QWidget* m_rollDown = nullptr;
    QCheckBox* m_overlay = nullptr;
    QCheckBox* m_zoomOut = nullptr;
    QCheckBox* m_grid = nullptr;
    QToolButton* m_gridUp = nullptr;
    QToolButton* m_gridDown = nullptr;
    QPushButton* m_snapshot = nullptr;
    TPreviewSwitch* m_previewSwitch = nullptr;
    std::unique_ptr<TInspectionOverlay> m_inspection;
    QSlider* m_brightness = nullptr;
    QSlider* m_contrast = nullptr;
    QRadioButton* m_agcOn = nullptr;
    QRadioButton* m_agcOff = nullptr;
    QSpinBox* m_pulseCount = nullptr;
    QSpinBox* m_pulseDuration = nullptr;
    QPushButton* m_shootTrain = nullptr;
    QPushButton* m_shootOne = nullptr;
    // Debug panel.
    QWidget* m_debugPanel = nullptr;
    QPushButton* m_debugDmc = nullptr;
    QPushButton* m_debugClipboard = nullptr;
    QPushButton* m_debugEcamStop = nullptr;
    QPushButton* m_debugHome = nullptr;
    QPushButton* m_debugStop = nullptr;
    QPushButton* m_debugExit = nullptr;

    std::vector<EditBinding> m_edits;
};

} // namespace lapido
