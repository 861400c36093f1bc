// INI profile file: parsing, lookup without regard to case, atomic save.
#include "platform/inifile.h"
#include "platform/savefile.h"

#include "platform/numfmt.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace lapido {

namespace {

// Sections with up to this many keys are searched by a scan, which is faster than hashing for
// the dozen keys of a drawing object; larger ones get an index.
constexpr std::size_t kScannedKeys = 16;

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

struct DecodedText {
    QString text;
    IniFile::Encoding encoding;
};

// Profile files come from older tools in a single-byte code page as often as in UTF-8.
DecodedText decode(const QByteArray& bytes)
{
    const bool bom = bytes.startsWith("\xEF\xBB\xBF");
    const QByteArrayView data = bom ? QByteArrayView(bytes).sliced(3) : QByteArrayView(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(data);
    if (!utf8.hasError())
        return {std::move(text), bom ? IniFile::Encoding::Utf8WithBom : IniFile::Encoding::Utf8};
    return {QString::fromLatin1(data), IniFile::Encoding::Latin1};
}

// A text that owns its characters: names and values read in place point into the file's
// text and must not outlive it.
QString ownedCopy(const QString& text)
{
    return QString(text.constData(), text.size());
}

bool fitsLatin1(const QString& text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() <= 0xFF; });
}

// A file read as Latin-1 goes back as Latin-1, so that the tools that made it still read it;
// only a value that Latin-1 cannot hold makes it UTF-8 rather than lose letters. So does a text
// whose Latin-1 bytes would be read back as other letters: once the comment that held the only
// byte UTF-8 refuses is gone, "\xC3\xA9" is no longer two Latin-1 letters but one UTF-8 letter.
QByteArray encode(const QString& text, IniFile::Encoding encoding)
{
    switch (encoding) {
    case IniFile::Encoding::Latin1:
        if (fitsLatin1(text)) {
            QByteArray bytes = text.toLatin1();
            if (decode(bytes).text == text)
                return bytes;
        }
        break;
    case IniFile::Encoding::Utf8WithBom:
        return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    case IniFile::Encoding::Utf8:
        break;
    }
    return text.toUtf8();
}

// The usual 15-digit text when it reads back as the same number, else the shortest text that
// does (up to 17 digits), so that a value written and read again is the value written.
QString exactFloatText(double value, QChar separator)
{
    QString text = FloatToStr(value, separator);
    if (!std::isfinite(value) || StrToFloat(text, separator) == value)
        return text;
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general);
    std::string s(buf, res.ptr);
    const auto e = s.find('e');
    if (e != std::string::npos) {
        const int exponent = std::atoi(s.c_str() + e + 1);
        s = s.substr(0, e) + "E" + std::to_string(exponent);
    }
    text = QString::fromStdString(s);
    if (separator != QChar('.'))
        text.replace(QChar('.'), separator);
    return text;
}

} // namespace

IniFile::IniFile(const QString& path)
{
    loadFromFile(path);
}

void IniFile::clear()
{
    // Entries may point into the text: they go first.
    m_sectionIndex.clear();
    m_sections.clear();
    m_lastSection = npos;
    m_text.clear();
}

bool IniFile::loadFromFile(const QString& path)
{
    m_fileName = path;
    m_error.clear();
    m_encoding = Encoding::Utf8;
    clear();
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return false;
    }
    DecodedText decoded = decode(file.readAll());
    loadText(std::move(decoded.text));
    m_encoding = decoded.encoding;
    return true;
}

void IniFile::loadFromText(const QString& text)
{
    loadText(ownedCopy(text));
}

