// Micro-text legibility: where the strokes of a character come closer than the laser can keep apart.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace lapido {

class TContourList;
class TLabelTree;
struct TSettings;

// What the laser can keep apart: two traces closer than the spot overlap, and two traces
// closer than two pulse distances may share a pulse.
struct LegibilityLimits {
    double spotDiameterUm = 10;
    double pulseDistanceUm = 0.5;

    static LegibilityLimits fromSettings(const TSettings& settings);
    // The smallest gap that still separates two strokes (µm); never negative, and 0 when
    // neither setting is a usable number.
    double limitUm() const;
    // True when the spot, not the pulse distance, sets the limit.
    bool spotGoverns() const;
};

// Parts of one outline closer than this share of the character's height are joined on
// purpose: they are one stroke, not a gap. Stroke fonts are drawn on a coarse grid, so a
// stroke meant to end on another may stop up to half a grid step short of it; TrueType
// outlines are exact to a thousandth of the height or better.
inline constexpr double kJoinedFractionLines = 0.02;
inline constexpr double kJoinedFractionFilled = 0.005;
// Two points of one trace are separate strokes only when the trace between them is more than
// this many times longer than their distance.
inline constexpr double kDetourFactor = 2;

// The smallest gap, in the outline's own units, between separate strokes of the outline that
// is below limit; nullopt when none comes that close. A gap is a narrowest place between two
// traces: two points each closest to the other along its own trace (so the sides of a corner,
// which get ever closer towards its tip, never are), on different contours that do not meet
// or on parts of one contour (or of contours that meet) whose way along the traces is more
// than kDetourFactor times their distance. Distances below joinedTolerance are meeting points,
// never gaps. A closed trace around background (a counter, a loop) is a gap as wide as its
// narrowest direction. A filled outline (the closed contours of a TrueType character,
// non-zero rule) counts only gaps across its background: contours facing each other across
// the fill are the two sides of one stroke, which the spot may well merge.
std::optional<double> smallestStrokeGap(const TContourList& contours, double limit, double joinedTolerance,
                                        bool filled = false);

// The characters of one marking size whose strokes the laser cannot keep apart.
struct LegibilityFinding {
    double sizeMm = 0;     // the character's marking height
    QString characters;    // each character once, in label order
    double smallestGapUm = 0;
    bool operator==(const LegibilityFinding&) const = default;
};

// Every outline character of the label (texts, symbol lists, formatted labels) at its marking
// height (its relative height times the girdle height), grouped by height in label order.
// Empty when the label passes.
std::vector<LegibilityFinding> CheckLegibility(const TLabelTree& tree, double girdleHeightMm,
                                               const LegibilityLimits& limits);

// One line per finding: "Characters 'e', 'a' at 0.080 mm: strokes 6 um apart, spot 10 um."
QStringList legibilityLines(const std::vector<LegibilityFinding>& findings, const LegibilityLimits& limits);

} // namespace lapido
