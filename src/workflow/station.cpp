// TStation: construction, the window's life cycle without widgets, start switches, the
// symbol-list encoding, the timers' actions, jogging and the reset-button variants.
#include "workflow/station.h"

#include "glyphs/fontoutlines.h"
#include "glyphs/glyph.h"
#include "glyphs/richstring.h"
#include "machine/applysettings.h"
#include "machine/laser.h"
#include "platform/debuglog.h"
#include "platform/operatordialogs.h"
#include "platform/stationglobals.h"
#include "records/stlogfile.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "workflow/templatelist.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextDocument>

#include <algorithm>
#include <cmath>

namespace lapido {

namespace {

QString versionText()
{
    const QString v = QCoreApplication::applicationVersion();
    return v.isEmpty() ? QStringLiteral("0.0.0.0") : v;
}

} // namespace

TStation::TStation(TStationServices services)
    : m_services(std::move(services)),
      m_richEdit(std::make_unique<DocumentRichEdit>())
{
    m_edits[static_cast<size_t>(TEditBox::EditSlant)].text = QStringLiteral("0.0");
    m_labelStep = m_labelSaved = Tree2XML();
}

TStation::~TStation()
{
    // Label glyphs keep a pointer to the rich edit; free the tree while it still exists.
    m_glyphAutoInc = nullptr;
    m_tree.Clear();
}

FileLogger& TStation::logger()
{
    return m_services.logger ? *m_services.logger : FileLogger::GetInstance();
}

// --- start switches and the symbol-list encoding -------------------------------------------------

void TStation::ParseStartSwitches(const QStringList& arguments)
{
    for (const QString& argument : arguments) {
        const QString upper = argument.toUpper();
        if (upper == QStringLiteral("/DEBUG"))
            setDebugMode(true);
        else if (upper == QStringLiteral("/NOHOMING"))
            setNoHoming(true);
    }
}

QString TStation::EncodeSymbolList(const QString& symbols)
{
    QString out;
    out.reserve(symbols.size() * 5);
    for (QChar c : symbols)
        out += QStringLiteral("$%1").arg(c.unicode(), 4, 16, QChar('0')).toUpper();
    return out;
}

QString TStation::DecodeSymbolList(const QString& stored)
{
    // Pieces of five characters, "$" and four hexadecimal digits. A piece that is not one (a
    // hand-edited store) is skipped rather than turned into a wrong character.
    QString out;
    for (qsizetype i = 0; i + 5 <= stored.size(); i += 5) {
        const QString piece = stored.mid(i, 5);
        if (piece.at(0) != QChar('$'))
            continue;
        bool ok = false;
        const uint code = piece.mid(1).toUInt(&ok, 16);
        if (ok)
            out += QChar(static_cast<char16_t>(code));
    }
    return out;
}

// --- life cycle ---------------------------------------------------------------------------------

void TStation::FormCreate()
{
    if (keys::read(keys::WorkingDir).isEmpty())
        keys::write(keys::WorkingDir, DefaultWorkingDir());
    QString dir = keys::read(keys::WorkingDir);
    if (!dir.isEmpty() && !dir.endsWith('/') && !dir.endsWith('\\'))
        dir += '/';
    setWorkingDir(dir);
    QDir().mkpath(WorkingDir() + QStringLiteral("Logos"));

    AIMState = TAIMState::aimsHoming;
    m_disableGlyphPropertiesChangeEvent = false;
    DefaultSymbolList.clear();
    setDebugMode(false);
    setNoHoming(false);
    if (QCoreApplication::instance())
        ParseStartSwitches(QCoreApplication::arguments());

    m_xytfSlant.Clear();
    m_controls.panel = TPropertyPanel::None;

    AxisPosition_X = AxisPosition_Y = AxisPosition_Z = m_axisPositionW = 0;
    MarkingReference_X = MarkingReference_Y = MarkingReference_Z = 0;
    CuvatureLeft_X = CuvatureLeft_Z = CuvatureRight_X = CuvatureRight_Z = 0;
    m_curvatureA = m_curvatureB = m_curvatureC = 0;
    m_markingTreeNode = nullptr;

    m_glyphAutoInc = nullptr;
    m_circleLeft = m_circleRight = m_circleTop = m_circleBottom = m_circleCenter = TCircleCoord{};
    m_circleChecked = TCirclePoint::None;
    RemoveBarCodeFromRegistry();
    StartTFApplication();

    LogDebug(QStringLiteral("Start."));
    LogDebug(QStringLiteral("LA version: ") + versionText());

    if (keys::read(keys::ResetAndFreeEnable) == 1) {
        m_controls.resetCaption = QStringLiteral("Reset and Free\r\nHolder (F10)");
        m_controls.goToStartCaption = QStringLiteral("Go to Start\r\npos. (F11)");
    } else {
        m_controls.resetCaption = QStringLiteral("Reset (F10)");
        m_controls.resetHint = QStringLiteral("Reset");
    }
    m_controls.bitBtnResetVisible = true;
    m_controls.bitBtn3Visible = false;

    GlyphPropertiesChange();
    m_templates = std::make_unique<TTemplateList>();
    m_templateIndex = 0;
}

TTemplateList& TStation::templateList() const
{
    if (!m_templates)
        m_templates = std::make_unique<TTemplateList>();
    return *m_templates;
}

void TStation::FormShow()
{
    EditFloatChange(TEditBox::EditDiam, keys::read(keys::DiamondDiameter));
    EditFloatChange(TEditBox::EditGirdle, keys::read(keys::DiamondGirdle));

    DefaultRichEditFont = keys::read(keys::RichLabelFont);
    // A style is stored as its index: bit 0 italic, bit 1 bold; underline and strike-out are lost.
    DefaultRichEditStyle = IndexToFontStyle(keys::read(keys::RichLabelStyle));
    {
        // New text in the editor takes the default font and style.
        QTextDocument& doc = m_richEdit->document();
        QFont font = doc.defaultFont();
        font.setFamily(DefaultRichEditFont);
        font.setBold(DefaultRichEditStyle.testFlag(fsBold));
        font.setItalic(DefaultRichEditStyle.testFlag(fsItalic));
        doc.setDefaultFont(font);
        doc.setPlainText(keys::read(keys::RichLabel));
    }
    EditFloatChange(TEditBox::EditGlyphLabelHeight, keys::read(keys::RichLabelHeight));
    EditFloatChange(TEditBox::EditGlyphLabelOffset, keys::read(keys::RichLabelOffset));
    EditFloatChange(TEditBox::EditGlyphLabelSpacing, keys::read(keys::RichLabelSpacing));

    TextLabel = keys::read(keys::TextLabel);
    TextLabelFont = keys::read(keys::TextLabelFont);
    TextLabelStyle = IndexToFontStyle(keys::read(keys::TextLabelStyle));
    EditFloatChange(TEditBox::EditGlyphTextHeight, keys::read(keys::TextLabelHeight));
    EditFloatChange(TEditBox::EditGlyphTextOffset, keys::read(keys::TextLabelOffset));
    EditFloatChange(TEditBox::EditGlyphTextSpacing, keys::read(keys::TextLabelSpacing));

    DefaultSymbolList = DecodeSymbolList(keys::read(keys::SymbolList));
    SymbolListFont = keys::read(keys::SymbolListFont);
    SymbolListStyle = IndexToFontStyle(keys::read(keys::SymbolListStyle));
    EditFloatChange(TEditBox::EditGlyphSymbolsHeight, keys::read(keys::SymbolListHeight));
    EditFloatChange(TEditBox::EditGlyphSymbolsOffset, keys::read(keys::SymbolListOffset));
    EditFloatChange(TEditBox::EditGlyphSymbolsSpacing, keys::read(keys::SymbolListSpacing));

    DefaultLogoName = keys::read(keys::LogoName);
    EditFloatChange(TEditBox::EditGlyphLogoHeight, keys::read(keys::LogoHeight));
    EditFloatChange(TEditBox::EditGlyphLogoOffset, keys::read(keys::LogoOffset));
    EditFloatChange(TEditBox::EditGlyphPhotoHeight, keys::read(keys::PhotoHeight));
    EditFloatChange(TEditBox::EditGlyphPhotoOffset, keys::read(keys::PhotoOffset));
    EditFloatChange(TEditBox::EditGlyphSpaceWidth, keys::read(keys::SpaceWidth));

    m_photoDir = keys::read(keys::PhotoDir);
    m_pulseTrainCount = keys::read(keys::RollDownPulseTrainCount);
    m_pulseTrainRate = keys::read(keys::RollDownPulseTrainRate);
    m_edits[static_cast<size_t>(TEditBox::Edit_PulseTrainRate)].text = QString::number(m_pulseTrainRate);
    EditFloatChange(TEditBox::EditGrid, keys::read(keys::RollDownGrid));
    ShowGrid = keys::read(keys::RollDownShowGrid);

    LoadFonts();
    m_controls.comboBoxTemplates = true;
    m_controls.templateSave = true;
    m_controls.templateLoad = true;
    m_controls.templateClose = false;

    if (TLaser* laser = Laser()) {
        if (const auto refused = ApplyMotionSettings(Settings(), *laser))
            operatorDialogs().error(*refused);
    }
    if (m_services.applyLaserSettings)
        m_services.applyLaserSettings();

    templateList().SetTemplate(0, Tree2XML());
    refreshTemplateControls();
    if (Settings().AutoTemplateName) {
        for (const QString& name : templateList().GetTemplatesPathLinks())
            templateList().ImportTemplate(name);
        refreshTemplateControls();
    }

    if (m_services.lightTemplate)
        m_services.lightTemplate(QStringLiteral("holderfree"));
    if (Settings().showatstartup && m_services.showLabelView)
        m_services.showLabelView();
    if (m_services.autoBackup)
        m_services.autoBackup();
}

void TStation::LoadFonts()
{
    FontNames = usableFontNames();
}

void TStation::FormActivate()
{
    TLaser* laser = Laser();
    if (laser && !laser->Initialized) {
        m_controls.bitBtnSettingsVisible = false;
        SetAIMSState(TAIMState::aimsHoming);
        laser->Initialize();
        SetAIMSState(TAIMState::aimsAligning);
        m_controls.bitBtnSettingsVisible = true;
    }
}

bool TStation::FormCloseQuery()
{
    TLaser* laser = Laser();
    if (!DebugMode() && laser && laser->Initialized) {
        const DialogButton buttons[] = {{DialogResult::Ok, {}, true}, {DialogResult::Cancel, {}, false}};
        if (operatorDialogs().message(DialogKind::Confirmation, QStringLiteral("Confirm"),
                                      QStringLiteral("Exit Lapidograph?"), buttons)
            != DialogResult::Ok)
            return false;
    }
    if (laser)
        laser->ShutDown();

    const auto text = [this](TEditBox box) { return edit(box).text; };
    keys::write(keys::DiamondDiameter, text(TEditBox::EditDiam));
    keys::write(keys::DiamondGirdle, text(TEditBox::EditGirdle));
    keys::write(keys::RichLabelFont, DefaultRichEditFont);
    keys::write(keys::RichLabelStyle, FontStyleToIndex(DefaultRichEditStyle));
    // The label text is not meant to survive a restart.
    keys::write(keys::RichLabel, QString());
    keys::write(keys::RichLabelHeight, text(TEditBox::EditGlyphLabelHeight));
    keys::write(keys::RichLabelOffset, text(TEditBox::EditGlyphLabelOffset));
    keys::write(keys::RichLabelSpacing, text(TEditBox::EditGlyphLabelSpacing));
    keys::write(keys::TextLabel, TextLabel);
    keys::write(keys::TextLabelFont, TextLabelFont);
    keys::write(keys::TextLabelStyle, FontStyleToIndex(TextLabelStyle));
    keys::write(keys::TextLabelHeight, text(TEditBox::EditGlyphTextHeight));
    keys::write(keys::TextLabelOffset, text(TEditBox::EditGlyphTextOffset));
    keys::write(keys::TextLabelSpacing, text(TEditBox::EditGlyphTextSpacing));
    keys::write(keys::SymbolList, EncodeSymbolList(DefaultSymbolList));
    keys::write(keys::SymbolListFont, SymbolListFont);
    keys::write(keys::SymbolListStyle, FontStyleToIndex(SymbolListStyle));
    keys::write(keys::SymbolListHeight, text(TEditBox::EditGlyphSymbolsHeight));
    keys::write(keys::SymbolListOffset, text(TEditBox::EditGlyphSymbolsOffset));
    keys::write(keys::SymbolListSpacing, text(TEditBox::EditGlyphSymbolsSpacing));
    keys::write(keys::LogoName, DefaultLogoName);
    keys::write(keys::LogoHeight, text(TEditBox::EditGlyphLogoHeight));
    keys::write(keys::LogoOffset, text(TEditBox::EditGlyphLogoOffset));
    keys::write(keys::PhotoHeight, text(TEditBox::EditGlyphPhotoHeight));
    keys::write(keys::PhotoOffset, text(TEditBox::EditGlyphPhotoOffset));
    keys::write(keys::SpaceWidth, text(TEditBox::EditGlyphSpaceWidth));
    keys::write(keys::PhotoDir, m_photoDir);
    keys::write(keys::RollDownPulseTrainCount, m_pulseTrainCount);
    keys::write(keys::RollDownPulseTrainRate, m_pulseTrainRate);
    keys::write(keys::RollDownGrid, text(TEditBox::EditGrid));
    keys::write(keys::RollDownShowGrid, ShowGrid);
    return true;
}

// --- timers -------------------------------------------------------------------------------------

void TStation::TimerLaserTick()
{
    refreshPositionAndPulseCount();
    if (AIMState == TAIMState::aimsHoming || AIMState == TAIMState::aimsAligning) {
        MarkingReference_X = AxisPosition_X;
        MarkingReference_Y = AxisPosition_Y;
        MarkingReference_Z = AxisPosition_Z;
    }
    updateSetFocusEnabled();
}

void TStation::FormControlTimerTick()
{
    m_controls.autoIncEnabled = !Settings().DeleteLabelAfterF10;
}

// --- pulse tools --------------------------------------------------------------------------------

void TStation::SpinEditPulseTrainCountChange(const QString& text)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (ok)
        m_pulseTrainCount = std::clamp(v, 1, 999);
}

