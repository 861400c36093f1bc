// The camera transform, the overlay painter and the video timer's tick.
#include "camera/videooverlay.h"

#include "camera/ueye.h"
#include "glyphs/glyph.h"
#include "glyphs/glyphoutline.h"
#include "glyphs/glyphphoto.h"
#include "glyphs/overlayhalo.h"
#include "platform/numfmt.h"
#include "platform/stationglobals.h"
#include "sim/dmcsimulator.h"
#include "workflow/station.h"

#include <QLine>
#include <QPainter>
#include <QPen>
#include <QPolygon>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace lapido {

namespace {

constexpr QRgb kOverlayGrey = 0xFF808080;
constexpr int kHatchPitch = 16;
constexpr int kRingPitch = 16;
constexpr int kMaxGridColumnSteps = 100;
constexpr int kMaxGridRowSteps = 80;
constexpr int kCamTickLength = 20;
constexpr int kTriangle = 16;
// Cam tables hold a few dozen positions; a nonsense interval must not stall the picture.
constexpr double kMaxCamTicks = 4096;

// Vertical lines at every x and horizontal lines at every y that is a multiple of the pitch,
// inside [left, right) x [top, bottom), clipped to the picture.
void hatch(QPainter& p, int left, int top, int right, int bottom, QSize picture)
{
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, picture.width());
    bottom = std::min(bottom, picture.height());
    if (left >= right || top >= bottom)
        return;
    const auto firstMultiple = [](int v) { return (v + kHatchPitch - 1) / kHatchPitch * kHatchPitch; };
    std::vector<QLine> lines;
    for (int x = firstMultiple(left); x < right; x += kHatchPitch)
        lines.emplace_back(x, top, x, bottom);
    for (int y = firstMultiple(top); y < bottom; y += kHatchPitch)
        lines.emplace_back(left, y, right, y);
    if (!lines.empty())
        p.drawLines(lines.data(), int(lines.size()));
}

bool inside(int v, int extent) { return v > 0 && v < extent; }

// One-pixel lines whatever the transform: the raster engine's fast path for thin lines.
QPen thinPen(const QColor& colour)
{
    QPen pen(colour, 0);
    pen.setCapStyle(Qt::FlatCap);
    return pen;
}

// Small crosses at every grid point, seven pixels each way as the device line (end point
// excluded) draws them. A small spacing gives thousands of crosses, so a 32-bit buffer gets
// them pixel by pixel; other buffers through the painter.
void drawGridCrosses(QImage& buffer, QPainter& p, const GridCrosses& grid, const QColor& colour)
{
    const QImage::Format f = buffer.format();
    if (f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 || f == QImage::Format_ARGB32_Premultiplied) {
        const quint32 pixel = colour.rgb() | 0xFF000000u;
        const int W = buffer.width(), H = buffer.height();
        const qsizetype stride = buffer.bytesPerLine() / 4;
        auto* base = reinterpret_cast<quint32*>(buffer.bits());
        // First a dark rim one pixel round each cross (the olive crosses vanish on the light
        // girdle band), then the cross itself on its exact pixels.
        const auto darken = [](quint32& px) { px = 0xFF000000u | ((px >> 2) & 0x3F3F3Fu); };
        for (int x : grid.columns)
            for (int y : grid.rows)
                for (int yy = std::max(y - 4, 0); yy <= std::min(y + 4, H - 1); ++yy)
                    for (int xx = std::max(x - 4, 0); xx <= std::min(x + 4, W - 1); ++xx) {
                        const int ax = std::abs(xx - x), ay = std::abs(yy - y);
                        if ((ax <= 1 && ay <= 4) || (ay <= 1 && ax <= 4))
                            darken(base[yy * stride + xx]);
                    }
        for (int x : grid.columns)
            for (int y : grid.rows) {
                if (y >= 0 && y < H)
                    for (int xx = std::max(x - 3, 0); xx <= std::min(x + 3, W - 1); ++xx)
                        base[y * stride + xx] = pixel;
                if (x >= 0 && x < W)
                    for (int yy = std::max(y - 3, 0); yy <= std::min(y + 3, H - 1); ++yy)
                        base[yy * stride + x] = pixel;
            }
        return;
    }
    std::vector<QLine> rims;
    for (int x : grid.columns)
        for (int y : grid.rows)
            for (int k = -1; k <= 1; ++k) {
                rims.emplace_back(x - 4, y + k, x + 4, y + k);
                rims.emplace_back(x + k, y - 4, x + k, y + 4);
            }
    if (!rims.empty()) {
        p.setPen(thinPen(QColor(0, 0, 0, 176)));
        p.drawLines(rims.data(), int(rims.size()));
    }
    p.setPen(thinPen(colour));
    std::vector<QLine> crosses;
    crosses.reserve(grid.columns.size() * grid.rows.size() * 2);
    for (int x : grid.columns)
        for (int y : grid.rows) {
            crosses.emplace_back(x - 3, y, x + 3, y);
            crosses.emplace_back(x, y - 3, x, y + 3);
        }
    if (!crosses.empty())
        p.drawLines(crosses.data(), int(crosses.size()));
}

} // namespace

