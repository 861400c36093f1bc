// Store access for the directly read keys.
#include "settings/settingskeys.h"

#include "platform/settingsstore.h"

#include <QSysInfo>

namespace lapido::keys {

QString bindKeyName(int digit)
{
    return QString::fromLatin1(kBindKeyPrefix) + QString::number(digit);
}

QString allOffLightTemplate()
{
    QString s;
    for (int i = 0; i < 16; ++i)
        s += QString::number(i) + QStringLiteral("#0#0#0#@");
    return s;
}

QString read(SettingsStore& store, const TextKey& key)
{
    return store.ReadString(QString::fromLatin1(key.section), QString::fromLatin1(key.name),
                            QString::fromLatin1(key.defaultValue));
}

int read(SettingsStore& store, const IntKey& key)
{
    return store.ReadInteger(QString::fromLatin1(key.section), QString::fromLatin1(key.name), key.defaultValue);
}

bool read(SettingsStore& store, const BoolKey& key)
{
    return store.ReadBool(QString::fromLatin1(key.section), QString::fromLatin1(key.name), key.defaultValue);
}

QString read(const TextKey& key) { return read(AppRegistry(), key); }
int read(const IntKey& key) { return read(AppRegistry(), key); }
bool read(const BoolKey& key) { return read(AppRegistry(), key); }

void write(const TextKey& key, const QString& value)
{
    AppRegistry().WriteString(QString::fromLatin1(key.section), QString::fromLatin1(key.name), value);
}

void write(const IntKey& key, int value)
{
    AppRegistry().WriteInteger(QString::fromLatin1(key.section), QString::fromLatin1(key.name), value);
}

void write(const BoolKey& key, bool value)
{
    AppRegistry().WriteBool(QString::fromLatin1(key.section), QString::fromLatin1(key.name), value);
}

QString machineNumber()
{
    return AppRegistry().ReadString(QString::fromLatin1(MachineNumber.section),
                                    QString::fromLatin1(MachineNumber.name), QSysInfo::machineHostName());
}

} // namespace lapido::keys