void TStation::SpinEditPulseDurationChange(const QString& text)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (ok)
        m_pulseDuration = std::clamp(v, 5, 500);
}

void TStation::ButtonShootPulseTrainClick()
{
    if (AIMState == TAIMState::aimsMarking)
        return;
    m_edits[static_cast<size_t>(TEditBox::Edit_PulseTrainRate)] = TEditText{QString::number(m_pulseTrainRate), false};
    if (TLaser* laser = Laser())
        laser->EmitPulseTrain(m_pulseTrainCount, m_pulseTrainRate);
}

void TStation::ButtonSinglePulseClick()
{
    if (AIMState == TAIMState::aimsMarking)
        return;
    if (TLaser* laser = Laser())
        laser->EmitPulse(m_pulseDuration);
}

// --- jogging ------------------------------------------------------------------------------------

double TStation::JogStep(char axis) const
{
    const TSettings& s = Settings();
    const double pixelUm = s.VideoScale > 0 ? 1000.0 / s.VideoScale : 0;
    switch (axis) {
    case 'X': return pixelUm * s.XMovementSpeedUp * 0.001;
    case 'Y': return pixelUm * s.YMovementSpeedUp * 0.001;
    case 'Z': return s.WheelTick1_Z * s.ZMovementSpeedUp * 0.001;
    default: return 0;
    }
}

