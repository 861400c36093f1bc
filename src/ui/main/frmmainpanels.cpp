// The main window's controls: one builder per panel, and the arrangement of the panels on the
// screen. What the controls do is wired in frmmain.cpp.
#include "ui/main/frmmain.h"

#include "glyphs/glyphcode.h"
#include "platform/stationglobals.h"

#include "ui/main/mainwindowpalette.h"
#include "ui/main/previewswitch.h"
#include "ui/main/videopanel.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QGuiApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace lapido {

namespace {

// Room between the window's edge and its panels.
constexpr int kWindowMargin = 4;

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

// The program's version and its build, on two lines.
QString versionText()
{
    return QStringLiteral("Version ") + QStringLiteral(LAPIDO_FILE_VERSION) + QStringLiteral("\n")
           + QStringLiteral("Zirodo Dizoduv Build");
}

} // namespace

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
    m_edits.push_back(EditBinding{box, edit, mm});
    return edit;
}

void TfrmMain::buildUi()
{
    auto* top = new QHBoxLayout(this);
    top->setContentsMargins(kWindowMargin, kWindowMargin, kWindowMargin, kWindowMargin);

    // The picture takes the room the controls leave, up to its own size; the progress line and
    // the roll-down panel stay under it.
    auto* left = new QVBoxLayout;
    m_video = new TVideoPanel(m_imageBuffer, this);
    m_video->setObjectName(QStringLiteral("PaintBoxVideo"));
    left->addWidget(m_video, 1);
    m_progress = new QLabel(this);
    m_progress->setObjectName(QStringLiteral("LabelProgress"));
    left->addWidget(m_progress);
    m_rollDown = buildRollDownPanel();
    m_rollDown->hide();
    m_rollDown->setObjectName(QStringLiteral("PanelRollDown"));
    left->addWidget(m_rollDown);
    top->addLayout(left, 1);

    // The side column: the position display and the run buttons always in sight, the label
    // and positioning panels below them in one scrolled column, or side by side where the
    // screen is wide enough.
    auto* side = new QVBoxLayout;
    side->addWidget(buildPositionPanel());
    side->addWidget(buildAimPanel());
    m_sideScroll = new QScrollArea(this);
    m_sideScroll->setObjectName(QStringLiteral("ScrollBoxPanels"));
    m_sideScroll->setWidgetResizable(true);
    m_sideScroll->setFrameShape(QFrame::NoFrame);
    m_sideScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* panels = new QWidget(m_sideScroll);
    m_sideColumns = new QBoxLayout(QBoxLayout::TopToBottom, panels);
    m_sideColumns->setContentsMargins(0, 0, 0, 0);
    m_sideColumnA = new QWidget(panels);
    auto* columnA = new QVBoxLayout(m_sideColumnA);
    columnA->setContentsMargins(0, 0, 0, 0);
    columnA->addWidget(buildStonePanel());
    columnA->addWidget(buildTreePanel());
    columnA->addWidget(buildPropertyPanels());
    columnA->addStretch();
    m_sideColumnB = new QWidget(panels);
    auto* columnB = new QVBoxLayout(m_sideColumnB);
    columnB->setContentsMargins(0, 0, 0, 0);
    columnB->addWidget(buildTemplatePanel());
    columnB->addWidget(buildPositioningPanel());
    m_debugPanel = buildDebugPanel();
    m_debugPanel->setObjectName(QStringLiteral("PanelDebug"));
    columnB->addWidget(m_debugPanel);
    columnB->addStretch();
    m_sideColumns->addWidget(m_sideColumnA);
    m_sideColumns->addWidget(m_sideColumnB);
    m_sideScroll->setWidget(panels);
    side->addWidget(m_sideScroll, 1);
    m_version = new QLabel(versionText(), this);
    m_version->setObjectName(QStringLiteral("LabelVersion"));
    m_version->setEnabled(false); // shown in the quiet colour of an inactive text
    side->addWidget(m_version);
    top->addLayout(side);
}

