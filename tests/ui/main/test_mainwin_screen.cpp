// The main window on a real X screen with a window manager, at the screen size the test is run
// for: it fills the screen from the top-left corner, every control of the run, key, label,
// positioning, template and roll-down panels lies inside the screen uncovered, clicks through
// the X server reach them, and the secondary windows open fully on the screen.
#include "mainwinfixture.h"

#include "ui/common/screenfit.h"
#include "ui/glyphs/frmpreviewbitmap.h"
#include "ui/glyphs/frmsymbols.h"
#include "ui/machine/frmlaser.h"
#include "ui/machine/frmtestmotion.h"
#include "ui/main/videopanel.h"
#include "ui/settings/frmsettings.h"
#include "ui/workflow/frmbreakpoint.h"
#include "ui/workflow/frmclipboard.h"
#include "ui/workflow/frmmessage.h"
#include "ui/workflow/frmveduvazu.h"
#include "ui/workflow/frmwait.h"
#include "ui/workflow/labelveiwform.h"
#include "ui/workflow/templatesmanagerform.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>

#include <csignal>

namespace lapido::test {
namespace {

class MainWindowScreenTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "run under scripts/xsession.sh";
        qApp->installEventFilter(&m_screenFit);
    }
    void TearDown() override
    {
        qApp->removeEventFilter(&m_screenFit);
        setDebugMode(false);
        MainWindowTest::TearDown();
    }

    // The screen size the test was started for (LAPIDO_SCREEN_SIZE), which the X screen has.
    static QSize expectedScreen()
    {
        const QStringList wh = qEnvironmentVariable("LAPIDO_SCREEN_SIZE", QStringLiteral("1366x768")).split('x');
        return {wh.value(0).toInt(), wh.value(1).toInt()};
    }
    QRect screenRect() const { return m_window->screen()->geometry(); }

    // Events of the X server arrive when they arrive: waits are on the outcome.
    static bool waitUntil(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 10000); }

    static QRect globalRect(const QWidget* w) { return {w->mapToGlobal(QPoint(0, 0)), w->size()}; }

    // Brings a control of the scrolled side column into view, as the operator scrolls to it.
    void scrollTo(QWidget* control)
    {
        auto* scroll = m_window->findChild<QScrollArea*>(QStringLiteral("ScrollBoxPanels"));
        ASSERT_NE(scroll, nullptr);
        if (scroll->widget()->isAncestorOf(control))
            scroll->ensureWidgetVisible(control, 0, 0);
        QApplication::processEvents();
    }

    // The control is shown whole, inside the screen, and nothing else lies over it.
    void expectOnScreen(QWidget* control, const QString& what)
    {
        ASSERT_NE(control, nullptr) << what.toStdString();
        scrollTo(control);
        SCOPED_TRACE(what.toStdString());
        ASSERT_TRUE(control->isVisible());
        const QRect r = globalRect(control);
        EXPECT_TRUE(screenRect().contains(r)) << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
        EXPECT_EQ(control->visibleRegion().boundingRect(), control->rect());
        QWidget* top = QApplication::widgetAt(r.center());
        EXPECT_TRUE(top == control || control->isAncestorOf(top))
            << (top ? top->metaObject()->className() : "nothing") << " "
            << (top ? top->objectName().toStdString() : std::string());
    }
    void expectCaptionsOnScreen(const QStringList& captions)
    {
        for (const QString& caption : captions)
            expectOnScreen(findButton<QAbstractButton>(caption), caption);
    }
    void expectNamesOnScreen(const QStringList& names)
    {
        for (const QString& name : names)
            expectOnScreen(m_window->findChild<QWidget*>(name), name);
    }

    // A click through the X server at the control's centre, as the operator's mouse makes it.
    void xClick(QWidget* control)
    {
        ASSERT_NE(control, nullptr);
        scrollTo(control);
        const QPoint p = control->mapToGlobal(control->rect().center());
        QProcess xdotool;
        xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--sync"),
                                                   QString::number(p.x()), QString::number(p.y()),
                                                   QStringLiteral("click"), QStringLiteral("1")});
        ASSERT_TRUE(xdotool.waitForFinished(10000));
        ASSERT_EQ(xdotool.exitCode(), 0) << xdotool.readAllStandardError().toStdString();
    }

    // No two visible controls of the window overlap where both are shown.
    void expectNoOverlaps()
    {
        std::vector<QWidget*> controls;
        for (QWidget* w : m_window->findChildren<QWidget*>()) {
            const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w)
                                 || qobject_cast<QComboBox*>(w) || qobject_cast<QTextEdit*>(w)
                                 || qobject_cast<QTreeWidget*>(w) || qobject_cast<TVideoPanel*>(w);
            if (control && w->isVisible() && !w->visibleRegion().isEmpty()
                && !qobject_cast<QAbstractButton*>(w->parentWidget()))
                controls.push_back(w);
        }
        for (size_t i = 0; i < controls.size(); ++i)
            for (size_t j = i + 1; j < controls.size(); ++j) {
                QWidget* a = controls[i];
                QWidget* b = controls[j];
                if (a->isAncestorOf(b) || b->isAncestorOf(a))
                    continue;
                const QRegion shownA = a->visibleRegion().translated(a->mapToGlobal(QPoint(0, 0)));
                const QRegion shownB = b->visibleRegion().translated(b->mapToGlobal(QPoint(0, 0)));
                EXPECT_TRUE(shownA.intersected(shownB).isEmpty())
                    << a->objectName().toStdString() << " " << a->metaObject()->className() << " over "
                    << b->objectName().toStdString() << " " << b->metaObject()->className();
            }
    }

    TScreenFit m_screenFit;
};

