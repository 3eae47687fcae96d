#pragma once

#include <memory>

class QObject;

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
    QtEventPump();
    ~QtEventPump() override;
    void processEvents(int maxWaitMs = 1) override;

private:
    // Bounds a sleep in the event loop: its timer event only ends the wait. Kept for the pump's life,
    // as a wait makes one pass per arrival or tick.
    std::unique_ptr<QObject> m_waker;
};

} // namespace tarvo
