// ODBC connections through Qt's SQL module.
#include "records/odbcconnection.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <atomic>

namespace lapido {

namespace {
QString errorText(const QSqlError& e)
{
    QString text = e.text().trimmed();
    if (text.isEmpty())
        text = QStringLiteral("unknown database error");
    return text;
}

QString nextConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("lapido-odbc-%1").arg(++counter);
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

std::unique_ptr<OdbcConnection> OdbcConnection::open(const QString& connectionString, QString* error)
{
    const QString name = nextConnectionName();
    std::unique_ptr<OdbcConnection> conn(new OdbcConnection(name));
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name);
        if (!db.isValid()) {
            failure = QStringLiteral("the ODBC database driver is not available");
        } else {
            db.setDatabaseName(connectionString);
            // A server that does not answer must not hold the station for long.
            db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=10"));
            if (!db.open())
                failure = errorText(db.lastError());
        }
    }
    if (!failure.isEmpty()) {
        if (error)
            *error = failure;
        return nullptr; // the destructor unregisters the connection
    }
    return conn;
}

OdbcConnection::~OdbcConnection()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

bool OdbcConnection::isOpen() const
{
    return QSqlDatabase::database(m_name, false).isOpen();
}

SqlOutcome OdbcConnection::exec(const QString& sql)
{
    QSqlQuery q(QSqlDatabase::database(m_name, false));
    if (!q.exec(sql))
        return {errorText(q.lastError())};
    return {};
}

SqlOutcome OdbcConnection::exec(const QString& sql, const QStringList& values)
{
    QSqlQuery q(QSqlDatabase::database(m_name, false));
    if (!q.prepare(sql))
        return {errorText(q.lastError())};
    for (const QString& v : values)
        q.addBindValue(v.isNull() ? QString(QLatin1String("")) : v);
    if (!q.exec())
        return {errorText(q.lastError())};
    return {};
}

SqlRows OdbcConnection::query(const QString& sql, const QStringList& values)
{
    SqlRows result;
    QSqlQuery q(QSqlDatabase::database(m_name, false));
    q.setForwardOnly(true);
    if (!q.prepare(sql)) {
        result.error = errorText(q.lastError());
        return result;
    }
    for (const QString& v : values)
        q.addBindValue(v.isNull() ? QString(QLatin1String("")) : v);
    if (!q.exec()) {
        result.error = errorText(q.lastError());
        return result;
    }
    while (q.next()) {
        QStringList row;
        const int n = q.record().count();
        for (int i = 0; i < n; ++i) {
            const QVariant v = q.value(i);
            row << (v.isNull() ? QString() : v.toString());
        }
        result.rows.push_back(std::move(row));
    }
    if (q.lastError().isValid()) {
        result.error = errorText(q.lastError());
        result.rows.clear();
    }
    return result;
}

} // namespace lapido
