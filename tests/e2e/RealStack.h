#pragma once

#include "Clock.h"
#include "EventPump.h"
#include "FakePrompter.h"
#include "Stack.h"
#include "Trace.h"

namespace tarvo::test {

// The real seams of a test stack, except for message boxes and the trace, which are recorded.
struct RealSeams {
    SteadyClock clock;
    QtEventPump pump;
    MemoryTrace trace;
    FakePrompter prompter;
};

// The program below the window with its real link, clock and event pump.
struct RealStack : RealSeams {
    RealStack()
    {
        read.openViewer = [](const QString&) { return true; };
        model.setText(Field::TimeOutDelay, "400");
        model.setText(Field::WaitingDelay, "30");
    }
    void tick(int slot, const QString& address)
    {
        model.setCheck(Field::CheckAdr, slot, 1);
        model.setText(Field::Address, slot, address);
    }
    // The link to a simulator: its TCP port on this machine, or its pseudo-terminal.
    void useLink(bool tcp, quint16 tcpPort, const QString& ptyPath)
    {
        if (tcp) {
            model.choose(Field::OpTCP);
            model.setText(Field::IP, "127.0.0.1");
            model.setText(Field::Port, QString::number(tcpPort));
        } else {
            model.choose(Field::OpCOM);
            model.setText(Field::ComPort, ptyPath);
        }
    }
    QString reply(int slot) const { return model.text(Field::Reponse, slot); }
    QString reply1(int slot) const { return model.text(Field::Reponse1, slot); }

    Stack stack{{clock, pump, trace, prompter, nullptr, {}}};
    ConsoleModel& model = stack.model;
    Link& link = stack.link;
    Engine& engine = stack.engine;
    Polling& polling = stack.polling;
    MemoryRead& read = stack.memoryRead;
};

} // namespace tarvo::test
