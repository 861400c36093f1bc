// ODBC connections straight through the driver manager's wide-character calls.
#include "records/odbcconnection.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <vector>

namespace lapido {

namespace {
static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager must use UTF-16 wide characters");

constexpr SQLULEN kLoginTimeoutS = 10;
constexpr SQLULEN kStatementTimeoutS = 30;

std::vector<SQLWCHAR> wide(const QString& text)
{
    std::vector<SQLWCHAR> w(static_cast<std::size_t>(text.size()) + 1, 0);
    for (qsizetype i = 0; i < text.size(); ++i)
        w[static_cast<std::size_t>(i)] = text.at(i).unicode();
    return w;
}

// Every diagnostic record of a handle, as "[state] message" joined by blanks.
QString diagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    QStringList parts;
    for (SQLSMALLINT i = 1; i < 20; ++i) {
        SQLWCHAR state[6] = {};
        SQLWCHAR message[1024] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        const SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, message, SQLSMALLINT(std::size(message)), &length);
        if (!SQL_SUCCEEDED(rc))
            break;
        const QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(message),
                                                std::min<qsizetype>(length, qsizetype(std::size(message)) - 1));
        const QString st = QString::fromUtf16(reinterpret_cast<const char16_t*>(state), 5);
        parts << QStringLiteral("[%1] %2").arg(st, text.trimmed());
    }
    if (parts.isEmpty())
        return QStringLiteral("unknown database error");
    return parts.join(QChar(' '));
}
} // namespace

QString odbcAttributeValue(const QString& value)
{
    const bool needsBraces = value.contains(QChar(';')) || value.contains(QChar('{')) || value.contains(QChar('}'))
                             || (!value.isEmpty() && (value.front().isSpace() || value.back().isSpace()));
    if (!needsBraces)
        return value;
    QString inner = value;
    inner.replace(QStringLiteral("}"), QStringLiteral("}}"));
    return QChar('{') + inner + QChar('}');
}

OdbcServer splitOdbcServer(const QString& hostname)
{
    const qsizetype colon = hostname.lastIndexOf(QChar(':'));
    // A single colon followed by digits only: "host:3307". IPv6 literals keep their colons.
    if (colon > 0 && hostname.indexOf(QChar(':')) == colon && colon + 1 < hostname.size()) {
        const QString port = hostname.mid(colon + 1);
        bool digits = true;
        for (QChar c : port)
            digits = digits && c.isDigit();
        if (digits)
            return {hostname.left(colon), port};
    }
    return {hostname, QString()};
}

// A statement handle freed when it goes out of scope.
struct OdbcConnection::Statement {
    SQLHSTMT handle = SQL_NULL_HSTMT;
    explicit Statement(void* dbc)
    {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, static_cast<SQLHDBC>(dbc), &handle))) {
            handle = SQL_NULL_HSTMT;
            return;
        }
        // Records are written on the operator's thread: a server that stops answering must
        // not freeze the station. Drivers without the attribute simply ignore it.
        SQLSetStmtAttrW(handle, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(kStatementTimeoutS)), 0);
    }
    ~Statement()
    {
        if (handle != SQL_NULL_HSTMT)
            SQLFreeHandle(SQL_HANDLE_STMT, handle);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    QString error() const { return diagnostics(SQL_HANDLE_STMT, handle); }
};

std::unique_ptr<OdbcConnection> OdbcConnection::open(const QString& connectionString, QString* error)
{
    std::unique_ptr<OdbcConnection> conn(new OdbcConnection());
    auto fail = [&](const QString& why) -> std::unique_ptr<OdbcConnection> {
        if (error)
            *error = why;
        return nullptr;
    };
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        return fail(QStringLiteral("the ODBC driver manager is not available"));
    conn->m_env = env;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc)))
        return fail(diagnostics(SQL_HANDLE_ENV, env));
    conn->m_dbc = dbc;
    // A server that does not answer must not hold the station for long.
    SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kLoginTimeoutS), 0);

    // The MariaDB driver's parser rejects a string that ends in ";" when it arrives through
    // the wide-character call; the attributes are the same without it.
    QString text = connectionString;
    while (text.endsWith(QChar(';')))
        text.chop(1);
    std::vector<SQLWCHAR> w = wide(text);
    SQLWCHAR out[2048] = {};
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, w.data(), SQL_NTS, out, SQLSMALLINT(std::size(out)), &outLength,
                                           SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        const QString why = diagnostics(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        conn->m_dbc = nullptr;
        return fail(why);
    }
    return conn;
}

