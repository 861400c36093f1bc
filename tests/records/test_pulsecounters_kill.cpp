// A station killed in the middle of a marking loses at most the last second of shot counts.
#include "records/pulsecounters.h"

#include "platform/clock.h"
#include "settings/settingsrecord.h"
#include "testsupport.h"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace lapido {
namespace {

std::int64_t steadyUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What the marking process had counted, and when (steady clock, shared by both processes).
struct Counted {
    std::int64_t atUs;
    std::int64_t total;
};

// The marking: the position timer hands over a count that grows by 25 every 10 ms, on real time.
[[noreturn]] void runMarking(const QString& storePath, int reportFd)
{
    setAppRegistry(SettingsStore::open(storePath));
    RealClock clock;
    setSystemClock(&clock);
    TSettings record;
    PulseCountTracker tracker(record);
    for (std::int64_t count = 25;; count += 25) {
        tracker.UpdatePulseCount(count);
        const Counted c{steadyUs(), record.TotalPulseCount};
        if (write(reportFd, &c, sizeof c) != sizeof c)
            _exit(3);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

class PulseCounterKillTest : public test::StationFixture {};

TEST_F(PulseCounterKillTest, KilledMarkingLosesAtMostTheLastSecond)
{
    const QString path = store().path();
    // The child opens its own connection; none crosses the fork.
    setAppRegistry(nullptr);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        runMarking(path, fds[1]);
    }
    close(fds[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(1700));
    const std::int64_t killedAtUs = steadyUs();
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    std::vector<Counted> reports;
    Counted c{};
    while (read(fds[0], &c, sizeof c) == sizeof c)
        reports.push_back(c);
    close(fds[0]);
    ASSERT_GT(reports.size(), 50u);

    setAppRegistry(SettingsStore::open(path));
    const std::int64_t stored = store().ReadInt64(QStringLiteral("Hardware"), QStringLiteral("TotalPulseCount"), -1);
    const std::int64_t sinceReset = store().ReadInt64(QStringLiteral("Hardware"), QStringLiteral("PulseCount"), -1);
    // Everything counted more than a second (and one timer tick) before the kill is stored.
    std::int64_t mustHave = 0;
    for (const Counted& r : reports)
        if (r.atUs <= killedAtUs - PulseCountTracker::kSaveIntervalUs - 20'000)
            mustHave = r.total;
    EXPECT_GT(mustHave, 0);
    EXPECT_GE(stored, mustHave);
    EXPECT_LE(stored, reports.back().total);
    EXPECT_EQ(sinceReset, stored);
}

} // namespace
} // namespace lapido
