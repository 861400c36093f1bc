// The main window driven as an operator would, against the in-process simulated machine and
// camera, on virtual time.
#include "mainwinfixture.h"

#include "glyphs/glyphcode.h"

#include <QDoubleSpinBox>

#include "ui/main/videopanel.h"
#include "glyphs/glyphphoto.h"

#include <QRegularExpression>

namespace lapido::test {
namespace {

int differingPixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return -1;
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (std::abs(qGray(p) - qGray(q)) > 30)
                ++n;
        }
    return n;
}

TEST_F(MainWindowTest, StartHomesThenAlignIsDown)
{
    Settings().showatstartup = true;
    std::unique_ptr<QSignalSpy> labelView;
    int backups = 0;
    TfrmMain& w = start([&](TfrmMain& window) {
        labelView = std::make_unique<QSignalSpy>(&window, &TfrmMain::labelViewRequested);
        window.setAutoBackup([&] { ++backups; });
    });
    EXPECT_EQ(labelView->count(), 1) << "the label view is shown at start when the store says so";
    EXPECT_EQ(backups, 1);
    EXPECT_TRUE(m_laser->Initialized);
    EXPECT_EQ(w.station().AIMState, TAIMState::aimsAligning);
    auto* align = findButton<QToolButton>(QStringLiteral("Aling"));
    ASSERT_NE(align, nullptr);
    EXPECT_TRUE(align->isChecked());
    EXPECT_TRUE(findButton(QStringLiteral("Settings"))->isVisible());
    EXPECT_FALSE(findButton(QStringLiteral("Abort (Esc)"))->isEnabled());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Lapidograph"));
}

TEST_F(MainWindowTest, F9EngravesAndTheMarksShowInTheCameraPicture)
{
    TfrmMain& w = start();
    addLabel(QStringLiteral("AB"));
    ASSERT_EQ(w.station().TreeViewGlyphs().RootCount(), 1);
    auto* tree = w.findChild<QTreeWidget*>();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("Label \"AB\""));

    const QImage before = cameraPicture();
    const QString totalShotsBefore = keys::read(keys::TotalPulseCount);
    const QString shotsBefore = keys::read(keys::PulseCount);
    key(Qt::Key_F9);
    EXPECT_GT(markCount(), 0) << m_dialogs.texts().join(QStringLiteral(" | ")).toStdString();
    // Shots of the simulated machine leave the laser's maintenance figures alone.
    EXPECT_EQ(keys::read(keys::TotalPulseCount), totalShotsBefore);
    EXPECT_EQ(keys::read(keys::PulseCount), shotsBefore);
    EXPECT_EQ(w.station().AIMState, TAIMState::aimsInspecting);
    EXPECT_TRUE(findButton<QToolButton>(QStringLiteral("Inspect"))->isChecked());
    EXPECT_FALSE(m_laser->EnableIsOn || m_laser->GateIsOpen) << "laser left on after the run";
    const QImage after = cameraPicture();
    EXPECT_GT(differingPixels(before, after), 20);
    const TMarkingProgress& progress = w.station().markingProgress();
    EXPECT_FALSE(progress.running);
    EXPECT_GT(progress.glyphCount, 0);
    EXPECT_EQ(progress.glyph, progress.glyphCount);
    EXPECT_TRUE(w.progressText().contains(QStringLiteral("%1 of %1").arg(progress.glyphCount)))
        << w.progressText().toStdString();
}

