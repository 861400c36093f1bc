// The throw-away MariaDB server of the database tests, as scripts/start-test-db.sh announced it.
#pragma once

#include "records/odbcconnection.h"

#include <QString>

#include <memory>
#include <optional>

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

inline constexpr char kSkipWithoutServer[] =
    "no test database: run eval \"$(scripts/start-test-db.sh --env)\" first";

} // namespace lapido::test
