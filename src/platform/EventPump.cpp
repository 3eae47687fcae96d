#include "EventPump.h"

#include "Clock.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QSocketNotifier>
#include <algorithm>
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
    if (processPending() || maxWaitMs <= 0)
        return;
    // Nothing yet: sleep in the dispatcher until the next event or until the tick ends; a precise
    // timer bounds the sleep so that deadlines are met to the millisecond, and nothing spins.
    const int id = m_waker->startTimer(maxWaitMs, Qt::PreciseTimer);
    sleepForEvents();
    m_waker->killTimer(id);
}

void QtEventPump::processEventsFor(double seconds)
{
#ifdef __linux__
    if (!m_timerFdTried && QAbstractEventDispatcher::instance()) {
        m_timerFdTried = true;
        m_timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (m_timerFd >= 0) {
            m_timerNotifier = std::make_unique<QSocketNotifier>(m_timerFd, QSocketNotifier::Read);
            m_timerNotifier->setEnabled(false);
        }
    }
    if (m_timerFd >= 0 && QAbstractEventDispatcher::instance()) {
        // Counted from now: the pending events run first take nothing from the sleep.
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        if (processPending() || seconds <= 0)
            return;
        const long long wakeAt = static_cast<long long>(now.tv_sec) * 1'000'000'000 + now.tv_nsec +
                                 static_cast<long long>(std::ceil(seconds * 1e9));
        // A long sleep ends later than a short one (the processor has gone into a deeper rest): the last
        // millisecond before the deadline is slept on its own, so that the wake comes when asked.
        constexpr long long kFinalApproachNs = 1'000'000;
        if (seconds * 1e9 > 2 * kFinalApproachNs && !sleepUntil(wakeAt - kFinalApproachNs))
            return; // an event came first
        sleepUntil(wakeAt);
        return;
    }
#endif
    EventPump::processEventsFor(seconds);
}

#ifdef __linux__
bool QtEventPump::sleepUntil(long long monotonicNs)
{
    itimerspec at{};
    at.it_value.tv_sec = static_cast<time_t>(monotonicNs / 1'000'000'000);
    at.it_value.tv_nsec = static_cast<long>(monotonicNs % 1'000'000'000);
    if (::timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME, &at, nullptr) != 0) {
        // No timer file after all: whole milliseconds from now.
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const long long left = monotonicNs - (static_cast<long long>(now.tv_sec) * 1'000'000'000 + now.tv_nsec);
        processEvents(static_cast<int>(std::max(0LL, (left + 999'999) / 1'000'000)));
        return false;
    }
    m_timerNotifier->setEnabled(true);
    sleepForEvents();
    m_timerNotifier->setEnabled(false);
    const itimerspec off{};
    ::timerfd_settime(m_timerFd, 0, &off, nullptr);
    uint64_t expired = 0;
    return ::read(m_timerFd, &expired, sizeof expired) == static_cast<ssize_t>(sizeof expired);
}
#endif

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
