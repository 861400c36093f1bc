// The live picture: the camera transform (mm to picture pixels), the overlay painted over the
// camera frame from the station's state, and one tick of the video timer, all without a window.
#pragma once

#include "geometry/xytransform.h"
#include "settings/settingsrecord.h"

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QSize>

#include <span>

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

// Paints the overlay into the picture buffer from the station's state: travel-limit box and
// its hatching, Z rings, grid, debug cam ticks, curvature triangles, cross hair, girdle lines and
// the label through its glyphs. What would hide the stone is left out while marking.
void PaintVideoOverlay(QImage& buffer, const TStation& station, TVideoTransform& camera, const TSettings& settings);

// The marks of a preview (machine millimetres) over the picture, where the stone under the
// camera would take them: one dot each in kPreviewMarkColor.
void PaintPreviewMarks(QImage& buffer, std::span<const LaserMark> marks, const TStation& station,
                       const TVideoTransform& camera);

// One tick of the video timer: the camera frame (halved when zoomed out) or the dark-grey
// field without a camera, then the overlay when it is on. Returns where the buffer sits
// relative to a paint box of paintBox size (VideoOffsetX, VideoOffsetY). The camera transform
// must have been updated for the station's zoom-out mode (the zoom-out box does that).
QPoint VideoTimerTick(QImage& ImageBuffer, TuEye* uEye, const TStation& station, TVideoTransform& camera,
                      const TSettings& settings, QSize paintBox = {kVideoBufferWidth, kVideoBufferHeight});

// Grid lines of the overlay for the given origin pixel, clipped to the travel box; exposed for
// tests of the spacing and the column limit. Empty when no grid is drawn.
struct GridCrosses {
    std::vector<int> columns; // x of each drawn column
    std::vector<int> rows;    // y of each drawn row
};
GridCrosses overlayGrid(QPoint origin, double pixelsPerMmX, double pixelsPerMmY, double spacingMm, QSize buffer,
                        const QRect& travelBox);

} // namespace lapido
