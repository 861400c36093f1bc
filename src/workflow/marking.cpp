// TStation: the Align / Inspect / Engrave cycle, the checks before the laser goes on, the glyph
// walk that marks the label, abort, the blower interlock and the book-keeping after a run.
#include "workflow/station.h"
#include "workflow/markingpreview.h"

#include "glyphs/glyph.h"
#include "glyphs/glyphoutline.h"
#include "glyphs/legibility.h"
#include "glyphs/richstring.h"
#include "machine/laser.h"
#include "platform/clock.h"
#include "platform/debuglog.h"
#include "platform/numfmt.h"
#include "platform/operatordialogs.h"
#include "platform/stationglobals.h"
#include "records/lapidographdb.h"
#include "records/pulsecounters.h"
#include "records/stlogfile.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"

#include <QTextDocument>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <optional>
#include <utility>

namespace lapido {

namespace {

constexpr double kFarAway = 1e300;

bool allCharsIn(const QString& S, bool letters, bool digits)
{
    for (const QChar c : S) {
        const char16_t u = c.unicode();
        const bool letter = (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z');
        const bool digit = u >= u'0' && u <= u'9';
        if (!((letters && letter) || (digits && digit)))
            return false;
    }
    return true;
}

// A run that touched the machine can be stopped by the machine's own guard (link lost, nothing
// moving); the walk treats that like the operator's Abort so the trace and the glyphs say so.
class FaultWatch {
public:
    explicit FaultWatch(TLaser* laser) : m_laser(laser), m_before(laser ? laser->lastError() : QString()) {}
    bool faulted() const
    {
        return m_laser && (m_laser->sequenceFaulted() || m_laser->lastError() != m_before);
    }

private:
    TLaser* m_laser;
    QString m_before;
};

} // namespace

// --- character classes of the label-format filter ----------------------------------------------

bool TStation::IsAlphabetic(const QString& S)
{
    return allCharsIn(S, true, false);
}

bool TStation::IsNumeric(const QString& S)
{
    return allCharsIn(S, false, true);
}

bool TStation::IsAlphaNumeric(const QString& S)
{
    return allCharsIn(S, true, true);
}

// --- small helpers ------------------------------------------------------------------------------

bool TStation::atStartPosition() const
{
    return !m_controls.bitBtn3Visible && m_controls.bitBtnResetVisible;
}

void TStation::buildLabelTransform(TXYTransform& XYTF) const
{
    XYTF.SetScale(GirdleHeight(), GirdleHeight());
    XYTF.SetRotation(SlantAngle() * std::numbers::pi / 180.0);
    XYTF.SetOutTranslation(MarkingReference_X, MarkingReference_Y);
}

void TStation::refreshPositionAndPulseCount()
{
    TLaser* laser = Laser();
    if (!laser)
        return;
    laser->GetPosition(AxisPosition_X, AxisPosition_Y, AxisPosition_Z, m_axisPositionW);
    if (m_services.countShots)
        PulseCountTracker::GetInstance().UpdatePulseCount(RoundHalfEven(m_axisPositionW));
}

// --- the cycle ----------------------------------------------------------------------------------

void TStation::SpeedButtonAIMClick(TSpeedButton Sender)
{
    // The click itself puts the button down, whatever the handler then decides.
    m_controls.down = Sender;
    if (atStartPosition()) {
        switch (Sender) {
        case TSpeedButton::Align:
            alignCommand();
            break;
        case TSpeedButton::Inspect:
            LogDebug("Teach - inspect button clicked.");
            SetAIMSState(TAIMState::aimsInspecting);
            SetFocusCurvature();
            break;
        case TSpeedButton::Mark:
            if (const QString why = m_services.notReady ? m_services.notReady() : QString(); !why.isEmpty()) {
                // Nothing has moved or been asked: the button goes back to where it was.
                m_controls.down = AIMState == TAIMState::aimsInspecting ? TSpeedButton::Inspect : TSpeedButton::Align;
                operatorDialogs().information(why);
                break;
            }
            engraveCommand();
            break;
        }
    }
    refreshPositionAndPulseCount();
}

void TStation::alignCommand()
{
    SetAIMSState(TAIMState::aimsToAlign);
    TLaser* laser = Laser();
    if (laser) {
        laser->Stop();
        laser->WaitOnMotionComplete();
        double X = 0, Y = 0, Z = 0, W = 0;
        laser->GetPosition(X, Y, Z, W);
        LogDebug(QStringLiteral("Moving to marking position ") + FloatToStr(MarkingReference_X) + QStringLiteral(" ")
                 + FloatToStr(MarkingReference_Y) + QStringLiteral(" ") + FloatToStr(MarkingReference_Z));
        LogDebug(QStringLiteral("Current position ") + FloatToStr(X) + QStringLiteral(" ") + FloatToStr(Y)
                 + QStringLiteral(" ") + FloatToStr(Z));
        laser->MoveTo(MarkingReference_X, MarkingReference_Y, MarkingReference_Z);
        laser->WaitOnMotionComplete();
        LogDebug("Moving to marking position ended");
    }
    SetAIMSState(TAIMState::aimsAligning);
}

TStation::TLabelFormatVerdict TStation::CheckLabelFormat(const QString& T)
{
    const TSettings& s = Settings();
    const int L = int(T.size());
    const int N = s.WLabelTextLength;
    const QString& M = s.WLabeTextLengthMode;
    const QString& K = s.WLabelTextType;
    TLabelFormatVerdict v;
    if (M.contains(QStringLiteral("Minimum")))
        v.lengthFails = L < N;
    else if (M.contains(QStringLiteral("Maximum")))
        v.lengthFails = L > N;
    else if (M.contains(QStringLiteral("Fixed")))
        v.lengthFails = L != N;
    if (K.contains(QStringLiteral("Alphabetic only")))
        v.typeFails = !IsAlphabetic(T);
    else if (K.contains(QStringLiteral("Numeric only")))
        v.typeFails = !IsNumeric(T);
    else if (K.contains(QStringLiteral("Alphanumeric only")))
        v.typeFails = !IsAlphaNumeric(T);
    return v;
}

bool TStation::labelFormatRefused()
{
    FileLogger& log = logger();
    const TSettings& s = Settings();
    const QString T = m_richEdit->document().toPlainText();
    const int N = s.WLabelTextLength;
    const QString& M = s.WLabeTextLengthMode;
    const QString& K = s.WLabelTextType;
    const QString ok = QStringLiteral(" OK");
    const QString notOk = QStringLiteral(" NOT OK");

    const TLabelFormatVerdict verdict = CheckLabelFormat(T);
    const bool lengthFails = verdict.lengthFails;
    const bool typeFails = verdict.typeFails;
    if (verdict.passes())
        return false;

    const QString body = QStringLiteral("\r\nLabel format does not match the one set in the settings page.\r\n"
                                        "Text Length Filter: ")
                         + M + QStringLiteral(" ") + QString::number(N) + (lengthFails ? notOk : ok)
                         + QStringLiteral(".\r\nText Type Filter: ") + K + (typeFails ? notOk : ok)
                         + QStringLiteral(".\r\nWould you like to inscribe anyway?");
    log.AppendLogWD(QStringLiteral("Operator Warned !") + body);
    // The captions are swapped on purpose: the default button reads "No" although it returns
    // Yes, so that a hurried Enter does not inscribe a label of the wrong format.
    const std::array<DialogButton, 2> buttons{DialogButton{DialogResult::Yes, QStringLiteral("No"), true},
                                              DialogButton{DialogResult::No, QStringLiteral("Yes"), false}};
    const DialogResult answer =
        operatorDialogs().message(DialogKind::Custom, QStringLiteral("Lapidograph"), QStringLiteral("Warning !") + body, buttons);
    if (answer == DialogResult::No) {
        log.AppendLogWD(QStringLiteral("OrY"));
        return false;
    }
    log.AppendLogWD(QStringLiteral("OrN"));
    log.AppendLog(QStringLiteral("Abe"));
    return true;
}

void TStation::engraveCommand()
{
    FileLogger& log = logger();
    const bool check = Settings().WLabelCheckBeforeEngrave;
    log.AppendLog(QStringLiteral("NMR"));
    log.AppendLogWD(QStringLiteral("LWfA"));
    log.AppendLogWD(check ? QStringLiteral("LWfE") : QStringLiteral("LWfD"));
    const bool formatAccepted = std::exchange(m_formatAccepted, false);
    const bool refused = check && !formatAccepted && labelFormatRefused();

    const TMarkScope scope = refused ? TMarkScope::Nothing : askMarkScope();
    // Nothing may move before the label is known to be markable as composed, and a question
    // declined changes nothing: the glyphs are made unmarked only once every answer is yes.
    if (scope == TMarkScope::Nothing || !labelMarkable() || (!formatAccepted && legibilityRefused())) {
        m_controls.down = AIMState == TAIMState::aimsInspecting ? TSpeedButton::Inspect : TSpeedButton::Align;
        return;
    }
    if (scope == TMarkScope::All)
        resetAllMarking();

    LogDebug("Teach? - setting focus curvature while speedbuttonmark was clicked and there is something to mark.");
    SetFocusCurvature();
    TLaser* laser = Laser();
    if (laser) {
        laser->Stop();
        // The operator's Engrave is the new start after a stop by the machine's guard.
        laser->clearGuardStop();
    }
    // The estimate is taken from the state the run starts from, before anything moves.
    std::optional<double> estimatedSeconds;
    m_runPlan.reset();
    m_runGlyphTimes.clear();
    if (laser) {
        const TMarkingPreview preview = PreviewMarking();
        if (preview.markable) {
            estimatedSeconds = preview.seconds;
            m_runEstimateMs = std::llround(preview.seconds * 1000);
            for (const TMarkingPreview::Glyph& g : preview.glyphs)
                m_runGlyphTimes.push_back({g.node, g.startMs, g.endMs});
            m_runPlan = InspectionPlanOf(preview);
            if (m_services.runPlanned)
                m_services.runPlanned(preview);
        }
    }
    SetAIMSState(TAIMState::aimsMarking);
    moveFocus(TFocusTarget::Abort);

    log.AppendLogWD(QStringLiteral("RCbefore\"M\":") + m_richEdit->document().toPlainText());
    if (laser)
        log.StartXYLogging();

    std::optional<double> measuredSeconds;
    if (laser) {
        const std::int64_t startUs = systemClock().nowUs();
        m_progress = TMarkingProgress{};
        m_progress.running = true;
        m_progress.startMs = startUs / 1000;
        runMarkingSequence(*laser);
        const std::int64_t endUs = systemClock().nowUs();
        measuredSeconds = double(endUs - startUs) / 1e6;
        m_progress.running = false;
        m_progress.endMs = endUs / 1000;
        m_progress.aborted = MarkingAborted();
    }

    const bool aborted = MarkingAborted();
    if (aborted)
        log.AppendLogWD(QStringLiteral("Mabu"));
    QString R;
    for (TTreeNode* node : m_tree.Items()) {
        if (!node->Data())
            continue;
        const QString& caption = node->Text();
        if (!caption.contains(QStringLiteral("label"), Qt::CaseInsensitive)
            && !caption.contains(QStringLiteral("photo"), Qt::CaseInsensitive)
            && !caption.contains(QStringLiteral("logo"), Qt::CaseInsensitive))
            continue;
        R += caption;
        log.AppendLogWD(aborted ? QStringLiteral("Istbm:") : QStringLiteral("Im:"));
        log.AppendLogWD(caption);
    }
    if (estimatedSeconds && measuredSeconds)
        log.AppendLogWD(runTimeLine(*estimatedSeconds, *measuredSeconds));
    inspectAfterRun();
    log.WriteEngravingMoveTraceLog();
    log.AppendLog(QStringLiteral("ME"));

    if (m_services.dataBase)
        m_services.dataBase->Insert(R, reportNumber);
    m_controls.down = TSpeedButton::Inspect;
    SetAIMSState(TAIMState::aimsInspecting);
    if (!aborted && m_controls.bitBtnResetVisible)
        moveFocus(TFocusTarget::Reset);
    // A run is over: the shots it fired are kept even if the station dies right after.
    refreshPositionAndPulseCount();
    if (m_services.countShots)
        PulseCountTracker::GetInstance().SavePulseCounters();
}

std::optional<TGlyphProgress> TStation::GlyphProgress() const
{
    if (!m_progress.running || !m_markingTreeNode)
        return std::nullopt;
    const auto planned = std::find_if(m_runGlyphTimes.begin(), m_runGlyphTimes.end(),
                                      [this](const PlannedGlyphTime& g) { return g.node == m_markingTreeNode; });
    if (planned == m_runGlyphTimes.end() || planned->endMs <= planned->startMs)
        return std::nullopt;
    const double glyphMs = double(planned->endMs - planned->startMs);
    const double inGlyphMs = double(std::max<std::int64_t>(0, systemClock().tickMs() - m_progress.glyphStartMs));
    TGlyphProgress p;
    p.glyphSeconds = glyphMs / 1000;
    // A glyph slower than its estimate stays short of done until it is.
    p.share = std::min(inGlyphMs / glyphMs, 0.99);
    // What is left of this glyph, then what the estimate has after it (the glyphs after it and
    // the table's return).
    const double restMs = std::max(0.0, glyphMs - inGlyphMs) + double(std::max<std::int64_t>(0, m_runEstimateMs - planned->endMs));
    p.secondsLeft = restMs / 1000;
    return p;
}

void TStation::runMarkingSequence(TLaser& laser)
{
    // Esc may come while the laser is still being enabled: it must stop this run, so the flag
    // starts clear here and is not cleared again once the laser is on.
    MarkingAborted() = false;
    m_machineStopTold = false;
    const bool enabled = laser.EnableOn();
    if (!enabled && laser.WaitAborted)
        MarkingAborted() = true; // the wait window's Abort (or Esc) is the run's Abort
    if (enabled && !MarkingAborted())
        markOutLines();
    laser.EnableOff();
    // A trip the watchdog's thread had not read yet is found when the laser goes off: the
    // operator hears of it all the same, as the end of the label was not marked.
    if (laser.watchdogTripped() && !m_machineStopTold) {
        MarkingAborted() = true;
        tellMachineStop(laser);
    }
    laser.MoveTo(MarkingReference_X, MarkingReference_Y, MarkingReference_Z);
    laser.WaitOnMotionComplete();
}

QStringList TStation::LabelMarkingProblems() const
{
    QStringList problems;
    const std::vector<TTreeNode*> nodes = m_tree.Items();
    const auto characters = std::count_if(nodes.begin(), nodes.end(),
                                          [](const TTreeNode* n) { return dynamic_cast<const TGlyphChar*>(n->Data()); });
    if (characters > labellimits::kMaxCharacters)
        problems << QStringLiteral("The label holds %1 characters, more than the %2 a girdle can carry")
                        .arg(characters)
                        .arg(labellimits::kMaxCharacters);
    for (TTreeNode* node : nodes) {
        const TGlyph* glyph = node->Data();
        if (!glyph)
            continue;
        const QString problem = glyph->MarkingProblem();
        if (problem.isEmpty())
            continue;
        // The run of a label is named with its label, as the operator knows it.
        QString name = node->Text();
        for (const TTreeNode* p = node->Parent(); p; p = p->Parent())
            name = p->Text() + QStringLiteral(", ") + name;
        problems << name + QStringLiteral(": ") + problem;
    }
    return problems;
}

bool TStation::LabelInsideWorkArea()
{
    TXYTransform XYTF;
    buildLabelTransform(XYTF);
    TCoord Pmin, PMax;
    GetMarkingExtends(XYTF, Pmin, PMax);
    const TSettings& s = Settings();
    const auto inZ = [&s](double z) { return z >= s.Z_MinPos && z <= s.Z_MaxPos; };
    bool inside = Pmin.X >= s.X_MinPos && Pmin.Y >= s.Y_MinPos && PMax.X <= s.X_MaxPos && PMax.Y <= s.Y_MaxPos
                  && inZ(GetFocusHeight(Pmin.X)) && inZ(GetFocusHeight(PMax.X));
    // A curved girdle's focus is highest or lowest at the parabola's vertex; when that lies
    // inside the label the cam would drive Z there, so it must be in range as well.
    if (inside && m_curvatureA != 0) {
        const double vertexX = -m_curvatureB / (2 * m_curvatureA);
        if (vertexX > Pmin.X && vertexX < PMax.X)
            inside = inZ(GetFocusHeight(vertexX));
    }
    return inside;
}

bool TStation::labelMarkable()
{
    const QStringList problems = LabelMarkingProblems();
    if (!problems.isEmpty()) {
        const QString text = QStringLiteral("The label cannot be marked as composed:\r\n") + problems.join(QStringLiteral("\r\n"));
        LogDebug(text);
        operatorDialogs().error(text);
        return false;
    }
    SetFocusCurvature();
    if (!LabelInsideWorkArea()) {
        operatorDialogs().error(QStringLiteral("Label extends outside workarea!"));
        return false;
    }
    return true;
}

std::vector<LegibilityFinding> TStation::LegibilityFindings() const
{
    return CheckLegibility(m_tree, GirdleHeight(), LegibilityLimits::fromSettings(Settings()));
}

bool TStation::legibilityRefused()
{
    const std::vector<LegibilityFinding> findings = LegibilityFindings();
    if (findings.empty())
        return false;
    const QString text = legibilityLines(findings, LegibilityLimits::fromSettings(Settings())).join(QStringLiteral("\r\n"))
                         + QStringLiteral(" Engrave anyway?");
    LogDebug(text);
    // No is the default: an inscription cannot be undone, so a hurried Enter must not mark it.
    const DialogResult answer = operatorDialogs().confirmation(
        text, {DialogButton{DialogResult::Yes, {}, false}, DialogButton{DialogResult::No, {}, true}});
    return answer != DialogResult::Yes;
}

bool TStation::CheckLabelBeforeMarking()
{
    m_formatAccepted = false;
    if (Settings().WLabelCheckBeforeEngrave && labelFormatRefused())
        return false;
    if (!labelMarkable() || legibilityRefused())
        return false;
    m_formatAccepted = true;
    return true;
}

bool TStation::IsThereAnythingToMark()
{
    const TMarkScope scope = askMarkScope();
    if (scope == TMarkScope::All)
        resetAllMarking();
    return scope != TMarkScope::Nothing;
}

void TStation::resetAllMarking()
{
    for (TTreeNode* node : m_tree.Items())
        if (TGlyph* g = node->Data())
            g->ResetMarking();
}

TStation::TMarkScope TStation::askMarkScope()
{
    const std::vector<TTreeNode*> nodes = m_tree.Items();
    if (nodes.empty())
        return TMarkScope::Nothing;
    bool allDone = true;
    for (TTreeNode* node : nodes)
        if (node->Data() && !node->Data()->Processed)
            allDone = false;
    if (allDone) {
        const DialogResult r = operatorDialogs().confirmation(
            QStringLiteral("Engrave all objects once more?"),
            {DialogButton{DialogResult::Ok, {}, true}, DialogButton{DialogResult::Cancel, {}, false}});
        return r == DialogResult::Ok ? TMarkScope::All : TMarkScope::Nothing;
    }
    if (MarkingAborted()) {
        const std::array<DialogButton, 3> buttons{DialogButton{DialogResult::Yes, QStringLiteral("Continue"), true},
                                                  DialogButton{DialogResult::No, QStringLiteral("Restart"), false},
                                                  DialogButton{DialogResult::Cancel, {}, false}};
        const DialogResult r =
            operatorDialogs().message(DialogKind::Custom, QStringLiteral("Lapidograph"), QStringLiteral("Engrave"), buttons);
        if (r == DialogResult::No)
            return TMarkScope::All;
        return r == DialogResult::Yes ? TMarkScope::Remaining : TMarkScope::Nothing;
    }
    return TMarkScope::Remaining;
}

double TStation::TotalLabelWidth() const
{
    double total = 0;
    for (TTreeNode* node : m_tree.Items())
        if (TGlyph* g = node->Data())
            total += g->Width();
    return total;
}

void TStation::GetMarkingExtends(const TXYTransform& XYTF, TCoord& Pmin, TCoord& PMax)
{
    SetMarkPosition(-TotalLabelWidth() / 2, 0);
    PMax = Coord(-kFarAway, -kFarAway);
    Pmin = Coord(kFarAway, kFarAway);
    for (TTreeNode* node : m_tree.Items()) {
        m_markingTreeNode = node;
        if (TGlyph* g = node->Data())
            g->ExtendMarkingRect(XYTF, Pmin, PMax);
    }
    m_markingTreeNode = nullptr;
}

void TStation::MarkOutLines()
{
    MarkingAborted() = false;
    markOutLines();
}

void TStation::markOutLines()
{
    TLaser* laser = Laser();
    TXYTransform XYTF;
    buildLabelTransform(XYTF);
    // Engrave has checked this before anything moved; a direct call is checked here.
    if (!LabelInsideWorkArea()) {
        operatorDialogs().error(QStringLiteral("Label extends outside workarea!"));
        return;
    }
    TCoord Pmin, PMax;
    GetMarkingExtends(XYTF, Pmin, PMax);
    const TSettings& s = Settings();

    const bool curved = focusIsCurved();
    if (curved) {
        const int countsPerMm = laser ? laser->XY_CountsPerMM : s.XY_CountsPerMM;
        Curvature_Span = PMax.X - Pmin.X;
        Curvature_Interval = Curvature_Span / 47;
        // A whole number of XY counts, at least one, so the cam's table matches the encoder.
        const double n = std::trunc(countsPerMm * Curvature_Interval) + 1;
        Curvature_Interval = countsPerMm > 0 ? n / countsPerMm : Curvature_Interval;
        Curvature_Span = 49 * Curvature_Interval;
        Curvature_Start = (Pmin.X + PMax.X) / 2 - Curvature_Span / 2;
        if (laser) {
            double x = Curvature_Start;
            for (double& z : laser->Z_ECAMTable) {
                z = GetFocusHeight(x);
                x += Curvature_Interval;
            }
            laser->XZ_ECAM_Start(Curvature_Start, Curvature_Interval);
        }
    } else {
        LogDebug(QStringLiteral("First move after ecam : AxisPosition_X = ") + FloatToStr(AxisPosition_X)
                 + QStringLiteral(" AxisPosition_Y = ") + FloatToStr(AxisPosition_Y)
                 + QStringLiteral(" MarkingReference_Z = ") + FloatToStr(MarkingReference_Z));
        if (laser) {
            laser->MoveTo(AxisPosition_X, AxisPosition_Y, MarkingReference_Z);
            laser->WaitOnMotionComplete();
        }
    }

    SetMarkPosition(-TotalLabelWidth() / 2, 0);
    const FaultWatch watch(laser);
    bool stoppedByMachine = false;
    const std::vector<TTreeNode*> nodes = m_tree.Items();
    // Inside an Engrave the run's clock is already going; a direct call times itself.
    const bool timedByCaller = m_progress.running;
    if (!timedByCaller) {
        m_progress = TMarkingProgress{};
        m_progress.running = true;
        m_progress.startMs = systemClock().tickMs();
    }
    m_progress.glyph = 0;
    m_progress.glyphCount = int(std::count_if(nodes.begin(), nodes.end(), [](TTreeNode* n) { return n->Data() != nullptr; }));
    for (TTreeNode* node : nodes) {
        if (m_controls.down != TSpeedButton::Mark || MarkingAborted())
            break;
        m_markingTreeNode = node;
        TGlyph* glyph = node->Data();
        if (glyph) {
            ++m_progress.glyph;
            m_progress.glyphStartMs = systemClock().tickMs();
            glyph->Mark(XYTF);
            if (m_afterGlyphMarked)
                m_afterGlyphMarked(node);
        }
        if (watch.faulted() && !MarkingAborted()) {
            LogDebug(QStringLiteral("Marking stopped by the machine: ") + (laser ? laser->lastError() : QString()));
            MarkingAborted() = true;
            stoppedByMachine = true;
        }
        if (node == m_tree.Selected())
            TreeViewGlyphsChange(node);
        // A glyph cut short counts as not marked, so "Continue" marks it again in full.
        if (MarkingAborted() && glyph)
            glyph->ResetMarking();
    }
    m_markingTreeNode = nullptr;
    if (!timedByCaller) {
        m_progress.running = false;
        m_progress.endMs = systemClock().tickMs();
        m_progress.aborted = MarkingAborted();
    }

    if (curved && laser) {
        bool stop = true;
        if (DebugMode())
            stop = operatorDialogs().confirmation(QStringLiteral("Stop Ecam"),
                                                  {DialogButton{DialogResult::Ok, {}, true},
                                                   DialogButton{DialogResult::Cancel, {}, false}})
                   == DialogResult::Ok;
        if (stop)
            laser->XZ_ECAM_Stop();
    }
    // The operator learns that the label on the stone is incomplete, and why, once.
    if (stoppedByMachine)
        tellMachineStop(*laser);
}

void TStation::tellMachineStop(TLaser& laser)
{
    m_machineStopTold = true;
    operatorDialogs().error(QStringLiteral("Marking stopped: ") + laser.lastError() + QStringLiteral(".\n")
                            + laser.laserStateText() + QStringLiteral("; the label is not complete."));
}

void TStation::BitBtnAbortClick()
{
    if (TLaser* laser = Laser()) {
        laser->DisablePulses();
        laser->StopLIXYMode();
    }
    MarkingAborted() = true;
}

// --- state and interlocks -----------------------------------------------------------------------

void TStation::SetAIMSState(TAIMState State)
{
    AIMState = State;
    TStationControls& c = m_controls;
    const bool notMarking = State != TAIMState::aimsMarking;
    const bool working = notMarking && State != TAIMState::aimsHoming;
    c.addButtons = notMarking;
    c.propertyPanels = notMarking;
    c.girdleAndSlant = notMarking;
    c.speedButtonAlign = notMarking;
    c.bitBtnReset = notMarking;
    c.bitBtnSettings = notMarking;
    c.bitBtnExit = notMarking;
    c.bitBtnEditSymbolList = notMarking;
    c.bitBtnLogos = notMarking;
    c.comboBoxTemplates = working;
    c.speedButtonInspect = working;
    c.speedButtonMark = working;
    c.templateSave = working;
    c.templateLoad = working;
    c.templateClose = notMarking && m_templateIndex > 0;
    c.roundAndDiameter = notMarking && Settings().UseAaxis;
    c.gotoStandby = State == TAIMState::aimsAligning;
    c.focusLeftCenterRight = State == TAIMState::aimsInspecting;
    c.abort = State == TAIMState::aimsMarking;
    // A run owns the laser and the table: no test shot in the middle of it.
    c.shootPulses = notMarking;
    if (notMarking) {
        TreeViewGlyphsChange(m_tree.Selected());
    } else {
        c.taskUp = c.taskDown = c.delTask = false;
    }
    updateSetFocusEnabled();
    updateCircleTool();
}

void TStation::BlowerEnableDisableMarking()
{
    m_controls.speedButtonMarkVisible = keys::read(keys::VA5BlowerStatus) != 3;
}

void TStation::KeyF9()
{
    LogDebug("F9 clicked start");
    if (m_controls.speedButtonMark && m_controls.speedButtonMarkVisible) {
        LogDebug("F9 clicked speed button aim click start");
        m_controls.down = TSpeedButton::Mark;
        SpeedButtonAIMClick(TSpeedButton::Mark);
        LogDebug("F9 clicked speed button aim click end");
    }
    LogDebug("F9 clicked end");
}

void TStation::KeyEsc()
{
    if (m_controls.abort)
        BitBtnAbortClick();
}

} // namespace lapido
