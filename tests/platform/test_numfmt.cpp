// Number and date texts: the forms the store, the controller and the counters rely on.
#include "platform/numfmt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <string>

using namespace lapido;

struct FloatText {
    double value;
    const char* text;
};

class FloatToStrTest : public ::testing::TestWithParam<FloatText> {};

TEST_P(FloatToStrTest, ShortestGeneralFormWithPoint)
{
    EXPECT_EQ(FloatToStr(GetParam().value, QChar('.')).toStdString(), GetParam().text);
    EXPECT_EQ(FloatToStrPoint(GetParam().value), GetParam().text);
}

// The GUI application sets the C library's locale from the environment; the texts must not
// follow it.
TEST_P(FloatToStrTest, SameTextsWhenTheCLocaleWritesCommas)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    const char* comma = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8"})
        if (std::setlocale(LC_NUMERIC, name)) {
            comma = name;
            break;
        }
    if (!comma || std::string(std::localeconv()->decimal_point) != ",") {
        std::setlocale(LC_NUMERIC, saved.c_str());
        GTEST_SKIP() << "no comma locale installed";
    }
    const std::string point = FloatToStrPoint(GetParam().value);
    const std::string withComma = FloatToStr(GetParam().value, QChar(',')).toStdString();
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(point, GetParam().text) << comma;
    std::string expected = GetParam().text;
    std::replace(expected.begin(), expected.end(), '.', ',');
    EXPECT_EQ(withComma, expected) << comma;
}

INSTANTIATE_TEST_SUITE_P(Table, FloatToStrTest,
                         ::testing::Values(FloatText{0, "0"}, FloatText{0.5, "0.5"}, FloatText{10000, "10000"},
                                           FloatText{35, "35"}, FloatText{-2.25, "-2.25"},
                                           FloatText{0.0001, "0.0001"}, FloatText{1e-5, "0.00001"}, FloatText{1e-6, "1E-6"},
                                           FloatText{1.5e20, "1.5E20"}, FloatText{1e15, "1E15"},
                                           FloatText{123456789012345.0, "123456789012345"},
                                           FloatText{0.1 + 0.2, "0.3"},
                                           FloatText{1000.0 / 3.0, "333.333333333333"},
                                           FloatText{0.10471975511965977, "0.10471975511966"}));

TEST(FloatToStr, CommaLocaleUsesComma)
{
    EXPECT_EQ(FloatToStr(0.5, QChar(',')), QStringLiteral("0,5"));
    EXPECT_EQ(FloatToStr(12, QChar(',')), QStringLiteral("12"));
}

TEST(StrToFloat, AcceptsOnlyTheGivenSeparator)
{
    EXPECT_EQ(StrToFloat(QStringLiteral("0,5"), QChar(',')), 0.5);
    EXPECT_EQ(StrToFloat(QStringLiteral("0.5"), QChar(',')), std::nullopt);
    EXPECT_EQ(StrToFloat(QStringLiteral("0.5"), QChar('.')), 0.5);
    EXPECT_EQ(StrToFloat(QStringLiteral("0,5"), QChar('.')), std::nullopt);
}

TEST(StrToFloat, RejectsWhatIsNotANumber)
{
    for (const char* bad : {"", "abc", "1,000.5", "1.2.3", "inf", "nan", "-", ".", "1e", "0x10", "1 2", "5%"})
        EXPECT_EQ(StrToFloatPoint(bad), std::nullopt) << bad;
}

TEST(StrToFloat, AcceptsSignsExponentsAndSurroundingBlanks)
{
    EXPECT_EQ(StrToFloatPoint("-12.5"), -12.5);
    EXPECT_EQ(StrToFloatPoint("+3"), 3.0);
    EXPECT_EQ(StrToFloatPoint(" 2.5E3 "), 2500.0);
    EXPECT_EQ(StrToFloatPoint(".5"), 0.5);
    EXPECT_EQ(StrToFloatPoint("12.5000"), 12.5);
    EXPECT_EQ(StrToFloatPoint("1e400"), std::nullopt); // overflow is not a number the station can use
}

TEST(StrToFloat, RoundTripsEveryWrittenValue)
{
    for (double v : {0.5, 0.02, 1.0 / 3.0, 12345.678, -1e-7, 6.02e23, 0.10471975511965977})
        for (QChar sep : {QChar('.'), QChar(',')}) {
            const auto back = StrToFloat(FloatToStr(v, sep), sep);
            ASSERT_TRUE(back.has_value());
            EXPECT_NEAR(*back, v, std::abs(v) * 1e-14);
        }
}

TEST(StrToInt, WholeDecimalTextOnly)
{
    EXPECT_EQ(StrToInt(u"120"), 120);
    EXPECT_EQ(StrToInt(u"-5"), -5);
    for (const char16_t* bad : {u"", u"1.5", u" 5", u"5 ", u"abc", u"99999999999"})
        EXPECT_EQ(StrToInt(bad), std::nullopt);
    EXPECT_EQ(StrToInt64(u"99999999999"), 99999999999LL);
}

TEST(RoundHalfEven, TiesGoToTheEvenNeighbour)
{
    const std::pair<double, std::int64_t> cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {-0.5, 0}, {-1.5, -2},
                                                     {2.4999, 2}, {2.5001, 3}, {-1500.0, -1500}};
    for (auto [in, out] : cases)
        EXPECT_EQ(RoundHalfEven(in), out) << in;
}

TEST(GroupThousands, CommaEveryThreeDigitsFromTheRight)
{
    EXPECT_EQ(GroupThousands(1234567), QStringLiteral("1,234,567"));
    EXPECT_EQ(GroupThousands(999), QStringLiteral("999"));
    EXPECT_EQ(GroupThousands(1000), QStringLiteral("1,000"));
    EXPECT_EQ(GroupThousands(0), QStringLiteral("0"));
    EXPECT_EQ(GroupThousands(-1234), QStringLiteral("-1,234"));
}

TEST(DateTexts, UsFormAndLocaleForm)
{
    const QDateTime t(QDate(2026, 3, 4), QTime(5, 6, 7));
    // Month first always; the separators are the locale's.
    const std::pair<QLocale, const char*> usForms[] = {
        {QLocale(QLocale::English, QLocale::UnitedStates), "03/04/2026 05:06:07"},
        {QLocale(QLocale::German, QLocale::Germany), "03.04.2026 05:06:07"},
        {QLocale(QLocale::Dutch, QLocale::Netherlands), "03-04-2026 05:06:07"},
        {QLocale(QLocale::Finnish, QLocale::Finland), "03.04.2026 05.06.07"},
    };
    for (const auto& [locale, text] : usForms) {
        setUserLocale(locale);
        EXPECT_EQ(FormatUsDateTime(t), QString::fromLatin1(text)) << locale.name().toStdString();
    }
    setUserLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    const QString s = FormatShortDateLongTime(t);
    EXPECT_TRUE(s.contains(QStringLiteral("5:06:07"))) << s.toStdString();
    EXPECT_FALSE(s.contains(QStringLiteral("UTC"))) << s.toStdString();
    setUserLocale(QLocale::system());
}