TEST_F(MainWindowScreenTest, WindowFillsTheScreenFromTheTopLeftCornerWithThePictureInItsAspect)
{
    TfrmMain& w = start();
    ASSERT_EQ(screenRect().size(), expectedScreen());
    EXPECT_TRUE(w.windowFlags().testFlag(Qt::FramelessWindowHint));
    ASSERT_TRUE(waitUntil([&] { return w.frameGeometry() == w.screen()->availableGeometry(); }));
    EXPECT_EQ(w.frameGeometry().topLeft(), QPoint(0, 0));

    auto* picture = w.findChild<TVideoPanel*>(QStringLiteral("PaintBoxVideo"));
    ASSERT_NE(picture, nullptr);
    const QRectF shown = picture->pictureRect();
    EXPECT_NEAR(shown.width() / shown.height(), double(kVideoBufferWidth) / kVideoBufferHeight, 0.005);
    // The camera's pixels at full size where the screen has room for them and the controls.
    if (expectedScreen().width() >= 1920)
        EXPECT_DOUBLE_EQ(picture->pictureScale(), 1.0);
    else
        EXPECT_GE(picture->pictureScale(), 0.6);
    expectNoOverlaps();
}

TEST_F(MainWindowScreenTest, EveryControlOfTheButtonAndKeyTablesIsOnTheScreen)
{
    TfrmMain& w = start();
    ASSERT_TRUE(waitUntil([&] { return w.frameGeometry() == w.screen()->availableGeometry(); }));

    // The run and key buttons, the label tree's buttons, templates and positioning.
    expectNamesOnScreen({"SpeedButtonAlign", "SpeedButtonInspect", "SpeedButtonMark", "BitBtnAbort", "BitBtnReset",
                         "BitBtnSettings", "BitBtnExit", "SpeedButtonRollDown", "JogPanelX", "JogPanelY",
                         "JogPanelZ", "JogPanelA", "EditGirdle", "EditSlant", "EditDiam", "TreeViewGlyphs",
                         "ComboBoxTemplates", "LabelSimulated", "LabelVersion"});
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Version \\d+\\.\\d+\\.\\d+\\.\\d+\nZirodo Dizoduv Build$"))
                    .match(w.findChild<QLabel*>(QStringLiteral("LabelVersion"))->text())
                    .hasMatch());
    expectCaptionsOnScreen({"Add Label", "Add Text", "Add Symbols", "Add Space", "Add Logo", "Add Picture", "Add Code",
                            "Move Object Up", "Move Object Down", "Delete Object", "Save", "Load", "Close", "Left",
                            "Center", "Right", "Set Focus", "Goto Standby 1", "Goto Standby 2", "Goto Standby 3",
                            "Top", "Bottom", "Centre", "Set", "Goto", "Clear"});

    // A click through the X server adds a label; its panel is on the screen whole.
    xClick(findButton(QStringLiteral("Add Label")));
    ASSERT_TRUE(waitUntil([&] { return m_window->station().TreeViewGlyphs().RootCount() == 1; }));
    expectNamesOnScreen({"RichEditGlyphLabel", "EditGlyphLabelHeight", "EditGlyphLabelOffset",
                         "EditGlyphLabelSpacing", "BitBtnCharacterMap"});
    expectCaptionsOnScreen({"On Reset", "ABC++"});

    // A code through the X server: its whole panel on the screen.
    xClick(findButton(QStringLiteral("Add Code")));
    ASSERT_TRUE(waitUntil([&] { return m_window->station().TreeViewGlyphs().RootCount() == 2; }));
    expectNamesOnScreen({"EditGlyphCodeContent", "EditGlyphCodeModule", "LabelCodeInfo"});
    expectCaptionsOnScreen({"Scanned code", "Count on Reset"});
    auto* tree = w.findChild<QTreeWidget*>();
    tree->setCurrentItem(tree->topLevelItem(0)); // the label again, as before the code

    // "Video" opens the roll-down panel: all of it on the screen, the picture still beside the
    // controls and above the panel.
    xClick(w.findChild<QWidget*>(QStringLiteral("SpeedButtonRollDown")));
    QWidget* rollDown = w.findChild<QWidget*>(QStringLiteral("PanelRollDown"));
    ASSERT_TRUE(waitUntil([&] { return rollDown->isVisible(); }));
    QApplication::processEvents();
    expectOnScreen(rollDown, QStringLiteral("PanelRollDown"));
    expectNamesOnScreen({"CheckBoxOverlay", "CheckBoxZoomOut", "CheckBoxGrid", "EditGrid", "Edit_PulseTrainRate",
                         "SpinEdit_PulseTrainCount", "SpinEdit_PulseDuration", "ButtonShootPulseTrain",
                         "ButtonSinglePulse"});
    expectCaptionsOnScreen({"Snapshot", "Preview"});
    expectOnScreen(w.previewSwitch().timeLabel(), QStringLiteral("preview time"));
    auto* picture = w.findChild<TVideoPanel*>(QStringLiteral("PaintBoxVideo"));
    EXPECT_GE(picture->pictureRect().height(), expectedScreen().height() / 3.0);
    expectNoOverlaps();

    // A check box of the roll-down answers an X click: the overlay goes off.
    ASSERT_TRUE(w.station().ShowOverlay);
    xClick(w.findChild<QWidget*>(QStringLiteral("CheckBoxOverlay")));
    ASSERT_TRUE(waitUntil([&] { return !w.station().ShowOverlay; }));
}

