// INI profile file: case-insensitive lookup, kept order, number forms, atomic save.
#include "platform/inifile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

using lapido::IniFile;

namespace {

const char* const kSample =
    "; made by hand\r\n"
    "[General]\r\n"
    "Description = VeduvAZU Drawing\r\n"
    "Version=1\r\n"
    "\r\n"
    "[Object_2]\r\n"
    "Type=TCADLine\r\n"
    "Quoted=\" padded \"\r\n"
    "Type=ignored second\r\n"
    "[Object_1]\r\n"
    "X=1,5\r\n"
    "Hex=$1F\r\n";

} // namespace

TEST(IniFileTest, LookupIgnoresCaseAndKeepsOrder)
{
    IniFile ini;
    ini.loadFromText(QString::fromLatin1(kSample));
    EXPECT_EQ(ini.ReadString("general", "DESCRIPTION", {}), "VeduvAZU Drawing");
    EXPECT_EQ(ini.ReadString("OBJECT_2", "type", {}), "TCADLine");
    EXPECT_EQ(ini.ReadString("Object_2", "Quoted", {}), " padded ");
    EXPECT_EQ(ini.ReadString("Object_9", "Type", "none"), "none");
    EXPECT_EQ(ini.ReadSections(), (QStringList{"General", "Object_2", "Object_1"}));
    EXPECT_EQ(ini.ReadSection("object_2"), (QStringList{"Type", "Quoted"}));

    // A rewrite keeps the first spelling and place.
    ini.WriteString("GENERAL", "version", "2");
    EXPECT_EQ(ini.ReadSection("General"), (QStringList{"Description", "Version"}));
    EXPECT_EQ(ini.ReadInteger("General", "Version", 0), 2);
}

TEST(IniFileTest, NumbersUseTheGivenSeparatorAndFallBackToDefaults)
{
    IniFile ini;
    ini.loadFromText(QString::fromLatin1(kSample));
    EXPECT_DOUBLE_EQ(ini.ReadFloat("Object_1", "X", -1, u','), 1.5);
    EXPECT_DOUBLE_EQ(ini.ReadFloat("Object_1", "X", -1, u'.'), -1);
    EXPECT_EQ(ini.ReadInteger("Object_1", "Hex", 0), 31);
    EXPECT_EQ(ini.ReadInteger("Object_1", "X", 7), 7);
    EXPECT_EQ(ini.ReadInteger("Object_1", "Missing", 7), 7);

    ini.WriteFloat("F", "short", 0.1, u',');
    EXPECT_EQ(ini.ReadString("F", "short", {}), "0,1");
    const double values[] = {0.0, -2.5, 1e-5, 1.5e20, M_PI, 123456789.123, 0.1 + 0.2, -1e-300};
    for (double v : values) {
        for (QChar sep : {QChar(u'.'), QChar(u',')}) {
            ini.WriteFloat("F", "v", v, sep);
            EXPECT_EQ(ini.ReadFloat("F", "v", NAN, sep), v) << v;
        }
    }
}

TEST(IniFileTest, EraseAndDelete)
{
    IniFile ini;
    ini.loadFromText(QString::fromLatin1(kSample));
    ini.DeleteKey("object_2", "TYPE");
    EXPECT_FALSE(ini.ValueExists("Object_2", "Type"));
    EXPECT_TRUE(ini.ValueExists("Object_2", "Quoted"));
    ini.EraseSection("OBJECT_1");
    EXPECT_FALSE(ini.SectionExists("Object_1"));
    EXPECT_EQ(ini.ReadSections(), (QStringList{"General", "Object_2"}));
}

