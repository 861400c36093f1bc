// Marking records: insert, second and third label, duplicates.
#include "records/lapidographdb.h"

#include "platform/debuglog.h"
#include "platform/numfmt.h"
#include "platform/operatordialogs.h"
#include "records/guidex.h"
#include "records/maintenancerecord.h"
#include "settings/settingskeys.h"

namespace lapido {

namespace {
void show(const QString& text)
{
    LogDebug(text);
    operatorDialogs().information(text);
}
} // namespace

MarkingDatabaseConfig MarkingDatabaseConfig::fromStore()
{
    MarkingDatabaseConfig c;
    c.customer = keys::read(keys::DbCustomer);
    c.username = keys::read(keys::DbUserName);
    c.password = keys::read(keys::DbPassword);
    c.hostname = keys::read(keys::DbHostName);
    c.driver = keys::read(keys::DbDriverName);
    return c;
}

bool MarkingDatabaseConfig::matches() const
{
    return customer.compare(QLatin1String("XGL"), Qt::CaseInsensitive) == 0;
}

QString MarkingDatabaseConfig::odbcConnectionString() const
{
    // User_Name, Password, HostName, Database, in this order; "host:port" names a port.
    const OdbcServer server = splitOdbcServer(hostname);
    QString text = QStringLiteral("DRIVER={") + driver + QStringLiteral("};UID=") + odbcAttributeValue(username)
                   + QStringLiteral(";PWD=") + odbcAttributeValue(password) + QStringLiteral(";SERVER=")
                   + odbcAttributeValue(server.host) + QChar(';');
    if (!server.port.isEmpty())
        text += QStringLiteral("PORT=") + server.port + QChar(';');
    text += QStringLiteral("DATABASE=Lapidograph;");
    return text;
}

TDataModule1::TDataModule1() : TDataModule1(MarkingDatabaseConfig::fromStore()) {}

TDataModule1::TDataModule1(MarkingDatabaseConfig config)
    : m_config(std::move(config)), m_active(m_config.matches()), m_now([] { return QDateTime::currentDateTime(); })
{
}

TDataModule1::~TDataModule1() = default;

QString TDataModule1::GetComputerNetName()
{
    return computerNetName();
}

void TDataModule1::Open()
{
    if (!m_active)
        return;
    m_connection.reset();
    QString error;
    m_connection = OdbcConnection::open(m_config.odbcConnectionString(), &error);
    m_connected = m_connection != nullptr;
    if (!m_connected) {
        LogDebug(QStringLiteral("Marking records: ") + error);
        show(QStringLiteral("Error: did not find the database"));
    }
}

void TDataModule1::reportStatementFailure(const QString& error)
{
    LogDebug(QStringLiteral("Marking records: ") + error);
    // A connection that went away in the middle of the run is reported as such from now on.
    if (!m_connection->query(QStringLiteral("SELECT 1")).ok()) {
        m_connected = false;
        show(QStringLiteral("Error: database connection is absent"));
        return;
    }
    show(QStringLiteral("Error: the marking was not recorded: ") + error);
}

void TDataModule1::Insert(const QString& content, const QString& reportNumber)
{
    if (!m_active)
        return;
    if (!m_connected || !m_connection) {
        show(QStringLiteral("Error: database connection is absent"));
        return;
    }
    const QString timeStamp = FormatShortDateLongTime(m_now());
    QString guid = TGuidEx::ToQuotedString(TGuidEx::NewGuid());
    guid.remove(QChar('{')).remove(QChar('}')).remove(QChar('\''));
    const QString machine = GetComputerNetName();

    const SqlRows existing =
        m_connection->query(QStringLiteral("SELECT * from Markings_v2 WHERE RptNumber=?"), {reportNumber});
    if (!existing.ok())
        return reportStatementFailure(existing.error);

    SqlOutcome written;
    if (existing.rows.empty()) {
        written = m_connection->exec(
            QStringLiteral("INSERT INTO Markings_v2 (GlobalIdentifier, RptNumber, Label1, Label2, Label3, "
                           "MarkingTimeStamp, MachineName) VALUES (?,?,?,?,?,?,?)"),
            {guid, reportNumber, content, QStringLiteral("NULL"), QStringLiteral("NULL"), timeStamp, machine});
    } else if (existing.rows.size() == 1) {
        const SqlRows free2 = m_connection->query(
            QStringLiteral("SELECT * from Markings_v2 WHERE RptNumber=? AND Label2='NULL'"), {reportNumber});
        if (!free2.ok())
            return reportStatementFailure(free2.error);
        if (free2.rows.size() == 1) {
            written = m_connection->exec(QStringLiteral("UPDATE Markings_v2 SET Label2=? WHERE RptNumber=?"),
                                         {content, reportNumber});
        } else {
            const SqlRows free3 = m_connection->query(
                QStringLiteral("SELECT * from Markings_v2 WHERE RptNumber=? AND Label3='NULL'"), {reportNumber});
            if (!free3.ok())
                return reportStatementFailure(free3.error);
            if (free3.rows.size() == 1) {
                written = m_connection->exec(QStringLiteral("UPDATE Markings_v2 SET Label3=? WHERE RptNumber=?"),
                                             {content, reportNumber});
            } else {
                show(QStringLiteral("Error: trying to enter more than 3 labels for report number ") + reportNumber);
                return;
            }
        }
    } else {
        show(QStringLiteral("Error: duplicate report number ") + reportNumber);
        return;
    }
    if (!written.ok())
        reportStatementFailure(written.error);
}

} // namespace lapido