void TVideoTransform::UpdateVideoTransform(TSettings& record, bool zoomOut, QSize paintArea)
{
    m_zoomOut = zoomOut;
    m_view = UpdateVideoView(record, zoomOut, paintArea.width(), paintArea.height());
    m_transform.SetOutTranslation(m_view.crossHairX, m_view.crossHairY);
    m_transform.SetScale(m_view.scale, m_view.scaleY);
}

QPoint TVideoTransform::toPixel(double dx, double dy) const
{
    return CoordToPoint(m_transform.TransFormCoord(Coord(dx, dy)));
}

GridCrosses overlayGrid(QPoint origin, double d, double e, double s, QSize buffer, const QRect& box)
{
    GridCrosses grid;
    // A scale, aspect or spacing of zero or less (or not a number) has no grid to show.
    if (!(d > 0) || !(e > 0) || !(s > 0) || !std::isfinite(d * e * s))
        return grid;
    const double ox = origin.x(), oy = origin.y();
    const double iFrom = std::trunc(-ox / d / s), iTo = std::trunc((buffer.width() - ox) / d / s);
    const double jFrom = std::trunc(-oy / e / s), jTo = std::trunc((buffer.height() - oy) / e / s);
    if (!(iTo >= iFrom) || !(jTo >= jFrom) || iTo - iFrom > kMaxGridColumnSteps || jTo - jFrom > kMaxGridRowSteps)
        return grid;
    for (auto i = std::int64_t(iFrom); i <= std::int64_t(iTo); ++i) {
        const int x = int(RoundHalfEven(d * s * double(i))) + origin.x();
        if (x < box.left())
            continue;
        if (x > box.right())
            break;
        grid.columns.push_back(x);
    }
    for (auto j = std::int64_t(jFrom); j <= std::int64_t(jTo); ++j) {
        const int y = int(RoundHalfEven(e * s * double(j))) + origin.y();
        if (y < box.top())
            continue;
        if (y > box.bottom())
            break;
        grid.rows.push_back(y);
    }
    if (grid.columns.empty() || grid.rows.empty())
        grid = {};
    return grid;
}

