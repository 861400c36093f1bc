// A rich-edit widget that the rich-string transfers can use (the RichEdit interface over QTextEdit).
#pragma once

#include "glyphs/richstring.h"

#include <QTextEdit>

namespace lapido {

class TextRichEdit : public QTextEdit, public RichEdit {
    Q_OBJECT
public:
    explicit TextRichEdit(QWidget* parent = nullptr);

    QTextDocument& document() override { return *QTextEdit::document(); }
    QTextCursor textCursor() const override { return QTextEdit::textCursor(); }
    void setTextCursor(const QTextCursor& cursor) override { QTextEdit::setTextCursor(cursor); }
    SelectionChangeHandler selectionChangeHandler() const override { return m_handler; }
    void setSelectionChangeHandler(SelectionChangeHandler handler) override { m_handler = std::move(handler); }
    bool hideSelection() const override { return m_hideSelection; }
    void setHideSelection(bool hide) override { m_hideSelection = hide; }
    double fontPointSize() const override { return font().pointSizeF(); }

private:
    SelectionChangeHandler m_handler;
    bool m_hideSelection = true;
};

} // namespace lapido
