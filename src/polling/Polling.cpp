#include "Polling.h"

#include "ConsoleModel.h"
#include "Engine.h"
#include "Errors.h"
#include "EventPump.h"
#include "Link.h"
#include "Requests.h"
#include "Trace.h"

#include <array>

namespace tarvo {

namespace {

// Marks a cycle as running for as long as it is in scope, whichever way the cycle ends. A memory
// read is refused meanwhile; one that drives this cycle itself keeps its button until it is done.
class RunningScope {
public:
    RunningScope(ConsoleModel& model, bool& flag, const std::function<void()>& onEnd)
        : m_model(model), m_flag(flag), m_onEnd(onEnd)
    {
        m_flag = true;
        m_model.setEnabled(Field::CmdReadMemory, false);
    }
    ~RunningScope()
    {
        m_flag = false;
        const auto& mem = m_model.memory;
        if (!mem.MemEpromOn && !mem.MemRomOn && !mem.MemDumpOn)
            m_model.setEnabled(Field::CmdReadMemory, true);
        if (m_onEnd)
            m_onEnd();
    }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;

private:
    ConsoleModel& m_model;
    bool& m_flag;
    const std::function<void()>& m_onEnd;
};

} // namespace

LinkSettings linkSettingsOf(const ConsoleModel& model)
{
    LinkSettings s;
    s.comPort = model.text(Field::ComPort);
    s.host = model.text(Field::IP);
    s.tcpPort = model.text(Field::Port);
    s.timeOutDelay = [&model] { return model.text(Field::TimeOutDelay); };
    const ConsoleModel::Ini::Serial& serial = model.ini.serial;
    s.line = LineFormat::parse(serial.line).value_or(LineFormat{});
    s.line.rtsCts = serial.rtsCts;
    s.rs485 = {serial.rs485, serial.rtsOnSend, serial.delayBeforeMs, serial.delayAfterMs};
    s.dropEcho = serial.dropEcho;
    s.lowLatency = serial.lowLatency;
    return s;
}

Polling::Polling(ConsoleModel& model, Link& link, Engine& engine, EventPump& pump, Trace& trace)
    : m_model(model), m_link(link), m_engine(engine), m_pump(pump), m_trace(trace)
{
}

void Polling::sendOnceAs(const QString& functionName)
{
    m_functionOverride = functionName;
    CmdSend_Click();
    m_functionOverride.reset();
}

void Polling::setCurrentFunction()
{
    if (m_functionOverride) {
        m_model.currentFunction = *m_functionOverride;
        return;
    }
    // With no item selected the previous name stays.
    if (const auto name = fn::forListIndex(m_model.listIndex(Field::Function)))
        m_model.currentFunction = *name;
}

void Polling::beginCycle()
{
    m_model.StopRequested = false;
    m_model.setEnabled(Field::CmdStart, false);
    m_model.setEnabled(Field::CmdSend, false);
    m_model.setEnabled(Field::Function, false);
    m_model.setEnabled(Field::Query, false);
    m_link.SetBaudRate(m_model.text(Field::COMSpeed));
    connect();
}

void Polling::connect()
{
    m_link.Connect(linkSettingsOf(m_model));
}

void Polling::reportError(int slot, const std::exception& e)
{
    const auto* tarvoError = dynamic_cast<const TarvoError*>(&e);
    const QString description = tarvoError ? tarvoError->description() : QString::fromLocal8Bit(e.what());
    // The operator sees what went wrong where the reply would have been.
    m_model.setText(Field::Reponse, slot, QStringLiteral("ERROR: ") + description);
    m_trace.write(QStringLiteral("Envoi:: Error : ") + description);
    m_link.Disconnect();
}

void Polling::CmdSend_Click()
{
    if (m_running)
        return;
    RunningScope running(m_model, m_running, onCycleEnded);
    m_link.SetBaudRate(m_model.text(Field::COMSpeed));
    m_model.setEnabled(Field::CmdSend, false);
    m_model.setEnabled(Field::CmdStart, false);
    m_model.setListIndex(Field::Pages, ConsoleModel::kPageGeneral);
    m_model.StopRequested = false;
    // The exchange is handed the console's current slot, which this loop runs through.
    for (int16_t& slot = m_model.currentSlot = 0; slot < ConsoleModel::kSlots; ++slot) {
        if (!m_model.slotSelected(slot))
            continue;
        m_trace.write(QStringLiteral("Connceting to network: ") + QString::number(slot));
        connect();
        setCurrentFunction();
        try {
            if (!m_engine.Envoi(m_model.currentFunction, slot))
                return; // stopped: the link is closed and Stop has restored the buttons
        } catch (const std::exception& e) {
            reportError(slot, e);
            continue; // the next slot is served all the same
        }
        m_link.Disconnect();
    }
    m_model.setEnabled(Field::CmdStart, true);
    m_model.setEnabled(Field::CmdSend, true);
}

void Polling::CmdStart_Click()
{
    if (m_running)
        return;
    RunningScope running(m_model, m_running, onCycleEnded);
    m_model.setListIndex(Field::Pages, ConsoleModel::kPageGeneral);
    for (int i = 0; i < ConsoleModel::kSlots; ++i)
        m_model.setEnabled(Field::Address, i, false);
    beginCycle();
    for (;;) {
        bool exchanged = false;
        for (int16_t& slot = m_model.currentSlot = 0; slot < ConsoleModel::kSlots; ++slot) {
            if (!m_model.slotSelected(slot))
                continue;
            setCurrentFunction();
            exchanged = true;
            try {
                if (!m_engine.Envoi(m_model.currentFunction, slot))
                    return;
            } catch (const std::exception& e) {
                reportError(slot, e);
                // Polling ends with the console usable again; the error stays in view.
                restoreControls();
                return;
            }
        }
        // Between passes the operator's clicks run. A pass without any exchange sleeps briefly in the
        // event loop instead of spinning.
        m_pump.processEvents(exchanged ? 0 : 10);
        if (m_model.StopRequested) {
            m_link.Disconnect();
            return;
        }
    }
}

bool Polling::runCycle(const std::function<void()>& body)
{
    if (m_running)
        return false;
    RunningScope running(m_model, m_running, onCycleEnded);
    beginCycle();
    body();
    m_link.Disconnect();
    restoreControls();
    return true;
}

void Polling::restoreControls()
{
    m_model.setEnabled(Field::CmdStart, true);
    m_model.setEnabled(Field::CmdSend, true);
    m_model.setEnabled(Field::Function, true);
    m_model.setEnabled(Field::Query, true);
    for (int i = 0; i < ConsoleModel::kSlots; ++i) {
        m_model.setEnabled(Field::Address, i, true);
        m_model.setEnabled(Field::CheckAdr, i, true);
    }
}

void Polling::CmdStop_Click()
{
    m_model.setListIndex(Field::Pages, ConsoleModel::kPageDefinition);
    m_model.StopRequested = true;
    restoreControls();
    for (int i = 0; i < ConsoleModel::kSlots; ++i) {
        m_model.setText(Field::Reponse, i, QString());
        m_model.setText(Field::Reponse1, i, QString());
    }
}

} // namespace tarvo
