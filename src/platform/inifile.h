// An INI profile file in memory: case-insensitive sections and keys that keep their order.
#pragma once

#include <QChar>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace lapido {

// Reads and writes profile files the way the station's companion programs expect:
// "[Section]" headers and "Key=Value" lines, names compared without regard to case and kept in
// the spelling of their first write, sections and keys in the order they were first seen.
// Lines starting with ';' are comments and are not kept. Blanks around names and values are
// dropped; a value wrapped in a pair of double quotes loses them, so a value with blanks at
// either end or an outer pair of quotes is written quoted and reads back as it was. A missing
// file reads as empty.
// Sections, and the keys of any section with more than a few of them, are found through hash
// tables of their case-folded names, so each lookup or write costs the same however large the
// file, and reading or writing a whole file is linear in its size.
// A file is written back in the encoding it was read in (UTF-8, with or without its byte-order
// mark, or Latin-1); new files are UTF-8.
class IniFile {
public:
    IniFile() = default;
    // Loads path at once when given (missing or unreadable: empty).
    explicit IniFile(const QString& path);

    // Replaces the content. loadFromFile is false when the file exists but cannot be read.
    bool loadFromFile(const QString& path);
    void loadFromText(const QString& text);
    // The whole file as text, lines ended by "\r\n".
    QString toText() const;
    // Writes to a temporary file and renames it over path: never a half-written file.
    // Returns false (and leaves the old file) when that fails; errorString() says why.
    bool saveToFile(const QString& path) const;
    // The path given to the constructor or the last load or save.
    const QString& fileName() const { return m_fileName; }
    const QString& errorString() const { return m_error; }

    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
    // Decimal with optional sign, or hexadecimal as "0x1F" or "$1F"; anything else gives the
    // default.
    std::int64_t ReadInteger(const QString& section, const QString& key, std::int64_t defaultValue) const;
    // Float with the given decimal separator (no group separators); unparsable gives the default.
    double ReadFloat(const QString& section, const QString& key, double defaultValue, QChar separator) const;
    // "1"/"0" as written by WriteBool; any other integer is true when non-zero.
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;

    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, std::int64_t value);
    // General form with the given separator: 15 significant digits when they read back as the
    // same number, else as many (up to 17) as needed for that.
    void WriteFloat(const QString& section, const QString& key, double value, QChar separator);
    void WriteBool(const QString& section, const QString& key, bool value);

    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;
    QStringList ReadSections() const;
    // Key names of one section, in file order.
    QStringList ReadSection(const QString& section) const;
    void EraseSection(const QString& section);
    void DeleteKey(const QString& section, const QString& key);
    void clear();

    // The raw value, nullopt when absent.
    std::optional<QString> value(const QString& section, const QString& key) const;

    enum class Encoding { Utf8, Utf8WithBom, Latin1 };
    // How the last loaded file was encoded (Utf8 for text and for a missing file); a save
    // writes this encoding.
    Encoding encoding() const { return m_encoding; }
    void setEncoding(Encoding encoding) { m_encoding = encoding; }

private:
    // Names compare without regard to case; the hash agrees with that comparison.
    struct NameHash {
        std::size_t operator()(const QString& name) const;
    };
    struct NameEqual {
        bool operator()(const QString& a, const QString& b) const;
    };
    using NameIndex = std::unordered_map<QString, std::size_t, NameHash, NameEqual>;

    struct Entry {
        QString key;
        QString value;
    };
    struct Section {
        QString name;
        std::vector<Entry> entries;
        // Built once the section has more keys than a short scan handles faster.
        NameIndex keyIndex;
        Entry* find(const QString& key);
        const Entry* find(const QString& key) const { return const_cast<Section*>(this)->find(key); }
        // Adds the key unless present; false (and nothing changed) when it was.
        bool add(const QString& key, const QString& value);
        // Adds a key known to be absent.
        void append(const QString& key, const QString& value);
        void rebuildIndex();
    };
    // Replaces the content with the file text it owns.
    void loadText(QString text);
    const Section* findSection(const QString& name) const;
    Section* findSection(const QString& name);
    Section& sectionFor(const QString& name);
    void rebuildSectionIndex();

    static constexpr std::size_t npos = std::size_t(-1);
    // The loaded text; names and values read from it refer to its characters.
    QString m_text;
    std::vector<Section> m_sections;
    NameIndex m_sectionIndex; // name -> position in m_sections
    // Position of the section found last (a cache only; a const lookup may set it, so one
    // IniFile is not read from several threads at once).
    std::size_t m_lastSection = npos;
    Encoding m_encoding = Encoding::Utf8;
    mutable QString m_fileName;
    mutable QString m_error;
};

} // namespace lapido
