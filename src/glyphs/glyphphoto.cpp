// TGlyphPhoto: dot geometry, the cached camera overlay, and marking as dot rows or gate pulses.
#include "glyphs/glyphphoto.h"
#include "glyphs/overlayhalo.h"
#include "glyphs/pulsedots.h"

#include "machine/laser.h"
#include "machine/lasersource.h"
#include "platform/debuglog.h"
#include "platform/numfmt.h"
#include "platform/operatordialogs.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <string>

namespace lapido {

namespace {

// Dot counts beyond this are refused by the dithering anyway; the cap keeps the rounding in range.
constexpr double kDotCountCap = 1e9;

int roundDots(double n)
{
    if (!(n > 0))
        return 0;
    return static_cast<int>(RoundHalfEven(std::min(n, kDotCountCap)));
}

double length(const TCoord& v)
{
    return std::hypot(v.X, v.Y);
}

TCoord minus(const TCoord& a, const TCoord& b)
{
    return Coord(a.X - b.X, a.Y - b.Y);
}

} // namespace

TGlyphPhoto::TGlyphPhoto(TLabelTree* ATreeView, TTreeNode* ATreeNode, const QImage& ABitMap, double AHeight,
                         double AOffset)
    : TGlyph(ATreeView, ATreeNode), Dithering(std::make_unique<TDithering>()), Bitmap(ABitMap)
{
    Bitmap.detach();
    Dithering->SourceImg = &Bitmap;
    UpDate(1.5, AHeight, AOffset);
}

TGlyphPhoto::~TGlyphPhoto() = default;

void TGlyphPhoto::UpDate(double AGamma, double AHeight, double AOffset)
{
    Gamma = AGamma;
    RelativeSize = AHeight;
    Offset = AOffset;
    UnitWidth = Bitmap.isNull() || Bitmap.height() == 0 ? 0.0 : double(Bitmap.width()) / Bitmap.height();
    UnitVectorX = Coord(0, 0);
    UnitVectorY = Coord(0, 0);
    OverlayPixHeight = -1;
    touch();
}

double TGlyphPhoto::dotRows() const
{
    const double n = RelativeSize * 1000.0 * GirdleHeight() / Settings().PhotoResolution;
    return std::isfinite(n) && n > 0 ? n : 0.0;
}

int TGlyphPhoto::dotImageHeight() const
{
    return roundDots(dotRows());
}

int TGlyphPhoto::dotImageWidth() const
{
    return roundDots(dotRows() * UnitWidth);
}

const QImage& TGlyphPhoto::Dithered(int Width, int Height, bool PreserveAspect)
{
    const QSize size = ditheredSize(Bitmap.size(), Width, Height, PreserveAspect);
    Dithering->DitherWidth = size.width();
    Dithering->DitherHeight = size.height();
    Dithering->Gamma = Gamma;
    Dithering->Execute();
    return Dithering->DitherImg;
}

void TGlyphPhoto::MarkingBitmapAssignTo(QImage* Bitmap)
{
    // The photo's own gamma: the dithering object keeps whatever the last preview used.
    Dithering->Gamma = Gamma;
    Dithering->DitherHeight = dotImageHeight();
    Dithering->DitherWidth = dotImageWidth();
    Dithering->Execute();
    if (Bitmap)
        *Bitmap = Dithering->DitherImg;
    Dithering->DitherImg = QImage();
}

bool TGlyphPhoto::LoadFromFile(const QString& FileName)
{
    PictureFile picture = loadPicture(FileName);
    if (!picture.error.isEmpty()) {
        LogDebug(QStringLiteral("TGlyphPhoto - ") + picture.error);
        PictureError = picture.error;
        operatorDialogs().error(picture.error);
        return false;
    }
    Bitmap = std::move(picture.image);
    Filename = FileName;
    PictureError.clear();
    Processed = false;
    UpDate(Gamma, RelativeSize, Offset);
    return true;
}

QString TGlyphPhoto::MarkingProblem() const
{
    if (!PictureError.isEmpty())
        return PictureError;
    if (Bitmap.isNull())
        return QStringLiteral("it has no picture");
    if (!(Gamma >= labellimits::kMinGamma && Gamma <= labellimits::kMaxGamma))
        return QStringLiteral("its gamma is %1; only %2 to %3 can be marked")
            .arg(Gamma)
            .arg(labellimits::kMinGamma)
            .arg(labellimits::kMaxGamma);
    if (QString problem = heightProblem(RelativeSize); !problem.isEmpty())
        return problem;
    // Fewer than one dot row or column at the photo resolution: nothing of the picture would be
    // marked.
    if (dotImageHeight() < 1 || dotImageWidth() < 1)
        return QStringLiteral("it would be %1 x %2 dots at the photo resolution of %3 um: nothing to mark")
            .arg(dotImageWidth())
            .arg(dotImageHeight())
            .arg(Settings().PhotoResolution);
    return resolutionProblem(RelativeSize);
}

// --- overlay --------------------------------------------------------------------------------

void TGlyphPhoto::renderOverlay(const TXYTransform& XYTF, const TCoord& P, double top)
{
    ++m_renders;
    Dithering->Gamma = Gamma;
    Dithering->DitherHeight = OverlayPixHeight;
    Dithering->DitherWidth = dotImageWidth();
    Dithering->Execute();
    const QImage& dots = Dithering->DitherImg;
    OverlayWhite = QImage();
    OverlayColor = QImage();
    m_overlayColorStale = true;
    OverlayOffset = TPoint(0, 0);
    if (dots.isNull())
        return;
    const int W = dots.width();
    const int H = dots.height();
    const double d = RelativeSize / H;
    auto pixelOf = [&](int i, int j) { return CoordToPoint(XYTF.TransFormCoord(Coord(P.X + i * d, top - j * d))); };

    const TPoint corners[4] = {pixelOf(0, 0), pixelOf(W - 1, 0), pixelOf(0, H - 1), pixelOf(W - 1, H - 1)};
    int x0 = corners[0].x(), x1 = x0, y0 = corners[0].y(), y1 = y0;
    for (const TPoint& c : corners) {
        x0 = std::min(x0, c.x());
        x1 = std::max(x1, c.x());
        y0 = std::min(y0, c.y());
        y1 = std::max(y1, c.y());
    }
    OverlayOffset = TPoint(-x0, -y0);
    const std::int64_t boxW = std::int64_t(x1) - x0 + 1;
    const std::int64_t boxH = std::int64_t(y1) - y0 + 1;
    if (boxW * boxH > kMaxOverlayPixels)
        return;
    OverlayWhite = QImage(static_cast<int>(boxW), static_cast<int>(boxH), QImage::Format_Grayscale8);
    if (OverlayWhite.isNull())
        return;
    OverlayWhite.fill(0);
    for (int j = 0; j < H; ++j) {
        const std::uint8_t* row = dots.constScanLine(j);
        for (int i = 0; i < W; ++i) {
            if (row[i] != 0)
                continue;
            const TPoint p = pixelOf(i, j) + OverlayOffset;
            // The transform is affine, so every dot lands inside the corners' box; the check
            // only guards against a transform that is not.
            if (p.x() >= 0 && p.y() >= 0 && p.x() < boxW && p.y() < boxH)
                OverlayWhite.scanLine(p.y())[p.x()] = 255;
        }
    }
}

void TGlyphPhoto::recolourOverlay(const QColor& colour)
{
    m_overlayColorPen = colour;
    m_overlayColorStale = false;
    if (OverlayWhite.isNull()) {
        OverlayColor = QImage();
        OverlayRim = QImage();
        return;
    }
    const int w = OverlayWhite.width();
    const int h = OverlayWhite.height();
    if (OverlayColor.size() != OverlayWhite.size() || OverlayColor.format() != QImage::Format_ARGB32_Premultiplied)
        OverlayColor = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
    // Dots in the pen colour, everything else 0: OR-ing a 0 leaves the camera pixel untouched.
    const std::uint32_t pen = colour.rgb() | 0xFF000000u;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* in = OverlayWhite.constScanLine(y);
        auto* out = reinterpret_cast<std::uint32_t*>(OverlayColor.scanLine(y));
        for (int x = 0; x < w; ++x)
            out[x] = in[x] ? pen : 0u;
    }
    // One pixel of margin: the dots on the image's edge have their rim outside it.
    QImage padded(w + 2, h + 2, QImage::Format_ARGB32_Premultiplied);
    padded.fill(Qt::transparent);
    {
        QPainter copy(&padded);
        copy.setCompositionMode(QPainter::CompositionMode_Source);
        copy.drawImage(1, 1, OverlayColor);
    }
    OverlayRim = darkRim(padded);
}