void IniFile::loadText(QString text)
{
    clear();
    // Names and values are read in place: they point into the kept text instead of each
    // taking an allocation of its own, and every text handed out is a copy (ownedCopy).
    m_text = std::move(text);
    // Every section header holds a '[': room for that many sections up front spares the
    // repeated moves of a growing list and the rehashing of its index.
    const auto brackets = std::size_t(QStringView(m_text).count(u'['));
    m_sections.reserve(brackets);
    m_sectionIndex.reserve(brackets);
    auto inPlace = [](QStringView v) { return v.isEmpty() ? QString() : QString::fromRawData(v.data(), v.size()); };
    Section* current = nullptr;
    const QStringView all(m_text);
    for (qsizetype start = 0; start < all.size();) {
        qsizetype end = all.indexOf(u'\n', start);
        if (end < 0)
            end = all.size();
        const QStringView line = all.sliced(start, end - start).trimmed();
        start = end + 1;
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            const qsizetype close = line.indexOf(u']');
            const QStringView name = (close < 0 ? line.sliced(1) : line.sliced(1, close - 1)).trimmed();
            current = &sectionFor(inPlace(name));
            continue;
        }
        if (!current)
            continue; // a value outside any section has no address
        const qsizetype eq = line.indexOf(u'=');
        const QStringView key = (eq < 0 ? line : line.first(eq)).trimmed();
        if (key.isEmpty())
            continue;
        QStringView value = eq < 0 ? QStringView() : line.sliced(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
            value = value.sliced(1, value.size() - 2);
        // A repeated key keeps its first value, as a profile lookup finds the first line.
        current->add(inPlace(key), inPlace(value));
    }
}

namespace {

// A reader drops the blanks at either end of a value and one outer pair of quotes; a value
// that has either is written inside quotes, which the reader takes off again.
bool needsQuotes(const QString& value)
{
    if (value.isEmpty())
        return false;
    if (value.front().isSpace() || value.back().isSpace())
        return true;
    return value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"');
}

} // namespace

QString IniFile::toText() const
{
    qsizetype size = 0;
    for (const auto& s : m_sections) {
        size += s.name.size() + 6;
        for (const auto& e : s.entries)
            size += e.key.size() + e.value.size() + 5;
    }
    QString out;
    out.reserve(size);
    bool firstSection = true;
    for (const auto& s : m_sections) {
        if (!firstSection)
            out += QStringLiteral("\r\n");
        firstSection = false;
        out += u'[';
        out += s.name;
        out += QLatin1String("]\r\n");
        for (const auto& e : s.entries) {
            out += e.key;
            out += u'=';
            if (needsQuotes(e.value)) {
                out += u'"';
                out += e.value;
                out += u'"';
            } else {
                out += e.value;
            }
            out += QLatin1String("\r\n");
        }
    }
    return out;
}

bool IniFile::saveToFile(const QString& path) const
{
    m_fileName = path;
    m_error.clear();
    // Through the checked save: a bare commit can miss a write that failed at the final flush
    // and leave an empty file behind while reporting success.
    const QByteArray bytes = encode(toText(), m_encoding);
    m_error = writeWholeFile(path, QByteArrayView(bytes));
    return m_error.isEmpty();
}

std::size_t IniFile::NameHash::operator()(const QString& name) const
{
    // FNV-1a over the case-folded UTF-16 units; plain ASCII names are folded on the fly.
    std::uint64_t h = 14695981039346656037ULL;
    auto mix = [&h](char16_t u) {
        h ^= u;
        h *= 1099511628211ULL;
    };
    const bool ascii = std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii) {
        for (QChar c : name) {
            const char16_t u = c.unicode();
            mix(u >= u'A' && u <= u'Z' ? char16_t(u + 32) : u);
        }
    } else {
        for (QChar c : name.toCaseFolded())
            mix(c.unicode());
    }
    return std::size_t(h);
}

bool IniFile::NameEqual::operator()(const QString& a, const QString& b) const
{
    return sameName(a, b);
}

IniFile::Entry* IniFile::Section::find(const QString& key)
{
    if (keyIndex.empty()) {
        for (Entry& e : entries)
            if (sameName(e.key, key))
                return &e;
        return nullptr;
    }
    const auto it = keyIndex.find(key);
    return it == keyIndex.end() ? nullptr : &entries[it->second];
}

bool IniFile::Section::add(const QString& key, const QString& value)
{
    if (find(key))
        return false;
    append(key, value);
    return true;
}

void IniFile::Section::append(const QString& key, const QString& value)
{
    entries.push_back(Entry{key, value});
    if (!keyIndex.empty())
        keyIndex.emplace(key, entries.size() - 1);
    else if (entries.size() > kScannedKeys)
        rebuildIndex();
}