TEST_F(MainWindowScreenTest, WithItsBorderTheDebugWindowFitsAndShowsTheDebugPanel)
{
    // The window reads "/DEBUG" from the program's own arguments: the test runs itself again
    // with it, on the same screen.
    if (!QCoreApplication::arguments().contains(QStringLiteral("/DEBUG"))) {
        QProcess again;
        again.setProcessChannelMode(QProcess::ForwardedChannels);
        again.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("/DEBUG"), QStringLiteral("--gtest_filter=") + QString::fromLatin1(
                         ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name())
                         + QLatin1Char('.') + QString::fromLatin1(
                         ::testing::UnitTest::GetInstance()->current_test_info()->name())});
        ASSERT_TRUE(again.waitForFinished(120000));
        EXPECT_EQ(again.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(again.exitCode(), 0);
        return;
    }
    TfrmMain& w = start();
    ASSERT_TRUE(DebugMode());
    EXPECT_FALSE(w.windowFlags().testFlag(Qt::FramelessWindowHint));
    const QRect room = w.screen()->availableGeometry();
    ASSERT_TRUE(waitUntil([&] { return room.contains(w.frameGeometry()) && w.frameGeometry().width() > room.width() * 9 / 10; }));
    expectNamesOnScreen({"PanelDebug", "SpeedButtonMark", "BitBtnAbort", "BitBtnExit"});
    for (const char* caption : {"DMC", "ClipBoard", "EcamStop", "Home", "Stop"})
        expectOnScreen(findButton(QString::fromLatin1(caption)), QString::fromLatin1(caption));
    expectNoOverlaps();
}

