#pragma once

#include "Clock.h"
#include "ConsoleLink.h"
#include "ConsoleModel.h"
#include "EventPump.h"
#include "Trace.h"

#include <functional>

namespace tarvo::test {

// A clock that only moves when told to.
class ManualClock final : public Clock {
public:
    double now() const override { return seconds; }
    double seconds = 1024.0;
};

// Runs the real event loop (sockets need it) and then moves the manual clock one step, so that a wait's
// time-out is reached after an exact number of passes whatever the machine's speed.
class SteppingPump final : public EventPump {
public:
    explicit SteppingPump(ManualClock& clock) : m_clock(clock) {}
    void processEvents(int maxWaitMs) override
    {
        m_real.processEvents(maxWaitMs);
        m_clock.seconds += stepSeconds;
        ++passes;
        if (onPass)
            onPass(passes);
    }
    // 1/64 s: sums of steps are exact in binary, so a deadline that falls on a step is met exactly
    // and "more than" can be told from "at least".
    double stepSeconds = 1.0 / 64;
    int passes = 0;
    std::function<void(int)> onPass;

private:
    ManualClock& m_clock;
    QtEventPump m_real;
};

// The link with everything it talks to.
struct LinkRig {
    ConsoleModel model;
    MemoryTrace trace;
    ManualClock clock;
    SteppingPump pump{clock};
    ConsoleLink link{model, trace, pump, clock};
};

} // namespace tarvo::test
