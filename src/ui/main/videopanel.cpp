#include "ui/main/videopanel.h"

#include "camera/videooverlay.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRegion>

#include <algorithm>

namespace lapido {

namespace {

const QColor kFieldColour(0x38, 0x38, 0x38);

} // namespace

TVideoPanel::TVideoPanel(const QImage& buffer, QWidget* parent) : QWidget(parent), m_buffer(buffer)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    // A click on the picture takes the keyboard from a text box or a list: the keys then jog.
    setFocusPolicy(Qt::ClickFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    // Beyond its own size the picture shows nothing more: the room goes to the controls.
    setMaximumSize(kVideoBufferWidth, kVideoBufferHeight);
}

QSize TVideoPanel::sizeHint() const
{
    return {kVideoBufferWidth, kVideoBufferHeight};
}

QSize TVideoPanel::minimumSizeHint() const
{
    return {kVideoBufferWidth / 4, kVideoBufferHeight / 4};
}

double TVideoPanel::pictureScale() const
{
    const double sx = double(width()) / kVideoBufferWidth;
    const double sy = double(height()) / kVideoBufferHeight;
    return std::clamp(std::min(sx, sy), 0.01, 1.0);
}

QRectF TVideoPanel::pictureRect() const
{
    const double s = pictureScale();
    const QSizeF size(kVideoBufferWidth * s, kVideoBufferHeight * s);
    return {QPointF((width() - size.width()) / 2.0, 0.0), size};
}

QPointF TVideoPanel::toBuffer(QPointF panelPos) const
{
    const QRectF r = pictureRect();
    return (panelPos - r.topLeft()) / pictureScale() + QPointF(m_offset);
}

QPointF TVideoPanel::toPanel(QPointF bufferPos) const
{
    return (bufferPos - QPointF(m_offset)) * pictureScale() + pictureRect().topLeft();
}

void TVideoPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRectF target = pictureRect();
    const QRectF source(QPointF(m_offset), QSizeF(kVideoBufferWidth, kVideoBufferHeight));
    // Beside the picture the window's own background; inside it, the grey field where the
    // buffer leaves a gap.
    const QRegion beside = QRegion(rect()) - QRegion(target.toAlignedRect());
    for (const QRect& r : beside)
        painter.fillRect(r, palette().window());
    if (!QRectF(m_buffer.rect()).contains(source))
        painter.fillRect(target, kFieldColour);
    // Smoothing keeps the one-pixel lines of the overlay visible when the picture is scaled down.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, pictureScale() < 1.0);
    painter.drawImage(target, m_buffer, source);
}

void TVideoPanel::mousePressEvent(QMouseEvent* event)
{
    m_previous = toBuffer(event->position());
    QWidget::mousePressEvent(event);
}

void TVideoPanel::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF now = toBuffer(event->position());
    if (event->buttons() == Qt::MiddleButton && event->modifiers() == Qt::NoModifier && onDrag)
        onDrag(m_previous, now);
    m_previous = now;
    QWidget::mouseMoveEvent(event);
}

} // namespace lapido
