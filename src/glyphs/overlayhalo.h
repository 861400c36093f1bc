// A dark rim under the light strokes of the overlay, so that they read on a light picture too.
#pragma once

#include <QImage>

namespace lapido {

// The pixels within one pixel of the strokes of `strokes` (its pixels that are not fully
// transparent), the strokes' own pixels left out, in translucent black on a transparent
// picture of the same size. Drawn under the strokes it outlines them on any background and
// leaves every stroke pixel as it was. Work is limited to the strokes' bounding box.
QImage darkRim(const QImage& strokes);

} // namespace lapido
