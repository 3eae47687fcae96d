#pragma once

#include <array>
#include <functional>
#include <memory>
#include <stop_token>

class QObject;
class QSocketNotifier;

namespace tarvo {

class Clock;

// "Process pending window events" for the waits. The real pump blocks in the event loop until an
// event arrives or a short tick passes, so a wait never spins the processor.
class EventPump {
public:
    virtual ~EventPump() = default;
    // Runs pending events; may block at most maxWaitMs for the next one.
    virtual void processEvents(int maxWaitMs = 1) = 0;
    // The same, blocking at most `seconds`, to the fraction of a millisecond where the pump can: a
    // wait that asks to wake at a deadline is not woken up to a millisecond later by a timer that
    // counts in whole ones. By default the whole milliseconds, rounded up.
    virtual void processEventsFor(double seconds);
};

class QtEventPump final : public EventPump {
public:
    QtEventPump();
    ~QtEventPump() override;
    void processEvents(int maxWaitMs = 1) override;
    void processEventsFor(double seconds) override;

private:
    // Runs what is pending; true when that handled something, and the caller should look at it now.
    bool processPending();
    // Frees the objects that the code around the waits let go of since the last pass.
    static void freeWhatWasLetGo();
    // Sleeps in the event loop until the next event; the sleep is bounded by a timer.
    void sleepForEvents();
    // The timer file of a sleep, made on first use (once the event loop exists); false where there is
    // none (another system, or it could not be made).
    bool haveTimerFile();
    static long long monotonicNs();

    // How late the timer file's long sleeps have ended, and so how much earlier to aim the next one.
    static constexpr long long kLongSleepNs = 3'000'000;
    class Lateness {
    public:
        long long aimEarlierNs() const { return m_aimEarlierNs; }
        // One long sleep ended this many nanoseconds after it was aimed.
        void add(long long ns);

    private:
        static constexpr size_t kSeen = 64;
        static constexpr long long kMostEarlierNs = 2'000'000; // never aimed earlier than this
        std::array<long long, kSeen> m_seen{};
        size_t m_next = 0;
        size_t m_count = 0;
        long long m_aimEarlierNs = 0;
    } m_lateness;

    // Bounds a sleep in the event loop: its timer event only ends the wait. Kept for the pump's life,
    // as a wait makes one pass per arrival or tick.
    std::unique_ptr<QObject> m_waker;
    // On Linux, a timer file that wakes the event loop at the nanosecond asked for. Its notifier stays
    // enabled: a timer file that is not armed is never readable, and enabling one for each sleep
    // would wake the event loop once more every time.
    int m_timerFd = -1;
    bool m_timerFdTried = false;
    bool m_timerFired = false;
    std::unique_ptr<QSocketNotifier> m_timerNotifier;
};

// How a wait ended.
enum class WaitEnd {
    Done,     // what it waited for came
    TimedOut, // the clock passed the deadline
    Stopped,  // a stop was requested
};

// The longest a wait sleeps in one pass when nothing happens. Arrivals and clicks wake it at once; this
// only bounds how stale a wait's view of a deadline edited by the operator can get.
inline constexpr int kMaxSleepMs = 50;

// The program's one wait: pass after pass, pending events run (the window stays alive, a Stop click or
// an edit runs inside the wait), and then, in this order, the stop is tested, `done` is asked and the
// clock is compared with the deadline. Between passes it sleeps in the event loop until the next event
// or the deadline, whichever comes first (never longer than maxSleepMs), so it neither spins nor
// oversleeps the deadline. The deadline is asked afresh on every pass, so that a delay edited during
// the wait applies at once.
WaitEnd pumpUntil(EventPump& pump, const Clock& clock, const std::function<double()>& deadline,
                  const std::stop_token& stop = {}, const std::function<bool()>& done = {},
                  int maxSleepMs = kMaxSleepMs);
// The same with a deadline that does not move.
WaitEnd pumpUntil(EventPump& pump, const Clock& clock, double deadline, const std::stop_token& stop = {},
                  const std::function<bool()>& done = {}, int maxSleepMs = kMaxSleepMs);

} // namespace tarvo
