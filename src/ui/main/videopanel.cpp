#include "ui/main/videopanel.h"

#include "camera/videooverlay.h"

#include <QMouseEvent>
#include <QPainter>

namespace lapido {

TVideoPanel::TVideoPanel(const QImage& buffer, QWidget* parent) : QWidget(parent), m_buffer(buffer)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
}

QSize TVideoPanel::sizeHint() const
{
    return {kVideoBufferWidth, kVideoBufferHeight};
}

void TVideoPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect picture(-m_offset, m_buffer.size());
    if (!picture.contains(rect()))
        painter.fillRect(rect(), QColor(0x38, 0x38, 0x38));
    painter.drawImage(picture.topLeft(), m_buffer);
}

void TVideoPanel::mousePressEvent(QMouseEvent* event)
{
    m_previous = event->position().toPoint();
    QWidget::mousePressEvent(event);
}

void TVideoPanel::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint now = event->position().toPoint();
    if (event->buttons() == Qt::MiddleButton && event->modifiers() == Qt::NoModifier && onDrag)
        onDrag(m_previous, now);
    m_previous = now;
    QWidget::mouseMoveEvent(event);
}

} // namespace lapido
