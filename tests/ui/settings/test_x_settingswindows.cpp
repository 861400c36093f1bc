// The settings window and the service windows as an operator meets them: a virtual X display
// with a window manager, real clicks and keystrokes (xdotool), the screen's edges. With
// LAPIDO_SHOTS set to a folder, each window is also photographed there (whole screen).
#include "machine/applysettings.h"
#include "machine/laser.h"
#include "platform/numfmt.h"
#include "platform/settingsstore.h"
#include "records/pulsecounters.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"
#include "ui/glyphs/frmpreviewbitmap.h"
#include "ui/glyphs/frmsymbols.h"
#include "glyphs/glyphphoto.h"
#include "platform/stationglobals.h"
#include "ui/machine/frmlaser.h"
#include "ui/workflow/frmveduvazu.h"
#include "ui/machine/frmtestmotion.h"
#include "ui/common/screenfit.h"
#include "ui/settings/frmsettings.h"
#include "testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace lapido::test {
namespace {

bool run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool xdo(const QStringList& args) { return run(QStringLiteral("xdotool"), args); }

QString screenName()
{
    const QString size = qEnvironmentVariable("LAPIDO_SCREEN_SIZE");
    return size.isEmpty() ? QStringLiteral("screen") : size;
}

// The whole screen into LAPIDO_SHOTS/name-WxH.png, when asked for.
void shoot(const QString& name)
{
    const QString folder = qEnvironmentVariable("LAPIDO_SHOTS");
    if (folder.isEmpty())
        return;
    QApplication::processEvents();
    QTest::qWait(300); // let the window manager and the painting settle before the picture
    run(QStringLiteral("import"),
        {QStringLiteral("-window"), QStringLiteral("root"), folder + QLatin1Char('/') + name + QLatin1Char('-') + screenName() + QStringLiteral(".png")});
}

// The window is mapped and, where the window manager tells it, framed.
bool framed(QWidget& w)
{
    if (!QTest::qWaitFor([&] { return w.isVisible(); }, 10000) || !QTest::qWaitForWindowExposed(&w, 20000))
        return false;
    // A window manager may leave a window without a frame: the wait is no condition.
    (void)QTest::qWaitFor([&] { return w.frameGeometry() != w.geometry(); }, 3000);
    return true;
}

bool onScreen(QWidget& w)
{
    const QRect screen = w.screen()->geometry();
    return screen.contains(w.frameGeometry());
}

void clickOn(QWidget* w)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->isVisible() && w->isEnabled(); }, 10000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w->window()));
    QApplication::processEvents();
    const QPoint c = w->mapToGlobal(w->rect().center());
    ASSERT_TRUE(xdo({QStringLiteral("mousemove"), QString::number(c.x()), QString::number(c.y()), QStringLiteral("click"),
                     QStringLiteral("1")}));
}

