// The label editor and the property panels as the operator uses them: a font picked for the
// selection, every panel field reaching the selected glyph, undo and redo of label edits.
#include "mainwinfixture.h"

#include "glyphs/glyphoutline.h"
#include "glyphs/glyphphoto.h"
#include "workflow/markingpreview.h"

#include <QDir>
#include <QFile>

#include <cmath>

namespace lapido::test {
namespace {

class MainWindowEditingTest : public MainWindowTest {
protected:
    QTextEdit* editor() const { return m_window->findChild<QTextEdit*>(QStringLiteral("RichEditGlyphLabel")); }
    // The font list of the label panel (the first list of its group).
    QComboBox* labelFontList() const
    {
        for (QGroupBox* g : m_window->findChildren<QGroupBox*>())
            if (g->title() == QStringLiteral("Label properties"))
                return g->findChild<QComboBox*>();
        return nullptr;
    }
};

// Add Label, type "AB", Ctrl+A, another font from the list, then Inspect and Align: the
// editor's document is cleared and refilled under the station's caret, which once pointed into
// freed memory (a crash with "corrupted double-linked list"). Run under AddressSanitizer.
TEST_F(MainWindowEditingTest, FontPickedForTheSelectionThenInspectAndAlign)
{
    TfrmMain& w = start();
    click(QStringLiteral("Add Label"));
    QTextEdit* edit = editor();
    ASSERT_NE(edit, nullptr);
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("AB"));
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    ASSERT_TRUE(edit->textCursor().hasSelection());
    QComboBox* fonts = labelFontList();
    ASSERT_NE(fonts, nullptr);
    ASSERT_GT(fonts->count(), 1);
    const QString before = fonts->currentText();
    fonts->setFocus();
    QTest::keyClick(fonts, fonts->currentIndex() + 1 < fonts->count() ? Qt::Key_Down : Qt::Key_Up);
    const QString picked = fonts->currentText();
    ASSERT_NE(picked, before);
    auto* label = dynamic_cast<TGlyphRichString*>(w.station().TreeViewGlyphs().Root(0)->Data());
    ASSERT_NE(label, nullptr);
    ASSERT_GE(label->RichString->Count(), 1);
    EXPECT_EQ(label->RichString->GetRichSegment(0).Font, picked) << "the label is drawn in the font on show";

    click(QStringLiteral("Inspect"));
    click(QStringLiteral("Aling"));
    click(QStringLiteral("Inspect"));
    EXPECT_EQ(edit->toPlainText(), QStringLiteral("AB"));
    EXPECT_EQ(w.station().TreeViewGlyphs().Root(0)->Text(), QStringLiteral("Label \"AB\""));
    // Typing goes on in the same document after the refill.
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_End);
    QTest::keyClicks(edit, QStringLiteral("C"));
    EXPECT_EQ(w.station().TreeViewGlyphs().Root(0)->Text(), QStringLiteral("Label \"ABC\""));
}

// Where the preview's marks lie: enough to see a glyph grow, move or widen.
struct MarkExtent {
    std::size_t count = 0;
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    bool operator==(const MarkExtent&) const = default;
};

MarkExtent extentOf(const TMarkingPreview& preview)
{
    MarkExtent e;
    e.count = preview.marks.size();
    if (preview.marks.empty())
        return e;
    e.minX = e.maxX = preview.marks.front().xMm;
    e.minY = e.maxY = preview.marks.front().yMm;
    for (const LaserMark& m : preview.marks) {
        e.minX = std::min(e.minX, std::round(m.xMm * 1000) / 1000);
        e.maxX = std::max(e.maxX, std::round(m.xMm * 1000) / 1000);
        e.minY = std::min(e.minY, std::round(m.yMm * 1000) / 1000);
        e.maxY = std::max(e.maxY, std::round(m.yMm * 1000) / 1000);
    }
    return e;
}

