#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace tarvo {

class ConsoleModel;
class Link;
class MemoryRead;
class Polling;
class Trace;

namespace cli {
// Cuts the argument text into tokens at hyphens, blanks and tabs. A token without "=" is dropped on
// its own, so it never swallows the switch after it.
QStringList tokenize(const QString& text);

// The switches of an argument text as they will be applied: in order, up to the first one that fails
// (a "silent" value that is not a whole number of 16 bits), which ends the scan.
struct Switches {
    struct Switch {
        QString key; // lower case
        QString value;
    };
    QList<Switch> applied;
    QString failure;   // why the scan stopped early; empty when every switch applies
    bool send = false; // a "cmd" switch was applied
    bool read = false; // a "page" switch was applied
    QString outputFile;
    bool silent = false;
};
Switches parseSwitches(const QString& text);

// True when the argument text runs an unattended memory read (a "page" switch applied, no "cmd"),
// which needs no window at all. A scan that fails after a "page" switch is such a job too: it ends
// the program, with the failure as its reason.
bool isMemoryReadJob(const QString& text);
// The help text for --help, -h and /?.
QString usage();
} // namespace cli

// The program's life cycle around the console: filling it from the settings file and the command
// line at start, the unattended jobs, and disconnecting and saving at close.
class Session {
public:
    Session(ConsoleModel& model, Link& link, Polling& polling, MemoryRead& memoryRead, Trace& trace);

    struct LoadResult {
        bool endProgram = false; // an unattended memory read ran: the program ends now
        int exitCode = 0;
        QString reason; // one line for standard error when exitCode is not 0, or why the scan stopped
    };

    // Settings file, command line (which may run a send, or a memory read that ends the program),
    // version in the title, link rule.
    LoadResult Form_Load(const QString& argumentText);
    // Disconnect, and save the settings when "Save Config on exit" is ticked. Never fails: a settings
    // file that cannot be written is reported (trace line and the returned text) and left as it was.
    QString Form_Unload();

    LoadResult ParseCommandLine();

    // Closing the console. While a cycle or a memory read runs, it is stopped first and false is
    // returned: the running waits still use everything, so the close happens only once they have
    // unwound, through closeNow. Otherwise Form_Unload runs and true is returned.
    bool requestClose();
    // Call whenever a cycle or a read has ended: carries out a close that was waiting for it.
    void cycleEnded();
    std::function<void()> closeNow;
    // What Form_Unload reported at the last close (empty when all went well).
    QString lastUnloadProblem;

    static QString version();

private:
    ConsoleModel& m_model;
    Link& m_link;
    Polling& m_polling;
    MemoryRead& m_memoryRead;
    Trace& m_trace;
    bool m_closePending = false;
};

} // namespace tarvo
