// TTickTimer: remaining time, the one-shot Finished, and the modal wait with Abort.
#include "machine/ticktimer.h"

#include "testsupport.h"

namespace lapido {
namespace {

class TickTimerTest : public test::StationFixture {};

TEST_F(TickTimerTest, RemainingCountsDownAndFinishedFiresOnce)
{
    TTickTimer timer(QStringLiteral("t"), 300);
    EXPECT_FALSE(timer.Finished()) << "a timer that was never started never finishes";
    timer.Start();
    m_clock.advanceUs(100'000);
    EXPECT_EQ(timer.Remaining(), 200u);
    EXPECT_FALSE(timer.Finished());
    m_clock.advanceUs(250'000);
    EXPECT_EQ(timer.Remaining(), 0u);
    EXPECT_TRUE(timer.Finished());
    EXPECT_FALSE(timer.Finished());
    EXPECT_FALSE(timer.IsRunning());

    timer.Start(50);
    EXPECT_EQ(timer.Delay, 50u);
    timer.Stop();
    m_clock.advanceUs(60'000);
    EXPECT_FALSE(timer.Finished()) << "a stopped timer does not finish";
}

TEST_F(TickTimerTest, WaitShowsTheWaitWindowUntilTheEndTick)
{
    TTickTimer timer(QStringLiteral("Enabling laser system"), 1000);
    EXPECT_TRUE(timer.Wait()) << "end tick already reached: no window";
    EXPECT_TRUE(m_dialogs.transcript().empty());

    timer.Start();
    EXPECT_TRUE(timer.Wait());
    EXPECT_GE(m_clock.tickMs(), timer.EndTick);
    ASSERT_EQ(m_dialogs.transcript().size(), 1u);
    const auto& shown = m_dialogs.transcript().front();
    EXPECT_EQ(shown.title, QStringLiteral("Waiting...."));
    EXPECT_EQ(shown.text, QStringLiteral("Please wait!\nEnabling laser system"));
    EXPECT_EQ(shown.buttons, QStringList{QStringLiteral("Abort")});
}

TEST_F(TickTimerTest, AbortEndsTheWaitEarly)
{
    TTickTimer timer(QStringLiteral("Starting up laser system"), 2000);
    timer.Start();
    m_dialogs.abortNextWaitAfter(3);
    EXPECT_FALSE(timer.Wait());
    EXPECT_LT(m_clock.tickMs(), timer.EndTick);
}

} // namespace
} // namespace lapido