class SettingsOnX : public StationFixture {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display (scripts/xsession.sh)";
        StationFixture::SetUp();
        // As in the station: every window is held on the screen while the window manager
        // frames and places it.
        qApp->installEventFilter(&m_screenFit);
        setUserLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        Settings() = TSettings{};
        PulseCountTracker::ResetInstance();
        m_sim = std::make_unique<ScopedDmcSimulator>(&m_clock);
        keys::write(keys::GalilIP, QStringLiteral("sim"));
    }
    void TearDown() override
    {
        qApp->removeEventFilter(&m_screenFit);
        m_window.reset();
        m_motionTest.reset();
        setLaser(nullptr);
        m_laser.reset();
        m_sim.reset();
        PulseCountTracker::ResetInstance();
        Settings() = TSettings{};
        if (!IsSkipped())
            StationFixture::TearDown();
    }

    // The settings window as the station opens it: modal, over the whole application.
    TfrmSettings& window()
    {
        if (!m_window) {
            m_window = std::make_unique<TfrmSettings>();
            m_window->setModal(true);
            m_window->show();
            EXPECT_TRUE(framed(*m_window));
            m_window->activateWindow();
            EXPECT_TRUE(QTest::qWaitFor([&] { return m_window->isActiveWindow(); }, 10000));
        }
        return *m_window;
    }
    TLaser& laser()
    {
        if (!m_laser) {
            m_laser = std::make_unique<TLaser>();
            m_laser->ShowDMCCmd = true;
            m_laser->setEchoHook([this](EchoLine kind, const std::string& text) {
                if (kind == EchoLine::Command)
                    m_sent.push_back(text);
            });
            setLaser(m_laser.get());
        }
        return *m_laser;
    }
    template <typename T = QWidget>
    T* child(const QString& name)
    {
        T* w = window().findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    void showPageOf(QWidget* w)
    {
        auto* tabs = child<QTabWidget>(QStringLiteral("PageControl"));
        for (int i = 0; i < tabs->count(); ++i) {
            if (tabs->widget(i)->isAncestorOf(w))
                tabs->setCurrentIndex(i);
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return w->isVisible(); }, 5000));
    }
    // Clicks into the box, selects its text and types over it with real key events.
    void typeInto(QLineEdit* edit, const QString& text)
    {
        showPageOf(edit);
        clickOn(edit);
        ASSERT_TRUE(QTest::qWaitFor([&] { return edit->hasFocus(); }, 10000));
        ASSERT_TRUE(xdo({QStringLiteral("key"), QStringLiteral("ctrl+a"), QStringLiteral("BackSpace")}));
        if (!text.isEmpty()) {
            ASSERT_TRUE(xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"), QStringLiteral("--"), text}));
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return edit->text() == text; }, 10000))
            << edit->text().toStdString() << " instead of " << text.toStdString();
    }
    void enterService()
    {
        child<QLineEdit>(QStringLiteral("EditPassword"))->setText(QStringLiteral("TRIMDOG"));
        child<QPushButton>(QStringLiteral("ButtonEnter"))->click();
    }
    bool sentStartingWith(const std::string& prefix) const
    {
        for (const std::string& c : m_sent)
            if (c.rfind(prefix, 0) == 0)
                return true;
        return false;
    }

    TScreenFit m_screenFit;
    std::unique_ptr<ScopedDmcSimulator> m_sim;
    std::unique_ptr<TLaser> m_laser;
    std::unique_ptr<TfrmTestMotion> m_motionTest;
    std::unique_ptr<TfrmSettings> m_window;
    std::vector<std::string> m_sent;
};

// Typed with real keys, each refused text leaves its box red, and OK then stores nothing:
// not the value a prefix of the text gave, nor anything else.
TEST_F(SettingsOnX, RedBoxesTypedWithRealKeysStoreNothing)
{
    struct Case {
        const char* key;
        const char* typed;
    };
    const Case cases[] = {{"StartUp_X", "12,5"}, {"Goto1_Z", "-0.001"}, {"Goto3_Y", "35,5"},
                          {"Goto2_X", "1e9"},    {"StartUp_Y", ""}};
    laser();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        Settings() = TSettings{};
        m_window.reset();
        auto* edit = child<QLineEdit>(QStringLiteral("Edit") + QLatin1String(c.key));
        typeInto(edit, QString::fromLatin1(c.typed));
        const auto stored = store().entries();
        const auto asked = m_dialogs.transcript().size();
        clickOn(child<QPushButton>(QStringLiteral("ButtonClose")));
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_dialogs.transcript().size() > asked; }, 10000))
            << "OK said nothing";
        EXPECT_TRUE(m_dialogs.transcript().back().text.contains(QLatin1String(c.key)))
            << m_dialogs.transcript().back().text.toStdString();
        EXPECT_TRUE(window().isVisible());
        EXPECT_EQ(edit->palette().color(QPalette::Text), QColor(Qt::red));
        EXPECT_EQ(store().entries(), stored) << "OK stored something while a box was red";
        if (QLatin1String(c.key) == QLatin1String("StartUp_X"))
            shoot(QStringLiteral("settings-refused"));
    }
}

// Each page of the window, and the window itself, inside the screen.
TEST_F(SettingsOnX, EveryPageOnScreen)
{
    window();
    enterService();
    auto* tabs = child<QTabWidget>(QStringLiteral("PageControl"));
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        EXPECT_TRUE(onScreen(window())) << tabs->tabText(i).toStdString();
        shoot(QStringLiteral("settings-%1-%2").arg(i, 2, 10, QLatin1Char('0')).arg(tabs->tabText(i).toLower()));
    }
    // The Laser page with a source that has controls of its own.
    auto* source = child<QComboBox>(QStringLiteral("ComboBoxSource"));
    const int plugin = source->findText(QStringLiteral("DE60 Simulated Source"));
    if (plugin >= 0) {
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->tabText(i) == QLatin1String("Laser"))
                tabs->setCurrentIndex(i);
        source->setCurrentIndex(plugin);
        emit source->activated(plugin);
        EXPECT_TRUE(onScreen(window()));
        shoot(QStringLiteral("settings-07-laser-plugin"));
    }
}

