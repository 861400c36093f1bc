// Scanned codes: the hand-over through the store with the format filter loop, the companion
// program start and its failure record, and the label's auto-increment.
#include "labelfixture.h"

#include "glyphs/glyphcode.h"
#include "records/filelogging.h"
#include "records/loggingproxy.h"
#include "workflow/starttf.h"

#include <QDirIterator>
#include <QFile>

namespace lapido::test {
namespace {

class ScannedCodeTest : public LabelFixture {
protected:
    void SetUp() override
    {
        LabelFixture::SetUp();
        addLabel(QStringLiteral("OLD"));
    }
    void scan(const QString& code) { keys::write(keys::ScannedCode, code); }
    QString scanned() { return keys::read(keys::ScannedCode); }
    void filters(const char* lengthMode, int length, const char* type)
    {
        Settings().WLabeTextLengthMode = QString::fromLatin1(lengthMode);
        Settings().WLabelTextLength = length;
        Settings().WLabelTextType = QString::fromLatin1(type);
    }
};

TEST_F(ScannedCodeTest, WithTheCheckAtEngraveACodeIsTakenWithoutAQuestion)
{
    Settings().WLabelCheckBeforeEngrave = true;
    filters("Fixed", 10, "-- Disable --");
    scan(QStringLiteral("AB1"));
    st().GrabBarCodeFromRegistry();
    EXPECT_TRUE(m_dialogs.transcript().empty());
    EXPECT_EQ(editorText(), QStringLiteral("AB1"));
    EXPECT_EQ(tree().Root(0)->Text(), QStringLiteral("Label \"AB1\"")) << "the selected label follows";
}

TEST_F(ScannedCodeTest, AWrongCodeWarnsAndIgnoreKeepsItInTheEditor)
{
    filters("-- Disabled --", 10, "Numeric only");
    scan(QStringLiteral("AB12"));
    m_dialogs.queueCaption(QStringLiteral("Ignore"));
    st().GrabBarCodeFromRegistry();
    ASSERT_EQ(m_dialogs.transcript().size(), 1u);
    const auto& box = m_dialogs.transcript()[0];
    EXPECT_EQ(box.kind, DialogKind::Custom);
    EXPECT_EQ(box.buttons, (QStringList{QStringLiteral("Reload"), QStringLiteral("Ignore")}));
    EXPECT_EQ(box.text, QStringLiteral("Warning !\r\nLabel format does not match the one set in the settings page.\r\n"
                                       "Text Length Filter: -- Disabled -- 10.\r\nText Type Filter: Numeric only.\r\n"
                                       "Please rescan barcode and Reload."));
    EXPECT_EQ(editorText(), QStringLiteral("AB12"));
    EXPECT_EQ(scanned(), QString());
}

TEST_F(ScannedCodeTest, ReloadReadsTheNextScan)
{
    filters("Fixed", 4, "Numeric only");
    scan(QStringLiteral("12"));
    // The companion writes the rescanned code while the warning is up.
    m_dialogs.onEntry = [this](const ScriptedDialogs::Entry&) { scan(QStringLiteral("1234")); };
    m_dialogs.queueCaption(QStringLiteral("Reload"));
    st().GrabBarCodeFromRegistry();
    EXPECT_EQ(m_dialogs.transcript().size(), 1u);
    EXPECT_EQ(editorText(), QStringLiteral("1234"));
}

TEST_F(ScannedCodeTest, NothingHappensWithoutACodeOrWithAutoIncrement)
{
    st().GrabBarCodeFromRegistry();
    EXPECT_EQ(editorText(), QStringLiteral("OLD"));

    st().CheckBox_AutoIncClick(true);
    scan(QStringLiteral("NEW"));
    st().GrabBarCodeFromRegistry();
    EXPECT_EQ(editorText(), QStringLiteral("OLD"));
    EXPECT_EQ(scanned(), QStringLiteral("NEW"));
    st().RemoveBarCodeFromRegistry();
    EXPECT_EQ(scanned(), QString());
}

TEST_F(ScannedCodeTest, ACompanionThatDoesNotStartIsRecorded)
{
    keys::write(keys::LogFileEnabled, QStringLiteral("1"));
    ASSERT_TRUE(QDir().mkpath(scratch(QStringLiteral("maintenance"))));
    keys::write(keys::LogFileBaseDir, scratch(QStringLiteral("maintenance")));
    TLoggingProxy::ResetInstance();
    TFileLogging::ResetInstance();
    int starts = 0;
    TStationServices services;
    services.startCompanion = [&starts](QString& error) {
        ++starts;
        error = QStringLiteral("2");
        return false;
    };
    makeStation(std::move(services));
    scan(QStringLiteral("stale"));
    st().FormCreate();
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(scanned(), QString()) << "start-up clears the hand-over value";

    QString records;
    QDirIterator it(scratch(QStringLiteral("maintenance")), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly))
            records += QString::fromUtf8(f.readAll());
    }
    EXPECT_TRUE(records.contains(QStringLiteral("TrayflowInitFailure"))) << qPrintable(records);
    EXPECT_TRUE(records.contains(QStringLiteral("Execute failed: 2"))) << qPrintable(records);
    TLoggingProxy::ResetInstance();
    TFileLogging::ResetInstance();
}

