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

// The wait window's bar runs from 0 to 100 for a short delay and a long one alike.
class ProgressDialogs final : public OperatorDialogs {
public:
    std::vector<std::pair<int, int>> steps; // position, maximum

    DialogResult message(DialogKind kind, const QString& title, const QString& text,
                         std::span<const DialogButton> buttons) override
    {
        return m_inner.message(kind, title, text, buttons);
    }
    void notice(const QString& title, const QString& text) override { m_inner.notice(title, text); }
    std::optional<QString> input(const QString& t, const QString& p, const QString& i) override { return m_inner.input(t, p, i); }
    std::optional<QString> chooseOpenFile(const QString& t, const QString& f, const QString& x) override
    {
        return m_inner.chooseOpenFile(t, f, x);
    }
    std::optional<QString> chooseSaveFile(const QString& t, const QString& f, const QString& x) override
    {
        return m_inner.chooseSaveFile(t, f, x);
    }
    std::optional<QString> chooseFolder(const QString& t, const QString& f) override { return m_inner.chooseFolder(t, f); }
    std::unique_ptr<WaitDialog> beginWait(const QString&, const QString&, const QString&) override
    {
        class Recording final : public WaitDialog {
        public:
            explicit Recording(std::vector<std::pair<int, int>>& steps) : m_steps(steps) {}
            void setProgress(int position, int maximum) override { m_steps.emplace_back(position, maximum); }
            bool abortRequested() override { return false; }

        private:
            std::vector<std::pair<int, int>>& m_steps;
        };
        return std::make_unique<Recording>(steps);
    }

private:
    ScriptedDialogs m_inner;
};

TEST_F(TickTimerTest, TheProgressBarRunsFromZeroToAHundred)
{
    for (std::uint32_t delay : {700u, 2000u, 45000u}) {
        SCOPED_TRACE(delay);
        ProgressDialogs dialogs;
        OperatorDialogs* previous = setOperatorDialogs(&dialogs);
        TTickTimer timer(QStringLiteral("Enabling laser system"), delay);
        timer.Start();
        EXPECT_TRUE(timer.Wait());
        setOperatorDialogs(previous);
        ASSERT_FALSE(dialogs.steps.empty());
        int last = 0;
        for (const auto& [position, maximum] : dialogs.steps) {
            EXPECT_EQ(maximum, 100);
            EXPECT_GE(position, last) << "the bar never runs back";
            EXPECT_LE(position, 100);
            last = position;
        }
        EXPECT_EQ(dialogs.steps.back().first, 100) << "full at the end tick";
    }
}

} // namespace
} // namespace lapido
