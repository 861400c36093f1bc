// The marking preview: the current label run through Engrave's marking sequence on a simulated
// controller on virtual time, giving the marks it would make and how long it would take.
#pragma once

#include "sim/dmcsimulator.h"

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

namespace lapido {

class TTreeNode;

struct TMarkingPreview {
    // False when the label would be refused before the machine moves; problem says why.
    bool markable = false;
    QString problem;
    // Where the laser would fire, in machine millimetres, in firing order.
    std::vector<LaserMark> marks;
    // From the laser going on to the table standing at the marking reference again, with the
    // controller round trips and the laser's delays (seconds of machine time).
    double seconds = 0;
    // Which marks each glyph makes: marks[first, first + count), glyphs in marking order.
    struct Glyph {
        TTreeNode* node = nullptr;
        std::size_t first = 0, count = 0;
        // When the glyph begins and ends, in ms of machine time from the laser going on.
        std::int64_t startMs = 0, endMs = 0;
    };
    std::vector<Glyph> glyphs;
};

class TStation;

// What a preview depends on besides where the axes stand: the label with its marking state (its
// revision), the girdle, the slant, the marking reference and the taught girdle points (their
// bits, so that a number that is not one still compares equal to itself). A window recomputes
// its preview when these change; reading and comparing them costs the same for any label.
struct TPreviewInputs {
    std::uint64_t labelRevision = 0;
    std::array<std::uint64_t, 9> numbers{};
    bool operator==(const TPreviewInputs&) const = default;
};
TPreviewInputs PreviewInputs(TStation& station);

// The estimate line of the preview ("estimate: 12.345 s").
QString estimateLine(const TMarkingPreview& preview);
// The trace's line after a run: estimate beside the measured duration.
QString runTimeLine(double estimatedSeconds, double measuredSeconds);

} // namespace lapido
