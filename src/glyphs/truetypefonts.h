// TrueType faces through FreeType and fontconfig: name resolution, metrics and native outlines.
#pragma once

#include "glyphs/fontstyles.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

namespace lapido {

// A glyph outline in the form the station walks: polygons of line and spline records in
// integer font units, each polygon implicitly closed back to its start point.
struct NativeOutline {
    struct Point {
        int32_t x = 0;
        int32_t y = 0;
        bool operator==(const Point&) const = default;
    };
    enum RecordType : int { primLine = 1, primQSpline = 2, primCSpline = 3 };
    struct Record {
        RecordType type = primLine;
        int firstPoint = 0; // index into points
        int pointCount = 0;
    };
    struct Polygon {
        Point start;
        int firstRecord = 0; // index into records
        int recordCount = 0;
    };

    std::vector<Polygon> polygons;
    std::vector<Record> records;
    std::vector<Point> points;
    // Glyph metrics in font units: advance, inked width and left edge of the ink.
    int cellIncX = 0;
    int blackBoxX = 0;
    int originX = 0;

    void clear();
};

// One opened face with the style it has to synthesise (a family without a bold or italic face
// is emboldened or slanted, as the platform's font mapper does).
class TrueTypeFace {
public:
    // nullptr (and a debug line) when FreeType cannot read the file.
    static std::unique_ptr<TrueTypeFace> open(const QString& file, int faceIndex = 0,
                                              bool embolden = false, bool oblique = false);
    // Opens the face for a wanted style: bold on a face lighter than semi-bold is emboldened,
    // italic on an upright face is slanted.
    static std::unique_ptr<TrueTypeFace> openForStyle(const QString& file, int faceIndex, TFontStyles style);
    ~TrueTypeFace();
    TrueTypeFace(const TrueTypeFace&) = delete;
    TrueTypeFace& operator=(const TrueTypeFace&) = delete;

    QString file() const { return m_file; }
    QString familyName() const;
    // True for quadratic (glyf) outlines; CFF faces have cubic ones.
    bool hasTrueTypeOutlines() const { return m_trueTypeOutlines; }
    bool emboldens() const { return m_embolden; }
    bool obliques() const { return m_oblique; }

    int emSize() const { return m_emSize; }
    int ascent() const { return m_ascent; }   // typographic ascender, font units
    int descent() const { return m_descent; } // typographic descender (negative), font units
    // H and C of the station's character cell, font units. H is never below 1.
    int cellHeight() const;
    int centreHeight() const;
    char16_t firstChar() const { return m_firstChar; }
    char16_t lastChar() const { return m_lastChar; }
    bool hasChar(char32_t code) const;

    // Fills out with the outline of the character; false (out cleared, metrics 0) when the face
    // lacks the character or its glyph cannot be loaded. Contours of a single point are left out.
    bool nativeOutline(char32_t code, NativeOutline& out) const;

    // The FreeType face (FT_Face) for callers that render with FreeType themselves.
    void* ftFace() const { return m_face; }

private:
    TrueTypeFace() = default;

    QString m_file;
    void* m_face = nullptr; // FT_Face, owned
    bool m_trueTypeOutlines = false;
    bool m_embolden = false;
    bool m_oblique = false;
    int m_emSize = 0;
    int m_ascent = 0;
    int m_descent = 0;
    char16_t m_firstChar = 0;
    char16_t m_lastChar = 0;
};

// The faces of installed fonts, found by family name and style through fontconfig and kept
// open for the rest of the run.
namespace truetype {

// The face for a family name and style, or nullptr when no installed family answers to the
// name (fontconfig's metric-compatible aliases count: "Arial" gives Liberation Sans) or the
// file cannot be read. Only bold and italic matter.
const TrueTypeFace* face(const QString& familyName, TFontStyles style);

// Family names of the installed fonts with TrueType outlines, sorted, without duplicates.
QStringList trueTypeFamilies();

// Forgets every cached face (tests that install fonts of their own).
void resetCache();

} // namespace truetype

} // namespace lapido
