// The main window driven as an operator would, against the in-process simulated machine and
// camera, on virtual time.
#include "camera/simcamera.h"
#include "camera/ueye.h"
#include "camera/ueyeapi.h"
#include "glyphs/glyph.h"
#include "machine/laser.h"
#include "platform/stationglobals.h"
#include "records/pulsecounters.h"
#include "records/loggingproxy.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"
#include "ui/main/frmmain.h"

#include "testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>

#include <memory>

namespace lapido::test {
namespace {

class MainWindowTest : public StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        setWorkingDir(scratch() + QStringLiteral("/"));
        m_sim = std::make_unique<ScopedDmcSimulator>(&m_clock);
        keys::write(keys::GalilIP, QStringLiteral("sim"));
        keys::write(keys::WorkingDir, scratch() + QStringLiteral("/"));
        keys::write(keys::RichLabelFont, QStringLiteral("ROMANS"));
        store().WriteString(QStringLiteral("Hardware"), QStringLiteral("EnableOnDelay"), QStringLiteral("0"));
        TSettings s;
        s.XY_CountsPerMM = 1000;
        s.Z_CountsPerMM = 1000;
        s.MarkingSpeed = 0.5;
        s.UseZaxis = true;
        Settings() = s;
        PulseCountTracker::ResetInstance();
        m_laser = std::make_unique<TLaser>();
        setLaser(m_laser.get());
        m_camera = std::make_unique<ScopedSimulatedCamera>(SimulatedCameraOptions{});
    }
    void TearDown() override
    {
        m_window.reset();
        setLaser(nullptr);
        m_laser.reset();
        m_camera.reset();
        m_sim.reset();
        PulseCountTracker::ResetInstance();
        TLoggingProxy::ResetInstance();
        Settings() = TSettings{};
        StationFixture::TearDown();
    }

    // Creates, shows and activates the window: homing runs on the first activation.
    TfrmMain& start()
    {
        m_window = std::make_unique<TfrmMain>();
        m_window->setCamera(std::make_unique<TuEye>(UEyeLibrary::simulated()));
        m_window->show();
        QApplication::setActiveWindow(m_window.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
        // Let the position timer read the homed position (the marking reference follows it).
        QTest::qWait(3 * TStation::kPositionTimerMs);
        return *m_window;
    }
    template <typename T = QAbstractButton>
    T* findButton(const QString& caption) const
    {
        for (T* b : m_window->findChildren<T*>())
            if (b->text() == caption)
                return b;
        ADD_FAILURE() << "no button " << caption.toStdString();
        return nullptr;
    }
    void click(const QString& caption)
    {
        QAbstractButton* b = findButton(caption);
        ASSERT_NE(b, nullptr);
        ASSERT_TRUE(b->isEnabled()) << caption.toStdString();
        QTest::mouseClick(b, Qt::LeftButton);
    }
    void key(int k, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : m_window.get();
        QTest::keyClick(target, Qt::Key(k), modifiers);
    }
    // A label typed into the editor and added with "Add Label".
    void addLabel(const QString& text)
    {
        auto* editor = m_window->findChild<QTextEdit*>();
        ASSERT_NE(editor, nullptr);
        editor->setPlainText(text);
        click(QStringLiteral("Add Label"));
    }
    int markCount() const { return int((*m_sim)->marks().size()); }
    // The camera picture without the overlay, so that only the stone (and its marks) shows.
    QImage cameraPicture()
    {
        m_window->station().ShowOverlay = false;
        // The camera shows at each tick the frame it captured at the previous one.
        m_window->VideoTimerTick();
        m_window->VideoTimerTick();
        QImage picture = m_window->videoBuffer().copy();
        m_window->station().ShowOverlay = true;
        return picture;
    }

    std::unique_ptr<ScopedDmcSimulator> m_sim;
    std::unique_ptr<ScopedSimulatedCamera> m_camera;
    std::unique_ptr<TLaser> m_laser;
    std::unique_ptr<TfrmMain> m_window;
};

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
    TfrmMain& w = start();
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
    key(Qt::Key_F9);
    EXPECT_GT(markCount(), 0) << m_dialogs.texts().join(QStringLiteral(" | ")).toStdString();
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

} // namespace
} // namespace lapido::test
