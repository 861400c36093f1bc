// The file sink of the maintenance log: one new two-line tab-separated file per record.
#pragma once

#include "records/maintenancerecord.h"

#include <QString>

#include <memory>

namespace lapido {

class TFileLogging {
public:
    // Reads MachineNumber, the version and logfilebasedir from the store.
    TFileLogging();
    TFileLogging(MaintenanceIdentity identity, QString baseDir, LocalTimeSource now);

    static TFileLogging& GetInstance();
    // Drops the run's instance so that the next GetInstance reads the settings again (tests).
    static void ResetInstance();

    // Writes one record to its own file. A failure is shown to the operator as
    // "<class>log error : <message>" and the record is lost; false then.
    bool InsertReg(const QString& table, const QString& action, const QString& newValue);

    // Where a record of this table made at this moment goes. The separator is added even when
    // the folder already ends with one, as the station always did.
    QString fileNameFor(const QString& table, const QDateTime& when) const;

    static QString GetComputerNetName() { return computerNetName(); }
    const MaintenanceIdentity& identity() const { return m_identity; }

    // One operation per action of the vocabulary, each taking the action and new value texts.
#define LAPIDO_ACTION(op, table) \
    bool op(const QString& action, const QString& newValue) { return InsertReg(QStringLiteral(table), action, newValue); }
#define LAPIDO_FLOAT_TABLE(table)
#include "records/maintenanceactions.inc"
#undef LAPIDO_FLOAT_TABLE
#undef LAPIDO_ACTION

private:
    MaintenanceIdentity m_identity;
    QString m_baseDir;
    LocalTimeSource m_now;
};

} // namespace lapido
