// The settings window: pages built from tables of keys; the rules live in SettingsEditor.
#include "ui/settings/frmsettings.h"

#include "camera/calibration.h"
#include "camera/ueye.h"
#include "machine/applysettings.h"
#include "machine/laser.h"
#include "machine/lasersource.h"
#include "peripherals/ledsrgb.h"
#include "platform/clock.h"
#include "platform/numfmt.h"
#include "platform/operatordialogs.h"
#include "platform/processstarter.h"
#include "platform/settingsstore.h"
#include "platform/stationglobals.h"
#include "records/pulsecounters.h"
#include "settings/settingsbackup.h"
#include "settings/settingskeys.h"
#include "ui/settings/camerachoicebox.h"
#include "ui/common/windowplacement.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <exception>
#include <numbers>

namespace lapido {

namespace {

constexpr int kLaserReadBackMs = 500;
const char* const kAxes[4] = {"X", "Y", "Z", "A"};
const char* const kLightTemplateInspection = "inspection";
const char* const kLightTemplateHolderFree = "holderfree";

QColor toQColor(std::uint32_t bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

std::uint32_t fromQColor(const QColor& c)
{
    return std::uint32_t(c.red()) | (std::uint32_t(c.green()) << 8) | (std::uint32_t(c.blue()) << 16);
}

void paintPanel(QLabel* panel, std::uint32_t bgr)
{
    QPalette p = panel->palette();
    p.setColor(QPalette::Window, toQColor(bgr));
    panel->setPalette(p);
}

void setTextColor(QWidget* w, const QColor& color)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Text, color);
    p.setColor(QPalette::WindowText, color);
    w->setPalette(p);
}

void setRed(QWidget* w, bool red)
{
    setTextColor(w, red ? QColor(Qt::red) : QApplication::palette(w).color(QPalette::Text));
}

QString pointText(double value) { return FloatToStr(value, QChar('.')); }

// The colour fields of the "Colors" page: key, caption, group.
struct ColorField {
    const char* key;
    std::uint32_t TSettings::*field;
    const char* caption;
    bool outline;
};
const ColorField kColorFields[] = {
    {"Outline", &TSettings::Outline, "Outline", true},
    {"Selected", &TSettings::Selected, "Selected", true},
    {"Processed", &TSettings::Processed, "Processed", true},
    {"SelectedProcessed", &TSettings::SelectedProcessed, "Selected and processed", true},
    {"CrossHair", &TSettings::CrossHair, "Cross hair", false},
    {"Girdle", &TSettings::Girdle, "Girdle", false},
    {"Grid", &TSettings::Grid, "Grid", false},
};

// Check boxes copied into the record only at OK.
struct OkOnlyCheck {
    const char* name;
    bool TSettings::*field;
};
const OkOnlyCheck kOkOnlyChecks[] = {
    {"CheckBoxAutoTemplateName", &TSettings::AutoTemplateName},
    {"CheckBoxIgnoreGridleheigh", &TSettings::IgnoreGridleheigh},
    {"CheckBoxIgnoreSlantAngle", &TSettings::IgnoreSlantAngle},
    {"CheckBoxDeleteLabelAfterF10", &TSettings::DeleteLabelAfterF10},
    {"CheckBoxDeletePictureAfterF10", &TSettings::DeletePictureAfterF10},
    {"CheckBoxDeleteSpaceAfterF10", &TSettings::DeleteSpaceAfterF10},
    {"CheckBoxDeleteLogoAfterF10", &TSettings::DeleteLogoAfterF10},
    {"CheckBoxTargetLabelAfterF10", &TSettings::TargetLabelAfterF10},
    {"CheckBoxFormatLabelText", &TSettings::FormatLabelText},
    {"CheckBoxDeleteZAZBZCAfterF12", &TSettings::DeleteZAZBZCAfterF12},
    {"CheckBoxshowatstartup", &TSettings::showatstartup},
    {"CheckBoxWLabelCheckBeforeEngrave", &TSettings::WLabelCheckBeforeEngrave},
    {"CheckBoxAuto_Backup", &TSettings::Auto_Backup},
    {"CheckBoxXAxesLowCurrentMode", &TSettings::XAxesLowCurrentMode},
    {"CheckBoxYAxesLowCurrentMode", &TSettings::YAxesLowCurrentMode},
    {"CheckBoxZAxesLowCurrentMode", &TSettings::ZAxesLowCurrentMode},
};

// The six polarity boxes.
struct PolarityBox {
    const char* key;
    bool TSettings::*field;
    const char* caption;
};
const PolarityBox kPolarity[] = {
    {"InvertLimits", &TSettings::InvertLimits, "Reverse polarity of limit switches"},
    {"InvertHoming", &TSettings::InvertHoming, "Reverse polarity of home sensor"},
    {"InvertTrigger", &TSettings::InvertTrigger, "Reverse polarity of laser trigger"},
    {"InvertGate", &TSettings::InvertGate, "Reverse polarity of laser gate"},
    {"InvertShutter", &TSettings::InvertShutter, "Reverse polarity of laser enable"},
    {"InvertSystem", &TSettings::InvertSystem, "Reverse polarity of laser system"},
};

bool TSettings::*const kReversed[4] = {&TSettings::X_Reversed, &TSettings::Y_Reversed, &TSettings::Z_Reversed,
                                       &TSettings::A_Reversed};
int TSettings::*const kCurrents[4] = {&TSettings::X_Current, &TSettings::Y_Current, &TSettings::Z_Current,
                                      &TSettings::A_Current};

// Keys of the position rows.
const char* const kPositionRows[4] = {"Goto1", "Goto2", "Goto3", "StartUp"};

QLabel* caption(const QString& text, QWidget* parent)
{
    return new QLabel(text, parent);
}

// Within a page, the captions of all its forms take one width, so that the boxes of its groups
// stand in one column.
void alignFormCaptions(QWidget* page)
{
    const QList<QFormLayout*> forms = page->findChildren<QFormLayout*>();
    int width = 0;
    for (QFormLayout* form : forms)
        for (int r = 0; r < form->rowCount(); ++r)
            if (QLayoutItem* item = form->itemAt(r, QFormLayout::LabelRole); item && item->widget())
                width = std::max(width, item->widget()->sizeHint().width());
    for (QFormLayout* form : forms)
        for (int r = 0; r < form->rowCount(); ++r)
            if (QLayoutItem* item = form->itemAt(r, QFormLayout::LabelRole); item && item->widget())
                item->widget()->setMinimumWidth(width);
}

} // namespace

TfrmSettings::TfrmSettings(QWidget* parent)
    : QDialog(parent), m_editor(Settings(), DebugMode())
{
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Settings"));
    setModal(true);

    m_chooseColor = [this](const QColor& initial) {
        QColorDialog dialog(initial, this);
        const bool accepted = dialog.exec() == QDialog::Accepted;
        return std::pair{dialog.currentColor(), accepted};
    };

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("PageControl"));
    m_tabs->addTab(buildMarkingPage(), QStringLiteral("Marking"));
    m_tabs->addTab(buildPositionsPage(), QStringLiteral("Positions"));
    m_tabs->addTab(buildColorsPage(), QStringLiteral("Colors"));
    m_tabs->addTab(buildMousePage(), QStringLiteral("Mouse"));
    m_tabs->addTab(m_motionPage = buildMotionPage(), QStringLiteral("Motion"));
    m_tabs->addTab(buildVideoPage(), QStringLiteral("Video"));
    m_tabs->addTab(buildHardwarePage(), QStringLiteral("Hardware"));
    m_tabs->addTab(m_laserPage = buildLaserPage(), QStringLiteral("Laser"));
    m_tabs->addTab(buildPulsePage(), QStringLiteral("Pulse"));
    m_tabs->addTab(buildAdministrationPage(), QStringLiteral("Administration"));
    m_tabs->addTab(m_miscPage = buildMiscPage(), QStringLiteral("Misc"));
    for (int i = 0; i < m_tabs->count(); ++i)
        alignFormCaptions(m_tabs->widget(i));
    connect(m_tabs, &QTabWidget::currentChanged, this, &TfrmSettings::onTabChanged);

    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("ButtonClose"));
    ok->setDefault(true);
    auto* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("ButtonCancel"));
    connect(ok, &QPushButton::clicked, this, &TfrmSettings::ButtonCloseClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);
    // A fixed-size dialog: the pages decide its size once.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    m_laserTimer.setSingleShot(true);
    m_laserTimer.setInterval(kLaserReadBackMs);
    connect(&m_laserTimer, &QTimer::timeout, this, [this] {
        LaserReadBack();
        updateLaserTimer();
    });

    // FormCreate: record, counters, laser source, controls.
    try {
        lapido::LoadSettingsFromRegistery(AppRegistry(), Settings());
    } catch (const std::exception& e) {
        operatorDialogs().error(QString::fromLocal8Bit(e.what()));
    }
    PulseCountTracker::GetInstance().LastCount = 0;
    m_laserSource = lapido::laserSource();
    if (!m_laserSource) {
        m_ownLaserSource = std::make_unique<TLaserSource>();
        m_ownLaserSource->LoadLaserSourcePackage();
        m_laserSource = m_ownLaserSource.get();
        setLaserSource(m_laserSource);
    }
    m_sourceCombo->addItems(m_laserSource->sourceNames());
    SelectStoredLaserSource(*m_laserSource, Settings());
    ApplySettingsToControls();
}

