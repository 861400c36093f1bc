#include "ui/main/frmmain.h"

#include "machine/galil.h"
#include "settings/settingskeys.h"

#include "camera/ueye.h"
#include "camera/ueyeapi.h"
#include "glyphs/glyph.h"
#include "glyphs/richstring.h"
#include "machine/applysettings.h"
#include "machine/laser.h"
#include "machine/lasersource.h"
#include "peripherals/ledsrgb.h"
#include "platform/debuglog.h"
#include "records/lapidographdb.h"
#include "platform/eventpump.h"
#include "platform/operatordialogs.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"
#include "ui/main/inspectionoverlay.h"
#include "ui/main/mainwindowpalette.h"
#include "ui/main/previewswitch.h"
#include "ui/main/videopanel.h"
#include "workflow/starttf.h"

#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QMenu>
#include <QMimeData>
#include <QClipboard>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QWheelEvent>

#include <cmath>

namespace lapido {

namespace {

// A glyph the estimate gives at least this long shows the share of it done while marked.
constexpr double kLongGlyphSeconds = 2;

// While marking, the controller loops hand the user interface its turn through this pump,
// so that Abort, Esc and the picture stay alive.
class QtEventPump final : public EventPump {
public:
    void pump() override
    {
        ++m_depth;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        --m_depth;
    }
    // True while a machine operation lets the window's events through.
    bool pumping() const { return m_depth > 0; }

private:
    int m_depth = 0;
};

// Red for an entry the station refused, the normal colours otherwise.
void showRefused(QLineEdit* edit, bool refused)
{
    QPalette p = edit->parentWidget() ? edit->parentWidget()->palette() : QApplication::palette();
    if (refused)
        p.setColor(QPalette::Text, Qt::red);
    edit->setPalette(p);
}

void setTextKeepingCursor(QLineEdit* edit, const QString& text)
{
    if (edit->text() != text && !edit->hasFocus())
        edit->setText(text);
}

int styleCode(TFontStyles style)
{
    return (style.testFlag(fsItalic) ? 1 : 0) | (style.testFlag(fsBold) ? 2 : 0);
}

TFontStyles styleOf(int code)
{
    TFontStyles style;
    if (code & 1)
        style |= fsItalic;
    if (code & 2)
        style |= fsBold;
    return style;
}

void setComboText(QComboBox* combo, const QString& text)
{
    if (combo->currentText() == text)
        return;
    const int i = combo->findText(text);
    if (i >= 0)
        combo->setCurrentIndex(i);
    else if (combo->isEditable())
        combo->setEditText(text);
}

} // namespace

// --- creation -----------------------------------------------------------------------------------

TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent)
{
    // The station's outside world: marking records, the companion queue program, the ring
    // light and the laser source, as the machine has them.
    m_dataBase = std::make_unique<TDataModule1>();
    bool simulate = false;
    for (const QString& argument : QCoreApplication::arguments())
        simulate = simulate || argument.compare(QStringLiteral("--simulate"), Qt::CaseInsensitive) == 0;
    TStationServices services;
    services.dataBase = m_dataBase.get();
    // Shots of the simulated machine are not the laser's: the maintenance figures count only
    // what a real controller fired.
    const QString address = keys::read(keys::GalilIP).trimmed();
    services.countShots = !simulate && !address.isEmpty() && address != QLatin1String(TGalil::kDefaultAddress);
    m_simulatedMachine = !services.countShots;
    services.startCompanion = TStartTF::launcher();
    services.lightTemplate = [this](const QString& name) { lightTemplate(name); };
    services.lightRotate = [this](bool plus) {
        // A command in the middle of the light's start would be read as its answer.
        if (m_lightState == LightState::Starting)
            return;
        plus ? TLedsRGB::GetInstance().DirectRotatePlus() : TLedsRGB::GetInstance().DirectRotateMoins();
    };
    services.notReady = [this] {
        return m_lightState == LightState::Starting
                   ? tr("The ring light is still starting. Engrave once the position display says it is ready.")
                   : QString();
    };
    services.applyLaserSettings = [] {
        if (TLaserSource* source = laserSource())
            ApplyLaserSettings(*source, Settings());
    };
    services.moveFocus = [this](TFocusTarget target) { focusTarget(target); };
    services.showLabelView = [this] { emit labelViewRequested(); };
    services.snapshot = [this] { return m_imageBuffer; };
    m_station = std::make_unique<TStation>(std::move(services));
    m_station->TreeViewGlyphs().onChanged = [this] { m_treeDirty = true; };

    m_pump = std::make_unique<QtEventPump>();
    m_previousPump = setEventPump(m_pump.get());

    setWindowTitle(QStringLiteral("Lapidograph"));
    m_imageBuffer = QImage(kVideoBufferWidth, kVideoBufferHeight, QImage::Format_RGB32);
    m_imageBuffer.fill(kVideoBackground);

    m_station->FormCreate();
    m_dataBase->Open();

    // The camera: the simulated one when the program runs the simulated station.
    m_camera = std::make_unique<TuEye>(openCameraLibrary(simulate));
    m_inspection = std::make_unique<TInspectionOverlay>(*m_station, [this] { return m_camera.get(); });

    buildUi();
    connectControls();
    connectTimers();

    if (!DebugMode()) {
        setWindowFlag(Qt::FramelessWindowHint, true);
        m_debugPanel->hide();
    }
    fitToScreen();
    if (m_camera->IsPresent()) {
        m_brightness->setValue(int(std::lround(m_camera->GetBrightness())));
        m_contrast->setValue(int(std::lround(m_camera->GetContrast())));
    }
    updateSimulatedSign();
    showCameraControls();
    m_station->ShowOverlay = true;
    m_station->ZoomOut = false;
    applyZoom();
    qApp->installEventFilter(this);
    refreshControls();
}

TfrmMain::~TfrmMain()
{
    qApp->removeEventFilter(this);
    for (QTimer* t : {m_timerLaser, m_timerVideo, m_timerBlower, m_formControlTimer, m_loadTemplatesTimer})
        if (t)
            t->stop();
    setEventPump(m_previousPump);
    m_station->TreeViewGlyphs().onChanged = nullptr;
    // The controls go while the station they show still exists: the label editor works on
    // the station's document up to its last focus change.
    const QList<QWidget*> children = findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    qDeleteAll(children);
}

