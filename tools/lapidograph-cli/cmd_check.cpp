// lapidograph-cli check: the legibility check of a label, the warning Engrave would give.
#include "cliio.h"
#include "commands.h"

#include "glyphs/glyph.h"
#include "glyphs/legibility.h"
#include "platform/stationglobals.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "workflow/station.h"

#include <QDir>
#include <QFileInfo>

namespace lapido::cli {

namespace {

const QString kCheckUsage = QStringLiteral(
    "usage: check LABEL.xml\n"
    "  Prints one line for each marking height at which characters of the label have strokes\n"
    "  closer than the laser can keep apart (the spot diameter or two pulse distances of the\n"
    "  settings), as Engrave warns of them. Prints nothing for a label that passes.\n"
    "  Exit code: 0 the label passes, 1 findings, 2 usage or a label that cannot be read.");

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
    if (!loadLabel(station, labelPath, *labelBytes))
        return 2;
    // What mark refuses (a logo that is not there, a font not installed) is no pass here
    // either: the same label check, the same exit code.
    if (const QStringList problems = station.LabelMarkingProblems(); !problems.isEmpty()) {
        for (const QString& problem : problems)
            err(QStringLiteral("lapidograph-cli: ") + problem);
        return 3;
    }
    const std::vector<LegibilityFinding> findings = station.LegibilityFindings();
    for (const QString& line : legibilityLines(findings, LegibilityLimits::fromSettings(Settings())))
        out(line);
    return findings.empty() ? 0 : 1;
}

} // namespace lapido::cli
