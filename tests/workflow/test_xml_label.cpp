// The label as "tree2xml" text: what is written, in which attribute order, what comes back,
// and how bad input is refused with the current label kept.
#include "labelfixture.h"

#include "platform/numfmt.h"

#include <QRegularExpression>

namespace lapido::test {
namespace {

class XmlLabelTest : public LabelFixture {};

QString item(const QString& attrs, const QString& inner = {})
{
    return QStringLiteral("<item text=\"n\" imageIndex=\"-1\" stateIndex=\"-1\" Girdleheight=\"0.15\" SlantAngle=\"0.0\" ")
           + attrs + (inner.isEmpty() ? QStringLiteral("/>") : QStringLiteral(">") + inner + QStringLiteral("</item>"));
}

QString doc(const QString& items)
{
    return QStringLiteral("<tree2xml app=\"x\">") + items + QStringLiteral("</tree2xml>");
}

// A label file is decoded as its declaration says: Latin-1 letters stay the letters they were.
TEST_F(XmlLabelTest, ALabelFileIsDecodedAsItsDeclarationSays)
{
    const QString body = doc(item(QStringLiteral("type=\"TGlyphWideString\" textLabel=\"Zürich Ø\" fontName=\"ROMANS\" "
                                                 "textHeight=\"0.8\" textOffset=\"0\" textSpacing=\"0.1\"")));
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"ISO-8859-1", QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>") + body.toLatin1()},
        {"UTF-8 declared", QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>") + body.toUtf8()},
        {"UTF-8 by default", body.toUtf8()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QString error;
        ASSERT_TRUE(st().XML2TreeFromBytes(c.bytes, &error)) << qPrintable(error);
        EXPECT_TRUE(st().Tree2XML().contains(QStringLiteral("textLabel=\"Zürich Ø\""))) << qPrintable(st().Tree2XML());
    }
}

TEST_F(XmlLabelTest, ALabelRunIsWrittenWithItsAttributesInOrder)
{
    st().EditFloatChange(TEditBox::EditGirdle, QStringLiteral("0.15"));
    TTreeNode* label = addLabel(QStringLiteral("AB12"));
    static_cast<TGlyphRichString*>(label->Data())->UpDate(nullptr, 0.7, 0.1, 0.05);
    const QString xml = st().Tree2XML();
    const QString expected = QStringLiteral("<item text=\"Text &quot;AB12&quot;\" imageIndex=\"-1\" stateIndex=\"-1\" Girdleheight=\"0.15\" "
                                            "SlantAngle=\"0.0\" type=\"TGlyphWideString\" textLabel=\"AB12\" "
                                            "fontName=\"ROMANS\" textHeight=\"%1\" textOffset=\"%2\" textSpacing=\"%3\">")
                                 .arg(FloatToStr(0.7), FloatToStr(0.1), FloatToStr(0.05));
    EXPECT_TRUE(xml.contains(expected)) << qPrintable(xml);
    EXPECT_TRUE(xml.startsWith(QStringLiteral("<tree2xml app=\"")));
    EXPECT_FALSE(xml.contains(QStringLiteral("text=\"Label"))) << "the label node itself is not written";
    // The characters of the run are nested in it.
    EXPECT_TRUE(xml.contains(QStringLiteral("<item text=\"char &quot;A&quot;\"")));
}

TEST_F(XmlLabelTest, ALabelComesBackAsOneLabelWithTheSameValues)
{
    TTreeNode* label = addLabel(QStringLiteral("AB12"));
    static_cast<TGlyphRichString*>(label->Data())->UpDate(nullptr, 0.7, 0.1, 0.05);
    const QString xml = st().Tree2XML();

    makeStation();
    QString error;
    ASSERT_TRUE(st().XML2Tree(xml, &error)) << qPrintable(error);
    ASSERT_EQ(tree().RootCount(), 1);
    auto* back = dynamic_cast<TGlyphRichString*>(tree().Root(0)->Data());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(tree().Root(0)->Text(), QStringLiteral("Label \"AB12\""));
    EXPECT_DOUBLE_EQ(back->RelativeSize, 0.7);
    EXPECT_DOUBLE_EQ(back->Offset, 0.1);
    EXPECT_DOUBLE_EQ(back->Spacing, 0.05);
    ASSERT_EQ(back->RichString->Count(), 1);
    EXPECT_EQ(back->RichString->GetRichSegment(0).Font, QStringLiteral("ROMANS"));
    EXPECT_EQ(st().Tree2XML(), xml) << "a second round gives the same text";
}

// A character above code 255 makes its run a symbol list; the label must still come back whole
// from its own text instead of leaving an empty node.
TEST_F(XmlLabelTest, ALabelWithACharacterAboveLatin1ComesBackWhole)
{
    for (const QString& text : {QStringLiteral("LG 14\u043E"), QStringLiteral("\u20AC 12")}) {
        SCOPED_TRACE(qPrintable(text));
        makeStation();
        TTreeNode* label = addLabel(text);
        static_cast<TGlyphRichString*>(label->Data())->UpDate(nullptr, 0.6, 0.05, 0.1);
        const QString xml = st().Tree2XML();
        EXPECT_TRUE(xml.contains(QStringLiteral("textLabel=\"") + text + QChar('"'))) << qPrintable(xml);

        makeStation();
        QString error;
        ASSERT_TRUE(st().XML2Tree(xml, &error)) << qPrintable(error);
        ASSERT_EQ(tree().RootCount(), 1);
        auto* back = dynamic_cast<TGlyphRichString*>(tree().Root(0)->Data());
        ASSERT_NE(back, nullptr);
        ASSERT_EQ(back->RichString->Count(), 1);
        EXPECT_EQ(back->RichString->GetRichSegment(0).Text, text);
        EXPECT_DOUBLE_EQ(back->RelativeSize, 0.6);
        EXPECT_EQ(st().Tree2XML(), xml) << "a second round gives the same text";
    }
}

// Each space keeps its own width, whatever the space-width box holds when the label is saved.
TEST_F(XmlLabelTest, SpacesComeBackWithTheirOwnWidths)
{
    st().SpaceWidth = 0.3;
    st().BitBtnAddSpaceClick();
    st().SpaceWidth = 1.5;
    st().BitBtnAddSpaceClick();
    st().SpaceWidth = 0.5;
    const QString xml = st().Tree2XML();
    EXPECT_TRUE(xml.contains(QStringLiteral("type=\"TGlyphSpace\" spacing=\"") + FloatToStr(0.3) + QChar('"'))) << qPrintable(xml);
    makeStation();
    ASSERT_TRUE(st().XML2Tree(xml));
    ASSERT_EQ(tree().RootCount(), 2);
    EXPECT_NE(dynamic_cast<TGlyphSpace*>(tree().Root(0)->Data()), nullptr);
    EXPECT_DOUBLE_EQ(tree().Root(0)->Data()->RelativeSize, 0.3);
    EXPECT_DOUBLE_EQ(tree().Root(1)->Data()->RelativeSize, 1.5);
    EXPECT_EQ(st().Tree2XML(), xml) << "a second round gives the same text";
}

// Numbers in a label file follow the station's regional settings; the edit-box texts keep the
// point the operator typed.
TEST_F(XmlLabelTest, NumbersUseTheRegionalDecimalSeparator)
{
    const QLocale previous = userLocale();
    setUserLocale(QLocale(QLocale::German));
    st().EditFloatChange(TEditBox::EditGirdle, QStringLiteral("0.25"));
    TTreeNode* label = addLabel(QStringLiteral("A"));
    static_cast<TGlyphRichString*>(label->Data())->UpDate(nullptr, 0.75, 0, 0.125);
    const QString xml = st().Tree2XML();
    EXPECT_TRUE(xml.contains(QStringLiteral("textHeight=\"0,75\""))) << qPrintable(xml);
    EXPECT_TRUE(xml.contains(QStringLiteral("Girdleheight=\"0.25\"")));
    makeStation();
    ASSERT_TRUE(st().XML2Tree(xml));
    EXPECT_DOUBLE_EQ(tree().Root(0)->Data()->RelativeSize, 0.75);
    EXPECT_DOUBLE_EQ(tree().Root(0)->Data()->Spacing, 0.125);
    EXPECT_DOUBLE_EQ(GirdleHeight(), 0.25);
    setUserLocale(previous);
}

TEST_F(XmlLabelTest, ATopLevelTextComesBackAsCaptionsOfItsCharacters)
{
    st().TextLabel = QStringLiteral("AB");
    st().TextLabelFont = QStringLiteral("ROMANS");
    st().BitBtnAddTextClick();
    const QString xml = st().Tree2XML();
    makeStation();
    ASSERT_TRUE(st().XML2Tree(xml));
    EXPECT_EQ(rootCaptions(), (QStringList{QStringLiteral("char \"A\""), QStringLiteral("char \"B\"")}));
    for (int i = 0; i < tree().RootCount(); ++i)
        EXPECT_EQ(tree().Root(i)->Data(), nullptr);
}

TEST_F(XmlLabelTest, AnEmptyLabelIsARootWithoutItems)
{
    const QString xml = st().Tree2XML();
    EXPECT_FALSE(xml.contains(QStringLiteral("<item")));
    addLabel(QStringLiteral("A"));
    ASSERT_TRUE(st().XML2Tree(xml));
    EXPECT_EQ(tree().RootCount(), 0);
}

TEST_F(XmlLabelTest, ASymbolListRunWithoutTextIsSkipped)
{
    const QString xml = doc(item(QStringLiteral("type=\"TGlyphWideString\" fontName=\"Symbol\"")) +
                            item(QStringLiteral("type=\"TGlyphSpace\" spacing=\"0.25\"")));
    ASSERT_TRUE(st().XML2Tree(xml));
    ASSERT_EQ(tree().RootCount(), 2);
    EXPECT_EQ(tree().Root(0)->Data(), nullptr);
    EXPECT_NE(tree().Root(1)->Data(), nullptr);
}

TEST_F(XmlLabelTest, GirdleAndSlantAreTakenUnlessIgnored)
{
    const QString xml = QStringLiteral("<tree2xml app=\"x\"><item text=\"n\" Girdleheight=\"0.3\" SlantAngle=\"2.5\"/></tree2xml>");
    ASSERT_TRUE(st().XML2Tree(xml));
    EXPECT_DOUBLE_EQ(GirdleHeight(), 0.3);
    EXPECT_DOUBLE_EQ(SlantAngle(), 2.5);
    EXPECT_EQ(st().edit(TEditBox::EditGirdle).text, QStringLiteral("0.3"));

    keys::write(keys::IgnoreGridleheigh, true);
    keys::write(keys::IgnoreSlantAngle, true);
    setGirdleHeight(0.15);
    setSlantAngle(0);
    ASSERT_TRUE(st().XML2Tree(xml));
    EXPECT_DOUBLE_EQ(GirdleHeight(), 0.15);
    EXPECT_DOUBLE_EQ(SlantAngle(), 0);
}

TEST_F(XmlLabelTest, ReadingClearsTheAbortAndTheAutoIncrementGlyph)
{
    addLabel(QStringLiteral("A1"));
    st().CheckBox_AutoIncClick(true);
    MarkingAborted() = true;
    ASSERT_TRUE(st().XML2Tree(doc({})));
    EXPECT_FALSE(MarkingAborted());
    EXPECT_EQ(st().GlyphAutoInc(), nullptr);
}

struct BadXml {
    const char* name;
    QString xml;
    const char* says; // a piece of the message
};

class BadXmlTest : public XmlLabelTest, public ::testing::WithParamInterface<BadXml> {};

TEST_P(BadXmlTest, IsRefusedWithAReasonAndTheLabelKept)
{
    addLabel(QStringLiteral("KEEP"));
    const QString before = st().Tree2XML();
    QString error;
    EXPECT_FALSE(st().XML2Tree(GetParam().xml, &error));
    EXPECT_TRUE(error.contains(QString::fromUtf8(GetParam().says), Qt::CaseInsensitive)) << qPrintable(error);
    EXPECT_EQ(rootCaptions(), QStringList{QStringLiteral("Label \"KEEP\"")});
    EXPECT_EQ(st().Tree2XML(), before);
}

QString manyItems(int n)
{
    QString items;
    for (int i = 0; i < n; ++i)
        items += QStringLiteral("<item text=\"x\"/>");
    return doc(items);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, BadXmlTest,
    ::testing::Values(
        BadXml{"Malformed", QStringLiteral("<tree2xml><item text=\"a\"></tree2xml>"), "line"},
        BadXml{"Truncated", doc(item(QStringLiteral("type=\"TGlyphSpace\" spacing=\"0.2\""))).left(60), "line"},
        BadXml{"PlaceholderOfTheDefaultTemplate", QStringLiteral("<tree2xml app=\"Lapidograph.exe\">"), "line"},
        BadXml{"Empty", QString(), "tree2xml"},
        BadXml{"OtherRoot", QStringLiteral("<label/>"), "root element"},
        BadXml{"Huge", doc(QString(5 * 1024 * 1024, QChar(' '))), "larger than"},
        BadXml{"TooManyItems", manyItems(6000), "more than"},
        BadXml{"LogoOutsideItsFolder", doc(item(QStringLiteral("type=\"TGlyphLogo\" logoFileName=\"../../etc/passwd\" "
                                                               "logoHeight=\"0.8\" logoOffset=\"0\""))),
               "leaves the logo folder"},
        BadXml{"NumberThatIsNot", doc(item(QStringLiteral("type=\"TGlyphSpace\" spacing=\"wide\""))), "not a number"},
        BadXml{"IndexThatIsNot", QStringLiteral("<tree2xml><item text=\"a\" imageIndex=\"one\"/></tree2xml>"),
               "whole number"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(XmlLabelTest, UnknownTypesAndNestedItemsGiveCaptionNodesOnly)
{
    const QString xml = doc(item(QStringLiteral("type=\"TGlyphRocket\""),
                                 QStringLiteral("<item text=\"inner\" type=\"TGlyphSpace\" spacing=\"0.2\"/>")) +
                            QStringLiteral("<unknown/>"));
    ASSERT_TRUE(st().XML2Tree(xml));
    ASSERT_EQ(tree().RootCount(), 1);
    EXPECT_EQ(tree().Root(0)->Text(), QStringLiteral("n"));
    EXPECT_EQ(tree().Root(0)->Data(), nullptr);
    EXPECT_EQ(tree().Root(0)->Count(), 0);
}

} // namespace
} // namespace lapido::test

#include "markingfixture.h"

namespace lapido::test {
namespace {

class XmlMarkingTest : public MarkingFixture {};

// The label file is the operator's way to mark the same stone text again: what it gives back
// must lay out and mark exactly like the label it was written from.
TEST_F(XmlMarkingTest, ALabelReadBackMarksTheSamePulses)
{
    st().EditFloatChange(TEditBox::EditGirdle, QStringLiteral("0.5"));
    addLabel(QStringLiteral("A7"));
    TLabelTree& tree = st().TreeViewGlyphs();
    st().SpaceWidth = 0.3;
    TGlyph::CreateFor<TGlyphSpace>(&tree, tree.Add(QStringLiteral("Space")), 0.3);
    addLabel(QStringLiteral("Z"));
    st().RichEditGlyphLabel().document().setPlainText(QStringLiteral("A7"));
    const QString xml = st().Tree2XML();

    st().SpeedButtonAIMClick(TSpeedButton::Inspect);
    st().SpeedButtonAIMClick(TSpeedButton::Mark);
    const std::vector<LaserMark> first = sim().marks();
    ASSERT_FALSE(first.empty());

    QString error;
    ASSERT_TRUE(st().XML2Tree(xml, &error)) << qPrintable(error);
    EXPECT_EQ(tree.RootCount(), 3);
    st().SpeedButtonAIMClick(TSpeedButton::Mark);
    const std::vector<LaserMark> all = sim().marks();
    ASSERT_EQ(all.size(), 2 * first.size());
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_NEAR(all[first.size() + i].xMm, first[i].xMm, 1e-9) << i;
        EXPECT_NEAR(all[first.size() + i].yMm, first[i].yMm, 1e-9) << i;
    }
}

} // namespace
} // namespace lapido::test

#include "glyphs/glyphoutline.h"
#include "glyphs/glyphphoto.h"

#include <QImage>

namespace lapido::test {
namespace {

class XmlPictureTest : public XmlLabelTest {
protected:
    QString picture(const QString& name, QSize size)
    {
        QImage image(size, QImage::Format_Grayscale8);
        image.fill(90);
        const QString path = scratch(name);
        EXPECT_TRUE(image.save(path));
        return path;
    }
};

TEST_F(XmlPictureTest, APhotoKeepsItsPictureSizeAndGamma)
{
    const QString file = picture(QStringLiteral("stone.png"), QSize(30, 20));
    st().PhotoHeight = 0.6;
    st().PhotoOffset = 0.1;
    st().BitBtnAddPhotoClick();
    ASSERT_TRUE(st().LoadPhotoFile(file));
    st().PhotoGamma = 1.2;
    st().GlyphPropertiesChange();
    const QString xml = st().Tree2XML();
    EXPECT_TRUE(xml.contains(QStringLiteral("type=\"TGlyphPhoto\" photoFileName=\"") + file + QChar('"'))) << qPrintable(xml);

    makeStation();
    ASSERT_TRUE(st().XML2Tree(xml));
    ASSERT_EQ(tree().RootCount(), 1);
    auto* photo = dynamic_cast<TGlyphPhoto*>(tree().Root(0)->Data());
    ASSERT_NE(photo, nullptr);
    EXPECT_EQ(photo->Filename, file);
    EXPECT_EQ(photo->Bitmap.size(), QSize(30, 20));
    EXPECT_DOUBLE_EQ(photo->RelativeSize, 0.6);
    EXPECT_DOUBLE_EQ(photo->Offset, 0.1);
    EXPECT_DOUBLE_EQ(photo->Gamma, 1.2);
    st().TreeViewGlyphsChange(tree().Root(0));
    EXPECT_EQ(st().controls().panel, TPropertyPanel::Photo);
    EXPECT_EQ(st().edit(TEditBox::EditGlyphPhotoHeight).text, QStringLiteral("60.0"));
}

TEST_F(XmlPictureTest, AMissingPictureIsReportedAndTheRestOfTheLabelLoads)
{
    const QString xml = doc(item(QStringLiteral("type=\"TGlyphPhoto\" photoFileName=\"") + scratch(QStringLiteral("gone.png")) +
                                 QStringLiteral("\" photoHeight=\"0.5\" photoOffset=\"0\" photoGamma=\"1.5\"")) +
                            item(QStringLiteral("type=\"TGlyphSpace\" spacing=\"0.2\"")));
    ASSERT_TRUE(st().XML2Tree(xml));
    EXPECT_EQ(m_dialogs.transcript().size(), 1u) << "the operator hears of the picture";
    ASSERT_EQ(tree().RootCount(), 2);
    auto* photo = dynamic_cast<TGlyphPhoto*>(tree().Root(0)->Data());
    ASSERT_NE(photo, nullptr);
    EXPECT_EQ(photo->Bitmap.size(), TStation::defaultPhotoPicture().size());
    EXPECT_NE(tree().Root(1)->Data(), nullptr);

    tree().setSelected(tree().Root(0));
    EXPECT_FALSE(st().LoadPhotoFile(scratch(QStringLiteral("also-gone.png"))));
    EXPECT_EQ(photo->Bitmap.size(), TStation::defaultPhotoPicture().size());
}

TEST_F(XmlPictureTest, ALogoIsReadFromTheLogoFolderAndWrittenByFileName)
{
    const QString xml = doc(item(QStringLiteral("type=\"TGlyphLogo\" logoFileName=\"star.lal\" logoHeight=\"0.7\" logoOffset=\"0.05\"")));
    ASSERT_TRUE(st().XML2Tree(xml));
    auto* logo = dynamic_cast<TGlyphLogo*>(tree().Root(0)->Data());
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->FileName, workDir() + QStringLiteral("Logos/star.lal"));
    EXPECT_DOUBLE_EQ(logo->RelativeSize, 0.7);
    EXPECT_EQ(st().edit(TEditBox::EditGlyphLogoHeight).text, QStringLiteral("70.0"));
    EXPECT_TRUE(st().Tree2XML().contains(QStringLiteral("type=\"TGlyphLogo\" logoFileName=\"star.lal\" logoHeight=\"")));

    st().TreeViewGlyphsChange(tree().Root(0));
    EXPECT_EQ(st().DefaultLogoName, QStringLiteral("star"));
}

} // namespace
} // namespace lapido::test
