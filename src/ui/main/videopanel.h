// The camera picture of the main window: paints the picture buffer, scaled down to the panel
// with its aspect kept, and hands the middle-button drag to the window in buffer pixels.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <functional>

namespace lapido {

class TVideoPanel : public QWidget {
    Q_OBJECT

public:
    explicit TVideoPanel(const QImage& buffer, QWidget* parent = nullptr);

    // Where the buffer's top-left corner sits relative to the paint box (negated offset).
    void setBufferOffset(QPoint offset) { m_offset = offset; }
    QPoint bufferOffset() const { return m_offset; }
    // The panel rectangle the buffer is drawn into: as large as the panel allows, never
    // larger than the buffer itself, the buffer's aspect kept, centred across and at the top.
    QRectF pictureRect() const;
    // The picture's scale (panel pixels per buffer pixel), at most 1.
    double pictureScale() const;
    // A panel position as a pixel of the buffer, and back. The overlay is painted into the
    // buffer, so a point of the overlay and the picture under it map alike.
    QPointF toBuffer(QPointF panelPos) const;
    QPointF toPanel(QPointF bufferPos) const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Called with the previous and current pointer position (buffer pixels) while only the
    // middle button is held without key modifiers.
    std::function<void(QPointF from, QPointF to)> onDrag;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    const QImage& m_buffer;
    QPoint m_offset;
    QPointF m_previous;
};

} // namespace lapido
