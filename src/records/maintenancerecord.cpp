// The action vocabulary and the fields shared by both maintenance sinks.
#include "records/maintenancerecord.h"

#include "platform/numfmt.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"

#include <QRegularExpression>
#include <QSysInfo>

#ifndef LAPIDO_FILE_VERSION
#define LAPIDO_FILE_VERSION "0.0.0.0"
#endif

namespace lapido {

namespace {
#define LAPIDO_ACTION(op, table) MaintenanceAction{table, #op, false},
#define LAPIDO_FLOAT_TABLE(table) MaintenanceAction{table, nullptr, true},
constexpr MaintenanceAction kActions[] = {
#include "records/maintenanceactions.inc"
};
#undef LAPIDO_FLOAT_TABLE
#undef LAPIDO_ACTION

QChar localeTimeSeparator()
{
    const QString format = userLocale().timeFormat(QLocale::ShortFormat);
    const qsizetype hour = format.indexOf(QRegularExpression(QStringLiteral("[hH]")));
    for (qsizetype i = hour < 0 ? 0 : hour; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c != QChar('h') && c != QChar('H') && !c.isSpace())
            return c;
    }
    return QChar(':');
}
} // namespace

std::span<const MaintenanceAction> maintenanceActions()
{
    return kActions;
}

const MaintenanceAction* findMaintenanceAction(const QString& name)
{
    for (const auto& a : kActions)
        if (name == QLatin1String(a.table) || (a.operation && name == QLatin1String(a.operation)))
            return &a;
    return nullptr;
}

bool isPlainSqlIdentifier(const QString& name)
{
    if (name.isEmpty() || name.size() > 64)
        return false;
    for (QChar c : name)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QChar('_') && c != QChar('$'))
            return false;
    return true;
}

QStringList maintenanceFieldNames()
{
    return {QStringLiteral("Action"),      QStringLiteral("NewValue"),  QStringLiteral("ShotsCounts"),
            QStringLiteral("LogDateTime"), QStringLiteral("MachineId"), QStringLiteral("SWVersion"),
            QStringLiteral("User")};
}

QString programFileVersion()
{
    return QStringLiteral(LAPIDO_FILE_VERSION);
}

MaintenanceIdentity currentMaintenanceIdentity()
{
    MaintenanceIdentity id;
    id.MachineId = keys::machineNumber();
    id.SWVersion = programFileVersion();
    return id;
}

LocalTimeSource defaultLocalTimeSource()
{
    return [] { return QDateTime::currentDateTime(); };
}

QString maintenanceDateTimeText(const QDateTime& when)
{
    const QChar sep = localeTimeSeparator();
    const QTime t = when.time();
    const auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QChar('0')); };
    return when.date().toString(QStringLiteral("yyyy-MM-dd")) + QChar(' ') + two(t.hour()) + sep + two(t.minute()) + sep
           + two(t.second());
}

MaintenanceRecord makeMaintenanceRecord(const MaintenanceIdentity& identity, const QString& action,
                                        const QString& newValue, const QDateTime& when)
{
    MaintenanceRecord r;
    r.Action = action;
    r.NewValue = newValue;
    r.ShotsCounts = QString::number(Settings().PulseCount);
    r.LogDateTime = maintenanceDateTimeText(when);
    r.MachineId = identity.MachineId;
    r.SWVersion = identity.SWVersion;
    r.User = identity.User;
    return r;
}

QString computerNetName()
{
    return QSysInfo::machineHostName().left(256);
}

} // namespace lapido
