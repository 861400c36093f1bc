#include "ui/common/screenfit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace lapido {

namespace {

// Set on a window between its show and its first exposure, when the frame becomes known.
constexpr char kFitPending[] = "lapidoScreenFitPending";

} // namespace

void TScreenFit::fit(QWidget& window)
{
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen || window.isMaximized() || window.isFullScreen())
        return;
    const QRect room = screen->availableGeometry();
    const QRect client = window.geometry();
    const QRect frame = window.frameGeometry();
    const int frameW = frame.width() - client.width();
    const int frameH = frame.height() - client.height();
    const QSize largest(room.width() - frameW, room.height() - frameH);
    if (client.width() > largest.width() || client.height() > largest.height()) {
        const QSize wanted = client.size().boundedTo(largest);
        window.setMinimumSize(window.minimumSize().boundedTo(wanted));
        window.resize(wanted);
    }
    const QRect now = window.frameGeometry();
    const int x = std::clamp(now.left(), room.left(), std::max(room.left(), room.right() + 1 - now.width()));
    const int y = std::clamp(now.top(), room.top(), std::max(room.top(), room.bottom() + 1 - now.height()));
    if (x != now.left() || y != now.top())
        window.move(x, y); // a top-level window's position is its frame's
}

bool TScreenFit::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::Show) {
        auto* window = qobject_cast<QWidget*>(watched);
        if (window && window->isWindow()) {
            fit(*window);
            window->setProperty(kFitPending, true);
        }
    } else if (type == QEvent::Expose) {
        // The exposure goes to the platform window; by then the window manager has framed it.
        auto* platformWindow = qobject_cast<QWindow*>(watched);
        QWidget* window = platformWindow ? QWidget::find(platformWindow->winId()) : nullptr;
        if (window && window->property(kFitPending).toBool()) {
            window->setProperty(kFitPending, false);
            fit(*window);
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace lapido