// Every field of a property panel reaches the selected glyph at once: its value, the overlay
// and the preview's marks follow the edit, whatever kind of glyph is selected.
TEST_F(MainWindowEditingTest, EveryPanelFieldReachesTheSelectedGlyph)
{
    struct Row {
        const char* add;     // the Add button
        const char* box;     // the edit box typed into
        const char* typed;   // what is typed
        double TGlyph::*field;
        double expected;
        bool drawn;          // the preview's marks move (a space moves the label beside it)
    };
    const Row rows[] = {
        {"Add Label", "EditGlyphLabelHeight", "50", &TGlyph::RelativeSize, 0.5, true},
        {"Add Label", "EditGlyphLabelOffset", "20", &TGlyph::Offset, 0.2, true},
        {"Add Label", "EditGlyphLabelSpacing", "40", &TGlyph::Spacing, 0.4, true},
        {"Add Text", "EditGlyphTextHeight", "50", &TGlyph::RelativeSize, 0.5, true},
        {"Add Text", "EditGlyphTextOffset", "20", &TGlyph::Offset, 0.2, true},
        {"Add Symbols", "EditGlyphSymbolsHeight", "50", &TGlyph::RelativeSize, 0.5, true},
        {"Add Symbols", "EditGlyphSymbolsSpacing", "40", &TGlyph::Spacing, 0.4, true},
        {"Add Space", "EditGlyphSpaceWidth", "150", &TGlyph::RelativeSize, 1.5, true},
        {"Add Logo", "EditGlyphLogoHeight", "50", &TGlyph::RelativeSize, 0.5, true},
        {"Add Logo", "EditGlyphLogoOffset", "20", &TGlyph::Offset, 0.2, true},
        {"Add Picture", "EditGlyphPhotoHeight", "50", &TGlyph::RelativeSize, 0.5, true},
        {"Add Picture", "EditGlyphPhotoOffset", "20", &TGlyph::Offset, 0.2, true},
    };
    ASSERT_TRUE(QDir(scratch()).mkpath(QStringLiteral("Logos")));
    ASSERT_TRUE(QFile::copy(testDataDir() + QStringLiteral("/../../examples/Logos/diamond.lal"),
                            scratch(QStringLiteral("Logos/diamond.lal"))));
    keys::write(keys::LogoName, QStringLiteral("diamond"));
    TfrmMain& w = start();
    TStation& st = w.station();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.box);
        st.XML2Tree(QStringLiteral("<tree2xml app=\"x\"></tree2xml>"));
        // A label before the glyph: a space shows by moving it.
        st.RichEditGlyphLabel().document().setPlainText(QStringLiteral("AB"));
        click(QStringLiteral("Add Label"));
        st.TextLabel = QStringLiteral("No5");
        st.DefaultSymbolList = QStringLiteral("AB");
        if (QString::fromLatin1(r.add) != QStringLiteral("Add Label"))
            click(QString::fromLatin1(r.add));
        TGlyph* glyph = st.TreeViewGlyphs().Selected()->Data();
        ASSERT_NE(glyph, nullptr);
        w.VideoTimerTick();
        w.VideoTimerTick();
        const QImage overlayBefore = w.videoBuffer().copy();
        const MarkExtent marksBefore = extentOf(st.PreviewMarking());

        auto* box = w.findChild<QLineEdit*>(QString::fromLatin1(r.box));
        ASSERT_NE(box, nullptr);
        ASSERT_TRUE(box->isVisible());
        box->setFocus();
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, QString::fromLatin1(r.typed));
        EXPECT_EQ(box->text(), QString::fromLatin1(r.typed));

        EXPECT_NEAR(glyph->*r.field, r.expected, 1e-9);
        w.VideoTimerTick();
        w.VideoTimerTick();
        EXPECT_NE(w.videoBuffer(), overlayBefore) << "the overlay did not follow";
        const MarkExtent marksAfter = extentOf(st.PreviewMarking());
        if (r.drawn) {
            EXPECT_NE(marksAfter, marksBefore) << "the preview's marks did not follow";
        }
    }
}

// The font list shows the font the label is drawn in, and a font picked with no selection is
// the font of what is typed next.
TEST_F(MainWindowEditingTest, TheFontListShowsTheLabelsFontAndAPickedFontIsTypedNext)
{
    TfrmMain& w = start();
    QTextEdit* edit = editor();
    ASSERT_NE(edit, nullptr);
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("AB"));
    click(QStringLiteral("Add Label"));
    QComboBox* fonts = labelFontList();
    auto* label = dynamic_cast<TGlyphRichString*>(w.station().TreeViewGlyphs().Root(0)->Data());
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->RichString->GetRichSegment(0).Font, fonts->currentText());

    edit->setFocus();
    edit->clear();
    ASSERT_FALSE(edit->textCursor().hasSelection());
    const int other = fonts->findText(QStringLiteral("Liberation Sans"));
    ASSERT_GE(other, 0);
    fonts->setCurrentIndex(other);
    emit fonts->activated(other);
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("CD"));
    ASSERT_GE(label->RichString->Count(), 1);
    EXPECT_EQ(label->RichString->GetRichSegment(0).Font, QStringLiteral("Liberation Sans"));
    EXPECT_EQ(fonts->currentText(), QStringLiteral("Liberation Sans"));
}

// Ctrl+Z and Ctrl+Shift+Z in the label editor walk the label's edits; a changed label is
// replaced by a template only after a question.
TEST_F(MainWindowEditingTest, CtrlZUndoesLabelEditsAndCtrlShiftZRedoesThem)
{
    TfrmMain& w = start();
    QTextEdit* edit = editor();
    click(QStringLiteral("Add Label"));
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("LG1"));
    const QString typed = w.station().Tree2XML();
    QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(edit->toPlainText(), QStringLiteral("LG")) << "one step per key typed";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(w.station().Tree2XML(), typed);
}

} // namespace
} // namespace lapido::test
