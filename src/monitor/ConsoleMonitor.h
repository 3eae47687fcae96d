#pragma once

#include "BusMonitor.h"

#include <QString>
#include <functional>

namespace tarvo {

class Clock;
class EventPump;
class Journal;
class Link;
class Polling;
class SettingsSource;

// The console's bus monitor: listens on the console's link, with its protocol and pass phrase, as a
// cycle of its own (Stop ends it, Send and Start wait for it), and puts every frame heard into the
// journal. A link that cannot be opened, or goes away, is tried again every two seconds until Stop:
// a monitor is left running while cables are moved.
class ConsoleMonitor {
public:
    ConsoleMonitor(const SettingsSource& settings, Link& link, Polling& polling, Journal& journal, const Clock& clock,
                   EventPump& pump);

    // What to listen for with these settings: their protocol and pass phrase, and the silence that
    // ends a frame (0: 3.5 characters of the line).
    static BusMonitor::Options options(const SettingsSource& settings, double gapMs);

    // Listens until Stop, cutting frames at gapMs of silence (0: 3.5 characters of the line); false
    // when another cycle was running.
    bool run(double gapMs = 0);
    bool listening() const { return m_listening; }
    qint64 framesHeard() const { return m_frames; }

    // What the operator should know: the adapter's latency against the gap. Told once a run.
    std::function<void(const QString&)> onNotice;
    // Listening started or ended.
    std::function<void(bool listening)> onListening;

private:
    const SettingsSource& m_settings;
    Link& m_link;
    Polling& m_polling;
    Journal& m_journal;
    const Clock& m_clock;
    EventPump& m_pump;
    bool m_listening = false;
    qint64 m_frames = 0;
};

} // namespace tarvo
