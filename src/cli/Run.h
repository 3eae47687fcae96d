#pragma once

#include "AddressResult.h"
#include "CliOptions.h"
#include "CliOutput.h"
#include "Clock.h"
#include "EventPump.h"
#include "ExchangeSettings.h"
#include "JournalCsv.h"
#include "Prompter.h"
#include "Stack.h"
#include "Trace.h"
#include "WatchedLink.h"

#include <QByteArray>
#include <QSocketNotifier>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace tarvo::cli {

// Runs the parsed command line's subcommand and returns the exit status. Needs a QCoreApplication.
int run(const Options& options);

// The subcommands, one file each.
int sendOrPoll(const Options& options); // SendPoll.cpp
int scan(const Options& options);
int readMemory(const Options& options);
int ports(const Options& options);
int frame(const Options& options);
int check(const Options& options);
int monitor(const Options& options);
int report(const Options& options);
int runPlan(const Options& options); // RunPlan.cpp

// Standard output is the records' alone; it is flushed at once, so a pipe sees each as it comes.
void writeOut(const QByteArray& bytes);
// A message on standard error, "tarvo-cli: " first.
void say(const QString& text);
// "3 frames heard, 1 bad check": the summary of a listen (noun: "frame", "message").
QString heardLine(const Tally& tally, const QString& noun);

// What the options make of the settings, before anything is built on them: the Tarvo.cfg of --config
// (or the console's defaults) with the options applied as plain values.
struct Plan {
    FixedSettings settings;
    QString function;          // what each call sends; the census's request too
    int censusTimeoutMs = 200; // scan's time-out when --timeout is not given ([census] beside a --config)
    // What is wrong with a delay of the --config that is no number (empty: nothing).
    QString badTimeout;
    QString badSettle;
    QString badScanDelay;
};

// Fills the plan; what makes the command line unusable (nothing is sent), or nothing.
std::optional<QString> makePlan(const Options& options, Plan& plan);
// A request the console would send under Bioscrypt with its warning, or that no Bioscrypt reader takes
// (a fixed function's): refused, as a script cannot see the console's message box.
std::optional<QString> bioscryptProblem(Protocol protocol, const QString& function, const QString& commands);
// Builds every request of every selected slot as the exchange will build it, so that one the protocol
// refuses (or warns about) is reported before anything goes out; sentWidth receives the widest request's
// text length.
std::optional<QString> requestProblem(const Plan& plan, int& sentWidth);

// The link's trace: its failures on standard error, its routine steps only when asked for (they
// would bury the results a person reads on the same terminal). Standard output is the records' alone.
class CliTrace final : public Trace {
public:
    explicit CliTrace(bool verbose) : m_verbose(verbose) {}
    void write(const QString& line) override;
    std::function<void()> beforeWrite;

private:
    bool m_verbose;
    StderrTrace m_all;
};

// A run that talks to the bus, and what all of them share: the plan and the core over it, the watched
// link, the collected results, the journal file, the progress line, the stop (Ctrl+C, SIGTERM, a link
// lost for good), the work folder, and how a run ends (journal closed, summary, exit status).
class BusRun {
public:
    explicit BusRun(const Options& options);
    ~BusRun();
    BusRun(const BusRun&) = delete;
    BusRun& operator=(const BusRun&) = delete;

    // Makes the plan and the core, asks `prepare` what this command refuses before anything is sent,
    // opens the journal, then runs `body` in a work folder of the run's own (the command file of a
    // send, the memory read's part files and dump), so that a run never touches the files of the
    // folder it was started in. A refusal is said and gives status 64.
    int exec(const std::function<std::optional<QString>()>& prepare, const std::function<int()>& body);

    const Options& options;
    Plan plan;
    SteadyClock clock;
    QtEventPump pump;
    ProgressLine progress;
    int sentWidth = 0; // the widest request, so that the text columns after it line up

    Core& core() { return *m_core; }
    WatchedLink& link() { return *m_link; }
    ResultCollector& collector() { return *m_collector; }

    // Set by Ctrl+C, SIGTERM, a link lost for good, and by a listen that has heard enough.
    std::stop_token stopToken() const { return m_stop.get_token(); }
    void requestStop() { m_stop.request_stop(); }
    bool stopNow() const { return m_stop.stop_requested() || m_interrupted || m_link->down(); }
    bool interrupted() const { return m_interrupted; }

    void flushJournal() { m_core->journal.flush(); }
    void closeJournal();
    // The link could not be opened, or was lost and not regained: says which.
    void sayLinkDown();
    // Closes the journal, says the summary and gives the exit status of the verdicts.
    int finish(const Tally& tally);
    // The end of a run: the journal closed, the progress line cleared and, in text, the summary line
    // said (none when empty). Then the status of an end that was not the run's own, said: 130 when
    // interrupted, 3 when the link is down; nothing when the run went its course.
    std::optional<int> close(const QString& summary);

private:
    std::optional<QString> openJournal();
    // Ends whatever runs (the exchange's wait, a memory read, a census) at its next wait.
    void stopAll();

    CliTrace m_trace;
    StderrPrompter m_prompter;
    std::unique_ptr<Core> m_core;
    WatchedLink* m_link = nullptr;
    std::unique_ptr<ResultCollector> m_collector;
    JournalFile m_journal;
    std::stop_source m_stop;
    bool m_interrupted = false;
    std::unique_ptr<QSocketNotifier> m_signalWatch;
};

} // namespace tarvo::cli
