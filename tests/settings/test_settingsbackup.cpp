// Backups by the outside tool and the administration page's folder choices.
#include "settings/settingsbackup.h"

#include "platform/debuglog.h"
#include "platform/processstarter.h"
#include "settings/settingsrecord.h"
#include "testsupport.h"

using namespace lapido;

namespace {

class RecordingStarter final : public ProcessStarter {
public:
    bool startDetached(const QString& program, const QStringList& arguments) override
    {
        started.push_back({program, arguments});
        return succeed;
    }
    std::vector<std::pair<QString, QStringList>> started;
    bool succeed = true;
};

const QLocale kUs(QLocale::English, QLocale::UnitedStates);
const QLocale kGerman(QLocale::German, QLocale::Germany);

class SettingsBackupTest : public test::StationFixture {
protected:
    QString stored(const char* key) { return store().ReadString("Backup", key, "<missing>"); }

    TSettings m_record;
    RecordingStarter m_starter;
    const QDateTime m_morning{QDate(2026, 3, 7), QTime(8, 5, 9)};
};

TEST_F(SettingsBackupTest, BackupStartsTheToolWithTheFolderAndStampsTheTime)
{
    store().WriteString("Backup", "BackupPath", "/srv/backup with blank");
    store().WriteString("Backup", "VaultkeepLink", "/opt/vk/vaultkeep");
    EXPECT_EQ(MakeBackup(store(), m_record, m_starter, m_morning, kUs), QStringLiteral("03/07/2026 08:05:09"));
    ASSERT_EQ(m_starter.started.size(), 1u);
    EXPECT_EQ(m_starter.started[0].first, QStringLiteral("/opt/vk/vaultkeep"));
    EXPECT_EQ(m_starter.started[0].second,
              (QStringList{"--Backup", "-LaHives", "-McHives", "/srv/backup with blank"}));
    EXPECT_EQ(stored("Backupdate"), QStringLiteral("03/07/2026 08:05:09"));
    EXPECT_EQ(m_record.Backupdate, QStringLiteral("03/07/2026 08:05:09"));
    // The locale's separators take the place of "/" and ":".
    EXPECT_EQ(MakeBackup(store(), m_record, m_starter, m_morning, kGerman), QStringLiteral("03.07.2026 08:05:09"));
}

TEST_F(SettingsBackupTest, MissingToolIsLoggedAndStillStampsTheDate)
{
    store().WriteString("Backup", "VaultkeepLink", scratch("no/such/vaultkeep"));
    DetachedProcessStarter real;
    DebugLogCapture log;
    MakeBackup(store(), m_record, real, m_morning, kUs);
    EXPECT_EQ(stored("Backupdate"), QStringLiteral("03/07/2026 08:05:09"));
    bool logged = false;
    for (const std::string& line : log.lines())
        logged = logged || line.find("no/such/vaultkeep") != std::string::npos;
    EXPECT_TRUE(logged);
    // So the automatic backup is not tried again that day.
    EXPECT_FALSE(AutoBackup(store(), m_record, real, m_morning.addSecs(3600), kUs));
}

TEST_F(SettingsBackupTest, AutomaticBackupOncePerCalendarDay)
{
    EXPECT_EQ(stored("Backupdate"), QStringLiteral("<missing>"));
    EXPECT_TRUE(AutoBackup(store(), m_record, m_starter, m_morning, kUs));
    EXPECT_FALSE(AutoBackup(store(), m_record, m_starter, m_morning.addSecs(8 * 3600), kUs));
    EXPECT_EQ(m_starter.started.size(), 1u);
    // A new separator no longer finds today's date: one more backup.
    EXPECT_TRUE(AutoBackup(store(), m_record, m_starter, m_morning.addSecs(9 * 3600), kGerman));
    EXPECT_TRUE(AutoBackup(store(), m_record, m_starter, m_morning.addDays(1), kGerman));
    EXPECT_EQ(m_starter.started.size(), 3u);

    m_record.Auto_Backup = false;
    EXPECT_FALSE(AutoBackup(store(), m_record, m_starter, m_morning.addDays(2), kGerman));
    EXPECT_EQ(m_starter.started.size(), 3u);
}

TEST_F(SettingsBackupTest, WorkingFolderEditStoresWithSeparatorAndAsksForARestart)
{
    m_dialogs.queueText(std::nullopt);
    EXPECT_EQ(EditWorkingDirectory(m_dialogs, store(), m_record), QString());
    EXPECT_EQ(store().ReadString("Administration", "WorkingDir", "<missing>"), QStringLiteral("<missing>"));

    m_dialogs.clear();
    m_dialogs.queueText(QStringLiteral("/data/station"));
    EXPECT_EQ(EditWorkingDirectory(m_dialogs, store(), m_record), QStringLiteral("/data/station/"));
    EXPECT_EQ(store().ReadString("Administration", "WorkingDir", ""), QStringLiteral("/data/station/"));
    EXPECT_EQ(m_record.WorkingDir, QStringLiteral("/data/station/"));
    ASSERT_EQ(m_dialogs.transcript().size(), 2u);
    EXPECT_EQ(m_dialogs.transcript()[0].title, QStringLiteral("Please select a working directory"));
    EXPECT_EQ(m_dialogs.transcript()[1].text, QStringLiteral("Working directory edited. Please restart application."));
}

TEST_F(SettingsBackupTest, ToolLinkChangesOnlyAfterYesAndAFile)
{
    m_record.VaultkeepLink = QStringLiteral("/usr/bin/vaultkeep");
    m_dialogs.queueAnswer(DialogResult::Cancel);
    EXPECT_FALSE(SetVaultkeepLink(m_dialogs, store(), m_record));
    ASSERT_EQ(m_dialogs.transcript().size(), 1u); // no file choice after Cancel
    EXPECT_EQ(m_dialogs.transcript()[0].text,
              QStringLiteral("Current Vaultkeep link is /usr/bin/vaultkeep\r\nDo you want to change it ?"));

    m_dialogs.queueAnswer(DialogResult::Yes);
    m_dialogs.queueText(QStringLiteral("/opt/vk/vaultkeep"));
    EXPECT_TRUE(SetVaultkeepLink(m_dialogs, store(), m_record));
    EXPECT_EQ(stored("VaultkeepLink"), QStringLiteral("/opt/vk/vaultkeep"));
    EXPECT_EQ(m_dialogs.transcript().back().title, QStringLiteral("Please select Vaultkeep"));

    m_dialogs.queueText(QStringLiteral("/srv/backups"));
    EXPECT_EQ(EditBackupFolder(m_dialogs, store(), m_record), QStringLiteral("/srv/backups"));
    EXPECT_EQ(stored("BackupPath"), QStringLiteral("/srv/backups"));
    EXPECT_EQ(m_dialogs.transcript().back().title, QStringLiteral("Please select a directory for Auto Backups"));
}

} // namespace
