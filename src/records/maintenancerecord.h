// The maintenance record: its seven fields, the action vocabulary and the run-wide identity.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <span>

namespace lapido {

// One row of the action vocabulary: the table (and file prefix) name and the name of the
// operation that records it. The float table has no operation.
struct MaintenanceAction {
    const char* table;
    const char* operation; // nullptr: table only
    bool isFloatTable = false;
};

// The vocabulary in table-creation order.
std::span<const MaintenanceAction> maintenanceActions();
// Finds an action by table name or operation name (exact spelling, either form).
const MaintenanceAction* findMaintenanceAction(const QString& name);

// Database, table and file-prefix names go into statements and file names as they are, so
// only plain names pass: ASCII letters, digits, "_" and "$", at most 64 characters.
bool isPlainSqlIdentifier(const QString& name);

// The fields every record carries, in their fixed order.
struct MaintenanceRecord {
    QString Action;
    QString NewValue;
    QString ShotsCounts;
    QString LogDateTime;
    QString MachineId;
    QString SWVersion;
    QString User;

    QStringList fields() const { return {Action, NewValue, ShotsCounts, LogDateTime, MachineId, SWVersion, User}; }
    bool operator==(const MaintenanceRecord&) const = default;
};

// The header line of the file sink and the column names of the tables.
QStringList maintenanceFieldNames();

// What a sink determines once, when it is created.
struct MaintenanceIdentity {
    QString MachineId;
    QString SWVersion;
    QString User = QStringLiteral("LA");
};
// MachineNumber (default the computer's network name), the program version, "LA".
MaintenanceIdentity currentMaintenanceIdentity();

// The program's file version: four numbers joined by points.
QString programFileVersion();

// Local time of the station; replaceable so that stamps and file names can be tested.
using LocalTimeSource = std::function<QDateTime()>;
LocalTimeSource defaultLocalTimeSource();

// "YYYY-MM-DD HH:MM:SS" (24-hour clock, the locale's time separator).
QString maintenanceDateTimeText(const QDateTime& when);

// A record of the given action made now, with the resettable shot counter of the settings record.
MaintenanceRecord makeMaintenanceRecord(const MaintenanceIdentity& identity, const QString& action,
                                        const QString& newValue, const QDateTime& when);

// The computer's network name, at most 256 characters; empty when the platform gives none.
QString computerNetName();

} // namespace lapido
