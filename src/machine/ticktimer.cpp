// TTickTimer on the station clock; its wait goes through the operator dialogs.
#include "machine/ticktimer.h"

#include "platform/clock.h"
#include "platform/eventpump.h"
#include "platform/operatordialogs.h"

#include <algorithm>

namespace lapido {

namespace {
constexpr std::int64_t kProgressStepMs = 100;
constexpr int kProgressMaximum = 100;
}

TTickTimer::TTickTimer(const QString& AName, std::uint32_t ADelay) : Name(AName), Delay(ADelay)
{
    StartTick = EndTick = systemClock().tickMs();
}

void TTickTimer::Start()
{
    StartTick = systemClock().tickMs();
    EndTick = StartTick + Delay;
    Running = true;
}

void TTickTimer::Start(std::uint32_t ADelay)
{
    Delay = ADelay;
    Start();
}

void TTickTimer::Stop()
{
    Running = false;
}

std::uint32_t TTickTimer::Remaining() const
{
    const std::int64_t now = systemClock().tickMs();
    return now >= EndTick ? 0 : static_cast<std::uint32_t>(EndTick - now);
}

bool TTickTimer::Finished()
{
    if (Running && Remaining() == 0) {
        Running = false;
        return true;
    }
    return false;
}

bool TTickTimer::Wait()
{
    Clock& clock = systemClock();
    if (clock.tickMs() >= EndTick)
        return true;
    auto dialog = operatorDialogs().beginWait(QStringLiteral("Waiting...."), QStringLiteral("Please wait!"), Name);
    // The bar runs from 0 to 100: the share of the delay that has passed, whatever its length.
    const std::int64_t span = std::max<std::int64_t>(1, EndTick - StartTick);
    while (clock.tickMs() < EndTick) {
        if (dialog->abortRequested())
            return false;
        eventPump().pump();
        clock.sleepMs(std::min<std::int64_t>(kProgressStepMs, EndTick - clock.tickMs()));
        const std::int64_t passed = std::clamp<std::int64_t>(clock.tickMs() - StartTick, 0, span);
        dialog->setProgress(static_cast<int>(passed * kProgressMaximum / span), kProgressMaximum);
    }
    // The window closes itself with OK when the end tick is reached.
    return true;
}

} // namespace lapido
