// TStation: editing the label tree, the property panels, the numeric edit boxes and their
// millimetre displays, the spin steps and the text rules of the label editor.
#include "workflow/station.h"

#include "glyphs/customfonts.h"
#include "glyphs/glyph.h"
#include "glyphs/glyphcode.h"
#include "glyphs/glyphoutline.h"
#include "glyphs/glyphphoto.h"
#include "glyphs/richstring.h"
#include "platform/numfmt.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"
#include "workflow/stationtexts.h"

#include <QDir>
#include <QFileInfo>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cmath>
#include <numbers>


namespace lapido {

namespace {

QString percentText(double fraction)
{
    return QString::number(fraction * 100, 'f', 1);
}

// Boxes that take zero and negatives; every other box needs at least 0.001.
// A value no inscription can have (what a label file holding it is refused for).
bool beyondLabelLimits(TEditBox box, double v)
{
    using namespace labellimits;
    switch (box) {
    case TEditBox::EditSlant: return std::abs(v) > kMaxSlantDegrees;
    case TEditBox::EditGirdle: return v > kMaxGirdleMm;
    case TEditBox::EditDiam:
    case TEditBox::EditGrid:
    case TEditBox::Edit_PulseTrainRate: return false;
    default: return std::abs(v) / 100.0 > kMaxFraction; // a percentage of the girdle height
    }
}

bool acceptsZeroAndNegative(TEditBox box)
{
    switch (box) {
    case TEditBox::EditSlant:
    case TEditBox::EditGlyphLabelOffset:
    case TEditBox::EditGlyphLabelSpacing:
    case TEditBox::EditGlyphTextOffset:
    case TEditBox::EditGlyphTextSpacing:
    case TEditBox::EditGlyphSymbolsOffset:
    case TEditBox::EditGlyphSymbolsSpacing:
    case TEditBox::EditGlyphSpaceWidth:
    case TEditBox::EditGlyphLogoOffset:
    case TEditBox::EditGlyphPhotoOffset:
        return true;
    default:
        return false;
    }
}

// Removes every character of the document for which drop() holds, keeping the formatting of
// the others.
template <typename Pred>
void removeCharacters(QTextDocument& doc, Pred drop)
{
    const QString text = doc.toPlainText();
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        if (!drop(text.at(i)))
            continue;
        QTextCursor cursor(&doc);
        cursor.setPosition(int(i));
        cursor.setPosition(int(i) + 1, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
}

// Removes the two-character sequences backslash-n and backslash-r typed into a one-line label.
void removeEscapedLineEnds(QTextDocument& doc)
{
    for (;;) {
        const QString text = doc.toPlainText();
        qsizetype at = -1;
        for (qsizetype i = 0; i + 1 < text.size(); ++i)
            if (text.at(i) == QChar('\\') && (text.at(i + 1) == QChar('n') || text.at(i + 1) == QChar('r'))) {
                at = i;
                break;
            }
        if (at < 0)
            return;
        QTextCursor cursor(&doc);
        cursor.setPosition(int(at));
        cursor.setPosition(int(at) + 2, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
}

bool isTopLevel(const TTreeNode* node)
{
    return node && node->Parent() == nullptr;
}

} // namespace

double* TStation::fractionOf(TEditBox box)
{
    switch (box) {
    case TEditBox::EditGlyphLabelHeight: return &LabelHeight;
    case TEditBox::EditGlyphLabelOffset: return &LabelOffset;
    case TEditBox::EditGlyphLabelSpacing: return &LabelSpacing;
    case TEditBox::EditGlyphTextHeight: return &TextHeight;
    case TEditBox::EditGlyphTextOffset: return &TextOffset;
    case TEditBox::EditGlyphTextSpacing: return &TextSpacing;
    case TEditBox::EditGlyphSymbolsHeight: return &SymbolsHeight;
    case TEditBox::EditGlyphSymbolsOffset: return &SymbolsOffset;
    case TEditBox::EditGlyphSymbolsSpacing: return &SymbolsSpacing;
    case TEditBox::EditGlyphSpaceWidth: return &SpaceWidth;
    case TEditBox::EditGlyphLogoHeight: return &LogoHeight;
    case TEditBox::EditGlyphLogoOffset: return &LogoOffset;
    case TEditBox::EditGlyphPhotoHeight: return &PhotoHeight;
    case TEditBox::EditGlyphPhotoOffset: return &PhotoOffset;
    default: return nullptr;
    }
}

QString TStation::millimetreDisplay(TEditBox box) const
{
    const double g = GirdleHeight();
    switch (box) {
    case TEditBox::EditGlyphLabelHeight: return threeDecimals(LabelHeight * g);
    case TEditBox::EditGlyphLabelOffset: return threeDecimals(LabelOffset * LabelHeight * g);
    case TEditBox::EditGlyphTextHeight: return threeDecimals(TextHeight * g);
    case TEditBox::EditGlyphTextOffset: return threeDecimals(TextOffset * TextHeight * g);
    case TEditBox::EditGlyphSymbolsHeight: return threeDecimals(SymbolsHeight * g);
    case TEditBox::EditGlyphSymbolsOffset: return threeDecimals(SymbolsOffset * SymbolsHeight * g);
    case TEditBox::EditGlyphSpaceWidth: return threeDecimals(SpaceWidth * g);
    case TEditBox::EditGlyphLogoHeight: return threeDecimals(LogoHeight * g);
    case TEditBox::EditGlyphLogoOffset: return threeDecimals(LogoOffset * LogoHeight * g);
    case TEditBox::EditGlyphPhotoHeight: return threeDecimals(PhotoHeight * g);
    case TEditBox::EditGlyphPhotoOffset: return threeDecimals(PhotoOffset * PhotoHeight * g);
    default: return {};
    }
}

// --- numeric edit boxes --------------------------------------------------------------------------

void TStation::EditFloatChange(TEditBox box, const QString& text)
{
    if (box == TEditBox::Count)
        return;
    TEditText& edit = m_edits[static_cast<size_t>(box)];
    edit.text = text;
    bool ok = false;
    // A point is the decimal separator in these boxes whatever the locale.
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || (!acceptsZeroAndNegative(box) && v < 0.001) || beyondLabelLimits(box, v)) {
        edit.refused = true;
        return;
    }
    edit.refused = false;

    switch (box) {
    case TEditBox::EditDiam:
        Diameter = v;
        return;
    case TEditBox::EditGirdle:
        setGirdleHeight(v);
        // A taught point closer to the reference than two girdle heights no longer describes
        // the curve of a stone this high.
        if (CuvatureLeft_X != 0 && -CuvatureLeft_X < 2 * v) {
            CuvatureLeft_X = CuvatureLeft_Z = 0;
            SetFocusCurvature();
        }
        if (CuvatureRight_X != 0 && CuvatureRight_X < 2 * v) {
            CuvatureRight_X = CuvatureRight_Z = 0;
            SetFocusCurvature();
        }
        return;
    case TEditBox::EditSlant:
        setSlantAngle(v);
        m_xytfSlant.SetRotation(v * std::numbers::pi / 180.0);
        return;
    case TEditBox::Edit_PulseTrainRate: {
        const int maxRate = std::max(1, Settings().MaxReprate);
        // Held to the range before the conversion, then halves to even as every count.
        m_pulseTrainRate = static_cast<int>(RoundHalfEven(std::clamp(v, 1.0, static_cast<double>(maxRate))));
        return;
    }
    case TEditBox::EditGrid:
        GridPitch = v;
        return;
    default:
        break;
    }
    if (double* fraction = fractionOf(box)) {
        *fraction = v / 100.0;
        // What the panel shows is what the selected glyph is drawn and marked with: every
        // height, offset, spacing and width reaches it at once (the panel's own filling while
        // a glyph is selected is quiet, see TreeViewGlyphsChange).
        GlyphPropertiesChange();
    }
}

// --- spin steps -----------------------------------------------------------------------------------

namespace {
int effectiveVideoScale(bool zoomOut)
{
    const int s = Settings().VideoScale;
    return zoomOut ? s / 2 : s;
}
} // namespace

void TStation::stepGirdle(int direction)
{
    const int s = effectiveVideoScale(ZoomOut);
    const int a = Settings().VideoAspect;
    if (s <= 0 || a <= 0)
        return;
    const double step = 2.0 / (s * a / 100.0);
    EditFloatChange(TEditBox::EditGirdle, threeDecimals(GirdleHeight() + direction * step));
}

void TStation::SpinButtonSizeUpClick()
{
    stepGirdle(+1);
}

void TStation::SpinButtonSizeDownClick()
{
    stepGirdle(-1);
}

void TStation::SpinButtonSlantUpClick()
{
    EditFloatChange(TEditBox::EditSlant, threeDecimals(SlantAngle() + 0.075));
}

void TStation::SpinButtonSlantDownClick()
{
    EditFloatChange(TEditBox::EditSlant, threeDecimals(SlantAngle() - 0.075));
}

void TStation::stepGrid(int direction)
{
    const int s = effectiveVideoScale(ZoomOut);
    if (s <= 0)
        return;
    const double d = 10.0 / s;
    const double place = std::pow(10.0, std::trunc(std::log10(d)) - 1);
    const double pitch = std::round((GridPitch + direction * d) / place) * place;
    if (direction < 0 && pitch <= 0.001)
        return;
    EditFloatChange(TEditBox::EditGrid, threeDecimals(pitch));
}

void TStation::SpinButtonGridUpClick()
{
    stepGrid(+1);
}

void TStation::SpinButtonGridDownClick()
{
    stepGrid(-1);
}

// --- tree editing ---------------------------------------------------------------------------------

TTreeNode* TStation::addTopLevel(const QString& caption)
{
    TTreeNode* node = m_tree.Add(caption);
    return node;
}

void TStation::selectAdded(TTreeNode* node)
{
    m_tree.setSelected(node);
    TreeViewGlyphsChange(node);
}

void TStation::BitBtnAddRichEditClick()
{
    TTreeNode* node = addTopLevel(QStringLiteral("Label"));
    TGlyph::CreateFor<TGlyphRichString>(&m_tree, node, m_richEdit.get(), LabelHeight, LabelOffset, LabelSpacing);
    selectAdded(node);
}

void TStation::BitBtnAddTextClick()
{
    TTreeNode* node = addTopLevel(QStringLiteral("Text"));
    TGlyph::CreateFor<TGlyphString>(&m_tree, node, TextLabel, TextLabelFont, TextLabelStyle, TextHeight, TextOffset,
                                    TextSpacing);
    selectAdded(node);
}

void TStation::BitBtnAddSymbolClick()
{
    TTreeNode* node = addTopLevel(QStringLiteral("Symbol List"));
    TGlyph::CreateFor<TGlyphWideString>(&m_tree, node, DefaultSymbolList, SymbolListFont, SymbolListStyle,
                                        SymbolsHeight, SymbolsOffset, SymbolsSpacing);
    selectAdded(node);
}

void TStation::BitBtnAddSpaceClick()
{
    TTreeNode* node = addTopLevel(QStringLiteral("Space"));
    TGlyph::CreateFor<TGlyphSpace>(&m_tree, node, SpaceWidth);
    selectAdded(node);
}

QString TStation::logoFilePath(const QString& name) const
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return {};
    return logoFolder() + trimmed + QStringLiteral(".lal");
}

void TStation::makeLogoGlyph(TTreeNode* node, const QString& fileName, double height, double offset)
{
    TGlyph::CreateFor<TGlyphLogo>(&m_tree, node, fileName, height, offset);
}

QImage TStation::defaultPhotoPicture()
{
    // A soft grey ramp: it dithers into a visible field of dots, so a new photo shows where it
    // will go before a picture is loaded.
    QImage picture(96, 64, QImage::Format_Grayscale8);
    for (int y = 0; y < picture.height(); ++y) {
        uchar* line = picture.scanLine(y);
        for (int x = 0; x < picture.width(); ++x)
            line[x] = uchar(64 + (x * 128) / picture.width());
    }
    return picture;
}

TGlyphPhoto& TStation::makePhotoGlyph(TTreeNode* node, double height, double offset)
{
    return TGlyph::CreateFor<TGlyphPhoto>(&m_tree, node, defaultPhotoPicture(), height, offset);
}

bool TStation::LoadPhotoFile(const QString& FileName)
{
    // The folder the operator chose a picture in is where the photo dialog opens next, also
    // after a restart.
    if (!FileName.isEmpty())
        m_photoDir = QFileInfo(FileName).absolutePath();
    TTreeNode* node = m_tree.Selected();
    auto* photo = node ? dynamic_cast<TGlyphPhoto*>(node->Data()) : nullptr;
    if (!photo || !photo->LoadFromFile(FileName))
        return false;
    PhotoFileName = FileName;
    GlyphPropertiesChange();
    return true;
}

QString TStation::logoFolder()
{
    const QDir work(WorkingDir());
    for (const QString& folder : work.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (folder.compare(QStringLiteral("Logos"), Qt::CaseInsensitive) == 0)
            return WorkingDir() + folder + QChar('/');
    return WorkingDir() + QStringLiteral("Logos/");
}

QStringList TStation::LoadLogoList() const
{
    QStringList names;
    for (const QString& file : QDir(logoFolder()).entryList(QDir::Files))
        if (file.endsWith(QStringLiteral(".lal"), Qt::CaseInsensitive))
            names << QFileInfo(file).completeBaseName();
    names.sort(Qt::CaseInsensitive);
    return names;
}

bool TStation::SaveAsLogo(const QString& FileName)
{
    TTreeNode* node = m_tree.Selected();
    auto* ch = node ? dynamic_cast<TGlyphChar*>(node->Data()) : nullptr;
    return ch && ch->SaveToFile(FileName);
}

void TStation::BitBtnAddLogoClick()
{
    TTreeNode* node = addTopLevel(QStringLiteral("Logo"));
    makeLogoGlyph(node, logoFilePath(DefaultLogoName), LogoHeight, LogoOffset);
    selectAdded(node);
}

void TStation::BitBtnAddPhotoClick()
{
    TTreeNode* node = addTopLevel(QStringLiteral("Photo"));
    makePhotoGlyph(node, PhotoHeight, PhotoOffset);
    selectAdded(node);
}

void TStation::BitBtnAddCodeClick()
{
    TTreeNode* node = addTopLevel(QStringLiteral("Code"));
    TGlyphCode& code = TGlyph::CreateFor<TGlyphCode>(&m_tree, node, CodeContent, CodeSymbology, CodeModuleUm,
                                                     CodeQuietModules, CodeModuleMarking, CodeOffset);
    code.FromScannedCode = CodeFromScannedCode;
    selectAdded(node);
}

QString TStation::CodePanelInfo() const
{
    const TTreeNode* node = m_tree.Selected();
    const auto* code = node ? dynamic_cast<const TGlyphCode*>(node->Data()) : nullptr;
    if (!code)
        return {};
    if (const QString problem = code->MarkingProblem(); !problem.isEmpty())
        return QStringLiteral("Not markable: ") + problem;
    return QStringLiteral("%1 x %2 modules, %3 x %4 mm with the quiet zone")
        .arg(code->Matrix->cols)
        .arg(code->Matrix->rows)
        .arg(threeDecimals(code->widthMm()), threeDecimals(code->heightMm()));
}

void TStation::BitBtnDelTaskClick()
{
    TTreeNode* node = m_tree.Selected();
    // Only whole elements go: a run or a character belongs to its label's text.
    if (!isTopLevel(node) || AIMState == TAIMState::aimsMarking)
        return;
    MarkingAborted() = false;
    if (m_glyphAutoInc && m_glyphAutoInc == node->Data())
        m_glyphAutoInc = nullptr;
    if (m_markingTreeNode == node)
        m_markingTreeNode = nullptr;
    m_tree.Delete(node);
    m_tree.setSelected(nullptr);
    updateTaskButtons(nullptr);
    if (m_tree.IsEmpty())
        m_controls.panel = TPropertyPanel::None;
}

void TStation::BitBtnTaskUpClick()
{
    TTreeNode* node = m_tree.Selected();
    if (!isTopLevel(node) || node->Index() == 0 || AIMState == TAIMState::aimsMarking)
        return;
    m_tree.MoveRoot(node->Index(), node->Index() - 1);
    updateTaskButtons(node);
}

void TStation::BitBtnTaskDownClick()
{
    TTreeNode* node = m_tree.Selected();
    if (!isTopLevel(node) || node->Index() + 1 >= m_tree.RootCount() || AIMState == TAIMState::aimsMarking)
        return;
    m_tree.MoveRoot(node->Index() + 1, node->Index());
    updateTaskButtons(node);
}

void TStation::updateTaskButtons(TTreeNode* Node)
{
    const bool editable = isTopLevel(Node) && AIMState != TAIMState::aimsMarking;
    m_controls.taskUp = editable && Node->Index() > 0;
    m_controls.taskDown = editable && Node->Index() + 1 < m_tree.RootCount();
    m_controls.delTask = editable;
}

// --- selection and property panels ----------------------------------------------------------------

TPropertyPanel TStation::panelOf(const TGlyph* glyph)
{
    if (!glyph)
        return TPropertyPanel::None;
    if (dynamic_cast<const TGlyphRichString*>(glyph))
        return TPropertyPanel::Label;
    if (dynamic_cast<const TGlyphString*>(glyph))
        return TPropertyPanel::Text;
    if (dynamic_cast<const TGlyphWideString*>(glyph))
        return TPropertyPanel::Symbols;
    if (dynamic_cast<const TGlyphChar*>(glyph))
        return TPropertyPanel::Char;
    if (dynamic_cast<const TGlyphSpace*>(glyph))
        return TPropertyPanel::Space;
    if (dynamic_cast<const TGlyphLogo*>(glyph))
        return TPropertyPanel::Logo;
    if (dynamic_cast<const TGlyphPhoto*>(glyph))
        return TPropertyPanel::Photo;
    if (dynamic_cast<const TGlyphCode*>(glyph))
        return TPropertyPanel::Code;
    return TPropertyPanel::None;
}

void TStation::TreeViewGlyphsChange(TTreeNode* Node)
{
    updateTaskButtons(Node);
    TGlyph* glyph = Node ? Node->Data() : nullptr;
    m_controls.panel = panelOf(glyph);
    m_controls.runControlsReadOnly = false;
    // The marking walk selects the node it marks; the buttons it disabled stay disabled.
    const bool marking = AIMState == TAIMState::aimsMarking;
    m_controls.bitBtnEditSymbolList = !marking;
    if (!glyph)
        return;

    const bool wasDisabled = m_disableGlyphPropertiesChangeEvent;
    m_disableGlyphPropertiesChangeEvent = true;
    const auto show = [this](TEditBox box, double fraction) { EditFloatChange(box, percentText(fraction)); };
    switch (m_controls.panel) {
    case TPropertyPanel::Label: {
        auto* label = static_cast<TGlyphRichString*>(glyph);
        label->RichString->SetToRichEdit(*m_richEdit);
        show(TEditBox::EditGlyphLabelHeight, label->RelativeSize);
        show(TEditBox::EditGlyphLabelOffset, label->Offset);
        show(TEditBox::EditGlyphLabelSpacing, label->Spacing);
        m_controls.autoIncChecked = m_glyphAutoInc == glyph;
        if (auto handler = m_richEdit->selectionChangeHandler())
            handler();
        break;
    }
    case TPropertyPanel::Text: {
        auto* text = static_cast<TGlyphString*>(glyph);
        TextLabelFont = text->FontName;
        TextLabelStyle = text->FontStyle;
        TextLabel = text->TextLabel;
        show(TEditBox::EditGlyphTextHeight, text->RelativeSize);
        show(TEditBox::EditGlyphTextOffset, text->Offset);
        show(TEditBox::EditGlyphTextSpacing, text->Spacing);
        m_controls.runControlsReadOnly = text->Parent != nullptr;
        break;
    }
    case TPropertyPanel::Symbols: {
        auto* symbols = static_cast<TGlyphWideString*>(glyph);
        SymbolListFont = symbols->FontName;
        SymbolListStyle = symbols->FontStyle;
        DefaultSymbolList = symbols->WideLabel;
        show(TEditBox::EditGlyphSymbolsHeight, symbols->RelativeSize);
        show(TEditBox::EditGlyphSymbolsOffset, symbols->Offset);
        show(TEditBox::EditGlyphSymbolsSpacing, symbols->Spacing);
        m_controls.runControlsReadOnly = symbols->Parent != nullptr;
        m_controls.bitBtnEditSymbolList = !marking && symbols->Parent == nullptr;
        break;
    }
    case TPropertyPanel::Char:
        m_markingStatusIndex = glyph->Processed ? 1 : 0;
        break;
    case TPropertyPanel::Space:
        show(TEditBox::EditGlyphSpaceWidth, glyph->RelativeSize);
        break;
    case TPropertyPanel::Logo: {
        auto* logo = static_cast<TGlyphLogo*>(glyph);
        DefaultLogoName = QFileInfo(logo->FileName).completeBaseName();
        show(TEditBox::EditGlyphLogoHeight, logo->RelativeSize);
        show(TEditBox::EditGlyphLogoOffset, logo->Offset);
        m_markingStatusIndex = glyph->Processed ? 1 : 0;
        break;
    }
    case TPropertyPanel::Photo: {
        auto* photo = static_cast<TGlyphPhoto*>(glyph);
        show(TEditBox::EditGlyphPhotoHeight, photo->RelativeSize);
        show(TEditBox::EditGlyphPhotoOffset, photo->Offset);
        // The gamma track bar works in tenths.
        PhotoGamma = std::round(photo->Gamma * 10) / 10.0;
        PhotoFileName = photo->Filename;
        m_markingStatusIndex = glyph->Processed ? 1 : 0;
        break;
    }
    case TPropertyPanel::Code: {
        auto* code = static_cast<TGlyphCode*>(glyph);
        CodeContent = code->Content;
        CodeSymbology = code->Symbology;
        CodeModuleUm = code->ModuleUm;
        CodeQuietModules = code->QuietModules;
        CodeModuleMarking = code->ModuleMarking;
        CodeOffset = code->Offset;
        CodeFromScannedCode = code->FromScannedCode;
        m_controls.autoIncChecked = m_glyphAutoInc == glyph;
        m_markingStatusIndex = glyph->Processed ? 1 : 0;
        break;
    }
    case TPropertyPanel::None:
        break;
    }
    m_disableGlyphPropertiesChangeEvent = wasDisabled;
}

void TStation::applyTextRules()
{
    QTextDocument& doc = m_richEdit->document();
    if (Settings().FormatLabelText) {
        const QString text = doc.toPlainText();
        const qsizetype lineEnd = text.indexOf(QChar('\n'));
        if (lineEnd >= 0) {
            QTextCursor cursor(&doc);
            cursor.setPosition(int(lineEnd));
            cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
    }
    if (isCustomFont(DefaultRichEditFont))
        removeCharacters(doc, [](QChar c) { return c < QChar('0') || c > QChar('9'); });
}

void TStation::GlyphPropertiesChange()
{
    applyTextRules();
    TTreeNode* node = m_tree.Selected();
    TGlyph* glyph = node ? node->Data() : nullptr;
    if (m_disableGlyphPropertiesChangeEvent || !glyph)
        return;
    switch (panelOf(glyph)) {
    case TPropertyPanel::Label:
        removeEscapedLineEnds(m_richEdit->document());
        static_cast<TGlyphRichString*>(glyph)->UpDate(m_richEdit.get(), LabelHeight, LabelOffset, LabelSpacing);
        break;
    case TPropertyPanel::Text: {
        auto* text = static_cast<TGlyphString*>(glyph);
        // A run of a label follows its label's formatted text; it is not edited on its own.
        if (text->Parent)
            break;
        text->UpDate(TextLabel, TextLabelFont, TextLabelStyle, TextHeight, TextOffset, TextSpacing);
        break;
    }
    case TPropertyPanel::Symbols: {
        auto* symbols = static_cast<TGlyphWideString*>(glyph);
        if (symbols->Parent)
            break;
        symbols->UpDate(DefaultSymbolList, SymbolListFont, SymbolListStyle, SymbolsHeight, SymbolsOffset,
                        SymbolsSpacing);
        break;
    }
    case TPropertyPanel::Char:
        glyph->Processed = m_markingStatusIndex == 1;
        glyph->touch();
        break;
    case TPropertyPanel::Space:
        static_cast<TGlyphSpace*>(glyph)->Update(SpaceWidth);
        break;
    case TPropertyPanel::Logo:
        static_cast<TGlyphLogo*>(glyph)->UpDate(logoFilePath(DefaultLogoName), LogoHeight, LogoOffset);
        m_markingStatusIndex = glyph->Processed ? 1 : 0;
        break;
    case TPropertyPanel::Photo:
        static_cast<TGlyphPhoto*>(glyph)->UpDate(PhotoGamma, PhotoHeight, PhotoOffset);
        m_markingStatusIndex = glyph->Processed ? 1 : 0;
        break;
    case TPropertyPanel::Code: {
        auto* code = static_cast<TGlyphCode*>(glyph);
        code->UpDate(CodeContent, CodeSymbology, CodeModuleUm, CodeQuietModules, CodeModuleMarking, CodeOffset);
        code->FromScannedCode = CodeFromScannedCode;
        m_markingStatusIndex = glyph->Processed ? 1 : 0;
        break;
    }
    case TPropertyPanel::None:
        break;
    }
}

void TStation::MarkingStatusChange(int index)
{
    m_markingStatusIndex = index;
    if (m_disableGlyphPropertiesChangeEvent)
        return;
    TTreeNode* node = m_tree.Selected();
    TGlyph* glyph = node ? node->Data() : nullptr;
    const TPropertyPanel panel = panelOf(glyph);
    if (panel == TPropertyPanel::Char || panel == TPropertyPanel::Logo || panel == TPropertyPanel::Photo
        || panel == TPropertyPanel::Code) {
        glyph->Processed = index == 1;
        glyph->touch();
    }
}

// --- the label editor's font and style -----------------------------------------------------------

namespace {

QString familyAt(const QTextCharFormat& format, const QTextDocument& doc)
{
    const QStringList families = format.fontFamilies().toStringList();
    return families.isEmpty() ? doc.defaultFont().family() : families.first();
}

int styleCodeAt(const QTextCharFormat& format)
{
    return (format.fontItalic() ? 1 : 0) | (format.fontWeight() >= QFont::Bold ? 2 : 0);
}

} // namespace

void TStation::RichEditGlyphLabelSelectionChange()
{
    QTextDocument& doc = m_richEdit->document();
    const QTextCursor selection = m_richEdit->textCursor();
    if (!selection.hasSelection()) {
        RichSelectionFont = familyAt(selection.charFormat(), doc);
        RichSelectionStyle = styleCodeAt(selection.charFormat());
        return;
    }
    std::optional<QString> font;
    std::optional<int> style;
    bool mixedFont = false;
    bool mixedStyle = false;
    QTextCursor probe(&doc);
    for (int pos = selection.selectionStart(); pos < selection.selectionEnd(); ++pos) {
        // A cursor reports the format of the character before it.
        probe.setPosition(pos + 1);
        const QTextCharFormat format = probe.charFormat();
        const QString f = familyAt(format, doc);
        const int c = styleCodeAt(format);
        mixedFont = mixedFont || (font && *font != f);
        mixedStyle = mixedStyle || (style && *style != c);
        font = f;
        style = c;
    }
    RichSelectionFont = mixedFont || !font ? QString() : *font;
    RichSelectionStyle = mixedStyle || !style ? -1 : *style;
}

void TStation::GlyphRichFontChange(const QString& font)
{
    QTextCursor cursor = m_richEdit->textCursor();
    QTextCharFormat format;
    format.setFontFamilies(QStringList{font});
    cursor.mergeCharFormat(format);
    m_richEdit->setTextCursor(cursor);
    DefaultRichEditFont = font;
    RichEditGlyphLabelSelectionChange();
    GlyphPropertiesChange();
}

void TStation::GlyphRichStyleChange(int styleCode)
{
    QTextCursor cursor = m_richEdit->textCursor();
    QTextCharFormat format;
    format.setFontItalic((styleCode & 1) != 0);
    format.setFontWeight((styleCode & 2) != 0 ? QFont::Bold : QFont::Normal);
    cursor.mergeCharFormat(format);
    m_richEdit->setTextCursor(cursor);
    DefaultRichEditStyle = {};
    if (styleCode & 1)
        DefaultRichEditStyle |= fsItalic;
    if (styleCode & 2)
        DefaultRichEditStyle |= fsBold;
    RichEditGlyphLabelSelectionChange();
    GlyphPropertiesChange();
}

} // namespace lapido
