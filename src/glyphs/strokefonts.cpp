// The built-in stroke fonts ROMANS, SCRIPTS and GREEKS: lookup, metrics and outlines.
#include "glyphs/strokefonts.h"

#include "geometry/contours.h"

#include <array>
#include <memory>

namespace lapido {

namespace {

using namespace strokefonts;

// A coordinate of this value lifts the pen.
constexpr int kPenUp = -64;

const StrokeFont kRomans{"ROMANS", {kRomansItems, std::size_t(kRomansCount)}, 10, 330, 45};
const StrokeFont kScripts{"SCRIPTS", {kScriptsItems, std::size_t(kScriptsCount)}, 10, 280, 20};
const StrokeFont kGreeks{"GREEKS", {kGreeksItems, std::size_t(kGreeksCount)}, 10, 330, 45};
const std::array<const StrokeFont*, 3> kFonts{&kRomans, &kScripts, &kGreeks};

} // namespace

const StrokeFont* findStrokeFont(const QString& fontName)
{
    // Compared without building an upper-cased copy: this runs for every character of a label.
    for (const StrokeFont* f : kFonts)
        if (fontName.compare(QLatin1String(f->name), Qt::CaseInsensitive) == 0)
            return f;
    return nullptr;
}

std::span<const StrokeFont* const> strokeFonts()
{
    return kFonts;
}

const StrokeItem* findStrokeItem(const StrokeFont& font, char16_t code)
{
    for (const StrokeItem& item : font.items) {
        if (item.code >= code)
            return item.code == code ? &item : nullptr;
    }
    return nullptr;
}

bool strokeCharOutline(const StrokeFont& font, char16_t code, TContourList& contours, double& CellIncX,
                       double& BlackBoxX, double& OriginX)
{
    const StrokeItem* item = findStrokeItem(font, code);
    if (!item)
        return false;
    const StrokeGlyph& glyph = kStrokeGlyphs[item->glyph];
    const double U = font.U;
    const double H = font.H;
    const double C = font.C;
    const int L = glyph.left;
    CellIncX = (glyph.right - L) * U / H;
    BlackBoxX = CellIncX;
    OriginX = 0;
    TContour* contour = nullptr; // null while the pen is up
    for (int i = 0; i < glyph.pointCount; ++i) {
        const StrokePoint& p = kStrokePoints[glyph.firstPoint + i];
        if (p.x == kPenUp || p.y == kPenUp) {
            contour = nullptr;
            continue;
        }
        if (!contour)
            contour = &contours.GetContour(contours.Add(std::make_unique<TContour>()));
        contour->Add((p.x - L) * U / H, (C - p.y * U) / H);
    }
    return true;
}

} // namespace lapido
