// Tests of custom fonts: one drawing per digit in a folder per font under the working folder.
#include "geometry/cadobjects.h"
#include "geometry/cadonpaintbox.h"
#include "geometry/contours.h"
#include "glyphs/customfonts.h"
#include "glyphs/fontoutlines.h"
#include "platform/debuglog.h"
#include "settings/settingskeys.h"

#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace lapido;

namespace {

// A working folder whose custom font "Stencil" holds ten digit drawings; the drawing of digit
// d is a rectangle d + 1 wide and 2 high, so its width-to-height ratio names the file it came from.
class CustomFontTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        m_working = scratch(QStringLiteral("station")) + QLatin1Char('/');
        keys::write(keys::WorkingDir, m_working);
        fontDir = m_working + QStringLiteral("CustomFontsFolder/Stencil/");
        ASSERT_TRUE(QDir().mkpath(fontDir));
        for (int d = 0; d <= 9; ++d)
            writeRectangle(fontDir + QString::number(d) + QStringLiteral(".lal"), d + 1, 2);
    }

    static void writeRectangle(const QString& file, double w, double h)
    {
        TCADOnPaintBox drawing;
        // Sides in scrambled order and direction: the outline chains them anyway.
        TCADLine::Create(drawing, Coord(0, 0), Coord(w, 0));
        TCADLine::Create(drawing, Coord(w, h), Coord(0, h));
        TCADLine::Create(drawing, Coord(w, h), Coord(w, 0));
        TCADLine::Create(drawing, Coord(0, 0), Coord(0, h));
        ASSERT_TRUE(drawing.SaveToFile(file));
    }

    struct Outline {
        std::unique_ptr<TContourList> contours;
        double cellIncX = -1;
        double blackBoxX = -1;
        double originX = -1;
    };
    static Outline outlineOf(const QString& font, char16_t code)
    {
        Outline o;
        o.contours = GetCharOutline(font, {}, code, o.cellIncX, o.blackBoxX, o.originX);
        return o;
    }

    QString m_working;
    QString fontDir;
};

TEST_F(CustomFontTest, DigitsComeFromTheirDrawings)
{
    for (const char* name : {"Stencil", "STENCIL", "stencil"}) {
        for (int d = 0; d <= 9; ++d) {
            SCOPED_TRACE(std::string(name) + " digit " + std::to_string(d));
            const Outline o = outlineOf(QString::fromLatin1(name), char16_t(u'0' + d));
            ASSERT_TRUE(o.contours);
            ASSERT_EQ(o.contours->Count(), 1);
            const TContour& c = o.contours->GetContour(0);
            EXPECT_EQ(c.Count(), 5);
            EXPECT_EQ(c[0], c[4]);
            EXPECT_DOUBLE_EQ(o.cellIncX, (d + 1) / 2.0);
            for (const TVertex& v : c) {
                EXPECT_GE(v.X, -1e-12);
                EXPECT_LE(v.X, o.cellIncX + 1e-12);
                EXPECT_NEAR(std::abs(v.Y), 0.5, 1e-12);
            }
            EXPECT_EQ(o.blackBoxX, -1) << "not set by custom fonts";
            EXPECT_EQ(o.originX, -1) << "not set by custom fonts";
        }
    }
}

TEST_F(CustomFontTest, OtherCharactersHaveNoOutline)
{
    for (char16_t code : {u'A', u'a', u' ', u'.', u'/', u':', char16_t(0x0660)}) {
        const Outline o = outlineOf(QStringLiteral("Stencil"), code);
        EXPECT_FALSE(o.contours) << int(code);
        EXPECT_EQ(o.cellIncX, -1);
    }
    EXPECT_EQ(GetFirstChar(QStringLiteral("Stencil")), u'0');
    EXPECT_EQ(GetLastChar(QStringLiteral("Stencil")), u'9');
    EXPECT_TRUE(FontHasChar(QStringLiteral("stencil"), u'5'));
    EXPECT_FALSE(FontHasChar(QStringLiteral("stencil"), u'A'));
}

