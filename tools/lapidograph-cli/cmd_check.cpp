// lapidograph-cli check: the legibility check of a label, the warning Engrave would give.
#include "cliio.h"
#include "commands.h"

#include "camera/inspectionpicture.h"
#include "glyphs/glyph.h"
#include "glyphs/legibility.h"
#include "inspection/inspection.h"
#include "machine/laser.h"
#include "workflow/markingpreview.h"
#include "platform/stationglobals.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "workflow/station.h"

#include <QDir>
#include <algorithm>
#include <QFileInfo>

namespace lapido::cli {

namespace {

const QString kCheckUsage = QStringLiteral(
    "usage: check LABEL.xml\n"
    "  Refuses, as Engrave does, a label that cannot be marked as composed: one line for each\n"
    "  glyph that would be left out or leave fewer marks than it shows (unknown font, missing or\n"
    "  empty drawing or picture, a character without an outline, a size below what the laser\n"
    "  resolves) and for numbers out of range. Else prints one line for each marking height at\n"
    "  which characters of the label have strokes closer than the laser can keep apart (the spot\n"
    "  diameter or two pulse distances of the settings), as Engrave warns of them. A 2D code is\n"
    "  marked in a rehearsal at the start-up position, filmed by the simulated camera and read\n"
    "  back: one line with its grade, a finding when it would not read or grade below the\n"
    "  inspection's minimum. Prints nothing else for a label that passes.\n"
    "  Exit code: 0 the label passes, 1 findings, 2 usage or a label that cannot be read,\n"
    "  3 the label would be refused.");

// The label's 2D codes as a clean run would leave them: the marks of the rehearsal at the
// start-up position, on the simulated camera's picture, read and graded. False when a code
// would fail the inspection after the run.
bool checkCodes(TStation& station)
{
    const TSettings& settings = Settings();
    setLaser(nullptr);
    station.AxisPosition_X = station.MarkingReference_X = settings.StartUp_X;
    station.AxisPosition_Y = station.MarkingReference_Y = settings.StartUp_Y;
    station.AxisPosition_Z = station.MarkingReference_Z = settings.StartUp_Z;
    const TMarkingPreview preview = station.PreviewMarking();
    const InspectionPlan plan = station.InspectionPlanOf(preview);
    if (std::none_of(plan.glyphs.begin(), plan.glyphs.end(), [](const PlannedGlyph& g) { return g.code.has_value(); }))
        return true;
    const TCoord table{settings.StartUp_X, settings.StartUp_Y};
    const QImage picture = simulatedInspectionPicture(settings, table, settings.StartUp_Y, preview.marks);
    const InspectionView view = InspectionView::fromSettings(settings, picture.size(), table);
    const InspectionLimits limits = InspectionLimits::fromStore(settings);
    Inspector inspector;
    const InspectionResult result = inspector.inspect(plan, picture, view, limits);
    bool pass = true;
    for (const GlyphInspection& g : result.glyphs) {
        if (!g.code)
            continue;
        out(g.text + QStringLiteral(": on the simulated camera ") + g.code->line());
        if (!g.ok()) {
            pass = false;
            for (const QString& reason : g.reasons)
                out(g.text + QStringLiteral(": ") + reason);
        }
    }
    return pass;
}

} // namespace

int cmdCheck(const QStringList& args)
{
    QString labelPath;
    for (const QString& a : args) {
        if (a.startsWith(QLatin1String("--")) || !labelPath.isEmpty())
            return usageError(QStringLiteral("unexpected \"%1\"\n").arg(a) + kCheckUsage);
        labelPath = a;
    }
    if (labelPath.isEmpty())
        return usageError(kCheckUsage);
    const auto labelBytes = readLabelFile(labelPath);
    if (!labelBytes)
        return 2;

    LoadSettingsFromRegistery();
    takeLogoFolder(QFileInfo(labelPath).absoluteDir());
    TStation station;
    if (const LabelLoad load = loadLabel(station, labelPath, *labelBytes); load != LabelLoad::Loaded)
        return load == LabelLoad::Refused ? 3 : 2;
    // The same refusal Engrave and mark give, before any question about legibility.
    if (const QStringList problems = station.LabelMarkingProblems(); !problems.isEmpty()) {
        for (const QString& problem : problems)
            err(QStringLiteral("lapidograph-cli: ") + problem);
        out(QStringLiteral("the label would be refused"));
        return 3;
    }
    const std::vector<LegibilityFinding> findings = station.LegibilityFindings();
    for (const QString& line : legibilityLines(findings, LegibilityLimits::fromSettings(Settings())))
        out(line);
    const bool codesRead = checkCodes(station);
    return findings.empty() && codesRead ? 0 : 1;
}

} // namespace lapido::cli
