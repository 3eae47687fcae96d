#include "Census.h"

#include "Clock.h"
#include "Errors.h"
#include "Link.h"
#include "Requests.h"

#include <cmath>

namespace tarvo {

namespace {
constexpr int kSlot = 0; // the census asks through one slot of its own model
} // namespace

QString timeLeftText(double seconds)
{
    const long s = std::lround(std::max(0.0, seconds));
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

Census::Census(const SettingsSource& settings, Link& link, Clock& clock, EventPump& pump, Prompter& prompter)
    : m_base(settings), m_link(link), m_clock(clock), m_settings(settings), m_engine(link, clock, pump, prompter),
      m_results(clock)
{
    m_engine.addObserver(&m_results);
}

void Census::takeSettings(const CensusPlan& plan)
{
    m_settings.own = {};
    m_settings.own.function = plan.function;
    m_settings.own.commands = plan.command;
    m_settings.own.timeoutMs = plan.timeoutMs;
    m_settings.own.tries = plan.tries;
    m_settings.own.onlyAddress = QString();
}

std::optional<QString> Census::refusal(const CensusPlan& plan, int* longestRequest)
{
    takeSettings(plan);
    int longest = 0;
    try {
        for (int address : plan.addresses) {
            m_settings.own.onlyAddress = QString::number(address);
            const RequestSettings s = m_settings.request(kSlot);
            for (const CallRequest& r : callRequests(s, plan.function, m_settings.query(), plan.command))
                longest = std::max(longest, static_cast<int>(frameToBytes(frameRequest(r.text, s)).size()));
        }
    } catch (const TarvoError& e) {
        return e.description();
    }
    if (longestRequest)
        *longestRequest = longest;
    return std::nullopt;
}

bool Census::regain()
{
    if (m_link.isConnected())
        return true;
    m_link.Connect(m_base.linkSettings());
    return m_link.isConnected();
}

Census::End Census::run(const CensusPlan& plan)
{
    m_running = true;
    struct Running {
        bool& flag;
        ~Running() { flag = false; }
    } running{m_running};
    takeSettings(plan);
    m_stop = std::stop_source();
    m_results.clear();

    const QList<int> speeds = plan.speeds.isEmpty() ? QList<int>{0} : plan.speeds;
    CensusProgress progress;
    progress.total = static_cast<int>(plan.addresses.size() * speeds.size());
    // Until the first request has shown how long one takes, a silent address is the worst case.
    const double perRequestGuess = plan.tries * plan.timeoutMs / 1000.0;

    if (plan.speeds.isEmpty())
        m_link.SetBaudRate(m_base.speed());
    else
        m_link.SetBaudRate(QString::number(speeds.first()));
    // Connected with the console's own time-out: a gateway may take longer to accept than a
    // controller takes to answer.
    m_link.Connect(m_base.linkSettings());
    if (!m_link.isConnected())
        return End::LinkDown;

    const double started = m_clock.now();
    for (int speed : speeds) {
        if (speed > 0) {
            m_link.SetBaudRate(QString::number(speed));
            m_settings.own.speed = QString::number(speed);
        }
        for (int address : plan.addresses) {
            if (m_stop.stop_requested()) {
                m_link.Disconnect();
                return End::Stopped;
            }
            progress.address = address;
            progress.speed = speed;
            const double elapsed = m_clock.now() - started;
            const double perRequest = progress.done > 0 ? elapsed / progress.done : perRequestGuess;
            progress.secondsLeft = perRequest * (progress.total - progress.done);
            if (onProgress)
                onProgress(progress);

            m_settings.own.onlyAddress = QString::number(address);
            QString function = plan.function;
            int16_t slot = kSlot;
            bool ranItsCourse = true;
            try {
                ranItsCourse = m_engine.Envoi(m_settings, function, slot, m_stop.get_token());
            } catch (const std::exception&) {
                // Reported to the observers as an error attempt; the census goes on with the next address.
            }
            ++progress.done;
            std::optional<AddressResult> result = m_results.take(kSlot);
            if (!ranItsCourse)
                return End::Stopped; // the exchange closed the link
            if (result) {
                // The speed asked at: the plan's, else the line's own (TCP has none).
                result->speed = speed > 0 ? QString::number(speed) : m_base.serialLink() ? m_base.speed() : QString();
                if (onResult)
                    onResult(*result);
            }
            if (!regain()) {
                m_link.Disconnect();
                return End::LinkDown;
            }
        }
    }
    m_link.Disconnect();
    return End::Finished;
}

void Census::stop()
{
    m_stop.request_stop();
}

} // namespace tarvo
