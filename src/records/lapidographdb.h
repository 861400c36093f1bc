// Marking records of one customer installation: up to three labels per report number.
#pragma once

#include "records/odbcconnection.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>

namespace lapido {

// The settings of the marking-record database (section Database).
struct MarkingDatabaseConfig {
    QString customer;
    QString username;
    QString password;
    QString hostname;
    QString driver; // ODBC driver name (FreeTDS for SQL Server by default)

    static MarkingDatabaseConfig fromStore();
    // The feature belongs to one customer: "XGL" in any case.
    bool matches() const;
    // The four connection parameters in their fixed order, as an ODBC connection string.
    QString odbcConnectionString() const;
};

// Inert unless the customer matches; then one connection for the run, opened once. Every
// statement binds its values, so report numbers and contents with quotes or semicolons are
// stored exactly as typed.
class TDataModule1 {
public:
    TDataModule1();
    explicit TDataModule1(MarkingDatabaseConfig config);
    ~TDataModule1();

    // Connects. On failure shows "Error: did not find the database" and stays disconnected
    // for the rest of the run.
    void Open();
    // Records one marking (see the rules in the .cpp). Every outcome the operator must know
    // is shown as an information box; the marking itself is never affected.
    void Insert(const QString& content, const QString& reportNumber);

    static QString GetComputerNetName();

    bool isActive() const { return m_active; }
    bool connected() const { return m_connected; }
    OdbcConnection* connection() { return m_connection.get(); }
    void setLocalTimeSource(std::function<QDateTime()> now) { m_now = std::move(now); }

private:
    void reportStatementFailure(const QString& error);

    MarkingDatabaseConfig m_config;
    bool m_active = false;
    bool m_connected = false;
    std::unique_ptr<OdbcConnection> m_connection;
    std::function<QDateTime()> m_now;
};

} // namespace lapido