OdbcConnection::~OdbcConnection()
{
    if (m_dbc) {
        SQLDisconnect(static_cast<SQLHDBC>(m_dbc));
        SQLFreeHandle(SQL_HANDLE_DBC, static_cast<SQLHDBC>(m_dbc));
    }
    if (m_env)
        SQLFreeHandle(SQL_HANDLE_ENV, static_cast<SQLHENV>(m_env));
}

SqlOutcome OdbcConnection::exec(const QString& sql)
{
    Statement st(m_dbc);
    if (st.handle == SQL_NULL_HSTMT)
        return {diagnostics(SQL_HANDLE_DBC, m_dbc)};
    std::vector<SQLWCHAR> w = wide(sql);
    const SQLRETURN rc = SQLExecDirectW(st.handle, w.data(), SQL_NTS);
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
        return {st.error()};
    return {};
}

namespace {
// Binds each value as UTF-16 text with its exact length (no terminator reaches the server).
struct BoundValues {
    std::vector<std::vector<SQLWCHAR>> buffers;
    std::vector<SQLLEN> lengths;

    bool bind(SQLHSTMT stmt, const QStringList& values)
    {
        buffers.reserve(std::size_t(values.size()));
        lengths.resize(std::size_t(values.size()));
        for (qsizetype i = 0; i < values.size(); ++i) {
            buffers.push_back(wide(values[i]));
            const auto n = std::size_t(i);
            lengths[n] = SQLLEN(values[i].size()) * SQLLEN(sizeof(SQLWCHAR));
            const SQLULEN columnSize = SQLULEN(std::max<qsizetype>(values[i].size(), 1));
            const SQLRETURN rc = SQLBindParameter(stmt, SQLUSMALLINT(i + 1), SQL_PARAM_INPUT, SQL_C_WCHAR,
                                                  columnSize > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR, columnSize, 0,
                                                  buffers.back().data(), lengths[n] + SQLLEN(sizeof(SQLWCHAR)),
                                                  &lengths[n]);
            if (!SQL_SUCCEEDED(rc))
                return false;
        }
        return true;
    }
};
} // namespace

SqlOutcome OdbcConnection::exec(const QString& sql, const QStringList& values)
{
    Statement st(m_dbc);
    if (st.handle == SQL_NULL_HSTMT)
        return {diagnostics(SQL_HANDLE_DBC, m_dbc)};
    std::vector<SQLWCHAR> w = wide(sql);
    if (!SQL_SUCCEEDED(SQLPrepareW(st.handle, w.data(), SQL_NTS)))
        return {st.error()};
    BoundValues bound;
    if (!bound.bind(st.handle, values))
        return {st.error()};
    const SQLRETURN rc = SQLExecute(st.handle);
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
        return {st.error()};
    return {};
}

SqlRows OdbcConnection::query(const QString& sql, const QStringList& values)
{
    SqlRows result;
    Statement st(m_dbc);
    if (st.handle == SQL_NULL_HSTMT) {
        result.error = diagnostics(SQL_HANDLE_DBC, m_dbc);
        return result;
    }
    std::vector<SQLWCHAR> w = wide(sql);
    BoundValues bound;
    SQLRETURN rc = SQLPrepareW(st.handle, w.data(), SQL_NTS);
    if (SQL_SUCCEEDED(rc))
        rc = bound.bind(st.handle, values) ? SQLExecute(st.handle) : SQL_ERROR;
    if (!SQL_SUCCEEDED(rc)) {
        result.error = st.error();
        return result;
    }
    SQLSMALLINT columns = 0;
    SQLNumResultCols(st.handle, &columns);
    while (true) {
        rc = SQLFetch(st.handle);
        if (rc == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(rc)) {
            result.error = st.error();
            result.rows.clear();
            return result;
        }
        QStringList row;
        for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(columns); ++c) {
            QString value;
            bool isNull = false;
            SQLWCHAR buffer[1024];
            while (true) {
                SQLLEN indicator = 0;
                rc = SQLGetData(st.handle, c, SQL_C_WCHAR, buffer, sizeof(buffer), &indicator);
                if (rc == SQL_NO_DATA)
                    break;
                if (!SQL_SUCCEEDED(rc)) {
                    result.error = st.error();
                    result.rows.clear();
                    return result;
                }
                if (indicator == SQL_NULL_DATA) {
                    isNull = true;
                    break;
                }
                const SQLLEN room = SQLLEN(sizeof(buffer) - sizeof(SQLWCHAR));
                const SQLLEN bytes = (indicator == SQL_NO_TOTAL || indicator > room) ? room : indicator;
                value += QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer), bytes / SQLLEN(sizeof(SQLWCHAR)));
                if (rc == SQL_SUCCESS)
                    break;
            }
            row << (isNull ? QString() : (value.isNull() ? QString(QLatin1String("")) : value));
        }
        result.rows.push_back(std::move(row));
    }
    return result;
}

} // namespace lapido
