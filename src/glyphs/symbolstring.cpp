// The symbol picker's symbol-list editing rules.
#include "glyphs/symbolstring.h"

#include <algorithm>

namespace lapido {

int symbolGridRows(int count)
{
    return count <= 0 ? 1 : (count - 1) / kSymbolGridColumns + 1;
}

SymbolStringEditor::SymbolStringEditor(QString text) : m_text(std::move(text)), m_cursor(int(m_text.size())) {}

void SymbolStringEditor::setText(const QString& text)
{
    m_text = text;
    m_cursor = int(m_text.size());
}

void SymbolStringEditor::setCursor(int column)
{
    m_cursor = std::clamp(column, 0, columnCount() - 1);
}

void SymbolStringEditor::Insert(QChar c)
{
    m_text.insert(m_cursor, c);
    ++m_cursor;
}

void SymbolStringEditor::Delete()
{
    if (m_cursor >= m_text.size())
        return;
    m_text.remove(m_cursor, 1);
    setCursor(m_cursor);
}

void SymbolStringEditor::ClearAll()
{
    m_text.clear();
    m_cursor = 0;
}

} // namespace lapido
