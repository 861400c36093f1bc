// TDithering: grey frame, contrast and gamma step, integer Floyd-Steinberg error diffusion.
#include "glyphs/dithering.h"

#include "platform/numfmt.h"
#include "platform/savefile.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include <sys/stat.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lapido {

namespace {

// The frame around the stretched picture is this grey; the extremes start from it.
constexpr int kFrameGrey = 127;

// A picture with transparency is laid on white first: what is not there is not engraved.
QImage opaque(const QImage& picture)
{
    if (!picture.hasAlphaChannel())
        return picture;
    QImage flat(picture.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, picture);
    return flat;
}

// (blue + green + red) div 3 of every pixel, as 8-bit grey. A grey picture already is that.
QImage greyOf(const QImage& picture)
{
    if (picture.format() == QImage::Format_Grayscale8)
        return picture;
    const QImage rgb = picture.format() == QImage::Format_RGB32 ? picture
                                                                : picture.convertToFormat(QImage::Format_RGB32);
    const int w = rgb.width();
    const int h = rgb.height();
    QImage grey(w, h, QImage::Format_Grayscale8);
    if (grey.isNull())
        return grey;
    for (int y = 0; y < h; ++y) {
        const auto* in = reinterpret_cast<const std::uint32_t*>(rgb.constScanLine(y));
        std::uint8_t* out = grey.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const std::uint32_t p = in[x];
            out[x] = static_cast<std::uint8_t>(((p & 0xFFu) + ((p >> 8) & 0xFFu) + ((p >> 16) & 0xFFu)) / 3u);
        }
    }
    return grey;
}

// Smallest and largest grey of the picture and of the frame. Stops early once both ends of
// the grey range have been seen, which most photographs reach within a few rows.
void greyExtremes(const QImage& grey, int& minGrey, int& maxGrey)
{
    std::uint8_t lo = kFrameGrey;
    std::uint8_t hi = kFrameGrey;
    const int w = grey.width();
    for (int y = 0; y < grey.height() && (lo > 0 || hi < 255); ++y) {
        const std::uint8_t* row = grey.constScanLine(y);
        int x = 0;
#if defined(__SSE2__)
        __m128i vlo = _mm_set1_epi8(static_cast<char>(lo));
        __m128i vhi = _mm_set1_epi8(static_cast<char>(hi));
        for (; x + 16 <= w; x += 16) {
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
            vlo = _mm_min_epu8(vlo, p);
            vhi = _mm_max_epu8(vhi, p);
        }
        alignas(16) std::uint8_t los[16];
        alignas(16) std::uint8_t his[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(los), vlo);
        _mm_store_si128(reinterpret_cast<__m128i*>(his), vhi);
        for (int i = 0; i < 16; ++i) {
            lo = std::min(lo, los[i]);
            hi = std::max(hi, his[i]);
        }
#endif
        for (; x < w; ++x) {
            lo = std::min(lo, row[x]);
            hi = std::max(hi, row[x]);
        }
    }
    minGrey = lo;
    maxGrey = hi;
}

// Every buffer value the diffusion can meet. A value's error d is in [-128, 128] once the value
// is in [-128, 383]; a pixel receives at most (7 + 3 + 5 + 1)/16 of such errors, so with greys
// of 0..255 every value stays in that range and the tables below cover all of them.
constexpr int kValueBias = 128;
constexpr int kValueCount = 512;

struct DiffusionSteps {
    std::array<int, kValueCount> error{}; // value - 255 for white, value for black
    std::array<int, kValueCount> right{}; // 7/16 of the error, truncated toward zero
};

DiffusionSteps diffusionSteps()
{
    DiffusionSteps s;
    for (int k = 0; k < kValueCount; ++k) {
        const int v = k - kValueBias;
        s.error[k] = v > 127 ? v - 255 : v;
        s.right[k] = 7 * s.error[k] / 16;
    }
    return s;
}