TEST_F(MainWindowTest, PreviewSwitchDrawsTheRunsMarksInTheirOwnColourWithTheEstimate)
{
    TfrmMain& w = start();
    addLabel(QStringLiteral("AB"));
    const auto previewPixels = [&w] {
        w.VideoTimerTick();
        const QImage& picture = w.videoBuffer();
        int n = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                n += picture.pixel(x, y) == kPreviewMarkColor;
        return n;
    };
    EXPECT_EQ(previewPixels(), 0);

    auto* previewBox = findButton<QCheckBox>(QStringLiteral("Preview"));
    ASSERT_NE(previewBox, nullptr);
    QTest::mouseClick(previewBox, Qt::LeftButton);
    const TMarkingPreview& preview = w.previewSwitch().preview();
    ASSERT_TRUE(preview.markable) << preview.problem.toStdString();
    EXPECT_GT(previewPixels(), 20);
    EXPECT_EQ(w.previewSwitch().timeLabel()->text(),
              QStringLiteral("Estimated time: %1 s").arg(preview.seconds, 0, 'f', 1));
    EXPECT_EQ(markCount(), 0) << "the preview fired the laser";

    // A longer label is previewed again once the editing settles.
    const size_t marksOfAB = preview.marks.size();
    addLabel(QStringLiteral("CD"));
    previewPixels();
    // Waited for as a condition: a busy machine may take longer than the settling time.
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.previewSwitch().preview().marks.size() > marksOfAB; }, 30000));

    const std::vector<LaserMark> previewed = w.previewSwitch().preview().marks;
    key(Qt::Key_F9);
    EXPECT_EQ(size_t(markCount()), previewed.size());

    QTest::mouseClick(previewBox, Qt::LeftButton);
    EXPECT_EQ(previewPixels(), 0);
    EXPECT_TRUE(w.previewSwitch().timeLabel()->text().isEmpty());
}

