// The station's inspection of a run: its plan from the marking rehearsal, the picture after the
// run, the trace line and the inspection log, and the question before a failed stone is freed.
#include "workflow/markingpreview.h"
#include "workflow/station.h"

#include "glyphs/glyph.h"
#include "glyphs/glyphcode.h"
#include "glyphs/glyphoutline.h"
#include "glyphs/glyphphoto.h"
#include "glyphs/strokefonts.h"
#include "platform/debuglog.h"
#include "platform/eventpump.h"
#include "platform/operatordialogs.h"
#include "platform/stationglobals.h"
#include "records/stlogfile.h"
#include "settings/settingsrecord.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <future>

namespace lapido {

namespace {

// Characters the English OCR engine knows: Latin letters, digits and punctuation. The Greek
// stroke font draws Greek letters on Latin keys, so its characters are not among them.
QString fontOf(const TGlyphChar& c)
{
    return c.GlyphWideString ? c.GlyphWideString->FontName : c.FontName;
}

bool readableCharacter(const TGlyphChar& c)
{
    if (fontOf(c).compare(QStringLiteral("GREEKS"), Qt::CaseInsensitive) == 0)
        return false;
    return c.UniCode >= 0x21 && c.UniCode < 0x250;
}

} // namespace

InspectionPlan TStation::InspectionPlanOf(const TMarkingPreview& preview) const
{
    InspectionPlan plan;
    if (!preview.markable)
        return plan;
    // The text as it reads: characters in label order, a space for every space glyph and
    // between separate top-level items.
    const TTreeNode* lastTop = nullptr;
    for (TTreeNode* node : m_tree.Items()) {
        const TTreeNode* top = node;
        while (top->Parent())
            top = top->Parent();
        if (lastTop && top != lastTop && !plan.text.endsWith(QLatin1Char(' ')) && !plan.text.isEmpty())
            plan.text += QLatin1Char(' ');
        lastTop = top;
        const TGlyph* g = node->Data();
        if (const auto* c = dynamic_cast<const TGlyphChar*>(g))
            plan.text += QChar(c->UniCode);
        else if (dynamic_cast<const TGlyphSpace*>(g) && !plan.text.endsWith(QLatin1Char(' ')) && !plan.text.isEmpty())
            plan.text += QLatin1Char(' ');
    }
    plan.text = plan.text.trimmed();

    for (const TMarkingPreview::Glyph& pg : preview.glyphs) {
        if (pg.count == 0 || !pg.node || !pg.node->Data())
            continue;
        PlannedGlyph glyph;
        const TGlyph* g = pg.node->Data();
        if (const auto* c = dynamic_cast<const TGlyphChar*>(g)) {
            glyph.kind = PlannedGlyphKind::Character;
            glyph.text = QString(QChar(c->UniCode));
            glyph.outline = findStrokeFont(fontOf(*c)) == nullptr;
            glyph.readable = readableCharacter(*c);
        } else if (dynamic_cast<const TGlyphPhoto*>(g)) {
            glyph.kind = PlannedGlyphKind::Photo;
            glyph.text = pg.node->Text();
        } else if (const auto* code = dynamic_cast<const TGlyphCode*>(g)) {
            glyph.kind = PlannedGlyphKind::Code;
            glyph.text = pg.node->Text();
            if (code->Matrix && code->Placed.valid) {
                PlannedCode planned;
                planned.content = code->Content;
                planned.qr = code->Symbology == TCodeSymbology::QR;
                planned.rows = code->Matrix->rows;
                planned.cols = code->Matrix->cols;
                planned.dark = code->Matrix->dark;
                planned.originMm = code->Placed.origin;
                planned.colStepMm = code->Placed.colStep;
                planned.rowStepMm = code->Placed.rowStep;
                planned.moduleUm = code->ModuleUm;
                planned.quietModules = code->QuietModules;
                planned.pulseSpanUm = code->pulseSpanUm();
                glyph.code = std::move(planned);
            }
        } else {
            glyph.kind = PlannedGlyphKind::Logo;
            glyph.text = pg.node->Text();
        }
        glyph.marksMm.reserve(pg.count);
        for (std::size_t i = pg.first; i < pg.first + pg.count && i < preview.marks.size(); ++i)
            glyph.marksMm.push_back({preview.marks[i].xMm, preview.marks[i].yMm});
        plan.glyphs.push_back(std::move(glyph));
    }
    return plan;
}

InspectionPlan TStation::PlanInspection()
{
    return InspectionPlanOf(PreviewMarking());
}

QString TStation::InspectionLogPath()
{
    const QString trace = logger().filePath();
    const QDir folder = trace.isEmpty() ? QDir::current() : QFileInfo(trace).absoluteDir();
    return folder.filePath(QStringLiteral("LAInspection.log"));
}

const InspectionResult& TStation::InspectRun(const InspectionPlan& plan, const QImage& picture)
{
    if (!m_inspector)
        m_inspector = std::make_unique<Inspector>();
    const TSettings& s = Settings();
    const InspectionView view =
        InspectionView::fromSettings(s, picture.size(), TCoord{MarkingReference_X, MarkingReference_Y});
    const InspectionLimits limits = InspectionLimits::fromStore(s);
    // Registering the marks and reading the text back take far longer than a frame: they run
    // beside the window, which keeps painting and answering until the verdict is in. The
    // inspector is only ever used by one reading at a time, as this waits for it.
    std::future<InspectionResult> reading = std::async(std::launch::async, [&] {
        return m_inspector->inspect(plan, picture, view, limits);
    });
    while (reading.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready)
        eventPump().pump();
    m_lastInspection = reading.get();
    m_lastInspectionPicture = picture;
    m_inspectionQuestionPending = !m_lastInspection->ok();

    logger().AppendLogWD(m_lastInspection->traceLine());
    // The log beside the trace: the label, then a line per glyph, each with the time.
    QFile log(InspectionLogPath());
    if (log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QByteArray text = (stamp + QStringLiteral("\tlabel \"") + plan.text + QStringLiteral("\"\n")).toUtf8();
        for (const QString& line : m_lastInspection->lines())
            text += (stamp + QLatin1Char('\t') + line + QLatin1Char('\n')).toUtf8();
        if (log.write(text) != text.size() || !log.flush())
            LogDebug(QStringLiteral("The inspection log could not be written: ") + log.errorString());
    } else {
        LogDebug(QStringLiteral("The inspection log could not be opened: ") + log.errorString());
    }
    return *m_lastInspection;
}

void TStation::inspectAfterRun()
{
    std::optional<InspectionPlan> plan = std::exchange(m_runPlan, std::nullopt);
    m_lastInspection.reset();
    m_lastInspectionPicture = QImage();
    m_inspectionQuestionPending = false;
    // A stopped run has left glyphs out on purpose; the operator knows the label is incomplete.
    if (!plan || plan->glyphs.empty() || MarkingAborted() || !m_services.inspectionPicture)
        return;
    const QImage picture = m_services.inspectionPicture();
    if (picture.isNull()) {
        logger().AppendLogWD(QStringLiteral("Inspection: no camera picture"));
        return;
    }
    InspectRun(*plan, picture);
}

bool TStation::holderMayBeFreed()
{
    if (!m_inspectionQuestionPending || !m_lastInspection)
        return true;
    const QString text =
        QStringLiteral("Inspection failed: ") + m_lastInspection->verdict() + QStringLiteral(". Free the holder anyway?");
    // No is the default: a stone with a faulty inscription should not leave unseen.
    const DialogResult answer = operatorDialogs().confirmation(
        text, {DialogButton{DialogResult::Yes, {}, false}, DialogButton{DialogResult::No, {}, true}});
    QFile log(InspectionLogPath());
    if (log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        log.write((QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                   + (answer == DialogResult::Yes ? QStringLiteral("\tholder freed by the operator\n")
                                                  : QStringLiteral("\tholder kept\n")))
                      .toUtf8());
    if (answer != DialogResult::Yes)
        return false;
    m_inspectionQuestionPending = false;
    return true;
}

} // namespace lapido
