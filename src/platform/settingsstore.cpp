// SQLite-backed settings store with the station's read rules.
#include "platform/settingsstore.h"

#include "platform/numfmt.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QStandardPaths>

#include <sqlite3.h>

namespace lapido {

namespace {

constexpr int kBusyTimeoutMs = 30000;

QString errText(sqlite3* db)
{
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
}

// Prepared statement that finalises itself.
class Stmt {
public:
    Stmt(sqlite3* db, const char* sql)
    {
        m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
    }
    ~Stmt() { sqlite3_finalize(m_stmt); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    bool ok() const { return m_rc == SQLITE_OK; }
    void bind(int i, const QString& s)
    {
        const QByteArray u = s.toUtf8();
        sqlite3_bind_text(m_stmt, i, u.constData(), static_cast<int>(u.size()), SQLITE_TRANSIENT);
    }
    int step() { return sqlite3_step(m_stmt); }
    void reset()
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    QString text(int col) const
    {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, col));
        const int n = sqlite3_column_bytes(m_stmt, col);
        return p ? QString::fromUtf8(p, n) : QString();
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_rc;
};

} // namespace

SettingsStore::SettingsStore(QString path, sqlite3* db) : m_path(std::move(path)), m_db(db) {}

SettingsStore::~SettingsStore()
{
    sqlite3_close_v2(m_db);
}

void SettingsStore::fail(const QString& what) const
{
    throw SettingsStoreError(QStringLiteral("Settings store \"%1\": %2: %3")
                                 .arg(m_path, what, errText(m_db))
                                 .toStdString());
}

void SettingsStore::exec(const char* sql) const
{
    char* err = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        const QString msg = err ? QString::fromUtf8(err) : QString();
        sqlite3_free(err);
        throw SettingsStoreError(
            QStringLiteral("Settings store \"%1\": %2").arg(m_path, msg).toStdString());
    }
}

std::unique_ptr<SettingsStore> SettingsStore::open(const QString& path)
{
    const QFileInfo info(path);
    if (!info.absoluteDir().exists() && !QDir().mkpath(info.absolutePath()))
        throw SettingsStoreError(
            QStringLiteral("Settings store \"%1\": cannot create its folder").arg(path).toStdString());
    sqlite3* db = nullptr;
    const QByteArray file = QFile::encodeName(path);
    const int rc = sqlite3_open_v2(file.constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                                   nullptr);
    std::unique_ptr<SettingsStore> store(new SettingsStore(path, db));
    if (rc != SQLITE_OK)
        store->fail(QStringLiteral("cannot open"));
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // A read-only file would only fail at the first write; the station must know at start.
    if (sqlite3_db_readonly(db, "main") == 1)
        throw SettingsStoreError(
            QStringLiteral("Settings store \"%1\": the file is read-only").arg(path).toStdString());
    store->exec("PRAGMA journal_mode=WAL");
    store->exec("PRAGMA synchronous=NORMAL");
    store->exec("CREATE TABLE IF NOT EXISTS settings ("
                " section TEXT NOT NULL COLLATE NOCASE,"
                " key TEXT NOT NULL COLLATE NOCASE,"
                " value TEXT NOT NULL,"
                " PRIMARY KEY (section, key))");
    // Probe a write so that a locked or read-only database is found now, not mid-marking.
    store->exec("BEGIN IMMEDIATE; COMMIT;");
    return store;
}

std::unique_ptr<SettingsStore> SettingsStore::openForReading(const QString& path)
{
    if (!QFileInfo(path).isFile())
        throw SettingsStoreError(QStringLiteral("Settings store \"%1\": it does not exist").arg(path).toStdString());
    const QByteArray uri = "file:" + QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded().mid(7);
    // Read-only first, which still sees what a writer has in its log; on a medium where not even
    // the shared-memory index can be made, the file is read as it stands.
    for (const char* mode : {"?mode=ro", "?mode=ro&immutable=1"}) {
        sqlite3* db = nullptr;
        const QByteArray name = uri + mode;
        const int rc = sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX,
                                       nullptr);
        std::unique_ptr<SettingsStore> store(new SettingsStore(path, db));
        if (rc != SQLITE_OK)
            continue;
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        Stmt probe(db, "SELECT count(*) FROM settings");
        if (probe.ok() && probe.step() == SQLITE_ROW)
            return store;
    }
    throw SettingsStoreError(QStringLiteral("Settings store \"%1\": it cannot be read").arg(path).toStdString());
}

bool SettingsStore::sectionExists(const QString& section) const
{
    std::lock_guard lock(m_mutex);
    Stmt st(m_db, "SELECT 1 FROM settings WHERE section = ?1 LIMIT 1");
    if (!st.ok())
        fail(QStringLiteral("read"));
    st.bind(1, section);
    const int rc = st.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail(QStringLiteral("read"));
    return rc == SQLITE_ROW;
}

std::optional<QString> SettingsStore::value(const QString& section, const QString& key) const
{
    std::lock_guard lock(m_mutex);
    Stmt st(m_db, "SELECT value FROM settings WHERE section = ?1 AND key = ?2");
    if (!st.ok())
        fail(QStringLiteral("read"));
    st.bind(1, section);
    st.bind(2, key);
    const int rc = st.step();
    if (rc == SQLITE_ROW)
        return st.text(0);
    if (rc != SQLITE_DONE)
        fail(QStringLiteral("read"));
    return std::nullopt;
}

void SettingsStore::setValue(const QString& section, const QString& key, const QString& value)
{
    setValues({SettingsEntry{section, key, value}});
}

