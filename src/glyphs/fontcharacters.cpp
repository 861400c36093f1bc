// Character lists of stroke fonts (from their tables) and installed fonts (from the face's map).
#include "glyphs/fontcharacters.h"

#include "glyphs/fontoutlines.h"
#include "glyphs/truetypefonts.h"

#include <ft2build.h>
#include FT_FREETYPE_H


namespace lapido {

std::vector<UnicodeRange> fontUnicodeRanges(const TrueTypeFace& face)
{
    auto* ft = static_cast<FT_Face>(face.ftFace());
    std::vector<char16_t> codes;
    if (!ft || !ft->charmap)
        return {};
    FT_UInt glyph = 0;
    // FreeType walks the map in ascending code order, so runs can be closed as they come.
    for (FT_ULong code = FT_Get_First_Char(ft, &glyph); glyph != 0 && code <= 0xFFFF;
         code = FT_Get_Next_Char(ft, code, &glyph))
        codes.push_back(char16_t(code));
    std::vector<UnicodeRange> ranges;
    for (const char16_t code : codes) {
        if (!ranges.empty() && ranges.back().first + ranges.back().count == code)
            ++ranges.back().count;
        else
            ranges.push_back({code, 1});
    }
    return ranges;
}

std::vector<char16_t> SymbolCharacterList(const QString& fontName, TFontStyles style)
{
    std::vector<char16_t> list;
    if (IsStrokeFont(fontName)) {
        const int first = GetFirstChar(fontName);
        const int last = GetLastChar(fontName);
        for (int code = first; code <= last; ++code)
            if (FontHasChar(fontName, char16_t(code)))
                list.push_back(char16_t(code));
        return list;
    }
    const TrueTypeFace* face = truetype::face(fontName, style);
    if (!face)
        return list;
    for (const UnicodeRange& range : fontUnicodeRanges(*face))
        for (int i = 0; i < range.count; ++i)
            list.push_back(char16_t(range.first + i));
    return list;
}

} // namespace lapido
