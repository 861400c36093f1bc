// Label editing: edit-box rules, millimetre displays, spin steps, tree editing, property panels
// and the text rules of the label editor.
#include "labelfixture.h"

#include "glyphs/customfonts.h"
#include "glyphs/glyphoutline.h"
#include "geometry/contours.h"

#include <QDir>
#include <QFile>
#include <QTextCursor>

#include <cmath>

namespace lapido::test {
namespace {

class LabelEditTest : public LabelFixture {};

struct EditCase {
    const char* name;
    TEditBox box;
    const char* text;
    bool refused;
    double TStation::*field; // nullptr: checked by the case's own expectation
    double expected;         // the field after the change
};

class EditFloatChangeTest : public LabelFixture, public ::testing::WithParamInterface<EditCase> {};

TEST_P(EditFloatChangeTest, AppliesOrTurnsRed)
{
    const EditCase& c = GetParam();
    st().TextHeight = 0.8;
    st().TextOffset = 0.3;
    st().Diameter = 5;
    st().EditFloatChange(c.box, QString::fromLatin1(c.text));
    EXPECT_EQ(st().edit(c.box).refused, c.refused);
    EXPECT_EQ(st().edit(c.box).text, QString::fromLatin1(c.text)) << "the box keeps what was typed";
    if (c.field) {
        EXPECT_DOUBLE_EQ(st().*(c.field), c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, EditFloatChangeTest,
    ::testing::Values(EditCase{"ZeroHeightRefused", TEditBox::EditGlyphTextHeight, "0", true, &TStation::TextHeight, 0.8},
                      EditCase{"ZeroOffsetAccepted", TEditBox::EditGlyphTextOffset, "0", false, &TStation::TextOffset, 0},
                      EditCase{"NegativeOffsetAccepted", TEditBox::EditGlyphTextOffset, "-12.5", false,
                               &TStation::TextOffset, -0.125},
                      EditCase{"HeightPercent", TEditBox::EditGlyphTextHeight, " 65 ", false, &TStation::TextHeight, 0.65},
                      EditCase{"TinyHeightRefused", TEditBox::EditGlyphTextHeight, "0.0009", true,
                               &TStation::TextHeight, 0.8},
                      EditCase{"CommaIsNotADecimalPoint", TEditBox::EditDiam, "4,5", true, &TStation::Diameter, 5},
                      EditCase{"Letters", TEditBox::EditDiam, "abc", true, &TStation::Diameter, 5},
                      EditCase{"Diameter", TEditBox::EditDiam, "6.25", false, &TStation::Diameter, 6.25},
                      EditCase{"NegativeSlant", TEditBox::EditSlant, "-3", false, nullptr, 0},
                      EditCase{"NegativeGirdleRefused", TEditBox::EditGirdle, "-0.2", true, nullptr, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LabelEditTest, GirdleAndSlantGoToTheStationValues)
{
    st().EditFloatChange(TEditBox::EditGirdle, QStringLiteral("0.2"));
    st().EditFloatChange(TEditBox::EditSlant, QStringLiteral("-3"));
    st().EditFloatChange(TEditBox::EditGirdle, QStringLiteral("-0.2"));
    EXPECT_DOUBLE_EQ(GirdleHeight(), 0.2) << "a refused girdle keeps the previous one";
    EXPECT_DOUBLE_EQ(SlantAngle(), -3);
}

TEST_F(LabelEditTest, MillimetreDisplaysFollowHeightAndGirdle)
{
    st().EditFloatChange(TEditBox::EditGirdle, QStringLiteral("0.2"));
    st().EditFloatChange(TEditBox::EditGlyphTextHeight, QStringLiteral("80"));
    st().EditFloatChange(TEditBox::EditGlyphTextOffset, QStringLiteral("50"));
    st().EditFloatChange(TEditBox::EditGlyphPhotoHeight, QStringLiteral("50"));
    st().EditFloatChange(TEditBox::EditGlyphPhotoOffset, QStringLiteral("10"));
    EXPECT_EQ(st().millimetreDisplay(TEditBox::EditGlyphTextHeight), QStringLiteral("0.160"));
    EXPECT_EQ(st().millimetreDisplay(TEditBox::EditGlyphTextOffset), QStringLiteral("0.080"));
    EXPECT_EQ(st().millimetreDisplay(TEditBox::EditGlyphPhotoOffset), QStringLiteral("0.010"));
    st().EditFloatChange(TEditBox::EditGirdle, QStringLiteral("0.1"));
    EXPECT_EQ(st().millimetreDisplay(TEditBox::EditGlyphTextHeight), QStringLiteral("0.080"));
    EXPECT_EQ(st().millimetreDisplay(TEditBox::EditGlyphPhotoOffset), QStringLiteral("0.005"));
}

TEST_F(LabelEditTest, RaisingTheGirdleDropsATaughtPointTooCloseToTheReference)
{
    st().EditFloatChange(TEditBox::EditGirdle, QStringLiteral("0.10"));
    st().CuvatureLeft_X = -0.25;
    st().CuvatureLeft_Z = 0.01;
    st().CuvatureRight_X = 0.5;
    st().CuvatureRight_Z = 0.02;
    st().EditFloatChange(TEditBox::EditGirdle, QStringLiteral("0.15"));
    EXPECT_EQ(st().CuvatureLeft_X, 0);
    EXPECT_EQ(st().CuvatureLeft_Z, 0);
    EXPECT_EQ(st().CuvatureRight_X, 0.5) << "0.5 is not closer than 0.30";
    EXPECT_EQ(st().CuvatureRight_Z, 0.02);
}

TEST_F(LabelEditTest, SpinStepsSetTheBoxesWithThreeDecimals)
{
    Settings().VideoScale = 300;
    Settings().VideoAspect = 100;
    st().EditFloatChange(TEditBox::EditGirdle, QStringLiteral("0.15"));
    st().SpinButtonSizeUpClick();
    EXPECT_EQ(st().edit(TEditBox::EditGirdle).text, QStringLiteral("0.157")); // 2/300 mm per step
    st().ZoomOut = true;                                                      // scale halved: 150
    st().SpinButtonSizeDownClick();
    EXPECT_EQ(st().edit(TEditBox::EditGirdle).text, QStringLiteral("0.144"));

    st().SpinButtonSlantUpClick();
    st().SpinButtonSlantUpClick();
    EXPECT_EQ(st().edit(TEditBox::EditSlant).text, QStringLiteral("0.150"));
    st().SpinButtonSlantDownClick();
    EXPECT_DOUBLE_EQ(SlantAngle(), 0.075);

    st().ZoomOut = false;
    st().EditFloatChange(TEditBox::EditGrid, QStringLiteral("0.5"));
    st().SpinButtonGridUpClick(); // d = 1/30, rounded to hundredths
    EXPECT_EQ(st().edit(TEditBox::EditGrid).text, QStringLiteral("0.530"));
    st().EditFloatChange(TEditBox::EditGrid, QStringLiteral("0.02"));
    st().SpinButtonGridDownClick();
    EXPECT_DOUBLE_EQ(st().GridPitch, 0.02) << "a pitch at or below 0.001 is not applied";
}

TEST_F(LabelEditTest, AddButtonsAppendSelectedNodesWithTheirCaptions)
{
    st().TextLabel = QStringLiteral("AB");
    st().TextLabelFont = QStringLiteral("ROMANS");
    st().SpaceWidth = 0.3;
    st().BitBtnAddTextClick();
    st().BitBtnAddSpaceClick();
    addLabel(QStringLiteral("X1"));
    EXPECT_EQ(rootCaptions(), (QStringList{QStringLiteral("Text \"AB\""), QStringLiteral("Space 30.0%"),
                                           QStringLiteral("Label \"X1\"")}));
    EXPECT_EQ(tree().Selected(), tree().Root(2));
    EXPECT_EQ(st().controls().panel, TPropertyPanel::Label);
    EXPECT_EQ(tree().Root(0)->Count(), 2) << "one node per character";
    EXPECT_EQ(tree().Root(0)->Item(0)->Text(), QStringLiteral("char \"A\""));
}

// A label replaced by an empty one (a template, a file) leaves nothing selected: the move and
// delete buttons go off with it.
TEST_F(LabelEditTest, AnEmptiedTreeLeavesMoveAndDeleteOff)
{
    const QString emptyLabel = st().Tree2XML();
    st().SpaceWidth = 0.1;
    st().BitBtnAddSpaceClick();
    st().BitBtnAddSpaceClick();
    tree().setSelected(tree().Root(0));
    st().TreeViewGlyphsChange(tree().Root(0));
    ASSERT_TRUE(st().controls().taskDown);
    ASSERT_TRUE(st().controls().delTask);

    ASSERT_TRUE(st().XML2Tree(emptyLabel));
    EXPECT_TRUE(tree().IsEmpty());
    EXPECT_FALSE(st().controls().taskUp);
    EXPECT_FALSE(st().controls().taskDown);
    EXPECT_FALSE(st().controls().delTask);
}

TEST_F(LabelEditTest, MoveAndDeleteWorkOnTopLevelNodes)
{
    st().SpaceWidth = 0.1;
    st().BitBtnAddSpaceClick();
    st().SpaceWidth = 0.2;
    st().BitBtnAddSpaceClick();
    TTreeNode* label = addLabel(QStringLiteral("A07"));
    st().CheckBox_AutoIncClick(true);
    ASSERT_EQ(st().GlyphAutoInc(), label->Data());

    tree().setSelected(tree().Root(0));
    st().TreeViewGlyphsChange(tree().Root(0));
    EXPECT_FALSE(st().controls().taskUp);
    EXPECT_TRUE(st().controls().taskDown);
    st().BitBtnTaskUpClick();
    EXPECT_EQ(rootCaptions().first(), QStringLiteral("Space 10.0%")) << "the first node cannot move up";
    st().BitBtnTaskDownClick();
    EXPECT_EQ(rootCaptions(), (QStringList{QStringLiteral("Space 20.0%"), QStringLiteral("Space 10.0%"),
                                           QStringLiteral("Label \"A07\"")}));
    EXPECT_TRUE(st().controls().taskUp);

    // A character of the label is not an element of its own.
    TTreeNode* run = label->Item(0);
    tree().setSelected(run);
    st().BitBtnDelTaskClick();
    EXPECT_EQ(tree().RootCount(), 3);

    tree().setSelected(label);
    st().BitBtnDelTaskClick();
    EXPECT_EQ(tree().RootCount(), 2);
    EXPECT_EQ(st().GlyphAutoInc(), nullptr);
    EXPECT_EQ(tree().Selected(), nullptr);
}

TEST_F(LabelEditTest, SelectingANodeFillsItsPanelWithoutWritingBack)
{
    TTreeNode* label = addLabel(QStringLiteral("AB"));
    auto* glyph = static_cast<TGlyphRichString*>(label->Data());
    glyph->UpDate(nullptr, 0.65, 0.1, 0.05);
    setEditorText(QStringLiteral("something else"));
    st().TreeViewGlyphsChange(label);
    EXPECT_EQ(editorText(), QStringLiteral("AB"));
    EXPECT_EQ(st().edit(TEditBox::EditGlyphLabelHeight).text, QStringLiteral("65.0"));
    EXPECT_EQ(st().edit(TEditBox::EditGlyphLabelSpacing).text, QStringLiteral("5.0"));
    EXPECT_DOUBLE_EQ(st().LabelHeight, 0.65);
    EXPECT_FALSE(st().DisableGlyphPropertiesChangeEvent());

    TTreeNode* run = label->Item(0);
    st().TreeViewGlyphsChange(run);
    EXPECT_EQ(st().controls().panel, TPropertyPanel::Text);
    EXPECT_TRUE(st().controls().runControlsReadOnly);
    EXPECT_FALSE(st().controls().delTask);
}

// While marking, the walk selects each node it marks: "Edit Symbols" stays disabled all along.
TEST_F(LabelEditTest, SelectingANodeWhileMarkingKeepsEditSymbolsDisabled)
{
    st().SpaceWidth = 0.1;
    st().BitBtnAddSpaceClick();
    TTreeNode* label = addLabel(QStringLiteral("AB"));
    st().SetAIMSState(TAIMState::aimsMarking);
    for (TTreeNode* node : {tree().Root(0), label, label->Item(0)}) {
        st().TreeViewGlyphsChange(node);
        EXPECT_FALSE(st().controls().bitBtnEditSymbolList) << node->Text().toStdString();
    }
    st().SetAIMSState(TAIMState::aimsInspecting);
    st().TreeViewGlyphsChange(label);
    EXPECT_TRUE(st().controls().bitBtnEditSymbolList);
}

TEST_F(LabelEditTest, SpacingChangeRebuildsTheSelectedLabel)
{
    TTreeNode* label = addLabel(QStringLiteral("AB"));
    st().EditFloatChange(TEditBox::EditGlyphLabelSpacing, QStringLiteral("20"));
    EXPECT_DOUBLE_EQ(label->Data()->Spacing, 0.2);
}

struct TextRuleCase {
    const char* name;
    bool formatLabelText;
    const char* typed;
    const char* label;
};

class TextRulesTest : public LabelFixture, public ::testing::WithParamInterface<TextRuleCase> {};

TEST_P(TextRulesTest, LabelTextIsCleanedBeforeTheGlyphIsRebuilt)
{
    const TextRuleCase& c = GetParam();
    Settings().FormatLabelText = c.formatLabelText;
    TTreeNode* label = addLabel(QStringLiteral("x"));
    setEditorText(QString::fromUtf8(c.typed));
    st().GlyphPropertiesChange();
    EXPECT_EQ(editorText(), QString::fromUtf8(c.label));
    EXPECT_EQ(label->Text(), QStringLiteral("Label \"") + QString::fromUtf8(c.label) + QChar('"'));
}

INSTANTIATE_TEST_SUITE_P(Rules, TextRulesTest,
                         ::testing::Values(TextRuleCase{"EscapedLineEnds", false, "AB\\n12\\r3", "AB123"},
                                           TextRuleCase{"BackslashAloneStays", false, "A\\B", "A\\B"},
                                           TextRuleCase{"FirstLineOnly", true, "AB12\nsecond", "AB12"},
                                           TextRuleCase{"SeveralLinesKeptWithoutTheRule", false, "AB\nCD", "AB\nCD"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LabelEditTest, ACustomFontKeepsOnlyTheDigits)
{
    ASSERT_TRUE(QDir().mkpath(workDir() + QStringLiteral("CustomFontsFolder/Digits7")));
    QStringList fonts;
    TCustomFonts().GetCustomFontNames(fonts);
    ASSERT_TRUE(fonts.contains(QStringLiteral("Digits7")));
    TTreeNode* label = addLabel(QStringLiteral("x"));
    st().DefaultRichEditFont = QStringLiteral("digits7");
    setEditorText(QStringLiteral("N° 12-34 b5"));
    st().GlyphPropertiesChange();
    EXPECT_EQ(editorText(), QStringLiteral("12345"));
    EXPECT_EQ(label->Text(), QStringLiteral("Label \"12345\""));
}

TEST_F(LabelEditTest, LogoListAndNewLogosUseTheLogoFolderWhateverItsCase)
{
    const QString folder = workDir() + QStringLiteral("logos/");
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const char* name : {"b.LAL", "a.lal", "note.txt"}) {
        QFile f(folder + QString::fromLatin1(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_EQ(st().LoadLogoList(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    st().DefaultLogoName = QStringLiteral(" a ");
    st().BitBtnAddLogoClick();
    auto* logo = dynamic_cast<TGlyphLogo*>(tree().Selected()->Data());
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->FileName, folder + QStringLiteral("a.lal"));
    EXPECT_EQ(st().controls().panel, TPropertyPanel::Logo);
}

TEST_F(LabelEditTest, SaveAsLogoWritesTheSelectedCharacterOutline)
{
    TTreeNode* label = addLabel(QStringLiteral("W"));
    const QString file = scratch(QStringLiteral("w.kol"));
    EXPECT_FALSE(st().SaveAsLogo(file)) << "a label is not a character";
    TTreeNode* ch = label->Item(0)->Item(0);
    tree().setSelected(ch);
    ASSERT_TRUE(st().SaveAsLogo(file));
    const OutlineFileResult back = readOutlineFile(file);
    ASSERT_TRUE(back.content) << qPrintable(back.error);
    EXPECT_GT(back.content->Contours.Count(), 0);
}

TEST_F(LabelEditTest, EditorFontAndStyleFollowTheSelection)
{
    TTreeNode* label = addLabel(QStringLiteral("AB"));
    RichEdit& editor = st().RichEditGlyphLabel();
    QTextCursor cursor(&editor.document());
    cursor.setPosition(0);
    cursor.setPosition(2, QTextCursor::KeepAnchor);
    editor.setTextCursor(cursor);
    st().GlyphRichFontChange(QStringLiteral("SCRIPTS"));
    EXPECT_EQ(st().RichSelectionFont, QStringLiteral("SCRIPTS"));
    EXPECT_EQ(st().DefaultRichEditFont, QStringLiteral("SCRIPTS"));
    auto* glyph = static_cast<TGlyphRichString*>(label->Data());
    EXPECT_EQ(glyph->RichString->GetRichSegment(0).Font, QStringLiteral("SCRIPTS")) << "the label is rebuilt";

    cursor.setPosition(1);
    cursor.setPosition(2, QTextCursor::KeepAnchor);
    editor.setTextCursor(cursor);
    st().GlyphRichStyleChange(3);
    EXPECT_EQ(st().RichSelectionStyle, 3);
    EXPECT_EQ(st().DefaultRichEditStyle, TFontStyles(fsBold | fsItalic));

    cursor.setPosition(0);
    cursor.setPosition(2, QTextCursor::KeepAnchor);
    editor.setTextCursor(cursor);
    st().RichEditGlyphLabelSelectionChange();
    EXPECT_EQ(st().RichSelectionFont, QStringLiteral("SCRIPTS"));
    EXPECT_EQ(st().RichSelectionStyle, -1) << "plain A, bold italic B";
}

TEST_F(LabelEditTest, MarkingStatusSetsProcessedOfACharacter)
{
    TTreeNode* label = addLabel(QStringLiteral("AB"));
    TTreeNode* ch = label->Item(0)->Item(1);
    tree().setSelected(ch);
    st().TreeViewGlyphsChange(ch);
    EXPECT_EQ(st().controls().panel, TPropertyPanel::Char);
    EXPECT_EQ(st().MarkingStatusIndex(), 0);
    st().MarkingStatusChange(1);
    EXPECT_TRUE(ch->Data()->Processed);
}

} // namespace
} // namespace lapido::test
