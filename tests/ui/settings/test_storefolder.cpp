// Browsing the settings store's folder with the station's file dialogs leaves the store's files
// unopened: a close() of any descriptor of them would take the store's locks from the process.
#include "platform/settingsstore.h"
#include "ui/common/qtoperatordialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <set>

namespace lapido {
namespace {

// The names of the files opened in a folder since the watch began.
class OpenWatch {
public:
    explicit OpenWatch(const QString& folder) : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (m_fd >= 0)
            inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), IN_OPEN);
    }
    ~OpenWatch()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;
    bool ok() const { return m_fd >= 0; }

    std::set<QString> opened()
    {
        alignas(inotify_event) char buf[8192];
        ssize_t n;
        while ((n = ::read(m_fd, buf, sizeof buf)) > 0) {
            for (char* p = buf; p < buf + n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(p);
                if (e->len > 0)
                    m_opened.insert(QFile::decodeName(e->name));
                p += sizeof(inotify_event) + e->len;
            }
        }
        return m_opened;
    }

private:
    int m_fd;
    std::set<QString> m_opened;
};

const QStringList kStoreFiles{QStringLiteral("settings.db"), QStringLiteral("settings.db-wal"),
                              QStringLiteral("settings.db-shm")};

// Shows the dialog on the folder and waits until it has named the type of each store file,
// which is when the stock dialog has looked into them.
void browse(QFileDialog& dialog, const QString& folder)
{
    dialog.setDirectory(folder);
    dialog.setViewMode(QFileDialog::Detail);
    dialog.show();
    auto* model = dialog.findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    const auto typesNamed = [&] {
        const QModelIndex dir = model->index(folder);
        if (model->canFetchMore(dir))
            model->fetchMore(dir);
        for (const QString& name : kStoreFiles) {
            const QModelIndex file = model->index(folder + QLatin1Char('/') + name, 2);
            if (!file.isValid() || model->data(file).toString().isEmpty())
                return false;
            model->data(file.siblingAtColumn(0), Qt::DecorationRole);
        }
        return true;
    };
    EXPECT_TRUE(QTest::qWaitFor(typesNamed, 60000));
    // The icon of each row is asked for as the view paints: let it paint.
    QTest::qWait(0);
    QApplication::processEvents();
}

class StoreFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        auto store = SettingsStore::open(m_dir.filePath(QStringLiteral("settings.db")));
        store->WriteString(QStringLiteral("Administration"), QStringLiteral("WorkingDir"), m_dir.path());
        for (const QString& name : kStoreFiles)
            ASSERT_TRUE(QFile::exists(m_dir.filePath(name))) << name.toStdString();
    }
    QTemporaryDir m_dir;
};

TEST_F(StoreFolder, StationDialogsNeverOpenTheStoreFiles)
{
    using Choice = QtOperatorDialogs::FileChoice;
    for (const Choice choice : {Choice::Open, Choice::Save, Choice::SaveAskedByCaller}) {
        OpenWatch watch(m_dir.path());
        ASSERT_TRUE(watch.ok());
        const auto dialog = QtOperatorDialogs::fileDialog(nullptr, choice, QStringLiteral("Browse"), m_dir.path(),
                                                          QStringLiteral("All files|*"));
        browse(*dialog, m_dir.path());
        const std::set<QString> opened = watch.opened();
        for (const QString& name : kStoreFiles)
            EXPECT_EQ(opened.count(name), 0u) << name.toStdString() << " opened by choice " << int(choice);
    }
}

// The watch sees what a stock dialog does, so that the test above can fail.
TEST_F(StoreFolder, AStockDialogOpensThemToGuessTheirType)
{
    OpenWatch watch(m_dir.path());
    ASSERT_TRUE(watch.ok());
    QFileDialog dialog(nullptr, QStringLiteral("Browse"), m_dir.path());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    browse(dialog, m_dir.path());
    EXPECT_EQ(watch.opened().count(QStringLiteral("settings.db-wal")), 1u);
}

} // namespace
} // namespace lapido
