// The symbol picker window: font lists, the grid, symbol-list editing and the formatted label.
#include "ui/glyphs/frmsymbols.h"

#include "glyphs/fontcharacters.h"
#include "ui/glyphs/textrichedit.h"

#include <QComboBox>
#include <QImage>
#include <QPainter>
#include <QGroupBox>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTextCharFormat>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

namespace lapido {
namespace {

class FrmSymbolsTest : public ::testing::Test {
protected:
    void openSymbolList(const QString& font, const QString& symbols)
    {
        m_form.UseRichEdit = false;
        m_form.SymbolFont = font;
        m_form.setSymbolString(symbols);
        m_form.prepare();
        m_form.FormActivate();
    }
    void clickCell(QTableView* grid, int row, int column, bool twice = false)
    {
        const QRect cell = grid->visualRect(grid->model()->index(row, column));
        ASSERT_TRUE(cell.isValid());
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        if (twice)
            QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    }
    // Selects a character of the current list by clicking its grid cell.
    void pick(char16_t code, bool doubleClick = false)
    {
        const auto& chars = m_form.characters();
        const auto it = std::find(chars.begin(), chars.end(), code);
        ASSERT_NE(it, chars.end());
        const int i = int(it - chars.begin());
        m_form.show();
        clickCell(m_form.DrawGridSymbols, i / 16, i % 16, doubleClick);
        ASSERT_EQ(m_form.selectedIndex(), i);
    }
    void putCursor(int column)
    {
        m_form.show();
        clickCell(m_form.DrawGridSymbolString, 0, column);
    }
    int stringColumns() const { return m_form.DrawGridSymbolString->model()->columnCount(); }

