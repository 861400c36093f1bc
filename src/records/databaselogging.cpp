// The database sink of the maintenance log.
#include "records/databaselogging.h"

#include "platform/debuglog.h"
#include "settings/settingskeys.h"

namespace lapido {

namespace {
std::unique_ptr<TDataBaseLogging>& instanceSlot()
{
    static std::unique_ptr<TDataBaseLogging> instance;
    return instance;
}
} // namespace

DatabaseLoggingConfig DatabaseLoggingConfig::fromStore()
{
    DatabaseLoggingConfig c;
    c.drivername = keys::read(keys::LogDriverName);
    c.hostname = keys::read(keys::LogHostName);
    c.username = keys::read(keys::LogUserName);
    c.password = keys::read(keys::LogPassword);
    c.dbname = keys::read(keys::LogDbName);
    return c;
}

QString DatabaseLoggingConfig::odbcConnectionString() const
{
    const QString driver = drivername.isEmpty() ? QString::fromLatin1(kDefaultMaintenanceOdbcDriver) : drivername;
    // "host:port" reaches a server on another port; the port attribute stays empty otherwise.
    const OdbcServer server = splitOdbcServer(hostname);
    return QStringLiteral("DRIVER={") + driver + QStringLiteral("};DATABASE=mysql;SERVER=")
           + odbcAttributeValue(server.host) + QStringLiteral(";UID=") + odbcAttributeValue(username)
           + QStringLiteral(";PASSWORD=") + odbcAttributeValue(password) + QStringLiteral(";PORT=")
           + server.port + QStringLiteral(";OPTION=3;STMT=;");
}

QString DatabaseLoggingConfig::connectionText() const
{
    return QStringLiteral("Mode=ReadWrite;Extended Properties=\"") + odbcConnectionString() + QChar('"');
}

TDataBaseLogging::TDataBaseLogging(std::unique_ptr<OdbcConnection> connection, MaintenanceIdentity identity,
                                   LocalTimeSource now)
    : m_connection(std::move(connection)), m_identity(std::move(identity)), m_now(std::move(now))
{
}

std::unique_ptr<TDataBaseLogging> TDataBaseLogging::create(const DatabaseLoggingConfig& config,
                                                           MaintenanceIdentity identity, LocalTimeSource now,
                                                           QString* error)
{
    auto fail = [&](const QString& why) -> std::unique_ptr<TDataBaseLogging> {
        if (error)
            *error = why;
        return nullptr;
    };
    const QString dbname = config.dbname.isEmpty() ? QStringLiteral("lalog") : config.dbname;
    if (!isPlainSqlIdentifier(dbname))
        return fail(QStringLiteral("The database name \"%1\" is not a plain name (letters, digits, _ and $).").arg(dbname));
    QString why;
    auto conn = OdbcConnection::open(config.odbcConnectionString(), &why);
    if (!conn)
        return fail(why);
    std::unique_ptr<TDataBaseLogging> sink(new TDataBaseLogging(std::move(conn), std::move(identity), std::move(now)));
    if (const SqlOutcome r = sink->CreateDatabase(dbname); !r.ok())
        return fail(r.error);
    if (const SqlOutcome r = sink->CreateTables(); !r.ok())
        return fail(r.error);
    return sink;
}

TDataBaseLogging* TDataBaseLogging::GetInstance(QString* error)
{
    auto& slot = instanceSlot();
    if (!slot)
        slot = create(DatabaseLoggingConfig::fromStore(), currentMaintenanceIdentity(), defaultLocalTimeSource(), error);
    return slot.get();
}

void TDataBaseLogging::ResetInstance()
{
    instanceSlot().reset();
}

SqlOutcome TDataBaseLogging::CreateDatabase(const QString& name)
{
    if (!isPlainSqlIdentifier(name))
        return {QStringLiteral("The database name \"%1\" is not a plain name.").arg(name)};
    if (SqlOutcome r = m_connection->exec(QStringLiteral("CREATE DATABASE IF NOT EXISTS ") + name + QChar(';')); !r.ok())
        return r;
    return m_connection->exec(QStringLiteral("USE ") + name + QChar(';'));
}

QString TDataBaseLogging::CreateActionSQL(const QString& table)
{
    return QStringLiteral("CREATE TABLE IF NOT EXISTS `") + table
           + QStringLiteral("`(`Action` VARCHAR(100), `NewValue` VARCHAR(100), `ShotsCounts` VARCHAR(100), "
                            "`LogDateTime` DATETIME, `MachineId` VARCHAR(255), `SWVersion` VARCHAR(255), "
                            "`User` VARCHAR(255));");
}

QString TDataBaseLogging::CreateFloatActionSQL(const QString& table)
{
    return QStringLiteral("CREATE TABLE IF NOT EXISTS ") + table
           + QStringLiteral("(Action FLOAT, `NewValue` VARCHAR(100), `ShotsCounts` VARCHAR(100), LogDateTime "
                            "DATETIME, MachineId VARCHAR(255), `SWVersion` VARCHAR(255), `User` VARCHAR(255))");
}

QString TDataBaseLogging::insertSQL(const QString& table)
{
    return QStringLiteral("INSERT INTO ") + table
           + QStringLiteral(" (`Action`,`NewValue`, `ShotsCounts`, `LogDateTime`,`MachineId`, `SWVersion`, "
                            "`User`) VALUES (?,?,?,?,?,?,?);");
}

SqlOutcome TDataBaseLogging::CreateTables()
{
    for (const MaintenanceAction& a : maintenanceActions()) {
        const QString table = QString::fromLatin1(a.table);
        const QString sql = a.isFloatTable ? CreateFloatActionSQL(table) : CreateActionSQL(table);
        if (SqlOutcome r = m_connection->exec(sql); !r.ok())
            return r;
    }
    return {};
}

SqlOutcome TDataBaseLogging::InsertReg(const QString& table, const QString& action, const QString& newValue)
{
    if (!isPlainSqlIdentifier(table))
        return {QStringLiteral("\"%1\" is not a maintenance table.").arg(table)};
    const MaintenanceRecord record = makeMaintenanceRecord(m_identity, action, newValue, m_now());
    const SqlOutcome r = m_connection->exec(insertSQL(table), record.fields());
    if (!r.ok())
        LogDebug(QStringLiteral("Maintenance record into ") + table + QStringLiteral(" failed: ") + r.error);
    return r;
}

} // namespace lapido
