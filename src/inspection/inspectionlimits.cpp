// The inspection's thresholds from the settings store (section "Inspection").
#include "inspection/inspection.h"

#include "platform/settingsstore.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"

#include <cmath>

namespace lapido {

namespace {

// A stored number within [low, high]; anything else (text, out of range) gives the fallback.
double storedNumber(const keys::TextKey& key, double low, double high, double fallback)
{
    QString text;
    try {
        text = keys::read(key).trimmed();
    } catch (const SettingsStoreError&) {
        return fallback;
    }
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok && std::isfinite(v) && v >= low && v <= high ? v : fallback;
}

} // namespace

InspectionLimits InspectionLimits::fromStore(const TSettings& settings)
{
    InspectionLimits l;
    l.minCoveragePercent = storedNumber(keys::InspectionMinCoverage, 0, 100, l.minCoveragePercent);
    l.maxOffsetUm = storedNumber(keys::InspectionMaxOffset, 0.1, 1000, l.maxOffsetUm);
    l.maxSpreadUm = storedNumber(keys::InspectionMaxSpread, 0.1, 1000, l.maxSpreadUm);
    l.maxMarkWidthPercent = storedNumber(keys::InspectionMaxMarkWidth, 50, 10000, l.maxMarkWidthPercent);
    l.markContrastPercent = storedNumber(keys::InspectionMarkContrast, 5, 95, l.markContrastPercent);
    l.minMarkContrast = storedNumber(keys::InspectionMinMarkContrast, 1, 200, l.minMarkContrast);
    l.searchUm = storedNumber(keys::InspectionSearchDistance, 1, 500, l.searchUm);
    try {
        const int stray = keys::read(keys::InspectionMaxStrayMarks);
        l.maxStrayMarks = stray >= 0 ? stray : l.maxStrayMarks;
        l.readBack = keys::read(keys::InspectionReadBack);
        l.failOnReadBack = keys::read(keys::InspectionFailOnReadBack);
    } catch (const SettingsStoreError&) {
        // The defaults stand.
    }
    try {
        const QString grade = keys::read(keys::InspectionMinCodeGrade).trimmed().toUpper();
        if (grade.size() == 1 && grade.at(0) >= QLatin1Char('A') && grade.at(0) <= QLatin1Char('D'))
            l.minCodeGrade = char(grade.at(0).unicode());
    } catch (const SettingsStoreError&) {
        // The default stands.
    }
    if (settings.SpotDiameter > 0 && std::isfinite(settings.SpotDiameter))
        l.spotDiameterUm = settings.SpotDiameter;
    return l;
}

} // namespace lapido