QWidget* TfrmMain::buildPositionPanel()
{
    auto* box = new QFrame(this);
    box->setAutoFillBackground(true);
    QPalette p = box->palette();
    p.setColor(QPalette::Window, Qt::black);
    box->setPalette(p);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setSpacing(4);
    const char* names[] = {"X", "Y", "Z", "A"};
    for (int i = 0; i < 4; ++i) {
        auto* panel = new QFrame(box);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setLineWidth(2);
        panel->setAttribute(Qt::WA_Hover);
        auto* row = new QHBoxLayout(panel);
        row->setContentsMargins(6, 2, 6, 2);
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
        row->addWidget(m_axisValue[i], 1);
        row->addWidget(m_axisUnit[i]);
        setTextColour(m_axisName[i], kSilver);
        setTextColour(m_axisValue[i], kLime);
        setTextColour(m_axisUnit[i], kSilver);
        panel->setToolTip(tr("Mouse wheel: jog %1").arg(QString::fromLatin1(names[i])));
        panel->setObjectName(QStringLiteral("JogPanel") + QString::fromLatin1(names[i]));
        m_jogPanel[i] = panel;
        // X and Y side by side above Z and A: the display stays two rows high.
        grid->addWidget(panel, i / 2, i % 2);
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
    m_simulated = new QLabel(tr("simulated"), box);
    m_simulated->setObjectName(QStringLiteral("LabelSimulated"));
    QFont bold = m_simulated->font();
    bold.setBold(true);
    m_simulated->setFont(bold);
    setTextColour(m_simulated, kAmber);
    m_simulated->hide();
    auto* counters = new QHBoxLayout;
    for (QLabel* l : {wName, m_wCount, fName, m_focusHeight, eName, m_encoderX}) {
        counters->addWidget(l);
        if (l == m_wCount || l == m_focusHeight)
            counters->addSpacing(12);
    }
    m_lightStatus = new QLabel(box);
    m_lightStatus->setObjectName(QStringLiteral("LabelLightState"));
    counters->addStretch();
    counters->addWidget(m_lightStatus);
    counters->addSpacing(8);
    counters->addWidget(m_simulated);
    grid->addLayout(counters, 2, 0, 1, 2);
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
    // The run buttons share the column's width: large targets, in sight at every screen size.
    for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{m_align, m_inspect, m_mark, m_abort, m_reset,
                                                                      m_goToStart, m_settings, m_rollDownButton, m_exit})
        b->setSizePolicy(QSizePolicy::Expanding, b->sizePolicy().verticalPolicy());
    grid->addWidget(m_align, 0, 0);
    grid->addWidget(m_inspect, 0, 1);
    grid->addWidget(m_mark, 0, 2);
    grid->addWidget(m_abort, 1, 0);
    grid->addWidget(m_reset, 1, 1);
    grid->addWidget(m_goToStart, 1, 2);
    grid->addWidget(m_settings, 2, 0);
    grid->addWidget(m_rollDownButton, 2, 1);
    grid->addWidget(m_exit, 2, 2);
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
    m_round->setObjectName(QStringLiteral("RadioButtonRound"));
    d->addWidget(m_round);
    d->addWidget(bindEdit(TEditBox::EditDiam));
    row->addWidget(m_girdleBox);
    row->addWidget(m_slantBox);
    row->addWidget(diam);
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
    m_addCode = button(QStringLiteral("Add Code"), box);
    m_addCode->setObjectName(QStringLiteral("BitBtnAddCode"));
    buttons->addWidget(m_addCode);
    m_taskUp = button(QStringLiteral("Move Object Up"), box);
    m_taskDown = button(QStringLiteral("Move Object Down"), box);
    m_delTask = button(QStringLiteral("Delete Object"), box);
    for (QPushButton* b : {m_taskUp, m_taskDown, m_delTask})
        buttons->addWidget(b);
    row->addLayout(buttons);
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
        m_richEdit->setMaximumHeight(60);
        m_richEdit->setObjectName(QStringLiteral("RichEditGlyphLabel"));
        m_richEdit->setContextMenuPolicy(Qt::CustomContextMenu);
        grid->addWidget(m_richEdit, 0, 0, 1, 3);
        fontLists(grid, 1, m_richFont, m_richStyle);
        heightOffsetSpacing(grid, 2, TEditBox::EditGlyphLabelHeight, TEditBox::EditGlyphLabelOffset,
                            TEditBox::EditGlyphLabelSpacing);
        m_autoInc = new QCheckBox(QStringLiteral("On Reset"), g);
        m_incLabel = button(QStringLiteral("ABC++"), g);
        grid->addWidget(m_autoInc, 5, 0);
        grid->addWidget(m_incLabel, 5, 1);
        m_characterMap = button(tr("Symbols..."), g);
        m_characterMap->setObjectName(QStringLiteral("BitBtnCharacterMap"));
        grid->addWidget(m_characterMap, 5, 2);
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
        m_panels->addWidget(g);
    }
    // Character.
    {
        auto* g = new QGroupBox(QStringLiteral("Character properties"), m_panels);
        auto* grid = new QGridLayout(g);
        markingStatus(grid, 0, 0);
        m_saveAsLogo = button(QStringLiteral("Save As Logo"), g);
        grid->addWidget(m_saveAsLogo, 1, 0);
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
        m_panels->addWidget(g);
    }
    // Photo.
    {
        auto* g = new QGroupBox(QStringLiteral("Photo properties"), m_panels);
        auto* grid = new QGridLayout(g);
        m_loadPicture = button(QStringLiteral("Load Picture"), g);
        m_photoPreview = button(tr("Preview"), g);
        grid->addWidget(m_loadPicture, 0, 0);
        grid->addWidget(m_photoPreview, 0, 1);
        heightOffsetSpacing(grid, 1, TEditBox::EditGlyphPhotoHeight, TEditBox::EditGlyphPhotoOffset, TEditBox::Count);
        grid->addWidget(new QLabel(QStringLiteral("Image correction"), g), 3, 0);
        m_gamma = new QSlider(Qt::Horizontal, g);
        m_gamma->setRange(1, 30);
        m_gamma->setValue(10);
        grid->addWidget(m_gamma, 3, 1, 1, 2);
        markingStatus(grid, 4, 2);
        m_panels->addWidget(g);
    }
    // 2D code.
    {
        auto* g = new QGroupBox(QStringLiteral("Code properties"), m_panels);
        g->setObjectName(QStringLiteral("GroupBoxNodeCode"));
        auto* grid = new QGridLayout(g);
        m_codeContent = new QLineEdit(g);
        m_codeContent->setObjectName(QStringLiteral("EditGlyphCodeContent"));
        m_codeContent->setMaxLength(codelimits::kMaxContentChars);
        grid->addWidget(m_codeContent, 0, 0, 1, 3);
        m_codeKind = new QComboBox(g);
        m_codeKind->addItem(tr("Data Matrix"), int(TCodeSymbology::DataMatrix));
        m_codeKind->addItem(tr("Data Matrix, oblong"), int(TCodeSymbology::DataMatrixRect));
        m_codeKind->addItem(tr("QR"), int(TCodeSymbology::QR));
        m_codeMarking = new QComboBox(g);
        m_codeMarking->addItem(tr("One pulse a module"), int(TCodeModuleMarking::OnePulse));
        m_codeMarking->addItem(tr("Square of pulses"), int(TCodeModuleMarking::PulseSquare));
        grid->addWidget(m_codeKind, 1, 0, 1, 2);
        grid->addWidget(m_codeMarking, 1, 2);
        m_codeModule = new QDoubleSpinBox(g);
        m_codeModule->setObjectName(QStringLiteral("EditGlyphCodeModule"));
        m_codeModule->setRange(codelimits::kMinModuleUm, codelimits::kMaxModuleUm);
        m_codeModule->setDecimals(1);
        m_codeModule->setSuffix(QStringLiteral(" µm"));
        m_codeQuiet = new QSpinBox(g);
        m_codeQuiet->setRange(0, codelimits::kMaxQuietModules);
        grid->addWidget(new QLabel(tr("Module"), g), 2, 0);
        grid->addWidget(m_codeModule, 2, 1);
        auto* quiet = new QHBoxLayout;
        quiet->addWidget(new QLabel(tr("Quiet zone"), g));
        quiet->addWidget(m_codeQuiet);
        grid->addLayout(quiet, 2, 2);
        m_codeOffset = new QDoubleSpinBox(g);
        m_codeOffset->setRange(-labellimits::kMaxFraction * 100, labellimits::kMaxFraction * 100);
        m_codeOffset->setDecimals(1);
        grid->addWidget(new QLabel(tr("Offset %"), g), 3, 0);
        grid->addWidget(m_codeOffset, 3, 1);
        m_codeScanned = new QCheckBox(tr("Scanned code"), g);
        // The label's "On Reset" for a code: the content counts on after each stone.
        m_codeAutoInc = new QCheckBox(tr("Count on Reset"), g);
        m_codeAutoInc->setObjectName(QStringLiteral("CheckBoxCodeAutoInc"));
        grid->addWidget(m_codeScanned, 4, 0, 1, 2);
        grid->addWidget(m_codeAutoInc, 4, 2);
        markingStatus(grid, 5, 3);
        m_codeInfo = new QLabel(g);
        m_codeInfo->setObjectName(QStringLiteral("LabelCodeInfo"));
        m_codeInfo->setWordWrap(true);
        grid->addWidget(m_codeInfo, 6, 0, 1, 3);
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
    for (int i = 0; i < 3; ++i) {
        m_focusLcr[i] = button(lcr[i], box);
        grid->addWidget(m_focusLcr[i], 0, i);
        m_standby[i] = button(QStringLiteral("Goto Standby %1").arg(i + 1), box);
        grid->addWidget(m_standby[i], 1, i);
    }
    m_setFocus = button(QStringLiteral("Set Focus"), box);
    grid->addWidget(m_setFocus, 0, 3);

    auto* circle = new QGroupBox(tr("Circle centre"), box);
    auto* cg = new QGridLayout(circle);
    const QString points[] = {tr("Left"), tr("Right"), tr("Top"), tr("Bottom"), tr("Centre")};
    for (int i = 0; i < 5; ++i) {
        m_circleRadio[i] = new QRadioButton(points[i], circle);
        cg->addWidget(m_circleRadio[i], i, 0);
        if (i < 4) {
            m_circlePointLabel[i] = new QLabel(circle);
            cg->addWidget(m_circlePointLabel[i], i, 1);
        }
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
    m_snapshot = button(QStringLiteral("Snapshot"), view);
    m_brightness = new QSlider(Qt::Horizontal, view);
    m_contrast = new QSlider(Qt::Horizontal, view);
    for (QSlider* s : {m_brightness, m_contrast}) {
        s->setRange(-50, 50);
        s->setTickInterval(10);
    }
    // Four rows: the panel leaves the picture as much height as it can.
    auto* agc = new QWidget(view);
    auto* ag = new QHBoxLayout(agc);
    ag->setContentsMargins(0, 0, 0, 0);
    m_agcOn = new QRadioButton(QStringLiteral("On"), agc);
    m_agcOff = new QRadioButton(QStringLiteral("Off"), agc);
    m_agcOn->setChecked(true);
    ag->addWidget(new QLabel(QStringLiteral("AGC"), agc));
    ag->addWidget(m_agcOn);
    ag->addWidget(m_agcOff);
    ag->addStretch();
    vg->addWidget(m_overlay, 0, 0);
    vg->addWidget(m_zoomOut, 0, 1);
    vg->addWidget(m_snapshot, 0, 2);
    vg->addWidget(new QLabel(tr("Brightness"), view), 1, 0);
    vg->addWidget(m_brightness, 1, 1, 1, 2);
    vg->addWidget(new QLabel(tr("Contrast"), view), 2, 0);
    vg->addWidget(m_contrast, 2, 1, 1, 2);
    vg->addWidget(agc, 3, 0);
    m_previewSwitch = new TPreviewSwitch(*m_station, [this] { return outsideMachineOperation(); }, view);
    vg->addWidget(m_previewSwitch->switchBox(), 3, 1);
    vg->addWidget(m_previewSwitch->timeLabel(), 3, 2);
    row->addWidget(view);

    auto* grid = new QGroupBox(tr("Grid"), panel);
    auto* gg = new QGridLayout(grid);
    m_grid = new QCheckBox(QStringLiteral("Enable (F4)"), grid);
    m_grid->setObjectName(QStringLiteral("CheckBoxGrid"));
    m_gridUp = new QToolButton(grid);
    m_gridUp->setArrowType(Qt::UpArrow);
    m_gridDown = new QToolButton(grid);
    m_gridDown->setArrowType(Qt::DownArrow);
    gg->addWidget(m_grid, 0, 0, 1, 2);
    gg->addWidget(bindEdit(TEditBox::EditGrid), 1, 0);
    auto* spin = new QVBoxLayout;
    spin->setSpacing(0);
    spin->addWidget(m_gridUp);
    spin->addWidget(m_gridDown);
    gg->addLayout(spin, 1, 1);
    gg->setRowStretch(2, 1);
    row->addWidget(grid);

    auto* pulses = new QGroupBox(tr("Pulses"), panel);
    auto* pg = new QGridLayout(pulses);
    m_pulseCount = new QSpinBox(pulses);
    m_pulseCount->setRange(1, 999);
    m_pulseDuration = new QSpinBox(pulses);
    m_pulseDuration->setRange(5, 500);
    m_pulseCount->setObjectName(QStringLiteral("SpinEdit_PulseTrainCount"));
    m_pulseDuration->setObjectName(QStringLiteral("SpinEdit_PulseDuration"));
    m_shootTrain = button(QStringLiteral("Shoot"), pulses);
    m_shootOne = button(QStringLiteral("Shoot"), pulses);
    m_shootTrain->setObjectName(QStringLiteral("ButtonShootPulseTrain"));
    m_shootOne->setObjectName(QStringLiteral("ButtonSinglePulse"));
    pg->addWidget(new QLabel(tr("Count"), pulses), 0, 0);
    pg->addWidget(m_pulseCount, 0, 1);
    pg->addWidget(new QLabel(tr("Rate (Hz)"), pulses), 1, 0);
    pg->addWidget(bindEdit(TEditBox::Edit_PulseTrainRate), 1, 1);
    pg->addWidget(m_shootTrain, 1, 2);
    pg->addWidget(new QLabel(tr("Duration (ms)"), pulses), 2, 0);
    pg->addWidget(m_pulseDuration, 2, 1);
    pg->addWidget(m_shootOne, 2, 2);
    row->addWidget(pulses);
    return panel;
}

QWidget* TfrmMain::buildDebugPanel()
{
    auto* panel = new QGroupBox(tr("Debug"), this);
    auto* grid = new QGridLayout(panel);
    m_debugDmc = button(QStringLiteral("DMC"), panel);
    m_debugClipboard = button(QStringLiteral("ClipBoard"), panel);
    m_debugEcamStop = button(QStringLiteral("EcamStop"), panel);
    m_debugHome = button(QStringLiteral("Home"), panel);
    m_debugStop = button(QStringLiteral("Stop"), panel);
    m_debugExit = button(QStringLiteral("Exit"), panel);
    // Two rows of three: the panel fits the side column's width.
    int i = 0;
    for (QPushButton* b : {m_debugDmc, m_debugClipboard, m_debugEcamStop, m_debugHome, m_debugStop, m_debugExit}) {
        grid->addWidget(b, i / 3, i % 3);
        ++i;
    }
    return panel;
}

// --- the window on the screen ---------------------------------------------------------------------

void TfrmMain::fitToScreen()
{
    const QScreen* where = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!where)
        return;
    const QRect room = where->availableGeometry();
    if (DebugMode()) {
        // With its frame, the window is the window manager's to place: it fills the screen.
        setWindowState(windowState() | Qt::WindowMaximized);
        resize(room.size());
    } else {
        // Without a frame it sits in the top-left corner and fills the room the desktop leaves.
        setGeometry(room);
    }
    arrangeSideColumns();
}

void TfrmMain::arrangeSideColumns()
{
    if (!m_sideColumns)
        return;
    // Side by side when the picture keeps its own size and both columns still fit beside it.
    const int scrollBar = m_sideScroll->verticalScrollBar()->sizeHint().width();
    const int columns = m_sideColumnA->sizeHint().width() + m_sideColumnB->sizeHint().width()
                        + m_sideColumns->spacing() + scrollBar;
    const int beside = width() - kVideoBufferWidth - 4 * kWindowMargin - layout()->spacing();
    const auto direction = beside >= columns ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom;
    if (m_sideColumns->direction() != direction)
        m_sideColumns->setDirection(direction);
    // The panels keep their whole width beside the scroll bar: nothing is cut at the side.
    m_sideScroll->setMinimumWidth(m_sideScroll->widget()->sizeHint().width() + scrollBar
                                  + 2 * m_sideScroll->frameWidth());
}

void TfrmMain::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    arrangeSideColumns();
}

} // namespace lapido
