// A 2D code in the label file: its own "code" element, written in order and read back the same;
// labels without it read as they always did; bad values refused with the current label kept.
#include "labelfixture.h"

#include "glyphs/glyphcode.h"
#include "platform/numfmt.h"

#include <QFile>

namespace lapido::test {
namespace {

class XmlCodeTest : public LabelFixture {
protected:
    TGlyphCode& addCode(const QString& content, TCodeSymbology symbology, double moduleUm, int quiet,
                        TCodeModuleMarking marking, double offset)
    {
        st().CodeContent = content;
        st().CodeSymbology = symbology;
        st().CodeModuleUm = moduleUm;
        st().CodeQuietModules = quiet;
        st().CodeModuleMarking = marking;
        st().CodeOffset = offset;
        st().BitBtnAddCodeClick();
        return *static_cast<TGlyphCode*>(tree().Selected()->Data());
    }
    static QString doc(const QString& body) { return QStringLiteral("<tree2xml app=\"x\">") + body + QStringLiteral("</tree2xml>"); }
    static QString label(const QString& text)
    {
        return QStringLiteral("<item text=\"Text &quot;%1&quot;\" imageIndex=\"-1\" stateIndex=\"-1\" Girdleheight=\"0.15\" "
                              "SlantAngle=\"0.0\" type=\"TGlyphWideString\" textLabel=\"%1\" fontName=\"ROMANS\" "
                              "textHeight=\"0.8\" textOffset=\"0\" textSpacing=\"0.1\"/>")
            .arg(text);
    }
    static QString code(const QString& attrs)
    {
        return QStringLiteral("<code text=\"c\" imageIndex=\"-1\" stateIndex=\"-1\" Girdleheight=\"0.15\" SlantAngle=\"0.0\" ")
               + attrs + QStringLiteral("/>");
    }
};

TEST_F(XmlCodeTest, ACodeIsItsOwnElementWithItsAttributesInOrder)
{
    st().EditFloatChange(TEditBox::EditGirdle, QStringLiteral("0.15"));
    addLabel(QStringLiteral("LG"));
    addCode(QStringLiteral("2141234567 & <7>"), TCodeSymbology::DataMatrixRect, 12.5, 1, TCodeModuleMarking::PulseSquare,
            0.25);
    const QString xml = st().Tree2XML();
    const QString expected =
        QStringLiteral("<code text=\"Code &quot;2141234567 &amp; &lt;7&gt;&quot;\" imageIndex=\"-1\" stateIndex=\"-1\" "
                       "Girdleheight=\"0.15\" SlantAngle=\"0.0\" symbology=\"DataMatrixRect\" "
                       "content=\"2141234567 &amp; &lt;7&gt;\" moduleSize=\"%1\" quietZone=\"1\" "
                       "moduleMarking=\"PulseSquare\" codeOffset=\"%2\"/>")
            .arg(FloatToStr(12.5), FloatToStr(0.25));
    EXPECT_TRUE(xml.contains(expected)) << qPrintable(xml);
    // In label order, after the label's run.
    EXPECT_LT(xml.indexOf(QStringLiteral("textLabel=\"LG\"")), xml.indexOf(QStringLiteral("<code ")));
}

TEST_F(XmlCodeTest, EveryKindOfCodeRoundTripsThroughTheLabelText)
{
    struct Case {
        TCodeSymbology symbology;
        const char* content;
        double moduleUm;
        int quiet;
        TCodeModuleMarking marking;
        double offset;
        bool scanned;
    };
    const Case cases[] = {
        {TCodeSymbology::DataMatrix, "2141234567", 20, 2, TCodeModuleMarking::OnePulse, 0, false},
        {TCodeSymbology::DataMatrixRect, "A-17", 10.5, 0, TCodeModuleMarking::PulseSquare, -0.3, true},
        {TCodeSymbology::QR, "https://lab.example/r/2141234567?v=\"1\"&x=ü", 33.333333333, 4, TCodeModuleMarking::OnePulse,
         1.5, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        makeStation();
        addLabel(QStringLiteral("AB"));
        TGlyphCode& made = addCode(QString::fromUtf8(c.content), c.symbology, c.moduleUm, c.quiet, c.marking, c.offset);
        made.FromScannedCode = c.scanned;
        const std::optional<CodeMatrix> symbol = made.Matrix; // the glyph goes with its station
        addLabel(QStringLiteral("CD"));
        const QString xml = st().Tree2XML();

        makeStation();
        QString error;
        ASSERT_TRUE(st().XML2Tree(xml, &error)) << qPrintable(error);
        ASSERT_EQ(tree().RootCount(), 3);
        const auto* back = dynamic_cast<const TGlyphCode*>(tree().Root(1)->Data());
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->Content, QString::fromUtf8(c.content));
        EXPECT_EQ(back->Symbology, c.symbology);
        EXPECT_DOUBLE_EQ(back->ModuleUm, c.moduleUm);
        EXPECT_EQ(back->QuietModules, c.quiet);
        EXPECT_EQ(back->ModuleMarking, c.marking);
        EXPECT_DOUBLE_EQ(back->Offset, c.offset);
        EXPECT_EQ(back->FromScannedCode, c.scanned);
        EXPECT_EQ(back->Matrix, symbol);
        EXPECT_EQ(tree().Root(1)->Text(), QStringLiteral("Code \"") + QString::fromUtf8(c.content) + QStringLiteral("\""));
        EXPECT_EQ(st().Tree2XML(), xml);
    }
}

// The station's older files and the files of stations that know no codes: only "item"
// elements. They read exactly as before, and a "code" element among them only adds its node.
TEST_F(XmlCodeTest, LabelsWithoutACodeReadAsBeforeAndACodeOnlyAddsItself)
{
    for (const char* name : {"text-stroke.xml", "curved-girdle.xml", "logo.xml"}) {
        SCOPED_TRACE(name);
        QFile file(QStringLiteral(LAPIDO_EXAMPLES_DIR "/") + QString::fromLatin1(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        makeStation();
        ASSERT_TRUE(st().XML2TreeFromBytes(bytes));
        const QStringList captions = rootCaptions();
        const QString written = st().Tree2XML();
        for (int i = 0; i < tree().RootCount(); ++i)
            EXPECT_EQ(dynamic_cast<TGlyphCode*>(tree().Root(i)->Data()), nullptr);

        QByteArray withCode = bytes;
        // Without girdle and slant of its own, so that the file's stay as they are.
        withCode.replace("</tree2xml>",
                         "<code symbology=\"QR\" content=\"X1\" moduleSize=\"30\" quietZone=\"4\"/></tree2xml>");
        makeStation();
        ASSERT_TRUE(st().XML2TreeFromBytes(withCode));
        EXPECT_EQ(rootCaptions(), captions + QStringList{QStringLiteral("Code \"X1\"")});
        // Writing it out again gives the same items and the code after them.
        const QString again = st().Tree2XML();
        EXPECT_TRUE(again.startsWith(written.left(written.indexOf(QStringLiteral("</tree2xml>")))));
    }
}

TEST_F(XmlCodeTest, AnItemNamingACodeTypeAndOtherElementsStayAsTheyWere)
{
    // Only the "code" element makes a code: an item claiming the kind is an item of an unknown
    // type (a node without glyph), and elements no station writes are passed over.
    ASSERT_TRUE(st().XML2Tree(doc(QStringLiteral("<item text=\"i\" type=\"TGlyphCode\" symbology=\"QR\" content=\"X\"/>"
                                                 "<barcode text=\"b\" symbology=\"QR\" content=\"X\"/>"))));
    ASSERT_EQ(tree().RootCount(), 1);
    EXPECT_EQ(tree().Root(0)->Text(), QStringLiteral("i"));
    EXPECT_EQ(tree().Root(0)->Data(), nullptr);
}

struct BadCode {
    const char* name;
    const char* attrs;
    const char* says;
};

class BadCodeTest : public XmlCodeTest, public ::testing::WithParamInterface<BadCode> {};

TEST_P(BadCodeTest, IsRefusedWithAReasonAndTheLabelKept)
{
    addLabel(QStringLiteral("KEEP"));
    const QString before = st().Tree2XML();
    QString error;
    EXPECT_FALSE(st().XML2Tree(doc(label(QStringLiteral("A")) + code(QString::fromUtf8(GetParam().attrs))), &error));
    EXPECT_TRUE(error.contains(QString::fromUtf8(GetParam().says), Qt::CaseInsensitive)) << qPrintable(error);
    EXPECT_EQ(st().Tree2XML(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, BadCodeTest,
    ::testing::Values(
        BadCode{"UnknownKind", "symbology=\"PDF417\" content=\"1\" moduleSize=\"20\"", "code kind"},
        BadCode{"NoKind", "content=\"1\" moduleSize=\"20\"", "code kind"},
        BadCode{"UnknownMarking", "symbology=\"QR\" content=\"1\" moduleMarking=\"Spiral\"", "module marking"},
        BadCode{"ModuleTooSmall", "symbology=\"QR\" content=\"1\" moduleSize=\"0\"", "moduleSize"},
        BadCode{"ModuleTooLarge", "symbology=\"QR\" content=\"1\" moduleSize=\"1e9\"", "moduleSize"},
        BadCode{"ModuleNotANumber", "symbology=\"QR\" content=\"1\" moduleSize=\"nan\"", "moduleSize"},
        BadCode{"QuietZoneNegative", "symbology=\"QR\" content=\"1\" quietZone=\"-1\"", "quietZone"},
        BadCode{"QuietZoneHuge", "symbology=\"QR\" content=\"1\" quietZone=\"2000000000\"", "quietZone"},
        BadCode{"OffsetOutOfRange", "symbology=\"QR\" content=\"1\" codeOffset=\"1000\"", "codeOffset"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(XmlCodeTest, ACodeTooLongForAnySymbolIsRefused)
{
    QString error;
    EXPECT_FALSE(st().XML2Tree(doc(code(QStringLiteral("symbology=\"QR\" content=\"%1\"")
                                            .arg(QString(codelimits::kMaxContentChars + 1, QChar('9'))))),
                               &error));
    EXPECT_TRUE(error.contains(QStringLiteral("more than"))) << qPrintable(error);
}

} // namespace
} // namespace lapido::test
