// The glyph model: layout along the label, captions, rebuild rules, serial increments.
#include "glyphs/glyph.h"
#include "glyphs/glyphoutline.h"
#include "glyphs/labeltree.h"
#include "glyphs/richstring.h"

#include "platform/numfmt.h"
#include "testsupport.h"

using namespace lapido;

namespace {

// The label's total width T: the sum of Width over every node's glyph.
double totalWidth(const TLabelTree& tree)
{
    double t = 0;
    for (TTreeNode* n : tree.Items())
        if (TGlyph* g = n->Data())
            t += g->Width();
    return t;
}

// Walks the label as the marking sequence measures it, returning each node's start X.
std::vector<double> markStarts(const TLabelTree& tree)
{
    SetMarkPosition(-totalWidth(tree) / 2, 0);
    TXYTransform identity;
    TCoord mn{1e9, 1e9}, mx{-1e9, -1e9};
    std::vector<double> starts;
    for (TTreeNode* n : tree.Items())
        if (TGlyph* g = n->Data()) {
            starts.push_back(MarkPosition().X);
            g->ExtendMarkingRect(identity, mn, mx);
        }
    return starts;
}

class GlyphTest : public test::StationFixture {
protected:
    TLabelTree tree;
};

} // namespace

TEST_F(GlyphTest, CharactersAndSpacesLineUpCentredOnTheLabel)
{
    TTreeNode* textNode = tree.Add("Text");
    auto& text = TGlyph::CreateFor<TGlyphString>(&tree, textNode, "AB", "ROMANS", TFontStyles(), 1.0, 0.0, 0.1);
    TTreeNode* spaceNode = tree.Add("Space");
    TGlyph::CreateFor<TGlyphSpace>(&tree, spaceNode, 0.25);

    ASSERT_EQ(textNode->Count(), 2);
    const double wA = textNode->Item(0)->Data()->UnitWidth;
    const double wB = textNode->Item(1)->Data()->UnitWidth;
    ASSERT_GT(wA, 0);
    ASSERT_GT(wB, 0);
    EXPECT_DOUBLE_EQ(text.Width(), 0);
    EXPECT_DOUBLE_EQ(text.LabelWidth, wA + 0.1 + wB + 0.1);
    const double T = wA + 0.1 + wB + 0.1 + 0.25;
    EXPECT_DOUBLE_EQ(totalWidth(tree), T);

    // Order of Items: text, A, B, space. The text adds nothing; each character carries its advance.
    const auto starts = markStarts(tree);
    ASSERT_EQ(starts.size(), 4u);
    EXPECT_DOUBLE_EQ(starts[0], -T / 2);
    EXPECT_DOUBLE_EQ(starts[1], -T / 2);
    EXPECT_DOUBLE_EQ(starts[2], -T / 2 + wA + 0.1);
    EXPECT_DOUBLE_EQ(starts[3], -T / 2 + wA + 0.1 + wB + 0.1);
    EXPECT_NEAR(MarkPosition().X, T / 2, 1e-12);
}

TEST_F(GlyphTest, CaptionsOfCharactersSpacesAndTexts)
{
    TTreeNode* node = tree.Add("");
    TGlyph::CreateFor<TGlyphString>(&tree, node, QString::fromUtf16(u"a \u03A9"), "ROMANS", TFontStyles(), 1.0,
                                    0.0, 0.0);
    EXPECT_EQ(node->Text(), QString::fromUtf16(u"Text \"a \u03A9\""));
    ASSERT_EQ(node->Count(), 3);
    EXPECT_EQ(node->Item(0)->Text(), "char \"a\"");
    EXPECT_EQ(node->Item(1)->Text(), "space");
    EXPECT_EQ(node->Item(2)->Text(), "char 03A9");

    TTreeNode* space = tree.Add("");
    auto& sp = TGlyph::CreateFor<TGlyphSpace>(&tree, space, 0.25);
    EXPECT_EQ(space->Text(), "Space 25.0%");
    setUserLocale(QLocale(QLocale::German, QLocale::Germany));
    sp.Update(0.25);
    EXPECT_EQ(space->Text(), "Space 25,0%");
    setUserLocale(QLocale(QLocale::English, QLocale::UnitedStates));

    TTreeNode* list = tree.Add("");
    TGlyph::CreateFor<TGlyphWideString>(&tree, list, "xy", "ROMANS", TFontStyles(), 1.0, 0.0, 0.0);
    EXPECT_EQ(list->Text(), "Symbol list");
}

