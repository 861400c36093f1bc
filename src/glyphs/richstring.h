// TRichString: formatted text as segments of one font and style, and its transfers to and from a rich edit.
#pragma once

#include "glyphs/fontstyles.h"

#include <QString>
#include <QTextCursor>

#include <functional>
#include <memory>
#include <vector>

class QTextDocument;

namespace lapido {

struct TRichSegment {
    QString Text;
    QString Font;
    TFontStyles Style;
    bool operator==(const TRichSegment&) const = default;
};

// The label editor's rich-edit control as the transfers see it: a text document, the caret
// and selection, the handler the control calls when its selection changes, whether the
// selection is shown, and the control's own font size. The window adapts its text widget to
// this; DocumentRichEdit is the widget-free one.
class RichEdit {
public:
    using SelectionChangeHandler = std::function<void()>;

    virtual ~RichEdit() = default;
    virtual QTextDocument& document() = 0;
    virtual QTextCursor textCursor() const = 0;
    // Moves the caret or selection; calls the selection-change handler when it moved.
    virtual void setTextCursor(const QTextCursor& cursor) = 0;
    virtual SelectionChangeHandler selectionChangeHandler() const = 0;
    virtual void setSelectionChangeHandler(SelectionChangeHandler handler) = 0;
    virtual bool hideSelection() const = 0;
    virtual void setHideSelection(bool hide) = 0;
    virtual double fontPointSize() const = 0;
};

// A rich edit over a document of its own, without a window.
class DocumentRichEdit : public RichEdit {
public:
    explicit DocumentRichEdit(double fontPointSize = 10);
    ~DocumentRichEdit() override;

    QTextDocument& document() override { return *m_document; }
    QTextCursor textCursor() const override { return m_cursor; }
    void setTextCursor(const QTextCursor& cursor) override;
    SelectionChangeHandler selectionChangeHandler() const override { return m_handler; }
    void setSelectionChangeHandler(SelectionChangeHandler handler) override { m_handler = std::move(handler); }
    bool hideSelection() const override { return m_hideSelection; }
    void setHideSelection(bool hide) override { m_hideSelection = hide; }
    double fontPointSize() const override { return m_fontPointSize; }

private:
    std::unique_ptr<QTextDocument> m_document;
    QTextCursor m_cursor;
    SelectionChangeHandler m_handler;
    bool m_hideSelection = true;
    double m_fontPointSize;
};

// An ordered list of segments it owns, in text order. Index errors throw std::out_of_range.
class TRichString {
public:
    virtual ~TRichString() = default;

    int Add(const QString& Text, const QString& Font, TFontStyles Style);
    void Delete(int Index);
    TRichSegment GetRichSegment(int Index) const;
    QString GetText(int Index) const;
    // Replaces the text; font and style stay.
    void SetText(int Index, const QString& St);
    virtual void Clear();
    int Count() const { return int(m_segments.size()); }

    // A rich string has no file of its own (labels are stored in the label file): both do nothing.
    void SavetoFile(const QString& Filename) const;
    void LoadFromFile(const QString& Filename);

    // Replaces the content with one segment: the editor's whole text in the font and style of
    // its first position. The editor's selection is kept and its handler is not called.
    void GetFromRichEdit(RichEdit& richEdit);
    // Replaces the editor's content with the segments, each in its font and style at the
    // editor's own font size; the caret ends after the text. The handler is not called.
    void SetToRichEdit(RichEdit& richEdit) const;

private:
    std::vector<std::unique_ptr<TRichSegment>> m_segments;
};

// Empties the document as QTextDocument::clear() does, inside an edit block. A bare clear()
// hands the document's cursors back only after its change signals ran: a cursor that a
// signal handler lets go of meanwhile (a window copying its caret into the station) stays in
// the document's list after it is freed, and the next edit writes into freed memory.
void ClearRichEditDocument(QTextDocument& document);

// Replaces the editor's selection (or inserts at the caret) with the text.
void RichEditInsertText(RichEdit& richEdit, const QString& text);

} // namespace lapido
