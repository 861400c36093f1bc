// The camera picture of the main window: paints the picture buffer at the video offset and
// hands the middle-button drag to the window.
#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>

#include <functional>

namespace lapido {

class TVideoPanel : public QWidget {
    Q_OBJECT

public:
    explicit TVideoPanel(const QImage& buffer, QWidget* parent = nullptr);

    // Where the buffer's top-left corner sits relative to the panel (negated offset).
    void setBufferOffset(QPoint offset) { m_offset = offset; }
    QPoint bufferOffset() const { return m_offset; }
    // A panel position as a pixel of the buffer.
    QPoint toBuffer(QPoint panelPos) const { return panelPos + m_offset; }
    QSize sizeHint() const override;

    // Called with the previous and current pointer position (panel pixels) while only the
    // middle button is held without key modifiers.
    std::function<void(QPoint from, QPoint to)> onDrag;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    const QImage& m_buffer;
    QPoint m_offset;
    QPoint m_previous;
};

} // namespace lapido