// The window at rest with the preview on: its timers tick and it paints, and nothing of the
// preview is computed again until the label changes.
TEST_F(MainWindowTest, PreviewAtRestIsComputedOnceAndAgainOnlyWhenTheLabelChanges)
{
    TfrmMain& w = start();
    addLabel(QStringLiteral("AB"));
    TPreviewSwitch& preview = w.previewSwitch();
    QTest::mouseClick(findButton<QCheckBox>(QStringLiteral("Preview")), Qt::LeftButton);
    ASSERT_TRUE(preview.preview().markable) << preview.preview().problem.toStdString();
    const int computed = preview.computeCount();
    for (int i = 0; i < 20; ++i) {
        w.VideoTimerTick();
        QCoreApplication::processEvents();
        ASSERT_FALSE(preview.changePending()) << "tick " << i << " took the label for changed";
    }
    EXPECT_EQ(preview.computeCount(), computed);

    addLabel(QStringLiteral("CD"));
    w.VideoTimerTick();
    EXPECT_TRUE(preview.changePending());
    EXPECT_TRUE(QTest::qWaitFor([&] { return preview.computeCount() == computed + 1; }, 30000));
    for (int i = 0; i < 20; ++i) {
        w.VideoTimerTick();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(preview.computeCount(), computed + 1);
}

TEST_F(MainWindowTest, EachAddButtonAddsItsNodeAndShowsItsPanel)
{
    TfrmMain& w = start();
    w.station().DefaultSymbolList = QStringLiteral("AB");
    auto* tree = w.findChild<QTreeWidget*>();
    auto* textEdit = findLineEditOf(QStringLiteral("Text properties"));
    struct Case {
        const char* button;
        const char* caption;
        const char* panel;
    };
    const Case cases[] = {
        {"Add Label", "Label \"AB\"", "Label properties"},
        {"Add Text", "Text \"XY\"", "Text properties"},
        {"Add Symbols", "Symbol list", "Symbol list properties"},
        {"Add Space", "Space 50.0%", "Space properties"},
        {"Add Logo", "Logo", "Logo properties"},
        {"Add Picture", "Photo", "Photo properties"},
        {"Add Code", "Code \"0000000001\"", "Code properties"},
    };
    w.findChild<QTextEdit*>()->setPlainText(QStringLiteral("AB"));
    w.station().TextLabel = QStringLiteral("XY");
    ASSERT_NE(textEdit, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        const int before = tree->topLevelItemCount();
        click(QString::fromUtf8(c.button));
        ASSERT_EQ(tree->topLevelItemCount(), before + 1);
        QTreeWidgetItem* item = tree->topLevelItem(before);
        EXPECT_TRUE(item->text(0).startsWith(QString::fromUtf8(c.caption))) << item->text(0).toStdString();
        EXPECT_EQ(tree->currentItem(), item) << "the new node is selected";
        QWidget* panel = visiblePanel();
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(static_cast<QGroupBox*>(panel)->title(), QString::fromUtf8(c.panel));
    }
}

TEST_F(MainWindowTest, TheCodePanelEditsTheSelectedCodeAndSaysWhatItWillBe)
{
    TfrmMain& w = start();
    click(QStringLiteral("Add Code"));
    auto* code = dynamic_cast<TGlyphCode*>(w.station().TreeViewGlyphs().Selected()->Data());
    ASSERT_NE(code, nullptr);
    auto* content = w.findChild<QLineEdit*>(QStringLiteral("EditGlyphCodeContent"));
    auto* module = w.findChild<QDoubleSpinBox*>(QStringLiteral("EditGlyphCodeModule"));
    auto* info = w.findChild<QLabel*>(QStringLiteral("LabelCodeInfo"));
    ASSERT_TRUE(content && module && info);
    EXPECT_EQ(content->text(), QStringLiteral("0000000001"));

    content->selectAll();
    QTest::keyClicks(content, QStringLiteral("2141234567"));
    EXPECT_EQ(code->Content, QStringLiteral("2141234567"));
    EXPECT_EQ(w.findChild<QTreeWidget*>()->currentItem()->text(0), QStringLiteral("Code \"2141234567\""));
    module->setValue(25);
    EXPECT_DOUBLE_EQ(code->ModuleUm, 25);
    // 12 x 12 modules and two quiet modules a side, 25 µm each.
    EXPECT_EQ(info->text(), QStringLiteral("12 x 12 modules, 0.400 x 0.400 mm with the quiet zone"));

    // A module the spot cannot keep apart is refused before marking, and the panel says so.
    module->setValue(5);
    EXPECT_TRUE(info->text().startsWith(QStringLiteral("Not markable: its modules of 5 um"))) << info->text().toStdString();
    EXPECT_FALSE(w.station().LabelMarkingProblems().isEmpty());
}

TEST_F(MainWindowTest, EditBoxesTurnRedOnRefusedEntries)
{
    TfrmMain& w = start();
    click(QStringLiteral("Add Space"));
    QLineEdit* width = findLineEditOf(QStringLiteral("Space properties"));
    ASSERT_NE(width, nullptr);
    const QColor normal = width->palette().color(QPalette::Text);
    QTest::keyClicks(width, QStringLiteral("x"));
    EXPECT_EQ(width->palette().color(QPalette::Text), QColor(Qt::red));
    width->clear();
    QTest::keyClicks(width, QStringLiteral("60"));
    EXPECT_EQ(width->palette().color(QPalette::Text), normal);
    EXPECT_DOUBLE_EQ(w.station().SpaceWidth, 0.6);
}

TEST_F(MainWindowTest, EscAbortsInTheMiddleAndTheNextF9OffersContinueOrRestart)
{
    TfrmMain& w = start();
    addLabel(QStringLiteral("HHHH"));
    // Esc as soon as the first marks are made, delivered by the window's own event loop while
    // the run hands it its turns.
    QTimer esc;
    esc.setInterval(0);
    QWidget* focusDuringRun = nullptr;
    QString progressDuringRun;
    QObject::connect(&esc, &QTimer::timeout, [&] {
        if (markCount() > 0 && w.station().AIMState == TAIMState::aimsMarking) {
            esc.stop();
            focusDuringRun = QApplication::focusWidget();
            progressDuringRun = w.findChild<QLabel*>(QStringLiteral("LabelProgress"))->text();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        }
    });
    esc.start();
    key(Qt::Key_F9);
    esc.stop();
    EXPECT_TRUE(MarkingAborted());
    EXPECT_EQ(focusDuringRun, findButton(QStringLiteral("Abort (Esc)"))) << "focus goes to Abort for the run";
    EXPECT_TRUE(progressDuringRun.contains(QStringLiteral(" of "))) << "the window showed the run's progress";
    const int aborted = markCount();
    EXPECT_GT(aborted, 0);
    EXPECT_FALSE(m_laser->EnableIsOn || m_laser->GateIsOpen);

    m_dialogs.queueCaption(QStringLiteral("Continue"));
    key(Qt::Key_F9);
    ASSERT_FALSE(m_dialogs.transcript().empty());
    const auto& asked = m_dialogs.transcript().back();
    EXPECT_EQ(asked.text, QStringLiteral("Engrave"));
    EXPECT_TRUE(asked.buttons.contains(QStringLiteral("Continue")));
    EXPECT_TRUE(asked.buttons.contains(QStringLiteral("Restart")));
    EXPECT_GT(markCount(), aborted);
    EXPECT_FALSE(MarkingAborted());
    EXPECT_EQ(QApplication::focusWidget(), m_window->findChild<QPushButton*>(QStringLiteral("BitBtnReset")));
}

// While a photo is marked the progress line says how far the photo has come and how long the
// run still needs, instead of standing at its glyph number.
TEST_F(MainWindowTest, AMarkedPhotoShowsItsShareAndTheTimeLeft)
{
    TfrmMain& w = start();
    addLabel(QStringLiteral("A"));
    QImage picture(24, 24, QImage::Format_Grayscale8);
    picture.fill(60);
    TLabelTree& tree = w.station().TreeViewGlyphs();
    TGlyph::CreateFor<TGlyphPhoto>(&tree, tree.Add(QStringLiteral("Photo")), picture, 0.8, 0.0);
    w.refreshControls();
    auto* progress = w.findChild<QLabel*>(QStringLiteral("LabelProgress"));
    ASSERT_NE(progress, nullptr);
    QStringList seen;
    QTimer sample;
    sample.setInterval(0);
    QObject::connect(&sample, &QTimer::timeout, [&] {
        const TMarkingProgress& p = w.station().markingProgress();
        // The window's own refresh runs on real time while the machine runs on the virtual
        // clock: the line is written here at every turn the run gives.
        // (After its last glyph the run only takes the table back.)
        if (p.running && p.glyph == p.glyphCount && p.glyphCount > 0 && w.station().GlyphProgress()) {
            w.refreshControls();
            seen << progress->text();
        }
    });
    sample.start();
    key(Qt::Key_F9);
    sample.stop();
    ASSERT_FALSE(seen.isEmpty());
    static const QRegularExpression line(
        QStringLiteral("^Engraving glyph (\\d+) of \\1 \\((\\d+) % of it\\), [0-9.]+ s, about (\\d+) s left$"));
    int lastShare = -1, largestShare = 0, smallestShare = 100;
    for (const QString& text : seen) {
        const auto m = line.match(text);
        ASSERT_TRUE(m.hasMatch()) << text.toStdString();
        const int share = m.captured(2).toInt();
        EXPECT_GE(share, lastShare) << text.toStdString();
        lastShare = share;
        largestShare = std::max(largestShare, share);
        smallestShare = std::min(smallestShare, share);
    }
    EXPECT_LT(smallestShare, 10);
    EXPECT_GE(largestShare, 90);
    EXPECT_LT(largestShare, 100);
}

TEST_F(MainWindowTest, F10ResetsAndDeletesTheLabelOnlyWhenTheSettingsSaySo)
{
    for (const bool deleteLabel : {false, true}) {
        SCOPED_TRACE(deleteLabel);
        Settings().DeleteLabelAfterF10 = deleteLabel;
        TfrmMain& w = start();
        addLabel(QStringLiteral("A"));
        key(Qt::Key_F9);
        ASSERT_GT(markCount(), 0);
        key(Qt::Key_F10);
        auto* tree = w.findChild<QTreeWidget*>();
        ASSERT_EQ(tree->topLevelItemCount(), 1);
        EXPECT_EQ(tree->topLevelItem(0)->text(0), deleteLabel ? QStringLiteral("Label \"\"") : QStringLiteral("Label \"A\""));
        EXPECT_EQ(w.findChild<QTextEdit*>()->toPlainText(), deleteLabel ? QString() : QStringLiteral("A"));
        // Reset and free holder: the holder leaves, "Go to Start" comes instead of Reset.
        EXPECT_TRUE(w.findChild<QPushButton*>(QStringLiteral("BitBtn3"))->isVisible());
        EXPECT_FALSE(w.findChild<QPushButton*>(QStringLiteral("BitBtnReset"))->isVisible());
        EXPECT_EQ(w.station().AIMState, TAIMState::aimsAligning);
        m_window.reset();
        (*m_sim)->clearMarks();
        m_laser = std::make_unique<TLaser>();
        setLaser(m_laser.get());
    }
}

TEST_F(MainWindowTest, CtrlDigitBindsTheSelectedTemplateAndAltDigitLoadsIt)
{
    TfrmMain& w = start();
    addLabel(QStringLiteral("T2"));
    m_dialogs.queueText(QStringLiteral("Second"));
    click(QStringLiteral("Save"));
    auto* combo = w.findChild<QComboBox*>(QStringLiteral("ComboBoxTemplates"));
    ASSERT_NE(combo, nullptr);
    ASSERT_TRUE(combo->currentText().endsWith(QStringLiteral("Second")));
    key(Qt::Key_2, Qt::ControlModifier);

    // Back to the default template, then Alt+2 brings the bound one with its label.
    combo->setCurrentIndex(0);
    emit combo->activated(0);
    ASSERT_EQ(w.station().templateIndex(), 0);
    key(Qt::Key_2, Qt::AltModifier);
    EXPECT_TRUE(combo->currentText().endsWith(QStringLiteral("Second"))) << combo->currentText().toStdString();
    auto* tree = w.findChild<QTreeWidget*>();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("Label \"T2\""));
}