namespace {

// Everything the label's outlines in the picture depend on, as numbers: where glyph units land
// in the picture, the buffer, the colours, the selection, and each glyph's size, state and
// outline. Reading these is a few loads per glyph; drawing them is what the layer saves.
std::vector<double> labelLayerKey(const QImage& buffer, const TXYTransform& L, const TStation& station,
                                  const TSettings& settings, double start)
{
    std::vector<double> key;
    const auto add = [&key](auto v) { key.push_back(static_cast<double>(v)); };
    for (const TCoord& c : {Coord(0, 0), Coord(1, 0), Coord(0, 1)}) {
        const TCoord t = L.TransFormCoord(c);
        add(t.X);
        add(t.Y);
    }
    add(start);
    add(buffer.width());
    add(buffer.height());
    for (std::uint32_t colour : {settings.Outline, settings.Selected, settings.Processed, settings.SelectedProcessed})
        add(colour);
    auto& tree = const_cast<TStation&>(station).TreeViewGlyphs();
    add(reinterpret_cast<std::uintptr_t>(tree.Selected()));
    const auto walk = [&](const auto& self, const TTreeNode* node) -> void {
        if (const TGlyph* g = node->Data()) {
            add(reinterpret_cast<std::uintptr_t>(g));
            add(g->RelativeSize);
            add(g->Offset);
            add(g->Spacing);
            add(g->UnitWidth);
            add(g->Processed);
            if (const auto* outline = dynamic_cast<const TGlyphOutLine*>(g))
                add(reinterpret_cast<std::uintptr_t>(outline->ContourList.get()));
        }
        for (int i = 0; i < node->Count(); ++i)
            self(self, node->Item(i));
    };
    for (int i = 0; i < tree.RootCount(); ++i)
        walk(walk, tree.Root(i));
    return key;
}

} // namespace

