// Number and date texts shared by the whole station: store floats, controller numbers, stamps.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lapido {

// The user's locale for numbers and dates (from LC_ALL / LC_NUMERIC / LANG).
QLocale userLocale();
// Overrides the user's locale for this process (tests, and a switch for service use).
void setUserLocale(const QLocale& locale);
QChar decimalSeparator();

// Shortest general float-to-text with up to 15 significant digits: "10000", "0.5", "1E-5",
// "1.5E20". The separator is the user's locale's unless given.
QString FloatToStr(double value);
QString FloatToStr(double value, QChar separator);
// The same form with a point, for controller commands (gear ratio, variables).
std::string FloatToStrPoint(double value);

// Text to float with the user's locale: optional blanks around, optional sign, digits with at
// most one separator, optional exponent. No group separators, no "inf"/"nan".
std::optional<double> StrToFloat(const QString& text);
std::optional<double> StrToFloat(const QString& text, QChar separator);
// Same rules with a point only (controller replies, numbers typed into edit boxes).
std::optional<double> StrToFloatPoint(std::string_view text);

// The text without blanks and control characters (codes up to 32) at either end.
std::string_view trimmedAscii(std::string_view text);

// Decimal integer with optional sign, nothing else (no blanks, no fraction).
std::optional<std::int64_t> StrToInt64(QStringView text);
std::optional<int> StrToInt(QStringView text);

// Round half to even, as the controller command templates need.
std::int64_t RoundHalfEven(double value);

// "1234567" -> "1,234,567", independent of the locale.
QString GroupThousands(std::int64_t value);

// "mm/dd/yyyy hh:nn:ss", month first, with the user's locale's date and time separators in
// place of "/" and ":" (backup time, maintenance records).
QString FormatUsDateTime(const QDateTime& when);
// The separator between the parts of the locale's short date ("/" in the US, "." in Germany)
// and of its time (":" almost everywhere); "/" and ":" when the formats show none.
QChar DateSeparator(const QLocale& locale);
QChar TimeSeparator(const QLocale& locale);
// "mm/dd/yyyy hh:nn:ss" with the locale's date and time separators in place of "/" and ":"
// (the last-backup time), and the date part alone.
QString FormatLocaleSeparatedDateTime(const QDateTime& when, const QLocale& locale);
QString FormatLocaleSeparatedDate(const QDate& day, const QLocale& locale);
// The locale's short date, a blank, the locale's long time (trace file stamps).
QString FormatShortDateLongTime(const QDateTime& when);

} // namespace lapido
