// Fuzz target: a picture file handed to the photo glyph: the loader (every format Qt reads),
// the preview dithering at several sizes and the engraving-resolution dot image.
#include "fuzzsupport.h"

#include "glyphs/dithering.h"
#include "glyphs/glyphphoto.h"

using namespace lapido;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::environment();
    fuzz::resetBetweenInputs();
    const QString path = fuzz::writeInput(QStringLiteral("picture"), fuzz::bytes(data, size));

    const PictureFile picture = loadPicture(path);
    fuzz::check(picture.error.isEmpty() != picture.image.isNull(), "a picture is both read and refused");

    QImage kept(4, 4, QImage::Format_RGB32);
    kept.fill(Qt::gray);
    TGlyphPhoto photo(nullptr, nullptr, kept, 0.2, 0.0);
    if (!photo.LoadFromFile(path)) {
        fuzz::check(photo.Bitmap == kept, "a refused picture replaced the photo's picture");
        return 0;
    }
    for (const QSize s : {QSize(1, 1), QSize(17, 5), QSize(64, 64)}) {
        const QImage& dots = photo.Dithered(s.width(), s.height(), true);
        fuzz::check(dots.width() <= s.width() && dots.height() <= s.height(), "a preview larger than asked for");
        for (int y = 0; y < dots.height(); ++y)
            for (int x = 0; x < dots.width(); ++x) {
                const int grey = qGray(dots.pixel(x, y));
                fuzz::check(grey == 0 || grey == 255, "a dot image holds a grey");
            }
    }
    QImage engraving;
    photo.MarkingBitmapAssignTo(&engraving);
    return 0;
}
