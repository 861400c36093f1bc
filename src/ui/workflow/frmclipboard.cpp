// TfrmClipboard: lines in, clipboard out.
#include "ui/workflow/frmclipboard.h"

#include <QAbstractItemModel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace lapido {

TfrmClipboard::TfrmClipboard(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("ClipBoard"));
    auto* layout = new QVBoxLayout(this);
    m_memo = new QPlainTextEdit(this);
    m_memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(m_memo);
    resize(480, 320);
}

void TfrmClipboard::Clear()
{
    m_memo->clear();
}

void TfrmClipboard::AddString(const QString& St)
{
    m_memo->appendPlainText(St);
}

void TfrmClipboard::AddStringGrid(const QAbstractItemModel& Grid)
{
    for (int row = 0; row < Grid.rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < Grid.columnCount(); ++column)
            cells << Grid.data(Grid.index(row, column)).toString();
        AddString(cells.join(QLatin1Char('\t')));
    }
}

void TfrmClipboard::AddStringGrid(std::span<const QStringList> rows)
{
    for (const QStringList& cells : rows)
        AddString(cells.join(QLatin1Char('\t')));
}

void TfrmClipboard::CopyToClipboard()
{
    m_memo->selectAll();
    m_memo->copy();
    m_memo->clear();
}

QString TfrmClipboard::text() const
{
    return m_memo->toPlainText();
}

} // namespace lapido
