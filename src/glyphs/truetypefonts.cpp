// TrueType faces through FreeType and fontconfig: name resolution, metrics and native outlines.
#include "glyphs/truetypefonts.h"

#include "platform/debuglog.h"

#include <QFile>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>

namespace lapido {

namespace {

// FreeType's own synthetic slant (about 12 degrees), in 16.16.
constexpr FT_Fixed kObliqueShear = 0x0366A;

// One FreeType library for the run; faces are closed before it (they live in the cache below,
// which is destroyed first because it is created later).
class FreeTypeLibrary {
public:
    FreeTypeLibrary()
    {
        if (FT_Init_FreeType(&m_lib) != 0) {
            m_lib = nullptr;
            LogDebug(std::string_view("FreeType could not be initialised"));
        }
    }
    ~FreeTypeLibrary()
    {
        if (m_lib)
            FT_Done_FreeType(m_lib);
    }
    FT_Library get() const { return m_lib; }

private:
    FT_Library m_lib = nullptr;
};

FT_Library library()
{
    static FreeTypeLibrary lib;
    return lib.get();
}

FT_Face asFace(void* p) { return static_cast<FT_Face>(p); }

FT_UInt glyphIndex(FT_Face face, char32_t code)
{
    FT_UInt index = FT_Get_Char_Index(face, code);
    // Symbol fonts map their characters into the private area at 0xF000.
    if (index == 0 && face->charmap && face->charmap->encoding == FT_ENCODING_MS_SYMBOL && code < 0x100)
        index = FT_Get_Char_Index(face, 0xF000 + code);
    return index;
}

// Floor of a half: the integer word of a 16.16 midpoint.
int32_t floorHalf(int64_t twice) { return int32_t(twice >> 1); }

} // namespace

void NativeOutline::clear()
{
    polygons.clear();
    records.clear();
    points.clear();
    cellIncX = blackBoxX = originX = 0;
}

std::unique_ptr<TrueTypeFace> TrueTypeFace::open(const QString& file, int faceIndex, bool embolden,
                                                 bool oblique)
{
    FT_Library lib = library();
    if (!lib)
        return nullptr;
    FT_Face face = nullptr;
    const QByteArray path = QFile::encodeName(file);
    if (FT_New_Face(lib, path.constData(), faceIndex, &face) != 0) {
        LogDebug(QStringLiteral("Font file cannot be read: %1").arg(file));
        return nullptr;
    }
    if (!FT_IS_SCALABLE(face)) {
        LogDebug(QStringLiteral("Font file has no outlines: %1").arg(file));
        FT_Done_Face(face);
        return nullptr;
    }
    if (!face->charmap && FT_Select_Charmap(face, FT_ENCODING_MS_SYMBOL) != 0 && face->num_charmaps > 0)
        FT_Set_Charmap(face, face->charmaps[0]);

    std::unique_ptr<TrueTypeFace> f(new TrueTypeFace);
    f->m_file = file;
    f->m_face = face;
    f->m_embolden = embolden;
    f->m_oblique = oblique;
    FT_ULong glyfLength = 0;
    f->m_trueTypeOutlines = FT_IS_SFNT(face) && FT_Load_Sfnt_Table(face, TTAG_glyf, 0, nullptr, &glyfLength) == 0;
    f->m_emSize = face->units_per_EM;

    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 && os2->version != 0xFFFF) {
        f->m_ascent = os2->sTypoAscender;
        f->m_descent = os2->sTypoDescender;
        f->m_firstChar = os2->usFirstCharIndex;
        f->m_lastChar = os2->usLastCharIndex;
    } else {
        f->m_ascent = face->ascender;
        f->m_descent = face->descender;
        FT_UInt gi = 0;
        FT_ULong code = FT_Get_First_Char(face, &gi);
        f->m_firstChar = gi ? char16_t(std::min<FT_ULong>(code, 0xFFFF)) : 0;
        FT_ULong last = code;
        while (gi && code <= 0xFFFF) {
            last = code;
            code = FT_Get_Next_Char(face, code, &gi);
        }
        f->m_lastChar = char16_t(std::min<FT_ULong>(last, 0xFFFF));
    }
    return f;
}