// Floyd-Steinberg over the mapped greys, rows top to bottom, each left to right. Each quotient
// is truncated toward zero on its own (C++ integer division does exactly that). err[c] holds the
// error that reaches column c (1..w; 0 and w + 1 are the frame) of the row being dithered; while
// a row runs, the slot behind the current pixel is already final for the next row, so one buffer
// serves both rows. What runs into the frame columns or below the last row is dropped.
void diffuse(const QImage& grey, const std::array<std::uint8_t, 256>& table, QImage& dots)
{
    const int w = grey.width();
    const int h = grey.height();
    static const DiffusionSteps steps = diffusionSteps();
    std::vector<int> err(static_cast<std::size_t>(w) + 2, 0);
    int* e = err.data();
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* in = grey.constScanLine(y);
        std::uint8_t* out = dots.scanLine(y);
        int right = 0;     // 7/16 of the previous pixel's error
        int behind = 0;    // what column c - 1 of the next row has collected so far
        int belowRight = 0;  // 1/16 of the previous pixel's error, for column c of the next row
        for (int c = 1; c <= w; ++c) {
            // Only the carried 7/16 has to wait for the previous pixel; looking it up keeps
            // that chain short and free of unpredictable branches.
            const int v = (table[in[c - 1]] + e[c]) + right;
            const std::size_t k = static_cast<std::size_t>(v + kValueBias);
            right = steps.right[k];
            const int d = steps.error[k];
            out[c - 1] = static_cast<std::uint8_t>(-static_cast<int>(v > 127));
            e[c - 1] = behind + 3 * d / 16;
            behind = belowRight + 5 * d / 16;
            belowRight = d / 16;
        }
        e[w] = behind;
    }
}

} // namespace

TDithering::TDithering() = default;
TDithering::~TDithering() = default;

std::array<std::uint8_t, 256> contrastGammaTable(int minGrey, int maxGrey, double gamma)
{
    std::array<std::uint8_t, 256> table{};
    const double k = minGrey < maxGrey ? 255.0 / (maxGrey - minGrey) : 1.0;
    for (int v = 0; v < 256; ++v) {
        const double x = std::max(0, v - minGrey) * k / 255.0;
        double mapped = 255.0 * std::pow(x, gamma);
        // A gamma outside the track bar's range must not wrap a grey around.
        if (!(mapped >= 0.0))
            mapped = 0.0;
        mapped = std::min(mapped, 255.0);
        table[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(RoundHalfEven(mapped));
    }
    return table;
}

QSize ditheredSize(QSize picture, int width, int height, bool preserveAspect)
{
    if (picture.isEmpty() || width <= 0 || height <= 0)
        return {0, 0};
    const std::int64_t pw = picture.width();
    const std::int64_t ph = picture.height();
    if (preserveAspect) {
        if (width * ph < height * pw)
            height = static_cast<int>(RoundHalfEven(static_cast<double>(ph) * width / pw));
        else
            width = static_cast<int>(RoundHalfEven(static_cast<double>(pw) * height / ph));
    }
    return {width, height};
}

void TDithering::Execute()
{
    m_lastError.clear();
    ScaledImg = QImage();
    DitherImg = QImage();
    const int w = DitherWidth;
    const int h = DitherHeight;
    if (w <= 0 || h <= 0)
        return;
    if (static_cast<std::int64_t>(w) * h > kMaxDitherPixels) {
        m_lastError = QStringLiteral("The dot image of %1 x %2 dots is larger than the limit of %3 dots.")
                          .arg(w)
                          .arg(h)
                          .arg(GroupThousands(kMaxDitherPixels));
        return;
    }
    if (!SourceImg || SourceImg->isNull()) {
        m_lastError = QStringLiteral("There is no picture to dither.");
        return;
    }

    QImage stretched = opaque(*SourceImg);
    if (stretched.size() != QSize(w, h))
        stretched = stretched.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    ScaledImg = greyOf(stretched);
    DitherImg = QImage(w, h, QImage::Format_Grayscale8);
    if (ScaledImg.size() != QSize(w, h) || DitherImg.isNull()) {
        ScaledImg = QImage();
        DitherImg = QImage();
        m_lastError = QStringLiteral("Not enough memory for a dot image of %1 x %2 dots.").arg(w).arg(h);
        return;
    }

    int minGrey = kFrameGrey;
    int maxGrey = kFrameGrey;
    greyExtremes(ScaledImg, minGrey, maxGrey);
    diffuse(ScaledImg, contrastGammaTable(minGrey, maxGrey, Gamma), DitherImg);
}

PictureFile loadPicture(const QString& path)
{
    PictureFile result;
    // Only a path that is truly not there is "missing": a folder on the way that cannot be
    // entered (permissions) or that is a file is a different fault with a different cure.
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 && errno == ENOENT) {
        result.error = QStringLiteral("File \"%1\" does not exist").arg(path);
        return result;
    }
    // A folder, a device or a file without read permission is named as what it is.
    if (const QString why = unreadableFileReason(path); !why.isEmpty()) {
        result.error = QStringLiteral("The picture ") + why;
        return result;
    }
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && static_cast<std::int64_t>(size.width()) * size.height() > kMaxPicturePixels) {
        result.error = QStringLiteral("The picture \"%1\" has %2 x %3 pixels; at most %4 pixels can be used.")
                           .arg(path)
                           .arg(size.width())
                           .arg(size.height())
                           .arg(GroupThousands(kMaxPicturePixels));
        return result;
    }
    // Qt's own allocation limit would refuse large pictures before ours does.
    reader.setAllocationLimit(static_cast<int>(kMaxPicturePixels * 4 / (1024 * 1024) + 1));
    if (!reader.read(&result.image) || result.image.isNull()) {
        result.image = QImage();
        result.error = QStringLiteral("The picture \"%1\" cannot be read: %2").arg(path, reader.errorString());
    }
    return result;
}