void TfrmMain::setCamera(std::unique_ptr<TuEye> camera)
{
    m_camera = std::move(camera);
    updateSimulatedSign();
    if (m_camera && m_camera->IsPresent()) {
        m_brightness->setValue(int(std::lround(m_camera->GetBrightness())));
        m_contrast->setValue(int(std::lround(m_camera->GetContrast())));
    }
    showCameraControls();
}

void TfrmMain::showCameraControls()
{
    // A pipeline or GenICam camera may lack a control; the vendor's camera has them all.
    CameraControls controls;
    if (m_camera && m_camera->library())
        controls = m_camera->library()->controls();
    const QString missing = tr("Not available with this camera");
    const auto show = [&](QWidget* w, bool available) {
        w->setEnabled(available);
        w->setToolTip(available ? QString() : missing);
    };
    show(m_brightness, controls.brightness);
    show(m_contrast, controls.contrast);
    show(m_agcOn, controls.gain);
    show(m_agcOff, controls.gain);
}

// --- what the controls do -----------------------------------------------------------------------

bool TfrmMain::outsideMachineOperation() const
{
    return !static_cast<const QtEventPump*>(m_pump.get())->pumping();
}

void TfrmMain::connectControls()
{
    m_video->onDrag = [this](QPointF from, QPointF to) { dragPicture(from, to); };
    for (const EditBinding& binding : m_edits)
        connect(binding.edit, &QLineEdit::textEdited, this, [this, box = binding.box](const QString& text) {
            m_station->EditFloatChange(box, text);
            afterCommand();
        });
    connectAimPanel();
    connectStonePanel();
    connectTreePanel();
    connectPropertyPanels();
    connectTemplatePanel();
    connectPositioningPanel();
    connectRollDownPanel();
    connectDebugPanel();
}

void TfrmMain::connectAimPanel()
{
    auto aim = [this](TSpeedButton which) {
        if (m_station->AIMState == TAIMState::aimsMarking)
            return;
        m_station->SpeedButtonAIMClick(which);
        afterCommand();
    };
    connect(m_align, &QToolButton::clicked, this, [aim] { aim(TSpeedButton::Align); });
    connect(m_inspect, &QToolButton::clicked, this, [aim] { aim(TSpeedButton::Inspect); });
    connect(m_mark, &QToolButton::clicked, this, [aim] { aim(TSpeedButton::Mark); });
    connect(m_abort, &QPushButton::clicked, this, [this] {
        if (m_station->controls().abort)
            m_station->BitBtnAbortClick();
        afterCommand();
    });
    connect(m_reset, &QPushButton::clicked, this, [this] {
        if (m_station->AIMState == TAIMState::aimsMarking)
            return;
        m_station->BitBtnResetClick();
        afterCommand();
    });
    connect(m_goToStart, &QPushButton::clicked, this, [this] {
        if (m_station->AIMState == TAIMState::aimsMarking)
            return;
        m_station->BitBtnGoToStartClick();
        afterCommand();
    });
    connect(m_settings, &QPushButton::clicked, this, &TfrmMain::settingsRequested);
    connect(m_exit, &QPushButton::clicked, this, [this] {
        m_station->BitBtnExitClick();
        close();
    });
    connect(m_rollDownButton, &QPushButton::toggled, this, [this](bool on) { m_rollDown->setVisible(on); });
}

void TfrmMain::connectStonePanel()
{
    auto step = [this](void (TStation::*op)()) {
        (m_station.get()->*op)();
        afterCommand();
    };
    connect(m_girdleUp, &QToolButton::clicked, this, [step] { step(&TStation::SpinButtonSizeUpClick); });
    connect(m_girdleDown, &QToolButton::clicked, this, [step] { step(&TStation::SpinButtonSizeDownClick); });
    connect(m_slantUp, &QToolButton::clicked, this, [step] { step(&TStation::SpinButtonSlantUpClick); });
    connect(m_slantDown, &QToolButton::clicked, this, [step] { step(&TStation::SpinButtonSlantDownClick); });
}

void TfrmMain::connectTreePanel()
{
    auto op = [this](void (TStation::*f)()) {
        if (m_station->AIMState == TAIMState::aimsMarking)
            return;
        (m_station.get()->*f)();
        afterCommand();
    };
    connect(m_add[0], &QPushButton::clicked, this, [op] { op(&TStation::BitBtnAddRichEditClick); });
    connect(m_add[1], &QPushButton::clicked, this, [op] { op(&TStation::BitBtnAddTextClick); });
    connect(m_add[2], &QPushButton::clicked, this, [this, op] {
        // A symbol list is made of the symbols picked last; with none picked yet the picker comes first.
        if (m_station->DefaultSymbolList.isEmpty())
            emit symbolsRequested();
        else
            op(&TStation::BitBtnAddSymbolClick);
    });
    connect(m_add[3], &QPushButton::clicked, this, [op] { op(&TStation::BitBtnAddSpaceClick); });
    connect(m_add[4], &QPushButton::clicked, this, [op] { op(&TStation::BitBtnAddLogoClick); });
    connect(m_add[5], &QPushButton::clicked, this, [op] { op(&TStation::BitBtnAddPhotoClick); });
    connect(m_addCode, &QPushButton::clicked, this, [op] { op(&TStation::BitBtnAddCodeClick); });
    connect(m_taskUp, &QPushButton::clicked, this, [op] { op(&TStation::BitBtnTaskUpClick); });
    connect(m_taskDown, &QPushButton::clicked, this, [op] { op(&TStation::BitBtnTaskDownClick); });
    connect(m_delTask, &QPushButton::clicked, this, [op] { op(&TStation::BitBtnDelTaskClick); });
    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this] { treeSelectionChanged(); });
}

