// TextRichEdit: the selection-change handler is called whenever the caret or selection moves.
#include "ui/glyphs/textrichedit.h"

namespace lapido {

TextRichEdit::TextRichEdit(QWidget* parent) : QTextEdit(parent)
{
    setAcceptRichText(true);
    connect(this, &QTextEdit::cursorPositionChanged, this, [this] {
        if (m_handler)
            m_handler();
    });
}

} // namespace lapido
