#pragma once

#include "Clock.h"
#include "ConsoleLink.h"
#include "EventPump.h"
#include "Number.h"
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

// The link with everything it talks to. The console's link option is `serial`; the settings a cycle
// would take from the console are `settings`, and connectLink() hands them over.
struct LinkRig {
    LinkRig()
    {
        settings.comPort = QStringLiteral("COM1");
        settings.host = QStringLiteral("127.0.0.1");
        settings.tcpPort = QStringLiteral("1001");
        settings.timeoutMs = [this] { return toInt32(timeOutDelay); };
    }
    void connectLink() { link.Connect(settings); }

    bool serial = true;
    LinkSettings settings;
    QString timeOutDelay = QStringLiteral("1500");
    MemoryTrace trace;
    ManualClock clock;
    SteppingPump pump{clock};
    ConsoleLink link{[this] { return serial; }, trace, pump, clock};
};

} // namespace tarvo::test
