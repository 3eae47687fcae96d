#pragma once

#include "LinkSettings.h"

#include <QString>
#include <exception>
#include <functional>
#include <optional>

namespace tarvo {

class ConsoleModel;
class Engine;
class EventPump;
class Link;
class Trace;

// What the link needs to connect, as the console holds it now.
LinkSettings linkSettingsOf(const ConsoleModel& model);

// Send One Time, Start and Stop: how exchanges are started, once per selected slot or in endless
// passes until stopped. Only one cycle runs at a time; every entry point checks it.
class Polling {
public:
    Polling(ConsoleModel& model, Link& link, Engine& engine, EventPump& pump, Trace& trace);

    void CmdSend_Click();
    // Send One Time with the given function instead of the console's choice (the memory read sends
    // its requests as command lines whatever function the operator has chosen).
    void sendOnceAs(const QString& functionName);
    void CmdStart_Click();
    void CmdStop_Click();
    // Runs another kind of cycle (the bus monitor) under the same rules as Start: one cycle at a time,
    // the buttons as while polling, Stop ends it, a close waits for it. The link is connected before
    // the body runs and disconnected after. False when another cycle was running.
    bool runCycle(const std::function<void()>& body);

    bool cycleRunning() const { return m_running; }
    // Runs whenever a cycle has ended, however it ended.
    std::function<void()> onCycleEnded;

private:
    void setCurrentFunction();
    void connect();
    // What Start and the other cycles do first: the buttons of a running cycle, the link opened.
    void beginCycle();
    void reportError(int slot, const std::exception& e);
    void restoreControls();

    ConsoleModel& m_model;
    Link& m_link;
    Engine& m_engine;
    EventPump& m_pump;
    Trace& m_trace;
    bool m_running = false;
    std::optional<QString> m_functionOverride;
};

} // namespace tarvo