void TfrmMain::connectPropertyPanels()
{
    for (QComboBox* combo : m_markingStatus)
        connect(combo, &QComboBox::activated, this, [this](int index) {
            m_station->MarkingStatusChange(index);
            afterCommand();
        });

    // Label.
    m_richEdit->setDocument(&m_station->RichEditGlyphLabel().document());
    m_richEdit->installEventFilter(this);
    connect(m_characterMap, &QPushButton::clicked, this, &TfrmMain::characterMapRequested);
    connect(&m_station->RichEditGlyphLabel().document(), &QTextDocument::contentsChanged, this, [this] { richTextChanged(); });
    connect(m_richEdit, &QTextEdit::cursorPositionChanged, this, [this] { richSelectionChanged(); });
    connect(m_richEdit, &QTextEdit::selectionChanged, this, [this] { richSelectionChanged(); });
    connect(m_richEdit, &QTextEdit::customContextMenuRequested, this, &TfrmMain::richContextMenu);
    connect(m_richFont, &QComboBox::activated, this, [this](int) {
        m_station->GlyphRichFontChange(m_richFont->currentText());
        takeStationCaret();
        afterCommand();
    });
    connect(m_richStyle, &QComboBox::activated, this, [this](int index) {
        m_station->GlyphRichStyleChange(index);
        takeStationCaret();
        afterCommand();
    });
    connect(m_autoInc, &QCheckBox::clicked, this, [this](bool on) {
        m_station->CheckBox_AutoIncClick(on);
        afterCommand();
    });
    connect(m_incLabel, &QPushButton::clicked, this, [this] {
        m_station->BitBtnIncLabelClick();
        afterCommand();
    });

    // Text.
    auto apply = [this] {
        m_station->GlyphPropertiesChange();
        afterCommand();
    };
    connect(m_textLabel, &QLineEdit::textEdited, this, [this, apply](const QString& text) {
        m_station->TextLabel = text;
        apply();
    });
    connect(m_textFont, &QComboBox::activated, this, [this, apply](int) {
        m_station->TextLabelFont = m_textFont->currentText();
        apply();
    });
    connect(m_textStyle, &QComboBox::activated, this, [this, apply](int index) {
        m_station->TextLabelStyle = styleOf(index);
        apply();
    });

    // Symbol list.
    connect(m_editSymbols, &QPushButton::clicked, this, &TfrmMain::symbolsRequested);

    // Character.
    connect(m_saveAsLogo, &QPushButton::clicked, this, [this] {
        const auto file = operatorDialogs().chooseSaveFile(tr("Save As Logo"), WorkingDir() + QStringLiteral("Logos"),
                                                           QStringLiteral("Logo Files (*.kol)|*.kol"));
        if (file) {
            QString name = *file;
            if (!name.endsWith(QStringLiteral(".kol"), Qt::CaseInsensitive))
                name += QStringLiteral(".kol");
            m_station->SaveAsLogo(name);
        }
        afterCommand();
    });

    // Logo.
    connect(m_logoList, &QComboBox::activated, this, [this](int) {
        m_station->DefaultLogoName = m_logoList->currentText();
        m_station->GlyphPropertiesChange();
        afterCommand();
    });
    connect(m_logos, &QPushButton::clicked, this, &TfrmMain::logoEditorRequested);

    // Photo.
    connect(m_loadPicture, &QPushButton::clicked, this, [this] {
        const auto file = operatorDialogs().chooseOpenFile(tr("Load Picture"), m_station->PhotoDir(),
                                                           QStringLiteral("Pictures (*.bmp *.png *.jpg *.jpeg)|*.bmp;*.png;*.jpg;*.jpeg|"
                                                                          "Bitmaps (*.bmp)|*.bmp"));
        if (file)
            m_station->LoadPhotoFile(*file);
        afterCommand();
    });
    connect(m_photoPreview, &QPushButton::clicked, this, &TfrmMain::previewRequested);

    // 2D code: every field goes to the station's code values and the selected code.
    auto applyCode = [this] {
        if (m_refreshing)
            return;
        TStation& st = *m_station;
        st.CodeContent = m_codeContent->text();
        st.CodeSymbology = TCodeSymbology(m_codeKind->currentData().toInt());
        st.CodeModuleMarking = TCodeModuleMarking(m_codeMarking->currentData().toInt());
        st.CodeModuleUm = m_codeModule->value();
        st.CodeQuietModules = m_codeQuiet->value();
        st.CodeOffset = m_codeOffset->value() / 100.0;
        st.CodeFromScannedCode = m_codeScanned->isChecked();
        st.GlyphPropertiesChange();
        afterCommand();
    };
    connect(m_codeContent, &QLineEdit::textEdited, this, applyCode);
    connect(m_codeKind, &QComboBox::activated, this, applyCode);
    connect(m_codeMarking, &QComboBox::activated, this, applyCode);
    connect(m_codeModule, &QDoubleSpinBox::valueChanged, this, applyCode);
    connect(m_codeQuiet, &QSpinBox::valueChanged, this, applyCode);
    connect(m_codeOffset, &QDoubleSpinBox::valueChanged, this, applyCode);
    connect(m_codeScanned, &QCheckBox::clicked, this, applyCode);
    connect(m_codeAutoInc, &QCheckBox::clicked, this, [this](bool on) {
        m_station->CheckBox_AutoIncClick(on);
        afterCommand();
    });
    connect(m_gamma, &QSlider::valueChanged, this, [this](int position) {
        if (m_refreshing)
            return;
        m_station->PhotoGamma = position / 10.0;
        m_station->GlyphPropertiesChange();
        emit photoGammaChanged(m_station->PhotoGamma);
        afterCommand();
    });
}

void TfrmMain::connectPositioningPanel()
{
    const TStation::TLabelEnd ends[] = {TStation::TLabelEnd::Left, TStation::TLabelEnd::Center,
                                        TStation::TLabelEnd::Right};
    for (int i = 0; i < 3; ++i) {
        connect(m_focusLcr[i], &QPushButton::clicked, this, [this, end = ends[i]] {
            m_station->BitBtnGotoLabelLeftCenterOrRightClick(end);
            afterCommand();
        });
        connect(m_standby[i], &QPushButton::clicked, this, [this, i] {
            m_station->BitBtnGotoClick(i + 1);
            afterCommand();
        });
    }
    connect(m_setFocus, &QPushButton::clicked, this, [this] {
        m_station->BitBtnFocusClick();
        afterCommand();
    });

    const TStation::TCirclePoint which[] = {TStation::TCirclePoint::Left, TStation::TCirclePoint::Right,
                                            TStation::TCirclePoint::Top, TStation::TCirclePoint::Bottom,
                                            TStation::TCirclePoint::Center};
    for (int i = 0; i < 5; ++i)
        connect(m_circleRadio[i], &QRadioButton::clicked, this, [this, p = which[i]] {
            m_station->RadioButton_CircleClick(p);
            afterCommand();
        });
    auto op = [this](void (TStation::*f)()) {
        (m_station.get()->*f)();
        afterCommand();
    };
    connect(m_circleSet, &QPushButton::clicked, this, [op] { op(&TStation::ButtonSetCenterClick); });
    connect(m_circleGoto, &QPushButton::clicked, this, [op] { op(&TStation::BitBtn_CircleGotoClick); });
    connect(m_circleClear, &QPushButton::clicked, this, [op] { op(&TStation::BitBtn_CircleClearClick); });
}

