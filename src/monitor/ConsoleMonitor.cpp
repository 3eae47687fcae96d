#include "ConsoleMonitor.h"

#include "Clock.h"
#include "ExchangeSettings.h"
#include "Journal.h"
#include "Link.h"
#include "Polling.h"

namespace tarvo {

namespace {
constexpr double kRetrySeconds = 2;
}

ConsoleMonitor::ConsoleMonitor(const SettingsSource& settings, Link& link, Polling& polling, Journal& journal,
                               const Clock& clock, EventPump& pump)
    : m_settings(settings), m_link(link), m_polling(polling), m_journal(journal), m_clock(clock), m_pump(pump)
{
}

BusMonitor::Options ConsoleMonitor::options(const SettingsSource& settings, double gapMs)
{
    const RequestSettings request = settings.request(0);
    BusMonitor::Options o;
    o.protocol = request.protocol;
    o.encrypt = request.encrypt;
    o.password = request.password;
    o.gapSeconds = gapMs / 1000;
    return o;
}

bool ConsoleMonitor::run(double gapMs)
{
    return m_polling.runCycle([this, gapMs](std::stop_token stop) {
        const BusMonitor::Options options = ConsoleMonitor::options(m_settings, gapMs);
        BusMonitor monitor(m_link, m_clock, m_pump);
        m_frames = 0;
        m_listening = true;
        if (onListening)
            onListening(true);
        // After the start is told, so that the warning is what stays in sight.
        if (m_settings.serialLink() && onNotice) {
            const QString warning = latencyWarning(m_settings.linkSettings().comPort, monitor.gapFor(options));
            if (!warning.isEmpty())
                onNotice(warning);
        }
        double nextTry = m_clock.now() + kRetrySeconds;
        monitor.run(
            options, stop,
            [&](const JournalRecord& frame) {
                m_journal.add(frame);
                ++m_frames;
            },
            [&] {
                if (!m_link.isConnected() && m_clock.now() >= nextTry) {
                    m_link.Connect(m_settings.linkSettings());
                    nextTry = m_clock.now() + kRetrySeconds;
                }
            });
        m_listening = false;
        if (onListening)
            onListening(false);
    });
}

} // namespace tarvo
