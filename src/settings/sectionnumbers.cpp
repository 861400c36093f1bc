// The stored numbers of sections "Inspection" and "Simulator": keys, ranges and the check of a
// typed text.
#include "settings/sectionnumbers.h"

#include <QLocale>

#include <cmath>

namespace lapido {

const SectionFields& inspectionSectionFields()
{
    static const SectionFields fields{
        keys::kInspection,
        {
            {keys::InspectionMinCoverage, "Marks found in a glyph at least", "%", 0, 100},
            {keys::InspectionMaxOffset, "Offset of a glyph or the label at most", "µm", 0.1, 1000},
            {keys::InspectionMaxSpread, "Spread of a glyph's marks at most", "µm", 0.1, 1000},
            {keys::InspectionMaxMarkWidth, "Mark width at most", "% of the spot", 50, 10000},
            {keys::InspectionMarkContrast, "A mark is darker than", "% of a typical mark", 5, 95},
            {keys::InspectionMinMarkContrast, "A mark is darker than the polish by", "grey levels", 1, 200},
            {keys::InspectionSearchDistance, "A glyph is looked for within", "µm", 1, 500},
        },
        {{keys::InspectionMaxStrayMarks, "Marks where none were planned at most", 0, 100000}},
        {{keys::InspectionReadBack, "Read the text back"}, {keys::InspectionFailOnReadBack, "A text read differently fails"}},
    };
    return fields;
}

const SectionFields& simulatorSectionFields()
{
    static const SectionFields fields{
        keys::kSimulator,
        {
            {keys::SimMisfireRate, "Share of pulses leaving no mark", "0 to 1", 0, 1},
            {keys::SimDefocus, "Marks wider and fainter by", "times", 1, 20},
            {keys::SimDriftUm, "Table drift in X over the label", "µm", -1000, 1000},
        },
        {{keys::SimSkipGlyph, "Glyph left without marks (from 1, 0: none)", 0, 100000}},
        {},
    };
    return fields;
}

SectionNumberCheck checkSectionNumber(const SectionNumber& field, const QString& text)
{
    const QString t = text.trimmed();
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v) || t.contains(QLatin1Char(',')))
        return {std::nullopt, QStringLiteral("not a number (a point number, as 2.5)")};
    if (v < field.low || v > field.high)
        return {std::nullopt, QStringLiteral("outside %1 to %2").arg(QLocale::c().toString(field.low), QLocale::c().toString(field.high))};
    return {v, {}};
}

} // namespace lapido
