// Number and date formatting.
#include "platform/numfmt.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace lapido {

namespace {
std::mutex g_localeMutex;
std::optional<QLocale> g_locale;
} // namespace

QLocale userLocale()
{
    std::lock_guard lock(g_localeMutex);
    if (!g_locale)
        g_locale = QLocale::system();
    return *g_locale;
}

void setUserLocale(const QLocale& locale)
{
    std::lock_guard lock(g_localeMutex);
    g_locale = locale;
}

QChar decimalSeparator()
{
    const QString dp = userLocale().decimalPoint();
    return dp.isEmpty() ? QChar('.') : dp.at(0);
}

namespace {

// General format with 15 significant digits, trailing zeros dropped, exponent written as
// "E", "E-5", "E20" (no plus sign, no leading zeros) once it leaves the fixed range.
std::string generalFormat(double value)
{
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value > 0 ? "INF" : "-INF";
    if (value == 0)
        return "0";
    // to_chars rather than printf: printf follows the C locale, which the GUI application sets
    // from the environment, and would write "2,0e-01" in a comma locale.
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
    // buf: [-]d.dddddddddddddde[+-]xx
    std::string s(buf, res.ptr);
    const auto epos = s.find('e');
    int exponent = std::atoi(s.c_str() + epos + 1);
    std::string mant = s.substr(0, epos);
    bool negative = mant[0] == '-';
    if (negative)
        mant.erase(0, 1);
    std::string digits;
    for (char c : mant)
        if (c != '.')
            digits.push_back(c);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    std::string out;
    if (exponent >= 15 || exponent < -5) {
        out = digits.substr(0, 1);
        if (digits.size() > 1)
            out += "." + digits.substr(1);
        out += "E" + std::to_string(exponent);
    } else if (exponent < 0) {
        out = "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    } else {
        const auto intLen = static_cast<size_t>(exponent + 1);
        if (digits.size() <= intLen) {
            out = digits + std::string(intLen - digits.size(), '0');
        } else {
            out = digits.substr(0, intLen) + "." + digits.substr(intLen);
        }
    }
    return negative ? "-" + out : out;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Validates the strict number form with '.' as separator and converts it.
std::optional<double> parsePointNumber(std::string_view s)
{
    s = trimmedAscii(s);
    if (s.empty())
        return std::nullopt;
    size_t i = 0;
    std::string norm;
    if (s[i] == '+' || s[i] == '-') {
        if (s[i] == '-')
            norm.push_back('-');
        ++i;
    }
    size_t intDigits = 0, fracDigits = 0;
    while (i < s.size() && isDigit(s[i])) {
        norm.push_back(s[i++]);
        ++intDigits;
    }
    if (i < s.size() && s[i] == '.') {
        norm.push_back('.');
        ++i;
        while (i < s.size() && isDigit(s[i])) {
            norm.push_back(s[i++]);
            ++fracDigits;
        }
    }
    if (intDigits + fracDigits == 0)
        return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        norm.push_back('e');
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            norm.push_back(s[i++]);
        size_t expDigits = 0;
        while (i < s.size() && isDigit(s[i])) {
            norm.push_back(s[i++]);
            ++expDigits;
        }
        if (expDigits == 0)
            return std::nullopt;
    }
    if (i != s.size())
        return std::nullopt;
    double v = 0;
    const char* first = norm.data();
    const char* last = norm.data() + norm.size();
    auto [ptr, ec] = std::from_chars(first, last, v);
    if (ptr != last || ec != std::errc())
        return std::nullopt;
    if (!std::isfinite(v))
        return std::nullopt;
    return v;
}

} // namespace

QString FloatToStr(double value, QChar separator)
{
    QString s = QString::fromStdString(generalFormat(value));
    if (separator != QChar('.'))
        s.replace(QChar('.'), separator);
    return s;
}

QString FloatToStr(double value)
{
    return FloatToStr(value, decimalSeparator());
}

std::string FloatToStrPoint(double value)
{
    return generalFormat(value);
}

std::optional<double> StrToFloat(const QString& text, QChar separator)
{
    QString t = text;
    if (separator != QChar('.')) {
        if (t.contains(QChar('.')))
            return std::nullopt;
        t.replace(separator, QChar('.'));
    }
    for (QChar c : t)
        if (c.unicode() > 127)
            return std::nullopt;
    const QByteArray latin = t.toLatin1();
    return parsePointNumber(std::string_view(latin.constData(), static_cast<size_t>(latin.size())));
}

