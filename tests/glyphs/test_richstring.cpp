// Tests of TRichString and its transfers to and from a rich edit's document.
#include "glyphs/richstring.h"

#include "testsupport.h"

#include <QTemporaryDir>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <gtest/gtest.h>

using namespace lapido;

namespace {

// A rich edit whose own selection-change handler counts its calls.
class RichStringTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_edit.setSelectionChangeHandler([this] { ++m_handlerCalls; });
        m_edit.setHideSelection(false);
    }

    // Types text in a font and style at the end, as the operator would.
    void type(const QString& text, const QString& family, bool bold = false)
    {
        QTextCursor c = m_edit.textCursor();
        c.movePosition(QTextCursor::End);
        QTextCharFormat f;
        f.setFontFamilies(QStringList{family});
        f.setFontWeight(bold ? QFont::Bold : QFont::Normal);
        c.insertText(text, f);
        m_edit.setTextCursor(c);
    }

    void expectHandlerRestoredAndUncalled(int callsBefore)
    {
        EXPECT_EQ(m_handlerCalls, callsBefore);
        EXPECT_FALSE(m_edit.hideSelection());
        const auto handler = m_edit.selectionChangeHandler();
        ASSERT_TRUE(handler);
        handler();
        EXPECT_EQ(m_handlerCalls, callsBefore + 1) << "the editor's own handler is back";
    }

    QTextCharFormat formatAt(int position)
    {
        QTextCursor c(&m_edit.document());
        c.setPosition(position + 1); // the format of the character before the cursor
        return c.charFormat();
    }

    DocumentRichEdit m_edit{11};
    int m_handlerCalls = 0;
};

TEST_F(RichStringTest, SegmentListOperations)
{
    TRichString rs;
    EXPECT_EQ(rs.Add(QStringLiteral("L"), QStringLiteral("Arial"), fsBold), 0);
    EXPECT_EQ(rs.Add(QStringLiteral("\u03A91"), QStringLiteral("Symbol"), {}), 1);
    rs.SetText(1, QStringLiteral("xyz"));
    EXPECT_EQ(rs.GetRichSegment(1), (TRichSegment{QStringLiteral("xyz"), QStringLiteral("Symbol"), {}}));
    rs.SetText(0, QString());
    EXPECT_EQ(rs.GetRichSegment(0), (TRichSegment{QString(), QStringLiteral("Arial"), fsBold}));
    rs.Delete(0);
    EXPECT_EQ(rs.Count(), 1);
    EXPECT_EQ(rs.GetText(0), QStringLiteral("xyz"));
    EXPECT_THROW(rs.GetText(1), std::out_of_range);
    EXPECT_THROW(rs.Delete(-1), std::out_of_range);
    EXPECT_THROW(rs.SetText(5, QString()), std::out_of_range);
    rs.Clear();
    EXPECT_EQ(rs.Count(), 0);
}

TEST_F(RichStringTest, NoFileOfItsOwn)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("label.rich"));
    TRichString rs;
    rs.Add(QStringLiteral("AB"), QStringLiteral("Arial"), fsItalic);
    rs.SavetoFile(file);
    EXPECT_FALSE(QFile::exists(file));
    rs.LoadFromFile(file);
    ASSERT_EQ(rs.Count(), 1);
    EXPECT_EQ(rs.GetRichSegment(0), (TRichSegment{QStringLiteral("AB"), QStringLiteral("Arial"), fsItalic}));
}

TEST_F(RichStringTest, GetFromRichEditTakesFirstFormatForWholeText)
{
    type(QStringLiteral("AB"), QStringLiteral("Arial"), true);
    type(QStringLiteral("C"), QStringLiteral("Courier"));
    // A selection of "B" that must survive the transfer.
    QTextCursor sel(&m_edit.document());
    sel.setPosition(1);
    sel.setPosition(2, QTextCursor::KeepAnchor);
    m_edit.setTextCursor(sel);
    const int calls = m_handlerCalls;

    TRichString rs;
    rs.Add(QStringLiteral("old"), QStringLiteral("Old"), {});
    rs.GetFromRichEdit(m_edit);
    ASSERT_EQ(rs.Count(), 1);
    EXPECT_EQ(rs.GetRichSegment(0), (TRichSegment{QStringLiteral("ABC"), QStringLiteral("Arial"), fsBold}));
    EXPECT_EQ(m_edit.textCursor().selectionStart(), 1);
    EXPECT_EQ(m_edit.textCursor().selectionEnd(), 2);
    expectHandlerRestoredAndUncalled(calls);
}