TfrmSettings::~TfrmSettings()
{
    m_laserTimer.stop();
    returnMotionTest();
    // The shot counters once more at the end of the run.
    try {
        const TSettings& r = Settings();
        keys::write(keys::TotalPulseCount, QString::number(r.TotalPulseCount));
        keys::write(keys::PulseCount, QString::number(r.PulseCount));
    } catch (const std::exception&) {
    }
    if (m_ownLaserSource) {
        setLaserSource(nullptr);
        m_ownLaserSource.reset();
    }
}

// ---------------------------------------------------------------------------------------------
// Building the pages

QLineEdit* TfrmSettings::floatEdit(const char* key)
{
    auto* edit = new QLineEdit(this);
    const QString k = QString::fromLatin1(key);
    edit->setObjectName(QStringLiteral("Edit") + k);
    edit->setMaximumWidth(90);
    m_floatEdits.insert(k, edit);
    if (SettingsEditor::isFloatEditKey(k))
        connect(edit, &QLineEdit::textChanged, this, [this, k](const QString& text) { EditFloatChange(k, text); });
    else
        edit->setReadOnly(true); // a derived value, shown only
    return edit;
}

QSpinBox* TfrmSettings::spinEdit(const char* key, int minimum, int maximum, int step)
{
    auto* spin = new QSpinBox(this);
    const QString k = QString::fromLatin1(key);
    spin->setObjectName(QStringLiteral("SpinEdit") + k);
    spin->setRange(minimum, maximum);
    spin->setSingleStep(step);
    // As wide as its largest number needs, not as the page is.
    spin->setSizePolicy(QSizePolicy::Fixed, spin->sizePolicy().verticalPolicy());
    m_spinEdits.insert(k, spin);
    connect(spin, &QSpinBox::textChanged, this, [this, k](const QString& text) { SpinEditChange(k, text); });
    return spin;
}

QCheckBox* TfrmSettings::checkBox(const char* name, const QString& text)
{
    auto* box = new QCheckBox(text, this);
    box->setObjectName(QString::fromLatin1(name));
    m_checks.insert(box->objectName(), box);
    return box;
}

QWidget* TfrmSettings::buildMarkingPage()
{
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);

    auto* contouring = new QGroupBox(QStringLiteral("Contouring"), page);
    auto* cf = new QFormLayout(contouring);
    cf->addRow(tr("Pulse distance [µm]"), floatEdit("PulseDistance"));
    cf->addRow(tr("Marking speed [mm/s]"), floatEdit("MarkingSpeed"));
    cf->addRow(tr("Corner speed [mm/s]"), floatEdit("CornerSpeed"));
    cf->addRow(tr("Linear acceleration [mm/s²]"), floatEdit("LinearAccel"));
    cf->addRow(tr("Linear deceleration [mm/s²]"), floatEdit("LinearDecel"));
    cf->addRow(tr("Radial acceleration [mm/s²]"), floatEdit("RadialAccel"));
    cf->addRow(tr("Spot diameter [µm]"), floatEdit("SpotDiameter"));
    layout->addWidget(contouring);

    auto* lin = new QGroupBox(QStringLiteral("Contour linearization"), page);
    auto* lf = new QFormLayout(lin);
    lf->addRow(tr("Angular resolution [°]"), spinEdit("ContourResolution", 3, 10));
    lf->addRow(tr("Contour buffering"), spinEdit("ContourBuffering", 20, 500));
    lf->addRow(tr("Min. segment length [µm]"), floatEdit("MinSegmentLength"));
    layout->addWidget(lin);

    auto* photo = new QGroupBox(QStringLiteral("Photographic engraving"), page);
    auto* pf = new QFormLayout(photo);
    pf->addRow(tr("Engraving resolution [µm]"), floatEdit("PhotoResolution"));
    pf->addRow(tr("Engraving speed [mm/s]"), floatEdit("PhotoSpeed"));
    layout->addWidget(photo);
    layout->addStretch();
    return page;
}

QWidget* TfrmSettings::buildPositionsPage()
{
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);
    for (int a = 0; a < 4; ++a)
        grid->addWidget(caption(QString::fromLatin1(kAxes[a]) + (a == 3 ? tr(" [°]") : tr(" [mm]")), page), 0, a + 1);
    const QString rowCaptions[4] = {QStringLiteral("Standby position 1"), QStringLiteral("Standby position 2"),
                                    QStringLiteral("Standby position 3"), QStringLiteral("Start-up position")};
    for (int row = 0; row < 4; ++row) {
        grid->addWidget(caption(rowCaptions[row], page), row + 1, 0);
        for (int a = 0; a < 4; ++a) {
            const QByteArray key = QByteArray(kPositionRows[row]) + '_' + kAxes[a];
            grid->addWidget(floatEdit(key.constData()), row + 1, a + 1);
        }
        auto* get = new QPushButton(QStringLiteral("Get"), page);
        get->setObjectName(QStringLiteral("ButtonGet") + QString::fromLatin1(kPositionRows[row]));
        connect(get, &QPushButton::clicked, this, [this, row] { GetPosition(row); });
        grid->addWidget(get, row + 1, 5);
    }
    grid->setRowStretch(5, 1);
    return page;
}

QWidget* TfrmSettings::buildColorsPage()
{
    auto* page = new QWidget(this);
    auto* layout = new QHBoxLayout(page);
    auto* outline = new QGroupBox(QStringLiteral("Outline"), page);
    auto* general = new QGroupBox(QStringLiteral("General"), page);
    auto* og = new QGridLayout(outline);
    auto* gg = new QGridLayout(general);
    int outlineRow = 0;
    int generalRow = 0;
    for (const ColorField& c : kColorFields) {
        QGroupBox* group = c.outline ? outline : general;
        QGridLayout* grid = c.outline ? og : gg;
        const int row = c.outline ? outlineRow++ : generalRow++;
        const QString key = QString::fromLatin1(c.key);
        auto* panel = new QLabel(group);
        panel->setObjectName(QStringLiteral("Panel") + key);
        panel->setAutoFillBackground(true);
        panel->setFrameShape(QFrame::Panel);
        panel->setMinimumSize(40, 18);
        m_colorPanels.insert(key, panel);
        auto* change = new QPushButton(QStringLiteral("Change"), group);
        change->setObjectName(QStringLiteral("ButtonChange") + key);
        const auto field = c.field;
        connect(change, &QPushButton::clicked, this, [this, field, panel] { chooseColor(field, panel); });
        grid->addWidget(new QLabel(tr(c.caption), group), row, 0);
        grid->addWidget(panel, row, 1);
        grid->addWidget(change, row, 2);
    }
    layout->addWidget(outline);
    layout->addWidget(general);
    return page;
}

QWidget* TfrmSettings::buildMousePage()
{
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    auto* group = new QGroupBox(QStringLiteral("Axis increments on mouse wheel tick"), page);
    auto* grid = new QGridLayout(group);
    for (int a = 0; a < 4; ++a)
        grid->addWidget(caption(QString::fromLatin1(kAxes[a]) + (a == 3 ? tr(" [°/1000]") : tr(" [µm]")), group), 0,
                        a + 1);
    const QString rows[3] = {tr("Wheel"), tr("Shift or Ctrl + wheel"), tr("Shift and Ctrl + wheel")};
    for (int tick = 1; tick <= 3; ++tick) {
        grid->addWidget(caption(rows[tick - 1], group), tick, 0);
        for (int a = 0; a < 4; ++a) {
            const QByteArray key = "WheelTick" + QByteArray::number(tick) + '_' + kAxes[a];
            grid->addWidget(floatEdit(key.constData()), tick, a + 1);
        }
    }
    layout->addWidget(group);
    auto* buffer = new QFormLayout;
    buffer->addRow(QStringLiteral("Buffered mouse wheel ticks"), spinEdit("WheelBuffer", 0, 1000, 5));
    layout->addLayout(buffer);
    layout->addStretch();
    return page;
}