TEST_F(MainWindowTest, WheelOverTheJogPanelQueuesNoMoreThanTheBuffer)
{
    Settings().VideoScale = 100; // 10 um per pixel, the first tick level of X
    Settings().WheelBuffer = 0;
    TfrmMain& w = start();
    QWidget* panel = w.findChild<QWidget*>(QStringLiteral("JogPanelX"));
    ASSERT_NE(panel, nullptr);
    const double x0 = m_laser->CountX / 1000.0;
    for (int tick = 0; tick < 3; ++tick)
        wheel(panel, +120);
    m_laser->WaitOnMotionComplete();
    double x = 0, y = 0, z = 0, wc = 0;
    m_laser->GetPosition(x, y, z, wc);
    EXPECT_NEAR(x - x0, 0.020, 1e-6) << "the third tick came with two steps still to go";

    // Ctrl+wheel over the picture zooms out and in.
    wheel(w.findChild<QWidget*>(QStringLiteral("PaintBoxVideo")), +120, Qt::ControlModifier);
    EXPECT_TRUE(w.station().ZoomOut);
    EXPECT_TRUE(w.findChild<QCheckBox*>(QStringLiteral("CheckBoxZoomOut"))->isChecked());
}

TEST_F(MainWindowTest, LabelEditorKeepsOneLineAndTheListsFollowTheSelection)
{
    TfrmMain& w = start();
    auto* editor = w.findChild<QTextEdit*>(QStringLiteral("RichEditGlyphLabel"));
    ASSERT_NE(editor, nullptr);
    editor->setFocus();
    QTest::keyClicks(editor, QStringLiteral("A"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTest::keyClick(editor, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClicks(editor, QStringLiteral("B"));
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("AB"));
    EXPECT_EQ(w.station().RichEditGlyphLabel().document().toPlainText(), QStringLiteral("AB"));

    // The font list shows the font of the selection.
    editor->selectAll();
    const auto fonts = w.findChildren<QComboBox*>();
    const bool shown = std::any_of(fonts.begin(), fonts.end(),
                                   [](QComboBox* c) { return c->currentText() == QStringLiteral("ROMANS"); });
    EXPECT_TRUE(shown);
}

TEST_F(MainWindowTest, MiddleButtonDragMovesTheStoneUnderThePointer)
{
    Settings().VideoScale = 100; // 100 pixels per mm
    TfrmMain& w = start();
    auto* picture = w.findChild<TVideoPanel*>(QStringLiteral("PaintBoxVideo"));
    ASSERT_NE(picture, nullptr);
    double x0 = 0, y0 = 0, z = 0, wc = 0;
    m_laser->GetPosition(x0, y0, z, wc);

    // 50 panel pixels to the right; the picture may be shown smaller than the camera's pixels,
    // and the stone follows the pointer: 0.5 mm at full size.
    const QPointF from = picture->toPanel(QPointF(500, 400));
    const QPointF to = from + QPointF(50, 0);
    const double expectedMm = 0.5 / picture->pictureScale();
    QMouseEvent press(QEvent::MouseButtonPress, from, picture->mapToGlobal(from), Qt::MiddleButton, Qt::MiddleButton,
                      Qt::NoModifier);
    QApplication::sendEvent(picture, &press);
    QMouseEvent move(QEvent::MouseMove, to, picture->mapToGlobal(to), Qt::NoButton, Qt::MiddleButton, Qt::NoModifier);
    QApplication::sendEvent(picture, &move);
    m_laser->WaitOnMotionComplete();
    double x = 0, y = 0;
    m_laser->GetPosition(x, y, z, wc);
    EXPECT_NEAR(std::abs(x - x0), expectedMm, 1e-3);
    EXPECT_NEAR(y, y0, 1e-6);

    // With a key held nothing moves.
    QMouseEvent shiftMove(QEvent::MouseMove, from, picture->mapToGlobal(from), Qt::NoButton, Qt::MiddleButton,
                          Qt::ShiftModifier);
    QApplication::sendEvent(picture, &shiftMove);
    m_laser->WaitOnMotionComplete();
    double x2 = 0;
    m_laser->GetPosition(x2, y, z, wc);
    EXPECT_NEAR(x2, x, 1e-6);
}

TEST_F(MainWindowTest, ClosingAsksAndWritesTheClosingValues)
{
    TfrmMain& w = start();
    QLineEdit* girdle = w.findChild<QLineEdit*>(QStringLiteral("EditGirdle"));
    ASSERT_NE(girdle, nullptr);
    girdle->clear();
    QTest::keyClicks(girdle, QStringLiteral("0.42"));
    w.findChild<QTextEdit*>()->setPlainText(QStringLiteral("NOT KEPT"));
    keys::write(keys::RichLabel, QStringLiteral("old"));

    m_dialogs.queueAnswer(DialogResult::Cancel);
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(keys::read(keys::DiamondGirdle), QStringLiteral("0.15")) << "nothing written when the operator stays";

    m_dialogs.queueAnswer(DialogResult::Ok);
    EXPECT_TRUE(w.close());
    EXPECT_EQ(m_dialogs.texts().count(QStringLiteral("Exit Lapidograph?")), 2);
    EXPECT_EQ(keys::read(keys::DiamondGirdle), QStringLiteral("0.42"));
    EXPECT_EQ(keys::read(keys::RichLabel), QString()) << "the label text does not survive a restart";
    EXPECT_EQ(keys::read(keys::RichLabelFont), QStringLiteral("ROMANS"));
    EXPECT_FALSE(m_laser->EnableIsOn || m_laser->GateIsOpen);
}

} // namespace
} // namespace lapido::test
