// Virtual time across threads, and the scripted operator's answers.
#include "platform/clock.h"
#include "platform/operatordialogs.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>

using namespace lapido;

TEST(VirtualClock, SleepAdvancesAndReleasesAPassiveWaiter)
{
    VirtualClock clock;
    bool reached = false;
    std::thread waiter([&] { reached = clock.waitUntilUs(5000, 5000); });
    for (int i = 0; i < 5; ++i)
        clock.sleepMs(1);
    waiter.join();
    EXPECT_TRUE(reached);
    EXPECT_EQ(clock.tickMs(), 5);
    // Nobody drives time: the passive wait gives up after its real-time limit.
    EXPECT_FALSE(clock.waitUntilUs(1'000'000, 20));
}

// Waits of any length (an operator may type any number of seconds) move time forward only,
// and no further than the count can hold.
TEST(VirtualClock, SleepsOfAnyLengthNeverRunTimeBackwards)
{
    constexpr std::int64_t kEnd = std::numeric_limits<std::int64_t>::max();
    struct Case {
        std::int64_t startUs;
        std::int64_t sleepMs;
        std::int64_t nowUs;
    };
    for (const Case& c : {Case{1000, 250, 251'000}, Case{1000, -5, 1000}, Case{1000, kEnd, kEnd},
                          Case{1000, kEnd / 1000, kEnd},
                          Case{kEnd - 10, 1, kEnd}}) {
        VirtualClock clock(c.startUs);
        clock.sleepMs(c.sleepMs);
        EXPECT_EQ(clock.nowUs(), c.nowUs) << c.startUs << " + " << c.sleepMs << " ms";
    }
}

TEST(ScriptedDialogs, RelabelledButtonsAnswerByCaptionAndKeepTheirResult)
{
    ScriptedDialogs d;
    const DialogButton buttons[] = {{DialogResult::Yes, "Continue", false},
                                    {DialogResult::No, "Restart", false},
                                    {DialogResult::Cancel, {}, false}};
    d.queueCaption("Restart");
    EXPECT_EQ(d.message(DialogKind::Custom, "Engrave", "Engrave", buttons), DialogResult::No);
    d.queueAnswer(DialogResult::Yes);
    EXPECT_EQ(d.message(DialogKind::Custom, "Engrave", "Engrave", buttons), DialogResult::Yes);
    ASSERT_EQ(d.transcript().size(), 2u);
    EXPECT_EQ(d.transcript()[0].answer, QStringLiteral("Restart"));
    EXPECT_EQ(d.transcript()[1].answer, QStringLiteral("Continue"));
    EXPECT_EQ(d.transcript()[0].buttons, (QStringList{"Continue", "Restart", "Cancel"}));
}

TEST(ScriptedDialogs, UnansweredQuestionTakesTheDefaultButton)
{
    ScriptedDialogs d;
    const DialogButton buttons[] = {{DialogResult::Yes, "No", false}, {DialogResult::No, "Yes", true}};
    EXPECT_EQ(d.message(DialogKind::Custom, "", "Warning !", buttons), DialogResult::No);
    EXPECT_EQ(d.input("t", "p", "x"), std::nullopt);
    d.queueText(QStringLiteral("ABC_3"));
    EXPECT_EQ(d.input("t", "p", "x"), QStringLiteral("ABC_3"));
}

TEST(ScriptedDialogs, WaitAbortsAfterTheQueuedNumberOfUpdates)
{
    ScriptedDialogs d;
    d.abortNextWaitAfter(3);
    auto w = d.beginWait("Waiting....", "Please wait!", "EnableOn");
    int updates = 0;
    while (!w->abortRequested())
        w->setProgress(++updates, 100);
    EXPECT_EQ(updates, 3);
    auto next = d.beginWait("Waiting....", "Please wait!", "x");
    next->setProgress(100, 100);
    EXPECT_FALSE(next->abortRequested());
}
