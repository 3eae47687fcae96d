#include "EventPump.h"

#include "Clock.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <algorithm>
#include <cmath>

namespace tarvo {

QtEventPump::QtEventPump() : m_waker(std::make_unique<QObject>()) {}

QtEventPump::~QtEventPump() = default;

void QtEventPump::processEvents(int maxWaitMs)
{
    auto* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    // First whatever is pending. When that handled something (a reply arriving, a click), the caller
    // must look at it now: sleeping on would delay a reply that is already here by the whole tick.
    QCoreApplication::sendPostedEvents();
    if (dispatcher->processEvents(QEventLoop::AllEvents) || maxWaitMs <= 0)
        return;
    // Nothing yet: sleep in the dispatcher until the next event or until the tick ends; a precise
    // timer bounds the sleep so that deadlines are met to the millisecond, and nothing spins.
    const int id = m_waker->startTimer(maxWaitMs, Qt::PreciseTimer);
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    m_waker->killTimer(id);
}

WaitEnd pumpUntil(EventPump& pump, const Clock& clock, const std::function<double()>& deadline,
                  const std::stop_token& stop, const std::function<bool()>& done, int maxSleepMs)
{
    for (;;) {
        const double remainingMs = std::clamp((deadline() - clock.now()) * 1000, 0.0, double(maxSleepMs));
        pump.processEvents(static_cast<int>(std::ceil(remainingMs)));
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