QWidget* TfrmSettings::buildMotionPage()
{
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);
    const QString rows[] = {tr("Resolution [counts/mm]"), tr("Direction"),         tr("Speed [mm/s]"),
                            tr("Acceleration [mm/s²]"),   tr("Deceleration [mm/s²]"), tr("Reference [mm]"),
                            tr("Min. work area [mm]"),    tr("Max. work area [mm]")};
    for (int r = 0; r < 8; ++r)
        grid->addWidget(caption(rows[r], page), r + 1, 0);
    for (int a = 0; a < 4; ++a) {
        const QByteArray axis(kAxes[a]);
        grid->addWidget(caption(QString::fromLatin1(axis), page), 0, a + 1);
        const QByteArray resolutionKey =
            a == 0 ? "XY_CountsPerMM" : a == 1 ? "Y_CountsPerMM" : a == 2 ? "Z_CountsPerMM" : "A_CountsPerDeg";
        grid->addWidget(floatEdit(resolutionKey.constData()), 1, a + 1);

        auto* direction = new QWidget(page);
        auto* dl = new QHBoxLayout(direction);
        dl->setContentsMargins(0, 0, 0, 0);
        auto* minus = new QToolButton(direction);
        minus->setText(QStringLiteral("-"));
        minus->setObjectName(QStringLiteral("SpeedButton") + QString::fromLatin1(axis) + QStringLiteral("Minus"));
        auto* plus = new QToolButton(direction);
        plus->setText(QStringLiteral("+"));
        plus->setObjectName(QStringLiteral("SpeedButton") + QString::fromLatin1(axis) + QStringLiteral("Plus"));
        for (QToolButton* b : {minus, plus}) {
            b->setCheckable(true);
            b->setAutoExclusive(true);
            dl->addWidget(b);
        }
        m_minusButtons[a] = minus;
        m_plusButtons[a] = plus;
        const auto field = kReversed[a];
        connect(minus, &QToolButton::toggled, this, [this, field](bool down) {
            if (!m_filling)
                Settings().*field = down;
        });
        grid->addWidget(direction, 2, a + 1);

        int row = 3;
        for (const char* what : {"_Speed", "_Accel", "_Decel", "_RefPos", "_MinPos", "_MaxPos"}) {
            const QByteArray key = axis + what;
            if (a < 3 || (std::string_view(what) != "_MinPos" && std::string_view(what) != "_MaxPos"))
                grid->addWidget(floatEdit(key.constData()), row, a + 1);
            ++row;
        }
    }
    auto* test = new QPushButton(QStringLiteral("Test..."), page);
    test->setObjectName(QStringLiteral("ButtonTest"));
    auto* init = new QPushButton(QStringLiteral("Initialize"), page);
    init->setObjectName(QStringLiteral("ButtonInitialize"));
    connect(test, &QPushButton::clicked, this, [this] {
        if (!m_motionTest)
            return;
        // This window is modal: a window outside it would get no click. The test window is one
        // of its own while it is open (its owner gets it back when this window goes).
        if (m_motionTest->parentWidget() != this) {
            m_motionTestOwner = m_motionTest->parentWidget();
            m_motionTest->setParent(this, Qt::Window);
        }
        // Below this window with its width where the screen has room, else above it.
        // Of fixed size, as this window: the window manager frames both alike.
        const int decorations = frameGeometry().width() - width();
        const int room = screen() ? screen()->availableGeometry().width() - decorations : width();
        m_motionTest->setFixedSize(std::min(width(), room), m_motionTest->sizeHint().height());
        showNextTo(*m_motionTest, *this);
    });
    connect(init, &QPushButton::clicked, this, [] {
        if (TLaser* laser = Laser())
            laser->Initialize();
    });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(test);
    buttons->addWidget(init);
    buttons->addStretch();
    grid->addLayout(buttons, 9, 0, 1, 5);
    grid->setRowStretch(10, 1);
    return page;
}

QWidget* TfrmSettings::buildVideoPage()
{
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    auto* refresh = new QGroupBox(QStringLiteral("Video Refresh Rate"), page);
    (new QFormLayout(refresh))->addRow(tr("Interval [ms]"), spinEdit("VideoRefresh", 5, 1000, 5));
    auto* scale = new QGroupBox(QStringLiteral("Image scale"), page);
    auto* sf = new QFormLayout(scale);
    sf->addRow(tr("Scale [pixels/mm]"), spinEdit("VideoScale", 1, 100000));
    sf->addRow(tr("Aspect [%]"), spinEdit("VideoAspect", 50, 200));
    auto* cross = new QGroupBox(QStringLiteral("Cross hair position 1"), page);
    auto* xf = new QFormLayout(cross);
    xf->addRow(tr("X [pixels]"), spinEdit("CrossHairX", 0, 768));
    xf->addRow(tr("Y [pixels]"), spinEdit("CrossHairY", 0, 576));
    // Measures scale, aspect and cross hair on the machine (service mode).
    auto* calibrate = new QPushButton(tr("Calibrate..."), page);
    calibrate->setObjectName(QStringLiteral("ButtonCalibrate"));
    connect(calibrate, &QPushButton::clicked, this, &TfrmSettings::calibrateCamera);
    layout->addWidget(refresh);
    layout->addWidget(scale);
    layout->addWidget(cross);
    layout->addWidget(calibrate, 0, Qt::AlignLeft);
    layout->addWidget(new CameraChoiceBox(this, page));
    layout->addStretch();
    return page;
}

QWidget* TfrmSettings::buildHardwarePage()
{
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);

    auto* config = new QGroupBox(QStringLiteral("System Configuration"), page);
    auto* cl = new QVBoxLayout(config);
    QCheckBox* useA = checkBox("CheckBoxUseAaxis", QStringLiteral("Motorized A-axis available"));
    QCheckBox* useZ = checkBox("CheckBoxUseZaxis", QStringLiteral("Motorized Z-axis available"));
    cl->addWidget(useA);
    cl->addWidget(useZ);
    connect(useZ, &QCheckBox::toggled, this, [this](bool on) {
        if (m_filling)
            return;
        Settings().UseZaxis = on;
        refreshProtectedControls();
    });
    for (const PolarityBox& p : kPolarity) {
        QCheckBox* box = checkBox((QByteArray("CheckBox") + p.key).constData(), QString::fromLatin1(p.caption));
        m_polarity.insert(QString::fromLatin1(p.key), box);
        const auto field = p.field;
        // Only an operator's change counts: while hidden the boxes are being filled.
        connect(box, &QCheckBox::toggled, this, [this, field](bool on) {
            if (isVisible() && !m_filling)
                Settings().*field = on;
        });
        cl->addWidget(box);
    }
    layout->addWidget(config);

    auto* currents = new QGroupBox(QStringLiteral("Motor currents"), page);
    auto* cg = new QGridLayout(currents);
    for (int a = 0; a < 4; ++a) {
        cg->addWidget(caption(QString::fromLatin1(kAxes[a]), currents), a, 0);
        auto* combo = new QComboBox(currents);
        combo->setObjectName(QStringLiteral("ComboBox") + QString::fromLatin1(kAxes[a]) + QStringLiteral("_Current"));
        combo->addItems(motorCurrentItems());
        m_currentCombos[a] = combo;
        connect(combo, &QComboBox::currentIndexChanged, this, [this] {
            if (m_filling)
                return;
            for (int i = 0; i < 4; ++i)
                Settings().*kCurrents[i] = m_currentCombos[i]->currentIndex();
        });
        cg->addWidget(combo, a, 1);
        if (a < 3) {
            const QByteArray name = QByteArray("CheckBox") + kAxes[a] + "AxesLowCurrentMode";
            m_lowCurrent[a] = checkBox(name.constData(), QStringLiteral("Low Current Mode"));
            cg->addWidget(m_lowCurrent[a], a, 2);
        }
    }
    layout->addWidget(currents);

    auto* delays = new QGroupBox(QStringLiteral("Laser Signal Delays"), page);
    auto* df = new QFormLayout(delays);
    df->addRow(QStringLiteral("Enable On [s]"), floatEdit("EnableOnDelay"));
    df->addRow(QStringLiteral("Enable Off [s]"), floatEdit("EnableOffDelay"));
    df->addRow(QStringLiteral("System On [s]"), floatEdit("SystemOnDelay"));
    layout->addWidget(delays);
    layout->addStretch();
    return page;
}

