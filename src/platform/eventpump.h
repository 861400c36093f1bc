// Hook through which long waits let the user interface breathe.
#pragma once

namespace lapido {

// Long machine operations call pump() between controller commands so that timers and the
// Abort button keep working. The window installs one that processes Qt events; headless
// runs and tests keep the default, which does nothing.
class EventPump {
public:
    virtual ~EventPump() = default;
    virtual void pump() = 0;
};

class NullEventPump final : public EventPump {
public:
    void pump() override {}
};

EventPump& eventPump();
EventPump* setEventPump(EventPump* pump);

} // namespace lapido
