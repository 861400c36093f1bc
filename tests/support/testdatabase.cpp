// Locating the test database server.
#include "testdatabase.h"

#include <QtGlobal>

namespace lapido::test {

std::optional<TestDatabaseServer> testDatabaseServer()
{
    TestDatabaseServer s;
    s.host = qEnvironmentVariable("LAPIDO_TEST_DB_HOST");
    s.port = qEnvironmentVariable("LAPIDO_TEST_DB_PORT");
    s.user = qEnvironmentVariable("LAPIDO_TEST_DB_USER");
    s.password = qEnvironmentVariable("LAPIDO_TEST_DB_PASSWORD");
    if (s.host.isEmpty() || s.port.isEmpty() || s.user.isEmpty())
        return std::nullopt;
    return s;
}

std::unique_ptr<OdbcConnection> TestDatabaseServer::connect(const QString& database) const
{
    QString error;
    auto c = OdbcConnection::open(QStringLiteral("DRIVER={MariaDB Unicode};SERVER=") + host + QStringLiteral(";PORT=") + port
                                      + QStringLiteral(";UID=") + user + QStringLiteral(";PWD=")
                                      + odbcAttributeValue(password) + QStringLiteral(";DATABASE=") + database
                                      + QChar(';'),
                                  &error);
    if (!c)
        qWarning("test database: %s", qPrintable(error));
    return c;
}

void storeDatabaseSettings(SettingsStore& store, const std::optional<TestDatabaseServer>& server, bool reachable)
{
    const QString s = QStringLiteral("Database");
    store.WriteString(s, QStringLiteral("customer"), QStringLiteral("XGL"));
    store.WriteString(s, QStringLiteral("odbcdriver"), QStringLiteral("MariaDB Unicode"));
    store.WriteString(s, QStringLiteral("hostname"),
                      server && reachable ? server->hostWithPort() : QStringLiteral("127.0.0.1:1"));
    if (server) {
        store.WriteString(s, QStringLiteral("username"), server->user);
        store.WriteString(s, QStringLiteral("password"), server->password);
    }
}

} // namespace lapido::test
