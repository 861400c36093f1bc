// Backup runner and the administration page's folder choices.
#include "settings/settingsbackup.h"

#include "platform/debuglog.h"
#include "platform/numfmt.h"
#include "platform/operatordialogs.h"
#include "platform/processstarter.h"
#include "platform/settingsstore.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"

#include <exception>

namespace lapido {

namespace {

const QString kBackupSection = QString::fromLatin1(keys::kBackup);
const QString kAdministrationSection = QString::fromLatin1(keys::kAdministration);

} // namespace

QStringList backupToolArguments(const QString& backupFolder)
{
    return {QStringLiteral("--Backup"), QStringLiteral("-LaHives"), QStringLiteral("-McHives"), backupFolder};
}

QString MakeBackup(SettingsStore& store, TSettings& record, ProcessStarter& starter, const QDateTime& now,
                   const QLocale& locale)
{
    const QString stamp = FormatLocaleSeparatedDateTime(now, locale);
    try {
        const QString folder = store.ReadString(kBackupSection, QStringLiteral("BackupPath"), record.BackupPath);
        const QString tool = store.ReadString(kBackupSection, QStringLiteral("VaultkeepLink"), record.VaultkeepLink);
        // Whether the tool started is not what the stamp records: a missing tool would
        // otherwise be retried at every start of the day.
        starter.startDetached(tool, backupToolArguments(folder));
        store.WriteString(kBackupSection, QStringLiteral("Backupdate"), stamp);
        record.Backupdate = stamp;
    } catch (const std::exception& e) {
        LogDebug(QStringLiteral("Backup exception ") + QString::fromLocal8Bit(e.what()));
    }
    return stamp;
}

bool AutoBackup(SettingsStore& store, TSettings& record, ProcessStarter& starter, const QDateTime& now,
                const QLocale& locale)
{
    if (!record.Auto_Backup)
        return false;
    const QString last = store.ReadString(kBackupSection, QStringLiteral("Backupdate"), QStringLiteral("N/A"));
    if (last.contains(FormatLocaleSeparatedDate(now.date(), locale)))
        return false;
    MakeBackup(store, record, starter, now, locale);
    return true;
}

QString EditBackupFolder(OperatorDialogs& dialogs, SettingsStore& store, TSettings& record)
{
    const auto folder = dialogs.chooseFolder(QStringLiteral("Please select a directory for Auto Backups"),
                                             record.BackupPath);
    if (!folder || folder->isEmpty())
        return {};
    store.WriteString(kBackupSection, QStringLiteral("BackupPath"), *folder);
    record.BackupPath = *folder;
    return *folder;
}

bool SetVaultkeepLink(OperatorDialogs& dialogs, SettingsStore& store, TSettings& record)
{
    const QString link = store.ReadString(kBackupSection, QStringLiteral("VaultkeepLink"), record.VaultkeepLink);
    const DialogResult answer = dialogs.confirmation(
        QStringLiteral("Current Vaultkeep link is ") + link + QStringLiteral("\r\nDo you want to change it ?"),
        {DialogButton{DialogResult::Yes, {}, true}, DialogButton{DialogResult::Cancel, {}, false}});
    if (answer != DialogResult::Yes)
        return false;
    // The tool is "Vaultkeep.exe" on the stations it came from and "vaultkeep" here.
    const auto file = dialogs.chooseOpenFile(QStringLiteral("Please select Vaultkeep"), link,
                                             QStringLiteral("Vaultkeep (Vaultkeep.exe vaultkeep)"));
    if (!file || file->isEmpty())
        return false;
    store.WriteString(kBackupSection, QStringLiteral("VaultkeepLink"), *file);
    record.VaultkeepLink = *file;
    return true;
}

QString EditWorkingDirectory(OperatorDialogs& dialogs, SettingsStore& store, TSettings& record)
{
    const auto folder = dialogs.chooseFolder(QStringLiteral("Please select a working directory"), record.WorkingDir);
    if (!folder || folder->isEmpty())
        return {};
    QString dir = *folder;
    if (!dir.endsWith(QChar('/')))
        dir += QChar('/');
    store.WriteString(kAdministrationSection, QStringLiteral("WorkingDir"), dir);
    record.WorkingDir = dir;
    dialogs.information(QStringLiteral("Working directory edited. Please restart application."));
    return dir;
}

} // namespace lapido
