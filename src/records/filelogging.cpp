// The file sink of the maintenance log.
#include "records/filelogging.h"

#include "platform/debuglog.h"
#include "platform/operatordialogs.h"
#include "settings/settingskeys.h"
#include "platform/savefile.h"


namespace lapido {

namespace {
std::unique_ptr<TFileLogging>& instanceSlot()
{
    static std::unique_ptr<TFileLogging> instance;
    return instance;
}

void reportFileError(const QString& errorClass, const QString& message)
{
    const QString text = errorClass + QStringLiteral("log error : ") + message;
    LogDebug(text);
    operatorDialogs().error(text);
}
} // namespace

TFileLogging::TFileLogging()
    : TFileLogging(currentMaintenanceIdentity(), keys::read(keys::LogFileBaseDir), defaultLocalTimeSource())
{
}

TFileLogging::TFileLogging(MaintenanceIdentity identity, QString baseDir, LocalTimeSource now)
    : m_identity(std::move(identity)), m_baseDir(std::move(baseDir)), m_now(std::move(now))
{
}

TFileLogging& TFileLogging::GetInstance()
{
    auto& slot = instanceSlot();
    if (!slot)
        slot = std::make_unique<TFileLogging>();
    return *slot;
}

void TFileLogging::ResetInstance()
{
    instanceSlot().reset();
}

QString TFileLogging::fileNameFor(const QString& table, const QDateTime& when) const
{
    return m_baseDir + QChar('/') + table + QChar('_')
           + when.toString(QStringLiteral("yyyy-MM-dd HH_mm_ss_zzz")) + QStringLiteral(".log");
}

bool TFileLogging::InsertReg(const QString& table, const QString& action, const QString& newValue)
{
    if (!isPlainSqlIdentifier(table)) {
        reportFileError(QStringLiteral("FileCreateError"), QStringLiteral("\"%1\" is not a maintenance action.").arg(table));
        return false;
    }
    const QDateTime when = m_now();
    const MaintenanceRecord record = makeMaintenanceRecord(m_identity, action, newValue, when);
    const QString name = fileNameFor(table, when);

    // Written aside and renamed, so that a full disk never leaves a half record behind. The
    // messages (which already name the file) tell a file that cannot be made from a write that
    // failed.
    SafeFile file(name);
    QString error;
    if (!file.open(&error)) {
        reportFileError(QStringLiteral("FileCreateError"), error);
        return false;
    }
    const QString text = maintenanceFieldNames().join(QChar('\t')) + QStringLiteral("\r\n")
                         + record.fields().join(QChar('\t')) + QStringLiteral("\r\n");
    file.write(QByteArrayView(text.toLocal8Bit()));
    if (!file.commit(&error)) {
        reportFileError(QStringLiteral("FileWriteError"), error);
        return false;
    }
    return true;
}

} // namespace lapido
