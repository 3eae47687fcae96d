#pragma once

#include "ConsoleModel.h"
#include "ConsoleMonitor.h"
#include "Engine.h"
#include "Health.h"
#include "Journal.h"
#include "Link.h"
#include "MemoryRead.h"
#include "Polling.h"
#include "Session.h"

#include <functional>
#include <memory>

namespace tarvo {

class Clock;
class EventPump;
class FileDialogs;
class Prompter;
class Trace;

// Builds the link the stack talks through. The model is handed over so that the link can follow the
// console's link option at every call.
using LinkFactory = std::function<std::unique_ptr<Link>(const ConsoleModel& model)>;

// What the program needs from its surroundings. The stack uses them and never owns them.
struct Seams {
    Clock& clock;
    EventPump& pump;
    Trace& trace;
    Prompter& prompter;
    FileDialogs* fileDialogs = nullptr; // the Open and Save boxes; none without a window
    LinkFactory makeLink;               // empty: the serial port and TCP client of the console
};

// The whole program below the window, built once from its seams: the console's model, the link, the
// exchange, the cycles, the memory read, the session, the journal and the health counters, wired to
// each other. The console, the
// command-line tool, the tests and the benchmarks all start from here; nothing else wires the layers.
class Stack {
public:
    explicit Stack(const Seams& seams);
    Stack(const Stack&) = delete;
    Stack& operator=(const Stack&) = delete;

    // The console's own link: serial or TCP as the link option says at every call.
    static std::unique_ptr<Link> consoleLink(const ConsoleModel& model, const Seams& seams);

    Seams seams;
    ConsoleModel model;

private:
    std::unique_ptr<Link> m_link;

public:
    Link& link;
    Engine engine;
    Polling polling;
    MemoryRead memoryRead;
    Session session;
    // Observers of every attempt: the journal's rows and the per-controller counters.
    Journal journal;
    Health health;
    // The bus monitor, run as a cycle of the console; its frames go into the journal.
    ConsoleMonitor monitor;
};

} // namespace tarvo
