// The font outline source: character outlines and font services over custom, stroke and TrueType fonts.
#pragma once

#include "glyphs/fontstyles.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <unordered_map>

namespace lapido {

class TContourList;
struct NativeOutline;

// The outline of one character in units of the font's cell height H: x from the pen position,
// y from the middle of the cell (which spans -0.5 to +0.5), y up. Fonts are tried in the order
// custom fonts, stroke fonts (ROMANS, SCRIPTS, GREEKS), TrueType fonts.
// - custom font: a digit gives the outline of its drawing and its width-to-height ratio in
//   CellIncX (BlackBoxX and OriginX untouched); any other code gives nullptr;
// - stroke font: a code the font lacks gives an empty list and leaves the numbers untouched;
// - TrueType font: a missing character or an unknown name gives an empty list and zeros.
std::unique_ptr<TContourList> GetCharOutline(const QString& fontName, TFontStyles style, char16_t code,
                                             double& CellIncX, double& BlackBoxX, double& OriginX);

// GetCharOutline for a run of characters of one font: whether the name is a custom font is
// looked up once (a look reads the store and lists a folder), not once per character.
class CharOutlineSource {
public:
    CharOutlineSource(const QString& fontName, TFontStyles style);
    std::unique_ptr<TContourList> outline(char16_t code, double& CellIncX, double& BlackBoxX, double& OriginX) const;

    // A character's outline as a text's characters keep it (trimmed and shrunk), made once for
    // the whole text and shared by its repeats: a label's cost per character stays small.
    struct Made {
        std::shared_ptr<TContourList> contours;
        double cellIncX = 0, blackBoxX = 0, originX = 0;
    };
    const Made* made(char16_t code) const
    {
        const auto it = m_made.find(code);
        return it == m_made.end() ? nullptr : &it->second;
    }
    void remember(char16_t code, Made outline) const { m_made.emplace(code, std::move(outline)); }

private:
    QString m_fontName;
    TFontStyles m_style;
    QString m_customFolder;
    mutable std::unordered_map<char16_t, Made> m_made;
};

// Design unit U, cell height H and centre height C in the font's drawing units; false (all
// three 0) for a name that is neither a stroke font nor an installed font.
bool GetFontMetrics(const QString& fontName, int& U, int& H, int& C);

bool IsStrokeFont(const QString& fontName);
// Whether the name is a custom, stroke or installed font: characters of any other name come
// out empty.
bool FontIsKnown(const QString& fontName);
// False for an empty name or one starting with "@"; true when the name resolves to an
// installed face with TrueType (quadratic) outlines.
bool IsTrueTypeFont(const QString& fontName);
// First and last character code of the font (0 when the font is unknown). Custom fonts hold
// the digits only.
char16_t GetFirstChar(const QString& fontName);
char16_t GetLastChar(const QString& fontName);
bool FontHasChar(const QString& fontName, char16_t code);

int FontStyleToIndex(TFontStyles style);
TFontStyles IndexToFontStyle(int index);
QString FontStyleName(TFontStyles style);

// Every font a label may use: custom fonts, then the stroke fonts, then the installed
// TrueType families; no name starting with "@".
QStringList usableFontNames();

// Appends a TrueType native outline to contours: font units are turned into cell units with
// the cell height H and centre height C, spline runs are flattened, and each polygon is closed
// by repeating its start point. Cubic runs are skipped.
void appendNativeOutline(const NativeOutline& outline, int H, int C, TContourList& contours);

} // namespace lapido
