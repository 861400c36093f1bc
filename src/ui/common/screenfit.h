// TScreenFit: keeps every window of the program fully on its screen when it is shown.
#pragma once

#include <QObject>

class QWidget;

namespace lapido {

// Installed on the application, it looks at each top-level window as it is shown, and again
// as the window manager frames and places it in the moment after: a window larger than the
// screen's free room is made smaller, and one reaching past an edge, for instance placed from
// a stored position or below another window, is moved back inside. After that moment the
// operator may move a window anywhere.
class TScreenFit final : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Fits one window into the free room of its screen; its frame counts when known.
    static void fit(QWidget& window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace lapido
