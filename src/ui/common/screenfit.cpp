#include "ui/common/screenfit.h"

#include <QDateTime>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace lapido {

namespace {

// When a window was last shown; for kSettleMs after that its placement is checked again.
constexpr char kShownAtMs[] = "lapidoScreenFitShownAtMs";
constexpr qint64 kSettleMs = 1500;

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
            window->setProperty(kShownAtMs, QDateTime::currentMSecsSinceEpoch());
        }
    } else if (type == QEvent::Expose || type == QEvent::Move || type == QEvent::Resize) {
        // The exposure goes to the platform window, moves to the widget. The window manager
        // frames and places a new window a little after it is shown, and a window may place
        // itself from a stored position: for a moment after the show it is fitted again, then
        // left where the operator puts it.
        QWidget* window = nullptr;
        if (auto* platformWindow = qobject_cast<QWindow*>(watched))
            window = QWidget::find(platformWindow->winId());
        else if (auto* widget = qobject_cast<QWidget*>(watched); widget && widget->isWindow())
            window = widget;
        const QVariant shownAt = window ? window->property(kShownAtMs) : QVariant();
        if (shownAt.isValid() && window->isVisible()
            && QDateTime::currentMSecsSinceEpoch() - shownAt.toLongLong() < kSettleMs)
            fit(*window);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace lapido
