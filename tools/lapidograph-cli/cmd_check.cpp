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
    "  Refuses, as Engrave does, a label that cannot be marked as composed: one line for each\n"
    "  glyph that would be left out or leave fewer marks than it shows (unknown font, missing or\n"
    "  empty drawing or picture, a character without an outline, a size below what the laser\n"
    "  resolves) and for numbers out of range. Else prints one line for each marking height at\n"
    "  which characters of the label have strokes closer than the laser can keep apart (the spot\n"
    "  diameter or two pulse distances of the settings), as Engrave warns of them. Prints\n"
    "  nothing for a label that passes.\n"
    "  Exit code: 0 the label passes, 1 findings, 2 usage or a label that cannot be read,\n"
    "  3 the label would be refused.");

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
    return findings.empty() ? 0 : 1;
}

} // namespace lapido::cli
