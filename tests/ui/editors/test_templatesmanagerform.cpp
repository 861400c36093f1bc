// The templates manager window: check list, snapshot preview, Import, Close and Delete.
#include "ui/workflow/templatesmanagerform.h"

#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace lapido {
namespace {

class TemplatesManagerFormTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        m_work = scratch(QStringLiteral("work")) + QLatin1Char('/');
        QDir().mkpath(m_work + QStringLiteral("Templates"));
        for (const char* name : {"Oval", "Pear", "Round"}) {
            QFile xml(templates() + QLatin1String(name) + QStringLiteral(".xml"));
            ASSERT_TRUE(xml.open(QIODevice::WriteOnly));
            xml.write("<tree2xml app=\"Lapidograph.exe\"/>");
        }
        QImage snapshot(64, 48, QImage::Format_RGB32);
        snapshot.fill(Qt::darkCyan);
        ASSERT_TRUE(snapshot.save(templates() + QStringLiteral("Pear.jpg"), "JPG"));
    }
    QString templates() const { return m_work + QStringLiteral("Templates/"); }
    QListWidgetItem* item(const QString& name) const
    {
        const auto found = m_form.CheckListBoxTemplates->findItems(name, Qt::MatchExactly);
        return found.isEmpty() ? nullptr : found.first();
    }
    void check(const QString& name)
    {
        QListWidgetItem* it = item(name);
        ASSERT_NE(it, nullptr) << name.toStdString();
        it->setCheckState(Qt::Checked);
    }
    // Runs the modal window; `operate` acts on it while it is open.
    QStringList run(std::function<void()> operate)
    {
        QTimer::singleShot(0, &m_form, [&] {
            operate();
            if (m_form.isVisible())
                m_form.reject();
        });
        return m_form.ShowManager(m_work, {QStringLiteral("Oval"), QStringLiteral("Pear"), QStringLiteral("Round")});
    }

    QString m_work;
    TFTemplatesManagerForm m_form;
};

TEST_F(TemplatesManagerFormTest, ImportReturnsTheCheckedNamesOnceActionsAreEnabled)
{
    const QStringList imported = run([&] {
        EXPECT_TRUE(m_form.isActivated());
        EXPECT_FALSE(m_form.BitBtnImport->isEnabled());
        check(QStringLiteral("Round"));
        check(QStringLiteral("Oval"));
        QTRY_VERIFY_WITH_TIMEOUT(m_form.BitBtnImport->isEnabled(), 2000);
        EXPECT_TRUE(m_form.BitBtnDelete->isEnabled());
        m_form.BitBtnImport->click();
    });
    EXPECT_EQ(imported, (QStringList{QStringLiteral("Oval"), QStringLiteral("Round")}));
    EXPECT_FALSE(m_form.isActivated());
}

TEST_F(TemplatesManagerFormTest, CloseImportsNothingButTheFrameKeepsTheChecks)
{
    EXPECT_TRUE(run([&] {
        check(QStringLiteral("Pear"));
        m_form.BitBtnClose->click();
    }).isEmpty());
    EXPECT_EQ(m_form.CheckListBoxTemplates->count(), 0);

    EXPECT_EQ(run([&] { check(QStringLiteral("Pear")); }), QStringList{QStringLiteral("Pear")});
}

TEST_F(TemplatesManagerFormTest, ClickShowsTheSnapshotAndAMissingOneLeavesThePreviewEmpty)
{
    run([&] {
        const QRect pear = m_form.CheckListBoxTemplates->visualItemRect(item(QStringLiteral("Pear")));
        QTest::mouseClick(m_form.CheckListBoxTemplates->viewport(), Qt::LeftButton, {}, pear.center());
        EXPECT_FALSE(m_form.ImagePreview->pixmap().isNull());
        const QRect oval = m_form.CheckListBoxTemplates->visualItemRect(item(QStringLiteral("Oval")));
        QTest::mouseClick(m_form.CheckListBoxTemplates->viewport(), Qt::LeftButton, {}, oval.center());
        EXPECT_TRUE(m_form.ImagePreview->pixmap().isNull());
    });
}

TEST_F(TemplatesManagerFormTest, DeleteMovesTheCheckedFilesIntoTheBackupAfterYes)
{
    run([&] {
        check(QStringLiteral("Pear"));
        QTRY_VERIFY_WITH_TIMEOUT(m_form.BitBtnDelete->isEnabled(), 2000);
        m_dialogs.queueAnswer(DialogResult::Cancel);
        m_form.BitBtnDelete->click();
        EXPECT_EQ(m_dialogs.transcript().size(), 1u);
        EXPECT_TRUE(QFile::exists(templates() + QStringLiteral("Pear.xml")));
        EXPECT_EQ(m_form.CheckListBoxTemplates->count(), 3);

        m_dialogs.queueAnswer(DialogResult::Yes);
        m_form.BitBtnDelete->click();
        EXPECT_EQ(m_form.CheckListBoxTemplates->count(), 2);
        EXPECT_EQ(item(QStringLiteral("Pear")), nullptr);
        m_form.BitBtnClose->click();
    });
    EXPECT_TRUE(m_dialogs.texts().last().startsWith(QStringLiteral("Wish you to delete templates listed below?\r\nPear")));
    EXPECT_FALSE(QFile::exists(templates() + QStringLiteral("Pear.xml")));
    EXPECT_FALSE(QFile::exists(templates() + QStringLiteral("Pear.jpg")));
    const QStringList backup = QDir(templates() + QStringLiteral("Backup")).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(backup.size(), 2);
    EXPECT_TRUE(backup[0].startsWith(QStringLiteral("Pear_")) && backup[0].endsWith(QStringLiteral(".jpg")));
    EXPECT_TRUE(backup[1].startsWith(QStringLiteral("Pear_")) && backup[1].endsWith(QStringLiteral(".xml")));
    EXPECT_TRUE(QFile::exists(templates() + QStringLiteral("Oval.xml")));
}

} // namespace
} // namespace lapido