TEST(StartTFTest, LauncherReportsAProgramThatCannotBeStarted)
{
    QString error;
    EXPECT_FALSE(TStartTF::launcher(QStringLiteral("/nonexistent/companion"))(error));
    EXPECT_FALSE(error.isEmpty());
    error.clear();
    EXPECT_TRUE(TStartTF::launcher(QStringLiteral("/bin/true"))(error)) << qPrintable(error);
}

TEST_F(ScannedCodeTest, IncrementButtonCountsTheSelectedLabelUp)
{
    TTreeNode* label = addLabel(QStringLiteral("A09"));
    st().BitBtnIncLabelClick();
    EXPECT_EQ(label->Text(), QStringLiteral("Label \"A10\""));
    EXPECT_EQ(editorText(), QStringLiteral("A10")) << "the panel is refreshed";

    st().CheckBox_AutoIncClick(true);
    EXPECT_EQ(st().GlyphAutoInc(), label->Data());
    st().TreeViewGlyphsChange(tree().Root(0));
    EXPECT_FALSE(st().controls().autoIncChecked) << "another label is not the auto-increment one";
    st().TreeViewGlyphsChange(label);
    EXPECT_TRUE(st().controls().autoIncChecked);
    st().CheckBox_AutoIncClick(false);
    EXPECT_EQ(st().GlyphAutoInc(), nullptr);
}

TEST_F(ScannedCodeTest, CodesThatFollowTheScannerTakeTheCodeAndCodesCountOnLikeLabels)
{
    Settings().WLabelCheckBeforeEngrave = true;
    st().CodeContent = QStringLiteral("FIXED");
    st().BitBtnAddCodeClick();
    auto* fixed = static_cast<TGlyphCode*>(tree().Selected()->Data());
    st().CodeContent = QStringLiteral("A09");
    st().CodeFromScannedCode = true;
    st().BitBtnAddCodeClick();
    auto* following = static_cast<TGlyphCode*>(tree().Selected()->Data());
    ASSERT_TRUE(following->FromScannedCode);
    tree().setSelected(tree().Root(0));
    st().TreeViewGlyphsChange(tree().Root(0));

    scan(QStringLiteral("2141234567"));
    st().GrabBarCodeFromRegistry();
    EXPECT_EQ(following->Content, QStringLiteral("2141234567"));
    EXPECT_EQ(following->Matrix, encodeCode(TCodeSymbology::DataMatrix, QStringLiteral("2141234567")).matrix);
    EXPECT_EQ(fixed->Content, QStringLiteral("FIXED"));
    EXPECT_EQ(tree().Root(0)->Text(), QStringLiteral("Label \"2141234567\"")) << "the label takes it as before";

    // "ABC++" and the auto-increment on the selected code.
    tree().setSelected(tree().Root(1));
    st().TreeViewGlyphsChange(tree().Root(1));
    st().BitBtnIncLabelClick();
    EXPECT_EQ(fixed->Content, QStringLiteral("FIXED1"));
    EXPECT_EQ(tree().Root(1)->Text(), QStringLiteral("Code \"FIXED1\""));
    EXPECT_EQ(st().CodeContent, QStringLiteral("FIXED1")) << "the panel is refreshed";
    st().CheckBox_AutoIncClick(true);
    EXPECT_EQ(st().GlyphAutoInc(), fixed);
}

TEST_F(ScannedCodeTest, FormTimerDisablesAutoIncrementWhileLabelsAreDeletedAtReset)
{
    Settings().DeleteLabelAfterF10 = true;
    st().FormControlTimerTick();
    EXPECT_FALSE(st().controls().autoIncEnabled);
    Settings().DeleteLabelAfterF10 = false;
    st().FormControlTimerTick();
    EXPECT_TRUE(st().controls().autoIncEnabled);
}

} // namespace
} // namespace lapido::test
