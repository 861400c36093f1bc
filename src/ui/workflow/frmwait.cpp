// TfrmWait: labels, bar and Abort; the wait loop of the caller drives it.
#include "ui/workflow/frmwait.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace lapido {

TfrmWait::TfrmWait(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Waiting...."));
    setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(this);
    m_text = new QLabel(QStringLiteral("Please wait!"), this);
    auto* process = new QLabel(QStringLiteral("Waiting for process to finish"), this);
    m_detail = new QLabel(this);
    m_detail->hide();
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_abort = new QPushButton(QStringLiteral("Abort"), this);
    for (QLabel* label : {m_text, process, m_detail})
        label->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_text);
    layout->addWidget(process);
    layout->addWidget(m_detail);
    layout->addWidget(m_bar);
    layout->addWidget(m_abort, 0, Qt::AlignHCenter);

    connect(m_abort, &QPushButton::clicked, this, &TfrmWait::reject);
}

void TfrmWait::reject()
{
    m_abortPressed = true;
    QDialog::reject();
}

void TfrmWait::ShowWait(const QString& title, const QString& text, const QString& detail)
{
    m_abortPressed = false;
    setWindowTitle(title.isEmpty() ? QStringLiteral("Waiting....") : title);
    m_text->setText(text.isEmpty() ? QStringLiteral("Please wait!") : text);
    m_detail->setText(detail);
    m_detail->setVisible(!detail.isEmpty());
    m_bar->setValue(0);
    setResult(0);
    show();
    raise();
}

void TfrmWait::SetProgress(int position)
{
    m_bar->setValue(std::clamp(position, m_bar->minimum(), m_bar->maximum()));
}

void TfrmWait::FinishWait()
{
    if (isVisible())
        done(QDialog::Accepted);
}

int TfrmWait::barPosition() const
{
    return m_bar->value();
}

} // namespace lapido
