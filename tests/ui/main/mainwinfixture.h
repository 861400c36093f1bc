// The main window on the in-process simulated machine and camera, on virtual time, with the
// operator's hands: buttons clicked by caption, keys, labels typed into the editor.
#pragma once

#include "camera/simcamera.h"
#include "camera/ueye.h"
#include "camera/ueyeapi.h"
#include "glyphs/glyph.h"
#include "glyphs/richstring.h"
#include "machine/laser.h"
#include "peripherals/ledsrgb.h"
#include "platform/stationglobals.h"
#include "records/pulsecounters.h"
#include "records/loggingproxy.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"
#include "ui/main/frmmain.h"
#include "ui/main/previewswitch.h"

#include "controllerfaults.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QTextDocument>
#include <QTimer>
#include <QWheelEvent>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>
#include <functional>
#include <memory>

namespace lapido::test {

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
        TLedsRGB::ReleaseInstance();
        PulseCountTracker::ResetInstance();
        TLoggingProxy::ResetInstance();
        Settings() = TSettings{};
        StationFixture::TearDown();
    }

    // Creates, shows and activates the window: homing runs on the first activation.
    TfrmMain& start(const std::function<void(TfrmMain&)>& beforeShow = {})
    {
        m_window = std::make_unique<TfrmMain>();
        m_window->setCamera(std::make_unique<TuEye>(UEyeLibrary::simulated()));
        if (beforeShow)
            beforeShow(*m_window);
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
    // The first line edit of a property panel.
    QLineEdit* findLineEditOf(const QString& panelTitle) const
    {
        for (QGroupBox* g : m_window->findChildren<QGroupBox*>())
            if (g->title() == panelTitle)
                return g->findChild<QLineEdit*>();
        return nullptr;
    }
    QWidget* visiblePanel() const
    {
        for (QGroupBox* g : m_window->findChildren<QGroupBox*>())
            if (g->title().endsWith(QStringLiteral("properties")) && g->isVisible())
                return g;
        return nullptr;
    }
    void wheel(QWidget* target, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        ASSERT_NE(target, nullptr);
        const QPointF pos(target->width() / 2.0, target->height() / 2.0);
        QWheelEvent event(pos, target->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
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

} // namespace lapido::test