TEST_F(MainWindowScreenTest, SecondaryWindowsOpenFullyOnTheScreen)
{
    TfrmMain& w = start();
    // A label view stored far beyond the screen's edge, as a larger screen left it.
    store().WriteInteger(QStringLiteral("LabelVeiw"), QStringLiteral("XGuiPos"), 5000);
    store().WriteInteger(QStringLiteral("LabelVeiw"), QStringLiteral("YGuiPos"), 3000);

    TfrmSettings settings(&w);
    TfrmTestMotion motionTest(&w);
    settings.setMotionTestWindow(&motionTest);
    TLabelVeiwForm labelView(&w);
    TfrmClipboard clipboard(&w);
    TfrmBreakPoint breakPoint(&w);
    TfrmMessage message(&w);
    TfrmWait wait(&w);
    TfrmSymbols symbols(&w);
    TfrmVeduvAZU logoEditor(&w);
    TFTemplatesManagerForm templatesManager(&w);
    TfrmPreviewBitmap preview(&w);
    const std::vector<std::pair<QWidget*, const char*>> windows{
        {&settings, "settings"},     {&labelView, "label view"},     {&clipboard, "clipboard"},
        {&breakPoint, "break point"}, {&message, "marking problem"}, {&wait, "wait"},
        {&symbols, "symbols"},       {&logoEditor, "logo editor"},   {&templatesManager, "templates manager"},
        {&preview, "preview"}};
    const QRect room = w.screen()->availableGeometry();
    for (auto [window, name] : windows) {
        SCOPED_TRACE(name);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        ASSERT_TRUE(waitUntil([&] { return room.contains(window->frameGeometry()); }));
        // Framed by the window manager, the frame counts too.
        EXPECT_TRUE(room.contains(window->frameGeometry()));
        if (window == &settings) {
            // The settings window opens the motion test directly below itself.
            motionTest.move(settings.frameGeometry().left(), settings.frameGeometry().bottom() + 1);
            motionTest.show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&motionTest));
            ASSERT_TRUE(waitUntil([&] { return room.contains(motionTest.frameGeometry()); }))
                << motionTest.frameGeometry().x() << "," << motionTest.frameGeometry().y() << " "
                << motionTest.frameGeometry().width() << "x" << motionTest.frameGeometry().height() << " settings "
                << settings.frameGeometry().height();
            motionTest.hide();
        }
        window->hide();
    }
}

// The desktop matches a window to its entry by the window's class, and shows the window's icon.
TEST_F(MainWindowScreenTest, TheStationWindowCarriesTheDesktopEntrysClassAndAnIcon)
{
#ifndef LAPIDOGRAPH_PROGRAM
    GTEST_SKIP() << "the station program is not built";
#else
    QFile entry(QStringLiteral(LAPIDO_DESKTOP_ENTRY));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    QString wmClass;
    for (const QString& line : QString::fromUtf8(entry.readAll()).split('\n'))
        if (line.startsWith(QLatin1String("StartupWMClass=")))
            wmClass = line.mid(15).trimmed();
    ASSERT_FALSE(wmClass.isEmpty()) << "the desktop entry names no window class";

    QProcess station;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LAPIDOGRAPH_SETTINGS"), scratch(QStringLiteral("station.db")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), scratch(QStringLiteral("config")));
    station.setProcessEnvironment(env);
    station.setWorkingDirectory(scratch());
    station.start(QStringLiteral(LAPIDOGRAPH_PROGRAM), {QStringLiteral("--simulate"), QStringLiteral("/NOHOMING")});
    ASSERT_TRUE(station.waitForStarted());

    QProcess search;
    search.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                                             QStringLiteral("--class"), wmClass});
    const bool found = search.waitForFinished(60000) && search.exitCode() == 0;
    const QString window = QString::fromLatin1(search.readAllStandardOutput()).split('\n').value(0).trimmed();
    QString properties;
    if (found && !window.isEmpty()) {
        // The icon's pixels are many: only the start of it is asked for.
        for (const QStringList& args : {QStringList{QStringLiteral("WM_CLASS")},
                                        QStringList{QStringLiteral("-len"), QStringLiteral("16"), QStringLiteral("_NET_WM_ICON")}}) {
            QProcess xprop;
            xprop.start(QStringLiteral("xprop"), QStringList{QStringLiteral("-id"), window} + args);
            xprop.waitForFinished(10000);
            properties += QString::fromLatin1(xprop.readAllStandardOutput());
        }
    }
    ::kill(static_cast<pid_t>(station.processId()), SIGTERM);
    EXPECT_TRUE(station.waitForFinished(30000));
    ASSERT_TRUE(found) << "no window of class " << wmClass.toStdString();
    EXPECT_TRUE(properties.contains(QStringLiteral("WM_CLASS(STRING) = \"lapidograph\", \"") + wmClass + '"'))
        << properties.toStdString();
    EXPECT_TRUE(properties.contains(QLatin1String("_NET_WM_ICON(CARDINAL) = "))) << properties.toStdString();
#endif
}

} // namespace
} // namespace lapido::test
