#include "EventPump.h"

#include "Clock.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QSocketNotifier>
#include <algorithm>
#include <array>
#include <cmath>

#ifdef __linux__
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>
#endif

namespace tarvo {

void EventPump::processEventsFor(double seconds)
{
    processEvents(static_cast<int>(std::ceil(std::max(seconds, 0.0) * 1000)));
}

QtEventPump::QtEventPump() : m_waker(std::make_unique<QObject>()) {}

QtEventPump::~QtEventPump()
{
    m_timerNotifier.reset();
#ifdef __linux__
    if (m_timerFd >= 0)
        ::close(m_timerFd);
#endif
}

bool QtEventPump::processPending()
{
    // First whatever is pending. When that handled something (a reply arriving, a click), the caller
    // must look at it now: sleeping on would delay a reply that is already here by the whole tick.
    QCoreApplication::sendPostedEvents();
    return QAbstractEventDispatcher::instance()->processEvents(QEventLoop::AllEvents);
}

void QtEventPump::freeWhatWasLetGo()
{
    // Objects let go of (deleteLater) by the code that waits, between its waits. Qt frees them only
    // once the event processing they were let go of in has returned, and a cycle's waits run inside
    // the click that started it: until Stop they stayed, and each pass of the event loop walked all
    // of them again. The window lets go of an animation at every layout it redoes (the check value
    // flag shown and hidden at every bad reply), so a long poll of failing controllers cost more CPU
    // minute after minute. Only what was let go of at this wait's own level is freed: an object let
    // go of further down the stack, before an event loop that runs this wait, stays until that loop
    // returns.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void QtEventPump::sleepForEvents()
{
    QAbstractEventDispatcher::instance()->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtEventPump::processEvents(int maxWaitMs)
{
    if (!QAbstractEventDispatcher::instance()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    freeWhatWasLetGo();
    if (processPending() || maxWaitMs <= 0)
        return;
    // Nothing yet: sleep in the dispatcher until the next event or until the tick ends; a precise
    // timer bounds the sleep so that deadlines are met to the millisecond, and nothing spins.
    const int id = m_waker->startTimer(maxWaitMs, Qt::PreciseTimer);
    sleepForEvents();
    m_waker->killTimer(id);
}

bool QtEventPump::haveTimerFile()
{
#ifdef __linux__
    if (!m_timerFdTried && QAbstractEventDispatcher::instance()) {
        m_timerFdTried = true;
        m_timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (m_timerFd >= 0) {
            m_timerNotifier = std::make_unique<QSocketNotifier>(m_timerFd, QSocketNotifier::Read);
            QObject::connect(m_timerNotifier.get(), &QSocketNotifier::activated, [this] {
                uint64_t expired = 0;
                if (::read(m_timerFd, &expired, sizeof expired) == static_cast<ssize_t>(sizeof expired))
                    m_timerFired = true;
            });
        }
    }
#endif
    return m_timerFd >= 0;
}

void QtEventPump::processEventsFor(double seconds)
{
    if (!QAbstractEventDispatcher::instance() || !haveTimerFile() || seconds <= 0) {
        EventPump::processEventsFor(seconds);
        return;
    }
#ifdef __linux__
    freeWhatWasLetGo();
    // The sleep is counted from now, and ends by the timer file at the nanosecond asked for rather than
    // at the next whole millisecond. A long sleep ends later than a short one on this kind of machine
    // (the processor rests deeper): it is aimed that much earlier, as this pump has seen it, so that
    // it seldom wakes late; one that wakes early leaves a short stretch for the caller's next pass.
    const long long sleepNs = static_cast<long long>(std::ceil(seconds * 1e9));
    const bool longSleep = sleepNs > kLongSleepNs;
    const long long wakeAt = monotonicNs() + sleepNs - (longSleep ? m_lateness.aimEarlierNs() : 0);
    itimerspec at{};
    at.it_value.tv_sec = static_cast<time_t>(wakeAt / 1'000'000'000);
    at.it_value.tv_nsec = static_cast<long>(wakeAt % 1'000'000'000);
    if (::timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME, &at, nullptr) != 0) {
        EventPump::processEventsFor(seconds);
        return;
    }
    // The event loop's pass runs what is pending first, and does not sleep then.
    m_timerFired = false;
    sleepForEvents();
    if (!m_timerFired) {
        // Something else came first: the timer must not wake the loop later for nothing.
        const itimerspec off{};
        ::timerfd_settime(m_timerFd, 0, &off, nullptr);
    } else if (longSleep) {
        m_lateness.add(monotonicNs() - wakeAt);
    }
#endif
}

long long QtEventPump::monotonicNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void QtEventPump::Lateness::add(long long ns)
{
    m_seen[m_next] = std::clamp(ns, 0LL, kMostEarlierNs); // from the timer's end, wherever it was aimed
    m_next = (m_next + 1) % m_seen.size();
    m_count = std::min(m_count + 1, m_seen.size());
    if (m_next % 8 != 0)
        return;
    // Aimed earlier by what nearly every long sleep took beyond its time: the tenth of the latest
    // wakes that came soonest.
    std::array<long long, kSeen> sorted = m_seen;
    std::sort(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(m_count));
    m_aimEarlierNs = sorted[m_count / 10];
}

WaitEnd pumpUntil(EventPump& pump, const Clock& clock, const std::function<double()>& deadline,
                  const std::stop_token& stop, const std::function<bool()>& done, int maxSleepMs)
{
    for (;;) {
        pump.processEventsFor(std::clamp(deadline() - clock.now(), 0.0, maxSleepMs / 1000.0));
        if (stop.stop_requested())
            return WaitEnd::Stopped;
        if (done && done())
            return WaitEnd::Done;
        if (clock.now() > deadline())
            return WaitEnd::TimedOut;
    }
}

WaitEnd pumpUntil(EventPump& pump, const Clock& clock, double deadline, const std::stop_token& stop,
                  const std::function<bool()>& done, int maxSleepMs)
{
    return pumpUntil(
        pump, clock, [deadline] { return deadline; }, stop, done, maxSleepMs);
}

} // namespace tarvo
