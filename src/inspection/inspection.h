// Inspection of an inscription from a camera picture: the planned marks registered to the
// picture glyph by glyph, what was found of them, where, how wide, what lies where nothing was
// planned, and the text read back.
#pragma once

#include "geometry/xytransform.h"
#include "inspection/codegrade.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace lapido {

struct TSettings;

enum class PlannedGlyphKind { Character, Logo, Photo, Code };

// One glyph as the run planned it.
struct PlannedGlyph {
    QString text; // the character; for a logo or photo its caption
    PlannedGlyphKind kind = PlannedGlyphKind::Character;
    // A character of a TrueType face: its outline is marked, so the picture shows hollow
    // letters that are filled before they are read.
    bool outline = false;
    // A character OCR can read (Latin letters, digits, punctuation); the Greek stroke font is not.
    bool readable = true;
    std::vector<TCoord> marksMm; // machine millimetres, in firing order
    std::optional<PlannedCode> code; // a 2D code: its modules, read back and graded
};

// What the run meant to put on the stone.
struct InspectionPlan {
    // The label's characters as they read, spaces included: what the read-back is compared with.
    QString text;
    // The glyphs that put marks on the stone, in label order.
    std::vector<PlannedGlyph> glyphs;
};

// Where the camera sees the machine: the picture pixel of the laser spot while the table stood
// at tableMm, and the picture's scales (machine Y grows upwards, picture rows downwards).
struct InspectionView {
    TCoord tableMm;
    QPointF laserPx;
    double scalePxPerMm = 300;
    double aspectPercent = 100;
    QPointF toPixel(const TCoord& mm) const;
    TCoord toMm(const QPointF& px) const;
    // The view of a picture of the given size taken at tableMm through the camera the settings
    // describe (the frame's centre on the station picture's centre, the laser spot at the
    // cross hair).
    static InspectionView fromSettings(const TSettings& settings, QSize picture, const TCoord& tableMm);
};

// Thresholds of the verdict, stored in section "Inspection".
struct InspectionLimits {
    double minCoveragePercent = 92;   // a glyph with a smaller share of its marks found fails
    double maxOffsetUm = 4;           // a glyph or label further from its place fails
    double maxSpreadUm = 6;           // marks of a glyph scattered more than this fail it
    double maxMarkWidthPercent = 125; // marks wider than this share of the spot fail the label
    int maxStrayMarks = 0;            // marks where none were planned
    double markContrastPercent = 50;  // a mark is found darker than this share of a typical mark
    double minMarkContrast = 20;      // grey levels: darker than the polish's own shades
    double searchUm = 30;             // how far from its place a glyph is looked for
    double spotDiameterUm = 10;       // the laser spot (Marking, SpotDiameter)
    bool readBack = true;             // read the text back
    bool failOnReadBack = false;      // a text read differently fails the inspection
    char minCodeGrade = 'D';          // a 2D code graded below this fails ('A' to 'D')
    // The stored thresholds; values out of range fall back to the defaults above.
    static InspectionLimits fromStore(const TSettings& settings);
    bool operator==(const InspectionLimits&) const = default;
};

struct GlyphInspection {
    QString text;
    PlannedGlyphKind kind = PlannedGlyphKind::Character;
    bool inView = true;
    int planned = 0;
    int found = 0;
    double coveragePercent = 0;
    // µm, x to the right and y upwards; none when too little was found to place the glyph.
    std::optional<TCoord> offsetUm;
    double spreadUm = 0;
    int strayMarks = 0;
    QRectF boxPx; // the glyph where it was found in the picture
    std::optional<CodeGrade> code; // a 2D code's reading and grade
    QStringList reasons;
    bool ok() const { return reasons.isEmpty(); }
    // "'7': ok" or "'7': 62 % of its marks found".
    QString line() const;
};

struct ReadBack {
    bool attempted = false;
    QString why;      // why nothing was read (not attempted)
    QString text;     // what was read
    QString expected; // the label's text
    int differsAt = 0; // 1-based position in the label's text; 0 when it matches
    bool matches() const { return attempted && differsAt == 0; }
    // "read back: LG 1407 (matches)", "read back: LG 14O7 (differs at 6)".
    QString line() const;
};

struct InspectionResult {
    std::vector<GlyphInspection> glyphs;
    std::optional<TCoord> labelOffsetUm;
    double markWidthUm = 0;
    int strayMarks = 0; // outside every glyph
    ReadBack readBack;
    QStringList reasons; // the label's own
    QRectF labelBoxPx;
    bool ok() const;
    // Everything that failed, in label order, or "ok".
    QString verdict() const;
    // The trace's line: "Inspection: ok; read back: ..." or "Inspection: failed: ...".
    QString traceLine() const;
    // One line per glyph, then the label's lines.
    QStringList lines() const;
};

class TextReader;

// Inspects pictures; keeps the OCR engine between inspections (it takes a moment to start).
class Inspector {
public:
    Inspector();
    ~Inspector();
    Inspector(const Inspector&) = delete;
    Inspector& operator=(const Inspector&) = delete;

    InspectionResult inspect(const InspectionPlan& plan, const QImage& picture, const InspectionView& view,
                             const InspectionLimits& limits);

private:
    std::unique_ptr<TextReader> m_reader;
};

// "µm" offsets as the operator reads them: "14 µm right of", "3 µm left of and 6 µm above".
QString offsetWords(const TCoord& offsetUm);

} // namespace lapido
