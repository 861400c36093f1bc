// The per-user settings store: sections of named string values in one SQLite file.
#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

struct sqlite3;

namespace lapido {

// Raised when the store file cannot be opened or used at all (not a database, read-only,
// locked beyond the busy timeout). The message names the file.
class SettingsStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SettingsEntry {
    QString section;
    QString key;
    QString value;
    bool operator==(const SettingsEntry&) const = default;
};

// Every value is a string; section and key names compare without regard to case and keep the
// spelling of their first write. A missing section or value is never an error. The file is
// shared with companion programs that write at the same moment: WAL mode and a busy timeout
// make concurrent access wait instead of fail. Nothing else the process does with the files
// (opening and closing them by path) takes the store's locks away: the store keeps one
// connection whose locks belong to its own open file descriptions, and where the system lacks
// those, each read or write opens its own connection and closes it.
class SettingsStore {
public:
    // Opens (creating when missing) the store at path. Throws SettingsStoreError.
    static std::unique_ptr<SettingsStore> open(const QString& path);
    // Opens an existing store for reading only: a store on a read-only medium or a file the
    // user may not write can still be read (its values are never written through this one).
    // Throws SettingsStoreError when the file is missing or cannot be read.
    static std::unique_ptr<SettingsStore> openForReading(const QString& path);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    const QString& path() const { return m_path; }

    // Raw access. value() is nullopt when the value is absent.
    bool sectionExists(const QString& section) const;
    std::optional<QString> value(const QString& section, const QString& key) const;
    void setValue(const QString& section, const QString& key, const QString& value);
    bool removeValue(const QString& section, const QString& key);
    // All values, or those of one section, ordered by section then key.
    std::vector<SettingsEntry> entries(const QString& section = {}) const;
    // Writes many values in one transaction (import).
    void setValues(const std::vector<SettingsEntry>& values);
    // A store in memory holding the same values: what is written to it goes nowhere else
    // (a rehearsal of a sequence that writes flags into the store).
    std::unique_ptr<SettingsStore> memoryCopy() const;

    // The read rules every reader follows.
    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    std::int64_t ReadInt64(const QString& section, const QString& key, std::int64_t defaultValue) const;
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;
    // A stored text converts with the user's locale, and one that does not convert gives the
    // separate fallback number; a missing key gives defaultText (a point number) in any locale.
    double ReadFloat(const QString& section, const QString& key, const QString& defaultText,
                     double unparsable) const;
    // Colour: 0x00BBGGRR as decimal text (an integer read).
    std::uint32_t ReadColor(const QString& section, const QString& key, std::uint32_t defaultValue) const;

    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, std::int64_t value);
    void WriteBool(const QString& section, const QString& key, bool value);
    void WriteFloat(const QString& section, const QString& key, double value);
    void WriteColor(const QString& section, const QString& key, std::uint32_t value);

private:
    class Connection;
    explicit SettingsStore(QString path);

    QString m_path;
    sqlite3* m_held = nullptr;   // the connection kept for the store's life, if any
    QByteArray m_readOnlyUri;    // how a store opened for reading only is opened each time
    mutable std::mutex m_mutex;
};

// Where the station's store lives: $LAPIDOGRAPH_SETTINGS, else
// $XDG_CONFIG_HOME/Lapidograph/settings.db (~/.config/... when unset).
QString defaultSettingsPath();
// The station's configuration folder (pulse counter files and other per-user files).
QString configFolder();

// The process-wide store, opened on first use at defaultSettingsPath(). Throws
// SettingsStoreError when it cannot be opened.
SettingsStore& AppRegistry();
// Replaces the process-wide store (tests; the station after choosing a path). Null resets it
// so that the next AppRegistry() opens the default path again.
void setAppRegistry(std::unique_ptr<SettingsStore> store);
// Installs a store and hands back the one it replaces (null when none was open yet), so that
// the caller can put it back.
std::unique_ptr<SettingsStore> exchangeAppRegistry(std::unique_ptr<SettingsStore> store);

} // namespace lapido
