// TGlyphPhoto: a photograph in the label, engraved as a field of laser dots.
#pragma once

#include "glyphs/dithering.h"
#include "glyphs/glyph.h"

#include <QColor>
#include <QImage>
#include <QString>

#include <cstdint>
#include <memory>

namespace lapido {

class TGlyphPhoto : public TGlyph {
public:
    // Overlays whose bounding box has more pixels than this are not drawn.
    static constexpr std::int64_t kMaxOverlayPixels = 16777215;

    TGlyphPhoto(TLabelTree* ATreeView, TTreeNode* ATreeNode, const QImage& ABitMap, double AHeight, double AOffset);
    ~TGlyphPhoto() override;

    void UpDate(double AGamma, double AHeight, double AOffset);
    // The dot image for an on-screen preview, owned by Dithering (valid until its next Execute).
    const QImage& Dithered(int Width, int Height, bool PreserveAspect);
    // Dithers at engraving resolution and copies the dots into Bitmap when given.
    void MarkingBitmapAssignTo(QImage* Bitmap);

    void Paint(QPainter& Canvas, const TXYTransform& XYTF) override;
    void ExtendMarkingRect(const TXYTransform& XYTF, TCoord& MinValues, TCoord& MaxValues) override;
    void Mark(const TXYTransform& XYTF) override;

    // Replaces the picture with a picture file ("Load Picture"). A file that cannot be used is
    // reported to the operator and leaves the picture as it was; returns whether it was taken.
    // Until a picture loads, PictureError holds the reason and the photo is not marked: the
    // picture shown is not the one the operator asked for.
    bool LoadFromFile(const QString& FileName);
    QString MarkingProblem() const override;

    // Dot rows at engraving resolution: RelativeSize * 1000 * GirdleHeight / PhotoResolution,
    // unrounded and rounded (0 when the settings make no sense).
    double dotRows() const;
    int dotImageHeight() const;
    int dotImageWidth() const;

    std::unique_ptr<TDithering> Dithering;
    TCoord UnitVectorX;
    TCoord UnitVectorY;
    TPoint OverlayOrigin;
    TPoint OverlayOffset;
    // Rendered dots: 255 on 0, one byte per overlay pixel.
    QImage OverlayWhite;
    // The dots in the display colour on a fully transparent background, ready to be OR-ed on
    // the camera picture.
    QImage OverlayColor;
    // A dark rim around the dots, drawn under them so they read on a light girdle band.
    QImage OverlayRim;
    std::int32_t OverlayPixHeight = -1;
    QImage Bitmap;
    double Gamma = 1.5;
    QString Filename;
    QString PictureError;

    // How many times the overlay was rendered anew (repaints that reuse it do not count).
    int overlayRenderCount() const { return m_renders; }

private:
    void renderOverlay(const TXYTransform& XYTF, const TCoord& P, double top);
    void recolourOverlay(const QColor& colour);

    bool m_overlayColorStale = true;
    QColor m_overlayColorPen;
    int m_renders = 0;
};

} // namespace lapido
