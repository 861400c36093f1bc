// The characters a font offers, as the symbol picker lists them.
#pragma once

#include "glyphs/fontstyles.h"

#include <QString>

#include <vector>

namespace lapido {

class TrueTypeFace;

// A run of consecutive character codes that all have a glyph.
struct UnicodeRange {
    char16_t first = 0;
    int count = 0;
    bool operator==(const UnicodeRange&) const = default;
};

// The face's character map as maximal runs of consecutive codes, ascending. Only the 16-bit
// codes count: the picker and the label's symbol lists hold UTF-16 units. A symbol font
// without a Unicode map gives its symbol-area codes (U+F020...), as its map holds them.
std::vector<UnicodeRange> fontUnicodeRanges(const TrueTypeFace& face);

// The picker's character list: for a stroke font every code from its first to its last
// character that it has; for an installed font every code of every range of its character
// map in range order; empty for any other name.
std::vector<char16_t> SymbolCharacterList(const QString& fontName, TFontStyles style);

} // namespace lapido
