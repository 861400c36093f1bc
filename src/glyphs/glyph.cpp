// The glyph base, spaces, texts, symbol lists and formatted labels.
#include "glyphs/glyph.h"

#include "glyphs/customfonts.h"
#include "glyphs/fontoutlines.h"
#include "glyphs/glyphoutline.h"
#include "glyphs/legibility.h"
#include "glyphs/richstring.h"
#include "platform/numfmt.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"

#include <QPainter>
#include <QPolygon>
#include <QSet>

#include <cmath>

namespace lapido {

namespace {
TCoord g_paintPosition;
TCoord g_markPosition;

QString oneDecimal(double value)
{
    QString s = QString::number(value, 'f', 1);
    s.replace(QChar('.'), decimalSeparator());
    return s;
}

// The four corners of a frame, transformed and drawn as a closed line.
void drawFrame(QPainter& canvas, const TXYTransform& xytf, const TCoord (&corners)[4])
{
    QPoint pts[5];
    for (int i = 0; i < 4; ++i) {
        pts[i] = CoordToPoint(xytf.TransFormCoord(corners[i]));
    }
    pts[4] = pts[0];
    canvas.drawPolyline(pts, 5);
}
} // namespace

TCoord& PaintPosition() { return g_paintPosition; }
TCoord& MarkPosition() { return g_markPosition; }
void SetPaintPosition(double X, double Y) { g_paintPosition = Coord(X, Y); }
void SetMarkPosition(double X, double Y) { g_markPosition = Coord(X, Y); }

QColor colorFromRef(std::uint32_t bgr)
{
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

// --- TGlyph -------------------------------------------------------------------------------

TGlyph::TGlyph(TLabelTree* ATreeView, TTreeNode* ATreeNode) : TreeView(ATreeView), TreeNode(ATreeNode) {}

TGlyph::~TGlyph() = default;

void TGlyph::setCaption(const QString& caption)
{
    if (TreeNode)
        TreeNode->setText(caption);
}

bool TGlyph::isSelected() const
{
    return TreeNode && TreeView && TreeView->Selected() == TreeNode;
}

QPen TGlyph::applyStatePen(QPainter& canvas) const
{
    const QPen remembered = canvas.pen();
    if (TreeNode) {
        const TSettings& s = Settings();
        const std::uint32_t color = isSelected() ? (Processed ? s.SelectedProcessed : s.Selected)
                                                 : (Processed ? s.Processed : s.Outline);
        QPen pen = remembered;
        pen.setColor(colorFromRef(color));
        canvas.setPen(pen);
    }
    return remembered;
}

void TGlyph::DrawFrame(QPainter& Canvas, const TXYTransform& XYTF)
{
    if (!isSelected())
        return;
    const TCoord P = PaintPosition();
    const double RS = RelativeSize;
    Canvas.setPen(colorFromRef(Settings().Selected));
    const TCoord corners[4] = {Coord(P.X, (Offset + 0.5) * RS + P.Y), Coord(P.X + RS * UnitWidth, (Offset + 0.5) * RS + P.Y),
                               Coord(P.X + RS * UnitWidth, (Offset - 0.5) * RS + P.Y), Coord(P.X, (Offset - 0.5) * RS + P.Y)};
    drawFrame(Canvas, XYTF, corners);
}

void TGlyph::Paint(QPainter& Canvas, const TXYTransform& XYTF)
{
    DrawFrame(Canvas, XYTF);
    PaintPosition().X += baseWidth();
}

void TGlyph::Mark(const TXYTransform&)
{
    Processed = true;
    touch();
    MarkPosition().X += Width();
}

void TGlyph::ResetMarking()
{
    Processed = false;
    touch();
}

void TGlyph::touch()
{
    if (TreeView)
        TreeView->Touch();
}

void TGlyph::ExtendMarkingRect(const TXYTransform&, TCoord&, TCoord&)
{
    MarkPosition().X += Width();
}

QString heightProblem(double height)
{
    if (std::isfinite(height) && height > 0)
        return {};
    return QStringLiteral("its height is %1; only a height above 0 can be marked").arg(height);
}

QString resolutionProblem(double relativeHeight)
{
    const double limitUm = LegibilityLimits::fromSettings(Settings()).limitUm();
    const double heightUm = relativeHeight * GirdleHeight() * 1000.0;
    if (!(limitUm > 0) || !std::isfinite(heightUm) || heightUm >= limitUm)
        return {};
    return QStringLiteral("it would be %1 um high on the stone, below the %2 um the laser can resolve")
        .arg(heightUm, 0, 'g', 3)
        .arg(limitUm, 0, 'g', 3);
}

QString TGlyph::MarkingProblem() const
{
    return {};
}

double TGlyph::Width() const
{
    return baseWidth();
}

// --- TGlyphSpace --------------------------------------------------------------------------

TGlyphSpace::TGlyphSpace(TLabelTree* ATreeView, TTreeNode* ATreeNode, double AWidth) : TGlyph(ATreeView, ATreeNode)
{
    UnitWidth = 1;
    Update(AWidth);
}

void TGlyphSpace::Update(double AWidth)
{
    RelativeSize = AWidth;
    touch();
    setCaption(QStringLiteral("Space ") + oneDecimal(AWidth * 100) + QStringLiteral("%"));
}

void TGlyphSpace::DrawFrame(QPainter& Canvas, const TXYTransform& XYTF)
{
    if (!isSelected())
        return;
    const TCoord P = PaintPosition();
    const double RS = RelativeSize;
    Canvas.setPen(colorFromRef(Settings().Selected));
    const TCoord corners[4] = {Coord(P.X, P.Y + 0.5), Coord(P.X + RS * UnitWidth, P.Y + 0.5),
                               Coord(P.X + RS * UnitWidth, P.Y - 0.5), Coord(P.X, P.Y - 0.5)};
    drawFrame(Canvas, XYTF, corners);
}

// --- TGlyphWideString ---------------------------------------------------------------------

TGlyphWideString::TGlyphWideString(TLabelTree* ATreeView, TTreeNode* ATreeNode, NoUpdate)
    : TGlyph(ATreeView, ATreeNode)
{
    // A font name no font has, so that the first update always builds the characters.
    FontName = QString(QChar(1));
    setCaption(QStringLiteral("Symbol list"));
}

TGlyphWideString::TGlyphWideString(TLabelTree* ATreeView, TTreeNode* ATreeNode, const QString& AWideLabel,
                                   const QString& AFontName, TFontStyles AFontStyle, double AHeight,
                                   double AOffset, double ASpacing)
    : TGlyphWideString(ATreeView, ATreeNode, NoUpdate{})
{
    UpDate(AWideLabel, AFontName, AFontStyle, AHeight, AOffset, ASpacing);
}

namespace {
QString charCaption(QChar c)
{
    if (c.unicode() == 32)
        return QStringLiteral("space");
    if (c.unicode() >= 256)
        return QStringLiteral("char ") + QStringLiteral("%1").arg(c.unicode(), 4, 16, QChar('0')).toUpper();
    return QStringLiteral("char \"") + c + QStringLiteral("\"");
}
} // namespace

void TGlyphWideString::UpDate(const QString& AWideLabel, const QString& AFontName, TFontStyles AFontStyle,
                              double AHeight, double AOffset, double ASpacing)
{
    RelativeSize = AHeight;
    Offset = AOffset;
    Spacing = ASpacing;
    touch();
    if (AWideLabel != WideLabel || AFontName != FontName || AFontStyle != FontStyle) {
        WideLabel = AWideLabel;
        FontName = AFontName;
        FontStyle = AFontStyle;
        const bool expanded = TreeNode && TreeNode->Expanded();
        if (TreeNode)
            TreeNode->DeleteChildren(); // the nodes own their character glyphs
        LabelWidth = 0;
        if (TreeNode) {
            const CharOutlineSource font(FontName, FontStyle);
            for (QChar c : WideLabel) {
                TTreeNode* child = TreeNode->AddChild(charCaption(c));
                TGlyphChar& ch = TGlyph::CreateFor<TGlyphChar>(TreeView, child, this, c.unicode(), font);
                LabelWidth += ch.UnitWidth + Spacing;
            }
            if (expanded)
                TreeNode->setExpanded(true);
        }
    }
    if (TreeNode)
        for (int i = 0; i < TreeNode->Count(); ++i)
            if (TGlyph* g = TreeNode->Item(i)->Data()) {
                g->RelativeSize = RelativeSize;
                g->Offset = Offset;
                g->Spacing = Spacing;
            }
}

QString TGlyphWideString::MarkingProblem() const
{
    if (WideLabel.isEmpty())
        return {};
    if (!FontIsKnown(FontName))
        return QStringLiteral("the font \"%1\" is not installed").arg(FontName);
    if (QString problem = heightProblem(RelativeSize); !problem.isEmpty())
        return problem;
    if (QString problem = resolutionProblem(RelativeSize); !problem.isEmpty())
        return problem;
    // A character that is no space but has nothing to draw would be left out of the inscription
    // without a word: a digit of a custom font whose drawing is missing or unreadable, a letter
    // of a digits-only font, a character the font lacks.
    QString missing;
    QSet<char16_t> seen;
    if (TreeNode)
        for (int i = 0; i < TreeNode->Count(); ++i) {
            const auto* ch = dynamic_cast<const TGlyphChar*>(TreeNode->Item(i)->Data());
            if (!ch || (ch->ContourList && !ch->ContourList->isEmpty()))
                continue;
            const QChar c(ch->UniCode);
            if (c.isSpace() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
                continue;
            if (seen.contains(ch->UniCode))
                continue;
            seen.insert(ch->UniCode);
            if (!missing.isEmpty())
                missing += QStringLiteral(", ");
            missing += QStringLiteral("'") + c + QStringLiteral("'");
        }
    if (missing.isEmpty())
        return {};
    if (isCustomFont(FontName))
        return QStringLiteral("the custom font \"%1\" has no usable drawing for %2 (missing, unreadable or empty)")
            .arg(FontName, missing);
    return QStringLiteral("the font \"%1\" has no outline for %2").arg(FontName, missing);
}

void TGlyphWideString::Paint(QPainter& Canvas, const TXYTransform& XYTF)
{
    UnitWidth = LabelWidth;
    DrawFrame(Canvas, XYTF);
    UnitWidth = 0;
}

// --- TGlyphString -------------------------------------------------------------------------

TGlyphString::TGlyphString(TLabelTree* ATreeView, TTreeNode* ATreeNode, const QString& ATextLabel,
                           const QString& AFontName, TFontStyles AFontStyle, double AHeight, double AOffset,
                           double ASpacing)
    : TGlyphWideString(ATreeView, ATreeNode, ATextLabel, AFontName, AFontStyle, AHeight, AOffset, ASpacing)
{
    TextLabel = ATextLabel;
    setCaption(QStringLiteral("Text \"") + TextLabel + QStringLiteral("\""));
}

void TGlyphString::UpDate(const QString& ATextLabel, const QString& AFontName, TFontStyles AFontStyle,
                          double AHeight, double AOffset, double ASpacing)
{
    TGlyphWideString::UpDate(ATextLabel, AFontName, AFontStyle, AHeight, AOffset, ASpacing);
    TextLabel = ATextLabel;
    setCaption(QStringLiteral("Text \"") + TextLabel + QStringLiteral("\""));
}

// --- TGlyphRichString ---------------------------------------------------------------------

TGlyphRichString::TGlyphRichString(TLabelTree* ATreeView, TTreeNode* ATreeNode, RichEdit* ARichEdit,
                                   double AHeight, double AOffset, double ASpacing)
    : TGlyph(ATreeView, ATreeNode), RichString(std::make_unique<TRichString>())
{
    UpDate(ARichEdit, AHeight, AOffset, ASpacing);
}

TGlyphRichString::~TGlyphRichString() = default;

void TGlyphRichString::UpDate(RichEdit* ARichEdit, double AHeight, double AOffset, double ASpacing)
{
    RelativeSize = AHeight;
    Offset = AOffset;
    Spacing = ASpacing;
    touch();
    if (ARichEdit)
        RichString->GetFromRichEdit(*ARichEdit);
    rebuild();
}

void TGlyphRichString::ClearContent(double AHeight, double AOffset, double ASpacing)
{
    RelativeSize = AHeight;
    Offset = AOffset;
    Spacing = ASpacing;
    touch();
    RichString->Clear();
    rebuild();
}

void TGlyphRichString::rebuild()
{
    const bool expanded = TreeNode && TreeNode->Expanded();
    if (TreeNode)
        TreeNode->DeleteChildren();
    LabelWidth = 0;
    QString caption;
    for (int i = 0; i < RichString->Count(); ++i) {
        const TRichSegment seg = RichString->GetRichSegment(i);
        if (seg.Text.isEmpty())
            continue;
        bool wide = false;
        for (QChar c : seg.Text) {
            if (c.unicode() > 255) {
                caption += QChar('.');
                wide = true;
            } else {
                caption += c;
            }
        }
        if (!TreeNode)
            continue;
        TGlyphWideString* child = nullptr;
        if (!wide) {
            TTreeNode* n = TreeNode->AddChild(QStringLiteral("Text"));
            child = &TGlyph::CreateFor<TGlyphString>(TreeView, n, seg.Text, seg.Font, seg.Style, RelativeSize, Offset,
                                                     Spacing);
        } else {
            TTreeNode* n = TreeNode->AddChild(QStringLiteral("Symbol List"));
            child = &TGlyph::CreateFor<TGlyphWideString>(TreeView, n, seg.Text, seg.Font, seg.Style, RelativeSize,
                                                         Offset, Spacing);
        }
        child->Parent = this;
        LabelWidth += child->LabelWidth;
    }
    setCaption(QStringLiteral("Label \"") + caption + QStringLiteral("\""));
    if (expanded && TreeNode)
        TreeNode->setExpanded(true);
}

QString TGlyphRichString::MarkingProblem() const
{
    // Its runs carry their own fonts and are checked as glyphs of their own.
    return RichString->Count() == 0 ? QString() : heightProblem(RelativeSize);
}

void TGlyphRichString::Paint(QPainter& Canvas, const TXYTransform& XYTF)
{
    UnitWidth = LabelWidth;
    DrawFrame(Canvas, XYTF);
    UnitWidth = 0;
}

QString IncrementSerial(const QString& text)
{
    QString s = text;
    qsizetype i = s.size() - 1;
    while (i >= 0) {
        const QChar c = s.at(i);
        if (c >= QChar('0') && c <= QChar('8')) {
            s[i] = QChar(c.unicode() + 1);
            break;
        }
        if (!(c >= QChar('0') && c <= QChar('9'))) {
            s.insert(i + 1, QChar('1'));
            break;
        }
        s[i] = QChar('0');
        if (i == 0) {
            s.insert(0, QChar('0')); // continue at the inserted character, which becomes 1
            continue;
        }
        --i;
    }
    return s;
}

void TGlyphRichString::Increment()
{
    if (RichString->Count() == 0)
        return;
    const int last = RichString->Count() - 1;
    RichString->SetText(last, IncrementSerial(RichString->GetText(last)));
    UpDate(nullptr, RelativeSize, Offset, Spacing);
}

} // namespace lapido