QString saveDotImage(const QImage& dots, const QString& path)
{
    if (dots.isNull())
        return QStringLiteral("There is no dot image to write.");
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("pbm") && suffix != QLatin1String("png"))
        return QStringLiteral("\"%1\": the dot image is written as .pbm or .png").arg(path);
    SafeFile file(path);
    QString error;
    if (!file.open(&error))
        return error;
    if (suffix == QLatin1String("pbm")) {
        // Raw PBM: a header, then each row packed eight dots to a byte, first dot in the high
        // bit, 1 for black.
        const int w = dots.width();
        const QImage grey = dots.format() == QImage::Format_Grayscale8 ? dots
                                                                       : dots.convertToFormat(QImage::Format_Grayscale8);
        file.write(QStringLiteral("P4\n%1 %2\n").arg(w).arg(dots.height()).toLatin1());
        QByteArray packed((w + 7) / 8, '\0');
        auto* bytes = reinterpret_cast<std::uint8_t*>(packed.data());
        for (int y = 0; y < grey.height(); ++y) {
            const std::uint8_t* row = grey.constScanLine(y);
            int x = 0;
            for (; x + 8 <= w; x += 8) {
                unsigned b = 0;
                for (int i = 0; i < 8; ++i)
                    b = (b << 1) | (row[x + i] < 128 ? 1u : 0u);
                bytes[x / 8] = static_cast<std::uint8_t>(b);
            }
            if (x < w) {
                unsigned b = 0;
                for (int i = 0; i < 8; ++i)
                    b = (b << 1) | (x + i < w && row[x + i] < 128 ? 1u : 0u);
                bytes[x / 8] = static_cast<std::uint8_t>(b);
            }
            file.write(packed);
        }
    } else {
        QImageWriter writer(&file.device(), "png");
        if (!writer.write(dots)) {
            file.cancel();
            return cannotWrite(path, writer.errorString());
        }
    }
    if (!file.commit(&error))
        return error;
    return {};
}

} // namespace lapido