// "Test..." with the modal settings open: the motion test shows fully on screen and its
// "Move ->" sends the move.
TEST_F(SettingsOnX, MotionTestFromTheModalSettingsMoves)
{
    ASSERT_FALSE(ApplyMotionSettings(Settings(), laser()).has_value());
    laser().Initialize();
    m_motionTest = std::make_unique<TfrmTestMotion>();
    window().setMotionTestWindow(m_motionTest.get());
    enterService();
    auto* test = child<QPushButton>(QStringLiteral("ButtonTest"));
    showPageOf(test);
    clickOn(test);
    ASSERT_TRUE(framed(*m_motionTest));
    // The frame the window manager adds arrives after the placement; the window is back
    // inside the screen once it has.
    EXPECT_TRUE(QTest::qWaitFor([&] { return onScreen(*m_motionTest); }, 5000))
        << m_motionTest->frameGeometry().y() << "+"
                                         << m_motionTest->frameGeometry().height();
    EXPECT_TRUE(onScreen(window()));
    shoot(QStringLiteral("motion-test"));
    m_sent.clear();
    QSignalSpy clicked(m_motionTest->BitBtnMoveRight, &QPushButton::clicked);
    clickOn(m_motionTest->BitBtnMoveRight);
    EXPECT_TRUE(QTest::qWaitFor([&] { return clicked.count() > 0; }, 10000)) << "the click did not arrive";
    EXPECT_TRUE(QTest::qWaitFor([&] { return sentStartingWith("IP "); }, 20000))
        << "no move sent; sent: " << (m_sent.empty() ? std::string("nothing") : m_sent.front())
        << ", hardware " << laser().HardwareFound;
    EXPECT_TRUE(window().isVisible());
}

// The manual command window, opened as the main window's button opens it, on screen.
TEST_F(SettingsOnX, ManualCommandWindowOnScreen)
{
    TfrmLaser manual;
    manual.show();
    manual.raise();
    manual.activateWindow();
    ASSERT_TRUE(framed(manual));
    EXPECT_TRUE(onScreen(manual));
    shoot(QStringLiteral("manual-command"));
}

// The symbol picker and the logo editor, shown as their buttons show them, on screen.
TEST_F(SettingsOnX, SymbolPickerAndLogoEditorOnScreen)
{
    TfrmSymbols symbols;
    symbols.show();
    ASSERT_TRUE(framed(symbols));
    EXPECT_TRUE(onScreen(symbols)) << symbols.frameGeometry().width() << "x" << symbols.frameGeometry().height();
    shoot(QStringLiteral("symbol-picker"));
    // A stroke font, whose tall characters once ran over their cells.
    symbols.UseRichEdit = false;
    symbols.SymbolFont = QStringLiteral("SCRIPTS");
    symbols.prepare();
    symbols.FormActivate();
    EXPECT_TRUE(onScreen(symbols));
    shoot(QStringLiteral("symbol-picker-stroke"));
    symbols.hide();

    TfrmVeduvAZU logos;
    logos.show();
    ASSERT_TRUE(framed(logos));
    EXPECT_TRUE(onScreen(logos)) << logos.frameGeometry().width() << "x" << logos.frameGeometry().height();
    shoot(QStringLiteral("logo-editor"));
}

// The engraving preview of a small photo (0.12 mm high: 24 dot rows), opened whole and as
// large as the window allows, on screen.
TEST_F(SettingsOnX, EngravingPreviewOnScreen)
{
    Settings().PhotoResolution = 5;
    setGirdleHeight(0.5);
    QImage picture(60, 40, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(255 * x / 59, 255 * y / 39, 128));
    TGlyphPhoto photo(nullptr, nullptr, picture, 0.24, 0.0);
    TfrmPreviewBitmap preview;
    preview.GlyphPhoto = &photo;
    preview.show();
    preview.activateWindow();
    ASSERT_TRUE(framed(preview));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !preview.Image->dots().isNull(); }, 10000));
    EXPECT_TRUE(onScreen(preview));
    EXPECT_GE(preview.Image->zoom(), 8);
    shoot(QStringLiteral("engraving-preview"));
    preview.hide();
    resetStationGlobals();
}

} // namespace
} // namespace lapido::test