void PaintVideoOverlay(QImage& buffer, const TStation& station, TVideoTransform& camera, const TSettings& settings,
                       TLabelLayer* layer)
{
    QPainter p(&buffer);
    const int W = buffer.width(), H = buffer.height();
    const bool marking = station.controls().down == TSpeedButton::Mark;
    const double X = station.AxisPosition_X, Y = station.AxisPosition_Y, Z = station.AxisPosition_Z;

    // 1. Label millimetres (around the marking reference, slanted) to picture pixels.
    TXYTransform L;
    L.SetRotation(SlantAngle() * std::numbers::pi / 180.0);
    L.SetOutTranslation(station.MarkingReference_X - X, station.MarkingReference_Y - Y);
    L.AddTransform(camera.transform());

    // 2.-3. Travel limits.
    p.setPen(thinPen(QColor::fromRgb(kOverlayGrey)));
    p.setBrush(Qt::NoBrush);
    const QPoint c1 = camera.toPixel(settings.X_MinPos - X, settings.Y_MinPos - Y);
    if (!marking) {
        if (inside(c1.x(), W))
            hatch(p, 0, 0, c1.x(), H, buffer.size());
        if (inside(c1.y(), H))
            hatch(p, 0, c1.y(), W, H, buffer.size());
    }
    const QPoint c2 = camera.toPixel(settings.X_MaxPos - X, settings.Y_MaxPos - Y);
    if (!marking) {
        if (inside(c2.x(), W))
            hatch(p, c2.x(), 0, W, H, buffer.size());
        if (inside(c2.y(), H))
            hatch(p, 0, 0, W, c2.y(), buffer.size());
    }
    p.drawLine(c1.x(), c1.y(), c2.x(), c1.y());
    p.drawLine(c2.x(), c1.y(), c2.x(), c2.y());
    p.drawLine(c2.x(), c2.y(), c1.x(), c2.y());
    p.drawLine(c1.x(), c2.y(), c1.x(), c1.y());

    const QPoint cross = camera.crossHair();
    // 4. Focus out of its travel: rings around the cross hair.
    if (!marking && (Z < settings.Z_MinPos || Z > settings.Z_MaxPos))
        for (int r = kRingPitch; r <= kRingPitch * (W / kRingPitch); r += kRingPitch)
            p.drawEllipse(cross, r, r);

    // 5. Grid, not slanted, clipped to the travel box.
    if (!marking && station.ShowGrid) {
        const QRect box(QPoint(std::min(c1.x(), c2.x()), std::min(c1.y(), c2.y())),
                        QPoint(std::max(c1.x(), c2.x()), std::max(c1.y(), c2.y())));
        const QPoint origin = CoordToPoint(L.TransFormCoord(Coord(0, 0)));
        const double d = camera.view().scale;
        const double e = d * settings.VideoAspect / 100.0;
        const GridCrosses grid = overlayGrid(origin, d, e, station.GridPitch, buffer.size(), box);
        drawGridCrosses(buffer, p, grid, colorFromRef(settings.Grid));
    }

    // 6. The focus cam's table positions, for service.
    if (DebugMode() && std::abs(station.Curvature_Interval) > 0.001) {
        p.setPen(thinPen(Qt::white));
        const double n = std::abs(double(RoundHalfEven(station.Curvature_Span / station.Curvature_Interval)));
        if (n <= kMaxCamTicks)
            for (int i = 0; i <= int(n); ++i) {
                const double x = station.Curvature_Start + i * station.Curvature_Interval;
                const int px = camera.toPixel(x - X, 0).x();
                p.drawLine(px, 0, px, kCamTickLength);
                p.drawLine(px, H, px, H - kCamTickLength);
            }
    }

    // 7. Where the girdle is taught: triangles at the left end, centre and right end.
    const QColor crossColor = colorFromRef(settings.CrossHair);
    p.setPen(thinPen(crossColor));
    p.setBrush(crossColor);
    if (station.AIMState == TAIMState::aimsInspecting) {
        for (double offset : {station.CuvatureLeft_X, 0.0, station.CuvatureRight_X}) {
            const int px = camera.toPixel(offset + station.MarkingReference_X - X, 0).x();
            p.drawPolygon(QPolygon({QPoint(px - kTriangle, 0), QPoint(px, kTriangle), QPoint(px + kTriangle, 0)}));
            p.drawPolygon(QPolygon({QPoint(px - kTriangle, H), QPoint(px, H - kTriangle), QPoint(px + kTriangle, H)}));
        }
    }

    // 8. Cross hair.
    p.drawLine(cross.x(), 0, cross.x(), H);
    p.drawLine(0, cross.y(), W, cross.y());

    // 9. Girdle band edges, slanted with the label.
    const double g = GirdleHeight();
    if (!marking) {
        p.setPen(thinPen(colorFromRef(settings.Girdle)));
        for (double edge : {-g / 2, g / 2}) {
            const QPoint a = CoordToPoint(L.TransFormCoord(Coord(-1000, edge)));
            const QPoint b = CoordToPoint(L.TransFormCoord(Coord(1000, edge)));
            p.drawLine(a, b);
        }
    }

    // 10. The label as it will be marked; glyph units are girdle heights.
    L.SetScale(g, g);
    const double start = -station.TotalLabelWidth() / 2;
    // Painting changes no label state; the tree is reached through the non-const accessor only
    // because the glyphs' painting is not const.
    auto& tree = const_cast<TStation&>(station).TreeViewGlyphs();
    // Without a kept layer the outlines go through one made for this tick, so that they look
    // the same either way.
    TLabelLayer scratch;
    if (!layer)
        layer = &scratch;
    std::vector<double> key = labelLayerKey(buffer, L, station, settings, start);
    if (key != layer->m_key || layer->m_image.size() != buffer.size()) {
        // The outlines on a clear layer, with the pen and brush they would meet on the picture;
        // photos are left to every tick, since their dots are OR-ed on the picture itself.
        layer->m_image = QImage(buffer.size(), QImage::Format_ARGB32_Premultiplied);
        layer->m_image.fill(Qt::transparent);
        layer->m_photos.clear();
        QPainter lp(&layer->m_image);
        lp.setPen(p.pen());
        lp.setBrush(p.brush());
        SetPaintPosition(start, 0);
        for (TTreeNode* node : tree.Items()) {
            TGlyph* glyph = node->Data();
            if (auto* photo = dynamic_cast<TGlyphPhoto*>(glyph)) {
                layer->m_photos.emplace_back(photo, PaintPosition());
                PaintPosition().X += photo->Width();
            } else if (glyph) {
                glyph->Paint(lp, L);
            }
        }
        // Yellow and white strokes vanish on the light girdle band: a dark rim under them
        // keeps them legible on any picture, the strokes' own pixels unchanged.
        lp.end();
        const QImage rim = darkRim(layer->m_image);
        QPainter under(&layer->m_image);
        under.setCompositionMode(QPainter::CompositionMode_DestinationOver);
        under.drawImage(0, 0, rim);
        under.end();
        layer->m_key = std::move(key);
        ++layer->m_draws;
    }
    for (const auto& [photo, at] : layer->m_photos) {
        SetPaintPosition(at.X, at.Y);
        photo->Paint(p, L);
    }
    p.drawImage(0, 0, layer->m_image);
}

