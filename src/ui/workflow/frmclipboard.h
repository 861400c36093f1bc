// TfrmClipboard: a memo that collects lines (a grid's rows among them) for the clipboard.
#pragma once

#include <QDialog>
#include <QStringList>

#include <span>

class QAbstractItemModel;
class QPlainTextEdit;

namespace lapido {

// "ClipBoard": service data (positions, grids of values) gathered line by line and handed
// to the system clipboard in one go.
class TfrmClipboard : public QDialog {
    Q_OBJECT

public:
    explicit TfrmClipboard(QWidget* parent = nullptr);

    void Clear();
    void AddString(const QString& St);
    // One line per row of the grid, its cells joined by tab characters (a spreadsheet pastes
    // them back into cells).
    void AddStringGrid(const QAbstractItemModel& Grid);
    void AddStringGrid(std::span<const QStringList> rows);
    // Selects all, copies it to the system clipboard and empties the memo.
    void CopyToClipboard();

    QString text() const;
    QPlainTextEdit* memo() const { return m_memo; }

private:
    QPlainTextEdit* m_memo = nullptr;
};

} // namespace lapido
