// The colours of the main window's position display, shared by its builder and its view code.
#pragma once

#include <QColor>
#include <QPalette>
#include <QWidget>

namespace lapido {

inline const QColor kSilver(192, 192, 192);
inline const QColor kLime(0, 255, 0);
inline const QColor kGrey(128, 128, 128);
// The "simulated" sign beside the position display.
inline const QColor kAmber(255, 176, 0);
// A device that failed to start.
inline const QColor kAlarm(255, 80, 60);

inline void setTextColour(QWidget* w, const QColor& colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::Text, colour);
    w->setPalette(p);
}

} // namespace lapido
