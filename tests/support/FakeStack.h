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
        return {clock, pump, trace, prompter, nullptr, [this](const ConsoleModel& model) {
                    auto link = std::make_unique<FakeLink>(clock, pump, [&model] { return model.serialLink(); });
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
    void tick(int slot, bool on = true) { model.setCheck(Field::CheckAdr, slot, on ? 1 : 0); }
    QString reply(int slot) const { return model.text(Field::Reponse, slot); }
    QString reply1(int slot) const { return model.text(Field::Reponse1, slot); }

    Stack stack{seams()};
    ConsoleModel& model = stack.model;
    FakeLink& link = *fakeLink;
    Engine& engine = stack.engine;
    Polling& polling = stack.polling;
    MemoryRead& read = stack.memoryRead;
    Session& session = stack.session;
    QStringList viewed;
};

} // namespace tarvo::test