void IniFile::Section::rebuildIndex()
{
    keyIndex.clear();
    if (entries.size() <= kScannedKeys)
        return;
    keyIndex.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        keyIndex.emplace(entries[i].key, i); // keeps the first of equal names
}

const IniFile::Section* IniFile::findSection(const QString& name) const
{
    return const_cast<IniFile*>(this)->findSection(name);
}

IniFile::Section* IniFile::findSection(const QString& name)
{
    // Readers and writers take one section's keys one after another: the section of the last
    // lookup is tried before the index.
    if (m_lastSection < m_sections.size() && sameName(m_sections[m_lastSection].name, name))
        return &m_sections[m_lastSection];
    const auto it = m_sectionIndex.find(name);
    if (it == m_sectionIndex.end())
        return nullptr;
    m_lastSection = it->second;
    return &m_sections[it->second];
}

IniFile::Section& IniFile::sectionFor(const QString& name)
{
    if (Section* s = findSection(name))
        return *s;
    m_sectionIndex.emplace(name, m_sections.size());
    m_sections.push_back(Section{name, {}, {}});
    m_lastSection = m_sections.size() - 1;
    return m_sections.back();
}

void IniFile::rebuildSectionIndex()
{
    m_lastSection = npos;
    m_sectionIndex.clear();
    m_sectionIndex.reserve(m_sections.size());
    for (std::size_t i = 0; i < m_sections.size(); ++i)
        m_sectionIndex.emplace(m_sections[i].name, i);
}

std::optional<QString> IniFile::value(const QString& section, const QString& key) const
{
    const Section* s = findSection(section);
    if (!s)
        return std::nullopt;
    if (const Entry* e = s->find(key))
        return ownedCopy(e->value);
    return std::nullopt;
}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
    return value(section, key).value_or(defaultValue);
}

std::int64_t IniFile::ReadInteger(const QString& section, const QString& key, std::int64_t defaultValue) const
{
    const auto v = value(section, key);
    if (!v)
        return defaultValue;
    const QString text = v->trimmed();
    if (text.startsWith(u'$') || text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        bool ok = false;
        const qlonglong n = text.mid(text.startsWith(u'$') ? 1 : 2).toLongLong(&ok, 16);
        return ok ? n : defaultValue;
    }
    return StrToInt64(text).value_or(defaultValue);
}

double IniFile::ReadFloat(const QString& section, const QString& key, double defaultValue, QChar separator) const
{
    const auto v = value(section, key);
    if (!v)
        return defaultValue;
    return StrToFloat(*v, separator).value_or(defaultValue);
}

bool IniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    Section& s = sectionFor(section);
    if (Entry* e = s.find(key))
        e->value = value;
    else
        s.append(key, value);
}

void IniFile::WriteInteger(const QString& section, const QString& key, std::int64_t value)
{
    WriteString(section, key, QString::number(value));
}

void IniFile::WriteFloat(const QString& section, const QString& key, double value, QChar separator)
{
    WriteString(section, key, exactFloatText(value, separator));
}

void IniFile::WriteBool(const QString& section, const QString& key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool IniFile::SectionExists(const QString& section) const
{
    return findSection(section) != nullptr;
}

bool IniFile::ValueExists(const QString& section, const QString& key) const
{
    return value(section, key).has_value();
}

QStringList IniFile::ReadSections() const
{
    QStringList out;
    out.reserve(qsizetype(m_sections.size()));
    for (const auto& s : m_sections)
        out << ownedCopy(s.name);
    return out;
}

QStringList IniFile::ReadSection(const QString& section) const
{
    QStringList out;
    if (const Section* s = findSection(section))
        for (const auto& e : s->entries)
            out << ownedCopy(e.key);
    return out;
}

void IniFile::EraseSection(const QString& section)
{
    if (!findSection(section))
        return;
    std::erase_if(m_sections, [&](const Section& s) { return sameName(s.name, section); });
    rebuildSectionIndex();
}

void IniFile::DeleteKey(const QString& section, const QString& key)
{
    Section* s = findSection(section);
    if (!s || !s->find(key))
        return;
    std::erase_if(s->entries, [&](const Entry& e) { return sameName(e.key, key); });
    s->rebuildIndex();
}

} // namespace lapido
