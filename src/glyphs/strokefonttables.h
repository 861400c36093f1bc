// Layout of the built-in stroke-font tables (generated data in strokefonttables.cpp).
#pragma once

#include <cstdint>

namespace lapido::strokefonts {

// One point in Hershey units: relative to the glyph centre, y growing downwards. A coordinate
// of -64 lifts the pen; (-64, 0) separates strokes and (-64, -64) ends a glyph.
struct StrokePoint {
    int8_t x;
    int8_t y;
};

// One Hershey glyph: its bearings and its run of points in kStrokePoints (end marker included).
struct StrokeGlyph {
    uint16_t number;
    int8_t left;
    int8_t right;
    uint16_t firstPoint;
    uint16_t pointCount;
};

// One character of a font: its code and the index of its glyph in kStrokeGlyphs. Each font's
// items are sorted by code.
struct StrokeItem {
    char16_t code;
    uint16_t glyph;
};

extern const StrokePoint kStrokePoints[];
extern const StrokeGlyph kStrokeGlyphs[];
extern const int kStrokeGlyphCount;
extern const StrokeItem kRomansItems[];
extern const int kRomansCount;
extern const StrokeItem kScriptsItems[];
extern const int kScriptsCount;
extern const StrokeItem kGreeksItems[];
extern const int kGreeksCount;

} // namespace lapido::strokefonts
