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
#include "records/lapidographdb.h"
#include "platform/eventpump.h"
#include "platform/operatordialogs.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"
#include "ui/main/previewswitch.h"
#include "ui/main/videopanel.h"
#include "workflow/starttf.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QClipboard>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cmath>

namespace lapido {

namespace {

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

const QColor kSilver(192, 192, 192);
const QColor kLime(0, 255, 0);
const QColor kGrey(128, 128, 128);

void setTextColour(QWidget* w, const QColor& colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::Text, colour);
    w->setPalette(p);
}

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

QPushButton* button(const QString& caption, QWidget* parent, const QString& hint = {})
{
    auto* b = new QPushButton(caption, parent);
    if (!hint.isEmpty())
        b->setToolTip(hint);
    b->setFocusPolicy(Qt::StrongFocus);
    return b;
}

const QStringList& styleNames()
{
    static const QStringList names{QStringLiteral("Regular"), QStringLiteral("Italic"), QStringLiteral("Bold"),
                                   QStringLiteral("Italic Bold")};
    return names;
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
    services.startCompanion = TStartTF::launcher();
    services.lightTemplate = [](const QString& name) { TLedsRGB::GetInstance().LoadLedsTemplate(name); };
    services.lightRotate = [](bool plus) {
        plus ? TLedsRGB::GetInstance().DirectRotatePlus() : TLedsRGB::GetInstance().DirectRotateMoins();
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

    buildUi();
    connectTimers();

    if (!DebugMode()) {
        setWindowFlag(Qt::FramelessWindowHint, true);
        move(0, 0);
        m_debugPanel->hide();
    }
    if (m_camera->IsPresent()) {
        m_brightness->setValue(int(std::lround(m_camera->GetBrightness())));
        m_contrast->setValue(int(std::lround(m_camera->GetContrast())));
    }
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
    if (m_camera && m_camera->IsPresent()) {
        m_brightness->setValue(int(std::lround(m_camera->GetBrightness())));
        m_contrast->setValue(int(std::lround(m_camera->GetContrast())));
    }
}

QLineEdit* TfrmMain::bindEdit(TEditBox box, QLabel* mm)
{
    static const char* const names[] = {
        "EditDiam", "EditGirdle", "EditSlant", "EditGlyphLabelHeight", "EditGlyphLabelOffset",
        "EditGlyphLabelSpacing", "EditGlyphTextHeight", "EditGlyphTextOffset", "EditGlyphTextSpacing",
        "EditGlyphSymbolsHeight", "EditGlyphSymbolsOffset", "EditGlyphSymbolsSpacing", "EditGlyphSpaceWidth",
        "EditGlyphLogoHeight", "EditGlyphLogoOffset", "EditGlyphPhotoHeight", "EditGlyphPhotoOffset",
        "Edit_PulseTrainRate", "EditGrid"};
    static_assert(std::size(names) == static_cast<size_t>(TEditBox::Count));
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::fromLatin1(names[static_cast<size_t>(box)]));
    edit->setMaximumWidth(70);
    connect(edit, &QLineEdit::textEdited, this, [this, box](const QString& text) {
        m_station->EditFloatChange(box, text);
        afterCommand();
    });
    m_edits.push_back(EditBinding{box, edit, mm});
    return edit;
}

void TfrmMain::buildUi()
{
    auto* top = new QHBoxLayout(this);
    top->setContentsMargins(4, 4, 4, 4);

    auto* left = new QVBoxLayout;
    m_video = new TVideoPanel(m_imageBuffer, this);
    m_video->setFixedSize(kVideoBufferWidth, kVideoBufferHeight);
    m_video->setObjectName(QStringLiteral("PaintBoxVideo"));
    m_video->onDrag = [this](QPoint from, QPoint to) { dragPicture(from, to); };
    left->addWidget(m_video);
    m_progress = new QLabel(this);
    m_progress->setObjectName(QStringLiteral("LabelProgress"));
    left->addWidget(m_progress);
    m_rollDown = buildRollDownPanel();
    m_rollDown->hide();
    m_rollDown->setObjectName(QStringLiteral("PanelRollDown"));
    left->addWidget(m_rollDown);
    left->addStretch();
    top->addLayout(left);

    auto* right = new QVBoxLayout;
    right->addWidget(buildPositionPanel());
    right->addWidget(buildAimPanel());
    right->addWidget(buildStonePanel());
    right->addWidget(buildTreePanel());
    right->addWidget(buildPropertyPanels());
    right->addWidget(buildTemplatePanel());
    right->addWidget(buildPositioningPanel());
    m_debugPanel = buildDebugPanel();
    m_debugPanel->setObjectName(QStringLiteral("PanelDebug"));
    right->addWidget(m_debugPanel);
    right->addStretch();
    top->addLayout(right);
}

QWidget* TfrmMain::buildPositionPanel()
{
    auto* box = new QFrame(this);
    box->setAutoFillBackground(true);
    QPalette p = box->palette();
    p.setColor(QPalette::Window, Qt::black);
    box->setPalette(p);
    auto* grid = new QGridLayout(box);
    const char* names[] = {"X", "Y", "Z", "A"};
    for (int i = 0; i < 4; ++i) {
        auto* panel = new QFrame(box);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setLineWidth(2);
        panel->setAttribute(Qt::WA_Hover);
        auto* row = new QHBoxLayout(panel);
        m_axisName[i] = new QLabel(QString::fromLatin1(names[i]), panel);
        m_axisValue[i] = new QLabel(QStringLiteral("0.000"), panel);
        m_axisValue[i]->setMinimumWidth(90);
        m_axisValue[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        QFont f = m_axisValue[i]->font();
        f.setPointSize(f.pointSize() + 6);
        f.setBold(true);
        m_axisValue[i]->setFont(f);
        m_axisUnit[i] = new QLabel(i == 3 ? tr("deg") : tr("mm"), panel);
        row->addWidget(m_axisName[i]);
        row->addWidget(m_axisValue[i]);
        row->addWidget(m_axisUnit[i]);
        setTextColour(m_axisName[i], kSilver);
        setTextColour(m_axisValue[i], kLime);
        setTextColour(m_axisUnit[i], kSilver);
        panel->setToolTip(tr("Mouse wheel: jog %1").arg(QString::fromLatin1(names[i])));
        panel->setObjectName(QStringLiteral("JogPanel") + QString::fromLatin1(names[i]));
        m_jogPanel[i] = panel;
        grid->addWidget(panel, i, 0, 1, 2);
    }
    auto* wName = new QLabel(QStringLiteral("W"), box);
    m_wCount = new QLabel(QStringLiteral("0"), box);
    auto* fName = new QLabel(tr("Focus"), box);
    m_focusHeight = new QLabel(QStringLiteral("0.000"), box);
    auto* eName = new QLabel(tr("Encoder X"), box);
    m_encoderX = new QLabel(QStringLiteral("0.000"), box);
    for (QLabel* l : {wName, fName, eName})
        setTextColour(l, kSilver);
    for (QLabel* l : {m_wCount, m_focusHeight, m_encoderX})
        setTextColour(l, kLime);
    grid->addWidget(wName, 4, 0);
    grid->addWidget(m_wCount, 4, 1);
    grid->addWidget(fName, 5, 0);
    grid->addWidget(m_focusHeight, 5, 1);
    grid->addWidget(eName, 6, 0);
    grid->addWidget(m_encoderX, 6, 1);
    return box;
}

QWidget* TfrmMain::buildAimPanel()
{
    auto* box = new QWidget(this);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    auto makeSpeed = [box](const QString& caption, const QString& hint) {
        auto* b = new QToolButton(box);
        b->setText(caption);
        b->setToolTip(hint);
        b->setCheckable(true);
        b->setAutoExclusive(true);
        b->setMinimumSize(90, 40);
        b->setFocusPolicy(Qt::StrongFocus);
        return b;
    };
    m_align = makeSpeed(QStringLiteral("Aling"), QStringLiteral("Align Label"));
    m_inspect = makeSpeed(QStringLiteral("Inspect"), QStringLiteral("Inspect Label"));
    m_mark = makeSpeed(QStringLiteral("Engrave (F9)"), QStringLiteral("Engrave Label"));
    m_align->setChecked(true);
    m_align->setObjectName(QStringLiteral("SpeedButtonAlign"));
    m_inspect->setObjectName(QStringLiteral("SpeedButtonInspect"));
    m_mark->setObjectName(QStringLiteral("SpeedButtonMark"));
    m_abort = button(QStringLiteral("Abort (Esc)"), box, QStringLiteral("Stop engraving"));
    m_reset = button(QString(), box);
    m_goToStart = button(QString(), box);
    m_settings = button(QStringLiteral("Settings"), box);
    m_exit = button(QStringLiteral("Exit"), box);
    m_rollDownButton = button(QStringLiteral("Video"), box);
    m_rollDownButton->setCheckable(true);
    m_abort->setObjectName(QStringLiteral("BitBtnAbort"));
    m_reset->setObjectName(QStringLiteral("BitBtnReset"));
    m_goToStart->setObjectName(QStringLiteral("BitBtn3"));
    m_settings->setObjectName(QStringLiteral("BitBtnSettings"));
    m_exit->setObjectName(QStringLiteral("BitBtnExit"));
    m_rollDownButton->setObjectName(QStringLiteral("SpeedButtonRollDown"));
    grid->addWidget(m_align, 0, 0);
    grid->addWidget(m_inspect, 0, 1);
    grid->addWidget(m_mark, 0, 2);
    grid->addWidget(m_abort, 1, 0);
    grid->addWidget(m_reset, 1, 1);
    grid->addWidget(m_goToStart, 1, 2);
    grid->addWidget(m_settings, 2, 0);
    grid->addWidget(m_rollDownButton, 2, 1);
    grid->addWidget(m_exit, 2, 2);

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
    return box;
}

QWidget* TfrmMain::buildStonePanel()
{
    auto* box = new QWidget(this);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    auto spinPair = [box](QToolButton*& up, QToolButton*& down) {
        up = new QToolButton(box);
        up->setArrowType(Qt::UpArrow);
        down = new QToolButton(box);
        down->setArrowType(Qt::DownArrow);
        auto* col = new QVBoxLayout;
        col->setSpacing(0);
        col->addWidget(up);
        col->addWidget(down);
        return col;
    };
    m_girdleBox = new QGroupBox(tr("Girdle (mm)"), box);
    auto* g = new QHBoxLayout(m_girdleBox);
    g->addWidget(bindEdit(TEditBox::EditGirdle));
    g->addLayout(spinPair(m_girdleUp, m_girdleDown));
    m_slantBox = new QGroupBox(tr("Slant (deg)"), box);
    auto* s = new QHBoxLayout(m_slantBox);
    s->addWidget(bindEdit(TEditBox::EditSlant));
    s->addLayout(spinPair(m_slantUp, m_slantDown));
    auto* diam = new QGroupBox(tr("Shape"), box);
    auto* d = new QHBoxLayout(diam);
    m_round = new QRadioButton(tr("Round"), diam);
    d->addWidget(m_round);
    d->addWidget(bindEdit(TEditBox::EditDiam));
    row->addWidget(m_girdleBox);
    row->addWidget(m_slantBox);
    row->addWidget(diam);

    auto step = [this](void (TStation::*op)()) {
        (m_station.get()->*op)();
        afterCommand();
    };
    connect(m_girdleUp, &QToolButton::clicked, this, [step] { step(&TStation::SpinButtonSizeUpClick); });
    connect(m_girdleDown, &QToolButton::clicked, this, [step] { step(&TStation::SpinButtonSizeDownClick); });
    connect(m_slantUp, &QToolButton::clicked, this, [step] { step(&TStation::SpinButtonSlantUpClick); });
    connect(m_slantDown, &QToolButton::clicked, this, [step] { step(&TStation::SpinButtonSlantDownClick); });
    return box;
}

QWidget* TfrmMain::buildTreePanel()
{
    auto* box = new QWidget(this);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    m_tree = new QTreeWidget(box);
    m_tree->setHeaderHidden(true);
    m_tree->setObjectName(QStringLiteral("TreeViewGlyphs"));
    m_tree->setMinimumHeight(150);
    row->addWidget(m_tree, 1);
    auto* buttons = new QVBoxLayout;
    const QString captions[] = {QStringLiteral("Add Label"), QStringLiteral("Add Text"),  QStringLiteral("Add Symbols"),
                                QStringLiteral("Add Space"), QStringLiteral("Add Logo"), QStringLiteral("Add Picture")};
    for (int i = 0; i < 6; ++i) {
        m_add[i] = button(captions[i], box);
        buttons->addWidget(m_add[i]);
    }
    m_taskUp = button(QStringLiteral("Move Object Up"), box);
    m_taskDown = button(QStringLiteral("Move Object Down"), box);
    m_delTask = button(QStringLiteral("Delete Object"), box);
    for (QPushButton* b : {m_taskUp, m_taskDown, m_delTask})
        buttons->addWidget(b);
    row->addLayout(buttons);

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
    connect(m_taskUp, &QPushButton::clicked, this, [op] { op(&TStation::BitBtnTaskUpClick); });
    connect(m_taskDown, &QPushButton::clicked, this, [op] { op(&TStation::BitBtnTaskDownClick); });
    connect(m_delTask, &QPushButton::clicked, this, [op] { op(&TStation::BitBtnDelTaskClick); });
    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this] { treeSelectionChanged(); });
    return box;
}