void TfrmMain::connectTemplatePanel()
{
    connect(m_templates, &QComboBox::activated, this, [this](int index) {
        m_station->ComboBoxTemplatesChange(index);
        afterCommand();
    });
    connect(m_templateSave, &QPushButton::clicked, this, [this] {
        m_station->BitBtnSaveTemplateClick();
        afterCommand();
    });
    connect(m_templateLoad, &QPushButton::clicked, this, &TfrmMain::templatesManagerRequested);
    connect(m_templateClose, &QPushButton::clicked, this, [this] {
        m_station->BitBtnCloseTemplateClick();
        afterCommand();
    });
}

void TfrmMain::connectRollDownPanel()
{
    connect(m_overlay, &QCheckBox::clicked, this, [this](bool on) {
        m_station->ShowOverlay = on;
        afterCommand();
    });
    connect(m_zoomOut, &QCheckBox::clicked, this, [this](bool on) {
        m_station->ZoomOut = on;
        afterCommand();
    });
    connect(m_grid, &QCheckBox::clicked, this, [this](bool on) {
        m_station->ShowGrid = on;
        afterCommand();
    });
    connect(m_gridUp, &QToolButton::clicked, this, [this] {
        m_station->SpinButtonGridUpClick();
        afterCommand();
    });
    connect(m_gridDown, &QToolButton::clicked, this, [this] {
        m_station->SpinButtonGridDownClick();
        afterCommand();
    });
    connect(m_snapshot, &QPushButton::clicked, this, &TfrmMain::snapshot);
    connect(m_brightness, &QSlider::valueChanged, this, [this](int v) {
        if (m_camera && m_camera->IsPresent())
            m_camera->SetBrightness(float(v));
    });
    connect(m_contrast, &QSlider::valueChanged, this, [this](int v) {
        if (m_camera && m_camera->IsPresent())
            m_camera->SetContrast(float(v));
    });
    auto agcClick = [this] {
        m_brightness->setValue(0);
        m_contrast->setValue(0);
        if (m_camera)
            m_camera->SetAutoGain(m_agcOn->isChecked());
    };
    connect(m_agcOn, &QRadioButton::clicked, this, agcClick);
    connect(m_agcOff, &QRadioButton::clicked, this, agcClick);
    connect(m_pulseCount, &QSpinBox::textChanged, this,
            [this](const QString& text) { m_station->SpinEditPulseTrainCountChange(text); });
    connect(m_pulseDuration, &QSpinBox::textChanged, this,
            [this](const QString& text) { m_station->SpinEditPulseDurationChange(text); });
    connect(m_shootTrain, &QPushButton::clicked, this, [this] {
        if (m_station->AIMState == TAIMState::aimsMarking)
            return;
        m_station->ButtonShootPulseTrainClick();
        afterCommand();
    });
    connect(m_shootOne, &QPushButton::clicked, this, [this] {
        if (m_station->AIMState == TAIMState::aimsMarking)
            return;
        m_station->ButtonSinglePulseClick();
        afterCommand();
    });
}

void TfrmMain::connectDebugPanel()
{
    connect(m_debugDmc, &QPushButton::clicked, this, &TfrmMain::manualCommandRequested);
    connect(m_debugClipboard, &QPushButton::clicked, this, &TfrmMain::clipboardRequested);
    connect(m_debugEcamStop, &QPushButton::clicked, this, [this] { m_station->DebugEcamStopClick(); });
    connect(m_debugHome, &QPushButton::clicked, this, [this] {
        m_station->DebugHomeClick();
        afterCommand();
    });
    connect(m_debugStop, &QPushButton::clicked, this, [this] { m_station->DebugStopClick(); });
    connect(m_debugExit, &QPushButton::clicked, this, [this] {
        m_station->DebugExitClick();
        close();
    });
}

void TfrmMain::connectTimers()
{
    m_timerLaser = new QTimer(this);
    m_timerLaser->setInterval(TStation::kPositionTimerMs);
    connect(m_timerLaser, &QTimer::timeout, this, &TfrmMain::positionTick);

    m_timerVideo = new QTimer(this);
    m_timerVideo->setSingleShot(true);
    m_timerVideo->setInterval(TStation::VideoTimerInterval(false));
    connect(m_timerVideo, &QTimer::timeout, this, &TfrmMain::videoTimerFired);

    m_timerBlower = new QTimer(this);
    m_timerBlower->setInterval(TStation::kBlowerTimerMs);
    connect(m_timerBlower, &QTimer::timeout, this, &TfrmMain::blowerTick);
    m_timerBlower->start();

    m_formControlTimer = new QTimer(this);
    m_formControlTimer->setInterval(TStation::kFormControlTimerMs);
    connect(m_formControlTimer, &QTimer::timeout, this, &TfrmMain::formControlTick);
    m_formControlTimer->start();

    m_loadTemplatesTimer = new QTimer(this);
    m_loadTemplatesTimer->setSingleShot(true);
    m_loadTemplatesTimer->setInterval(TStation::kTemplateLoaderMs);
    connect(m_loadTemplatesTimer, &QTimer::timeout, this, [this] {
        const QStringList names = std::exchange(m_pendingTemplates, {});
        m_station->BitBtnLoadTemplateClick(names);
        afterCommand();
    });
}

// --- life cycle ---------------------------------------------------------------------------------

void TfrmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    m_station->FormShow();
    // The editor shows its document in the label's default font: the widget's own font would
    // otherwise become the document's default and the label be drawn in it.
    m_richEdit->setFont(m_station->RichEditGlyphLabel().document().defaultFont());
    m_richFont->clear();
    m_richFont->addItems(m_station->FontNames);
    m_textFont->clear();
    m_textFont->addItems(m_station->FontNames);
    reloadLogoList();
    m_pulseCount->setValue(m_station->PulseTrainCount());
    m_pulseDuration->setValue(m_station->PulseDuration());
    m_timerVideo->start();
    m_timerLaser->start();
    refreshControls();
}

bool TfrmMain::event(QEvent* event)
{
    const bool result = QWidget::event(event);
    if (event->type() == QEvent::WindowActivate && !m_activated) {
        m_activated = true;
        // Homing blocks until done; the window is already on screen meanwhile.
        CheckAxisActivation();
        refreshControls();
        m_station->FormActivate();
        refreshControls();
        raise();
        activateWindow();
    }
    return result;
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    // Closing while a run is under way would shut the machine down under the marking loop.
    if (m_station->AIMState == TAIMState::aimsMarking || !m_station->FormCloseQuery()) {
        event->ignore();
        return;
    }
    m_timerVideo->stop();
    m_timerLaser->stop();
    event->accept();
}

void TfrmMain::setSettingsButtonEnabled(bool enabled)
{
    m_settings->setEnabled(enabled && m_station->controls().bitBtnSettings);
    m_settingsLocked = !enabled;
}

void TfrmMain::CheckAxisActivation()
{
    const TSettings& s = Settings();
    m_round->setEnabled(s.UseAaxis);
    for (const EditBinding& b : m_edits)
        if (b.box == TEditBox::EditDiam)
            b.edit->setEnabled(s.UseAaxis);
    const auto axis = [this](int i, bool on) {
        m_jogPanel[i]->setEnabled(on);
        setTextColour(m_axisName[i], on ? kSilver : kGrey);
        setTextColour(m_axisValue[i], on ? kLime : kGrey);
        setTextColour(m_axisUnit[i], on ? kSilver : kGrey);
        m_jogPanel[i]->setToolTipDuration(on ? -1 : 0);
        m_jogPanel[i]->setProperty("hints", on);
    };
    axis(3, s.UseAaxis);
    axis(2, s.UseZaxis);
}

void TfrmMain::lightTemplate(const QString& name)
{
    if (m_lightState == LightState::Starting) {
        m_pendingLightTemplate = name;
        return;
    }
    if (m_lightState == LightState::NotStarted && !TLedsRGB::ExistingInstance()) {
        // The light's start takes over a second of pauses its controller needs: it runs on the
        // event loop's timers while the window is shown and used.
        m_lightState = LightState::Starting;
        m_pendingLightTemplate = name;
        showLightState();
        LogDebug(QStringLiteral("Ring light starting."));
        QPointer<TfrmMain> self(this);
        TLedsRGB::StartInstance([self](bool connected) {
            if (!self)
                return;
            self->m_lightState = connected ? LightState::Ready : LightState::Failed;
            LogDebug(connected ? QStringLiteral("Ring light ready.") : QStringLiteral("Ring light not connected."));
            // A light that is not there still has its template written to the store, as before.
            if (const QString pending = std::exchange(self->m_pendingLightTemplate, {}); !pending.isEmpty())
                TLedsRGB::GetInstance().LoadLedsTemplate(pending);
            self->showLightState();
        });
        return;
    }
    if (m_lightState == LightState::NotStarted)
        m_lightState = LightState::Ready;
    TLedsRGB::GetInstance().LoadLedsTemplate(name);
}

void TfrmMain::showLightState()
{
    if (!m_lightStatus)
        return;
    switch (m_lightState) {
    case LightState::NotStarted:
        m_lightStatus->clear();
        break;
    case LightState::Starting:
        m_lightStatus->setText(tr("light starting\u2026"));
        setTextColour(m_lightStatus, kAmber);
        break;
    case LightState::Ready:
        m_lightStatus->setText(tr("light ready"));
        setTextColour(m_lightStatus, kSilver);
        break;
    case LightState::Failed:
        m_lightStatus->setText(tr("no light"));
        setTextColour(m_lightStatus, kAlarm);
        break;
    }
    m_lightStatus->setToolTip(m_lightState == LightState::Failed ? tr("The ring light did not answer at start")
                                                                  : tr("The ring light"));
}

void TfrmMain::updateSimulatedSign()
{
    QStringList devices;
    if (m_simulatedMachine)
        devices << tr("controller and laser");
    if (m_camera && m_camera->library() && m_camera->library()->isSimulated())
        devices << tr("camera");
    m_simulated->setVisible(!devices.isEmpty());
    m_simulated->setToolTip(tr("Simulated: %1").arg(devices.join(QStringLiteral(", "))));
}

void TfrmMain::reloadLogoList()
{
    m_logoList->clear();
    m_logoList->addItems(m_station->LoadLogoList());
    setComboText(m_logoList, m_station->DefaultLogoName);
}

void TfrmMain::setAutoBackup(std::function<void()> backup)
{
    m_station->services().autoBackup = std::move(backup);
}

void TfrmMain::importTemplates(const QStringList& checkedNames)
{
    m_pendingTemplates = checkedNames;
    m_loadTemplatesTimer->start();
}

// --- timers -------------------------------------------------------------------------------------

void TfrmMain::positionTick()
{
    m_timerLaser->stop();
    TLaser* laser = Laser();
    if (laser && laser->HardwareFound)
        m_station->TimerLaserTick();
    for (int i = 0; i < 4; ++i) {
        QFrame* panel = m_jogPanel[i];
        const bool hot = panel->isEnabled() && panel->underMouse();
        panel->setFrameShadow(hot ? QFrame::Plain : QFrame::Sunken);
    }
    if (laser && laser->HardwareFound) {
        double ex = 0, ey = 0, ez = 0, ew = 0;
        laser->GetEncoder(ex, ey, ez, ew);
        m_encoderX->setText(QString::number(ex, 'f', 3));
    }
    refreshControls();
    m_timerLaser->start();
}

void TfrmMain::formControlTick()
{
    m_station->FormControlTimerTick();
    refreshControls();
}

void TfrmMain::blowerTick()
{
    m_station->BlowerEnableDisableMarking();
}

void TfrmMain::videoTimerFired()
{
    VideoTimerTick();
    // A changed refresh setting takes effect at the next tick; ticks never overlap.
    m_timerVideo->setInterval(TStation::VideoTimerInterval(true));
    m_timerVideo->start();
}

