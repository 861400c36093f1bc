// Placement of service windows inside the screen's available area.
#include "ui/common/windowplacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace lapido {

namespace {

QRect insideOf(QRect frame, const QRect& available)
{
    frame.setWidth(std::min(frame.width(), available.width()));
    frame.setHeight(std::min(frame.height(), available.height()));
    frame.moveLeft(std::clamp(frame.left(), available.left(), available.right() - frame.width() + 1));
    frame.moveTop(std::clamp(frame.top(), available.top(), available.bottom() - frame.height() + 1));
    return frame;
}

QRect availableFor(const QWidget& window)
{
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

// Frame minus client area; before the window manager framed the window, the estimate.
QMargins decorationsOf(const QWidget& window, QMargins estimate)
{
    const QRect frame = window.frameGeometry();
    const QRect client = window.geometry();
    const QMargins m(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                     frame.bottom() - client.bottom());
    return m.isNull() ? estimate : m;
}

} // namespace

QRect placeNextTo(const QRect& anchor, QSize frame, const QRect& available)
{
    frame = frame.boundedTo(available.size());
    const QRect below(QPoint(anchor.left(), anchor.bottom() + 1), frame);
    if (below.bottom() <= available.bottom())
        return insideOf(below, available);
    const QRect above(QPoint(anchor.left(), anchor.top() - frame.height()), frame);
    if (above.top() >= available.top())
        return insideOf(above, available);
    // Neither fits: the side with more room, kept inside the screen.
    const int roomBelow = available.bottom() - anchor.bottom();
    const int roomAbove = anchor.top() - available.top();
    return insideOf(roomBelow >= roomAbove ? below : above, available);
}

void keepOnScreen(QWidget& window, QMargins decorations)
{
    const QRect available = availableFor(window);
    if (available.isEmpty())
        return;
    const QMargins m = decorationsOf(window, decorations);
    const QRect frame = window.geometry().marginsAdded(m);
    const QRect fitted = insideOf(frame, available);
    if (fitted == frame)
        return;
    const QRect client = fitted.marginsRemoved(m);
    if (client.size() != window.size())
        window.resize(client.size().expandedTo(window.minimumSize()));
    window.move(fitted.topLeft());
}

void showNextTo(QWidget& window, const QWidget& anchor)
{
    // The decorations of the anchor stand for those the window manager will give the window.
    const QMargins m = decorationsOf(anchor, {});
    window.ensurePolished();
    const QSize size = window.size().expandedTo(window.minimumSizeHint().expandedTo(window.minimumSize()));
    const QSize frameSize = size.grownBy(m);
    const QRect frame = placeNextTo(anchor.frameGeometry(), frameSize, availableFor(anchor));
    const QRect client = frame.marginsRemoved(m);
    window.resize(client.size().expandedTo(window.minimumSize()));
    // A top-level window's position is that of its frame.
    window.move(frame.topLeft());
    window.show();
    window.raise();
    window.activateWindow();
    keepOnScreen(window, m);
}

} // namespace lapido