void TGlyphPhoto::Paint(QPainter& Canvas, const TXYTransform& XYTF)
{
    const QPen remembered = applyStatePen(Canvas);
    const TCoord P = PaintPosition();
    const double RS = RelativeSize;
    const int rows = dotImageHeight();
    if (OverlayPixHeight != rows) {
        UnitVectorX = Coord(0, 0);
        UnitVectorY = Coord(0, 0);
        OverlayPixHeight = rows;
    }
    const double top = RS * Offset + RS / 2 + P.Y;
    const TCoord origin = XYTF.TransFormCoord(Coord(0, 0));
    const TCoord u = minus(XYTF.TransFormCoord(Coord(1, 0)), origin);
    const TCoord w = minus(XYTF.TransFormCoord(Coord(0, 1)), origin);
    const TPoint c = CoordToPoint(XYTF.TransFormCoord(Coord(P.X, top)));
    TPoint shift(0, 0);
    if (length(minus(u, UnitVectorX)) <= 0.001 * length(u) && length(minus(w, UnitVectorY)) <= 0.001 * length(w)) {
        shift = c - OverlayOrigin;
    } else {
        UnitVectorX = u;
        UnitVectorY = w;
        OverlayOrigin = c;
        renderOverlay(XYTF, P, top);
    }

    const QColor pen = Canvas.pen().color();
    if (m_overlayColorStale || pen != m_overlayColorPen)
        recolourOverlay(pen);
    if (!OverlayColor.isNull()) {
        const QPainter::CompositionMode mode = Canvas.compositionMode();
        Canvas.drawImage(shift - OverlayOffset - QPoint(1, 1), OverlayRim);
        Canvas.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
        Canvas.drawImage(shift - OverlayOffset, OverlayColor);
        Canvas.setCompositionMode(mode);
    }

    Canvas.setPen(remembered);
    DrawFrame(Canvas, XYTF);
    PaintPosition().X += Width();
}