TEST(IniFileTest, SaveAndLoadRoundTrip)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("round.ini");

    IniFile missing(path);
    EXPECT_TRUE(missing.ReadSections().isEmpty());

    IniFile ini;
    ini.WriteString("General", "Name", QString::fromUtf8("Ångström = 1"));
    ini.WriteInteger("General", "Count", -42);
    ini.WriteBool("Flags", "On", true);
    ASSERT_TRUE(ini.saveToFile(path));

    IniFile back(path);
    EXPECT_EQ(back.toText(), ini.toText());
    EXPECT_EQ(back.ReadString("general", "name", {}), QString::fromUtf8("Ångström = 1"));
    EXPECT_EQ(back.ReadInteger("General", "Count", 0), -42);
    EXPECT_TRUE(back.ReadBool("Flags", "On", false));

    // A save into a folder that does not exist fails and says so.
    EXPECT_FALSE(ini.saveToFile(dir.filePath("no/such/folder/x.ini")));
    EXPECT_FALSE(ini.errorString().isEmpty());
}

TEST(IniFileTest, EveryValueReadsBackAsWritten)
{
    // Blanks at either end and an outer pair of quotes are what a reader strips; a value that
    // has them must come back with them all the same.
    const QStringList values{QStringLiteral("  padded "), QStringLiteral("\"quoted\""), QStringLiteral("\"\""),
                             QStringLiteral(" "), QStringLiteral("\t"), QStringLiteral("\""), QStringLiteral("a \"b\" c"),
                             QStringLiteral("\" half"), QString::fromUtf8("\u00a0nbsp"), QString()};
    IniFile ini;
    for (int i = 0; i < values.size(); ++i)
        ini.WriteString(QStringLiteral("S"), QStringLiteral("K%1").arg(i), values[i]);
    IniFile back;
    back.loadFromText(ini.toText());
    for (int i = 0; i < values.size(); ++i)
        EXPECT_EQ(back.ReadString(QStringLiteral("S"), QStringLiteral("K%1").arg(i), QStringLiteral("missing")), values[i])
            << "value " << i;
}

TEST(IniFileTest, SingleByteFilesStillLoad)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("latin.ini");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[S]\nName=Stra\xDF" "e\n");
    f.close();
    IniFile ini(path);
    EXPECT_EQ(ini.ReadString("S", "Name", {}), QString::fromUtf8("Straße"));
}

TEST(IniFileTest, RepeatedNamesInAnyCaseKeepTheFirst)
{
    IniFile ini;
    ini.loadFromText(QStringLiteral("[Obj]\nType=first\n[OBJ]\nTYPE=second\nColor=red\n[obj]\ncolor=blue\n"));
    EXPECT_EQ(ini.ReadSections(), QStringList{"Obj"});
    EXPECT_EQ(ini.ReadSection("obj"), (QStringList{"Type", "Color"}));
    EXPECT_EQ(ini.ReadString("obj", "type", {}), "first");
    EXPECT_EQ(ini.ReadString("OBJ", "COLOR", {}), "red");

    // After a key or section is removed, the names that remain are still found.
    ini.WriteString("Other", "A", "1");
    ini.WriteString("Obj", "Size", "3");
    ini.DeleteKey("obj", "TYPE");
    EXPECT_EQ(ini.ReadString("Obj", "size", {}), "3");
    EXPECT_EQ(ini.ReadString("Obj", "color", {}), "red");
    ini.EraseSection("OBJ");
    EXPECT_EQ(ini.ReadString("other", "a", {}), "1");
    ini.WriteString("Obj", "Type", "again");
    EXPECT_EQ(ini.ReadSections(), (QStringList{"Other", "Obj"}));
}

