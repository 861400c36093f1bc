// TFontStyle and TFontStyles: the style set carried by texts, rich segments and font requests.
#pragma once

#include <QFlags>

namespace lapido {

enum TFontStyle : unsigned {
    fsBold = 0x1,
    fsItalic = 0x2,
    fsUnderline = 0x4,
    fsStrikeOut = 0x8,
};
Q_DECLARE_FLAGS(TFontStyles, TFontStyle)
Q_DECLARE_OPERATORS_FOR_FLAGS(TFontStyles)

} // namespace lapido
