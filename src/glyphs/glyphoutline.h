// Outline glyphs: characters and logos marked as vectors with planned speeds, and the outline file.
#pragma once

#include "geometry/contours.h"
#include "glyphs/glyph.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace lapido {

// The memo of the clipboard window: the planning lines written while marking in debug mode.
class TDebugMemo {
public:
    void Clear() { m_lines.clear(); }
    void Add(const QString& line) { m_lines << line; }
    const QStringList& Lines() const { return m_lines; }

private:
    QStringList m_lines;
};
TDebugMemo& ClipboardMemo();

// The speed plan of one kept vertex (mm, mm/s).
struct TPlanningRecord {
    double X = 0, Y = 0, DX = 0, DY = 0, L = 0, UX = 1, UY = 0;
    double Cos = 0, Angle = 0, K = 0, Vd = 0, Vc = 0, Vr = 0, V = 0;
};

struct TPlanningLimits {
    double Vmax = 0.5;    // MarkingSpeed
    double Vmin = 0.02;   // min(CornerSpeed, Vmax)
    double Alin = 5;      // LinearDecel
    double Arad = 5;      // RadialAccel
    static TPlanningLimits fromSettings();
};

// Plans the speeds of kept vertices in place (X, Y filled in): segments, corners, the
// backward pass. Vertex 0's speed is not planned.
void PlanContourSpeeds(std::vector<TPlanningRecord>& records, const TPlanningLimits& limits);

class TGlyphOutLine : public TGlyph {
public:
    TGlyphOutLine(TLabelTree* ATreeView, TTreeNode* ATreeNode);
    ~TGlyphOutLine() override;

    void TrimZeroLengthSegments();
    void ResetMarking() override;
    void Paint(QPainter& Canvas, const TXYTransform& XYTF) override;
    void ExtendMarkingRect(const TXYTransform& XYTF, TCoord& MinValues, TCoord& MaxValues) override;
    void Mark(const TXYTransform& XYTF) override;

    // The outline file ("KMT Outline V01", 8-byte little-endian records). Both report failures
    // through the operator dialogs and return false; a failed load leaves the outline as it was,
    // a failed save the file as it was. The save's reason also goes to error when given.
    bool SaveToFile(const QString& FileName, QString* error = nullptr) const;
    bool LoadFromFile(const QString& FileName);

    // The outline. The characters of one text share the outline of the same character (a label
    // repeats its characters), so an outline is replaced, never changed in place, once made.
    std::shared_ptr<TContourList> ContourList;
    int ContourListIndex = 0;
    int VertexIndex = 0;
    TLaserAction LaserAction = TLaserAction::laNone;

protected:
    // Where vertex v sits in glyph units for the position P.
    TCoord vertexPosition(const TVertex& v, const TCoord& P) const
    {
        return Coord(P.X + RelativeSize * v.X + RelativeSize * Spacing / 2, P.Y + RelativeSize * (v.Y + Offset));
    }
};

class TGlyphWideString;
class CharOutlineSource;

class TGlyphChar : public TGlyphOutLine {
public:
    // The font is looked up once for the whole string.
    TGlyphChar(TLabelTree* ATreeView, TTreeNode* ATreeNode, TGlyphWideString* AGlyphWideString, char16_t AUniCode,
               const CharOutlineSource& font);

    TGlyphWideString* GlyphWideString = nullptr;
    char16_t UniCode = 0;
    QString FontName;
    TFontStyles FontStyle;
    double PositionX = 0, BlackBoxX = 0, OriginX = 0, CellIncX = 0;
};

class TGlyphLogo : public TGlyphOutLine {
public:
    TGlyphLogo(TLabelTree* ATreeView, TTreeNode* ATreeNode, const QString& AFileName, double AHeight, double AOffset);
    void UpDate(const QString& AFileName, double AHeight, double AOffset);
    QString MarkingProblem() const override;

    QString FileName;
    // Why the drawing could not be used (empty when it was read): the logo is then empty.
    QString LoadError;
};

// Reads an outline file into a contour list and width without touching any glyph; nullopt with
// a message when the file cannot be used.
struct OutlineFileContent {
    double UnitWidth = 0;
    TContourList Contours;
};
struct OutlineFileResult {
    std::optional<OutlineFileContent> content;
    QString error;        // the operator's message
    bool missing = false; // the file does not exist
};
OutlineFileResult readOutlineFile(const QString& fileName);

} // namespace lapido
