// The main window's requests answered by the service and editing windows, end to end on the
// simulated machine and camera.
#include "ui/links/stationwindowlinks.h"

#include "camera/simcamera.h"
#include "camera/ueye.h"
#include "camera/ueyeapi.h"
#include "geometry/cadonpaintbox.h"
#include "glyphs/glyph.h"
#include "glyphs/glyphphoto.h"
#include "glyphs/labeltree.h"
#include "glyphs/richstring.h"
#include "machine/laser.h"
#include "platform/stationglobals.h"
#include "records/loggingproxy.h"
#include "records/pulsecounters.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"
#include "ui/glyphs/frmpreviewbitmap.h"
#include "ui/glyphs/frmsymbols.h"
#include "ui/glyphs/textrichedit.h"
#include "ui/machine/frmlaser.h"
#include "ui/main/frmmain.h"
#include "ui/workflow/frmveduvazu.h"
#include "ui/workflow/templatesmanagerform.h"
#include "workflow/station.h"
#include "workflow/templatelist.h"

#include "testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace lapido::test {
namespace {

class StationWindowLinksTest : public StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        setWorkingDir(scratch() + QStringLiteral("/"));
        m_sim = std::make_unique<ScopedDmcSimulator>(&m_clock);
        keys::write(keys::GalilIP, QStringLiteral("sim"));
        keys::write(keys::WorkingDir, scratch() + QStringLiteral("/"));
        store().WriteString(QStringLiteral("Hardware"), QStringLiteral("EnableOnDelay"), QStringLiteral("0"));
        TSettings s;
        s.XY_CountsPerMM = 1000;
        s.Z_CountsPerMM = 1000;
        Settings() = s;
        PulseCountTracker::ResetInstance();
        m_camera = std::make_unique<ScopedSimulatedCamera>(SimulatedCameraOptions{});
        // the program's order: main window, then the manual command window with the machine
        m_main = std::make_unique<TfrmMain>();
        m_main->setCamera(std::make_unique<TuEye>(UEyeLibrary::simulated()));
        m_laser = std::make_unique<TfrmLaser>();
        m_links = std::make_unique<TStationWindowLinks>(*m_main, *m_laser);
        m_main->show();
    }
    void TearDown() override
    {
        m_links.reset();
        m_main.reset();
        m_laser.reset();
        m_camera.reset();
        m_sim.reset();
        PulseCountTracker::ResetInstance();
        TLoggingProxy::ResetInstance();
        Settings() = TSettings{};
        resetStationGlobals();
        StationFixture::TearDown();
    }
    // Runs a request whose window is modal; `operate` acts on the window while it is open.
    void whileOpen(QDialog& dialog, const std::function<void()>& request, const std::function<void()>& operate)
    {
        bool ran = false;
        QTimer::singleShot(0, &dialog, [&] {
            ran = true;
            EXPECT_TRUE(dialog.isVisible());
            operate();
            if (dialog.isVisible())
                dialog.reject();
        });
        request();
        EXPECT_TRUE(ran);
    }
    QAbstractButton* button(const QString& caption) const
    {
        for (auto* b : m_main->findChildren<QAbstractButton*>())
            if (b->text() == caption)
                return b;
        return nullptr;
    }

    std::unique_ptr<ScopedDmcSimulator> m_sim;
    std::unique_ptr<ScopedSimulatedCamera> m_camera;
    std::unique_ptr<TfrmMain> m_main;
    std::unique_ptr<TfrmLaser> m_laser;
    std::unique_ptr<TStationWindowLinks> m_links;
};

TEST_F(StationWindowLinksTest, DmcShowsTheManualCommandWindow)
{
    EXPECT_EQ(Laser(), &m_laser->laser());
    EXPECT_FALSE(m_laser->isVisible());
    emit m_main->manualCommandRequested();
    EXPECT_TRUE(m_laser->isVisible());
}

TEST_F(StationWindowLinksTest, AddSymbolsWithoutSymbolsOpensThePickerAndAddsItsList)
{
    TStation& station = m_main->station();
    station.DefaultSymbolList.clear();
    station.SymbolListFont = QStringLiteral("ROMANS");
    QAbstractButton* add = button(QStringLiteral("Add Symbols"));
    ASSERT_NE(add, nullptr);
    TfrmSymbols& picker = m_links->symbols();
    whileOpen(picker, [&] { add->click(); }, [&] {
        picker.FormActivate();
        const auto& chars = picker.characters();
        const int at = int(std::find(chars.begin(), chars.end(), u'K') - chars.begin());
        picker.DrawGridSymbols->setCurrentIndex(picker.DrawGridSymbols->model()->index(at / 16, at % 16));
        picker.DrawGridSymbolsClick();
        picker.BitBtnInsert->click();
        picker.BitBtnInsert->click();
        picker.BitBtnOK->click();
    });
    EXPECT_EQ(station.DefaultSymbolList, QStringLiteral("KK"));
    TTreeNode* selected = station.TreeViewGlyphs().Selected();
    ASSERT_NE(selected, nullptr);
    EXPECT_EQ(selected->Text(), QStringLiteral("Symbol list"));
    EXPECT_EQ(selected->Count(), 2);
}

