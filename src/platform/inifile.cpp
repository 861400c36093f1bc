// INI profile file: parsing, lookup without regard to case, atomic save.
#include "platform/inifile.h"

#include "platform/numfmt.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace lapido {

namespace {

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Profile files come from older tools in a single-byte code page as often as in UTF-8.
QString decode(const QByteArray& bytes)
{
    QByteArray data = bytes;
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(data);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(data);
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
    m_sections.clear();
}

bool IniFile::loadFromFile(const QString& path)
{
    m_fileName = path;
    m_error.clear();
    clear();
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return false;
    }
    loadFromText(decode(file.readAll()));
    return true;
}

void IniFile::loadFromText(const QString& text)
{
    clear();
    Section* current = nullptr;
    const auto lines = QStringView(text).split(u'\n');
    for (QStringView raw : lines) {
        const QStringView line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            const qsizetype close = line.indexOf(u']');
            const QString name = (close < 0 ? line.mid(1) : line.mid(1, close - 1)).trimmed().toString();
            current = &sectionFor(name);
            continue;
        }
        if (!current)
            continue; // a value outside any section has no address
        const qsizetype eq = line.indexOf(u'=');
        const QString key = (eq < 0 ? line : line.left(eq)).trimmed().toString();
        if (key.isEmpty())
            continue;
        QString value = eq < 0 ? QString() : line.mid(eq + 1).trimmed().toString();
        if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
            value = value.mid(1, value.size() - 2);
        // A repeated key keeps its first value, as a profile lookup finds the first line.
        if (!ValueExists(current->name, key))
            current->entries.push_back(Entry{key, value});
    }
}

QString IniFile::toText() const
{
    QString out;
    bool firstSection = true;
    for (const auto& s : m_sections) {
        if (!firstSection)
            out += QStringLiteral("\r\n");
        firstSection = false;
        out += u'[' + s.name + QStringLiteral("]\r\n");
        for (const auto& e : s.entries)
            out += e.key + u'=' + e.value + QStringLiteral("\r\n");
    }
    return out;
}

bool IniFile::saveToFile(const QString& path) const
{
    m_fileName = path;
    m_error.clear();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = file.errorString();
        return false;
    }
    const QByteArray bytes = toText().toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        m_error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

const IniFile::Section* IniFile::findSection(const QString& name) const
{
    for (const auto& s : m_sections)
        if (sameName(s.name, name))
            return &s;
    return nullptr;
}

IniFile::Section& IniFile::sectionFor(const QString& name)
{
    for (auto& s : m_sections)
        if (sameName(s.name, name))
            return s;
    m_sections.push_back(Section{name, {}});
    return m_sections.back();
}

std::optional<QString> IniFile::value(const QString& section, const QString& key) const
{
    const Section* s = findSection(section);
    if (!s)
        return std::nullopt;
    for (const auto& e : s->entries)
        if (sameName(e.key, key))
            return e.value;
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
    for (auto& e : s.entries) {
        if (sameName(e.key, key)) {
            e.value = value;
            return;
        }
    }
    s.entries.push_back(Entry{key, value});
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
    for (const auto& s : m_sections)
        out << s.name;
    return out;
}

QStringList IniFile::ReadSection(const QString& section) const
{
    QStringList out;
    if (const Section* s = findSection(section))
        for (const auto& e : s->entries)
            out << e.key;
    return out;
}

void IniFile::EraseSection(const QString& section)
{
    std::erase_if(m_sections, [&](const Section& s) { return sameName(s.name, section); });
}

void IniFile::DeleteKey(const QString& section, const QString& key)
{
    for (auto& s : m_sections)
        if (sameName(s.name, section))
            std::erase_if(s.entries, [&](const Entry& e) { return sameName(e.key, key); });
}

} // namespace lapido