// --- marking --------------------------------------------------------------------------------

void TGlyphPhoto::ExtendMarkingRect(const TXYTransform& XYTF, TCoord& MinValues, TCoord& MaxValues)
{
    // All four corners of the dot field widen both points: the top-left corner alone is not
    // the smallest value on an axis that grows upwards or under a slant.
    TCoord& M = MarkPosition();
    const double RS = RelativeSize;
    const double left = M.X;
    M.X += (UnitWidth + Spacing) * RS;
    const double top = RS * Offset + RS / 2 + M.Y;
    const double bottom = RS * Offset - RS / 2 + M.Y;
    for (const TCoord& corner : {Coord(left, top), Coord(M.X, top), Coord(left, bottom), Coord(M.X, bottom)}) {
        const TCoord t = XYTF.TransFormCoord(corner);
        MinValues.X = std::min(MinValues.X, t.X);
        MinValues.Y = std::min(MinValues.Y, t.Y);
        MaxValues.X = std::max(MaxValues.X, t.X);
        MaxValues.Y = std::max(MaxValues.Y, t.Y);
    }
}

void TGlyphPhoto::Mark(const TXYTransform& XYTF)
{
    if (MarkingAborted())
        return;
    TLaser* laser = Laser();
    if (!Processed && !laser) {
        LogDebug("TGlyphPhoto - no machine to mark with");
    } else if (!Processed) {
        const TCoord M = MarkPosition();
        const double RS = RelativeSize;
        QImage B;
        MarkingBitmapAssignTo(&B);
        if (B.isNull() && !Dithering->lastError().isEmpty()) {
            // Nothing was engraved, so the photo must not count as marked.
            LogDebug(QStringLiteral("TGlyphPhoto - ") + Dithering->lastError());
            operatorDialogs().error(QStringLiteral("The photo cannot be engraved: ") + Dithering->lastError());
            MarkPosition().X += Width();
            return;
        }
        const int W = B.width();
        const int H = B.height();
        const double dx = W > 0 ? RS * UnitWidth / W : 0.0;
        const double dy = H > 0 ? RS / H : 0.0;
        const double top = RS * Offset + RS / 2 + M.Y;
        auto dotPoint = [&](double x, double y) { return XYTF.TransFormCoord(Coord(x, y)); };

        TLaserSource* source = laserSource();
        if (source && !laser->sequenceFaulted())
            source->EmissionOn();
        if (laser->EnableOn()) {
            laser->DMCCmd("DPW=0");
            if (!source || source->DoesPulseTrain()) {
                // Run-up and run-out in mm, added to glyph-unit X as they are. Accelerations the
                // machine would refuse anyway give no run-up rather than an infinite one.
                const double v = laser->VectorPhotoSpeed;
                const double accel = std::min(laser->X_Accel, laser->Y_Accel);
                const double decel = std::min(laser->X_Decel, laser->Y_Decel);
                const double a = accel > 0 ? v * v * 0.5 / accel : 0.0;
                const double b = decel > 0 ? v * v * 0.5 / decel : 0.0;
                for (int j = 0; j < H; ++j) {
                    const bool rightToLeft = j % 2 == 0;
                    const int step = rightToLeft ? -1 : 1;
                    const int end = rightToLeft ? -1 : W;
                    int f = rightToLeft ? W - 1 : 0;
                    while (f != end && !isDot(B, f, j))
                        f += step;
                    if (f == end)
                        continue;
                    const double y = top - j * dy;
                    std::vector<TCoord> dots;
                    int last = f;
                    for (int g = f; g != end; g += step)
                        if (isDot(B, g, j)) {
                            dots.push_back(dotPoint(g * dx + M.X, y));
                            last = g;
                        }
                    if (!markPulseRow(*laser, dotPoint(f * dx + M.X + (rightToLeft ? a : -a), y), dots,
                                      dotPoint(last * dx + M.X + (rightToLeft ? -b : b), y)))
                        break;
                }
            } else {
                const std::string command = timedGatePulseCommand(*laser);
                bool aborted = false;
                for (int j = 0; j < H && !aborted; ++j) {
                    const double y = top - j * dy;
                    for (int i = 0; i < W; ++i)
                        if (isDot(B, i, j) && !fireTimedPulseAt(*laser, dotPoint(i * dx + M.X, y), command)) {
                            aborted = true;
                            break;
                        }
                }
            }
            laser->CloseGate();
            laser->EnableOff();
            Processed = true;
            touch();
        } else if (laser->WaitAborted) {
            // The operator stopped the wait for the laser: that is the run's Abort.
            MarkingAborted() = true;
        }
        // Emission goes off on every path, a refused enable line included.
        if (source)
            source->EmissionOff();
    }
    MarkPosition().X += Width();
}

} // namespace lapido
