// The database sink of the maintenance log: one table per action in a MySQL-family database.
#pragma once

#include "records/maintenancerecord.h"
#include "records/odbcconnection.h"

#include <QString>

#include <memory>

namespace lapido {

// The settings of the database sink (section LoggingDatabase).
struct DatabaseLoggingConfig {
    QString drivername;
    QString hostname;
    QString username;
    QString password;
    QString dbname;

    static DatabaseLoggingConfig fromStore();
    // The connection text the station has always used; its Extended Properties are what the
    // ODBC driver receives.
    QString connectionText() const;
    QString odbcConnectionString() const;
};

// The driver used when none is configured.
inline constexpr char kDefaultMaintenanceOdbcDriver[] = "MariaDB Unicode";

class TDataBaseLogging {
public:
    // Connects, creates the database and the tables. nullptr and the reason when any step
    // fails; nothing is kept then, so the next record tries again.
    static std::unique_ptr<TDataBaseLogging> create(const DatabaseLoggingConfig& config,
                                                    MaintenanceIdentity identity, LocalTimeSource now,
                                                    QString* error);

    // The run's instance, created from the store on first use. nullptr and the reason when it
    // cannot be created.
    static TDataBaseLogging* GetInstance(QString* error = nullptr);
    static void ResetInstance();

    // Inserts one record into the table of its action. Values are bound, never spliced.
    SqlOutcome InsertReg(const QString& table, const QString& action, const QString& newValue);

    SqlOutcome CreateDatabase(const QString& name);
    SqlOutcome CreateTables();
    static QString CreateActionSQL(const QString& table);
    static QString CreateFloatActionSQL(const QString& table);
    // The insert statement with its seven placeholders.
    static QString insertSQL(const QString& table);

    static QString GetComputerNetName() { return computerNetName(); }
    const MaintenanceIdentity& identity() const { return m_identity; }
    OdbcConnection& connection() { return *m_connection; }

#define LAPIDO_ACTION(op, table) \
    SqlOutcome op(const QString& action, const QString& newValue) { return InsertReg(QStringLiteral(table), action, newValue); }
#define LAPIDO_FLOAT_TABLE(table)
#include "records/maintenanceactions.inc"
#undef LAPIDO_FLOAT_TABLE
#undef LAPIDO_ACTION

private:
    TDataBaseLogging(std::unique_ptr<OdbcConnection> connection, MaintenanceIdentity identity, LocalTimeSource now);

    std::unique_ptr<OdbcConnection> m_connection;
    MaintenanceIdentity m_identity;
    LocalTimeSource m_now;
};

} // namespace lapido
