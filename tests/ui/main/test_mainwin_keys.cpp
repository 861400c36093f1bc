// The main window's keys on a real X screen with a window manager: key presses made through the
// X server (xdotool) reach the focused control of an activated window, as an operator's do.
// One key press does one thing: a jog where the key table says, never a change of the focused
// text, list or tree; and Esc stops a run with the wait window in front.
#include "mainwinfixture.h"

#include "records/stlogfile.h"
#include "ui/common/qtoperatordialogs.h"
#include "ui/workflow/frmwait.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace lapido::test {
namespace {

class MainWindowKeysTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "run under scripts/xsession.sh";
    }

    static bool waitUntil(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 10000); }

    // Keys through the X server to whatever has the focus, as xdotool names them ("alt+k").
    static void xKeys(const QStringList& keys)
    {
        QProcess xdotool;
        xdotool.start(QStringLiteral("xdotool"), QStringList{QStringLiteral("key")} + keys);
        ASSERT_TRUE(xdotool.waitForFinished(10000));
        ASSERT_EQ(xdotool.exitCode(), 0) << xdotool.readAllStandardError().toStdString();
    }

    // Gives a control the keyboard focus in the activated window, as a click would.
    void focusOn(QWidget* control)
    {
        ASSERT_NE(control, nullptr);
        m_window->activateWindow();
        control->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(waitUntil([&] { return m_window->isActiveWindow() && QApplication::focusWidget() == control; }))
            << "focus on " << control->objectName().toStdString() << " is "
            << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "nothing");
    }

    // Jog commands the controller received so far.
    int jogCommands() const
    {
        int n = 0;
        for (const DmcTranscriptEntry& e : (*m_sim)->transcript())
            n += e.line.rfind("IP", 0) == 0 ? 1 : 0;
        return n;
    }
};

// The key table: keys x focused control. Each key press is followed by F2 (the overlay, a key
// of the station wherever the focus is); once the overlay has turned, the X server has handed
// the window the key before it too.
TEST_F(MainWindowKeysTest, EachKeyJogsOrActsOnTheFocusedControlNeverBoth)
{
    ASSERT_TRUE(QDir(scratch()).mkpath(QStringLiteral("Logos")));
    for (const char* name : {"diamond", "ring", "star"})
        ASSERT_TRUE(QFile::copy(testDataDir() + QStringLiteral("/../../examples/Logos/diamond.lal"),
                                scratch(QStringLiteral("Logos/%1.lal").arg(QString::fromLatin1(name)))));
    keys::write(keys::LogoName, QStringLiteral("diamond"));
    TfrmMain& w = start();
    TStation& st = w.station();
    st.RichEditGlyphLabel().document().setPlainText(QStringLiteral("LG1"));
    click(QStringLiteral("Add Label"));
    click(QStringLiteral("Add Logo")); // the logo stays selected: its lists are on show

    auto* editor = w.findChild<QTextEdit*>(QStringLiteral("RichEditGlyphLabel"));
    auto* girdle = w.findChild<QLineEdit*>(QStringLiteral("EditGirdle"));
    auto* tree = w.findChild<QTreeWidget*>(QStringLiteral("TreeViewGlyphs"));
    auto* video = w.findChild<QWidget*>(QStringLiteral("PaintBoxVideo"));
    QComboBox* logoList = nullptr;
    QComboBox* status = nullptr;
    for (QGroupBox* g : w.findChildren<QGroupBox*>())
        if (g->title() == QStringLiteral("Logo properties")) {
            const auto lists = g->findChildren<QComboBox*>();
            ASSERT_EQ(lists.size(), 2);
            logoList = lists[0];
            status = lists[1];
        }
    ASSERT_TRUE(editor && girdle && tree && video && logoList && status);
    ASSERT_EQ(logoList->count(), 3);

    struct Control {
        const char* name;
        QWidget* widget;
        bool jogs; // a control of the jog kind: arrows and Ctrl+Home/End are the station's
        std::function<QString()> value;
        std::function<void()> select; // brings it on show with the focus
    };
    const auto showLabel = [&] {
        st.TreeViewGlyphs().setSelected(st.TreeViewGlyphs().Root(0));
        st.TreeViewGlyphsChange(st.TreeViewGlyphs().Root(0));
        w.refreshControls();
    };
    const auto showLogo = [&] {
        st.TreeViewGlyphs().setSelected(st.TreeViewGlyphs().Root(1));
        st.TreeViewGlyphsChange(st.TreeViewGlyphs().Root(1));
        w.refreshControls();
    };
    const Control controls[] = {
        {"label editor", editor, false, [&] { return editor->toPlainText() + QStringLiteral("|") + st.Tree2XML(); }, showLabel},
        {"girdle box", girdle, false, [&] { return girdle->text(); }, showLabel},
        {"logo list", logoList, false, [&] { return logoList->currentText() + QStringLiteral("|") + st.Tree2XML(); }, showLogo},
        {"marking status", status, false,
         [&] { return QString::number(status->currentIndex()) + QString::number(st.TreeViewGlyphs().Root(1)->Data()->Processed); },
         showLogo},
        {"label tree", tree, true, [&] { return QString::number(quintptr(st.TreeViewGlyphs().Selected())); }, showLogo},
        {"picture", video, true, [&] { return st.Tree2XML(); }, showLogo},
    };
    struct Key {
        const char* x; // as xdotool names it
        bool alwaysJogs;
        bool jogKind;  // a jog (or girdle step) when a jog control has the focus
        bool arrowLike; // the control's own key in a text box or a list
    };
    const Key keysUnderTest[] = {
        {"alt+i", true, true, false},      {"alt+j", true, true, false},      {"alt+k", true, true, false},
        {"alt+l", true, true, false},      {"alt+m", true, true, false},      {"alt+n", true, true, false},
        {"Left", false, true, true},       {"Right", false, true, true},      {"Up", false, true, true},
        {"Down", false, true, true},       {"Prior", false, true, true},      {"Next", false, true, true},
        {"ctrl+Home", false, true, true},  {"ctrl+End", false, true, true},
    };
    for (const Control& c : controls) {
        c.select();
        focusOn(c.widget);
        for (const Key& k : keysUnderTest) {
            SCOPED_TRACE(std::string(c.name) + " " + k.x);
            const QString value = c.value();
            const int jogs = jogCommands();
            const QString girdleText = girdle->text();
            const bool overlay = st.ShowOverlay;
            xKeys({QString::fromLatin1(k.x), QStringLiteral("F2")});
            ASSERT_TRUE(waitUntil([&] { return st.ShowOverlay != overlay; })) << "F2 after the key never came";
            ASSERT_EQ(QApplication::focusWidget(), c.widget) << "the key moved the focus";
            const bool stationKey = k.alwaysJogs || (c.jogs && k.jogKind);
            const bool girdleKey = QString::fromLatin1(k.x).startsWith(QStringLiteral("ctrl+"));
            if (stationKey && !girdleKey) {
                EXPECT_EQ(jogCommands(), jogs + 1) << "a jog key with this focus jogs once";
            } else {
                EXPECT_EQ(jogCommands(), jogs) << "the focused control's key moved the machine";
            }
            if (stationKey && girdleKey) {
                EXPECT_NE(girdle->text(), girdleText) << "Ctrl+Home/End step the girdle";
            } else if (c.widget != girdle) {
                EXPECT_EQ(girdle->text(), girdleText) << "the girdle changed behind the focused control";
            }
            // A key the station took never reaches the control; a text box keeps its text
            // whatever key of the table comes; a list's own arrows are its to use.
            const bool listArrow = k.arrowLike && (c.widget == logoList || c.widget == status) && !stationKey;
            if (!listArrow && c.widget != video) {
                EXPECT_EQ(c.value(), value) << "the focused control's value changed";
            }
            if (listArrow) {
                // Put the list back where it was, for the next key.
                c.select();
                focusOn(c.widget);
            }
        }
    }
    EXPECT_FALSE(editor->toPlainText().contains(QStringLiteral("i"))) << "Alt+I..N were typed: " << editor->toPlainText().toStdString();
}

