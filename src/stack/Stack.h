#pragma once

#include "Census.h"
#include "ConsoleModel.h"
#include "ConsoleMonitor.h"
#include "Engine.h"
#include "Health.h"
#include "Journal.h"
#include "JournalWriter.h"
#include "Lifecycle.h"
#include "Link.h"
#include "MemoryRead.h"
#include "Polling.h"

#include <functional>
#include <memory>

namespace tarvo {

class Clock;
class EventPump;
class FileDialogs;
class Prompter;
class Trace;

// Builds the link the core talks through. The settings are handed over so that the link can follow
// their link choice at every call.
using LinkFactory = std::function<std::unique_ptr<Link>(const SettingsSource& settings)>;

// What the program needs from its surroundings. The stack uses them and never owns them.
struct Seams {
    Clock& clock;
    EventPump& pump;
    Trace& trace;
    Prompter& prompter;
    FileDialogs* fileDialogs = nullptr; // the Open and Save boxes; none without a window
    LinkFactory makeLink;               // empty: the serial port and TCP client of the console
};

// Everything below the front ends, built once from its seams over the settings a front end gives: the
// link, the exchange, the cycles, the memory read, the journal and the health counters, the census and
// the bus monitor, wired to each other. The command-line tool builds it over plain settings; the
// console builds its Stack, which holds one over its model.
class Core {
public:
    // display: where exchanges show their replies (none: nowhere).
    Core(const Seams& seams, const SettingsSource& settings, ExchangeDisplay* display = nullptr);
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    // The console's own link: serial or TCP as the settings' link choice says at every call.
    static std::unique_ptr<Link> consoleLink(const SettingsSource& settings, const Seams& seams);

    Seams seams;
    const SettingsSource& settings;

private:
    std::unique_ptr<Link> m_link;

public:
    Link& link;
    Engine engine;
    Polling polling;
    MemoryRead memoryRead;
    // Observers of every attempt: the journal's rows and the per-controller counters.
    Journal journal;
    Health health;
    // Who answers on the bus, asked through a slot of its own over the same link.
    Census census;
    // The bus monitor, run as a cycle; its frames go into the journal.
    ConsoleMonitor monitor;
};

// The console's program below the window: its model, the core driven by it, the console's journal
// file and its life cycle. The console, the tests and the benchmarks start from here; nothing else
// wires the layers.
class Stack {
public:
    explicit Stack(const Seams& seams);
    Stack(const Stack&) = delete;
    Stack& operator=(const Stack&) = delete;

    ConsoleModel model;
    Core core;
    Seams& seams = core.seams;
    Link& link = core.link;
    Engine& engine = core.engine;
    Polling& polling = core.polling;
    MemoryRead& memoryRead = core.memoryRead;
    Journal& journal = core.journal;
    Health& health = core.health;
    Census& census = core.census;
    ConsoleMonitor& monitor = core.monitor;
    // The journal file the operator switches on and off; a sink of the journal from the start, so that
    // a send started from the command line is journalled too.
    JournalWriter journalFile;
    Lifecycle lifecycle;
};

} // namespace tarvo