std::optional<double> StrToFloat(const QString& text)
{
    return StrToFloat(text, decimalSeparator());
}

std::string_view trimmedAscii(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

std::optional<double> StrToFloatPoint(std::string_view text)
{
    return parsePointNumber(text);
}

std::optional<std::int64_t> StrToInt64(QStringView text)
{
    if (text.isEmpty())
        return std::nullopt;
    std::string s;
    s.reserve(static_cast<size_t>(text.size()));
    for (QChar c : text) {
        if (c.unicode() > 127)
            return std::nullopt;
        s.push_back(static_cast<char>(c.unicode()));
    }
    size_t start = 0;
    if (s[0] == '+')
        start = 1;
    std::int64_t v = 0;
    auto [ptr, ec] = std::from_chars(s.data() + start, s.data() + s.size(), v);
    if (ec != std::errc() || ptr != s.data() + s.size() || start == s.size())
        return std::nullopt;
    if (start == 1 && s.size() > 1 && s[1] == '-')
        return std::nullopt;
    return v;
}

std::optional<int> StrToInt(QStringView text)
{
    auto v = StrToInt64(text);
    if (!v || *v < INT32_MIN || *v > INT32_MAX)
        return std::nullopt;
    return static_cast<int>(*v);
}

std::int64_t RoundHalfEven(double value)
{
    const double r = std::nearbyint(value); // default rounding mode: to nearest, ties to even
    if (!(r > -9.2e18 && r < 9.2e18))
        return r > 0 ? INT64_MAX : (r < 0 ? INT64_MIN : 0);
    return static_cast<std::int64_t>(r);
}

QString GroupThousands(std::int64_t value)
{
    const bool negative = value < 0;
    std::string digits = std::to_string(value);
    if (negative)
        digits.erase(0, 1);
    std::string out;
    const size_t n = digits.size();
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            out.push_back(',');
        out.push_back(digits[i]);
    }
    return QString::fromStdString(negative ? "-" + out : out);
}

namespace {

// The first separator of a date or time format ("dd.MM.yy" gives '.'), quoted text skipped.
QChar formatSeparator(const QString& format, QChar fallback)
{
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QChar('\''))
            quoted = !quoted;
        else if (!quoted && !c.isLetter() && !c.isSpace())
            return c;
    }
    return fallback;
}

QString twoDigits(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QChar('0'));
}

} // namespace

QString FormatUsDateTime(const QDateTime& when)
{
    const QLocale loc = userLocale();
    const QChar d = formatSeparator(loc.dateFormat(QLocale::ShortFormat), QChar('/'));
    const QChar t = formatSeparator(loc.timeFormat(QLocale::LongFormat), QChar(':'));
    const QDate date = when.date();
    const QTime time = when.time();
    return twoDigits(date.month()) + d + twoDigits(date.day()) + d + QStringLiteral("%1").arg(date.year(), 4, 10, QChar('0'))
           + QChar(' ') + twoDigits(time.hour()) + t + twoDigits(time.minute()) + t + twoDigits(time.second());
}

QChar DateSeparator(const QLocale& locale)
{
    return formatSeparator(locale.dateFormat(QLocale::ShortFormat), QChar('/'));
}

QChar TimeSeparator(const QLocale& locale)
{
    return formatSeparator(locale.timeFormat(QLocale::ShortFormat), QChar(':'));
}

QString FormatLocaleSeparatedDate(const QDate& day, const QLocale& locale)
{
    // Fields by number so that the text does not depend on the locale's digits or month names.
    const QChar d = DateSeparator(locale);
    return twoDigits(day.month()) + d + twoDigits(day.day()) + d
           + QStringLiteral("%1").arg(day.year(), 4, 10, QChar('0'));
}

QString FormatLocaleSeparatedDateTime(const QDateTime& when, const QLocale& locale)
{
    const QChar t = TimeSeparator(locale);
    const QTime time = when.time();
    return FormatLocaleSeparatedDate(when.date(), locale) + QChar(' ') + twoDigits(time.hour()) + t
           + twoDigits(time.minute()) + t + twoDigits(time.second());
}

QString FormatShortDateLongTime(const QDateTime& when)
{
    const QLocale loc = userLocale();
    QString timeFormat = loc.timeFormat(QLocale::LongFormat);
    // The long time of the station carries no time zone.
    timeFormat.remove(QStringLiteral(" t"));
    timeFormat.remove(QChar('t'));
    return loc.toString(when.date(), QLocale::ShortFormat) + QChar(' ')
           + loc.toString(when.time(), timeFormat.trimmed());
}

} // namespace lapido
