// The glyph model: the label elements carried by the label tree's nodes, their layout
// positions, and the container kinds (spaces, texts, symbol lists, formatted labels).
#pragma once

#include "geometry/xytransform.h"
#include "glyphs/fontstyles.h"
#include "glyphs/labeltree.h"

#include <QColor>
#include <QPen>
#include <QString>

#include <cstdint>
#include <memory>

class QPainter;

namespace lapido {

class TRichString;
class RichEdit;

enum class TMarkingState { msUnprocessed, msProcessing, msProcessed };
enum class TLaserAction { laNone, laPositioning, laContouring };

// Layout positions in glyph units (1 = girdle height). Each walker sets its position to
// (-T/2, 0) and the glyphs advance its X.
TCoord& PaintPosition();
TCoord& MarkPosition();
void SetPaintPosition(double X, double Y);
void SetMarkPosition(double X, double Y);

// The refusal for a glyph height that cannot be marked (zero, negative or not a number), or
// empty. A negative height would mirror the glyph through its centre.
QString heightProblem(double height);

// The refusal for a glyph whose height on the stone (its relative height times the girdle
// height) is below what the laser can resolve (the spot, or two pulse distances when those are
// wider), or empty: such a glyph would be one blot, not what it shows.
QString resolutionProblem(double relativeHeight);

// What a label may hold. Values beyond these describe no inscription a girdle can carry; a
// label holding them is refused when it is read, and the edit boxes refuse them.
namespace labellimits {
// Heights, offsets, spacings and space widths, as fractions of the girdle height: the edit
// boxes take 0.001 % at least, and a hundred girdle heights is far beyond any stone.
inline constexpr double kMinHeight = 0.00001;
inline constexpr double kMaxFraction = 100;
inline constexpr double kMaxSlantDegrees = 360;
inline constexpr double kMinGirdleMm = 0.001;
inline constexpr double kMaxGirdleMm = 100;
// The photo gamma slider's range.
inline constexpr double kMinGamma = 0.5;
inline constexpr double kMaxGamma = 2.5;
// Characters of a whole label: about a 100 mm girdle written at the 10 um spot.
inline constexpr int kMaxCharacters = 10000;
} // namespace labellimits

// A stored colour (0x00BBGGRR) as a QColor.
QColor colorFromRef(std::uint32_t bgr);

class TGlyph {
public:
    TGlyph(TLabelTree* ATreeView, TTreeNode* ATreeNode);
    virtual ~TGlyph();
    TGlyph(const TGlyph&) = delete;
    TGlyph& operator=(const TGlyph&) = delete;

    virtual void DrawFrame(QPainter& Canvas, const TXYTransform& XYTF);
    virtual void Paint(QPainter& Canvas, const TXYTransform& XYTF);
    virtual void Mark(const TXYTransform& XYTF);
    virtual void ResetMarking();
    virtual void ExtendMarkingRect(const TXYTransform& XYTF, TCoord& MinValues, TCoord& MaxValues);
    virtual double Width() const;
    virtual void Increment() {}
    // Why the glyph would not be marked as composed (empty when it would): a height that is not
    // positive, a font, picture or drawing that cannot be used. A label with such a glyph is
    // refused before the machine moves, since an inscription cannot be undone.
    virtual QString MarkingProblem() const;

    // Creates a glyph of kind T for a node and hands it to the node, which owns it from then on.
    template <typename T, typename... Args>
    static T& CreateFor(TLabelTree* tree, TTreeNode* node, Args&&... args);

    TLabelTree* TreeView = nullptr;
    TTreeNode* TreeNode = nullptr;
    bool Processed = false;
    double RelativeSize = 1;
    double UnitWidth = 0;
    double Offset = 0;
    double Spacing = 0;
    TMarkingState MarkingState = TMarkingState::msUnprocessed;

    // Tells the label tree that what this glyph holds changed (its revision moves on). Every
    // change of the fields above goes with one.
    void touch();

protected:
    void setCaption(const QString& caption);
    bool isSelected() const;
    // Sets the pen to the colour of the glyph's state (selected and/or processed) when the
    // glyph sits in a tree; returns the pen to restore afterwards.
    QPen applyStatePen(QPainter& canvas) const;
    // The base advance: (UnitWidth + Spacing) * RelativeSize.
    double baseWidth() const { return (UnitWidth + Spacing) * RelativeSize; }
};

class TGlyphSpace : public TGlyph {
public:
    TGlyphSpace(TLabelTree* ATreeView, TTreeNode* ATreeNode, double AWidth);
    void Update(double AWidth);
    void DrawFrame(QPainter& Canvas, const TXYTransform& XYTF) override;
};

// A symbol list: one character glyph per character of its text, as child nodes.
class TGlyphWideString : public TGlyph {
public:
    TGlyphWideString(TLabelTree* ATreeView, TTreeNode* ATreeNode, const QString& AWideLabel,
                     const QString& AFontName, TFontStyles AFontStyle, double AHeight, double AOffset,
                     double ASpacing);
    void UpDate(const QString& AWideLabel, const QString& AFontName, TFontStyles AFontStyle, double AHeight,
                double AOffset, double ASpacing);
    void Paint(QPainter& Canvas, const TXYTransform& XYTF) override;
    double Width() const override { return 0; }
    QString MarkingProblem() const override;

    TGlyph* Parent = nullptr;
    QString WideLabel;
    QString FontName;
    TFontStyles FontStyle;
    double LabelWidth = 0;

protected:
    // For the text kind: the wide constructor without its first update.
    struct NoUpdate {};
    TGlyphWideString(TLabelTree* ATreeView, TTreeNode* ATreeNode, NoUpdate);
};

class TGlyphString : public TGlyphWideString {
public:
    TGlyphString(TLabelTree* ATreeView, TTreeNode* ATreeNode, const QString& ATextLabel, const QString& AFontName,
                 TFontStyles AFontStyle, double AHeight, double AOffset, double ASpacing);
    void UpDate(const QString& ATextLabel, const QString& AFontName, TFontStyles AFontStyle, double AHeight,
                double AOffset, double ASpacing);

    QString TextLabel;
};

// A formatted label: one text or symbol-list child per segment of its rich string.
class TGlyphRichString : public TGlyph {
public:
    TGlyphRichString(TLabelTree* ATreeView, TTreeNode* ATreeNode, RichEdit* ARichEdit, double AHeight,
                     double AOffset, double ASpacing);
    ~TGlyphRichString() override;
    void UpDate(RichEdit* ARichEdit, double AHeight, double AOffset, double ASpacing);
    void ClearContent(double AHeight, double AOffset, double ASpacing);
    void Paint(QPainter& Canvas, const TXYTransform& XYTF) override;
    double Width() const override { return 0; }
    void Increment() override;
    QString MarkingProblem() const override;

    std::unique_ptr<TRichString> RichString;
    double LabelWidth = 0;

private:
    void rebuild();
};

// The serial-number step of Increment: A07 -> A08, A09 -> A10, 99 -> 100, AB -> AB1.
QString IncrementSerial(const QString& text);

template <typename T, typename... Args>
T& TGlyph::CreateFor(TLabelTree* tree, TTreeNode* node, Args&&... args)
{
    auto glyph = std::make_unique<T>(tree, node, std::forward<Args>(args)...);
    T& ref = *glyph;
    node->setData(std::move(glyph));
    return ref;
}

} // namespace lapido
