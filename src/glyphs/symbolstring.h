// The symbol picker's symbol list being edited: its text and the cursor of its one-row grid.
#pragma once

#include <QString>

namespace lapido {

// Columns of the picker's character grid.
constexpr int kSymbolGridColumns = 16;
// Rows the character grid needs for a list of count characters (one row when empty).
int symbolGridRows(int count);

// One grid column per character plus one empty column after the last, where an insert appends.
class SymbolStringEditor {
public:
    explicit SymbolStringEditor(QString text = {});

    const QString& text() const { return m_text; }
    // Starts over with a text; the cursor goes to the empty column after it.
    void setText(const QString& text);
    int columnCount() const { return int(m_text.size()) + 1; }
    int cursor() const { return m_cursor; }
    // Held to the grid's columns.
    void setCursor(int column);

    // Puts the character before the one under the cursor (appends on the empty column); the
    // cursor stays on the same character, one column further right.
    void Insert(QChar c);
    // Removes the character under the cursor; nothing on the empty column.
    void Delete();
    void ClearAll();

private:
    QString m_text;
    int m_cursor = 0;
};

} // namespace lapido
