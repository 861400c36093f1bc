// The symbol picker's model: character lists of stroke and installed fonts, grid rows and the
// symbol-list editing rules.
#include "glyphs/fontcharacters.h"
#include "glyphs/symbolstring.h"
#include "glyphs/truetypefonts.h"

#include <QRawFont>

#include <gtest/gtest.h>

namespace lapido {
namespace {

TEST(SymbolCharacterList, StrokeFontsListTheirTableInOrder)
{
    const struct {
        const char* font;
        int count;
        int rows;
    } cases[] = {{"ROMANS", 83, 6}, {"GREEKS", 127, 8}};
    for (const auto& c : cases) {
        const auto list = SymbolCharacterList(QString::fromLatin1(c.font), {});
        ASSERT_EQ(int(list.size()), c.count) << c.font;
        EXPECT_EQ(symbolGridRows(int(list.size())), c.rows) << c.font;
        EXPECT_TRUE(std::is_sorted(list.begin(), list.end())) << c.font;
    }
    const auto romans = SymbolCharacterList(QStringLiteral("ROMANS"), {});
    EXPECT_EQ(romans.front(), u' ');
    EXPECT_EQ(romans.back(), u'\u00B0');
}

TEST(SymbolCharacterList, AnInstalledFontListsItsCharacterMap)
{
    const TrueTypeFace* face = truetype::face(QStringLiteral("Arial"), {});
    ASSERT_NE(face, nullptr);
    const auto list = SymbolCharacterList(QStringLiteral("Arial"), {});
    // Qt reads the same file's character map on its own.
    const QRawFont raw(face->file(), 12);
    ASSERT_TRUE(raw.isValid());
    // Qt answers for some control codes (the tab) with the space's glyph, so those are left out.
    std::vector<char16_t> expected;
    for (int code = 0x20; code <= 0xFFFF; ++code)
        if (!QChar::isSurrogate(char32_t(code)) && raw.supportsCharacter(QChar(char16_t(code))))
            expected.push_back(char16_t(code));
    std::vector<char16_t> listed(list.begin(), list.end());
    std::erase_if(listed, [](char16_t c) { return c < 0x20; });
    EXPECT_EQ(listed, expected);
    EXPECT_GT(list.size(), 200u);
}

TEST(SymbolCharacterList, RangesAreMaximalRunsInAscendingOrder)
{
    const TrueTypeFace* face = truetype::face(QStringLiteral("DejaVu Sans"), {});
    ASSERT_NE(face, nullptr);
    const auto ranges = fontUnicodeRanges(*face);
    ASSERT_FALSE(ranges.empty());
    for (std::size_t i = 1; i < ranges.size(); ++i)
        EXPECT_GT(int(ranges[i].first), int(ranges[i - 1].first) + ranges[i - 1].count) << i;
    // printable ASCII is one run in any Latin font
    const auto ascii = std::find_if(ranges.begin(), ranges.end(), [](const UnicodeRange& r) { return r.first <= u'A' && r.first + r.count > u'Z'; });
    ASSERT_NE(ascii, ranges.end());
    EXPECT_LE(ascii->first, u' ');
    EXPECT_GE(ascii->first + ascii->count, 0x7F);
}

TEST(SymbolCharacterList, UnknownFontHasNoCharacters)
{
    EXPECT_TRUE(SymbolCharacterList(QStringLiteral("No Such Font Anywhere"), {}).empty());
    EXPECT_EQ(symbolGridRows(0), 1);
}

TEST(SymbolStringEditor, InsertDeleteAndClearKeepTheCursorOnItsCharacter)
{
    const struct {
        const char* name;
        int cursor;
        char op; // i: insert X, d: delete, c: clear all
        const char* text;
        int cursorAfter;
    } cases[] = {
        {"insert before C", 2, 'i', "ABXC", 3},
        {"append on the empty column", 3, 'i', "ABCX", 4},
        {"insert at the front", 0, 'i', "XABC", 1},
        {"delete the first", 0, 'd', "BC", 0},
        {"delete the last", 2, 'd', "AB", 2},
        {"delete on the empty column", 3, 'd', "ABC", 3},
        {"clear all", 1, 'c', "", 0},
    };
    for (const auto& c : cases) {
        SymbolStringEditor editor(QStringLiteral("ABC"));
        EXPECT_EQ(editor.cursor(), 3) << c.name;
        editor.setCursor(c.cursor);
        switch (c.op) {
        case 'i': editor.Insert(QLatin1Char('X')); break;
        case 'd': editor.Delete(); break;
        default: editor.ClearAll(); break;
        }
        EXPECT_EQ(editor.text(), QString::fromLatin1(c.text)) << c.name;
        EXPECT_EQ(editor.cursor(), c.cursorAfter) << c.name;
        EXPECT_EQ(editor.columnCount(), editor.text().size() + 1) << c.name;
    }
}

TEST(SymbolStringEditor, CursorIsHeldToTheGrid)
{
    SymbolStringEditor editor(QStringLiteral("AB"));
    editor.setCursor(9);
    EXPECT_EQ(editor.cursor(), 2);
    editor.setCursor(-1);
    EXPECT_EQ(editor.cursor(), 0);
}

} // namespace
} // namespace lapido
