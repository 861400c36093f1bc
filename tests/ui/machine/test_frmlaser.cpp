// The manual command window: typed commands, the echo, the buffer gauge and the output check.
#include "machinewindowfixture.h"

#include "platform/debuglog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>

namespace lapido {
namespace {

class FrmLaserTest : public test::MachineWindowFixture {
protected:
    QStringList memoLines() const { return m_form->MemoReply->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

TEST_F(FrmLaserTest, CreationPublishesTheMachineAndStaysOnTop)
{
    EXPECT_EQ(Laser(), &m_form->laser());
    EXPECT_TRUE(m_form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(m_form->windowTitle(), QStringLiteral("Laser system"));
    EXPECT_TRUE(m_form->TimerOutputs->isActive());
    EXPECT_EQ(m_form->TimerOutputs->interval(), 500);
    m_form.reset();
    EXPECT_EQ(Laser(), nullptr);
}

TEST_F(FrmLaserTest, LowerCaseCommandIsSentUpperCasedAndItsReplyShown)
{
    DebugLogCapture log;
    m_form->MemoReply->clear();
    QTest::keyClicks(m_form->EditCommand, QStringLiteral("mg 6*7"));
    QTest::keyClick(m_form->EditCommand, Qt::Key_Return);

    EXPECT_EQ(memoLines(), (QStringList{QStringLiteral("> mg 6*7"), QStringLiteral("42.0000")}));
    EXPECT_TRUE(m_form->EditCommand->text().isEmpty());
    const auto lines = log.lines();
    auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    EXPECT_TRUE(has("Sending command: mg 6*7")) << ::testing::PrintToString(lines);
    EXPECT_TRUE(has("Sending command: MG 6*7 with result 42.0000")) << ::testing::PrintToString(lines);
}

// A refused command shows itself and the controller's reason, not an empty line.
TEST_F(FrmLaserTest, RefusedCommandShowsTheControllersReason)
{
    m_form->MemoReply->clear();
    QTest::keyClicks(m_form->EditCommand, QStringLiteral("XYZZY"));
    QTest::keyClick(m_form->EditCommand, Qt::Key_Return);
    const QStringList lines = memoLines();
    ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("> XYZZY"));
    EXPECT_TRUE(lines[1].startsWith(QLatin1String("Refused: "))) << lines[1].toStdString();
    EXPECT_GT(lines[1].size(), QStringLiteral("Refused: ").size());
}

TEST_F(FrmLaserTest, EchoShowsTheStationsOwnCommandsOnlyWhileChecked)
{
    m_form->MemoReply->clear();
    m_form->BitBtnServoOff->click();
    EXPECT_TRUE(memoLines().isEmpty());

    m_form->CheckBoxShowDMC->setChecked(true);
    EXPECT_TRUE(m_form->laser().ShowDMCCmd);
    m_form->BitBtnServoOn->click();
    EXPECT_EQ(memoLines().value(0), QStringLiteral("SH"));

    const qint64 marksBefore = qint64(sim().marks().size());
    m_form->BitBtnSinglePulse->click();
    EXPECT_TRUE(memoLines().contains(QStringLiteral("GRW=0.1"))) << memoLines().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(qint64(sim().marks().size()), marksBefore + 1);
}

TEST_F(FrmLaserTest, GaugeFollowsTheVectorBuffer)
{
    QSignalSpy spy(m_form->ProgressBarBuffer, &QProgressBar::valueChanged);
    TLaser& l = m_form->laser();
    Settings().ContourBuffering = 20;
    l.StartLIXYMode();
    for (int i = 0; i < 120; ++i)
        l.AddLIXYVertex(5 + 0.01 * (i % 2 ? i : -i), 5 + 0.001 * i, 0.5);
    l.FinishLIXYMode();

    int highest = 0;
    for (const auto& args : spy)
        highest = std::max(highest, args.at(0).toInt());
    EXPECT_GT(highest, 10);
    EXPECT_LE(highest, 512);
    EXPECT_EQ(m_form->ProgressBarBuffer->value(), 0);
}

TEST_F(FrmLaserTest, TimerSwitchesTheEnableLineOffAfterItsDelay)
{
    TLaser& l = m_form->laser();
    ASSERT_TRUE(l.EnableOn());
    l.EnableOffDelay = 2;
    l.EnableOff();
    ASSERT_TRUE(l.EnableIsOn);

    m_form->TimerOutputsTimer();
    EXPECT_TRUE(l.EnableIsOn);
    m_clock.advanceUs(2'100'000);
    // the window's own 500 ms timer, not a direct call
    QTRY_VERIFY_WITH_TIMEOUT(!l.EnableIsOn, 2000);
}

} // namespace
} // namespace lapido