    TfrmSymbols m_form;
};

TEST_F(FrmSymbolsTest, FontAndStyleLists)
{
    QStringList fonts;
    for (int i = 0; i < m_form.ComboBoxExFonts->count(); ++i)
        fonts << m_form.ComboBoxExFonts->itemText(i);
    for (const char* name : {"ROMANS", "SCRIPTS", "GREEKS", "DejaVu Sans", "Liberation Serif"})
        EXPECT_TRUE(fonts.contains(QString::fromLatin1(name))) << name;
    EXPECT_EQ(m_form.ComboBoxStyle->count(), 4);
    EXPECT_EQ(m_form.ComboBoxStyle->itemText(3), QStringLiteral("Italic Bold"));
    EXPECT_EQ(m_form.DrawGridSymbols->model()->columnCount(), 16);
}

TEST_F(FrmSymbolsTest, StrokeFontsFillTheirRows)
{
    const struct {
        const char* font;
        int count, rows;
    } cases[] = {{"ROMANS", 83, 6}, {"GREEKS", 127, 8}};
    for (const auto& c : cases) {
        openSymbolList(QString::fromLatin1(c.font), {});
        EXPECT_EQ(int(m_form.characters().size()), c.count) << c.font;
        EXPECT_EQ(m_form.DrawGridSymbols->model()->rowCount(), c.rows) << c.font;
        EXPECT_EQ(m_form.windowTitle(), QString::fromLatin1(c.font));
    }
}

TEST_F(FrmSymbolsTest, AnInstalledFontShowsItsCharacterMap)
{
    openSymbolList(QStringLiteral("DejaVu Sans"), {});
    const auto expected = SymbolCharacterList(QStringLiteral("DejaVu Sans"), {});
    EXPECT_EQ(m_form.characters(), expected);
    EXPECT_EQ(m_form.DrawGridSymbols->model()->rowCount(), (int(expected.size()) - 1) / 16 + 1);
}

TEST_F(FrmSymbolsTest, SymbolListInsertDeleteAndClearFollowTheCursor)
{
    openSymbolList(QStringLiteral("ROMANS"), QStringLiteral("ABC"));
    EXPECT_FALSE(m_form.GroupBoxSelected->isHidden());
    EXPECT_TRUE(m_form.GroupBoxLabel->isHidden());
    EXPECT_EQ(stringColumns(), 4);
    EXPECT_EQ(m_form.symbolStringCursor(), 3);

    pick(u'X');
    putCursor(2);
    m_form.BitBtnInsert->click();
    EXPECT_EQ(m_form.SymbolString(), QStringLiteral("ABXC"));
    EXPECT_EQ(m_form.symbolStringCursor(), 3); // still on C
    EXPECT_EQ(m_form.DrawGridSymbolString->currentIndex().column(), 3);
    EXPECT_EQ(stringColumns(), 5);

    putCursor(4);
    m_form.BitBtnInsert->click();
    EXPECT_EQ(m_form.SymbolString(), QStringLiteral("ABXCX"));

    m_form.setSymbolString(QStringLiteral("ABC"));
    m_form.prepare();
    putCursor(0);
    m_form.BitBtnDelete->click();
    EXPECT_EQ(m_form.SymbolString(), QStringLiteral("BC"));
    EXPECT_EQ(stringColumns(), 3);

    m_form.BitBtnClear->click();
    EXPECT_TRUE(m_form.SymbolString().isEmpty());
    EXPECT_EQ(stringColumns(), 1);
    EXPECT_EQ(m_form.symbolStringCursor(), 0);
}

TEST_F(FrmSymbolsTest, DoubleClickInsertsAndAnEmptyCellInsertsNothing)
{
    openSymbolList(QStringLiteral("ROMANS"), {});
    pick(u'Q', true);
    EXPECT_EQ(m_form.SymbolString(), QStringLiteral("Q"));
    // the last row of ROMANS has 83 - 80 = 3 characters; column 10 is empty
    m_form.show();
    clickCell(m_form.DrawGridSymbols, 5, 10);
    m_form.BitBtnInsert->click();
    EXPECT_EQ(m_form.SymbolString(), QStringLiteral("Q"));
}

TEST_F(FrmSymbolsTest, ExecuteReturnsTrueOnlyForOk)
{
    m_form.UseRichEdit = false;
    m_form.SymbolFont = QStringLiteral("GREEKS");
    QTimer::singleShot(0, &m_form, [&] { m_form.BitBtnOK->click(); });
    EXPECT_TRUE(m_form.Execute());
    QTimer::singleShot(0, &m_form, [&] { m_form.BitBtnCancel->click(); });
    EXPECT_FALSE(m_form.Execute());
}

// A font the system answers with another family, or one it does not know at all: the list
// shows what the characters are really drawn with, and the label keeps the name it was given.
TEST_F(FrmSymbolsTest, AFontNotInstalledShowsTheFamilyReallyUsed)
{
    const struct {
        const char* asked;
        const char* shown;
        const char* kept;
    } cases[] = {
        {"Arial", "Arial (Liberation Sans)", "Arial"},
        {"arial", "Arial (Liberation Sans)", "Arial"}, // the entry made for the first spelling
        {"No Such Font 7", "Arial (Liberation Sans)", "Arial"},
        {"Liberation Serif", "Liberation Serif", "Liberation Serif"},
    };
    for (const auto& c : cases) {
        openSymbolList(QString::fromLatin1(c.asked), {});
        ASSERT_GE(m_form.ComboBoxExFonts->currentIndex(), 0) << c.asked;
        EXPECT_EQ(m_form.ComboBoxExFonts->currentText(), QString::fromLatin1(c.shown)) << c.asked;
        EXPECT_EQ(m_form.windowTitle(), QString::fromLatin1(c.shown)) << c.asked;
        EXPECT_EQ(m_form.SymbolFont.toLower(), QString::fromLatin1(c.kept).toLower()) << c.asked;
        EXPECT_FALSE(m_form.characters().empty()) << c.asked;
    }
    // One entry for the alias, however often it was asked for.
    int aliases = 0;
    for (int i = 0; i < m_form.ComboBoxExFonts->count(); ++i)
        aliases += m_form.ComboBoxExFonts->itemText(i).startsWith(QStringLiteral("Arial"));
    EXPECT_EQ(aliases, 1);
}

// Every character of a font, drawn in a grid cell, keeps off the cell's edge and shows.
TEST(SymbolCell, EveryCharacterFitsItsCellWithAMargin)
{
    constexpr int kCell = 41;
    const struct {
        const char* font;
        TFontStyles style;
    } fonts[] = {{"ROMANS", {}},       {"SCRIPTS", {}},        {"GREEKS", {}},
                 {"Liberation Sans", {}}, {"DejaVu Sans", fsBold}, {"DejaVu Serif", fsItalic}};
    for (const auto& f : fonts) {
        const QString font = QString::fromLatin1(f.font);
        const auto chars = SymbolCharacterList(font, f.style);
        ASSERT_FALSE(chars.empty()) << f.font;
        int drawn = 0;
        for (const char16_t code : chars) {
            if (code > 0x24F) // Latin, its accents and its tall capitals
                break;
            QImage cell(kCell, kCell, QImage::Format_RGB32);
            cell.fill(Qt::white);
            QPainter p(&cell);
            p.setPen(Qt::black);
            paintSymbol(p, cell.rect(), font, f.style, code, kCell - 5);
            p.end();
            bool edge = false, inked = false;
            for (int y = 0; y < kCell; ++y)
                for (int x = 0; x < kCell; ++x) {
                    const bool dark = qGray(cell.pixel(x, y)) < 200;
                    inked |= dark;
                    edge |= dark && (x < 2 || y < 2 || x >= kCell - 2 || y >= kCell - 2);
                }
            EXPECT_FALSE(edge) << f.font << " U+" << std::hex << int(code) << " touches the cell's edge";
            if (code != u' ' && code != 0xA0 && code != 0xAD)
                drawn += inked;
        }
        EXPECT_GT(drawn, 40) << f.font;
    }
}

class FrmSymbolsRichTest : public FrmSymbolsTest {
protected:
    // "ab" in one font, "cd" in another and bold.
    void fill()
    {
        QTextCursor c(m_form.RichEdit->QTextEdit::document());
        QTextCharFormat first;
        first.setFontFamilies(QStringList{QStringLiteral("DejaVu Serif")});
        c.insertText(QStringLiteral("ab"), first);
        QTextCharFormat second;
        second.setFontFamilies(QStringList{QStringLiteral("Liberation Mono")});
        c.insertText(QStringLiteral("cd"), second);
        second.setFontWeight(QFont::Bold);
        c.insertText(QStringLiteral("ef"), second);
    }
    void select(int from, int to)
    {
        QTextCursor c = m_form.RichEdit->QTextEdit::textCursor();
        c.setPosition(from);
        c.setPosition(to, QTextCursor::KeepAnchor);
        m_form.RichEdit->QTextEdit::setTextCursor(c);
    }
};

TEST_F(FrmSymbolsRichTest, ExecuteTakesTheSelectionsFontAndInsertReplacesIt)
{
    fill();
    select(0, 2);
    m_form.UseRichEdit = true;
    m_form.prepare();
    m_form.FormActivate();
    EXPECT_EQ(m_form.ComboBoxExFonts->currentText(), QStringLiteral("DejaVu Serif"));
    EXPECT_TRUE(m_form.GroupBoxSelected->isHidden());
    EXPECT_FALSE(m_form.GroupBoxLabel->isHidden());

    select(0, 2);
    pick(u'Z');
    m_form.BitBtnInsertRich->click();
    EXPECT_EQ(m_form.RichEdit->toPlainText(), QStringLiteral("Zcdef"));
}

TEST_F(FrmSymbolsRichTest, SelectionInTheEditorSelectsItsFontThenItsStyle)
{
    fill();
    m_form.UseRichEdit = true;
    m_form.prepare();
    m_form.FormActivate();
    select(2, 3);
    EXPECT_EQ(m_form.ComboBoxExFonts->currentText(), QStringLiteral("Liberation Mono"));
    EXPECT_EQ(m_form.SymbolFont, QStringLiteral("Liberation Mono"));
    EXPECT_EQ(m_form.ComboBoxStyle->currentIndex(), 0);
    select(4, 5);
    EXPECT_EQ(m_form.ComboBoxStyle->currentText(), QStringLiteral("Bold"));
}

} // namespace
} // namespace lapido