namespace {

void placeMarks(QImage& image, std::span<const LaserMark> marks, const TStation& station, const TVideoTransform& camera)
{
    QPainter p(&image);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgb(kPreviewMarkColor));
    const QRect inside = image.rect();
    QPoint last(-1, -1);
    for (const LaserMark& m : marks) {
        const QPoint at = camera.toPixel(m.xMm - station.AxisPosition_X, m.yMm - station.AxisPosition_Y);
        // Pulses a few micrometres apart fall on one pixel: one dot is enough.
        if (at == last || !inside.contains(at))
            continue;
        last = at;
        p.drawRect(at.x() - 1, at.y() - 1, 2, 2);
    }
}

} // namespace

void PaintPreviewMarks(QImage& buffer, std::span<const LaserMark> marks, const TStation& station,
                       const TVideoTransform& camera, TMarksLayer* layer, std::uint64_t marksRevision)
{
    if (marks.empty())
        return;
    if (!layer) {
        placeMarks(buffer, marks, station, camera);
        return;
    }
    // Where a mark lands depends on the table's position and the camera transform only.
    std::vector<double> key{double(marksRevision), double(marks.size()), station.AxisPosition_X, station.AxisPosition_Y,
                            double(buffer.width()), double(buffer.height())};
    // Three points fix the affine transform.
    for (const TCoord& c : {Coord(0, 0), Coord(1, 0), Coord(0, 1)}) {
        const TCoord t = camera.transform().TransFormCoord(c);
        key.push_back(t.X);
        key.push_back(t.Y);
    }
    if (key != layer->m_key || layer->m_image.size() != buffer.size()) {
        layer->m_image = QImage(buffer.size(), QImage::Format_ARGB32_Premultiplied);
        layer->m_image.fill(Qt::transparent);
        placeMarks(layer->m_image, marks, station, camera);
        layer->m_key = std::move(key);
        ++layer->m_draws;
    }
    QPainter p(&buffer);
    p.drawImage(0, 0, layer->m_image);
}

QPoint VideoTimerTick(QImage& ImageBuffer, TuEye* uEye, const TStation& station, TVideoTransform& camera,
                      const TSettings& settings, QSize paintBox, TLabelLayer* layer)
{
    if (uEye && uEye->IsPresent()) {
        uEye->Draw(ImageBuffer, station.ZoomOut, kVideoBackground);
        // A monochrome frame lands in a grey-level buffer, where the overlay's colours would
        // be lost; the overlay is painted on a colour copy.
        if (ImageBuffer.format() == QImage::Format_Grayscale8 && station.ShowOverlay)
            ImageBuffer = ImageBuffer.convertToFormat(QImage::Format_RGB32);
    } else {
        ImageBuffer.fill(kVideoBackground);
    }
    if (station.ShowOverlay)
        PaintVideoOverlay(ImageBuffer, station, camera, settings, layer);
    return {(ImageBuffer.width() - paintBox.width()) / 2, (ImageBuffer.height() - paintBox.height()) / 2};
}

} // namespace lapido
