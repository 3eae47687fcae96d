#pragma once

#include "Explain.h"
#include "FrameSplitter.h"
#include "JournalRecord.h"
#include "PortAccess.h"

#include <QDateTime>
#include <functional>
#include <stop_token>

namespace tarvo {

class Clock;
class EventPump;
class Link;

// Listens to a bus without sending: what the open link hears is cut into frames, each stamped with its
// first byte's time and checked as a request or a reply of the chosen protocol, and handed on as a
// journal row (verdict ok, bad-check or unknown). Bytes are never dropped: the link keeps what comes
// while a frame is handed on, and every byte read goes into exactly one frame.
class BusMonitor {
public:
    struct Options {
        Protocol protocol = Protocol::Modbus;
        bool encrypt = false;
        QString password;
        double gapSeconds = 0; // the silence that ends a frame; 0: 3.5 characters of the link, at least 1 ms
    };

    BusMonitor(Link& link, const Clock& clock, EventPump& pump,
               std::function<QDateTime()> wallClock = &QDateTime::currentDateTime);

    // Listens until a stop is requested, passing each frame to onFrame as it ends. The link must be
    // open. tend runs after every pass of the wait (at least every 50 ms), before the link is asked
    // what it holds: the place to look after the link, or to request the stop.
    void run(const Options& options, const std::stop_token& stop,
             const std::function<void(const JournalRecord&)>& onFrame, const std::function<void()>& tend = {});

    // The row for a frame heard at the given times (clock seconds).
    JournalRecord record(const HeardFrame& frame, const Options& options) const;

    // How the gap is taken when the options leave it to the link.
    double gapFor(const Options& options) const;

private:
    Link& m_link;
    const Clock& m_clock;
    EventPump& m_pump;
    std::function<QDateTime()> m_wallClock;
};

// Says when the adapter behind `device` holds bytes back longer than the gap that ends a frame (a USB
// latency timer above it): frames may then be cut apart or joined by time, and the Low latency option
// of the line settings lowers the timer (remedy: what to do about it where the option is named otherwise).
// Empty when the adapter is fast enough or has no timer.
QString latencyWarning(const QString& device, double gapSeconds, const SystemPaths& paths = {},
                       const QString& remedy = {});

} // namespace tarvo