TEST_F(RichStringTest, GetFromEmptyRichEditGivesOneEmptySegment)
{
    TRichString rs;
    rs.GetFromRichEdit(m_edit);
    ASSERT_EQ(rs.Count(), 1);
    EXPECT_TRUE(rs.GetText(0).isEmpty());
    EXPECT_EQ(rs.GetRichSegment(0).Font, m_edit.document().defaultFont().family());
}

TEST_F(RichStringTest, SetToRichEditFormatsEachSegment)
{
    type(QStringLiteral("previous text"), QStringLiteral("Courier"));
    const int calls = m_handlerCalls;
    TRichString rs;
    rs.Add(QStringLiteral("L"), QStringLiteral("Arial"), fsBold);
    rs.Add(QStringLiteral("\u03A91"), QStringLiteral("Symbol"), {});
    rs.Add(QString(), QStringLiteral("Ignored"), fsItalic);
    rs.Add(QStringLiteral("u"), QStringLiteral("Arial"), fsUnderline | fsStrikeOut | fsItalic);
    rs.SetToRichEdit(m_edit);

    EXPECT_EQ(m_edit.document().toPlainText(), QStringLiteral("L\u03A91u"));
    const struct {
        int position;
        const char* family;
        bool bold, italic, underline, strikeOut;
    } kExpected[] = {
        {0, "Arial", true, false, false, false},
        {1, "Symbol", false, false, false, false},
        {2, "Symbol", false, false, false, false},
        {3, "Arial", false, true, true, true},
    };
    for (const auto& e : kExpected) {
        SCOPED_TRACE(e.position);
        const QTextCharFormat f = formatAt(e.position);
        EXPECT_EQ(f.fontFamilies().toStringList().value(0), QLatin1String(e.family));
        EXPECT_EQ(f.fontWeight() >= QFont::Bold, e.bold);
        EXPECT_EQ(f.fontItalic(), e.italic);
        EXPECT_EQ(f.fontUnderline(), e.underline);
        EXPECT_EQ(f.fontStrikeOut(), e.strikeOut);
        EXPECT_DOUBLE_EQ(f.fontPointSize(), 11);
    }
    EXPECT_EQ(m_edit.textCursor().position(), 4);
    EXPECT_FALSE(m_edit.textCursor().hasSelection());
    expectHandlerRestoredAndUncalled(calls);

    // And back: one segment in the first character's format.
    TRichString back;
    back.GetFromRichEdit(m_edit);
    ASSERT_EQ(back.Count(), 1);
    EXPECT_EQ(back.GetRichSegment(0), (TRichSegment{QStringLiteral("L\u03A91u"), QStringLiteral("Arial"), fsBold}));
}

TEST_F(RichStringTest, InsertTextReplacesSelectionOrInsertsAtCaret)
{
    type(QStringLiteral("ABCD"), QStringLiteral("Arial"));
    QTextCursor c(&m_edit.document());
    c.setPosition(1);
    c.setPosition(3, QTextCursor::KeepAnchor);
    m_edit.setTextCursor(c);
    RichEditInsertText(m_edit, QStringLiteral("\u00B0"));
    EXPECT_EQ(m_edit.document().toPlainText(), QStringLiteral("A\u00B0D"));
    EXPECT_EQ(m_edit.textCursor().position(), 2);
    RichEditInsertText(m_edit, QStringLiteral("xy"));
    EXPECT_EQ(m_edit.document().toPlainText(), QStringLiteral("A\u00B0xyD"));
    EXPECT_EQ(m_edit.textCursor().position(), 4);
    // Inserted text takes the format at the caret.
    EXPECT_EQ(formatAt(2).fontFamilies().toStringList().value(0), QStringLiteral("Arial"));
}

} // namespace
