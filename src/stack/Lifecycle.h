#pragma once

#include <QString>
#include <functional>

namespace tarvo {

class ConsoleModel;
class Link;
class MemoryRead;
class Polling;
class Trace;

// The console's life around its fields: filled from the settings file and the command line at start
// (which may run a send, or a memory read that ends the program), and at close the link closed and
// the settings saved. The window's Form_Load and Form_Unload call these; so does the unattended memory
// read, which has no window.
class Lifecycle {
public:
    Lifecycle(ConsoleModel& model, Link& link, Polling& polling, MemoryRead& memoryRead, Trace& trace);

    struct LoadResult {
        bool endProgram = false; // an unattended memory read ran: the program ends now
        int exitCode = 0;
        QString reason; // one line for standard error when exitCode is not 0, or why the scan stopped
    };

    // Settings file, command line (the argument text after the program's name), version in the title,
    // link rule.
    LoadResult load(const QString& argumentText);
    // Disconnect, and save the settings when "Save Config on exit" is ticked. Never fails: a settings
    // file that cannot be written is reported (trace line and the returned text) and left as it was.
    QString close();
    // The settings saved now, whatever "Save Config on exit" says: a new site's first settings. The
    // problem, as close() tells it; empty when all went well.
    QString save();

    // Moving to another site folder: the current one is closed as closing the console closes it
    // (saved when "Save Config on exit" is ticked), then the other's settings are read as a start
    // without switches reads them, into fresh fields. Nothing moves (opened false, `problem` says why)
    // while a cycle or a memory read runs, when the folder cannot be worked in, or when the current
    // settings could not be saved: they would be lost.
    struct SiteResult {
        bool opened = false;
        QString problem;
    };
    SiteResult openSite(const QString& folder);

    // Closing the console. While a cycle or a memory read runs, it is stopped first and false is
    // returned: the running waits still use everything, so the close happens only once they have
    // unwound, through closeNow. Otherwise close() runs and true is returned.
    bool requestClose();
    // Call whenever a cycle or a read has ended: carries out a close that was waiting for it.
    void cycleEnded();
    std::function<void()> closeNow;
    // What close() reported at the last close (empty when all went well).
    QString lastUnloadProblem;

    // The command line (the argument text and one blank): "Save Config on exit" set, the switches
    // applied, then the send or the memory read they ask for.
    LoadResult ParseCommandLine(const QString& commandLine);

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