// Large sections are found through an index: the same rules must hold there.
TEST(IniFileTest, LargeSectionsFollowTheSameNameRules)
{
    QString text = QStringLiteral("[Big]\n");
    for (int i = 0; i < 40; ++i)
        text += QStringLiteral("Key%1=%1\n").arg(i);
    text += QString::fromUtf8("KEY5=second\n\u00c4rger=first\n\u00e4RGER=second\n");
    for (int i = 0; i < 30; ++i)
        text += QStringLiteral("[S%1]\nA=%1\n").arg(i);
    text += QStringLiteral("[s7]\nA=second\nB=added\n");
    IniFile ini;
    ini.loadFromText(text);
    EXPECT_EQ(ini.ReadSection("BIG").size(), 41);
    EXPECT_EQ(ini.ReadString("big", "key5", {}), "5");
    EXPECT_EQ(ini.ReadString("big", "KEY39", {}), "39");
    EXPECT_EQ(ini.ReadString("Big", QString::fromUtf8("\u00c4RGER"), {}), "first");
    EXPECT_EQ(ini.ReadSections().size(), 31);
    EXPECT_EQ(ini.ReadString("S7", "a", {}), "7");
    EXPECT_EQ(ini.ReadString("S7", "b", {}), "added");

    ini.WriteString("BIG", "key12", "changed");
    ini.WriteString("big", "New", "n");
    ini.DeleteKey("Big", "KEY0");
    EXPECT_EQ(ini.ReadString("Big", "Key12", {}), "changed");
    EXPECT_EQ(ini.ReadString("Big", "NEW", {}), "n");
    EXPECT_FALSE(ini.ValueExists("Big", "Key0"));
    EXPECT_EQ(ini.ReadString("Big", "Key1", {}), "1");
    ini.EraseSection("s0");
    EXPECT_EQ(ini.ReadString("S29", "A", {}), "29");
    EXPECT_FALSE(ini.SectionExists("S0"));
}

// A file goes back in the encoding it came in, so that the tool that made it can still read
// the letters that were not changed.
TEST(IniFileTest, SaveKeepsTheEncodingTheFileWasReadIn)
{
    struct Case {
        const char* name;
        QByteArray original;
        QString newValue;
        QByteArray expected;
    };
    const QString strasse = QString::fromUtf8("Stra\u00dfe");
    const QString omega = QString::fromUtf8("\u03a9");
    const Case cases[] = {
        {"latin1", QByteArray("[S]\r\nName=Stra\xDF" "e\r\n"), strasse,
         QByteArray("[S]\r\nName=Stra\xDF" "e\r\nNew=Stra\xDF" "e\r\n")},
        {"utf8", QByteArray("[S]\r\nName=Stra\xC3\x9F" "e\r\n"), strasse,
         QByteArray("[S]\r\nName=Stra\xC3\x9F" "e\r\nNew=Stra\xC3\x9F" "e\r\n")},
        {"utf8 with byte-order mark", QByteArray("\xEF\xBB\xBF[S]\r\nName=x\r\n"), strasse,
         QByteArray("\xEF\xBB\xBF[S]\r\nName=x\r\nNew=Stra\xC3\x9F" "e\r\n")},
        // Latin-1 cannot hold an omega: UTF-8 rather than a lost letter.
        {"latin1 with a wider letter", QByteArray("[S]\r\nName=Stra\xDF" "e\r\n"), omega,
         QByteArray("[S]\r\nName=Stra\xC3\x9F" "e\r\nNew=\xCE\xA9\r\n")},
        // Without the comment's lone Latin-1 byte, the value's bytes would read back as UTF-8:
        // "\xC3\xA9" as one letter instead of two.
        {"latin1 that reads as other letters in UTF-8", QByteArray("; K\xFChler\r\n[S]\r\nName=\xC3\xA9\r\n"),
         QStringLiteral("x"), QByteArray("[S]\r\nName=\xC3\x83\xC2\xA9\r\nNew=x\r\n")},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const Case& c : cases) {
        const QString path = dir.filePath(QString::fromLatin1(c.name) + ".ini");
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.original);
        f.close();
        IniFile ini(path);
        ini.WriteString("S", "New", c.newValue);
        ASSERT_TRUE(ini.saveToFile(path)) << c.name;
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), c.expected) << c.name;
        f.close();
    }
}
