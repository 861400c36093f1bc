// One ODBC database connection (unixODBC's driver manager) with parameterised statements.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>
#include <vector>

namespace lapido {

// Places a value in an ODBC connection string. Plain values stay as they are; a value that
// would end its attribute or start a new one (";", braces, blanks at either end) is braced
// so that a password can never add attributes of its own.
QString odbcAttributeValue(const QString& value);

// Splits "host:port" into the server and port attributes of a driver that takes them apart;
// a plain host name gives an empty port.
struct OdbcServer {
    QString host;
    QString port;
};
OdbcServer splitOdbcServer(const QString& hostname);

// Outcome of a statement: empty error text means success.
struct SqlOutcome {
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// Rows of a query: each a list of column values as text (SQL NULL as a null QString).
struct SqlRows {
    QString error;
    std::vector<QStringList> rows;
    bool ok() const { return error.isEmpty(); }
};

// A connection through the ODBC driver manager; closed when destroyed. Text travels as
// UTF-16 with exact lengths, so a bound value reaches the server byte for byte.
class OdbcConnection {
public:
    // Opens with the ODBC connection string (no login prompt). nullptr and the driver's
    // message in error when the connection cannot be made.
    static std::unique_ptr<OdbcConnection> open(const QString& connectionString, QString* error);
    ~OdbcConnection();
    OdbcConnection(const OdbcConnection&) = delete;
    OdbcConnection& operator=(const OdbcConnection&) = delete;

    // A statement sent as written.
    SqlOutcome exec(const QString& sql);
    // A statement with "?" placeholders and values bound in order: values never become SQL.
    SqlOutcome exec(const QString& sql, const QStringList& values);
    SqlRows query(const QString& sql, const QStringList& values = {});

private:
    OdbcConnection() = default;
    struct Statement;

    void* m_env = nullptr; // SQLHENV
    void* m_dbc = nullptr; // SQLHDBC
};

} // namespace lapido
