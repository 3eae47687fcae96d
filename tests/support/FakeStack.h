#pragma once

#include "Engine.h"
#include "FakeLink.h"
#include "FakePrompter.h"
#include "MemoryRead.h"
#include "Polling.h"
#include "Trace.h"

namespace tarvo::test {

// The whole program below the window, over a scripted link and a fake clock: what the cycles, the
// memory read and the command line are tested on.
struct FakeStack {
    FakeStack()
    {
        engine.setReplyHook(&read);
        read.openViewer = [this](const QString& path) {
            viewed.append(path);
            return true;
        };
    }
    void tick(int slot, bool on = true) { model.setCheck(ConsoleModel::slotName("CheckAdr", slot), on ? 1 : 0); }
    QString reply(int slot) const { return model.text(ConsoleModel::slotName("Reponse", slot)); }

    ConsoleModel model;
    FakeClock clock;
    FakePump pump{clock};
    FakeLink link{model, clock, pump};
    FakePrompter prompter;
    MemoryTrace trace;
    Engine engine{model, link, clock, pump, prompter};
    Polling polling{model, link, engine, pump, trace};
    MemoryRead read{model, polling, prompter, trace};
    QStringList viewed;
};

} // namespace tarvo::test