TEST_F(GlyphTest, NewHeightReusesCharactersAndNewTextRebuildsThem)
{
    TTreeNode* node = tree.Add("");
    auto& text = TGlyph::CreateFor<TGlyphString>(&tree, node, "AB", "ROMANS", TFontStyles(), 1.0, 0.0, 0.0);
    node->setExpanded(true);
    TGlyph* firstA = node->Item(0)->Data();
    const double labelWidth = text.LabelWidth;

    text.UpDate("AB", "ROMANS", TFontStyles(), 0.5, 0.1, 0.2);
    EXPECT_EQ(node->Item(0)->Data(), firstA);
    EXPECT_EQ(firstA->RelativeSize, 0.5);
    EXPECT_EQ(firstA->Offset, 0.1);
    EXPECT_EQ(firstA->Spacing, 0.2);
    EXPECT_EQ(text.LabelWidth, labelWidth); // spacing alone does not recompute the frame width

    text.UpDate("AC", "ROMANS", TFontStyles(), 0.5, 0.1, 0.2);
    ASSERT_EQ(node->Count(), 2);
    EXPECT_EQ(node->Item(1)->Text(), "char \"C\"");
    EXPECT_EQ(node->Item(1)->Data()->RelativeSize, 0.5);
    EXPECT_TRUE(node->Expanded());
    EXPECT_EQ(node->Text(), "Text \"AC\"");
}

TEST_F(GlyphTest, FormattedLabelSplitsIntoTextsAndSymbolLists)
{
    TTreeNode* node = tree.Add("");
    auto& rich = TGlyph::CreateFor<TGlyphRichString>(&tree, node, nullptr, 1.0, 0.0, 0.0);
    rich.RichString->Add("Ab", "ROMANS", TFontStyles());
    rich.RichString->Add(QString::fromUtf16(u"\u03A91"), "ROMANS", TFontStyles());
    rich.UpDate(nullptr, 1.0, 0.0, 0.0);
    ASSERT_EQ(node->Count(), 2);
    EXPECT_EQ(node->Item(0)->Text(), "Text \"Ab\"");
    EXPECT_EQ(node->Item(1)->Text(), "Symbol list");
    EXPECT_EQ(node->Text(), "Label \"Ab.1\"");
    const auto* first = static_cast<TGlyphWideString*>(node->Item(0)->Data());
    const auto* second = static_cast<TGlyphWideString*>(node->Item(1)->Data());
    EXPECT_EQ(first->Parent, &rich);
    EXPECT_DOUBLE_EQ(rich.LabelWidth, first->LabelWidth + second->LabelWidth);

    rich.ClearContent(1.0, 0.0, 0.0);
    EXPECT_EQ(node->Count(), 0);
    EXPECT_EQ(node->Text(), "Label \"\"");
}

TEST_F(GlyphTest, IncrementStepsTheLastSegment)
{
    const std::pair<const char*, const char*> cases[] = {{"A07", "A08"}, {"A09", "A10"}, {"99", "100"},
                                                         {"AB", "AB1"},  {"X9", "X10"},  {"LOT-9", "LOT-10"},
                                                         {"", ""},       {"9", "10"},    {"A199", "A200"}};
    for (auto [in, out] : cases)
        EXPECT_EQ(IncrementSerial(in), QString(out)) << in;

    TTreeNode* node = tree.Add("");
    auto& rich = TGlyph::CreateFor<TGlyphRichString>(&tree, node, nullptr, 1.0, 0.0, 0.0);
    rich.Increment(); // no segments: nothing happens
    EXPECT_EQ(node->Text(), "Label \"\"");
    rich.RichString->Add("N", "ROMANS", TFontStyles());
    rich.RichString->Add("LOT-9", "ROMANS", TFontStyles());
    rich.Increment();
    EXPECT_EQ(rich.RichString->GetText(1), "LOT-10");
    EXPECT_EQ(node->Text(), "Label \"NLOT-10\"");
}

TEST_F(GlyphTest, SpaceMarksByAdvancingAndMeasuresNothing)
{
    TTreeNode* node = tree.Add("");
    auto& sp = TGlyph::CreateFor<TGlyphSpace>(&tree, node, 0.25);
    TXYTransform identity;
    SetMarkPosition(1.0, 0);
    sp.Mark(identity);
    EXPECT_TRUE(sp.Processed);
    EXPECT_DOUBLE_EQ(MarkPosition().X, 1.25);
    TCoord mn{5, 5}, mx{6, 6};
    sp.ExtendMarkingRect(identity, mn, mx);
    EXPECT_DOUBLE_EQ(MarkPosition().X, 1.5);
    EXPECT_EQ(mn, (TCoord{5, 5}));
    EXPECT_EQ(mx, (TCoord{6, 6}));
    sp.ResetMarking();
    EXPECT_FALSE(sp.Processed);
}

TEST_F(GlyphTest, DeletingANodeFreesItsGlyphsAndClearsTheSelection)
{
    TTreeNode* node = tree.Add("");
    TGlyph::CreateFor<TGlyphString>(&tree, node, "ABC", "ROMANS", TFontStyles(), 1.0, 0.0, 0.0);
    tree.setSelected(node->Item(1));
    tree.Delete(node);
    EXPECT_EQ(tree.Selected(), nullptr);
    EXPECT_TRUE(tree.IsEmpty());
}
