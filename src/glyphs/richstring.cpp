// TRichString: formatted text as segments of one font and style, and its transfers to and from a rich edit.
#include "glyphs/richstring.h"

#include <QTextCharFormat>
#include <QTextDocument>

#include <stdexcept>

namespace lapido {

namespace {

void checkIndex(int index, std::size_t size)
{
    if (index < 0 || std::size_t(index) >= size)
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
}

// While it lives the editor's selection-change handler is a do-nothing one and the selection
// is hidden, so that the selection moves of a transfer do not reach the label editor.
class SelectionGuard {
public:
    explicit SelectionGuard(RichEdit& edit)
        : m_edit(edit)
        , m_handler(edit.selectionChangeHandler())
        , m_hide(edit.hideSelection())
    {
        m_edit.setSelectionChangeHandler([] {});
        m_edit.setHideSelection(true);
    }
    ~SelectionGuard()
    {
        m_edit.setHideSelection(m_hide);
        m_edit.setSelectionChangeHandler(std::move(m_handler));
    }
    SelectionGuard(const SelectionGuard&) = delete;
    SelectionGuard& operator=(const SelectionGuard&) = delete;

private:
    RichEdit& m_edit;
    RichEdit::SelectionChangeHandler m_handler;
    bool m_hide;
};

QString familyOf(const QTextCharFormat& format, const QTextDocument& doc)
{
    const QStringList families = format.fontFamilies().toStringList();
    if (!families.isEmpty() && !families.front().isEmpty())
        return families.front();
    return doc.defaultFont().family();
}

TFontStyles styleOf(const QTextCharFormat& format, const QTextDocument& doc)
{
    const QFont base = doc.defaultFont();
    const int weight = format.hasProperty(QTextFormat::FontWeight) ? format.fontWeight() : base.weight();
    TFontStyles style;
    if (weight >= QFont::Bold)
        style |= fsBold;
    if (format.hasProperty(QTextFormat::FontItalic) ? format.fontItalic() : base.italic())
        style |= fsItalic;
    if (format.hasProperty(QTextFormat::TextUnderlineStyle) || format.hasProperty(QTextFormat::FontUnderline)
            ? format.fontUnderline()
            : base.underline())
        style |= fsUnderline;
    if (format.hasProperty(QTextFormat::FontStrikeOut) ? format.fontStrikeOut() : base.strikeOut())
        style |= fsStrikeOut;
    return style;
}

} // namespace

DocumentRichEdit::DocumentRichEdit(double fontPointSize)
    : m_document(std::make_unique<QTextDocument>())
    , m_cursor(m_document.get())
    , m_fontPointSize(fontPointSize)
{
    QFont f = m_document->defaultFont();
    f.setPointSizeF(fontPointSize);
    m_document->setDefaultFont(f);
}

DocumentRichEdit::~DocumentRichEdit() = default;

void DocumentRichEdit::setTextCursor(const QTextCursor& cursor)
{
    const bool moved = cursor.position() != m_cursor.position() || cursor.anchor() != m_cursor.anchor();
    m_cursor = cursor;
    if (moved && m_handler)
        m_handler();
}

int TRichString::Add(const QString& Text, const QString& Font, TFontStyles Style)
{
    m_segments.push_back(std::make_unique<TRichSegment>(TRichSegment{Text, Font, Style}));
    return int(m_segments.size()) - 1;
}

void TRichString::Delete(int Index)
{
    checkIndex(Index, m_segments.size());
    m_segments.erase(m_segments.begin() + Index);
}

TRichSegment TRichString::GetRichSegment(int Index) const
{
    checkIndex(Index, m_segments.size());
    return *m_segments[std::size_t(Index)];
}

QString TRichString::GetText(int Index) const
{
    checkIndex(Index, m_segments.size());
    return m_segments[std::size_t(Index)]->Text;
}

void TRichString::SetText(int Index, const QString& St)
{
    checkIndex(Index, m_segments.size());
    m_segments[std::size_t(Index)]->Text = St;
}

void TRichString::Clear()
{
    m_segments.clear();
}

void TRichString::SavetoFile(const QString&) const {}

void TRichString::LoadFromFile(const QString&) {}

void TRichString::GetFromRichEdit(RichEdit& richEdit)
{
    SelectionGuard guard(richEdit);
    const QTextCursor saved = richEdit.textCursor();
    Clear();
    QTextCursor caret(&richEdit.document());
    caret.setPosition(0);
    richEdit.setTextCursor(caret);
    // At the start of a non-empty block the cursor reports the format of the first character.
    const QTextCharFormat format = caret.charFormat();
    Add(richEdit.document().toPlainText(), familyOf(format, richEdit.document()),
        styleOf(format, richEdit.document()));
    richEdit.setTextCursor(saved);
}

void TRichString::SetToRichEdit(RichEdit& richEdit) const
{
    SelectionGuard guard(richEdit);
    QTextDocument& doc = richEdit.document();
    ClearRichEditDocument(doc);
    QTextCursor cursor(&doc);
    cursor.setPosition(0);
    richEdit.setTextCursor(cursor);
    for (const auto& segment : m_segments) {
        const int s = cursor.position();
        cursor.insertText(segment->Text);
        const int e = cursor.position();
        cursor.setPosition(s);
        cursor.setPosition(e, QTextCursor::KeepAnchor);
        richEdit.setTextCursor(cursor);
        QTextCharFormat format;
        format.setFontFamilies(QStringList{segment->Font});
        format.setFontWeight(segment->Style.testFlag(fsBold) ? QFont::Bold : QFont::Normal);
        format.setFontItalic(segment->Style.testFlag(fsItalic));
        format.setFontUnderline(segment->Style.testFlag(fsUnderline));
        format.setFontStrikeOut(segment->Style.testFlag(fsStrikeOut));
        format.setFontPointSize(richEdit.fontPointSize());
        cursor.mergeCharFormat(format);
        cursor.setPosition(e);
        richEdit.setTextCursor(cursor);
    }
}

void ClearRichEditDocument(QTextDocument& document)
{
    QTextCursor block(&document);
    block.beginEditBlock();
    document.clear();
    block.endEditBlock();
}

void RichEditInsertText(RichEdit& richEdit, const QString& text)
{
    QTextCursor cursor = richEdit.textCursor();
    cursor.insertText(text);
    richEdit.setTextCursor(cursor);
}

} // namespace lapido
