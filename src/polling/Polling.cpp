#include "Polling.h"

#include "Clock.h"
#include "Engine.h"
#include "Errors.h"
#include "EventPump.h"
#include "ExchangeSettings.h"
#include "Link.h"
#include "Trace.h"

namespace tarvo {

// Marks a cycle as running for as long as it is in scope, whichever way the cycle ends, and gives it
// a stop of its own: a Stop pressed before it began does not end it.
class Polling::Running {
public:
    Running(Polling& polling, Cycle cycle) : m_polling(polling), m_cycle(cycle)
    {
        m_polling.m_running = true;
        m_polling.m_stop = std::stop_source();
        emit m_polling.started(m_cycle);
    }
    ~Running()
    {
        m_polling.m_running = false;
        emit m_polling.ended(m_cycle);
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

private:
    Polling& m_polling;
    Cycle m_cycle;
};

Polling::Polling(const SettingsSource& settings, Link& link, Engine& engine, EventPump& pump, const Clock& clock,
                 Trace& trace, ExchangeDisplay* display)
    : m_settings(settings), m_link(link), m_engine(engine), m_pump(pump), m_clock(clock), m_trace(trace),
      m_display(display)
{
}

void Polling::takeFunction(const SettingsSource& settings)
{
    if (const auto name = settings.function())
        m_currentFunction = *name;
}

void Polling::connect(const SettingsSource& settings)
{
    m_link.Connect(settings.linkSettings());
    if (!m_link.isConnected())
        ++m_connectFailures;
}

void Polling::reportError(int slot, const std::exception& e)
{
    const auto* tarvoError = dynamic_cast<const TarvoError*>(&e);
    const QString description = tarvoError ? tarvoError->description() : QString::fromLocal8Bit(e.what());
    // The operator sees what went wrong where the reply would have been.
    if (m_display)
        m_display->showReply(slot, 0, QStringLiteral("ERROR: ") + description);
    m_trace.write(QStringLiteral("Envoi:: Error : ") + description);
    m_link.Disconnect();
}

bool Polling::sendOnce(const SettingsSource* given)
{
    if (m_running)
        return false;
    const SettingsSource& settings = given ? *given : m_settings;
    Running running(*this, Cycle::SendOnce);
    m_link.SetBaudRate(settings.speed());
    // The exchange is handed the current slot, which this loop runs through.
    for (int16_t& slot = m_currentSlot = 0; slot < kSlotCount; ++slot) {
        if (!settings.slotSelected(slot))
            continue;
        m_trace.write(QStringLiteral("Connceting to network: ") + QString::number(slot));
        connect(settings);
        takeFunction(settings);
        try {
            if (!m_engine.Envoi(settings, m_currentFunction, slot, m_stop.get_token()))
                return true; // stopped: the exchange has closed the link
        } catch (const std::exception& e) {
            reportError(slot, e);
            continue; // the next slot is served all the same
        }
        m_link.Disconnect();
    }
    return true;
}

bool Polling::start()
{
    if (m_running)
        return false;
    Running running(*this, Cycle::Polling);
    m_link.SetBaudRate(m_settings.speed());
    connect(m_settings);
    const std::stop_token stop = m_stop.get_token();
    for (;;) {
        bool exchanged = false;
        for (int16_t& slot = m_currentSlot = 0; slot < kSlotCount; ++slot) {
            if (!m_settings.slotSelected(slot))
                continue;
            takeFunction(m_settings);
            exchanged = true;
            try {
                if (!m_engine.Envoi(m_settings, m_currentFunction, slot, stop))
                    return true;
            } catch (const std::exception& e) {
                // Polling ends with the console usable again; the error stays in view.
                reportError(slot, e);
                return true;
            }
        }
        // Between passes the operator's clicks run. A pass without any exchange sleeps briefly in the
        // event loop instead of spinning.
        pumpUntil(m_pump, m_clock, m_clock.now() + (exchanged ? 0 : 0.010), stop);
        if (stop.stop_requested()) {
            m_link.Disconnect();
            return true;
        }
    }
}

bool Polling::runCycle(const std::function<void(std::stop_token)>& body, const SettingsSource* given)
{
    if (m_running)
        return false;
    const SettingsSource& settings = given ? *given : m_settings;
    Running running(*this, Cycle::Monitor);
    m_link.SetBaudRate(settings.speed());
    connect(settings);
    body(m_stop.get_token());
    m_link.Disconnect();
    return true;
}

void Polling::stop()
{
    m_stop.request_stop();
}

} // namespace tarvo