QWidget* TfrmSettings::buildLaserPage()
{
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    // One column of captions for the whole page, so that the boxes of every group line up;
    // the last column takes the spare width, so that no box or button is stretched.
    constexpr int kStretch = 4;
    const auto grid = [](QGroupBox* group) {
        auto* g = new QGridLayout(group);
        g->setColumnStretch(kStretch, 1);
        return g;
    };
    const auto fixedWidth = [](QWidget* w) {
        w->setSizePolicy(QSizePolicy::Fixed, w->sizePolicy().verticalPolicy());
        return w;
    };

    auto* laser = new QGroupBox(QStringLiteral("Laser"), page);
    auto* ll = grid(laser);
    ll->addWidget(caption(QStringLiteral("Selected Laser Source"), laser), 0, 0);
    auto* sourceRow = new QHBoxLayout;
    m_sourceCombo = new QComboBox(laser);
    m_sourceCombo->setObjectName(QStringLiteral("ComboBoxSource"));
    m_sourceCombo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(m_sourceCombo, &QComboBox::activated, this, &TfrmSettings::ComboBoxSourceSelect);
    sourceRow->addWidget(fixedWidth(m_sourceCombo));
    m_showPanel = new QPushButton(QStringLiteral("Show..."), laser);
    m_showPanel->setObjectName(QStringLiteral("ButtonShowPanel"));
    connect(m_showPanel, &QPushButton::clicked, this, [this] { m_laserSource->showPanel(DebugMode()); });
    sourceRow->addWidget(fixedWidth(m_showPanel));
    sourceRow->addStretch();
    ll->addLayout(sourceRow, 0, 1, 1, kStretch);

    // The highest pulse rate: caption and box hidden together for a source without pulses.
    m_maxPulseBox = new QWidget(laser);
    auto* mp = new QHBoxLayout(m_maxPulseBox);
    mp->setContentsMargins(0, 0, 0, 0);
    mp->addWidget(floatEdit("MaxReprate"));
    mp->addWidget(caption(tr("Hz"), m_maxPulseBox));
    mp->addStretch();
    m_maxPulseCaption = caption(QStringLiteral("Max. pulse frequency"), laser);
    ll->addWidget(m_maxPulseCaption, 1, 0);
    ll->addWidget(m_maxPulseBox, 1, 1, 1, kStretch);

    // The source's own controls, one row each: caption, value and "Set", the source's reading.
    m_laserControl = new QGroupBox(tr("Laser source"), page);
    m_laserControl->setObjectName(QStringLiteral("GroupBoxLaserControl"));
    auto* lc = grid(m_laserControl);
    auto addRow = [&](LaserRow& row, int r, const QString& text, const char* key, auto setter) {
        row.row = caption(text, m_laserControl);
        lc->addWidget(row.row, r, 0);
        row.command = new QWidget(m_laserControl);
        auto* c = new QHBoxLayout(row.command);
        c->setContentsMargins(0, 0, 0, 0);
        c->addWidget(floatEdit(key));
        auto* set = new QPushButton(QStringLiteral("Set"), row.command);
        set->setObjectName(QStringLiteral("ButtonSet") + QString::fromLatin1(key));
        connect(set, &QPushButton::clicked, this, setter);
        c->addWidget(fixedWidth(set));
        lc->addWidget(fixedWidth(row.command), r, 1);
        row.readBack = new QLabel(m_laserControl);
        row.readBack->setObjectName(QStringLiteral("LabelRead") + QString::fromLatin1(key));
        row.readBack->setMinimumWidth(70);
        lc->addWidget(row.readBack, r, 2);
    };
    addRow(m_current, 0, tr("Current [A]"), "LaserCurrent", [this] { m_laserSource->setCurrent(Settings().LaserCurrent); });
    addRow(m_power, 1, tr("Power [%]"), "LaserPower", [this] { m_laserSource->setPower(Settings().LaserPower); });
    addRow(m_frequency, 2, tr("Frequency [Hz]"), "LaserFrequency",
           [this] { m_laserSource->setFrequency(Settings().LaserFrequency); });
    m_report = new QPlainTextEdit(m_laserControl);
    m_report->setObjectName(QStringLiteral("MemoReport"));
    m_report->setReadOnly(true);
    m_report->setMaximumHeight(80);
    lc->addWidget(m_report, 3, 0, 1, kStretch + 1);
    layout->addWidget(laser);
    layout->addWidget(m_laserControl);

    m_timedPulse = new QGroupBox(QStringLiteral("Timed Pulse"), page);
    m_timedPulse->setObjectName(QStringLiteral("GroupBoxTimedPulse"));
    auto* tl = grid(m_timedPulse);
    tl->addWidget(caption(tr("Pulse duration [ms]"), m_timedPulse), 0, 0);
    tl->addWidget(spinEdit("TimedPulseWidth", 5, 500, 5), 0, 1);
    auto* shootTimed = new QPushButton(QStringLiteral("Shoot"), m_timedPulse);
    shootTimed->setObjectName(QStringLiteral("ButtonShootTimed"));
    connect(shootTimed, &QPushButton::clicked, this, [] {
        if (TLaser* laser = Laser())
            laser->EmitPulse(Settings().TimedPulseWidth);
    });
    tl->addWidget(fixedWidth(shootTimed), 0, 2);
    layout->addWidget(m_timedPulse);

    m_pulseTrain = new QGroupBox(QStringLiteral("Emit Pulse Train"), page);
    m_pulseTrain->setObjectName(QStringLiteral("GroupBoxPulseTrain"));
    auto* pl = grid(m_pulseTrain);
    pl->addWidget(caption(tr("Count"), m_pulseTrain), 0, 0);
    pl->addWidget(spinEdit("PulseTrainCount", 1, 999), 0, 1);
    pl->addWidget(caption(tr("Frequency [Hz]"), m_pulseTrain), 1, 0);
    pl->addWidget(floatEdit("PulseTrainRate"), 1, 1);
    auto* shootTrain = new QPushButton(QStringLiteral("Shoot"), m_pulseTrain);
    shootTrain->setObjectName(QStringLiteral("ButtonShootTrain"));
    connect(shootTrain, &QPushButton::clicked, this, [this] {
        // The rate as stored (held within 1..MaxReprate), so the box shows what is fired.
        m_floatEdits.value(QStringLiteral("PulseTrainRate"))->setText(QString::number(Settings().PulseTrainRate));
        if (TLaser* laser = Laser())
            laser->EmitPulseTrain(Settings().PulseTrainCount, Settings().PulseTrainRate);
    });
    pl->addWidget(fixedWidth(shootTrain), 1, 2);
    layout->addWidget(m_pulseTrain);

    m_pulseCounter = new QGroupBox(QStringLiteral("Pulse Counter"), page);
    m_pulseCounter->setObjectName(QStringLiteral("GroupBoxPulseCounter"));
    auto* cg = grid(m_pulseCounter);
    cg->addWidget(caption(QStringLiteral("Total Pulse Count"), m_pulseCounter), 0, 0);
    m_totalCount = new QLabel(m_pulseCounter);
    m_totalCount->setObjectName(QStringLiteral("LabelTotalPulseCount"));
    m_totalCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cg->addWidget(m_totalCount, 0, 1);
    cg->addWidget(caption(QStringLiteral("Pulse Count"), m_pulseCounter), 1, 0);
    m_pulseCount = new QLabel(m_pulseCounter);
    m_pulseCount->setObjectName(QStringLiteral("LabelPulseCount"));
    m_pulseCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cg->addWidget(m_pulseCount, 1, 1);
    auto* reset = new QPushButton(QStringLiteral("Reset"), m_pulseCounter);
    reset->setObjectName(QStringLiteral("ButtonResetPulseCount"));
    connect(reset, &QPushButton::clicked, this, [this] {
        if (PulseCountTracker::GetInstance().ResetPulseCount())
            m_pulseCount->setText(QStringLiteral("0"));
    });
    cg->addWidget(fixedWidth(reset), 1, 2);
    layout->addWidget(m_pulseCounter);
    layout->addStretch();

    // The caption column as wide as the widest caption of the page, in every group.
    int captionWidth = 0;
    const QList<QGridLayout*> grids = {ll, lc, tl, pl, cg};
    for (QGridLayout* g : grids)
        for (int r = 0; r < g->rowCount(); ++r)
            if (QLayoutItem* item = g->itemAtPosition(r, 0); item && item->widget() && item->widget() != m_report)
                captionWidth = std::max(captionWidth, item->widget()->sizeHint().width());
    for (QGridLayout* g : grids)
        g->setColumnMinimumWidth(0, captionWidth);
    return page;
}

QWidget* TfrmSettings::buildPulsePage()
{
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    m_register = new QComboBox(page);
    m_register->setObjectName(QStringLiteral("ComboBoxPulseSource"));
    m_register->addItems({QStringLiteral("Laser"), QStringLiteral("Thyratron"), QStringLiteral("Optic Cleaning"),
                          QStringLiteral("Optic Exchange")});
    connect(m_register, &QComboBox::currentIndexChanged, this, &TfrmSettings::refreshPulseOverview);
    layout->addWidget(m_register);
    m_overview = new QPlainTextEdit(page);
    m_overview->setObjectName(QStringLiteral("MemoPulseOverview"));
    m_overview->setReadOnly(true);
    layout->addWidget(m_overview);
    auto* form = new QFormLayout;
    m_partNumber = new QLineEdit(page);
    m_partNumber->setObjectName(QStringLiteral("EditPartNumber"));
    form->addRow(tr("Part number"), m_partNumber);
    m_installDate = new QDateEdit(QDate::currentDate(), page);
    m_installDate->setObjectName(QStringLiteral("DatePicker"));
    m_installDate->setCalendarPopup(true);
    form->addRow(tr("Date"), m_installDate);
    m_installTime = new QTimeEdit(QTime::currentTime(), page);
    m_installTime->setObjectName(QStringLiteral("TimePicker"));
    form->addRow(tr("Time"), m_installTime);
    layout->addLayout(form);
    auto* set = new QPushButton(QStringLiteral("Set"), page);
    set->setObjectName(QStringLiteral("ButtonPulseSet"));
    connect(set, &QPushButton::clicked, this, &TfrmSettings::PulseSetClick);
    layout->addWidget(set, 0, Qt::AlignLeft);
    return page;
}

