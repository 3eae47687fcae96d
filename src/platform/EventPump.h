#pragma once

namespace tarvo {

// "Process pending window events" for the waits. The real pump blocks in the event loop until an
// event arrives or a short tick passes, so a wait never spins the processor.
class EventPump {
public:
    virtual ~EventPump() = default;
    // Runs pending events; may block at most maxWaitMs for the next one.
    virtual void processEvents(int maxWaitMs = 1) = 0;
};

class QtEventPump final : public EventPump {
public:
    void processEvents(int maxWaitMs = 1) override;
};

} // namespace tarvo
