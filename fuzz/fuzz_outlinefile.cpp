// Fuzz target: the outline file reader, then what the station does with an outline it read:
// measuring, painting, and writing it back unchanged.
#include "fuzzsupport.h"

#include "geometry/xytransform.h"
#include "glyphs/glyphoutline.h"

#include <QImage>
#include <QPainter>

#include <cstring>

using namespace lapido;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::environment();
    fuzz::resetBetweenInputs();
    const QString path = fuzz::writeInput(QStringLiteral("input.kol"), fuzz::bytes(data, size));

    TGlyphOutLine glyph(nullptr, nullptr);
    if (!glyph.LoadFromFile(path)) {
        fuzz::check(glyph.ContourList->isEmpty(), "a refused file changed the outline");
        return 0;
    }

    // Written back, the outline reads as the same numbers, bit for bit.
    const QString copy = fuzz::environment().folder + QStringLiteral("/copy.kol");
    fuzz::check(glyph.SaveToFile(copy), "an outline that was read cannot be written");
    const OutlineFileResult again = readOutlineFile(copy);
    fuzz::check(again.content.has_value(), "a written outline cannot be read back");
    fuzz::check(std::memcmp(&again.content->UnitWidth, &glyph.UnitWidth, sizeof(double)) == 0,
                "the width changed on the way through the file");
    fuzz::check(again.content->Contours.Count() == glyph.ContourList->Count(), "contours lost on the way through the file");
    for (int c = 0; c < glyph.ContourList->Count(); ++c) {
        const TContour& a = glyph.ContourList->GetContour(c);
        const TContour& b = again.content->Contours.GetContour(c);
        fuzz::check(a.Count() == b.Count(), "vertices lost on the way through the file");
        for (int v = 0; v < a.Count(); ++v)
            fuzz::check(std::memcmp(&a[v].X, &b[v].X, sizeof(double)) == 0 && std::memcmp(&a[v].Y, &b[v].Y, sizeof(double)) == 0,
                        "a vertex changed on the way through the file");
    }

    glyph.RelativeSize = 0.5;
    glyph.TrimZeroLengthSegments();
    TXYTransform identity;
    TCoord lo{1e9, 1e9}, hi{-1e9, -1e9};
    glyph.ExtendMarkingRect(identity, lo, hi);
    QImage canvas(32, 32, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    glyph.Paint(painter, identity);
    return 0;
}