QString TStation::JogStepText() const
{
    const auto mm = [this](char axis) { return QString::number(JogStep(axis), 'f', 3); };
    return QStringLiteral("Jog X %1 Y %2 Z %3 mm").arg(mm('X'), mm('Y'), mm('Z'));
}

void TStation::KeyJog(char axis, int direction, int k)
{
    if (AIMState == TAIMState::aimsHoming || AIMState == TAIMState::aimsMarking)
        return;
    TLaser* laser = Laser();
    if (!laser)
        return;
    const double step = (direction < 0 ? -1.0 : 1.0) * JogStep(axis) * k;
    switch (axis) {
    case 'X':
        laser->IncrementX(step);
        break;
    case 'Y':
        laser->IncrementY(step);
        break;
    case 'Z':
        laser->IncrementZ(step);
        break;
    default:
        break;
    }
}

void TStation::WheelJog(char axis, int direction, bool shift, bool ctrl)
{
    if (AIMState == TAIMState::aimsMarking)
        return;
    if (m_controls.down == TSpeedButton::Mark)
        return;
    TLaser* laser = Laser();
    if (!laser)
        return;
    const TSettings& s = Settings();
    const int level = shift && ctrl ? 3 : (shift || ctrl ? 2 : 1);
    const double pixelUm = s.VideoScale > 0 ? 1000.0 / s.VideoScale : 0;
    double tickUm = 0;
    switch (axis) {
    case 'X': tickUm = level == 1 ? pixelUm : (level == 2 ? s.WheelTick2_X : s.WheelTick3_X); break;
    case 'Y': tickUm = level == 1 ? pixelUm : (level == 2 ? s.WheelTick2_Y : s.WheelTick3_Y); break;
    case 'Z': tickUm = level == 1 ? s.WheelTick1_Z : (level == 2 ? s.WheelTick2_Z : s.WheelTick3_Z); break;
    default: return;
    }
    const double step = tickUm * 0.001;
    if (step <= 0)
        return;
    double toGoX = 0, toGoY = 0, toGoZ = 0;
    laser->DistanceToTarget(toGoX, toGoY, toGoZ);
    const double toGo = std::abs(axis == 'X' ? toGoX : (axis == 'Y' ? toGoY : toGoZ));
    // Wheel ticks come faster than the axis moves: queue only a bounded number of steps.
    if (toGo > (s.WheelBuffer + 1) * step + 1e-9)
        return;
    const double move = (direction < 0 ? -1.0 : 1.0) * step;
    if (axis == 'X')
        laser->IncrementX(move);
    else if (axis == 'Y')
        laser->IncrementY(move);
    else
        laser->IncrementZ(move);
}

void TStation::BitBtnExitClick()
{
    if (AIMState != TAIMState::aimsHoming)
        return;
    if (TLaser* laser = Laser()) {
        laser->Reset();
        laser->HardwareFound = false;
    }
}

} // namespace lapido