QWidget* TfrmMain::buildPropertyPanels()
{
    m_panels = new QStackedWidget(this);
    m_panels->addWidget(new QWidget(m_panels)); // no glyph selected

    auto heightOffsetSpacing = [this](QGridLayout* grid, int row, TEditBox h, TEditBox o, TEditBox s) {
        auto* hmm = new QLabel(this);
        auto* omm = new QLabel(this);
        grid->addWidget(new QLabel(tr("Height %"), this), row, 0);
        grid->addWidget(bindEdit(h, hmm), row, 1);
        grid->addWidget(hmm, row, 2);
        grid->addWidget(new QLabel(tr("Offset %"), this), row + 1, 0);
        grid->addWidget(bindEdit(o, omm), row + 1, 1);
        grid->addWidget(omm, row + 1, 2);
        if (s != TEditBox::Count) {
            grid->addWidget(new QLabel(tr("Spacing %"), this), row + 2, 0);
            grid->addWidget(bindEdit(s), row + 2, 1);
        }
    };
    auto markingStatus = [this](QGridLayout* grid, int row, int which) {
        auto* combo = new QComboBox(this);
        combo->addItems({tr("Not processed"), tr("Processed")});
        grid->addWidget(new QLabel(tr("Marking status"), this), row, 0);
        grid->addWidget(combo, row, 1, 1, 2);
        connect(combo, &QComboBox::activated, this, [this](int index) {
            m_station->MarkingStatusChange(index);
            afterCommand();
        });
        m_markingStatus[which] = combo;
    };
    auto fontLists = [this](QGridLayout* grid, int row, QComboBox*& font, QComboBox*& style) {
        font = new QComboBox(this);
        style = new QComboBox(this);
        style->addItems(styleNames());
        grid->addWidget(font, row, 0, 1, 2);
        grid->addWidget(style, row, 2);
    };

    // Label.
    {
        auto* g = new QGroupBox(QStringLiteral("Label properties"), m_panels);
        auto* grid = new QGridLayout(g);
        m_richEdit = new QTextEdit(g);
        m_richEdit->setDocument(&m_station->RichEditGlyphLabel().document());
        m_richEdit->setMaximumHeight(60);
        m_richEdit->setObjectName(QStringLiteral("RichEditGlyphLabel"));
        m_richEdit->setContextMenuPolicy(Qt::CustomContextMenu);
        m_richEdit->installEventFilter(this);
        grid->addWidget(m_richEdit, 0, 0, 1, 3);
        fontLists(grid, 1, m_richFont, m_richStyle);
        heightOffsetSpacing(grid, 2, TEditBox::EditGlyphLabelHeight, TEditBox::EditGlyphLabelOffset,
                            TEditBox::EditGlyphLabelSpacing);
        m_autoInc = new QCheckBox(QStringLiteral("On Reset"), g);
        m_incLabel = button(QStringLiteral("ABC++"), g);
        grid->addWidget(m_autoInc, 5, 0);
        grid->addWidget(m_incLabel, 5, 1);
        auto* characterMap = button(tr("Symbols..."), g);
        characterMap->setObjectName(QStringLiteral("BitBtnCharacterMap"));
        grid->addWidget(characterMap, 5, 2);
        connect(characterMap, &QPushButton::clicked, this, &TfrmMain::characterMapRequested);
        connect(&m_station->RichEditGlyphLabel().document(), &QTextDocument::contentsChanged, this, [this] { richTextChanged(); });
        connect(m_richEdit, &QTextEdit::cursorPositionChanged, this, [this] { richSelectionChanged(); });
        connect(m_richEdit, &QTextEdit::selectionChanged, this, [this] { richSelectionChanged(); });
        connect(m_richEdit, &QTextEdit::customContextMenuRequested, this, &TfrmMain::richContextMenu);
        connect(m_richFont, &QComboBox::activated, this, [this](int) {
            m_station->GlyphRichFontChange(m_richFont->currentText());
            afterCommand();
        });
        connect(m_richStyle, &QComboBox::activated, this, [this](int index) {
            m_station->GlyphRichStyleChange(index);
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
        m_panels->addWidget(g);
    }
    // Text.
    {
        auto* g = new QGroupBox(QStringLiteral("Text properties"), m_panels);
        auto* grid = new QGridLayout(g);
        m_textLabel = new QLineEdit(g);
        grid->addWidget(m_textLabel, 0, 0, 1, 3);
        fontLists(grid, 1, m_textFont, m_textStyle);
        heightOffsetSpacing(grid, 2, TEditBox::EditGlyphTextHeight, TEditBox::EditGlyphTextOffset,
                            TEditBox::EditGlyphTextSpacing);
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
        m_panels->addWidget(g);
    }
    // Symbol list.
    {
        auto* g = new QGroupBox(QStringLiteral("Symbol list properties"), m_panels);
        auto* grid = new QGridLayout(g);
        m_symbolPreview = new QLabel(g);
        m_symbolPreview->setMinimumHeight(30);
        m_editSymbols = button(QStringLiteral("Edit Symbols"), g);
        grid->addWidget(m_symbolPreview, 0, 0, 1, 2);
        grid->addWidget(m_editSymbols, 0, 2);
        heightOffsetSpacing(grid, 1, TEditBox::EditGlyphSymbolsHeight, TEditBox::EditGlyphSymbolsOffset,
                            TEditBox::EditGlyphSymbolsSpacing);
        connect(m_editSymbols, &QPushButton::clicked, this, &TfrmMain::symbolsRequested);
        m_panels->addWidget(g);
    }
    // Character.
    {
        auto* g = new QGroupBox(QStringLiteral("Character properties"), m_panels);
        auto* grid = new QGridLayout(g);
        markingStatus(grid, 0, 0);
        auto* save = button(QStringLiteral("Save As Logo"), g);
        grid->addWidget(save, 1, 0);
        connect(save, &QPushButton::clicked, this, [this] {
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
        m_panels->addWidget(g);
    }
    // Space.
    {
        auto* g = new QGroupBox(QStringLiteral("Space properties"), m_panels);
        auto* grid = new QGridLayout(g);
        auto* mm = new QLabel(g);
        grid->addWidget(new QLabel(tr("Width %"), g), 0, 0);
        grid->addWidget(bindEdit(TEditBox::EditGlyphSpaceWidth, mm), 0, 1);
        grid->addWidget(mm, 0, 2);
        m_panels->addWidget(g);
    }
    // Logo.
    {
        auto* g = new QGroupBox(QStringLiteral("Logo properties"), m_panels);
        auto* grid = new QGridLayout(g);
        m_logoList = new QComboBox(g);
        m_logos = button(QStringLiteral("Logo editor"), g);
        grid->addWidget(m_logoList, 0, 0, 1, 2);
        grid->addWidget(m_logos, 0, 2);
        heightOffsetSpacing(grid, 1, TEditBox::EditGlyphLogoHeight, TEditBox::EditGlyphLogoOffset, TEditBox::Count);
        markingStatus(grid, 3, 1);
        connect(m_logoList, &QComboBox::activated, this, [this](int) {
            m_station->DefaultLogoName = m_logoList->currentText();
            m_station->GlyphPropertiesChange();
            afterCommand();
        });
        connect(m_logos, &QPushButton::clicked, this, &TfrmMain::logoEditorRequested);
        m_panels->addWidget(g);
    }
    // Photo.
    {
        auto* g = new QGroupBox(QStringLiteral("Photo properties"), m_panels);
        auto* grid = new QGridLayout(g);
        auto* load = button(QStringLiteral("Load Picture"), g);
        auto* preview = button(tr("Preview"), g);
        grid->addWidget(load, 0, 0);
        grid->addWidget(preview, 0, 1);
        heightOffsetSpacing(grid, 1, TEditBox::EditGlyphPhotoHeight, TEditBox::EditGlyphPhotoOffset, TEditBox::Count);
        grid->addWidget(new QLabel(QStringLiteral("Image correction"), g), 3, 0);
        m_gamma = new QSlider(Qt::Horizontal, g);
        m_gamma->setRange(1, 30);
        m_gamma->setValue(10);
        grid->addWidget(m_gamma, 3, 1, 1, 2);
        markingStatus(grid, 4, 2);
        connect(load, &QPushButton::clicked, this, [this] {
            const auto file = operatorDialogs().chooseOpenFile(tr("Load Picture"), m_station->PhotoDir(),
                                                               QStringLiteral("Bitmaps (*.bmp)|*.bmp"));
            if (file)
                m_station->LoadPhotoFile(*file);
            afterCommand();
        });
        connect(preview, &QPushButton::clicked, this, &TfrmMain::previewRequested);
        connect(m_gamma, &QSlider::valueChanged, this, [this](int position) {
            if (m_refreshing)
                return;
            m_station->PhotoGamma = position / 10.0;
            m_station->GlyphPropertiesChange();
            emit photoGammaChanged(m_station->PhotoGamma);
            afterCommand();
        });
        m_panels->addWidget(g);
    }
    return m_panels;
}

QWidget* TfrmMain::buildPositioningPanel()
{
    auto* box = new QWidget(this);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    const QString lcr[] = {QStringLiteral("Left"), QStringLiteral("Center"), QStringLiteral("Right")};
    const TStation::TLabelEnd ends[] = {TStation::TLabelEnd::Left, TStation::TLabelEnd::Center,
                                        TStation::TLabelEnd::Right};
    for (int i = 0; i < 3; ++i) {
        m_focusLcr[i] = button(lcr[i], box);
        grid->addWidget(m_focusLcr[i], 0, i);
        connect(m_focusLcr[i], &QPushButton::clicked, this, [this, end = ends[i]] {
            m_station->BitBtnGotoLabelLeftCenterOrRightClick(end);
            afterCommand();
        });
        m_standby[i] = button(QStringLiteral("Goto Standby %1").arg(i + 1), box);
        grid->addWidget(m_standby[i], 1, i);
        connect(m_standby[i], &QPushButton::clicked, this, [this, i] {
            m_station->BitBtnGotoClick(i + 1);
            afterCommand();
        });
    }
    m_setFocus = button(QStringLiteral("Set Focus"), box);
    grid->addWidget(m_setFocus, 0, 3);
    connect(m_setFocus, &QPushButton::clicked, this, [this] {
        m_station->BitBtnFocusClick();
        afterCommand();
    });

    auto* circle = new QGroupBox(tr("Circle centre"), box);
    auto* cg = new QGridLayout(circle);
    const QString points[] = {tr("Left"), tr("Right"), tr("Top"), tr("Bottom"), tr("Centre")};
    const TStation::TCirclePoint which[] = {TStation::TCirclePoint::Left, TStation::TCirclePoint::Right,
                                            TStation::TCirclePoint::Top, TStation::TCirclePoint::Bottom,
                                            TStation::TCirclePoint::Center};
    for (int i = 0; i < 5; ++i) {
        m_circleRadio[i] = new QRadioButton(points[i], circle);
        cg->addWidget(m_circleRadio[i], i, 0);
        if (i < 4) {
            m_circlePointLabel[i] = new QLabel(circle);
            cg->addWidget(m_circlePointLabel[i], i, 1);
        }
        connect(m_circleRadio[i], &QRadioButton::clicked, this, [this, p = which[i]] {
            m_station->RadioButton_CircleClick(p);
            afterCommand();
        });
    }
    m_circleX = new QLineEdit(circle);
    m_circleY = new QLineEdit(circle);
    m_circleX->setReadOnly(true);
    m_circleY->setReadOnly(true);
    auto* centre = new QHBoxLayout;
    centre->addWidget(m_circleX);
    centre->addWidget(m_circleY);
    cg->addLayout(centre, 4, 1);
    m_circleSet = button(tr("Set"), circle);
    m_circleGoto = button(tr("Goto"), circle);
    m_circleClear = button(tr("Clear"), circle);
    auto* cb = new QHBoxLayout;
    cb->addWidget(m_circleSet);
    cb->addWidget(m_circleGoto);
    cb->addWidget(m_circleClear);
    cg->addLayout(cb, 5, 0, 1, 2);
    auto op = [this](void (TStation::*f)()) {
        (m_station.get()->*f)();
        afterCommand();
    };
    connect(m_circleSet, &QPushButton::clicked, this, [op] { op(&TStation::ButtonSetCenterClick); });
    connect(m_circleGoto, &QPushButton::clicked, this, [op] { op(&TStation::BitBtn_CircleGotoClick); });
    connect(m_circleClear, &QPushButton::clicked, this, [op] { op(&TStation::BitBtn_CircleClearClick); });
    grid->addWidget(circle, 2, 0, 1, 4);
    return box;
}

QWidget* TfrmMain::buildTemplatePanel()
{
    auto* g = new QGroupBox(QStringLiteral("Templates"), this);
    auto* row = new QHBoxLayout(g);
    m_templates = new QComboBox(g);
    m_templates->setMinimumWidth(150);
    m_templates->setObjectName(QStringLiteral("ComboBoxTemplates"));
    m_templateSave = button(QStringLiteral("Save"), g);
    m_templateLoad = button(QStringLiteral("Load"), g);
    m_templateClose = button(QStringLiteral("Close"), g);
    row->addWidget(m_templates, 1);
    row->addWidget(m_templateSave);
    row->addWidget(m_templateLoad);
    row->addWidget(m_templateClose);
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
    return g;
}

QWidget* TfrmMain::buildRollDownPanel()
{
    auto* panel = new QFrame(this);
    panel->setFrameStyle(QFrame::StyledPanel);
    auto* row = new QHBoxLayout(panel);

    auto* view = new QGroupBox(tr("Picture"), panel);
    auto* vg = new QGridLayout(view);
    m_overlay = new QCheckBox(QStringLiteral("Overlay (F2)"), view);
    m_zoomOut = new QCheckBox(QStringLiteral("Zoom out (F3)"), view);
    m_overlay->setObjectName(QStringLiteral("CheckBoxOverlay"));
    m_zoomOut->setObjectName(QStringLiteral("CheckBoxZoomOut"));
    auto* snapshotButton = button(QStringLiteral("Snapshot"), view);
    m_brightness = new QSlider(Qt::Horizontal, view);
    m_contrast = new QSlider(Qt::Horizontal, view);
    for (QSlider* s : {m_brightness, m_contrast}) {
        s->setRange(-50, 50);
        s->setTickInterval(10);
        s->setTickPosition(QSlider::TicksBelow);
    }
    auto* agc = new QGroupBox(QStringLiteral("AGC"), view);
    auto* ag = new QHBoxLayout(agc);
    m_agcOn = new QRadioButton(QStringLiteral("On"), agc);
    m_agcOff = new QRadioButton(QStringLiteral("Off"), agc);
    m_agcOn->setChecked(true);
    ag->addWidget(m_agcOn);
    ag->addWidget(m_agcOff);
    vg->addWidget(m_overlay, 0, 0);
    vg->addWidget(m_zoomOut, 0, 1);
    vg->addWidget(snapshotButton, 0, 2);
    vg->addWidget(new QLabel(tr("Brightness"), view), 1, 0);
    vg->addWidget(m_brightness, 1, 1, 1, 2);
    vg->addWidget(new QLabel(tr("Contrast"), view), 2, 0);
    vg->addWidget(m_contrast, 2, 1, 1, 2);
    vg->addWidget(agc, 3, 0, 1, 3);
    m_previewSwitch = new TPreviewSwitch(
        *m_station, [this] { return !static_cast<const QtEventPump*>(m_pump.get())->pumping(); }, view);
    vg->addWidget(m_previewSwitch->switchBox(), 4, 0);
    vg->addWidget(m_previewSwitch->timeLabel(), 4, 1, 1, 2);
    row->addWidget(view);

    auto* grid = new QGroupBox(tr("Grid"), panel);
    auto* gg = new QGridLayout(grid);
    m_grid = new QCheckBox(QStringLiteral("Enable (F4)"), grid);
    m_grid->setObjectName(QStringLiteral("CheckBoxGrid"));
    QToolButton* up = nullptr;
    QToolButton* down = nullptr;
    up = new QToolButton(grid);
    up->setArrowType(Qt::UpArrow);
    down = new QToolButton(grid);
    down->setArrowType(Qt::DownArrow);
    gg->addWidget(m_grid, 0, 0, 1, 2);
    gg->addWidget(bindEdit(TEditBox::EditGrid), 1, 0);
    auto* spin = new QVBoxLayout;
    spin->addWidget(up);
    spin->addWidget(down);
    gg->addLayout(spin, 1, 1);
    row->addWidget(grid);

    auto* pulses = new QGroupBox(tr("Pulses"), panel);
    auto* pg = new QGridLayout(pulses);
    m_pulseCount = new QSpinBox(pulses);
    m_pulseCount->setRange(1, 999);
    m_pulseDuration = new QSpinBox(pulses);
    m_pulseDuration->setRange(5, 500);
    auto* shootTrain = button(QStringLiteral("Shoot"), pulses);
    auto* shootOne = button(QStringLiteral("Shoot"), pulses);
    pg->addWidget(new QLabel(tr("Count"), pulses), 0, 0);
    pg->addWidget(m_pulseCount, 0, 1);
    pg->addWidget(new QLabel(tr("Rate (Hz)"), pulses), 1, 0);
    pg->addWidget(bindEdit(TEditBox::Edit_PulseTrainRate), 1, 1);
    pg->addWidget(shootTrain, 1, 2);
    pg->addWidget(new QLabel(tr("Duration (ms)"), pulses), 2, 0);
    pg->addWidget(m_pulseDuration, 2, 1);
    pg->addWidget(shootOne, 2, 2);
    row->addWidget(pulses);

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
    connect(up, &QToolButton::clicked, this, [this] {
        m_station->SpinButtonGridUpClick();
        afterCommand();
    });
    connect(down, &QToolButton::clicked, this, [this] {
        m_station->SpinButtonGridDownClick();
        afterCommand();
    });
    connect(snapshotButton, &QPushButton::clicked, this, &TfrmMain::snapshot);
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
    connect(shootTrain, &QPushButton::clicked, this, [this] {
        m_station->ButtonShootPulseTrainClick();
        afterCommand();
    });
    connect(shootOne, &QPushButton::clicked, this, [this] {
        m_station->ButtonSinglePulseClick();
        afterCommand();
    });
    return panel;
}

QWidget* TfrmMain::buildDebugPanel()
{
    auto* panel = new QGroupBox(tr("Debug"), this);
    auto* row = new QHBoxLayout(panel);
    auto* dmc = button(QStringLiteral("DMC"), panel);
    auto* clip = button(QStringLiteral("ClipBoard"), panel);
    auto* ecam = button(QStringLiteral("EcamStop"), panel);
    auto* home = button(QStringLiteral("Home"), panel);
    auto* stop = button(QStringLiteral("Stop"), panel);
    auto* exitButton = button(QStringLiteral("Exit"), panel);
    for (QPushButton* b : {dmc, clip, ecam, home, stop, exitButton})
        row->addWidget(b);
    connect(dmc, &QPushButton::clicked, this, &TfrmMain::manualCommandRequested);
    connect(clip, &QPushButton::clicked, this, &TfrmMain::clipboardRequested);
    connect(ecam, &QPushButton::clicked, this, [this] { m_station->DebugEcamStopClick(); });
    connect(home, &QPushButton::clicked, this, [this] {
        m_station->DebugHomeClick();
        afterCommand();
    });
    connect(stop, &QPushButton::clicked, this, [this] { m_station->DebugStopClick(); });
    connect(exitButton, &QPushButton::clicked, this, [this] {
        m_station->DebugExitClick();
        close();
    });
    return panel;
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
    m_videoOffset = lapido::VideoTimerTick(m_imageBuffer, m_camera.get(), *m_station, m_videoTransform, Settings(),
                                           m_video->size(), &m_labelLayer);
    if (m_previewSwitch)
        m_previewSwitch->paint(m_imageBuffer, m_videoTransform);
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
    refreshControls();
}

QString TfrmMain::progressText() const
{
    const TMarkingProgress& p = m_station->markingProgress();
    if (p.glyphCount == 0 && !p.running)
        return {};
    const std::int64_t ms = m_station->markingElapsedMs();
    const QString seconds = QStringLiteral("%1.%2").arg(ms / 1000).arg((ms % 1000) / 100);
    if (p.running)
        return tr("Engraving glyph %1 of %2, %3 s").arg(p.glyph).arg(p.glyphCount).arg(seconds);
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

    for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{m_add[0], m_add[1], m_add[2], m_add[3], m_add[4], m_add[5]})
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
    m_autoInc->setChecked(c.autoIncChecked);
    m_autoInc->setEnabled(c.autoIncEnabled);
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
    setComboText(m_logoList, st.DefaultLogoName);
    m_gamma->setValue(int(std::lround(st.PhotoGamma * 10)));
    for (QComboBox* combo : m_markingStatus)
        combo->setCurrentIndex(st.MarkingStatusIndex());
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
    refreshControls();
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
    if (!widget || widget->window() != this)
        return QWidget::eventFilter(watched, event);

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
    const bool swallowed = m_station->KeyDown(key->key(), key->modifiers());
    afterCommand();
    return swallowed;
}

void TfrmMain::dragPicture(QPoint from, QPoint to)
{
    const TXYTransform& camera = m_videoTransform.transform();
    const QPoint a = m_video->toBuffer(from);
    const QPoint b = m_video->toBuffer(to);
    const TCoord ma = camera.TransFormCoordBack(Coord(a.x(), a.y()));
    const TCoord mb = camera.TransFormCoordBack(Coord(b.x(), b.y()));
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
