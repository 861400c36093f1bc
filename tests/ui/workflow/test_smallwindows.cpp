// The Qt operator dialogs and the small windows of the main window, driven as an operator would.
#include "settings/settingskeys.h"
#include "testsupport.h"
#include "ui/common/qtoperatordialogs.h"
#include "ui/workflow/frmbreakpoint.h"
#include "ui/workflow/frmclipboard.h"
#include "ui/workflow/frmmessage.h"
#include "ui/workflow/frmwait.h"
#include "ui/workflow/labelveiwform.h"

#include <QApplication>
#include <QClipboard>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTest>
#include <QTimer>

#include <functional>

namespace lapido {
namespace {

class SmallWindowsTest : public test::StationFixture {};

// Runs action on the modal box that the next call opens, once it is up. Each poll is a copy
// of the last, so nothing refers to itself and nothing is left behind.
struct ModalPoll {
    std::function<void(QWidget*)> action;
    void operator()() const
    {
        if (QWidget* modal = QApplication::activeModalWidget())
            action(modal);
        else
            QTimer::singleShot(10, *this);
    }
};

void onNextModal(std::function<void(QWidget*)> action)
{
    QTimer::singleShot(0, ModalPoll{std::move(action)});
}

QPushButton* buttonCaptioned(QWidget* box, const QString& caption)
{
    for (QPushButton* b : box->findChildren<QPushButton*>())
        if (b->text() == caption)
            return b;
    return nullptr;
}

struct BoxCase {
    const char* name;
    DialogKind kind;
    std::vector<DialogButton> buttons;
    QMessageBox::Icon icon;
    QStringList captions;  // as shown, in order
    const char* press;     // caption clicked; nullptr: Esc
    DialogResult expected;
};

TEST_F(SmallWindowsTest, MessageBoxesShowTheirKindAndReturnTheResultOfTheRelabelledButton)
{
    const BoxCase cases[] = {
        {"custom relabelled", DialogKind::Custom,
         {{DialogResult::Yes, "Continue", true}, {DialogResult::No, "Restart"}, {DialogResult::Cancel, {}}},
         QMessageBox::NoIcon, {"Continue", "Restart", "Cancel"}, "Restart", DialogResult::No},
        {"confirmation escaped", DialogKind::Confirmation, {{DialogResult::Ok, {}}, {DialogResult::Cancel, {}}},
         QMessageBox::Question, {"OK", "Cancel"}, nullptr, DialogResult::Cancel},
        {"custom escape is No", DialogKind::Custom, {{DialogResult::Yes, "Inscribe"}, {DialogResult::No, "Stop"}},
         QMessageBox::NoIcon, {"Inscribe", "Stop"}, nullptr, DialogResult::No},
        {"error with no buttons", DialogKind::Error, {}, QMessageBox::Critical, {"OK"}, "OK", DialogResult::Ok},
        {"information escaped", DialogKind::Information, {}, QMessageBox::Information, {"OK"}, nullptr,
         DialogResult::Ok},
    };
    for (const BoxCase& c : cases) {
        SCOPED_TRACE(c.name);
        QtOperatorDialogs dialogs;
        QStringList shown;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        Qt::TextFormat format = Qt::AutoText;
        onNextModal([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_NE(box, nullptr);
            icon = box->icon();
            format = box->textFormat();
            for (QAbstractButton* b : box->buttons())
                shown << b->text();
            if (c.press)
                buttonCaptioned(box, c.press)->click();
            else
                QTest::keyClick(box, Qt::Key_Escape);
        });
        const DialogResult r = dialogs.message(c.kind, "Title", "<b>Label</b> text", c.buttons);
        EXPECT_EQ(r, c.expected);
        EXPECT_EQ(icon, c.icon);
        EXPECT_EQ(format, Qt::PlainText);
        shown.sort();
        QStringList expected = c.captions;
        expected.sort();
        EXPECT_EQ(shown, expected);
    }
}

TEST_F(SmallWindowsTest, InputBoxGivesTheTextOrNothingWhenCancelled)
{
    QtOperatorDialogs dialogs;
    for (const bool accept : {true, false}) {
        onNextModal([accept](QWidget* w) {
            auto* box = qobject_cast<QInputDialog*>(w);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->textValue(), "proposal");
            box->setTextValue("Template 7");
            accept ? box->accept() : box->reject();
        });
        const auto text = dialogs.input("Save Template", "Template Name:", "proposal");
        EXPECT_EQ(text, accept ? std::optional<QString>("Template 7") : std::nullopt);
    }
}

TEST_F(SmallWindowsTest, FiltersOfTheStationBecomeQtFilters)
{
    EXPECT_EQ(QtOperatorDialogs::qtFilter("Bitmaps|*.bmp|All files|*.*"), "Bitmaps (*.bmp);;All files (*.*)");
    EXPECT_EQ(QtOperatorDialogs::qtFilter("Pictures|*.bmp;*.png"), "Pictures (*.bmp *.png)");
    EXPECT_EQ(QtOperatorDialogs::qtFilter("Drawings (*.lal)"), "Drawings (*.lal)");
}

TEST_F(SmallWindowsTest, WaitWindowFollowsTheWaitAndReportsAbort)
{
    TfrmWait wait;
    QtOperatorDialogs dialogs;
    dialogs.setWaitWindow(&wait);
    {
        auto handle = dialogs.beginWait("Waiting....", "Please wait!", "EnableOnDelay");
        EXPECT_TRUE(wait.isVisible());
        EXPECT_TRUE(wait.isModal());
        handle->setProgress(37, 50);
        EXPECT_EQ(wait.barPosition(), 37);
        handle->setProgress(250, 300); // 25 s of a 30 s wait: the bar is full at 10 s
        EXPECT_EQ(wait.barPosition(), 100);
        EXPECT_FALSE(handle->abortRequested());
    }
    EXPECT_FALSE(wait.isVisible());
    EXPECT_EQ(wait.result(), QDialog::Accepted);

    auto handle = dialogs.beginWait("Waiting....", "Please wait!", {});
    EXPECT_EQ(wait.barPosition(), 0); // a new wait starts empty
    QTest::mouseClick(wait.abortButton(), Qt::LeftButton);
    EXPECT_TRUE(handle->abortRequested());
    EXPECT_FALSE(wait.isVisible());

    // Esc closes the window only as Abort does: the wait never runs on unseen.
    auto escaped = dialogs.beginWait("Waiting....", "Please wait!", "Enabling laser system");
    ASSERT_FALSE(escaped->abortRequested());
    QTest::keyClick(&wait, Qt::Key_Escape);
    EXPECT_TRUE(escaped->abortRequested());
    EXPECT_FALSE(wait.isVisible());
}

TEST_F(SmallWindowsTest, MarkingProblemIsANonModalNoticeWithClose)
{
    TfrmMessage message;
    QtOperatorDialogs dialogs;
    dialogs.setMessageWindow(&message);
    dialogs.notice("Marking problem", "Buffer underrun <at> glyph 3");
    EXPECT_TRUE(message.isVisible());
    EXPECT_FALSE(message.isModal());
    EXPECT_EQ(message.windowTitle(), "Marking problem");
    EXPECT_EQ(message.problemText(), "Buffer underrun <at> glyph 3");
    message.closeButton()->click();
    EXPECT_FALSE(message.isVisible());
}

TEST_F(SmallWindowsTest, ClipboardJoinsGridCellsWithTabsAndEmptiesOnCopy)
{
    TfrmClipboard clip;
    EXPECT_EQ(clip.windowTitle(), "ClipBoard");
    QStandardItemModel grid(2, 3);
    const char* cells[2][3] = {{"X", "Y", "Z"}, {"1.250", "", "-0.5"}};
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            grid.setItem(r, c, new QStandardItem(cells[r][c]));
    clip.AddString("Positions");
    clip.AddStringGrid(grid);
    const std::vector<QStringList> rows = {{"a", "b"}};
    clip.AddStringGrid(rows);
    const QString expected = "Positions\nX\tY\tZ\n1.250\t\t-0.5\na\tb";
    EXPECT_EQ(clip.text(), expected);

    QApplication::clipboard()->clear();
    clip.CopyToClipboard();
    EXPECT_EQ(QApplication::clipboard()->text(), expected);
    EXPECT_EQ(clip.text(), "");
    clip.AddString("again");
    clip.Clear();
    EXPECT_EQ(clip.text(), "");
}

TEST_F(SmallWindowsTest, LabelViewComesBackWhereTheOperatorLeftIt)
{
    const QString section = keys::kLabelVeiw;
    {
        TLabelVeiwForm view;
        EXPECT_EQ(view.windowTitle(), "Label View");
        EXPECT_TRUE(view.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        view.setLabelText("GIA 1234567890");
        EXPECT_EQ(view.labelText(), "GIA 1234567890");
        view.move(40, 50);
        view.show();
        // Nothing stored yet: the window stays where it is and nothing is written for it.
        EXPECT_EQ(view.pos(), QPoint(40, 50));
        QTest::qWait(TLabelVeiwForm::kMoveSettleMs + 100);
        EXPECT_FALSE(store().value(section, "XGuiPos").has_value());

        view.move(120, 90);
        view.move(130, 95); // a drag: only where it ends counts
        QTest::qWait(TLabelVeiwForm::kMoveSettleMs + 200);
        EXPECT_EQ(store().value(section, "XGuiPos"), "130");
        EXPECT_EQ(store().value(section, "YGuiPos"), "95");
    }
    TLabelVeiwForm again;
    again.show();
    EXPECT_EQ(again.pos(), QPoint(130, 95));
}

TEST_F(SmallWindowsTest, BreakPointHoldsUntilContinueSetsTheTagToZero)
{
    TfrmBreakPoint bp;
    int tagWhileHeld = -1;
    QTimer::singleShot(20, &bp, [&] {
        tagWhileHeld = bp.Tag();
        bp.continueButton()->click();
    });
    bp.Hold("before the cam start");
    EXPECT_EQ(tagWhileHeld, 1);
    EXPECT_EQ(bp.Tag(), 0);
    EXPECT_FALSE(bp.isVisible());

    QTimer::singleShot(20, &bp, [&] { bp.close(); }); // closing releases the hold as well
    bp.Hold({});
    EXPECT_EQ(bp.Tag(), 0);
}

} // namespace
} // namespace lapido
