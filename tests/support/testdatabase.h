// The throw-away MariaDB server of the database tests, as scripts/start-test-db.sh announced it.
#pragma once

#include "platform/settingsstore.h"
#include "records/odbcconnection.h"

#include <QString>

#include <memory>
#include <optional>
#include <ostream>

namespace lapido::test {

struct TestDatabaseServer {
    QString host;
    QString port;
    QString user;
    QString password;

    // "host:port" as the station's hostname settings take it.
    QString hostWithPort() const { return host + QChar(':') + port; }
    // An administrative connection for preparing and reading back.
    std::unique_ptr<OdbcConnection> connect(const QString& database = QStringLiteral("mysql")) const;
};

// nullopt when the variables LAPIDO_TEST_DB_* are not set (the test then skips).
std::optional<TestDatabaseServer> testDatabaseServer();

// Points the station's marking-record settings at the server, or, when it is not to be
// reached (or there is none), at a loopback port where nothing listens, so that the
// connection is refused at once.
void storeDatabaseSettings(SettingsStore& store, const std::optional<TestDatabaseServer>& server, bool reachable);

// The database's faults a marking run meets: unreachable when the station starts, or its
// connection dropped by the server while a label is marked.
struct DatabaseFault {
    const char* name;
    bool reachableAtStart;
};

inline void PrintTo(const DatabaseFault& f, std::ostream* os)
{
    *os << f.name;
}

inline constexpr char kSkipWithoutServer[] =
    "no test database: run eval \"$(scripts/start-test-db.sh --env)\" first";

} // namespace lapido::test
