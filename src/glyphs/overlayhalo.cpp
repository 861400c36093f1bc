// The overlay's dark rim: a one-pixel dilation of the strokes, minus the strokes.
#include "glyphs/overlayhalo.h"

#include <algorithm>
#include <cstdint>

namespace lapido {

namespace {
// Dark enough to part a yellow or white stroke from a light girdle band, light enough that the
// picture under the rim still shows through.
constexpr std::uint32_t kRim = 0xB0000000u; // premultiplied black at 69 % cover
} // namespace

QImage darkRim(const QImage& strokes)
{
    const QImage in = strokes.format() == QImage::Format_ARGB32_Premultiplied
                          ? strokes
                          : strokes.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int w = in.width(), h = in.height();
    QImage rim(w, h, QImage::Format_ARGB32_Premultiplied);
    rim.fill(Qt::transparent);
    if (w == 0 || h == 0)
        return rim;
    const auto ink = [&in](int x, int y) {
        return (reinterpret_cast<const std::uint32_t*>(in.constScanLine(y))[x] >> 24) != 0;
    };
    // The strokes' bounding box, grown by the rim.
    int left = w, right = -1, top = h, bottom = -1;
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(in.constScanLine(y));
        for (int x = 0; x < w; ++x)
            if (row[x] >> 24) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    }
    if (right < 0)
        return rim;
    left = std::max(left - 1, 0);
    top = std::max(top - 1, 0);
    right = std::min(right + 1, w - 1);
    bottom = std::min(bottom + 1, h - 1);
    for (int y = top; y <= bottom; ++y) {
        auto* out = reinterpret_cast<std::uint32_t*>(rim.scanLine(y));
        for (int x = left; x <= right; ++x) {
            if (ink(x, y))
                continue;
            bool near = false;
            for (int dy = -1; dy <= 1 && !near; ++dy)
                for (int dx = -1; dx <= 1 && !near; ++dx) {
                    const int xx = x + dx, yy = y + dy;
                    near = xx >= 0 && xx < w && yy >= 0 && yy < h && ink(xx, yy);
                }
            if (near)
                out[x] = kRim;
        }
    }
    return rim;
}

} // namespace lapido
