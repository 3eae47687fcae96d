#include "EventPump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>

namespace tarvo {

void QtEventPump::processEvents(int maxWaitMs)
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (maxWaitMs <= 0)
        return;
    auto* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher)
        return;
    // Sleep in the dispatcher until the next event (a byte arriving, a click) or until the tick
    // ends; a precise timer bounds the sleep so that deadlines are met to the millisecond.
    QObject waker;
    const int id = waker.startTimer(maxWaitMs, Qt::PreciseTimer);
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    waker.killTimer(id);
}

} // namespace tarvo
