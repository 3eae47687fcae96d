#include "EventPump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>

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

} // namespace tarvo
