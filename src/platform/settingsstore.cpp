// SQLite-backed settings store with the station's read rules.
#include "platform/settingsstore.h"

#include "platform/numfmt.h"
#include "platform/storelocks.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QStandardPaths>

#include <sqlite3.h>

#include <chrono>
#include <thread>

namespace lapido {

namespace {

constexpr int kBusyTimeoutMs = 30000;

// Another program's read or write takes a millisecond or two: waiting in steps of a
// millisecond, rather than SQLite's own steps that grow to a tenth of a second, keeps two
// programs taking turns from losing most of their time asleep.
int waitBriefly(void*, int count)
{
    if (count >= kBusyTimeoutMs)
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 1;
}

// The log is folded into the file once it is 32 pages long. A connection kept open never
// indexes the log again, and a passive fold, which copies what no reader still needs and
// waits for nobody, is enough: the next writer then starts the log from its beginning. A
// connection opened for each operation reads the whole log to index it whenever it finds no
// other one open, and takes a log already folded into the file for new: for those the log is
// emptied, which waits for every reader to leave and costs two programs writing in turns most
// of their time.
template <int Mode>
int foldLongLog(void*, sqlite3* db, const char* schema, int frames)
{
    constexpr int kLongLog = 32;
    if (frames >= kLongLog)
        sqlite3_wal_checkpoint_v2(db, schema, Mode, nullptr, nullptr);
    return SQLITE_OK;
}

enum class Lifetime { Kept, OneOperation };

// Settings a connection does not keep in the file.
void setUpConnection(sqlite3* db, Lifetime lifetime)
{
    sqlite3_busy_handler(db, &waitBriefly, nullptr);
    // The log is folded into the file when it has grown, not by whichever program happens to
    // close last: closing then costs nothing, and a program never decides alone that the
    // store is unused.
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    sqlite3_wal_hook(db,
                     lifetime == Lifetime::Kept ? &foldLongLog<SQLITE_CHECKPOINT_PASSIVE>
                                                : &foldLongLog<SQLITE_CHECKPOINT_TRUNCATE>,
                     nullptr);
}

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

// The connection of one read or write. Record locks of the classic kind belong to the
// process, and any close() of the file anywhere in it (a file dialog guessing the type of the
// files it lists, say) drops every one of them: a connection would go on as if it still had its
// shared lock, a companion program would take the store for unused, fold the log into the file
// and delete it, and the station's later writes would go to a deleted log and come back as
// stale pages at its exit. Where the locks are made independent of other descriptors
// (useDescriptionLocks) the store keeps one connection for its life; where they cannot be, each
// read or write opens its own and closes it, so that between two of them the process holds no
// lock to lose. A store in memory keeps its one connection: it is its only copy.
class SettingsStore::Connection {
public:
    explicit Connection(const SettingsStore& store) : m_store(store)
    {
        if (store.m_held) {
            m_db = store.m_held;
            return;
        }
        m_owned = true;
        const bool readOnly = !store.m_readOnlyUri.isEmpty();
        const QByteArray file = readOnly ? store.m_readOnlyUri : QFile::encodeName(store.m_path);
        const int flags = readOnly ? SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX
                                   : SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX;
        const int rc = sqlite3_open_v2(file.constData(), &m_db, flags, nullptr);
        if (rc != SQLITE_OK) {
            const QString why = errText(m_db);
            sqlite3_close_v2(m_db);
            throw SettingsStoreError(
                QStringLiteral("Settings store \"%1\": cannot open: %2").arg(store.m_path, why).toStdString());
        }
        setUpConnection(m_db, Lifetime::OneOperation);
    }
    ~Connection()
    {
        if (m_owned)
            sqlite3_close_v2(m_db);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* db() const { return m_db; }

    [[noreturn]] void fail(const QString& what) const
    {
        throw SettingsStoreError(QStringLiteral("Settings store \"%1\": %2: %3")
                                     .arg(m_store.m_path, what, errText(m_db))
                                     .toStdString());
    }

    void exec(const char* sql) const
    {
        char* err = nullptr;
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
            const QString msg = err ? QString::fromUtf8(err) : errText(m_db);
            sqlite3_free(err);
            throw SettingsStoreError(
                QStringLiteral("Settings store \"%1\": %2").arg(m_store.m_path, msg).toStdString());
        }
    }

private:
    const SettingsStore& m_store;
    sqlite3* m_db = nullptr;
    bool m_owned = false;
};

SettingsStore::SettingsStore(QString path) : m_path(std::move(path)) {}

SettingsStore::~SettingsStore()
{
    if (m_held)
        sqlite3_close_v2(m_held);
}

std::unique_ptr<SettingsStore> SettingsStore::open(const QString& path)
{
    const bool inMemory = path == QLatin1String(":memory:");
    const bool keepConnection = useDescriptionLocks() || inMemory;
    const QFileInfo info(path);
    if (!inMemory && !info.absoluteDir().exists() && !QDir().mkpath(info.absolutePath()))
        throw SettingsStoreError(
            QStringLiteral("Settings store \"%1\": cannot create its folder").arg(path).toStdString());
    std::unique_ptr<SettingsStore> store(new SettingsStore(path));
    // The first connection creates the file and its table and finds out whether it can be
    // written.
    sqlite3* db = nullptr;
    const QByteArray file = QFile::encodeName(path);
    const int rc = sqlite3_open_v2(file.constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                                   nullptr);
    if (rc != SQLITE_OK) {
        const QString why = errText(db);
        sqlite3_close_v2(db);
        throw SettingsStoreError(
            QStringLiteral("Settings store \"%1\": cannot open: %2").arg(path, why).toStdString());
    }
    store->m_held = db; // until set up, so that a failure below closes it
    setUpConnection(db, keepConnection ? Lifetime::Kept : Lifetime::OneOperation);
    // A read-only file would only fail at the first write; the station must know at start.
    if (sqlite3_db_readonly(db, "main") == 1)
        throw SettingsStoreError(
            QStringLiteral("Settings store \"%1\": the file is read-only").arg(path).toStdString());
    const Connection setup(*store);
    setup.exec("PRAGMA journal_mode=WAL");
    setup.exec("CREATE TABLE IF NOT EXISTS settings ("
               " section TEXT NOT NULL COLLATE NOCASE,"
               " key TEXT NOT NULL COLLATE NOCASE,"
               " value TEXT NOT NULL,"
               " PRIMARY KEY (section, key))");
    // Probe a write so that a locked or read-only database is found now, not mid-marking.
    setup.exec("BEGIN IMMEDIATE; COMMIT;");
    if (!keepConnection) {
        sqlite3_close_v2(db);
        store->m_held = nullptr;
        // A second open finds now what every later one will meet.
        const Connection probe(*store);
    }
    return store;
}

std::unique_ptr<SettingsStore> SettingsStore::openForReading(const QString& path)
{
    const bool keepConnection = useDescriptionLocks();
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
        bool readable = false;
        if (rc == SQLITE_OK) {
            setUpConnection(db, keepConnection ? Lifetime::Kept : Lifetime::OneOperation);
            Stmt probe(db, "SELECT count(*) FROM settings");
            readable = probe.ok() && probe.step() == SQLITE_ROW;
        }
        if (readable) {
            std::unique_ptr<SettingsStore> store(new SettingsStore(path));
            store->m_readOnlyUri = name;
            if (keepConnection)
                store->m_held = db;
            else
                sqlite3_close_v2(db);
            return store;
        }
        sqlite3_close_v2(db);
    }
    throw SettingsStoreError(QStringLiteral("Settings store \"%1\": it cannot be read").arg(path).toStdString());
}

bool SettingsStore::sectionExists(const QString& section) const
{
    std::lock_guard lock(m_mutex);
    const Connection c(*this);
    Stmt st(c.db(), "SELECT 1 FROM settings WHERE section = ?1 LIMIT 1");
    if (!st.ok())
        c.fail(QStringLiteral("read"));
    st.bind(1, section);
    const int rc = st.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        c.fail(QStringLiteral("read"));
    return rc == SQLITE_ROW;
}

std::optional<QString> SettingsStore::value(const QString& section, const QString& key) const
{
    std::lock_guard lock(m_mutex);
    const Connection c(*this);
    Stmt st(c.db(), "SELECT value FROM settings WHERE section = ?1 AND key = ?2");
    if (!st.ok())
        c.fail(QStringLiteral("read"));
    st.bind(1, section);
    st.bind(2, key);
    const int rc = st.step();
    if (rc == SQLITE_ROW)
        return st.text(0);
    if (rc != SQLITE_DONE)
        c.fail(QStringLiteral("read"));
    return std::nullopt;
}

void SettingsStore::setValue(const QString& section, const QString& key, const QString& value)
{
    setValues({SettingsEntry{section, key, value}});
}

void SettingsStore::setValues(const std::vector<SettingsEntry>& values)
{
    std::lock_guard lock(m_mutex);
    const Connection c(*this);
    sqlite3* const db = c.db();
    c.exec("BEGIN IMMEDIATE");
    QString error;
    {
        // ON CONFLICT keeps the stored spelling of section and key names.
        Stmt st(db, "INSERT INTO settings(section, key, value) VALUES (?1, ?2, ?3)"
                    " ON CONFLICT(section, key) DO UPDATE SET value = excluded.value");
        if (!st.ok())
            error = errText(db);
        for (const auto& e : values) {
            if (!error.isEmpty())
                break;
            st.reset();
            st.bind(1, e.section);
            st.bind(2, e.key);
            st.bind(3, e.value);
            if (st.step() != SQLITE_DONE)
                error = errText(db);
        }
    }
    if (error.isEmpty() && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        error = errText(db);
    if (!error.isEmpty()) {
        // A failed COMMIT may leave the transaction open, and every later write would fail
        // on "BEGIN": it is rolled back here, and the write reported as failed.
        if (!sqlite3_get_autocommit(db))
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw SettingsStoreError(
            QStringLiteral("Settings store \"%1\": write: %2").arg(m_path, error).toStdString());
    }
}

bool SettingsStore::removeValue(const QString& section, const QString& key)
{
    std::lock_guard lock(m_mutex);
    const Connection c(*this);
    Stmt st(c.db(), "DELETE FROM settings WHERE section = ?1 AND key = ?2");
    st.bind(1, section);
    st.bind(2, key);
    if (st.step() != SQLITE_DONE)
        c.fail(QStringLiteral("write"));
    return sqlite3_changes(c.db()) > 0;
}

std::vector<SettingsEntry> SettingsStore::entries(const QString& section) const
{
    std::lock_guard lock(m_mutex);
    const Connection c(*this);
    std::vector<SettingsEntry> out;
    const bool all = section.isEmpty();
    Stmt st(c.db(), all ? "SELECT section, key, value FROM settings ORDER BY section, key"
                      : "SELECT section, key, value FROM settings WHERE section = ?1 ORDER BY section, key");
    if (!st.ok())
        c.fail(QStringLiteral("read"));
    if (!all)
        st.bind(1, section);
    int rc;
    while ((rc = st.step()) == SQLITE_ROW)
        out.push_back({st.text(0), st.text(1), st.text(2)});
    if (rc != SQLITE_DONE)
        c.fail(QStringLiteral("read"));
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
