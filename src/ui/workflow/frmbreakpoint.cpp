// TfrmBreakPoint: the tag, the Continue button and the loop that waits for it.
#include "ui/workflow/frmbreakpoint.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace lapido {

TfrmBreakPoint::TfrmBreakPoint(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Break point"));
    auto* layout = new QVBoxLayout(this);
    m_where = new QLabel(this);
    m_where->setTextFormat(Qt::PlainText);
    m_continue = new QPushButton(QStringLiteral("Continue"), this);
    layout->addWidget(m_where);
    layout->addWidget(m_continue, 0, Qt::AlignHCenter);
    connect(m_continue, &QPushButton::clicked, this, [this] {
        m_tag = 0;
        hide();
        emit released();
    });
}

void TfrmBreakPoint::Hold(const QString& where)
{
    m_where->setText(where);
    m_where->setVisible(!where.isEmpty());
    m_tag = 1;
    show();
    raise();
    QEventLoop loop;
    connect(this, &TfrmBreakPoint::released, &loop, &QEventLoop::quit);
    if (m_tag != 0)
        loop.exec();
}

void TfrmBreakPoint::closeEvent(QCloseEvent* event)
{
    // Closing the window must not leave the sequence held for ever.
    QDialog::closeEvent(event);
    if (event->isAccepted() && m_tag != 0) {
        m_tag = 0;
        emit released();
    }
}

} // namespace lapido
