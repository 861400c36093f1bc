// Backups of the station's configuration by the outside backup tool, and the folder settings
// of the administration page (backup folder, tool, working folder).
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

namespace lapido {

class OperatorDialogs;
class ProcessStarter;
class SettingsStore;
struct TSettings;

// The backup tool's arguments for a backup into folder (one list entry each; no shell).
QStringList backupToolArguments(const QString& backupFolder);

// Starts the backup tool (BackupPath and VaultkeepLink from the store, the record's values as
// defaults) without waiting for it, then stamps Backupdate in the store and the record with
// `now` as "mm/dd/yyyy hh:nn:ss" in the locale's separators. A tool that cannot be started is
// logged and the stamp is still written, so the day's automatic backup is not tried again.
// Returns the stamp.
QString MakeBackup(SettingsStore& store, TSettings& record, ProcessStarter& starter, const QDateTime& now,
                   const QLocale& locale);

// The automatic backup at the first start of a day: only when Auto_Backup is set and the
// stored Backupdate does not hold today's date. True when a backup was made.
bool AutoBackup(SettingsStore& store, TSettings& record, ProcessStarter& starter, const QDateTime& now,
                const QLocale& locale);

// "Edit backup folder": a folder choice; the chosen folder goes to BackupPath (store and
// record). Returns the folder, or an empty text when cancelled.
QString EditBackupFolder(OperatorDialogs& dialogs, SettingsStore& store, TSettings& record);

// "Set Vaultkeep link": asks whether to change the current link, then a file choice; the
// chosen file goes to VaultkeepLink. True when the link changed.
bool SetVaultkeepLink(OperatorDialogs& dialogs, SettingsStore& store, TSettings& record);

// Working folder "Edit": a folder choice; the folder with a trailing separator goes to
// WorkingDir (store and record) and the operator is told to restart, since the station took
// its working folder at start. Returns the new folder, or an empty text when cancelled.
QString EditWorkingDirectory(OperatorDialogs& dialogs, SettingsStore& store, TSettings& record);

} // namespace lapido
