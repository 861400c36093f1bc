// The live picture: the camera transform (mm to picture pixels), the overlay painted over the
// camera frame from the station's state, and one tick of the video timer, all without a window.
#pragma once

#include "geometry/xytransform.h"
#include "settings/settingsrecord.h"

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QSize>

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace lapido {

class TStation;
class TuEye;
struct LaserMark;

// The colour of the preview's marks (green): none of the overlay's default colours, so that the
// marks stand out from the outlines drawn under them.
inline constexpr QRgb kPreviewMarkColor = 0xFF00E600;

// The station's picture buffer in the shipped layout.
inline constexpr int kVideoBufferWidth = 1008;
inline constexpr int kVideoBufferHeight = 820;

// The camera transform shared by the settings window and the overlay: millimetre offsets from
// the table position to picture pixels, X to the right, Y upwards.
class TVideoTransform {
public:
    // Recomputes the transform (and the record's one-pixel wheel steps) from the video
    // settings, the zoom-out mode and the size of the camera paint area.
    void UpdateVideoTransform(TSettings& record, bool zoomOut, QSize paintArea = {kVideoBufferWidth, kVideoBufferHeight});

    TXYTransform& transform() { return m_transform; }
    const TXYTransform& transform() const { return m_transform; }
    const VideoView& view() const { return m_view; }
    bool zoomOut() const { return m_zoomOut; }
    // Effective cross hair in picture pixels.
    QPoint crossHair() const { return {m_view.crossHairX, m_view.crossHairY}; }
    // A millimetre offset (dx, dy) from the table position as a picture pixel.
    QPoint toPixel(double dx, double dy) const;

private:
    TXYTransform m_transform;
    VideoView m_view;
    bool m_zoomOut = false;
};

// The label's outlines as last painted over the picture, kept while nothing they show changes
// (where the label stands in the picture, its glyphs' sizes, states and outlines, the selection,
// the colours): a window at rest copies them at each tick instead of drawing every glyph again,
// so its cost at rest does not grow with the label. Photos are drawn at each tick from their own
// cached dots, OR-ed on the picture as always. Owned by the window, handed to each tick.
class TLabelLayer {
public:
    // How many times the outlines were drawn anew (ticks that copy them do not count).
    int drawCount() const { return m_draws; }

private:
    friend void PaintVideoOverlay(QImage&, const TStation&, TVideoTransform&, const TSettings&, TLabelLayer*);
    QImage m_image;
    std::vector<double> m_key;
    // The photos and where the layout walk put them.
    std::vector<std::pair<class TGlyphPhoto*, TCoord>> m_photos;
    int m_draws = 0;
};

// Paints the overlay into the picture buffer from the station's state: travel-limit box and
// its hatching, Z rings, grid, debug cam ticks, curvature triangles, cross hair, girdle lines and
// the label through its glyphs. What would hide the stone is left out while marking. With a
// layer, the label's outlines are drawn only when they changed.
void PaintVideoOverlay(QImage& buffer, const TStation& station, TVideoTransform& camera, const TSettings& settings,
                       TLabelLayer* layer = nullptr);

// The preview's marks as last painted over the picture, kept while neither the marks (their
// revision, given by whoever computed them) nor where they land in the picture change: a window
// at rest copies them at each tick instead of placing every mark again, so that its cost at
// rest does not grow with the label. Owned by the window, handed to each tick.
class TMarksLayer {
public:
    // How many times the marks were painted anew (ticks that copy them do not count).
    int drawCount() const { return m_draws; }

private:
    friend void PaintPreviewMarks(QImage&, std::span<const LaserMark>, const TStation&, const TVideoTransform&,
                                  TMarksLayer*, std::uint64_t);
    QImage m_image;
    std::vector<double> m_key;
    int m_draws = 0;
};

// The marks of a preview (machine millimetres) over the picture, where the stone under the
// camera would take them: one dot each in kPreviewMarkColor. With a layer, the marks are placed
// only when they or the picture's placement changed (marksRevision: a number that changes with
// the marks).
void PaintPreviewMarks(QImage& buffer, std::span<const LaserMark> marks, const TStation& station,
                       const TVideoTransform& camera, TMarksLayer* layer = nullptr, std::uint64_t marksRevision = 0);

// One tick of the video timer: the camera frame (halved when zoomed out) or the dark-grey
// field without a camera, then the overlay when it is on. Returns where the buffer sits
// relative to a paint box of paintBox size (VideoOffsetX, VideoOffsetY). The camera transform
// must have been updated for the station's zoom-out mode (the zoom-out box does that).
QPoint VideoTimerTick(QImage& ImageBuffer, TuEye* uEye, const TStation& station, TVideoTransform& camera,
                      const TSettings& settings, QSize paintBox = {kVideoBufferWidth, kVideoBufferHeight},
                      TLabelLayer* layer = nullptr);

// Grid lines of the overlay for the given origin pixel, clipped to the travel box; exposed for
// tests of the spacing and the column limit. Empty when no grid is drawn.
struct GridCrosses {
    std::vector<int> columns; // x of each drawn column
    std::vector<int> rows;    // y of each drawn row
};
GridCrosses overlayGrid(QPoint origin, double pixelsPerMmX, double pixelsPerMmY, double spacingMm, QSize buffer,
                        const QRect& travelBox);

} // namespace lapido