QWidget* TfrmSettings::buildAdministrationPage()
{
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);

    auto* service = new QGroupBox(QStringLiteral("Service Password"), page);
    auto* sl = new QHBoxLayout(service);
    m_password = new QLineEdit(service);
    m_password->setObjectName(QStringLiteral("EditPassword"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setStyleSheet(QStringLiteral("lineedit-password-character: 42")); // "*"
    m_enter = new QPushButton(QStringLiteral("Enter"), service);
    m_enter->setObjectName(QStringLiteral("ButtonEnter"));
    m_enter->setEnabled(false);
    auto* exitService = new QPushButton(QStringLiteral("Exit"), service);
    exitService->setObjectName(QStringLiteral("ButtonExit"));
    connect(m_password, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_enter->setEnabled(m_editor.passwordMatches(text)); });
    connect(m_enter, &QPushButton::clicked, this, [this] {
        m_password->clear();
        m_editor.ST_Service = true;
        refreshProtectedControls();
    });
    connect(exitService, &QPushButton::clicked, this, [this] {
        m_password->clear();
        m_editor.ST_Service = false;
        refreshProtectedControls();
    });
    sl->addWidget(m_password);
    sl->addWidget(m_enter);
    sl->addWidget(exitService);
    layout->addWidget(service);

    auto* backup = new QGroupBox(QStringLiteral("Backup"), page);
    auto* bl = new QGridLayout(backup);
    bl->addWidget(caption(tr("Last backup"), backup), 0, 0);
    m_backupDate = new QLabel(backup);
    m_backupDate->setObjectName(QStringLiteral("LabelBackupdate"));
    bl->addWidget(m_backupDate, 0, 1);
    bl->addWidget(caption(tr("Backup folder"), backup), 1, 0);
    m_backupFolder = new QLabel(backup);
    m_backupFolder->setObjectName(QStringLiteral("LabelBackupPath"));
    bl->addWidget(m_backupFolder, 1, 1);
    bl->addWidget(checkBox("CheckBoxAuto_Backup", QStringLiteral("Automatic")), 2, 0);
    auto* editFolder = new QPushButton(QStringLiteral("Edit backup folder"), backup);
    editFolder->setObjectName(QStringLiteral("ButtonEditBackupFolder"));
    connect(editFolder, &QPushButton::clicked, this, [this] {
        EditBackupFolder(operatorDialogs(), AppRegistry(), Settings());
        showBackupFields();
    });
    m_manualBackup = new QPushButton(QStringLiteral("Create manual backup"), backup);
    m_manualBackup->setObjectName(QStringLiteral("ButtonManualBackup"));
    connect(m_manualBackup, &QPushButton::clicked, this, &TfrmSettings::makeManualBackup);
    auto* link = new QPushButton(QStringLiteral("Set Vaultkeep link"), backup);
    link->setObjectName(QStringLiteral("ButtonVaultkeepLink"));
    connect(link, &QPushButton::clicked, this,
            [] { SetVaultkeepLink(operatorDialogs(), AppRegistry(), Settings()); });
    bl->addWidget(editFolder, 3, 0);
    bl->addWidget(m_manualBackup, 3, 1);
    bl->addWidget(link, 4, 0);
    layout->addWidget(backup);

    auto* working = new QGroupBox(QStringLiteral("Working directory"), page);
    auto* wl = new QHBoxLayout(working);
    m_workingDir = new QLabel(working);
    m_workingDir->setObjectName(QStringLiteral("LabelWorkingDir"));
    auto* edit = new QPushButton(QStringLiteral("Edit"), working);
    edit->setObjectName(QStringLiteral("ButtonEditWorkingDir"));
    connect(edit, &QPushButton::clicked, this, [this] {
        EditWorkingDirectory(operatorDialogs(), AppRegistry(), Settings());
        showBackupFields();
    });
    wl->addWidget(m_workingDir, 1);
    wl->addWidget(edit);
    layout->addWidget(working);
    layout->addStretch();
    return page;
}

QWidget* TfrmSettings::buildMiscPage()
{
    auto* page = new QWidget(this);
    auto* layout = new QGridLayout(page);

    auto* templates = new QGroupBox(QStringLiteral("Templates"), page);
    auto* tl = new QVBoxLayout(templates);
    tl->addWidget(checkBox("CheckBoxAutoTemplateName", QStringLiteral("Load templates on starting ")));
    tl->addWidget(checkBox("CheckBoxIgnoreGridleheigh", QStringLiteral("Ignore template Girdle height")));
    tl->addWidget(checkBox("CheckBoxIgnoreSlantAngle", QStringLiteral("Ignore template Slant Angle")));
    layout->addWidget(templates, 0, 0);

    auto* deletes = new QGroupBox(QStringLiteral("Delete Behavior"), page);
    auto* dl = new QVBoxLayout(deletes);
    dl->addWidget(checkBox("CheckBoxDeleteLabelAfterF10", QStringLiteral("Delete label after marking")));
    dl->addWidget(checkBox("CheckBoxDeletePictureAfterF10", QStringLiteral("Delete picture after marking")));
    dl->addWidget(checkBox("CheckBoxDeleteSpaceAfterF10", QStringLiteral("Delete space after marking")));
    dl->addWidget(checkBox("CheckBoxDeleteLogoAfterF10", QStringLiteral("Delete logo after  marking")));
    layout->addWidget(deletes, 1, 0);

    auto* advanced = new QGroupBox(QStringLiteral("Advanced"), page);
    auto* al = new QGridLayout(advanced);
    al->addWidget(checkBox("CheckBoxTargetLabelAfterF10", QStringLiteral("Select label after marking")), 0, 0, 1, 2);
    al->addWidget(checkBox("CheckBoxFormatLabelText", QStringLiteral("Only see scanned barcode in label field")), 1, 0,
                  1, 2);
    al->addWidget(checkBox("CheckBoxDeleteZAZBZCAfterF12",
                           QStringLiteral("Remove left and right focus when free axes (F12)")),
                  2, 0, 1, 2);
    auto* show = new QPushButton(QStringLiteral("Show"), advanced);
    show->setObjectName(QStringLiteral("ButtonShowLabelView"));
    connect(show, &QPushButton::clicked, this, &TfrmSettings::labelViewRequested);
    al->addWidget(show, 3, 0);
    al->addWidget(checkBox("CheckBoxshowatstartup", QStringLiteral("Show Label View at startup")), 3, 1);
    layout->addWidget(advanced, 2, 0);

    auto* warnings = new QGroupBox(QStringLiteral("Label Warnings"), page);
    auto* wl = new QGridLayout(warnings);
    wl->addWidget(caption(QStringLiteral("Allowed text type"), warnings), 0, 0);
    m_textType = new QComboBox(warnings);
    m_textType->setObjectName(QStringLiteral("ComboBoxWLabelTextType"));
    m_textType->addItems(labelTextTypes());
    wl->addWidget(m_textType, 0, 1, 1, 2);
    wl->addWidget(caption(QStringLiteral("Allowed text length"), warnings), 1, 0);
    m_textLengthMode = new QComboBox(warnings);
    m_textLengthMode->setObjectName(QStringLiteral("ComboBoxWLabeTextLengthMode"));
    m_textLengthMode->addItems(labelTextLengthModes());
    wl->addWidget(m_textLengthMode, 1, 1);
    auto* length = new QSpinBox(warnings);
    length->setObjectName(QStringLiteral("SpinEditWLabelTextLength"));
    length->setRange(0, 100);
    length->setSizePolicy(QSizePolicy::Fixed, length->sizePolicy().verticalPolicy());
    m_spinEdits.insert(QStringLiteral("WLabelTextLength"), length); // copied at OK only
    wl->addWidget(length, 1, 2);
    wl->addWidget(checkBox("CheckBoxWLabelCheckBeforeEngrave", QStringLiteral("Check before envrage")), 2, 0, 1, 3);
    layout->addWidget(warnings, 3, 0);

    layout->addWidget(buildLightGroup(), 0, 1, 4, 1);
    return page;
}