TEST_F(CustomFontTest, MissingOrBrokenDigitDrawingGivesEmptyOutline)
{
    const struct {
        char16_t digit;
        QByteArray content; // empty: the file is removed
        const char* message; // what the operator is told
    } kCases[] = {
        {u'3', QByteArray(), "does not exist"},
        {u'4', QByteArray("[General]\r\nDescription=Something else\r\n"), "Invalid file format"},
        {u'5', QByteArray("\x00\x01\x02 not a drawing", 18), "Invalid file format"},
    };
    for (const auto& k : kCases) {
        SCOPED_TRACE(int(k.digit));
        const QString file = fontDir + QChar(k.digit) + QStringLiteral(".lal");
        ASSERT_TRUE(QFile::remove(file));
        if (!k.content.isEmpty()) {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(k.content);
        }
        m_dialogs.clear();
        DebugLogCapture log;
        const Outline o = outlineOf(QStringLiteral("Stencil"), k.digit);
        ASSERT_TRUE(o.contours);
        EXPECT_EQ(o.contours->Count(), 0);
        EXPECT_EQ(o.cellIncX, -1);
        EXPECT_FALSE(log.lines().empty());
        ASSERT_EQ(m_dialogs.texts().size(), 1);
        EXPECT_TRUE(m_dialogs.texts().first().endsWith(QString::fromLatin1(k.message))) << qPrintable(m_dialogs.texts().first());
    }
    // The other digits are unharmed.
    EXPECT_DOUBLE_EQ(outlineOf(QStringLiteral("Stencil"), u'7').cellIncX, 4.0);
}

TEST_F(CustomFontTest, CustomFontsComeFirstAndAreListedFirst)
{
    // A folder named like a stroke font takes its digits; its letters are gone.
    const QString romans = m_working + QStringLiteral("CustomFontsFolder/ROMANS/");
    ASSERT_TRUE(QDir().mkpath(romans));
    writeRectangle(romans + QStringLiteral("1.lal"), 3, 1);
    // A plain file beside the font folders is not a font.
    QFile stray(m_working + QStringLiteral("CustomFontsFolder/readme.txt"));
    ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
    stray.close();

    QStringList names;
    TCustomFonts().GetCustomFontNames(names);
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("ROMANS"), QStringLiteral("Stencil")}));

    EXPECT_DOUBLE_EQ(outlineOf(QStringLiteral("romans"), u'1').cellIncX, 3.0);
    EXPECT_FALSE(outlineOf(QStringLiteral("ROMANS"), u'A').contours);

    const QStringList usable = usableFontNames();
    ASSERT_GE(usable.size(), 5);
    EXPECT_TRUE(usable.mid(0, 2).contains(QStringLiteral("Stencil")));
    EXPECT_EQ(usable.indexOf(QStringLiteral("SCRIPTS")), 3);
}

// The check looks at the folder as it is now: a font made after the first look is found, and a
// look at a working folder without custom fonts creates nothing there.
TEST_F(CustomFontTest, AFontFolderMadeAfterTheFirstLookIsFound)
{
    EXPECT_FALSE(isCustomFont(QStringLiteral("Later")));
    const QString later = m_working + QStringLiteral("CustomFontsFolder/Later/");
    ASSERT_TRUE(QDir().mkpath(later));
    writeRectangle(later + QStringLiteral("5.lal"), 3, 1);
    EXPECT_TRUE(isCustomFont(QStringLiteral("later")));
    EXPECT_DOUBLE_EQ(outlineOf(QStringLiteral("Later"), u'5').cellIncX, 3.0);

    keys::write(keys::WorkingDir, scratch(QStringLiteral("plain")) + QLatin1Char('/'));
    EXPECT_FALSE(isCustomFont(QStringLiteral("Stencil")));
    EXPECT_FALSE(QFileInfo::exists(scratch(QStringLiteral("plain"))));
}

TEST_F(CustomFontTest, FolderIsCreatedWhenMissing)
{
    const QString other = scratch(QStringLiteral("fresh")) + QLatin1Char('/');
    keys::write(keys::WorkingDir, other);
    TCustomFonts fonts;
    EXPECT_TRUE(QFileInfo(other + QStringLiteral("CustomFontsFolder")).isDir());
    EXPECT_EQ(fonts.folder(), other + QStringLiteral("CustomFontsFolder"));
    QStringList names{QStringLiteral("kept")};
    fonts.GetCustomFontNames(names);
    EXPECT_EQ(names, QStringList{QStringLiteral("kept")});
    // The old working folder's font is no longer known.
    EXPECT_FALSE(isCustomFont(QStringLiteral("Stencil")));
}

} // namespace
