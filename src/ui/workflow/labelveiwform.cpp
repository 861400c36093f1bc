// TLabelVeiwForm: the label text, and the window position in the store.
#include "ui/workflow/labelveiwform.h"

#include "platform/settingsstore.h"
#include "settings/settingskeys.h"

#include <QDebug>
#include <QLabel>
#include <QMoveEvent>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <exception>

namespace lapido {

namespace {

const QString kSection = QString::fromLatin1(keys::kLabelVeiw);
const QString kX = QString::fromLatin1(keys::kXGuiPos);
const QString kY = QString::fromLatin1(keys::kYGuiPos);

} // namespace

TLabelVeiwForm::TLabelVeiwForm(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setWindowTitle(QStringLiteral("Label View"));
    auto* layout = new QVBoxLayout(this);
    m_text = new QLabel(this);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setTextFormat(Qt::PlainText);
    QFont font = m_text->font();
    font.setPointSize(font.pointSize() * 2);
    m_text->setFont(font);
    layout->addWidget(m_text);
    resize(360, 80);

    m_settle = new QTimer(this);
    m_settle->setSingleShot(true);
    m_settle->setInterval(kMoveSettleMs);
    connect(m_settle, &QTimer::timeout, this, &TLabelVeiwForm::storePosition);
}

void TLabelVeiwForm::setLabelText(const QString& text)
{
    m_text->setText(text);
}

QString TLabelVeiwForm::labelText() const
{
    return m_text->text();
}

void TLabelVeiwForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    // Missing values keep the window where it is.
    const QPoint here = pos();
    m_restoring = true;
    try {
        const SettingsStore& store = AppRegistry();
        move(store.ReadInteger(kSection, kX, here.x()), store.ReadInteger(kSection, kY, here.y()));
    } catch (const std::exception& e) {
        qWarning().noquote() << "Label View position not read:" << e.what();
    }
    m_restoring = false;
    m_settle->stop();
}

void TLabelVeiwForm::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    if (!m_restoring && isVisible())
        m_settle->start();
}

void TLabelVeiwForm::storePosition()
{
    try {
        SettingsStore& store = AppRegistry();
        store.WriteInteger(kSection, kX, x());
        store.WriteInteger(kSection, kY, y());
    } catch (const std::exception& e) {
        qWarning().noquote() << "Label View position not stored:" << e.what();
    }
}

} // namespace lapido
