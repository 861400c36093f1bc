// Templates: the store's files and bindings, the main window's save, load, close and key
// operations, and the templates manager's delete into "Backup".
#include "labelfixture.h"

#include "platform/settingsstore.h"
#include "workflow/templatesmanager.h"

#include <QDir>
#include <QFile>
#include <QImage>

namespace lapido::test {
namespace {

class TemplateTest : public LabelFixture {
protected:
    QString templatesDir() const { return workDir() + QStringLiteral("Templates/"); }
    TTemplateList& list() { return st().Templates(); }
    // A template opened in memory without writing it.
    int open(const QString& name, const QString& xml = QStringLiteral("<tree2xml app=\"x\"/>"))
    {
        list().NewTemplate(name, xml, QString(), true);
        return list().Count() - 1;
    }
    // A file in the templates folder, as an earlier run of the station left it.
    void writeFile(const QString& name, const QByteArray& bytes)
    {
        ASSERT_TRUE(QDir().mkpath(templatesDir()));
        QFile f(templatesDir() + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QString bindKey(int n)
    {
        return store().ReadString(QStringLiteral("Layout"), QStringLiteral("BindKey%1").arg(n), QStringLiteral("?"));
    }
    void showStation()
    {
        st().FormCreate();
        st().FormShow();
    }
};

TEST_F(TemplateTest, StartCreatesTheFolderTheDefaultEntryAndEmptyBindings)
{
    store().WriteString(QStringLiteral("Layout"), QStringLiteral("BindKey4"), QStringLiteral("ABC"));
    makeStation();
    st().FormCreate();
    EXPECT_TRUE(QDir(templatesDir()).exists());
    EXPECT_EQ(list().TemplatesNames(), QStringList{QStringLiteral("Default")});
    EXPECT_EQ(bindKey(1), QStringLiteral("NULL"));
    EXPECT_EQ(bindKey(4), QStringLiteral("ABC"));
    EXPECT_FALSE(QFile::exists(templatesDir() + QStringLiteral("Default.xml")));
}

TEST_F(TemplateTest, TheProposedNameCountsOnFromTheHighestSuffix)
{
    open(QStringLiteral("ABC"));
    open(QStringLiteral("ABC_1"));
    open(QStringLiteral("ABC_2"));
    st().ComboBoxTemplatesChange(1);
    m_dialogs.queueAnswer(DialogResult::No); // "Save As..."
    m_dialogs.queueText(std::nullopt);       // the name box cancelled
    st().BitBtnSaveTemplateClick();
    ASSERT_EQ(m_dialogs.transcript().size(), 2u);
    EXPECT_EQ(m_dialogs.transcript()[0].text, QStringLiteral("Replace Template \"ABC\"?"));
    EXPECT_EQ(m_dialogs.transcript()[0].buttons, (QStringList{QStringLiteral("Yes"), QStringLiteral("Save As..."),
                                                              QStringLiteral("Cancel")}));
    EXPECT_EQ(m_dialogs.transcript()[1].text, QStringLiteral("Template Name: [ABC_3]"));
    EXPECT_EQ(list().Count(), 4) << "cancelling the name saves nothing";
}

TEST_F(TemplateTest, SavingFromDefaultAsksForAFreshNameAndWritesXmlAndSnapshot)
{
    QImage picture(32, 24, QImage::Format_RGB32);
    picture.fill(Qt::red);
    TStationServices services;
    services.snapshot = [picture] { return picture; };
    makeStation(std::move(services));
    showStation();
    addLabel(QStringLiteral("AB"));
    open(QStringLiteral("Taken"));

    m_dialogs.queueText(QStringLiteral("Taken"));
    m_dialogs.queueText(QStringLiteral("../escape"));
    m_dialogs.queueText(QStringLiteral("Mine"));
    st().BitBtnSaveTemplateClick();
    const QStringList texts = m_dialogs.texts();
    EXPECT_EQ(texts.count(QStringLiteral("Template name already exists or not allowed, please retry.")), 2);
    EXPECT_EQ(st().templateIndex(), list().IndexOfName(QStringLiteral("Mine")));
    EXPECT_FALSE(QFile::exists(workDir() + QStringLiteral("escape.xml")));

    QFile xml(templatesDir() + QStringLiteral("Mine.xml"));
    ASSERT_TRUE(xml.open(QIODevice::ReadOnly));
    EXPECT_TRUE(xml.readAll().contains("textLabel=\"AB\""));
    const QImage snap(templatesDir() + QStringLiteral("Mine.jpg"));
    ASSERT_FALSE(snap.isNull());
    EXPECT_EQ(snap.size(), picture.size());
    EXPECT_FALSE(QFile::exists(templatesDir() + QStringLiteral("Default.xml")));
    EXPECT_EQ(list().SaveHistory().last(), QStringLiteral("true"));
}

TEST_F(TemplateTest, ImportReadsBytesAsAsciiAndTakesAPermanentBinding)
{
    store().WriteString(QStringLiteral("Layout"), QStringLiteral("BindKey4"), QStringLiteral("Deg"));
    writeFile(QStringLiteral("Deg.xml"), QByteArray("<tree2xml app=\"x\"><item text=\"5") + QByteArray("\xC2\xB0") + "\"/></tree2xml>");
    ASSERT_TRUE(list().ImportTemplate(QStringLiteral("Deg")));
    EXPECT_EQ(list().GetTemplate(1), QStringLiteral("<tree2xml app=\"x\"><item text=\"5??\"/></tree2xml>"));
    EXPECT_EQ(st().ComboBoxTemplatesItems().last(), QStringLiteral("[Alt+4] Deg"));
    EXPECT_EQ(list().SaveHistory().last(), QStringLiteral("false"));

    for (const char* bad : {"../Deg", "sub/Deg", "..", "", "C:Deg"})
        EXPECT_FALSE(list().ImportTemplate(QString::fromLatin1(bad))) << bad;
    EXPECT_FALSE(list().ImportTemplate(QStringLiteral("Missing")));
}

TEST_F(TemplateTest, ALabelWithADegreeSignSurvivesItsOwnFile)
{
    addLabel(QStringLiteral("5\u00B0C"));
    open(QStringLiteral("Deg"), st().Tree2XML());
    ASSERT_FALSE(list().ExportTemplate(1).isEmpty());
    ASSERT_TRUE(list().ImportTemplate(QStringLiteral("Deg")));
    st().ComboBoxTemplatesChange(2);
    ASSERT_EQ(tree().RootCount(), 1);
    EXPECT_EQ(tree().Root(0)->Text(), QStringLiteral("Label \"5\u00B0C\""));
}

TEST_F(TemplateTest, TemporaryBindingMovesAfterTheQuestion)
{
    open(QStringLiteral("A"));
    open(QStringLiteral("B"));
    st().ComboBoxTemplatesChange(1);
    st().BindTemplateTemporary(2);
    EXPECT_TRUE(m_dialogs.transcript().empty());
    st().ComboBoxTemplatesChange(2);
    m_dialogs.queueAnswer(DialogResult::Cancel);
    st().BindTemplateTemporary(2);
    EXPECT_EQ(list().TemplatesBinds()[1], QStringLiteral("50")) << "Cancel keeps the binding";
    m_dialogs.queueAnswer(DialogResult::Yes);
    st().BindTemplateTemporary(2);
    EXPECT_EQ(m_dialogs.texts().last(), QStringLiteral("Bind is arleady assigned to \"A\", Replace For \"B\"?"));
    EXPECT_EQ(st().ComboBoxTemplatesItems(),
              (QStringList{QStringLiteral("[0] Default"), QStringLiteral("[1] A"), QStringLiteral("[Alt+2] B")}));
    EXPECT_EQ(st().templateIndex(), 2) << "the selection is restored after the refresh";
}

TEST_F(TemplateTest, PermanentBindingReplacesTheStoredNameAfterTheQuestion)
{
    open(QStringLiteral("A"));
    open(QStringLiteral("B"));
    st().ComboBoxTemplatesChange(1);
    st().BindTemplatePermanent(3);
    EXPECT_EQ(bindKey(3), QStringLiteral("A"));
    st().BindTemplatePermanent(5); // A moves from 3 to 5
    EXPECT_EQ(bindKey(3), QStringLiteral("NULL"));
    EXPECT_EQ(bindKey(5), QStringLiteral("A"));

    st().ComboBoxTemplatesChange(2);
    m_dialogs.queueAnswer(DialogResult::Yes);
    st().BindTemplatePermanent(5);
    EXPECT_EQ(m_dialogs.texts().last(), QStringLiteral("Permanent Bind is arleady assigned to \"A\", Replace For \"B\"?"));
    EXPECT_EQ(bindKey(5), QStringLiteral("B"));
    EXPECT_EQ(list().TemplatesBinds()[1], QString()) << "A loses the shortcut";
    EXPECT_EQ(list().TemplatesBinds()[2], QStringLiteral("53"));
}

TEST_F(TemplateTest, AltDigitSelectsAndLoadsTheBoundTemplate)
{
    addLabel(QStringLiteral("ONE"));
    open(QStringLiteral("One"), st().Tree2XML());
    m_dialogs.queueAnswer(DialogResult::Yes); // the label was composed, not loaded: replace it?
    st().ComboBoxTemplatesChange(1);
    st().BindTemplateTemporary(7);
    addLabel(QStringLiteral("TWO"));
    m_dialogs.queueAnswer(DialogResult::Yes); // "... Replace it?"
    st().UseTemplateBinding(7);
    EXPECT_EQ(st().templateIndex(), 1);
    EXPECT_EQ(rootCaptions(), QStringList{QStringLiteral("Label \"ONE\"")});
    EXPECT_EQ(tree().Selected(), tree().Root(0));
    EXPECT_TRUE(st().controls().templateClose);
}

TEST_F(TemplateTest, ClosingEntryThreeSelectsAndLoadsEntryTwo)
{
    for (const char* name : {"A", "B", "C"}) {
        tree().Clear();
        addLabel(QString::fromLatin1(name));
        open(QString::fromLatin1(name), st().Tree2XML());
    }
    m_dialogs.queueAnswer(DialogResult::Yes); // the label "C" was not loaded: replace it?
    st().ComboBoxTemplatesChange(3);
    m_dialogs.queueAnswer(DialogResult::Yes);
    st().BitBtnCloseTemplateClick();
    EXPECT_EQ(m_dialogs.texts().last(), QStringLiteral("Close \"C\" ?"));
    EXPECT_EQ(list().TemplatesNames(), (QStringList{QStringLiteral("Default"), QStringLiteral("A"), QStringLiteral("B")}));
    EXPECT_EQ(st().templateIndex(), 2);
    EXPECT_EQ(rootCaptions(), QStringList{QStringLiteral("Label \"B\"")});

    st().ComboBoxTemplatesChange(0);
    st().BitBtnCloseTemplateClick();
    EXPECT_EQ(list().Count(), 3) << "Default is never closed";
}

TEST_F(TemplateTest, ABrokenTemplateIsReportedAndTheLabelKept)
{
    addLabel(QStringLiteral("KEEP"));
    open(QStringLiteral("Broken"), QStringLiteral("<tree2xml><item"));
    m_dialogs.queueAnswer(DialogResult::Yes); // "... Replace it?"
    st().ComboBoxTemplatesChange(1);
    EXPECT_EQ(rootCaptions(), QStringList{QStringLiteral("Label \"KEEP\"")});
    ASSERT_EQ(m_dialogs.transcript().size(), 2u);
    EXPECT_TRUE(m_dialogs.texts().last().startsWith(QStringLiteral("Template \"Broken\": The label could not be read")));
}

TEST_F(TemplateTest, ATemplateWithoutTextIsNotSelected)
{
    open(QStringLiteral("Full"));
    open(QStringLiteral("Blank"), QString());
    st().ComboBoxTemplatesChange(1);
    ASSERT_EQ(st().templateIndex(), 1);
    st().ComboBoxTemplatesChange(2);
    EXPECT_EQ(st().templateIndex(), 1) << "the selection stays with the label on show";
}

TEST_F(TemplateTest, ShowStoresTheLabelAsDefaultAndLoadsEveryFileWhenAsked)
{
    Settings().AutoTemplateName = true;
    writeFile(QStringLiteral("First.xml"), "<tree2xml app=\"x\"/>");
    writeFile(QStringLiteral("Second.XML"), "<tree2xml app=\"x\"/>");
    writeFile(QStringLiteral("Second.jpg"), "not a template");
    showStation();
    EXPECT_EQ(list().TemplatesNames(), (QStringList{QStringLiteral("Default"), QStringLiteral("First"), QStringLiteral("Second")}));
    EXPECT_TRUE(list().GetTemplate(0).startsWith(QStringLiteral("<tree2xml app=")));
    EXPECT_TRUE(list().GetTemplate(0).endsWith(QStringLiteral("/>"))) << "a complete document, not the placeholder";
}

TEST_F(TemplateTest, ManagerDeletesIntoBackupWithTheTimeStamp)
{
    writeFile(QStringLiteral("Old.xml"), "<tree2xml/>");
    writeFile(QStringLiteral("Old.jpg"), "jpg");
    writeFile(QStringLiteral("Keep.xml"), "<tree2xml/>");
    TFTemplatesManager manager;
    manager.SetTemplatesList(list().GetTemplatesPathLinks());
    manager.ShowManager(workDir());
    EXPECT_FALSE(manager.actionsEnabled());
    const int old = int(manager.items().indexOf(QStringLiteral("Old")));
    manager.setChecked(old, true);
    EXPECT_TRUE(manager.actionsEnabled());
    EXPECT_EQ(manager.previewPath(old), templatesDir() + QStringLiteral("Old.jpg"));

    m_dialogs.queueAnswer(DialogResult::Cancel);
    EXPECT_FALSE(manager.Delete());
    EXPECT_TRUE(QFile::exists(templatesDir() + QStringLiteral("Old.xml")));

    m_dialogs.queueAnswer(DialogResult::Yes);
    ASSERT_TRUE(manager.Delete(QDateTime(QDate(2026, 12, 10), QTime(9, 5, 7))));
    EXPECT_EQ(m_dialogs.texts().last(), QStringLiteral("Wish you to delete templates listed below?\r\nOld"));
    EXPECT_EQ(manager.items(), QStringList{QStringLiteral("Keep")});
    EXPECT_FALSE(QFile::exists(templatesDir() + QStringLiteral("Old.xml")));
    EXPECT_TRUE(QFile::exists(templatesDir() + QStringLiteral("Backup/Old_10_12_26_09_05_07.xml")));
    EXPECT_TRUE(QFile::exists(templatesDir() + QStringLiteral("Backup/Old_10_12_26_09_05_07.jpg")));
}

TEST_F(TemplateTest, ManagerImportKeepsTheChecksAndCloseDropsThem)
{
    writeFile(QStringLiteral("One.xml"), "<tree2xml app=\"x\"/>");
    writeFile(QStringLiteral("Two.xml"), "<tree2xml app=\"x\"/>");
    TFTemplatesManager manager;
    manager.SetTemplatesList(list().GetTemplatesPathLinks());
    manager.ShowManager(workDir());
    manager.setChecked(1, true);
    const QStringList picked = manager.Import();
    EXPECT_FALSE(manager.isActivated());
    st().BitBtnLoadTemplateClick(picked);
    EXPECT_EQ(list().TemplatesNames(), (QStringList{QStringLiteral("Default"), QStringLiteral("Two")}));

    manager.ShowManager(workDir());
    manager.setChecked(0, true);
    manager.Close();
    EXPECT_TRUE(manager.GetOpenTemplatesNames().isEmpty());
}

} // namespace
} // namespace lapido::test
