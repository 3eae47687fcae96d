#pragma once

#include "Clock.h"
#include "ConsoleLink.h"
#include "ConsoleModel.h"
#include "Engine.h"
#include "EventPump.h"
#include "FakePrompter.h"
#include "MemoryRead.h"
#include "Polling.h"
#include "Trace.h"

namespace tarvo::test {

// The program below the window with its real link, clock and event pump.
struct RealStack {
    RealStack()
    {
        engine.setReplyHook(&read);
        read.openViewer = [](const QString&) { return true; };
        model.setText("TimeOutDelay", "400");
        model.setText("WaitingDelay", "30");
    }
    void tick(int slot, const QString& address)
    {
        model.setCheck(ConsoleModel::slotName("CheckAdr", slot), 1);
        model.setText(ConsoleModel::slotName("Address", slot), address);
    }
    QString reply(int slot) const { return model.text(ConsoleModel::slotName("Reponse", slot)); }
    QString reply1(int slot) const { return model.text(ConsoleModel::slotName("Reponse1", slot)); }

    ConsoleModel model;
    SteadyClock clock;
    QtEventPump pump;
    MemoryTrace trace;
    FakePrompter prompter;
    ConsoleLink link{model, trace, pump, clock};
    Engine engine{model, link, clock, pump, prompter};
    Polling polling{model, link, engine, pump, trace};
    MemoryRead read{model, polling, prompter, trace};
};

} // namespace tarvo::test
