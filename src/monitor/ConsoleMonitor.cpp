#include "ConsoleMonitor.h"

#include "Clock.h"
#include "ConsoleModel.h"
#include "Journal.h"
#include "Link.h"
#include "Polling.h"

namespace tarvo {

namespace {
constexpr double kRetrySeconds = 2;
}

ConsoleMonitor::ConsoleMonitor(ConsoleModel& model, Link& link, Polling& polling, Journal& journal, const Clock& clock,
                               EventPump& pump)
    : m_model(model), m_link(link), m_polling(polling), m_journal(journal), m_clock(clock), m_pump(pump)
{
}

BusMonitor::Options ConsoleMonitor::options(const ConsoleModel& model, double gapMs)
{
    const RequestSettings request = model.requestSettings(0);
    BusMonitor::Options o;
    o.protocol = model.protocol();
    o.encrypt = request.encrypt;
    o.password = request.password;
    o.gapSeconds = gapMs / 1000;
    return o;
}

bool ConsoleMonitor::run()
{
    return m_polling.runCycle([this] {
        const BusMonitor::Options options = ConsoleMonitor::options(m_model, m_model.ini.monitor.gapMs);
        BusMonitor monitor(m_link, m_clock, m_pump);
        m_frames = 0;
        m_listening = true;
        if (onListening)
            onListening(true);
        // After the start is told, so that the warning is what stays in sight.
        if (m_model.serialLink() && onNotice) {
            const QString warning = latencyWarning(m_model.text(Field::ComPort), monitor.gapFor(options));
            if (!warning.isEmpty())
                onNotice(warning);
        }
        double nextTry = m_clock.now() + kRetrySeconds;
        monitor.run(
            options,
            [&] {
                if (m_model.StopRequested)
                    return true;
                if (!m_link.isConnected() && m_clock.now() >= nextTry) {
                    m_link.Connect(linkSettingsOf(m_model));
                    nextTry = m_clock.now() + kRetrySeconds;
                }
                return false;
            },
            [&](const JournalRecord& frame) {
                m_journal.add(frame);
                ++m_frames;
            });
        m_listening = false;
        if (onListening)
            onListening(false);
    });
}

} // namespace tarvo
