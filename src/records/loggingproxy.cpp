// Sink selection and hand-over of maintenance records.
#include "records/loggingproxy.h"

#include "platform/debuglog.h"
#include "platform/operatordialogs.h"
#include "records/databaselogging.h"
#include "records/filelogging.h"
#include "settings/settingskeys.h"

#include <memory>

namespace lapido {

namespace {
std::unique_ptr<TLoggingProxy>& instanceSlot()
{
    static std::unique_ptr<TLoggingProxy> instance;
    return instance;
}

TLoggingProxy::Sink selectSink()
{
    // Exactly "1": "yes" or "true" leave a sink off.
    if (keys::read(keys::LogFileEnabled) == QLatin1String("1"))
        return TLoggingProxy::Sink::File;
    if (keys::read(keys::DatabaseEnabled) == QLatin1String("1"))
        return TLoggingProxy::Sink::Database;
    return TLoggingProxy::Sink::None;
}
} // namespace

TLoggingProxy::TLoggingProxy() : m_sink(selectSink()) {}

TLoggingProxy& TLoggingProxy::GetInstance()
{
    auto& slot = instanceSlot();
    if (!slot)
        slot = std::make_unique<TLoggingProxy>();
    return *slot;
}

void TLoggingProxy::ResetInstance()
{
    instanceSlot().reset();
}

void TLoggingProxy::reportDatabaseError(const QString& error)
{
    const QString text = QStringLiteral("Maintenance log database error: ") + error;
    LogDebug(text);
    // A database that stays away would otherwise raise the same box at every record.
    if (text == m_lastShownError)
        return;
    m_lastShownError = text;
    operatorDialogs().error(text);
}

bool TLoggingProxy::InsertReg(const QString& table, const QString& action, const QString& newValue)
{
    switch (m_sink) {
    case Sink::None:
        return true;
    case Sink::File:
        return TFileLogging::GetInstance().InsertReg(table, action, newValue);
    case Sink::Database: {
        QString error;
        TDataBaseLogging* db = TDataBaseLogging::GetInstance(&error);
        if (!db) {
            reportDatabaseError(error);
            return false;
        }
        const SqlOutcome r = db->InsertReg(table, action, newValue);
        if (!r.ok()) {
            // Most likely the connection went away: the next record connects afresh.
            TDataBaseLogging::ResetInstance();
            reportDatabaseError(r.error);
            return false;
        }
        m_lastShownError.clear();
        return true;
    }
    }
    return false;
}

} // namespace lapido
