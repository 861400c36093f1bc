// Where the station's service windows appear: fully on the screen they open on.
#pragma once

#include <QRect>

class QWidget;

namespace lapido {

// The frame of a window of frame size `frame` opened next to the window framed by `anchor`:
// below it where it fits on `available`, else above it, else wherever it overlaps it least
// while staying inside `available`. A frame larger than `available` is cut to it.
QRect placeNextTo(const QRect& anchor, QSize frame, const QRect& available);

// Moves (and where needed shrinks) a top-level window so that its frame lies inside the
// available area of its screen. The frame is estimated from `decorations` (frame minus
// client area of a window already shown) until the window manager has framed it.
void keepOnScreen(QWidget& window, QMargins decorations = {});
// Shows `window` next to `anchor` (below, else above), fully on the anchor's screen.
void showNextTo(QWidget& window, const QWidget& anchor);

} // namespace lapido
