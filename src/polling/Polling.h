#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <exception>
#include <functional>
#include <stop_token>

namespace tarvo {

class Clock;
class Engine;
class EventPump;
class ExchangeDisplay;
class Link;
class SettingsSource;
class Trace;

// How exchanges are started: once per selected slot (send once), in endless passes until stopped
// (start), or another kind of cycle on the same link (the bus monitor). Only one cycle runs at a time;
// every entry point checks it and refuses (false) while one runs. The settings are asked at the moment
// of use; stop() is the one signal from outside to a running cycle.
//
// A cycle says when it starts and when it has ended, however it ended: whoever draws buttons enables
// and disables them from these signals.
class Polling : public QObject {
    Q_OBJECT
public:
    enum class Cycle {
        SendOnce, // one exchange with each selected slot, the link opened and closed around each
        Polling,  // passes over the selected slots on one open link, until stopped
        Monitor,  // another cycle on the open link (listening to the bus), until stopped
    };
    Q_ENUM(Cycle)

    // settings: what the cycles ask when none are given; display: where an error is shown in the
    // slot's reply box (none: nowhere).
    Polling(const SettingsSource& settings, Link& link, Engine& engine, EventPump& pump, const Clock& clock,
            Trace& trace, ExchangeDisplay* display = nullptr);

    // One exchange with each selected slot, with these settings instead of the usual ones when given
    // (the memory read's requests). Returns when done or stopped.
    bool sendOnce(const SettingsSource* settings = nullptr);
    // Passes over the selected slots until stop(); returns when polling has ended.
    bool start();
    // Ends the running cycle at its next wait; returns at once.
    void stop();
    // Runs another kind of cycle under the same rules as start: the link is connected before the body
    // runs and disconnected after, and the body ends when its stop token says so. The link is the
    // given settings' when given (a test plan's own link), else the usual one.
    bool runCycle(const std::function<void(std::stop_token stop)>& body, const SettingsSource* settings = nullptr);

    bool running() const { return m_running; }
    // How many times a cycle has connected and found the link still closed, since the program began:
    // whoever runs several cycles tells from it whether the link was there for them.
    int connectFailures() const { return m_connectFailures; }
    // The slot being served while an exchange runs, and the function name it was handed.
    int16_t currentSlot() const { return m_currentSlot; }
    const QString& currentFunction() const { return m_currentFunction; }

signals:
    void started(tarvo::Polling::Cycle cycle);
    void ended(tarvo::Polling::Cycle cycle);

private:
    class Running;

    // The function name by the settings' choice; with none chosen the previous name stays.
    void takeFunction(const SettingsSource& settings);
    void connect(const SettingsSource& settings);
    void reportError(int slot, const std::exception& e);

    const SettingsSource& m_settings;
    Link& m_link;
    Engine& m_engine;
    EventPump& m_pump;
    const Clock& m_clock;
    Trace& m_trace;
    ExchangeDisplay* m_display;
    bool m_running = false;
    int m_connectFailures = 0;
    std::stop_source m_stop;
    int16_t m_currentSlot = 0;
    QString m_currentFunction;
};

} // namespace tarvo