QGroupBox* TfrmSettings::buildLightGroup()
{
    auto* group = new QGroupBox(QStringLiteral("Advanced Illumination"), this);
    auto* layout = new QVBoxLayout(group);

    auto* port = new QHBoxLayout;
    port->addWidget(caption(QStringLiteral("Port: COM"), group));
    m_comPort = new QSpinBox(group);
    m_comPort->setObjectName(QStringLiteral("SpinEditComPort"));
    m_comPort->setRange(0, 20);
    m_comPort->setValue(8);
    port->addWidget(m_comPort);
    port->addWidget(caption(tr("or device"), group));
    m_lightDevice = new QLineEdit(group);
    m_lightDevice->setObjectName(QStringLiteral("EditLightDevice"));
    m_lightDevice->setPlaceholderText(QStringLiteral("/dev/ttyACM0"));
    port->addWidget(m_lightDevice);
    layout->addLayout(port);

    auto* conn = new QHBoxLayout;
    m_connect = new QPushButton(QStringLiteral("Connect"), group);
    m_connect->setObjectName(QStringLiteral("ButtonConnect"));
    m_disconnect = new QPushButton(QStringLiteral("Disconnect"), group);
    m_disconnect->setObjectName(QStringLiteral("ButtonDisconnect"));
    m_lightStatus = new QLabel(QStringLiteral("Disconnected"), group);
    m_lightStatus->setObjectName(QStringLiteral("LabelLightStatus"));
    connect(m_connect, &QPushButton::clicked, this, &TfrmSettings::lightConnect);
    connect(m_disconnect, &QPushButton::clicked, this, &TfrmSettings::lightDisconnect);
    conn->addWidget(m_connect);
    conn->addWidget(m_disconnect);
    conn->addWidget(m_lightStatus);
    layout->addLayout(conn);

    // The sixteen LEDs around the ring: a check box and a coloured "@" each.
    auto* ring = new QWidget(group);
    auto* rg = new QGridLayout(ring);
    for (int i = 0; i < 16; ++i) {
        const double angle = 2 * std::numbers::pi * i / 16;
        const int col = 4 + int(std::lround(3.5 * std::sin(angle)));
        const int row = 4 - int(std::lround(3.5 * std::cos(angle)));
        auto* cell = new QWidget(ring);
        auto* cl = new QHBoxLayout(cell);
        cl->setContentsMargins(0, 0, 0, 0);
        m_ledChecks[i] = new QCheckBox(cell);
        m_ledChecks[i]->setObjectName(QStringLiteral("CheckBoxLed%1").arg(i));
        m_ledLabels[i] = new QLabel(QStringLiteral("@"), cell);
        m_ledLabels[i]->setObjectName(QStringLiteral("LabelLed%1").arg(i));
        cl->addWidget(m_ledChecks[i]);
        cl->addWidget(m_ledLabels[i]);
        rg->addWidget(cell, row, col);
    }
    auto* all = new QCheckBox(QStringLiteral("All"), ring);
    all->setObjectName(QStringLiteral("CheckBoxAllLeds"));
    connect(all, &QCheckBox::toggled, this, [this](bool on) {
        for (QCheckBox* c : m_ledChecks)
            c->setChecked(on);
    });
    rg->addWidget(all, 4, 4);
    layout->addWidget(ring);

    auto* actions = new QHBoxLayout;
    auto addLightButton = [&](const char* name, const QString& text) {
        auto* b = new QPushButton(text, group);
        b->setObjectName(QString::fromLatin1(name));
        m_lightButtons << b;
        actions->addWidget(b);
        return b;
    };
    connect(addLightButton("ButtonColors", QStringLiteral("Colors")), &QPushButton::clicked, this,
            &TfrmSettings::lightColors);
    connect(addLightButton("ButtonRotPlus", QStringLiteral("Rot +")), &QPushButton::clicked, this, [this] {
        light().RotatePlus();
        refreshLedLabels();
    });
    connect(addLightButton("ButtonRotMinus", QStringLiteral("Rot -")), &QPushButton::clicked, this, [this] {
        light().RotateMoins();
        refreshLedLabels();
    });
    // The firmware has no brightness command yet; the buttons stay without action.
    addLightButton("ButtonLightPlus", QStringLiteral("Light +"));
    addLightButton("ButtonLightMinus", QStringLiteral("Light -"));
    layout->addLayout(actions);

    auto* templ = new QGroupBox(QStringLiteral("Illumination Template For:"), group);
    auto* tl = new QHBoxLayout(templ);
    m_inspection = new QRadioButton(QStringLiteral("Light Inspection"), templ);
    m_inspection->setObjectName(QStringLiteral("RadioButtonInspection"));
    m_holderFree = new QRadioButton(QStringLiteral("Light Holder Free"), templ);
    m_holderFree->setObjectName(QStringLiteral("RadioButtonHolderFree"));
    connect(m_inspection, &QRadioButton::clicked, this,
            [this] { lightTemplatePicked(QString::fromLatin1(kLightTemplateInspection)); });
    connect(m_holderFree, &QRadioButton::clicked, this,
            [this] { lightTemplatePicked(QString::fromLatin1(kLightTemplateHolderFree)); });
    auto* save = new QPushButton(QStringLiteral("Save"), templ);
    save->setObjectName(QStringLiteral("ButtonSaveTemplate"));
    connect(save, &QPushButton::clicked, this, &TfrmSettings::lightSave);
    tl->addWidget(m_inspection);
    tl->addWidget(m_holderFree);
    tl->addWidget(save);
    layout->addWidget(templ);
    updateLightButtons();
    return group;
}

// ---------------------------------------------------------------------------------------------
// Filling and reading the controls

void TfrmSettings::ApplySettingsToControls()
{
    const TSettings& r = Settings();
    m_filling = true;
    for (auto it = m_floatEdits.cbegin(); it != m_floatEdits.cend(); ++it) {
        const QString& key = it.key();
        QString text;
        if (const auto v = SettingsEditor::boxValue(r, key))
            text = pointText(*v);
        else if (key == QLatin1String("WheelTick1_X"))
            text = QString::number(r.WheelTick1_X, 'f', 1);
        else if (key == QLatin1String("WheelTick1_Y"))
            text = QString::number(r.WheelTick1_Y, 'f', 1);
        else if (key == QLatin1String("WheelTick1_A"))
            text = QString::number(r.WheelTick1_A, 'f', 1);
        it.value()->setText(text);
    }
    const std::pair<const char*, int> spins[] = {
        {"ContourResolution", contourResolutionDegrees(r.ContourResolution)},
        {"ContourBuffering", r.ContourBuffering},
        {"WheelBuffer", r.WheelBuffer},
        {"VideoRefresh", r.VideoRefresh},
        {"VideoScale", r.VideoScale},
        {"VideoAspect", r.VideoAspect},
        {"CrossHairX", r.CrossHairX},
        {"CrossHairY", r.CrossHairY},
        {"PulseTrainCount", r.PulseTrainCount},
        {"TimedPulseWidth", r.TimedPulseWidth},
        {"WLabelTextLength", r.WLabelTextLength},
    };
    for (const auto& [key, value] : spins)
        m_spinEdits.value(QString::fromLatin1(key))->setValue(value);
    for (const ColorField& c : kColorFields)
        paintPanel(m_colorPanels.value(QString::fromLatin1(c.key)), r.*c.field);
    for (int a = 0; a < 4; ++a) {
        (r.*kReversed[a] ? m_minusButtons[a] : m_plusButtons[a])->setChecked(true);
        m_currentCombos[a]->setCurrentIndex(r.*kCurrents[a]);
    }
    m_checks.value(QStringLiteral("CheckBoxUseZaxis"))->setChecked(r.UseZaxis);
    m_checks.value(QStringLiteral("CheckBoxUseAaxis"))->setChecked(r.UseAaxis);
    for (const PolarityBox& p : kPolarity)
        m_polarity.value(QString::fromLatin1(p.key))->setChecked(r.*p.field);
    for (const OkOnlyCheck& c : kOkOnlyChecks)
        m_checks.value(QString::fromLatin1(c.name))->setChecked(r.*c.field);
    m_textType->setCurrentIndex(comboIndexOfStoredText(labelTextTypes(), r.WLabelTextType));
    m_textLengthMode->setCurrentIndex(comboIndexOfStoredText(labelTextLengthModes(), r.WLabeTextLengthMode));
    showCounters(GroupThousands(r.TotalPulseCount), GroupThousands(r.PulseCount));
    showBackupFields();
    try {
        const RingLightPortFields port = ringLightPortFields(keys::read(keys::ArdlightCOMnb));
        m_comPort->setValue(port.comNumber);
        m_lightDevice->setText(port.devicePath);
    } catch (const std::exception&) {
    }
    m_sourceCombo->setCurrentIndex(m_laserSource->selectedIndex());
    m_filling = false;
    m_editor.clearRefused();
    updateRedStates();
    refreshProtectedControls();
    applyLaserSourceView();
}

