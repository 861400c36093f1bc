// The motion test window: profile numbers, the distance check and moves on the simulator.
#include "ui/machine/frmtestmotion.h"

#include "machinewindowfixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace lapido {
namespace {

class FrmTestMotionTest : public test::MachineWindowFixture {
protected:
    void SetUp() override
    {
        MachineWindowFixture::SetUp();
        Settings().X_Speed = 10;
        Settings().X_Accel = 100;
        Settings().X_Decel = 100;
        m_test = std::make_unique<TfrmTestMotion>();
    }
    void TearDown() override
    {
        m_test.reset();
        MachineWindowFixture::TearDown();
    }
    QStringList shown() const
    {
        return {m_test->EditAccelDistance->text(), m_test->EditConstDistance->text(), m_test->EditDecelDistance->text()};
    }
    long stops()
    {
        const auto lines = sim().transcript();
        return std::count_if(lines.begin(), lines.end(), [](const DmcTranscriptEntry& e) { return e.line == "ST SXYZW"; });
    }
    std::unique_ptr<TfrmTestMotion> m_test;
};

TEST_F(FrmTestMotionTest, StartsOnXWithOneMillimetreAndStopDisabled)
{
    EXPECT_EQ(m_test->ComboBoxAxis->currentText(), QStringLiteral("X-axis"));
    EXPECT_EQ(m_test->EditDistance->text(), QStringLiteral("1.0"));
    EXPECT_FALSE(m_test->BitBtnStop->isEnabled());
    EXPECT_EQ(m_test->TimerProfile->interval(), 50);
}

TEST_F(FrmTestMotionTest, ProfileNumbersAndTheSpeedLabel)
{
    const struct {
        const char* distance;
        QStringList shown;
        bool labelShown;
    } cases[] = {
        {"1", {"0.500", "0.000", "0.500"}, false},
        {"0.5", {"0.250", "0.000", "0.250"}, true},
        {"2.25", {"0.500", "1.250", "0.500"}, false},
    };
    for (const auto& c : cases) {
        m_test->EditDistance->setText(QString::fromLatin1(c.distance));
        m_test->TimerProfileTimer();
        EXPECT_EQ(shown(), c.shown) << c.distance;
        EXPECT_EQ(!m_test->LabelMaxSpeed->isHidden(), c.labelShown) << c.distance;
    }
}

TEST_F(FrmTestMotionTest, TooSmallDistanceTurnsRedAndTheMoveKeepsTheLastValidOne)
{
    const QColor normal = m_test->EditDistance->palette().color(QPalette::Text);
    m_test->EditDistance->setText(QStringLiteral("2"));
    m_test->EditDistance->setText(QStringLiteral("0.0005"));
    EXPECT_EQ(m_test->EditDistance->palette().color(QPalette::Text), QColor(Qt::red));
    EXPECT_EQ(m_test->testDistance(), 2.0);

    const double start = positionX();
    m_test->BitBtnMoveRight->click();
    EXPECT_NEAR(positionX() - start, 2.0, 1e-3);
    m_test->BitBtnMoveLeft->click();
    EXPECT_NEAR(positionX(), start, 1e-3);

    m_test->EditDistance->setText(QStringLiteral("0.75"));
    EXPECT_EQ(m_test->EditDistance->palette().color(QPalette::Text), normal);
    EXPECT_EQ(m_test->testDistance(), 0.75);
}

TEST_F(FrmTestMotionTest, LoopRunsUntilStopThenRestoresControlsAndMachineValues)
{
    m_form->laser().X_Speed = 3;
    int pairs = 0;
    // Stop arrives while the loop is running, as a click between the pairs would.
    QTimer stopper;
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        EXPECT_TRUE(m_test->BitBtnStop->isEnabled());
        EXPECT_FALSE(m_test->BitBtnLoop->isEnabled());
        if (++pairs == 2)
            m_test->BitBtnStop->click();
    });
    stopper.start(0);
    const double start = positionX();
    m_test->BitBtnLoop->click();
    stopper.stop();

    EXPECT_GE(pairs, 2);
    EXPECT_NEAR(positionX(), start, 1e-3);
    EXPECT_EQ(m_form->laser().X_Speed, 3);
    EXPECT_TRUE(m_test->BitBtnLoop->isEnabled());
    EXPECT_FALSE(m_test->BitBtnStop->isEnabled());
    EXPECT_TRUE(m_test->TimerProfile->isActive());
}

TEST_F(FrmTestMotionTest, ShowingAndHidingStopTheMachine)
{
    sim().clearTranscript();
    m_test->show();
    EXPECT_EQ(stops(), 1);
    m_test->hide();
    EXPECT_EQ(stops(), 2);
}

} // namespace
} // namespace lapido
