// The built-in stroke fonts ROMANS, SCRIPTS and GREEKS: lookup, metrics and outlines.
#pragma once

#include "glyphs/strokefonttables.h"

#include <QString>

#include <span>

namespace lapido {

class TContourList;

// One stroke font: its items sorted by code and its metrics (design unit U, cell height H and
// centre height C, in the font's drawing units).
struct StrokeFont {
    const char* name;
    std::span<const strokefonts::StrokeItem> items;
    int U;
    int H;
    int C;
};

// The stroke font of that name (upper-cased comparison), or nullptr.
const StrokeFont* findStrokeFont(const QString& fontName);
// The three fonts in the order the font lists show them.
std::span<const StrokeFont* const> strokeFonts();

// The font's item for the code, or nullptr. The items are scanned in order and the scan stops
// at the first code that is not below the one asked for.
const strokefonts::StrokeItem* findStrokeItem(const StrokeFont& font, char16_t code);

// Appends the character's strokes to contours in units of the cell height (origin at the pen
// position, y up, cell from -0.5 to +0.5) and sets the three numbers. False, with contours and
// numbers untouched, when the font has no such character.
bool strokeCharOutline(const StrokeFont& font, char16_t code, TContourList& contours, double& CellIncX,
                       double& BlackBoxX, double& OriginX);

} // namespace lapido
