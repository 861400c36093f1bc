// TDithering: a picture turned into the black-and-white dot image the laser engraves.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <array>
#include <cstdint>

namespace lapido {

class TDithering {
public:
    // Largest dot image Execute builds (width times height). A dot image is one laser pulse per
    // pixel, so anything near this is hours of marking; beyond it the request is refused.
    static constexpr std::int64_t kMaxDitherPixels = 40'000'000;

    TDithering();
    ~TDithering();
    TDithering(const TDithering&) = delete;
    TDithering& operator=(const TDithering&) = delete;

    // DitherImg := the source stretched to DitherWidth x DitherHeight, contrast-stretched,
    // gamma-corrected and error-diffused to pure black (a dot) and pure white. Leaves
    // DitherImg empty (and says why in lastError()) when there is no picture or the size
    // exceeds kMaxDitherPixels; an empty size gives an empty image without an error.
    void Execute();

    // The picture to dither; not owned.
    const QImage* SourceImg = nullptr;
    // The source stretched to the dot image size, as 8-bit greys (blue + green + red) div 3.
    // The one-pixel grey frame (left, right and
    // below) is not stored: it only enters through the extremes, which start at its grey 127,
    // and through absorbing the errors that run into it.
    QImage ScaledImg;
    // The result, DitherWidth x DitherHeight, 8-bit grey holding only 0 (dot) and 255.
    QImage DitherImg;
    std::int32_t DitherWidth = 0;
    std::int32_t DitherHeight = 0;
    double Gamma = 1.5;

    // Why the last Execute produced no dot image although a size was asked for; empty otherwise.
    const QString& lastError() const { return m_lastError; }

private:
    QString m_lastError;
};

// The contrast and gamma step as a table over the 256 greys, for the picture's extremes
// (both already including the frame's 127): v -> Round(255 * ((v - min) * k / 255)^gamma),
// k = 255 / (max - min), or 1 when the picture is flat.
std::array<std::uint8_t, 256> contrastGammaTable(int minGrey, int maxGrey, double gamma);

// The size rules of a dot image for a preview: an empty picture or an empty request gives 0 x 0;
// with preserveAspect the side that would overflow the picture's aspect is shortened.
QSize ditheredSize(QSize picture, int width, int height, bool preserveAspect);

// A picture file read for dithering: the image, or why it cannot be used.
struct PictureFile {
    QImage image;
    QString error; // empty when image holds the picture
};
// Largest picture read from a file (width times height), checked before decoding.
inline constexpr std::int64_t kMaxPicturePixels = 100'000'000;
// Reads a picture in any format Qt decodes (BMP, PNG, JPEG, PGM, ...).
PictureFile loadPicture(const QString& path);

// Writes a dot image as PBM (black = 1) or PNG, chosen by the file's suffix, through a
// temporary file that replaces the target only when complete. Returns the error, or empty.
QString saveDotImage(const QImage& dots, const QString& path);

// Is the dot at (x, y) of a dot image black (to be engraved)?
inline bool isDot(const QImage& dots, int x, int y)
{
    if (dots.format() == QImage::Format_Grayscale8)
        return dots.constScanLine(y)[x] == 0;
    return (dots.pixel(x, y) & 0xFFFFFFu) == 0;
}

} // namespace lapido