void TfrmMain::VideoTimerTick()
{
    if (m_zoomApplied != m_station->ZoomOut)
        applyZoom();
    // The panel shows the whole buffer, scaled to the room it has.
    m_videoOffset = lapido::VideoTimerTick(m_imageBuffer, m_camera.get(), *m_station, m_videoTransform, Settings(),
                                           QSize(kVideoBufferWidth, kVideoBufferHeight), &m_labelLayer);
    if (m_previewSwitch)
        m_previewSwitch->paint(m_imageBuffer, m_videoTransform);
    m_inspection->paint(m_imageBuffer, m_videoTransform);
    m_video->setBufferOffset(m_videoOffset);
    m_video->repaint();
}

void TfrmMain::UpdateVideoTransform()
{
    applyZoom();
}

void TfrmMain::applyZoom()
{
    m_zoomApplied = m_station->ZoomOut;
    m_videoTransform.UpdateVideoTransform(Settings(), m_zoomApplied);
}

// --- model to widgets ---------------------------------------------------------------------------

void TfrmMain::afterCommand()
{
    m_station->CommitLabelEdit();
    refreshControls();
}

void TfrmMain::takeStationCaret()
{
    // With no selection, a font or style picked applies to what is typed next: the caret
    // that carries it is the editor's, so it takes the station's caret and its format.
    const QTextCursor caret = m_station->RichEditGlyphLabel().textCursor();
    if (caret.document() == m_richEdit->document())
        m_richEdit->setTextCursor(caret);
}

QString TfrmMain::progressText() const
{
    const TMarkingProgress& p = m_station->markingProgress();
    if (!m_station->StatusMessage().isEmpty() && !p.running)
        return m_station->StatusMessage();
    // Between runs the line shows the step of the jog keys, so the operator knows the move.
    if (p.glyphCount == 0 && !p.running)
        return m_station->JogStepText();
    // The same span and rounding as the trace's measured time of the run.
    const QString seconds = QString::number(m_station->markingElapsedMs() / 1000.0, 'f', 1);
    if (p.running && p.glyph == 0)
        return tr("Engraving: enabling the laser, %1 s").arg(seconds);
    if (p.running) {
        const std::optional<TGlyphProgress> g = m_station->GlyphProgress();
        if (!g)
            return tr("Engraving glyph %1 of %2, %3 s").arg(p.glyph).arg(p.glyphCount).arg(seconds);
        const QString left = QString::number(std::ceil(g->secondsLeft), 'f', 0);
        // A glyph of seconds (a photo) shows how far it has come; a letter is over before
        // its share could be read.
        if (g->glyphSeconds >= kLongGlyphSeconds)
            return tr("Engraving glyph %1 of %2 (%3 % of it), %4 s, about %5 s left")
                .arg(p.glyph)
                .arg(p.glyphCount)
                .arg(int(g->share * 100))
                .arg(seconds, left);
        return tr("Engraving glyph %1 of %2, %3 s, about %4 s left").arg(p.glyph).arg(p.glyphCount).arg(seconds, left);
    }
    if (p.aborted)
        return tr("Last run aborted at glyph %1 of %2 after %3 s").arg(p.glyph).arg(p.glyphCount).arg(seconds);
    return tr("Last run: glyph %1 of %2 engraved in %3 s").arg(p.glyph).arg(p.glyphCount).arg(seconds);
}

void TfrmMain::refreshControls()
{
    if (m_refreshing)
        return;
    m_refreshing = true;
    const TStation& st = *m_station;
    const TStationControls& c = st.controls();

    m_axisValue[0]->setText(QString::number(st.AxisPosition_X, 'f', 3));
    m_axisValue[1]->setText(QString::number(st.AxisPosition_Y, 'f', 3));
    m_axisValue[2]->setText(QString::number(st.AxisPosition_Z, 'f', 3));
    m_axisValue[3]->setText(QString::number(0.0, 'f', 3));
    m_wCount->setText(QString::number(std::llround(st.AxisPosition_W())));
    m_focusHeight->setText(QString::number(st.GetFocusHeight(st.AxisPosition_X), 'f', 3));
    m_progress->setText(progressText());

    for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{m_add[0], m_add[1], m_add[2], m_add[3], m_add[4], m_add[5], m_addCode})
        b->setEnabled(c.addButtons);
    m_girdleBox->setEnabled(c.girdleAndSlant);
    m_slantBox->setEnabled(c.girdleAndSlant);
    m_align->setEnabled(c.speedButtonAlign);
    m_inspect->setEnabled(c.speedButtonInspect);
    m_mark->setEnabled(c.speedButtonMark);
    m_mark->setVisible(c.speedButtonMarkVisible);
    QToolButton* down = c.down == TSpeedButton::Align ? m_align : (c.down == TSpeedButton::Inspect ? m_inspect : m_mark);
    if (!down->isChecked())
        down->setChecked(true);
    m_abort->setEnabled(c.abort);
    m_reset->setText(c.resetCaption);
    m_reset->setToolTip(c.resetHint);
    m_reset->setEnabled(c.bitBtnReset);
    m_reset->setVisible(c.bitBtnResetVisible);
    m_goToStart->setText(c.goToStartCaption);
    m_goToStart->setVisible(c.bitBtn3Visible);
    m_settings->setEnabled(c.bitBtnSettings && !m_settingsLocked);
    m_settings->setVisible(c.bitBtnSettingsVisible);
    m_exit->setEnabled(c.bitBtnExit);
    m_editSymbols->setEnabled(c.bitBtnEditSymbolList);
    m_logos->setEnabled(c.bitBtnLogos);
    m_templates->setEnabled(c.comboBoxTemplates);
    m_templateSave->setEnabled(c.templateSave);
    m_templateLoad->setEnabled(c.templateLoad);
    m_templateClose->setEnabled(c.templateClose);
    for (QPushButton* b : m_standby)
        b->setEnabled(c.gotoStandby);
    for (QPushButton* b : m_focusLcr)
        b->setEnabled(c.focusLeftCenterRight);
    m_setFocus->setEnabled(c.setFocus);
    m_taskUp->setEnabled(c.taskUp);
    m_taskDown->setEnabled(c.taskDown);
    m_delTask->setEnabled(c.delTask);
    m_circleSet->setEnabled(c.circleSet);
    m_circleGoto->setEnabled(c.circleGoto);
    m_circleClear->setEnabled(c.circleClear);
    m_shootTrain->setEnabled(c.shootPulses);
    m_shootOne->setEnabled(c.shootPulses);
    m_autoInc->setChecked(c.autoIncChecked);
    m_autoInc->setEnabled(c.autoIncEnabled);
    m_codeAutoInc->setChecked(c.autoIncChecked);
    m_codeAutoInc->setEnabled(c.autoIncEnabled);
    m_overlay->setChecked(st.ShowOverlay);
    m_zoomOut->setChecked(st.ZoomOut);
    m_grid->setChecked(st.ShowGrid);

    const TStation::TCirclePoint points[] = {TStation::TCirclePoint::Left, TStation::TCirclePoint::Right,
                                             TStation::TCirclePoint::Top, TStation::TCirclePoint::Bottom};
    for (int i = 0; i < 4; ++i)
        m_circlePointLabel[i]->setText(st.circlePointText(points[i]));
    m_circleX->setText(st.circleCenterXText());
    m_circleY->setText(st.circleCenterYText());

    // Templates.
    const QStringList items = st.ComboBoxTemplatesItems();
    QStringList shown;
    for (int i = 0; i < m_templates->count(); ++i)
        shown << m_templates->itemText(i);
    if (shown != items) {
        m_templates->clear();
        m_templates->addItems(items);
    }
    if (m_templates->currentIndex() != st.templateIndex())
        m_templates->setCurrentIndex(st.templateIndex());

    refreshTree();
    refreshPanel();
    refreshEdits();
    m_refreshing = false;
}

