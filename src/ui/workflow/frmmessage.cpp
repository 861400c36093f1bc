// TfrmMessage: one text and a "Close" button.
#include "ui/workflow/frmmessage.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace lapido {

TfrmMessage::TfrmMessage(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Marking problem"));
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    m_text = new QLabel(this);
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_close = new QPushButton(QStringLiteral("Close"), this);
    layout->addWidget(m_text);
    layout->addWidget(m_close, 0, Qt::AlignHCenter);
    connect(m_close, &QPushButton::clicked, this, &QDialog::close);
}

void TfrmMessage::ShowProblem(const QString& title, const QString& text)
{
    setWindowTitle(title.isEmpty() ? QStringLiteral("Marking problem") : title);
    // Plain text: a controller reply quoted in a fault must not be read as markup.
    m_text->setTextFormat(Qt::PlainText);
    m_text->setText(text);
    show();
    raise();
}

QString TfrmMessage::problemText() const
{
    return m_text->text();
}

} // namespace lapido