TEST_F(StationWindowLinksTest, CharacterMapEditsACopyOfTheFormattedLabel)
{
    auto* editor = m_main->findChild<QTextEdit*>(QStringLiteral("RichEditGlyphLabel"));
    ASSERT_NE(editor, nullptr);
    editor->setPlainText(QStringLiteral("AB"));
    button(QStringLiteral("Add Label"))->click();
    TStation& station = m_main->station();
    QTextDocument& label = station.RichEditGlyphLabel().document();
    ASSERT_EQ(label.toPlainText(), QStringLiteral("AB"));
    TfrmSymbols& picker = m_links->symbols();
    auto pickInto = [&](char16_t code) {
        picker.FormActivate();
        QTextCursor all = picker.RichEdit->QTextEdit::textCursor();
        all.setPosition(1);
        all.setPosition(2, QTextCursor::KeepAnchor); // the B
        picker.RichEdit->QTextEdit::setTextCursor(all);
        const auto& chars = picker.characters();
        const int at = int(std::find(chars.begin(), chars.end(), code) - chars.begin());
        ASSERT_LT(at, int(chars.size()));
        picker.DrawGridSymbols->setCurrentIndex(picker.DrawGridSymbols->model()->index(at / 16, at % 16));
        picker.DrawGridSymbolsClick();
        picker.BitBtnInsertRich->click();
        EXPECT_EQ(picker.RichEdit->toPlainText(), QStringLiteral("A") + QChar(code));
    };

    QAbstractButton* characterMap = m_main->findChild<QAbstractButton*>(QStringLiteral("BitBtnCharacterMap"));
    ASSERT_NE(characterMap, nullptr);
    whileOpen(picker, [&] { characterMap->click(); }, [&] {
        pickInto(u'Q');
        picker.BitBtnCancel->click();
    });
    EXPECT_EQ(label.toPlainText(), QStringLiteral("AB"));

    whileOpen(picker, [&] { characterMap->click(); }, [&] {
        pickInto(u'Z');
        picker.BitBtnOK->click();
    });
    EXPECT_EQ(label.toPlainText(), QStringLiteral("AZ"));
    TTreeNode* selected = station.TreeViewGlyphs().Selected();
    ASSERT_NE(selected, nullptr);
    EXPECT_TRUE(selected->Text().contains(QStringLiteral("AZ"))) << selected->Text().toStdString();
}

TEST_F(StationWindowLinksTest, ALogoSavedInTheEditorAppearsInTheLogoList)
{
    QDir().mkpath(WorkingDir() + QStringLiteral("Logos"));
    const QString dxf = scratch(QStringLiteral("crest.dxf"));
    QFile f(dxf);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("0\nSECTION\n2\nENTITIES\n0\nLINE\n8\n0\n10\n0\n20\n0\n11\n1\n21\n1\n0\nENDSEC\n0\nEOF\n");
    f.close();
    TfrmVeduvAZU& editor = m_links->logoEditor();
    whileOpen(editor, [&] { emit m_main->logoEditorRequested(); }, [&] {
        ASSERT_TRUE(editor.editor().importDxf(dxf));
        m_dialogs.queueText(WorkingDir() + QStringLiteral("Logos/crest.lal"));
        editor.butSave->click();
        editor.BitBtnClose->click();
    });
    bool listed = false;
    for (QComboBox* combo : m_main->findChildren<QComboBox*>())
        listed = listed || combo->findText(QStringLiteral("crest")) >= 0;
    EXPECT_TRUE(listed);
}

TEST_F(StationWindowLinksTest, TemplatesCheckedInTheManagerAreImported)
{
    QDir().mkpath(WorkingDir() + QStringLiteral("Templates"));
    QFile xml(WorkingDir() + QStringLiteral("Templates/Oval.xml"));
    ASSERT_TRUE(xml.open(QIODevice::WriteOnly));
    xml.write("<tree2xml app=\"Lapidograph.exe\"/>");
    xml.close();
    TFTemplatesManagerForm& manager = m_links->templatesManager();
    whileOpen(manager, [&] { emit m_main->templatesManagerRequested(); }, [&] {
        ASSERT_EQ(manager.CheckListBoxTemplates->count(), 1);
        manager.CheckListBoxTemplates->item(0)->setCheckState(Qt::Checked);
        QTRY_VERIFY_WITH_TIMEOUT(manager.BitBtnImport->isEnabled(), 2000);
        manager.BitBtnImport->click();
    });
    QTRY_VERIFY_WITH_TIMEOUT(m_main->station().Templates().TemplatesNames().contains(QStringLiteral("Oval")), 2000);
}

TEST_F(StationWindowLinksTest, PreviewAndMainWindowShareTheGamma)
{
    QAbstractButton* addPicture = button(QStringLiteral("Add Picture"));
    ASSERT_NE(addPicture, nullptr);
    addPicture->click();
    TStation& station = m_main->station();
    station.PhotoGamma = 1.2;
    m_main->refreshControls();
    TfrmPreviewBitmap& preview = m_links->preview();
    whileOpen(preview, [&] { emit m_main->previewRequested(); }, [&] {
        ASSERT_NE(preview.GlyphPhoto, nullptr);
        QApplication::setActiveWindow(&preview);
        QTRY_COMPARE_WITH_TIMEOUT(preview.TrackBarGamma->value(), 12, 2000);
        preview.TrackBarGamma->setValue(22);
        EXPECT_DOUBLE_EQ(station.PhotoGamma, 2.2);
        auto* photo = dynamic_cast<TGlyphPhoto*>(station.TreeViewGlyphs().Selected()->Data());
        ASSERT_NE(photo, nullptr);
        EXPECT_DOUBLE_EQ(photo->Gamma, 2.2);
    });
    EXPECT_EQ(preview.GlyphPhoto, nullptr);
}

} // namespace
} // namespace lapido::test