void TfrmMain::refreshEdits()
{
    for (const EditBinding& b : m_edits) {
        const TEditText& e = m_station->edit(b.box);
        setTextKeepingCursor(b.edit, e.text);
        showRefused(b.edit, e.refused);
        if (b.mm)
            b.mm->setText(m_station->millimetreDisplay(b.box));
    }
}

void TfrmMain::refreshTree()
{
    if (!m_treeDirty)
        return;
    m_treeDirty = false;
    TLabelTree& tree = m_station->TreeViewGlyphs();
    m_tree->blockSignals(true);
    m_tree->clear();
    QTreeWidgetItem* selected = nullptr;
    const std::function<void(TTreeNode*, QTreeWidgetItem*)> add = [&](TTreeNode* node, QTreeWidgetItem* parent) {
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_tree);
        item->setText(0, node->Text());
        item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(node)));
        if (node == tree.Selected())
            selected = item;
        for (int i = 0; i < node->Count(); ++i)
            add(node->Item(i), item);
        item->setExpanded(node->Expanded());
    };
    for (int i = 0; i < tree.RootCount(); ++i)
        add(tree.Root(i), nullptr);
    if (selected)
        m_tree->setCurrentItem(selected);
    m_tree->blockSignals(false);
}

void TfrmMain::refreshPanel()
{
    const TStation& st = *m_station;
    const TStationControls& c = st.controls();
    const int page = static_cast<int>(c.panel);
    if (m_panels->currentIndex() != page)
        m_panels->setCurrentIndex(page);
    m_panels->setEnabled(c.propertyPanels);
    setComboText(m_richFont, st.RichSelectionFont.isEmpty() ? st.DefaultRichEditFont : st.RichSelectionFont);
    m_richStyle->setCurrentIndex(st.RichSelectionStyle >= 0 ? st.RichSelectionStyle : -1);
    if (!m_textLabel->hasFocus() && m_textLabel->text() != st.TextLabel)
        m_textLabel->setText(st.TextLabel);
    m_textLabel->setReadOnly(c.runControlsReadOnly);
    setComboText(m_textFont, st.TextLabelFont);
    m_textStyle->setCurrentIndex(styleCode(st.TextLabelStyle));
    m_symbolPreview->setText(st.DefaultSymbolList);
    QFont f(st.SymbolListFont);
    f.setBold(st.SymbolListStyle.testFlag(fsBold));
    f.setItalic(st.SymbolListStyle.testFlag(fsItalic));
    m_symbolPreview->setFont(f);
    // A logo that is not in the folder shows as none rather than as another one.
    if (m_logoList->findText(st.DefaultLogoName) < 0)
        m_logoList->setCurrentIndex(-1);
    else
        setComboText(m_logoList, st.DefaultLogoName);
    m_gamma->setValue(int(std::lround(st.PhotoGamma * 10)));
    for (QComboBox* combo : m_markingStatus)
        combo->setCurrentIndex(st.MarkingStatusIndex());
    // The code's fields; a field being typed into keeps what the operator typed.
    if (!m_codeContent->hasFocus() && m_codeContent->text() != st.CodeContent)
        m_codeContent->setText(st.CodeContent);
    m_codeKind->setCurrentIndex(m_codeKind->findData(int(st.CodeSymbology)));
    m_codeMarking->setCurrentIndex(m_codeMarking->findData(int(st.CodeModuleMarking)));
    if (!m_codeModule->hasFocus())
        m_codeModule->setValue(st.CodeModuleUm);
    if (!m_codeQuiet->hasFocus())
        m_codeQuiet->setValue(st.CodeQuietModules);
    if (!m_codeOffset->hasFocus())
        m_codeOffset->setValue(st.CodeOffset * 100);
    m_codeScanned->setChecked(st.CodeFromScannedCode);
    m_codeInfo->setText(st.CodePanelInfo());
}

// --- label editing ------------------------------------------------------------------------------

void TfrmMain::treeSelectionChanged()
{
    QTreeWidgetItem* item = m_tree->currentItem();
    auto* node = item ? reinterpret_cast<TTreeNode*>(item->data(0, Qt::UserRole).value<quintptr>()) : nullptr;
    TLabelTree& tree = m_station->TreeViewGlyphs();
    tree.setSelected(node);
    m_treeDirty = false; // the view already shows this selection
    m_station->TreeViewGlyphsChange(node);
    // The logo folder may have changed since the list was filled (the logo editor, a copy).
    if (m_station->controls().panel == TPropertyPanel::Logo)
        reloadLogoList();
    afterCommand();
}

