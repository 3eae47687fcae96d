#pragma once

#include "FakeLink.h"
#include "FakePrompter.h"
#include "Stack.h"
#include "Trace.h"

namespace tarvo::test {

// The seams of a test stack: a fake clock and pump, a recording prompter and trace. They come first so
// that they outlive the stack built on them.
struct FakeSeams {
    FakeClock clock;
    FakePump pump{clock};
    FakePrompter prompter;
    MemoryTrace trace;
    FakeLink* fakeLink = nullptr;

    Seams seams()
    {
        return {clock, pump, trace, prompter, nullptr, [this](const SettingsSource& settings) {
                    auto link = std::make_unique<FakeLink>(clock, pump, [&settings] { return settings.serialLink(); });
                    fakeLink = link.get();
                    return link;
                }};
    }
};

// The whole program below the window, over a scripted link and a fake clock: what the cycles, the
// memory read and the command line are tested on.
struct FakeStack : FakeSeams {
    FakeStack()
    {
        read.openViewer = [this](const QString& path) {
            viewed.append(path);
            return true;
        };
    }
    // Every Start (and monitor) run ends by itself after `seconds` of the fake clock, as if Stop were
    // pressed: for tests that press Start only to see what pressing it does.
    void stopCyclesAfter(double seconds)
    {
        QObject::connect(&stack.polling, &Polling::started, [this, seconds](Polling::Cycle cycle) {
            if (cycle != Polling::Cycle::SendOnce)
                pump.at(clock.t + seconds, [this] { stack.polling.stop(); });
        });
    }
    void tick(int slot, bool on = true) { model.setCheck(Field::CheckAdr, slot, on ? 1 : 0); }
    QString reply(int slot) const { return model.text(Field::Reponse, slot); }
    QString reply1(int slot) const { return model.text(Field::Reponse1, slot); }

    Stack stack{seams()};
    ConsoleModel& model = stack.model;
    FakeLink& link = *fakeLink;
    Engine& engine = stack.engine;
    Polling& polling = stack.polling;
    MemoryRead& read = stack.memoryRead;
    Lifecycle& lifecycle = stack.lifecycle;
    QStringList viewed;
};

} // namespace tarvo::test