// Esc with the wait window "Waiting.... Enabling laser system" in front aborts the run: the
// trace gets "Mabu", nothing is marked and the laser is off. The wait window's own Esc comes
// through the X server while the wait runs.
TEST_F(MainWindowKeysTest, EscWithTheWaitWindowInFrontAbortsTheRun)
{
    FileLogger::ResetInstance();
    const QString previousFolder = QDir::currentPath();
    QDir::setCurrent(scratch());
    TfrmWait waitWindow;
    QtOperatorDialogs dialogs;
    dialogs.setWaitWindow(&waitWindow);
    // The virtual clock runs far ahead of the wall clock, and the key travels through another
    // process and the X server: the wait is made long enough (ten hours of virtual time) that
    // it is still open when the key arrives on a busy machine; Esc ends it long before.
    store().WriteString(QStringLiteral("Hardware"), QStringLiteral("EnableOnDelay"), QStringLiteral("36000"));

    TfrmMain& w = start();
    OperatorDialogs* previousDialogs = setOperatorDialogs(&dialogs);
    w.station().RichEditGlyphLabel().document().setPlainText(QStringLiteral("AB"));
    click(QStringLiteral("Add Label"));
    click(QStringLiteral("Inspect"));

    // Once the wait window is in front and has the focus, Esc is pressed on the keyboard.
    bool sent = false;
    QTimer press;
    press.setInterval(20);
    QObject::connect(&press, &QTimer::timeout, [&] {
        if (sent || !waitWindow.isVisible())
            return;
        waitWindow.activateWindow();
        if (!waitWindow.isActiveWindow())
            return;
        sent = true;
        QProcess::startDetached(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
    });
    press.start();
    click(QStringLiteral("Engrave (F9)"));
    press.stop();

    EXPECT_TRUE(sent) << "the wait window never came to the front";
    EXPECT_TRUE(MarkingAborted());
    EXPECT_EQ(markCount(), 0) << "the run went on after Esc";
    EXPECT_FALSE(m_laser->EnableIsOn || m_laser->GateIsOpen) << "laser left on";
    EXPECT_FALSE(waitWindow.isVisible());
    EXPECT_EQ(w.station().AIMState, TAIMState::aimsInspecting);
    QFile trace(FileLogger::GetInstance().filePath());
    ASSERT_TRUE(trace.open(QIODevice::ReadOnly)) << trace.fileName().toStdString();
    EXPECT_TRUE(QString::fromLatin1(trace.readAll()).split(QStringLiteral("\r\n")).contains(QStringLiteral("Mabu")));

    m_window.reset();
    setOperatorDialogs(previousDialogs);
    FileLogger::ResetInstance();
    QDir::setCurrent(previousFolder);
}

} // namespace
} // namespace lapido::test