void TfrmMain::richTextChanged()
{
    if (m_inRichChange)
        return;
    m_inRichChange = true;
    m_station->GlyphPropertiesChange();
    m_inRichChange = false;
    afterCommand();
}

void TfrmMain::richSelectionChanged()
{
    m_station->RichEditGlyphLabel().setTextCursor(m_richEdit->textCursor());
    m_station->RichEditGlyphLabelSelectionChange();
    if (!m_refreshing)
        refreshPanel();
}

void TfrmMain::richContextMenu(const QPoint& pos)
{
    QMenu menu(this);
    const bool selection = m_richEdit->textCursor().hasSelection();
    const bool text = !m_richEdit->document()->isEmpty();
    QAction* cut = menu.addAction(QStringLiteral("Cu&t"), QKeySequence(Qt::CTRL | Qt::Key_X), m_richEdit, &QTextEdit::cut);
    QAction* copy = menu.addAction(QStringLiteral("&Copy"), QKeySequence(Qt::CTRL | Qt::Key_C), m_richEdit, &QTextEdit::copy);
    QAction* paste = menu.addAction(QStringLiteral("&Paste"), QKeySequence(Qt::CTRL | Qt::Key_V), m_richEdit, &QTextEdit::paste);
    QAction* del = menu.addAction(QStringLiteral("Delete"), QKeySequence(Qt::CTRL | Qt::Key_Delete), this,
                                  [this] { m_richEdit->textCursor().removeSelectedText(); });
    menu.addSeparator();
    QAction* all = menu.addAction(QStringLiteral("Select All"), QKeySequence(Qt::CTRL | Qt::Key_A), m_richEdit,
                                  &QTextEdit::selectAll);
    cut->setEnabled(selection);
    copy->setEnabled(selection);
    del->setEnabled(selection);
    all->setEnabled(text);
    paste->setEnabled(m_richEdit->canPaste());
    menu.exec(m_richEdit->mapToGlobal(pos));
}

// --- keys, wheel and drag -----------------------------------------------------------------------

TWheelControl TfrmMain::wheelControlAt(QObject* receiver) const
{
    for (auto* w = qobject_cast<QWidget*>(receiver); w; w = w->parentWidget()) {
        if (w == m_girdleBox)
            return TWheelControl::Girdle;
        if (w == m_slantBox)
            return TWheelControl::Slant;
        if (w == m_video)
            return TWheelControl::Video;
        for (int i = 0; i < 4; ++i)
            if (w == m_jogPanel[i])
                return i == 0 ? TWheelControl::JogX
                              : (i == 1 ? TWheelControl::JogY : (i == 2 ? TWheelControl::JogZ : TWheelControl::JogA));
        if (w == this)
            break;
    }
    return TWheelControl::None;
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::Wheel)
        return QWidget::eventFilter(watched, event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget)
        return QWidget::eventFilter(watched, event);
    if (widget->window() != this) {
        // Esc is the operator's stop key: during a run it aborts the run whichever of the
        // station's windows is in front. The window still sees the key, so that a wait
        // window in front ends its wait as well.
        if (type == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape
            && m_station->AIMState == TAIMState::aimsMarking && watched == QApplication::focusWidget()) {
            m_station->KeyEsc();
            refreshControls();
        }
        return QWidget::eventFilter(watched, event);
    }

    if (type == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const int delta = wheel->angleDelta().y();
        const TWheelControl control = wheelControlAt(watched);
        if (delta == 0 || control == TWheelControl::None)
            return false;
        const bool used = m_station->MouseWheel(control, delta > 0 ? 1 : -1, wheel->modifiers());
        if (used)
            afterCommand();
        return used || control != TWheelControl::Video;
    }

    // A key the focused control leaves goes on to its parents; the station sees it once.
    QWidget* focus = QApplication::focusWidget();
    if (watched != (focus ? focus : this))
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (type == QEvent::KeyRelease) {
        if (!key->isAutoRepeat())
            m_station->KeyUp(key->key());
        return false;
    }
    // The label editor takes one line: Enter never reaches it.
    if (watched == m_richEdit && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter))
        return true;
    const bool swallowed = m_station->KeyDown(key->key(), key->modifiers(), keyFocusOf(focus));
    if (swallowed)
        afterCommand();
    return swallowed;
}

TKeyFocus TfrmMain::keyFocusOf(const QWidget* focus) const
{
    if (!focus)
        return TKeyFocus::Jog;
    if (focus == m_richEdit)
        return TKeyFocus::LabelEditor;
    // The label tree jogs: its arrows would change the glyph on show behind the operator's back.
    if (focus == m_tree)
        return TKeyFocus::Jog;
    if (qobject_cast<const QLineEdit*>(focus) || qobject_cast<const QAbstractSpinBox*>(focus)
        || qobject_cast<const QTextEdit*>(focus) || qobject_cast<const QPlainTextEdit*>(focus))
        return TKeyFocus::Text;
    if (qobject_cast<const QComboBox*>(focus) || qobject_cast<const QAbstractItemView*>(focus)
        || qobject_cast<const QAbstractSlider*>(focus))
        return TKeyFocus::List;
    return TKeyFocus::Jog;
}

void TfrmMain::dragPicture(QPointF from, QPointF to)
{
    const TXYTransform& camera = m_videoTransform.transform();
    const TCoord ma = camera.TransFormCoordBack(Coord(from.x(), from.y()));
    const TCoord mb = camera.TransFormCoordBack(Coord(to.x(), to.y()));
    m_station->DragPicture(ma.X, ma.Y, mb.X, mb.Y);
}

void TfrmMain::snapshot()
{
    if (!m_camera || !m_camera->IsPresent())
        return;
    const auto file = operatorDialogs().chooseSaveFile(tr("Snapshot"), QString(), QStringLiteral("JPEG Files (*.jpg)|*.jpg"));
    if (file)
        m_camera->SaveToFile(*file);
}

void TfrmMain::focusTarget(TFocusTarget target)
{
    QWidget* w = target == TFocusTarget::Abort ? static_cast<QWidget*>(m_abort) : static_cast<QWidget*>(m_reset);
    // The station asks before the window has copied the new states; the control is usable now.
    w->setEnabled(true);
    w->setFocus(Qt::OtherFocusReason);
}

} // namespace lapido