std::unique_ptr<TrueTypeFace> TrueTypeFace::openForStyle(const QString& file, int faceIndex, TFontStyles style)
{
    auto f = open(file, faceIndex);
    if (!f)
        return f;
    FT_Face face = asFace(f->m_face);
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const bool isBold = os2 && os2->version != 0xFFFF ? os2->usWeightClass >= 600
                                                      : (face->style_flags & FT_STYLE_FLAG_BOLD) != 0;
    const bool isItalic = (face->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
    f->m_embolden = style.testFlag(fsBold) && !isBold;
    f->m_oblique = style.testFlag(fsItalic) && !isItalic;
    return f;
}

TrueTypeFace::~TrueTypeFace()
{
    if (m_face)
        FT_Done_Face(asFace(m_face));
}

QString TrueTypeFace::familyName() const
{
    FT_Face face = asFace(m_face);
    return face->family_name ? QString::fromUtf8(face->family_name) : QString();
}

int TrueTypeFace::cellHeight() const
{
    const int h = m_ascent + std::abs(m_descent);
    // Every coordinate is divided by H; a face without sound vertical metrics uses its em.
    if (h > 0)
        return h;
    return m_emSize > 0 ? m_emSize : 1;
}

int TrueTypeFace::centreHeight() const
{
    return (m_ascent - std::abs(m_descent)) / 2;
}

bool TrueTypeFace::hasChar(char32_t code) const
{
    return glyphIndex(asFace(m_face), code) != 0;
}

bool TrueTypeFace::nativeOutline(char32_t code, NativeOutline& out) const
{
    out.clear();
    FT_Face face = asFace(m_face);
    const FT_UInt index = glyphIndex(face, code);
    if (index == 0)
        return false;
    if (FT_Load_Glyph(face, index, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP | FT_LOAD_IGNORE_TRANSFORM) != 0
        || face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) {
        LogDebug(QStringLiteral("Glyph %1 of %2 cannot be loaded").arg(uint(code)).arg(m_file));
        return false;
    }
    FT_GlyphSlot slot = face->glyph;
    FT_Outline* o = &slot->outline;
    FT_Pos advance = slot->metrics.horiAdvance;
    if (m_oblique) {
        FT_Matrix shear{0x10000, kObliqueShear, 0, 0x10000};
        FT_Outline_Transform(o, &shear);
    }
    if (m_embolden) {
        const FT_Pos strength = m_emSize / 24;
        FT_Outline_EmboldenXY(o, strength, strength);
        advance += strength;
    }
    out.cellIncX = int(advance);
    if (m_oblique || m_embolden) {
        if (o->n_points > 0) {
            FT_BBox box;
            FT_Outline_Get_CBox(o, &box);
            out.blackBoxX = int(box.xMax - box.xMin);
            out.originX = int(box.xMin);
        }
    } else {
        // Unscaled, the loader's metrics are the outline's control box.
        out.blackBoxX = int(slot->metrics.width);
        out.originX = int(slot->metrics.horiBearingX);
    }

    using P = NativeOutline::Point;
    auto pt = [o](int i) { return P{int32_t(o->points[i].x), int32_t(o->points[i].y)}; };
    auto tag = [o](int i) { return FT_CURVE_TAG(o->tags[i]); };
    auto on = [&](int i) { return tag(i) == FT_CURVE_TAG_ON; };

    int first = 0;
    for (int c = 0; c < o->n_contours; ++c) {
        const int last = o->contours[c];
        // A contour of one point is an anchor, not ink: it gives no polygon (marked, it would
        // be a stray dot).
        if (last <= first) {
            first = last + 1;
            continue;
        }
        NativeOutline::Polygon poly;
        int begin = first + 1;
        int end = last;
        if (on(first)) {
            poly.start = pt(first);
        } else if (on(last)) {
            // A contour that opens off the curve starts at its last point, which is on it.
            poly.start = pt(last);
            begin = first;
            end = last - 1;
        } else {
            const P a = pt(last), b = pt(first);
            poly.start = P{floorHalf(int64_t(a.x) + b.x), floorHalf(int64_t(a.y) + b.y)};
            begin = first;
        }
        poly.firstRecord = int(out.records.size());
        int i = begin;
        while (i <= end) {
            NativeOutline::Record r;
            r.firstPoint = int(out.points.size());
            if (on(i)) {
                r.type = NativeOutline::primLine;
                while (i <= end && on(i))
                    out.points.push_back(pt(i++));
            } else {
                r.type = tag(i) == FT_CURVE_TAG_CUBIC ? NativeOutline::primCSpline : NativeOutline::primQSpline;
                while (i <= end && !on(i))
                    out.points.push_back(pt(i++));
                // The run ends on the next on-curve point, or wraps round to the start.
                out.points.push_back(i <= end ? pt(i++) : poly.start);
            }
            r.pointCount = int(out.points.size()) - r.firstPoint;
            out.records.push_back(r);
        }
        poly.recordCount = int(out.records.size()) - poly.firstRecord;
        out.polygons.push_back(poly);
        first = last + 1;
    }
    return true;
}

namespace truetype {

namespace {

bool isGenericFamily(const QString& lower)
{
    static const std::set<QString> generic{
        QStringLiteral("sans-serif"), QStringLiteral("sans"), QStringLiteral("serif"),
        QStringLiteral("monospace"), QStringLiteral("mono"), QStringLiteral("cursive"),
        QStringLiteral("fantasy"), QStringLiteral("system-ui"), QStringLiteral("emoji"),
        QStringLiteral("math")};
    return generic.count(lower) > 0;
}

struct FcPatternDeleter {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
using PatternPtr = std::unique_ptr<FcPattern, FcPatternDeleter>;

struct Resolved {
    QString file;
    int index = 0;
};

// fontconfig always answers with some font; only a face of the asked family or of one of its
// strongly bound aliases (the metric-compatible substitutes) counts as that family.
std::optional<Resolved> resolve(const QString& familyName, TFontStyles style)
{
    const bool bold = style.testFlag(fsBold);
    const bool italic = style.testFlag(fsItalic);
    PatternPtr pat(FcPatternCreate());
    const QByteArray utf8 = familyName.toUtf8();
    FcPatternAddString(pat.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(utf8.constData()));
    FcPatternAddInteger(pat.get(), FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pat.get(), FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pat.get(), FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pat.get(), FcMatchPattern);
    FcDefaultSubstitute(pat.get());

    std::set<QString> accepted;
    FcValue v;
    FcValueBinding binding;
    for (int i = 0; FcPatternGetWithBinding(pat.get(), FC_FAMILY, i, &v, &binding) == FcResultMatch; ++i)
        if (binding != FcValueBindingWeak && v.type == FcTypeString)
            accepted.insert(QString::fromUtf8(reinterpret_cast<const char*>(v.u.s)).toLower());
    const bool anyFamily = isGenericFamily(familyName.trimmed().toLower());

    FcResult result = FcResultNoMatch;
    PatternPtr match(FcFontMatch(nullptr, pat.get(), &result));
    if (!match || result != FcResultMatch)
        return std::nullopt;
    bool familyOk = anyFamily;
    FcChar8* fam = nullptr;
    for (int i = 0; !familyOk && FcPatternGetString(match.get(), FC_FAMILY, i, &fam) == FcResultMatch; ++i)
        familyOk = accepted.count(QString::fromUtf8(reinterpret_cast<const char*>(fam)).toLower()) > 0;
    if (!familyOk)
        return std::nullopt;

    Resolved r;
    FcChar8* file = nullptr;
    if (FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch)
        return std::nullopt;
    r.file = QFile::decodeName(reinterpret_cast<const char*>(file));
    FcPatternGetInteger(match.get(), FC_INDEX, 0, &r.index);
    return r;
}

struct Cache {
    std::map<QString, std::unique_ptr<TrueTypeFace>> faces; // null entries remember failures
    bool hasLast = false;
    QString lastName;
    TFontStyles lastStyle;
    const TrueTypeFace* lastFace = nullptr;
};

Cache& cache()
{
    library(); // the library outlives the faces
    static Cache c;
    return c;
}

} // namespace

const TrueTypeFace* face(const QString& familyName, TFontStyles style)
{
    // A label asks for the same font character after character: answer that without building
    // a key.
    style &= (fsBold | fsItalic);
    Cache& c = cache();
    if (c.hasLast && c.lastStyle == style && c.lastName == familyName)
        return c.lastFace;
    const QString key = familyName.toLower() + QLatin1Char('\n')
        + QString::number(int(style & (fsBold | fsItalic)));
    auto& faces = cache().faces;
    auto remember = [&c, &familyName, style](const TrueTypeFace* f) {
        c.hasLast = true;
        c.lastName = familyName;
        c.lastStyle = style;
        c.lastFace = f;
        return f;
    };
    auto it = faces.find(key);
    if (it != faces.end())
        return remember(it->second.get());
    std::unique_ptr<TrueTypeFace> f;
    if (!familyName.trimmed().isEmpty()) {
        if (auto r = resolve(familyName, style))
            f = TrueTypeFace::openForStyle(r->file, r->index, style);
        else
            LogDebug(QStringLiteral("No installed font answers to the name \"%1\"").arg(familyName));
    }
    return remember(faces.emplace(key, std::move(f)).first->second.get());
}

QStringList trueTypeFamilies()
{
    PatternPtr pat(FcPatternCreate());
    FcPatternAddBool(pat.get(), FC_SCALABLE, FcTrue);
    FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, FC_FONTFORMAT, nullptr);
    FcFontSet* set = FcFontList(nullptr, pat.get(), os);
    FcObjectSetDestroy(os);
    std::set<QString> names;
    if (set) {
        for (int i = 0; i < set->nfont; ++i) {
            FcChar8* format = nullptr;
            if (FcPatternGetString(set->fonts[i], FC_FONTFORMAT, 0, &format) != FcResultMatch
                || qstrcmp(reinterpret_cast<const char*>(format), "TrueType") != 0)
                continue;
            FcChar8* fam = nullptr;
            for (int k = 0; FcPatternGetString(set->fonts[i], FC_FAMILY, k, &fam) == FcResultMatch; ++k) {
                const QString name = QString::fromUtf8(reinterpret_cast<const char*>(fam));
                if (!name.isEmpty() && !name.startsWith(QLatin1Char('@')))
                    names.insert(name);
            }
        }
        FcFontSetDestroy(set);
    }
    return QStringList(names.begin(), names.end());
}

void resetCache()
{
    Cache& c = cache();
    c.hasLast = false;
    c.lastFace = nullptr;
    c.faces.clear();
}

} // namespace truetype

} // namespace lapido
