// The process-wide event pump hook.
#include "platform/eventpump.h"

#include <atomic>

namespace lapido {

namespace {
std::atomic<EventPump*> g_pump{nullptr};
}

EventPump& eventPump()
{
    static NullEventPump none;
    EventPump* p = g_pump.load();
    return p ? *p : none;
}

EventPump* setEventPump(EventPump* pump)
{
    return g_pump.exchange(pump);
}

} // namespace lapido