ControlTexts TfrmSettings::controlTexts() const
{
    ControlTexts texts;
    for (auto it = m_floatEdits.cbegin(); it != m_floatEdits.cend(); ++it) {
        if (!SettingsEditor::isFloatEditKey(it.key()) || it.key() == QLatin1String("Y_CountsPerMM"))
            continue;
        // The boxes take a point; the store's reader takes the locale's separator.
        const QString text = it.value()->text();
        const auto v = StrToFloatPoint(text.trimmed().toStdString());
        texts.insert(it.key(), v ? FloatToStr(*v) : text);
    }
    for (auto it = m_spinEdits.cbegin(); it != m_spinEdits.cend(); ++it)
        texts.insert(it.key(), QString::number(it.value()->value()));
    for (const ColorField& c : kColorFields)
        texts.insert(QString::fromLatin1(c.key),
                     QString::number(fromQColor(m_colorPanels.value(QString::fromLatin1(c.key))->palette().color(
                         QPalette::Window))));
    for (int a = 0; a < 4; ++a) {
        texts.insert(QString::fromLatin1(kAxes[a]) + QStringLiteral("_Reversed"),
                     m_minusButtons[a]->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
        texts.insert(QString::fromLatin1(kAxes[a]) + QStringLiteral("_Current"),
                     QString::number(m_currentCombos[a]->currentIndex()));
    }
    texts.insert(QStringLiteral("showatstartup"),
                 m_checks.value(QStringLiteral("CheckBoxshowatstartup"))->isChecked() ? QStringLiteral("1")
                                                                                      : QStringLiteral("0"));
    texts.insert(QStringLiteral("WLabelTextType"), m_textType->currentText());
    texts.insert(QStringLiteral("WLabeTextLengthMode"), m_textLengthMode->currentText());
    const TSettings& r = Settings();
    texts.insert(QStringLiteral("WorkingDir"), r.WorkingDir);
    texts.insert(QStringLiteral("BackupPath"), r.BackupPath);
    texts.insert(QStringLiteral("Backupdate"), r.Backupdate);
    texts.insert(QStringLiteral("VaultkeepLink"), r.VaultkeepLink);
    return texts;
}

void TfrmSettings::LoadSettingsFromRegistery()
{
    try {
        lapido::LoadSettingsFromRegistery(AppRegistry(), Settings(), controlTexts());
    } catch (const std::exception& e) {
        operatorDialogs().error(QString::fromLocal8Bit(e.what()));
    }
    showBackupFields();
    emit videoTransformChanged();
}

void TfrmSettings::copyOkOnlyControls()
{
    TSettings& r = Settings();
    for (const OkOnlyCheck& c : kOkOnlyChecks)
        r.*c.field = m_checks.value(QString::fromLatin1(c.name))->isChecked();
    r.WLabelTextType = m_textType->currentText();
    r.WLabeTextLengthMode = m_textLengthMode->currentText();
    r.WLabelTextLength = m_spinEdits.value(QStringLiteral("WLabelTextLength"))->value();
}

// ---------------------------------------------------------------------------------------------
// Live edits

void TfrmSettings::EditFloatChange(const QString& key, const QString& text)
{
    if (m_filling)
        return;
    const bool accepted = m_editor.EditFloatChange(key, text);
    // The Y resolution box has no rule of its own: it shows what X holds.
    if (accepted && key == QLatin1String("XY_CountsPerMM"))
        m_floatEdits.value(QStringLiteral("Y_CountsPerMM"))->setText(text);
    updateRedStates();
}

void TfrmSettings::SpinEditChange(const QString& key, const QString& text)
{
    if (m_filling || key == QLatin1String("WLabelTextLength"))
        return;
    if (m_editor.SpinEditChange(key, text) == SettingsEditor::SpinOutcome::StoredVideo) {
        emit videoTransformChanged();
        const TSettings& r = Settings();
        for (const auto& [k, v] : {std::pair{"WheelTick1_X", r.WheelTick1_X}, std::pair{"WheelTick1_Y", r.WheelTick1_Y},
                                   std::pair{"WheelTick1_A", r.WheelTick1_A}})
            m_floatEdits.value(QString::fromLatin1(k))->setText(QString::number(v, 'f', 1));
    }
}

void TfrmSettings::updateRedStates()
{
    for (auto it = m_floatEdits.cbegin(); it != m_floatEdits.cend(); ++it)
        setRed(it.value(), m_editor.isRed(it.key()));
}

void TfrmSettings::refreshProtectedControls()
{
    for (const ProtectedControl& c : SettingsEditor::protectedControls()) {
        if (auto* w = findChild<QWidget*>(QString::fromLatin1(c.name)))
            w->setEnabled(m_editor.isEnabled(c.needs));
    }
}

void TfrmSettings::chooseColor(std::uint32_t TSettings::*field, QLabel* panel)
{
    const auto [color, accepted] = m_chooseColor(toQColor(Settings().*field));
    if (!accepted || !color.isValid())
        return;
    Settings().*field = fromQColor(color);
    paintPanel(panel, Settings().*field);
}

void TfrmSettings::calibrateCamera()
{
    TLaser* laser = Laser();
    TuEye* camera = m_cameraSource ? m_cameraSource() : nullptr;
    if (!laser || !laser->HardwareFound || !camera || !camera->IsPresent()) {
        operatorDialogs().error(tr("Calibration needs the machine and the camera."));
        return;
    }
    if (!CalibrateCameraAndOfferToStore(*laser, *camera, Settings(), AppRegistry(), systemClock(), operatorDialogs()))
        return;
    ApplySettingsToControls();
    emit videoTransformChanged();
}

void TfrmSettings::GetPosition(int row)
{
    TLaser* laser = Laser();
    if (!laser)
        return;
    double x = 0, y = 0, z = 0, w = 0;
    laser->GetPosition(x, y, z, w);
    const QString prefix = QString::fromLatin1(kPositionRows[row]);
    // Setting the texts runs the boxes' own rule, which stores them.
    m_floatEdits.value(prefix + QStringLiteral("_X"))->setText(pointText(x));
    m_floatEdits.value(prefix + QStringLiteral("_Y"))->setText(pointText(y));
    m_floatEdits.value(prefix + QStringLiteral("_Z"))->setText(pointText(z));
}

// ---------------------------------------------------------------------------------------------
// OK, Cancel, showing and hiding

bool TfrmSettings::refuseRedBoxes()
{
    const QStringList refused = m_editor.refusedKeys();
    if (refused.isEmpty())
        return false;
    QStringList lines;
    for (const QString& key : refused) {
        QLineEdit* edit = m_floatEdits.value(key);
        QString page;
        for (int i = 0; edit && i < m_tabs->count(); ++i)
            if (m_tabs->widget(i)->isAncestorOf(edit))
                page = m_tabs->tabText(i);
        lines << QStringLiteral("%1, %2 \"%3\": %4")
                     .arg(page, key, edit ? edit->text() : QString(), m_editor.refusalReason(key));
    }
    // The first refused box is where the operator goes on.
    if (QLineEdit* first = m_floatEdits.value(refused.front())) {
        for (int i = 0; i < m_tabs->count(); ++i)
            if (m_tabs->widget(i)->isAncestorOf(first))
                m_tabs->setCurrentIndex(i);
        first->setFocus(Qt::OtherFocusReason);
        first->selectAll();
    }
    operatorDialogs().error(tr("These values are refused (red) and nothing was saved:\n%1\n\n"
                               "Correct them, or leave with Cancel.")
                                .arg(lines.join(QLatin1Char('\n'))));
    return true;
}

void TfrmSettings::ButtonCloseClick()
{
    // A red box holds a text the record did not take: saving would store what was there before
    // (or what a prefix of the text gave) while the box shows something else.
    if (refuseRedBoxes())
        return;
    if (const auto problem = m_editor.frequencyCheck()) {
        operatorDialogs().error(*problem);
        return;
    }
    copyOkOnlyControls();
    // What the controller or the laser source would refuse never reaches the store: the next
    // start could not set the machine up.
    const auto refusedByMachine = RefusedMachineSettings(Settings());
    for (const RefusedSetting& r : refusedByMachine)
        m_editor.refuseValue(r.key, r.reason);
    if (!refusedByMachine.empty()) {
        updateRedStates();
        refuseRedBoxes();
        return;
    }
    try {
        SaveSettingsToRegistery(AppRegistry(), Settings());
    } catch (const std::exception& e) {
        operatorDialogs().error(QString::fromLocal8Bit(e.what()));
        return;
    }
    ApplyMotionSettings();
    ApplyLaserSettings();
    accept();
}

void TfrmSettings::done(int result)
{
    // Cancel, Escape and the close box all come here: the record goes back to the store.
    // Shots counted since the last write are written first, or the reload would drop them.
    if (result != QDialog::Accepted) {
        PulseCountTracker::GetInstance().SavePulseCounters();
        LoadSettingsFromRegistery();
    }
    QDialog::done(result);
}

bool TfrmSettings::ApplyMotionSettings()
{
    TLaser* laser = Laser();
    if (!laser)
        return true;
    if (const auto error = lapido::ApplyMotionSettings(Settings(), *laser)) {
        operatorDialogs().error(*error);
        return false;
    }
    return true;
}

void TfrmSettings::ApplyLaserSettings()
{
    lapido::ApplyLaserSettings(*m_laserSource, Settings());
    m_sourceCombo->setCurrentIndex(m_laserSource->selectedIndex());
    applyLaserSourceView();
}

void TfrmSettings::showEvent(QShowEvent* event)
{
    ApplySettingsToControls();
    QDialog::showEvent(event);
    if (TLedsRGB* l = shownLight(); m_tabs->currentWidget() == m_miscPage && l && l->IsConnected()) {
        l->LoadLedsColor();
        refreshLedLabels();
    }
    updateLightButtons();
    updateLaserTimer();
}

void TfrmSettings::returnMotionTest()
{
    if (m_motionTest && m_motionTest->parentWidget() == this)
        m_motionTest->setParent(m_motionTestOwner, Qt::Window);
}

void TfrmSettings::hideEvent(QHideEvent* event)
{
    if (m_motionTest)
        m_motionTest->hide();
    returnMotionTest();
    m_laserTimer.stop();
    QDialog::hideEvent(event);
}

void TfrmSettings::onTabChanged(int)
{
    if (m_tabs->currentWidget() != m_motionPage && m_motionTest)
        m_motionTest->hide();
    if (TLedsRGB* l = shownLight(); m_tabs->currentWidget() == m_miscPage && l && l->IsConnected()) {
        l->LoadLedsColor();
        refreshLedLabels();
    }
    if (m_tabs->currentWidget() == m_pulseCounter->parentWidget())
        showCounters(GroupThousands(Settings().TotalPulseCount), GroupThousands(Settings().PulseCount));
    if (m_register && m_tabs->currentWidget() == m_register->parentWidget())
        refreshPulseOverview();
    updateLaserTimer();
}

// ---------------------------------------------------------------------------------------------
// Laser page

void TfrmSettings::ComboBoxSourceSelect(int index)
{
    m_laserSource->ComboBoxSourceSelect(index, Settings());
    // A plug-in may have set the highest pulse rate.
    m_filling = true;
    m_floatEdits.value(QStringLiteral("MaxReprate"))->setText(QString::number(Settings().MaxReprate));
    m_filling = false;
    applyLaserSourceView();
}

void TfrmSettings::applyLaserSourceView()
{
    const LaserSourceView& v = m_laserSource->view();
    setWindowTitle(v.caption.isEmpty() ? QStringLiteral("Settings") : v.caption);
    m_showPanel->setEnabled(v.showButtonEnabled);
    m_maxPulseBox->setVisible(v.maxPulseFrequencyVisible);
    m_maxPulseCaption->setVisible(v.maxPulseFrequencyVisible);
    m_pulseCounter->setVisible(v.pulseCounterVisible);
    m_pulseTrain->setVisible(v.pulseTrainVisible);
    m_timedPulse->setVisible(v.timedPulseVisible);
    const std::tuple<LaserRow&, bool, bool, bool> rows[] = {
        {m_current, v.currentVisible, v.currentReadBackVisible, v.currentCommandVisible},
        {m_power, v.powerVisible, v.powerReadBackVisible, v.powerCommandVisible},
        {m_frequency, v.frequencyVisible, v.frequencyReadBackVisible, v.frequencyCommandVisible},
    };
    for (const auto& [row, visible, readBack, command] : rows) {
        row.row->setVisible(visible);
        row.readBack->setVisible(visible && readBack);
        row.command->setVisible(visible && command);
    }
    m_report->setVisible(v.reportVisible);
    // The pulse counter, which the source's view counts in its group, has a group of its own
    // here: the source's group shows only when it holds one of the source's own controls.
    m_laserControl->setVisible(v.groupVisible
                               && (v.currentVisible || v.powerVisible || v.frequencyVisible || v.reportVisible));
    emit laserSourceChanged();
}

void TfrmSettings::LaserReadBack()
{
    if (const auto f = m_laserSource->frequency())
        m_frequency.readBack->setText(QString::number(*f));
    if (const auto p = m_laserSource->power())
        m_power.readBack->setText(FloatToStr(*p));
    if (const auto c = m_laserSource->current())
        m_current.readBack->setText(FloatToStr(*c));
    if (const auto report = m_laserSource->report())
        m_report->setPlainText(*report);
}

void TfrmSettings::updateLaserTimer()
{
    if (isVisible() && m_tabs->currentWidget() == m_laserPage)
        m_laserTimer.start();
    else
        m_laserTimer.stop();
}

void TfrmSettings::UpdatePulseCount(std::int64_t Count)
{
    PulseCountTracker& tracker = PulseCountTracker::GetInstance();
    tracker.UpdatePulseCount(Count);
    showCounters(tracker.totalPulseCountText(), tracker.pulseCountText());
}

void TfrmSettings::showCounters(const QString& total, const QString& sinceReset)
{
    m_totalCount->setText(total);
    m_pulseCount->setText(sinceReset);
}

// ---------------------------------------------------------------------------------------------
// Pulse page

void TfrmSettings::refreshPulseOverview()
{
    TPulseCounters& registers = TPulseCounters::GetInstance();
    QString text;
    switch (m_register->currentIndex()) {
    case 0: text = registers.GetLaserPulseData(); break;
    case 1: text = registers.GetThyratronExchangeData(); break;
    case 2: text = registers.GetOpticCleaningData(); break;
    case 3: text = registers.GetOpticExchangeData(); break;
    default: break;
    }
    m_overview->setPlainText(text);
}

void TfrmSettings::PulseSetClick()
{
    const QString part = m_partNumber->text();
    if (!part.isEmpty() && m_register->currentIndex() == 0) {
        TPulseCounters& registers = TPulseCounters::GetInstance();
        const QDateTime installed(m_installDate->date(), m_installTime->time());
        if (!registers.AppendLaserUnitPulses(part, 0, installed))
            operatorDialogs().error(registers.lastError());
    }
    refreshPulseOverview();
}

// ---------------------------------------------------------------------------------------------
// Administration page

void TfrmSettings::showBackupFields()
{
    const TSettings& r = Settings();
    m_backupDate->setText(r.Backupdate);
    m_backupFolder->setText(r.BackupPath);
    m_backupFolder->setToolTip(r.BackupPath);
    m_workingDir->setText(r.WorkingDir);
}

void TfrmSettings::makeManualBackup()
{
    m_manualBackup->setEnabled(false);
    MakeBackup(AppRegistry(), Settings(), processStarter(), QDateTime::currentDateTime(), userLocale());
    showBackupFields();
    m_manualBackup->setEnabled(true);
}

void TfrmSettings::AutoBackup()
{
    lapido::AutoBackup(AppRegistry(), Settings(), processStarter(), QDateTime::currentDateTime(), userLocale());
    showBackupFields();
}

// ---------------------------------------------------------------------------------------------
// Ring light

TLedsRGB& TfrmSettings::light()
{
    if (!m_light)
        m_light = &TLedsRGB::GetInstance();
    return *m_light;
}

TLedsRGB* TfrmSettings::shownLight() const
{
    // The station connects its light at start: that one is the page's until another is handed.
    return m_light ? m_light : TLedsRGB::ExistingInstance();
}

void TfrmSettings::lightConnect()
{
    m_connect->setEnabled(false);
    TLedsRGB& l = light();
    l.setCOMP(ringLightPortName(m_comPort->value(), m_lightDevice->text()));
    if (l.IsConnected()) {
        l.LoadLedsColor();
        refreshLedLabels();
    }
    updateLightButtons();
}

void TfrmSettings::lightDisconnect()
{
    light().disconnect();
    updateLightButtons();
}

void TfrmSettings::updateLightButtons()
{
    const TLedsRGB* l = shownLight();
    const bool connected = l && l->IsConnected();
    m_connect->setEnabled(!connected);
    m_disconnect->setEnabled(connected);
    for (QAbstractButton* b : m_lightButtons)
        b->setEnabled(connected);
    m_lightStatus->setText(connected ? QStringLiteral("Connected") : QStringLiteral("Disconnected"));
}

void TfrmSettings::refreshLedLabels()
{
    TLedsRGB* l = shownLight();
    if (!l)
        return;
    for (const QString& entry : l->GetLedsColor()) {
        const auto led = parseLedEntry(entry);
        if (!led || led->index >= int(m_ledLabels.size()))
            continue;
        setTextColor(m_ledLabels[led->index], QColor(led->red, led->green, led->blue));
    }
}

void TfrmSettings::lightColors()
{
    // The dialog's colour is taken even when it was cancelled, as the page always did.
    const QColor color = m_chooseColor(QColor(Qt::white)).first;
    TLedsRGB& l = light();
    for (int i = 0; i < int(m_ledChecks.size()); ++i)
        if (m_ledChecks[i]->isChecked())
            l.ChangeLedColor(i, color.red(), color.green(), color.blue());
    l.ApplyLedsColor();
    refreshLedLabels();
}

void TfrmSettings::lightTemplatePicked(const QString& name)
{
    light().LoadLedsTemplate(name);
    refreshLedLabels();
}

void TfrmSettings::lightSave()
{
    if (m_inspection->isChecked())
        light().SaveLedsTemplate(QString::fromLatin1(kLightTemplateInspection));
    else if (m_holderFree->isChecked())
        light().SaveLedsTemplate(QString::fromLatin1(kLightTemplateHolderFree));
    else
        operatorDialogs().error(QStringLiteral("No target to save!"));
}

} // namespace lapido
