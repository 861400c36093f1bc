// The font outline source: character outlines and font services over custom, stroke and TrueType fonts.
#include "glyphs/fontoutlines.h"

#include "geometry/contours.h"
#include "glyphs/customfonts.h"
#include "glyphs/strokefonts.h"
#include "glyphs/truetypefonts.h"
#include "platform/debuglog.h"

namespace lapido {

namespace {

bool isDigit(char16_t code) { return code >= u'0' && code <= u'9'; }

} // namespace

void appendNativeOutline(const NativeOutline& outline, int H, int C, TContourList& contours)
{
    // Font units to cell units; one reciprocal per outline instead of a division per point.
    const double scale = 1.0 / H;
    auto vertex = [scale, C](const NativeOutline::Point& p) {
        return TVertex{p.x * scale, (p.y - C) * scale, false};
    };
    // Reused from call to call on the same thread, so flattening allocates nothing per run.
    thread_local TVertexList nodes;
    for (const NativeOutline::Polygon& poly : outline.polygons) {
        auto contour = std::make_unique<TContour>();
        const TVertex start = vertex(poly.start);
        contour->Add(start);
        NativeOutline::Point current = poly.start;
        for (int r = poly.firstRecord; r < poly.firstRecord + poly.recordCount; ++r) {
            const NativeOutline::Record& rec = outline.records[std::size_t(r)];
            const NativeOutline::Point* pts = outline.points.data() + rec.firstPoint;
            switch (rec.type) {
            case NativeOutline::primLine:
                for (int k = 0; k < rec.pointCount; ++k)
                    contour->Add(vertex(pts[k]));
                break;
            case NativeOutline::primQSpline:
                nodes.Clear();
                nodes.Add(vertex(current));
                for (int k = 0; k < rec.pointCount; ++k)
                    nodes.Add(vertex(pts[k]));
                contour->AddQubicBSpline(nodes);
                break;
            default:
                // Cubic runs (CFF outlines) are not walked.
                break;
            }
            if (rec.pointCount > 0)
                current = pts[rec.pointCount - 1];
        }
        contour->Add(start);
        contours.Add(std::move(contour));
    }
}

std::unique_ptr<TContourList> GetCharOutline(const QString& fontName, TFontStyles style, char16_t code,
                                             double& CellIncX, double& BlackBoxX, double& OriginX)
{
    return CharOutlineSource(fontName, style).outline(code, CellIncX, BlackBoxX, OriginX);
}

CharOutlineSource::CharOutlineSource(const QString& fontName, TFontStyles style)
    : m_fontName(fontName), m_style(style), m_customFolder(customFontFolder(fontName))
{
}

std::unique_ptr<TContourList> CharOutlineSource::outline(char16_t code, double& CellIncX, double& BlackBoxX,
                                                         double& OriginX) const
{
    const QString& fontName = m_fontName;
    const TFontStyles style = m_style;
    if (!m_customFolder.isEmpty()) {
        if (!isDigit(code))
            return nullptr;
        return customDigitOutline(m_customFolder, code, CellIncX);
    }
    auto contours = std::make_unique<TContourList>();
    if (const StrokeFont* stroke = findStrokeFont(fontName)) {
        strokeCharOutline(*stroke, code, *contours, CellIncX, BlackBoxX, OriginX);
        return contours;
    }
    const TrueTypeFace* face = truetype::face(fontName, style);
    if (!face) {
        LogDebug(QStringLiteral("No font \"%1\" for character %2: empty outline").arg(fontName).arg(uint(code)));
        CellIncX = BlackBoxX = OriginX = 0;
        return contours;
    }
    // One buffer per thread, reused from character to character.
    thread_local NativeOutline native;
    if (!face->nativeOutline(code, native))
        LogDebug(QStringLiteral("Font \"%1\" has no outline for character %2").arg(fontName).arg(uint(code)));
    // H and C are the font's, not the style's: a label keeps its height whatever its style.
    const TrueTypeFace* regular = truetype::face(fontName, {});
    const TrueTypeFace& metrics = regular ? *regular : *face;
    const int H = metrics.cellHeight();
    appendNativeOutline(native, H, metrics.centreHeight(), *contours);
    CellIncX = double(native.cellIncX) / H;
    BlackBoxX = double(native.blackBoxX) / H;
    OriginX = double(native.originX) / H;
    return contours;
}

bool GetFontMetrics(const QString& fontName, int& U, int& H, int& C)
{
    if (const StrokeFont* stroke = findStrokeFont(fontName)) {
        U = stroke->U;
        H = stroke->H;
        C = stroke->C;
        return true;
    }
    if (const TrueTypeFace* face = truetype::face(fontName, {})) {
        U = face->emSize();
        H = face->cellHeight();
        C = face->centreHeight();
        return true;
    }
    U = H = C = 0;
    return false;
}

bool IsStrokeFont(const QString& fontName)
{
    return findStrokeFont(fontName) != nullptr;
}

bool FontIsKnown(const QString& fontName)
{
    return isCustomFont(fontName) || findStrokeFont(fontName) != nullptr || truetype::face(fontName, {}) != nullptr;
}

bool IsTrueTypeFont(const QString& fontName)
{
    if (fontName.isEmpty() || fontName.startsWith(QLatin1Char('@')))
        return false;
    const TrueTypeFace* face = truetype::face(fontName, {});
    return face && face->hasTrueTypeOutlines();
}

char16_t GetFirstChar(const QString& fontName)
{
    if (isCustomFont(fontName))
        return u'0';
    if (const StrokeFont* stroke = findStrokeFont(fontName))
        return stroke->items.front().code;
    const TrueTypeFace* face = truetype::face(fontName, {});
    return face ? face->firstChar() : 0;
}

char16_t GetLastChar(const QString& fontName)
{
    if (isCustomFont(fontName))
        return u'9';
    if (const StrokeFont* stroke = findStrokeFont(fontName))
        return stroke->items.back().code;
    const TrueTypeFace* face = truetype::face(fontName, {});
    return face ? face->lastChar() : 0;
}

bool FontHasChar(const QString& fontName, char16_t code)
{
    if (isCustomFont(fontName))
        return isDigit(code);
    if (const StrokeFont* stroke = findStrokeFont(fontName))
        return findStrokeItem(*stroke, code) != nullptr;
    const TrueTypeFace* face = truetype::face(fontName, {});
    return face && face->hasChar(code);
}

int FontStyleToIndex(TFontStyles style)
{
    return (style.testFlag(fsItalic) ? 1 : 0) + (style.testFlag(fsBold) ? 2 : 0);
}

TFontStyles IndexToFontStyle(int index)
{
    TFontStyles style;
    if (index & 1)
        style |= fsItalic;
    if (index & 2)
        style |= fsBold;
    return style;
}

QString FontStyleName(TFontStyles style)
{
    static const char* const kNames[] = {"Regular", "Italic", "Bold", "Italic Bold"};
    return QString::fromLatin1(kNames[FontStyleToIndex(style)]);
}

QStringList usableFontNames()
{
    QStringList names;
    TCustomFonts().GetCustomFontNames(names);
    for (const StrokeFont* f : strokeFonts())
        names << QString::fromLatin1(f->name);
    names << truetype::trueTypeFamilies();
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const QString& n) { return n.isEmpty() || n.startsWith(QLatin1Char('@')); }),
                names.end());
    return names;
}

} // namespace lapido