void SettingsStore::setValues(const std::vector<SettingsEntry>& values)
{
    std::lock_guard lock(m_mutex);
    exec("BEGIN IMMEDIATE");
    QString error;
    {
        // ON CONFLICT keeps the stored spelling of section and key names.
        Stmt st(m_db, "INSERT INTO settings(section, key, value) VALUES (?1, ?2, ?3)"
                      " ON CONFLICT(section, key) DO UPDATE SET value = excluded.value");
        if (!st.ok())
            error = errText(m_db);
        for (const auto& e : values) {
            if (!error.isEmpty())
                break;
            st.reset();
            st.bind(1, e.section);
            st.bind(2, e.key);
            st.bind(3, e.value);
            if (st.step() != SQLITE_DONE)
                error = errText(m_db);
        }
    }
    if (error.isEmpty() && sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        error = errText(m_db);
    if (!error.isEmpty()) {
        // A failed COMMIT may leave the transaction open, and every later write would fail
        // on "BEGIN": it is rolled back here, and the write reported as failed.
        if (!sqlite3_get_autocommit(m_db))
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw SettingsStoreError(
            QStringLiteral("Settings store \"%1\": write: %2").arg(m_path, error).toStdString());
    }
}

bool SettingsStore::removeValue(const QString& section, const QString& key)
{
    std::lock_guard lock(m_mutex);
    Stmt st(m_db, "DELETE FROM settings WHERE section = ?1 AND key = ?2");
    st.bind(1, section);
    st.bind(2, key);
    if (st.step() != SQLITE_DONE)
        fail(QStringLiteral("write"));
    return sqlite3_changes(m_db) > 0;
}

std::vector<SettingsEntry> SettingsStore::entries(const QString& section) const
{
    std::lock_guard lock(m_mutex);
    std::vector<SettingsEntry> out;
    const bool all = section.isEmpty();
    Stmt st(m_db, all ? "SELECT section, key, value FROM settings ORDER BY section, key"
                      : "SELECT section, key, value FROM settings WHERE section = ?1 ORDER BY section, key");
    if (!st.ok())
        fail(QStringLiteral("read"));
    if (!all)
        st.bind(1, section);
    int rc;
    while ((rc = st.step()) == SQLITE_ROW)
        out.push_back({st.text(0), st.text(1), st.text(2)});
    if (rc != SQLITE_DONE)
        fail(QStringLiteral("read"));
    return out;
}

QString SettingsStore::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
    return value(section, key).value_or(defaultValue);
}

int SettingsStore::ReadInteger(const QString& section, const QString& key, int defaultValue) const
{
    const auto v = value(section, key);
    if (!v)
        return defaultValue;
    return StrToInt(*v).value_or(defaultValue);
}

std::int64_t SettingsStore::ReadInt64(const QString& section, const QString& key, std::int64_t defaultValue) const
{
    const auto v = value(section, key);
    if (!v)
        return defaultValue;
    return StrToInt64(*v).value_or(defaultValue);
}

bool SettingsStore::ReadBool(const QString& section, const QString& key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

double SettingsStore::ReadFloat(const QString& section, const QString& key, const QString& defaultText,
                                double unparsable) const
{
    const auto stored = value(section, key);
    if (!stored) {
        // A default is written with a point in the tables, whatever the user's locale; one in
        // the user's own form is taken too.
        const QByteArray point = defaultText.toLatin1();
        if (auto v = StrToFloatPoint(std::string_view(point.constData(), static_cast<size_t>(point.size()))))
            return *v;
        return StrToFloat(defaultText).value_or(unparsable);
    }
    return StrToFloat(*stored).value_or(unparsable);
}

std::uint32_t SettingsStore::ReadColor(const QString& section, const QString& key, std::uint32_t defaultValue) const
{
    const auto v = value(section, key);
    if (!v)
        return defaultValue;
    const auto n = StrToInt64(*v);
    if (!n)
        return defaultValue;
    return static_cast<std::uint32_t>(*n) & 0xFFFFFFu;
}

void SettingsStore::WriteString(const QString& section, const QString& key, const QString& v)
{
    setValue(section, key, v);
}

void SettingsStore::WriteInteger(const QString& section, const QString& key, std::int64_t v)
{
    setValue(section, key, QString::number(v));
}

void SettingsStore::WriteBool(const QString& section, const QString& key, bool v)
{
    setValue(section, key, v ? QStringLiteral("1") : QStringLiteral("0"));
}

void SettingsStore::WriteFloat(const QString& section, const QString& key, double v)
{
    setValue(section, key, FloatToStr(v));
}

void SettingsStore::WriteColor(const QString& section, const QString& key, std::uint32_t v)
{
    setValue(section, key, QString::number(v & 0xFFFFFFu));
}

QString configFolder()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Lapidograph");
}

QString defaultSettingsPath()
{
    const QString env = qEnvironmentVariable("LAPIDOGRAPH_SETTINGS");
    if (!env.isEmpty())
        return env;
    return configFolder() + QStringLiteral("/settings.db");
}

namespace {
std::mutex g_registryMutex;
std::unique_ptr<SettingsStore> g_registry;
} // namespace

SettingsStore& AppRegistry()
{
    std::lock_guard lock(g_registryMutex);
    if (!g_registry)
        g_registry = SettingsStore::open(defaultSettingsPath());
    return *g_registry;
}

void setAppRegistry(std::unique_ptr<SettingsStore> store)
{
    std::lock_guard lock(g_registryMutex);
    g_registry = std::move(store);
}

std::unique_ptr<SettingsStore> exchangeAppRegistry(std::unique_ptr<SettingsStore> store)
{
    std::lock_guard lock(g_registryMutex);
    std::swap(g_registry, store);
    return store;
}

std::unique_ptr<SettingsStore> SettingsStore::memoryCopy() const
{
    std::unique_ptr<SettingsStore> copy = open(QStringLiteral(":memory:"));
    copy->setValues(entries());
    return copy;
}

} // namespace lapido
