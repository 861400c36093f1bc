// Labels that would not be inscribed as composed are refused before the machine moves, and a
// photo is engraved with its own gamma.
#include "markingfixture.h"

#include "glyphs/dithering.h"
#include "glyphs/glyphoutline.h"
#include "glyphs/glyphphoto.h"

#include <QDir>
#include <QImage>

namespace lapido {
namespace {

using test::MarkingFixture;

QString item(const QString& attrs)
{
    return QStringLiteral("<item text=\"n\" imageIndex=\"-1\" stateIndex=\"-1\" ") + attrs + QStringLiteral("/>");
}

QString label(const QString& items)
{
    return QStringLiteral("<tree2xml app=\"x\">") + items + QStringLiteral("</tree2xml>");
}

QString textItem(const QString& font, const QString& height)
{
    return item(QStringLiteral("type=\"TGlyphWideString\" textLabel=\"AB\" fontName=\"%1\" textHeight=\"%2\" "
                               "textOffset=\"0\" textSpacing=\"0.1\"")
                    .arg(font, height));
}

QString digitsItem(const QString& font)
{
    return item(QStringLiteral("type=\"TGlyphWideString\" textLabel=\"2407\" fontName=\"%1\" textHeight=\"0.8\" "
                               "textOffset=\"0\" textSpacing=\"0.1\"")
                    .arg(font));
}

QString logoItem(const QString& file, const QString& height = QStringLiteral("0.8"))
{
    return item(QStringLiteral("type=\"TGlyphLogo\" logoFileName=\"%1\" logoHeight=\"%2\" logoOffset=\"0\"").arg(file, height));
}

QString photoItem(const QString& file, const QString& height = QStringLiteral("0.8"),
                  const QString& gamma = QStringLiteral("1.5"))
{
    return item(QStringLiteral("type=\"TGlyphPhoto\" photoFileName=\"%1\" photoHeight=\"%2\" photoOffset=\"0\" "
                               "photoGamma=\"%3\"")
                    .arg(file, height, gamma));
}

// A controller line that moves an axis or switches an output (the laser's lines included).
bool movesOrSwitches(const std::string& line)
{
    static const char* const kPrefixes[] = {"PA", "PR", "BG", "SB", "CB", "OP", "LM", "LI", "JG", "HM", "SH", "EA", "EB", "EG"};
    for (const char* p : kPrefixes)
        if (line.rfind(p, 0) == 0 || line.find(std::string(";") + p) != std::string::npos)
            return true;
    return false;
}

class LabelRefusalTest : public MarkingFixture {
protected:
    void SetUp() override
    {
        MarkingFixture::SetUp();
        QDir(scratch()).mkpath(QStringLiteral("Logos/folder.lal"));
        writeFile(scratch(QStringLiteral("Logos/notes.lal")), "these are notes, not a drawing\n");
        writeFile(scratch(QStringLiteral("Logos/empty.lal")), "[General]\nDescription=VeduvAZU Drawing\nVersion=1\nObjectCount=0\n");
        writeFile(scratch(QStringLiteral("Logos/lying.lal")),
                  "[General]\nDescription=VeduvAZU Drawing\nVersion=1\nObjectCount=2000000000\n");
        writeFile(scratch(QStringLiteral("Logos/diamond.lal")),
                  "[General]\nDescription=VeduvAZU Drawing\nVersion=1\nObjectCount=1\n\n[Object_1]\nType=TCADLine\n"
                  "Surpressed=0\nVisible=1\nLayerName=Outline\nPLineID=1\nBeginX=1\nBeginY=0\nEndX=2\nEndY=1\n");
        // A custom digit font whose drawings are garbage, and one whose drawings are missing.
        QDir(scratch()).mkpath(QStringLiteral("CustomFontsFolder/Garbled"));
        QDir(scratch()).mkpath(QStringLiteral("CustomFontsFolder/Hollow"));
        for (char d = '0'; d <= '9'; ++d)
            writeFile(scratch(QStringLiteral("CustomFontsFolder/Garbled/%1.lal").arg(QLatin1Char(d))), "\x01\x02 not a drawing");
        writeFile(scratch(QStringLiteral("notes.png")), "these are notes, not a picture\n");
        writeFile(scratch(QStringLiteral("huge.png")), pngHeader(60000, 60000));
        QImage ramp(40, 20, QImage::Format_Grayscale8);
        for (int y = 0; y < ramp.height(); ++y)
            for (int x = 0; x < ramp.width(); ++x)
                ramp.scanLine(y)[x] = uchar(20 + x * 5);
        ASSERT_TRUE(ramp.save(scratch(QStringLiteral("ramp.png"))));
    }
    // A PNG picture of the given size whose pixel data is missing: enough for a reader to learn
    // the size, nothing to decode.
    static QByteArray pngHeader(quint32 width, quint32 height)
    {
        QByteArray png("\x89PNG\r\n\x1a\n", 8);
        auto append32 = [&png](quint32 v) {
            for (int shift = 24; shift >= 0; shift -= 8)
                png.append(char((v >> shift) & 0xFF));
        };
        auto chunk = [&](const char* type, const QByteArray& data) {
            append32(quint32(data.size()));
            const QByteArray body = QByteArray(type, 4) + data;
            png.append(body);
            quint32 crc = 0xFFFFFFFFu;
            for (const char byte : body) {
                crc ^= quint8(byte);
                for (int k = 0; k < 8; ++k)
                    crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
            }
            append32(crc ^ 0xFFFFFFFFu);
        };
        QByteArray header;
        for (quint32 v : {width, height})
            for (int shift = 24; shift >= 0; shift -= 8)
                header.append(char((v >> shift) & 0xFF));
        header.append("\x08\x00\x00\x00\x00", 5); // 8-bit grey, no interlace
        chunk("IHDR", header);
        chunk("IDAT", {});
        chunk("IEND", {});
        return png;
    }
    static void writeFile(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    // Loads the label, takes the marking reference and presses Engrave.
    void engraveLabel(const QString& xml)
    {
        QString error;
        ASSERT_TRUE(st().XML2Tree(xml, &error)) << qPrintable(error);
        st().SetAIMSState(TAIMState::aimsAligning);
        inspect();
        m_dialogs.clear();
        sim().clearTranscript();
        engrave();
    }
};

TEST_F(LabelRefusalTest, AGlyphThatWouldNotBeMarkedAsComposedRefusesTheLabelBeforeAnyMotion)
{
    struct Case {
        const char* what;
        QString items;
        QString glyph;  // the caption named in the refusal
        QString reason; // part of the reason given
    };
    const QString ramp = scratch(QStringLiteral("ramp.png"));
    const Case cases[] = {
        {"unknown font", textItem(QStringLiteral("No Such Font 123"), QStringLiteral("0.8")), QStringLiteral("Label \"AB\""),
         QStringLiteral("the font \"No Such Font 123\" is not installed")},
        {"text below the spot", textItem(QStringLiteral("ROMANS"), QStringLiteral("0.001")), QStringLiteral("Label \"AB\""),
         QStringLiteral("below the 10 um the laser can resolve")},
        {"custom font of garbage", digitsItem(QStringLiteral("Garbled")), QStringLiteral("Label \"2407\""),
         QStringLiteral("the custom font \"Garbled\" has no usable drawing for '2', '4', '0', '7'")},
        {"custom font without drawings", digitsItem(QStringLiteral("Hollow")), QStringLiteral("Label \"2407\""),
         QStringLiteral("the custom font \"Hollow\" has no usable drawing for '2', '4', '0', '7'")},
        {"missing logo", logoItem(QStringLiteral("gone.lal")), QStringLiteral("Logo \"gone\""), QStringLiteral("does not exist")},
        {"logo that is a folder", logoItem(QStringLiteral("folder.lal")), QStringLiteral("Logo \"folder\""),
         QStringLiteral("it is a folder")},
        {"logo that is not a drawing", logoItem(QStringLiteral("notes.lal")), QStringLiteral("Logo \"notes\""),
         QStringLiteral("Invalid file format")},
        {"logo drawing without objects", logoItem(QStringLiteral("empty.lal")), QStringLiteral("Logo \"empty\""),
         QStringLiteral("holds nothing to mark")},
        {"logo drawing whose object count lies", logoItem(QStringLiteral("lying.lal")), QStringLiteral("Logo \"lying\""),
         QStringLiteral("holds nothing to mark")},
        {"logo below the spot", logoItem(QStringLiteral("diamond.lal"), QStringLiteral("0.001")),
         QStringLiteral("Logo \"diamond\""), QStringLiteral("below the 10 um the laser can resolve")},
        {"missing picture", photoItem(scratch(QStringLiteral("gone.png"))), QStringLiteral("n"), QStringLiteral("does not exist")},
        {"picture that is a folder", photoItem(scratch(QStringLiteral("Logos"))), QStringLiteral("n"),
         QStringLiteral("it is a folder")},
        {"not a picture", photoItem(scratch(QStringLiteral("notes.png"))), QStringLiteral("n"), QStringLiteral("cannot be read")},
        {"picture too large", photoItem(scratch(QStringLiteral("huge.png"))), QStringLiteral("n"),
         QStringLiteral("60000 x 60000 pixels")},
        {"photo of less than a dot", photoItem(ramp, QStringLiteral("0.001")), QStringLiteral("n"),
         QStringLiteral("nothing to mark")},
        {"photo below the spot", photoItem(ramp, QStringLiteral("0.01")), QStringLiteral("n"),
         QStringLiteral("below the 10 um the laser can resolve")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A good photo first: the refusal covers the whole label, not just the glyph at fault.
        engraveLabel(label(photoItem(ramp) + c.items));
        const QStringList texts = m_dialogs.texts();
        ASSERT_FALSE(texts.isEmpty());
        EXPECT_TRUE(texts.last().contains(c.glyph) && texts.last().contains(c.reason))
            << qPrintable(texts.join(QStringLiteral(" | ")));
        for (const DmcTranscriptEntry& e : sim().transcript())
            EXPECT_FALSE(movesOrSwitches(e.line)) << e.line;
        EXPECT_EQ(sim().markCount(), 0u);
        EXPECT_FALSE(laser().EnableIsOn);
        EXPECT_FALSE(st().TreeViewGlyphs().Root(0)->Data()->Processed);
        EXPECT_EQ(st().controls().down, TSpeedButton::Inspect);
    }
}

TEST_F(LabelRefusalTest, NumbersOutOfRangeRefuseTheLabelWhenItIsReadAndKeepTheLabelThere)
{
    struct Case {
        const char* what;
        QString items;
        QString reason;
    };
    const QString ramp = scratch(QStringLiteral("ramp.png"));
    const QString slanted = QStringLiteral("<item text=\"n\" imageIndex=\"-1\" stateIndex=\"-1\" Girdleheight=\"0.5\" "
                                           "SlantAngle=\"%1\" type=\"TGlyphSpace\" spacing=\"0.5\"/>");
    const Case cases[] = {
        {"slant 1e308", slanted.arg(QStringLiteral("1e308")), QStringLiteral("\"SlantAngle\" is 1e308")},
        {"slant 6e305", slanted.arg(QStringLiteral("6e305")), QStringLiteral("\"SlantAngle\" is 6e305")},
        {"text height 0", textItem(QStringLiteral("ROMANS"), QStringLiteral("0")), QStringLiteral("\"textHeight\" is 0")},
        {"negative text height", textItem(QStringLiteral("ROMANS"), QStringLiteral("-0.8")),
         QStringLiteral("\"textHeight\" is -0.8")},
        {"text height 1e300", textItem(QStringLiteral("ROMANS"), QStringLiteral("1e300")),
         QStringLiteral("\"textHeight\" is 1e300")},
        {"logo height 1e-9", logoItem(QStringLiteral("diamond.lal"), QStringLiteral("1e-9")),
         QStringLiteral("\"logoHeight\" is 1e-9")},
        {"photo height 1e-9", photoItem(ramp, QStringLiteral("1e-9")), QStringLiteral("\"photoHeight\" is 1e-9")},
        {"photo height 0", photoItem(ramp, QStringLiteral("0")), QStringLiteral("\"photoHeight\" is 0")},
        {"photo gamma -1", photoItem(ramp, QStringLiteral("0.8"), QStringLiteral("-1")), QStringLiteral("\"photoGamma\" is -1")},
        {"photo gamma 1e-9", photoItem(ramp, QStringLiteral("0.8"), QStringLiteral("1e-9")),
         QStringLiteral("\"photoGamma\" is 1e-9")},
        {"photo gamma 3", photoItem(ramp, QStringLiteral("0.8"), QStringLiteral("3")), QStringLiteral("\"photoGamma\" is 3")},
        {"more characters than a girdle carries",
         item(QStringLiteral("type=\"TGlyphWideString\" textLabel=\"%1\" fontName=\"ROMANS\" textHeight=\"0.8\" "
                             "textOffset=\"0\" textSpacing=\"0.1\"")
                  .arg(QString(labellimits::kMaxCharacters + 1, QLatin1Char('A')))),
         QStringLiteral("more than 10000 characters")},
    };
    const QString kept = label(textItem(QStringLiteral("ROMANS"), QStringLiteral("0.8")));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QString error;
        ASSERT_TRUE(st().XML2Tree(kept, &error)) << qPrintable(error);
        const QString before = st().Tree2XML();
        bool refused = false;
        EXPECT_FALSE(st().XML2Tree(label(c.items), &error, &refused));
        EXPECT_TRUE(refused);
        EXPECT_TRUE(error.contains(c.reason)) << qPrintable(error);
        EXPECT_EQ(st().Tree2XML(), before);
    }
    // The window's boxes refuse what a label file may not hold.
    for (const auto& [box, text] : {std::pair{TEditBox::EditSlant, QStringLiteral("1e308")},
                                    std::pair{TEditBox::EditGirdle, QStringLiteral("1e9")},
                                    std::pair{TEditBox::EditGlyphLogoHeight, QStringLiteral("1e300")}}) {
        st().EditFloatChange(box, text);
        EXPECT_TRUE(st().edit(box).refused) << qPrintable(text);
    }
    EXPECT_EQ(SlantAngle(), 0.0);
}

TEST_F(LabelRefusalTest, CharactersTooSmallForTheSpotAreMarkedOnlyWhenTheOperatorSaysYes)
{
    // 0.1 of the girdle of 0.5 mm: an "e" 0.05 mm high, whose counter the 10 um spot closes.
    const QString tiny = label(item(QStringLiteral("type=\"TGlyphWideString\" textLabel=\"ee\" fontName=\"Liberation Sans\" "
                                                   "textHeight=\"0.1\" textOffset=\"0\" textSpacing=\"0.1\"")));
    const auto processed = [this] {
        int n = 0;
        for (const TTreeNode* node : st().TreeViewGlyphs().Items())
            n += dynamic_cast<const TGlyphChar*>(node->Data()) && node->Data()->Processed ? 1 : 0;
        return n;
    };
    for (const DialogResult answer : {DialogResult::No, DialogResult::Yes}) {
        SCOPED_TRACE(answer == DialogResult::Yes ? "Yes" : "No");
        QString error;
        ASSERT_TRUE(st().XML2Tree(tiny, &error)) << qPrintable(error);
        st().SetAIMSState(TAIMState::aimsAligning);
        inspect();
        m_dialogs.clear();
        sim().clearTranscript();
        sim().clearMarks();
        m_dialogs.queueAnswer(answer);
        engrave();
        const QStringList texts = m_dialogs.texts();
        ASSERT_EQ(texts.size(), 1) << qPrintable(texts.join(QStringLiteral(" | ")));
        EXPECT_TRUE(texts[0].startsWith(QStringLiteral("Characters 'e' at 0.050 mm: strokes ")));
        EXPECT_TRUE(texts[0].endsWith(QStringLiteral(" um apart, spot 10 um. Engrave anyway?"))) << qPrintable(texts[0]);
        if (answer == DialogResult::No) {
            for (const DmcTranscriptEntry& e : sim().transcript())
                EXPECT_FALSE(movesOrSwitches(e.line)) << e.line;
            EXPECT_EQ(sim().markCount(), 0u);
            EXPECT_EQ(processed(), 0);
            EXPECT_EQ(st().controls().down, TSpeedButton::Inspect);
        } else {
            EXPECT_GT(sim().markCount(), 0u);
            EXPECT_EQ(processed(), 2) << "both characters";
        }
        EXPECT_FALSE(laser().EnableIsOn);
    }

    // A label that passes asks nothing: 0.8 of the girdle is 0.4 mm.
    QString error;
    ASSERT_TRUE(st().XML2Tree(label(textItem(QStringLiteral("Liberation Sans"), QStringLiteral("0.8"))), &error));
    EXPECT_TRUE(st().LegibilityFindings().empty());
}

TEST_F(LabelRefusalTest, APhotoIsEngravedWithItsOwnGamma)
{
    std::vector<std::size_t> marks;
    for (const char* gammaText : {"0.5", "2.5"}) {
        const QString gamma = QString::fromLatin1(gammaText);
        SCOPED_TRACE(gammaText);
        sim().clearMarks();
        engraveLabel(label(photoItem(scratch(QStringLiteral("ramp.png")), QStringLiteral("0.8"), gamma)));
        auto* photo = dynamic_cast<TGlyphPhoto*>(st().TreeViewGlyphs().Root(0)->Data());
        ASSERT_NE(photo, nullptr);
        ASSERT_TRUE(photo->Processed);
        // The dots the same picture gives at this gamma, dithered on their own.
        TDithering dithering;
        dithering.SourceImg = &photo->Bitmap;
        dithering.DitherWidth = photo->dotImageWidth();
        dithering.DitherHeight = photo->dotImageHeight();
        dithering.Gamma = gamma.toDouble();
        dithering.Execute();
        ASSERT_FALSE(dithering.DitherImg.isNull());
        std::size_t dots = 0;
        for (int y = 0; y < dithering.DitherImg.height(); ++y)
            for (int x = 0; x < dithering.DitherImg.width(); ++x)
                dots += dithering.DitherImg.constScanLine(y)[x] == 0 ? 1 : 0;
        // Within a few per cent of the dots of its own gamma; the two gammas differ by far more.
        EXPECT_NEAR(double(sim().markCount()), double(dots), 0.03 * double(dots));
        marks.push_back(sim().markCount());
    }
    EXPECT_GT(double(marks[1]), 1.5 * double(marks[0])) << "gamma 2.5 darkens the ramp";
}

} // namespace
} // namespace lapido
