// tarvo-bench-journal: what watching the bus costs the console while it polls. The console's own
// stack and window run in this process (the window drawn on Qt's offscreen platform), so the
// process's CPU time is the console's; tarvo-sim plays the controllers over TCP in a process of its
// own. See --help and bench/README.md.

#include "BenchConsole.h"
#include "ConsoleWindow.h"
#include "ControllersDock.h"
#include "Exchange.h"
#include "JournalDock.h"
#include "JournalWriter.h"
#include "Stack.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <optional>

using namespace tarvo;
using namespace tarvo::bench;

namespace {

struct Settings {
    double seconds = 5;
    int controllers = 32;
    int repeats = 4;
    long attempts = 1'000'000;
    QList<bool> delays; // true: the console's default delays
    QList<int> setups;  // indexes into setups(), in order
    int toggled = 0;    // segments of the toggled run, each way (0: no such run)
    QString simPath;
};

// What the console shows around its window in a run.
struct Setup {
    QString name;
    bool views = false;       // the journal, the counters and the reply colours wired to the window
    bool journal = false;     // the Journal dock shown
    bool controllers = false; // the Controllers dock shown
    bool file = false;        // the journal written to a file
};

// The first is what the others are held against; the third is the one the speed targets speak of,
// the fourth the memory run's.
const QList<Setup>& setups()
{
    static const QList<Setup> all = {
        {QStringLiteral("window without the bus views (as before)"), false, false, false, false},
        {QStringLiteral("bus views wired, docks closed, no file"), true, false, false, false},
        {QStringLiteral("Journal open, journal file on"), true, true, false, true},
        {QStringLiteral("Journal and Controllers open, journal file on"), true, true, true, true},
        // Not run by default: what the third costs, split into its two parts.
        {QStringLiteral("Journal open, no file"), true, true, false, false},
        {QStringLiteral("journal file on, docks closed"), true, false, false, true},
    };
    return all;
}

class Counter final : public ExchangeObserver {
public:
    void attemptFinished(const AttemptRecord& r) override
    {
        ++attempts;
        if (r.verdict == AttemptRecord::Verdict::Reply)
            ++replies;
        if (onAttempt)
            onAttempt(attempts);
    }
    long attempts = 0;
    long replies = 0;
    std::function<void(long)> onAttempt;
};

struct Figures {
    long exchanges = 0;
    long attempts = 0;
    double wall = 0;
    double cpu = 0;
    double busy = 0; // machine's busy share, weighted by wall time when runs are summed
    long rows = 0;   // in the journal view at the end
    std::optional<Memory> early;
    std::optional<Memory> late;
    void add(const Figures& f)
    {
        busy = (busy * wall + f.busy * f.wall) / (wall + f.wall);
        exchanges += f.exchanges;
        attempts += f.attempts;
        wall += f.wall;
        cpu += f.cpu;
    }
    double rate() const { return wall > 0 ? static_cast<double>(exchanges) / wall : 0; }
    double cpuPerExchangeMs() const { return exchanges > 0 ? cpu * 1000 / static_cast<double>(exchanges) : NAN; }
};

// The console as the program wires it (src/app/main.cpp), polling the simulator, its window shown
// as the setup says and laid out and drawn once before any clock starts.
struct Console {
    Console(const Endpoint& ep, const Settings& st, bool defaults, const Setup& setup)
    {
        setUpPolling(stack.model, ep, st.controllers, defaults);
        if (setup.views) {
            stack.model.ini.journal.folder = dir.path();
            stack.model.ini.journal.toFile = setup.file;
            window.watchBus(stack.journal, stack.health, stack.journalFile);
        } else {
            // The window as it was before the journal: nothing keeps the attempts.
            stack.journal.removeSink(&stack.journalFile);
        }
        window.resize(1280, 800);
        window.show();
        if (setup.journal)
            window.journalDock()->show();
        if (setup.controllers)
            window.controllersDock()->show();
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    QTemporaryDir dir;
    ConsoleSeams seams;
    Stack stack{{seams.clock, seams.pump, seams.trace, seams.prompter, nullptr, {}}};
    ConsoleWindow window{stack, seams.prompter};
};

// One polling run of the console, until `seconds` have passed or, for the memory run, `stopAfter`
// attempts were made (memory read after `probe` and then).
Figures runConsole(const Endpoint& ep, const Settings& st, bool defaults, const Setup& setup, double seconds,
                   long stopAfter = 0, long probe = 0)
{
    Console console(ep, st, defaults, setup);
    Stack& stack = console.stack;
    ConsoleWindow& window = console.window;

    Figures f;
    Counter counter;
    MemoryProbes probes{probe, stopAfter};
    counter.onAttempt = [&](long n) {
        if (probes.at(n))
            window.CmdStop_Click();
    };
    stack.engine.addObserver(&counter);
    const TimedRun run = timeStart([&] { window.CmdStart_Click(); }, [&] { window.CmdStop_Click(); },
                                   console.seams.clock, stopAfter > 0 ? 0 : seconds);
    f.wall = run.wall;
    f.cpu = run.cpu;
    f.busy = run.busy;
    f.early = probes.early;
    f.late = probes.late;
    f.exchanges = counter.replies;
    f.attempts = counter.attempts;
    if (setup.views) {
        window.flushBus();
        f.rows = window.journalDock()->table().rowCount();
    }
    stack.engine.removeObserver(&counter);
    return f;
}

QString ratio(double value, double base)
{
    return base > 0 && !std::isnan(value) && !std::isnan(base) ? QString::number(value / base * 100, 'f', 1) + "%"
                                                               : QStringLiteral("-");
}

// A stretch of the toggled run: the Journal dock open and the file on, or both off.
struct Segment {
    bool on = false;
    long exchanges = 0;
    double cpu = 0;
    double wall = 0;
    double cpuPerExchangeMs() const { return exchanges > 0 ? cpu * 1000 / static_cast<double>(exchanges) : NAN; }
};

// One polling run at the console's default delays, its bus views wired as the program wires them,
// in which the Journal dock and the journal file are turned on together and off together, stretch
// by stretch: on, off, off, on, on, off... Runs of separate windows minutes apart differ by a third
// on a shared machine; stretches of one run, seconds apart, share its machine. The first two
// stretches, one each way, fill the window's caches and are not counted.
QList<Segment> runToggled(const Endpoint& ep, const Settings& st)
{
    Console console(ep, st, true, setups()[1]); // wired, the docks closed, no file
    Stack& stack = console.stack;
    ConsoleWindow& window = console.window;
    const SteadyClock& clock = console.seams.clock;

    Counter counter;
    stack.engine.addObserver(&counter);
    const auto onAt = [](int k) { return k % 4 == 0 || k % 4 == 3; };
    const int warmUp = 2;
    const int total = warmUp + 2 * st.toggled;
    QList<Segment> out;
    int k = 0;
    Segment now;
    long exchanges0 = 0;
    double cpu0 = 0;
    double wall0 = 0;
    QTimer next;
    next.setSingleShot(true);
    bool measuring = false;
    // Each stretch: turned on or off, a second to settle (the dock laid out and drawn whole, or the
    // window without it), then measured. What turning costs once is no part of the cost per exchange.
    const auto step = [&] {
        if (!measuring) {
            measuring = true;
            exchanges0 = counter.replies;
            cpu0 = cpuSeconds();
            wall0 = clock.now();
            next.start(static_cast<int>(st.seconds * 1000));
            return;
        }
        measuring = false;
        now.exchanges = counter.replies - exchanges0;
        now.cpu = cpuSeconds() - cpu0;
        now.wall = clock.now() - wall0;
        std::fprintf(stderr, "tarvo-bench-journal:   stretch %d, %s: %.1f exchanges/s, %.4f ms CPU per exchange%s\n",
                     k + 1, now.on ? "Journal open, file on" : "Journal closed, no file",
                     static_cast<double>(now.exchanges) / now.wall, now.cpuPerExchangeMs(),
                     k < warmUp ? " (warm-up)" : "");
        if (k >= warmUp)
            out << now;
        if (++k == total) {
            window.CmdStop_Click();
            return;
        }
        now = Segment{onAt(k)};
        window.journalDock()->setVisible(now.on);
        window.setJournalToFile(now.on);
        next.start(1000);
    };
    QObject::connect(&next, &QTimer::timeout, step);
    now = Segment{onAt(0)};
    window.journalDock()->setVisible(now.on);
    window.setJournalToFile(now.on);
    next.start(1000);
    window.CmdStart_Click();
    window.setJournalToFile(false);
    stack.engine.removeObserver(&counter);
    return out;
}

// The toggled run's figures: the stretches summed each way, and the spread of the pairs (each
// stretch with the next, one of each way).
void sayToggled(const Settings& st, const QList<Segment>& segments)
{
    Segment on{true};
    Segment off{false};
    QList<double> pairs;
    for (qsizetype i = 0; i < segments.size(); ++i) {
        Segment& sum = segments[i].on ? on : off;
        sum.exchanges += segments[i].exchanges;
        sum.cpu += segments[i].cpu;
        sum.wall += segments[i].wall;
        if (i % 2 == 1) {
            const Segment& a = segments[i - 1].on ? segments[i - 1] : segments[i];
            const Segment& b = segments[i - 1].on ? segments[i] : segments[i - 1];
            pairs << a.cpuPerExchangeMs() / b.cpuPerExchangeMs();
        }
    }
    std::sort(pairs.begin(), pairs.end());
    const auto median = [&] {
        const qsizetype n = pairs.size();
        return n == 0 ? NAN : n % 2 == 1 ? pairs[n / 2] : (pairs[n / 2 - 1] + pairs[n / 2]) / 2;
    };
    const auto pctOf = [](double r) {
        return std::isnan(r) ? QStringLiteral("-") : QString::number(r * 100, 'f', 1) + "%";
    };
    say(QStringLiteral(
            "One run of the same window at 50 / 1 (%1 controllers, TCP), the Journal dock and the journal file "
            "turned on together and off together by turns (on, off, off, on...), each stretch measured for %2 s "
            "after a second to settle; %3 stretches each way, after one each way to warm up:\n")
            .arg(st.controllers)
            .arg(st.seconds)
            .arg(st.toggled));
    say(QStringLiteral("| stretches | exchanges/s | console CPU | CPU per exchange (ms) | against closed / off |"));
    say(QStringLiteral("|---|---|---|---|---|"));
    for (const Segment* s : {&off, &on}) {
        say(QStringLiteral("| %1 | %2 | %3 | %4 | %5 |")
                .arg(s->on ? QStringLiteral("Journal open, journal file on")
                           : QStringLiteral("Journal closed, no file"))
                .arg(s->wall > 0 ? static_cast<double>(s->exchanges) / s->wall : 0, 0, 'f', 1)
                .arg(pct(s->wall > 0 ? s->cpu / s->wall : 0), ms(s->cpuPerExchangeMs()),
                     ratio(s->cpuPerExchangeMs(), off.cpuPerExchangeMs())));
    }
    say(QStringLiteral(
            "\nThe %1 pairs of neighbouring stretches, CPU per exchange open / closed: median %2, from %3 to %4.")
            .arg(pairs.size())
            .arg(pctOf(median()), pctOf(pairs.isEmpty() ? NAN : pairs.first()),
                 pctOf(pairs.isEmpty() ? NAN : pairs.last())));
}

bool parse(const QCoreApplication& app, Settings& st)
{
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "What the journal view, the controllers view and the journal file cost the console while it polls "
        "controllers played by tarvo-sim over TCP (Modbus, function ReadBuffer100), with the window drawn on the "
        "offscreen platform; and the console's memory with a full journal view. Prints Markdown tables."));
    p.addHelpOption();
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("Length of each run (default 5)."),
                                     QStringLiteral("s"), QStringLiteral("5"));
    const QCommandLineOption controllers(QStringLiteral("controllers"),
                                         QStringLiteral("Controllers polled (default 32)."), QStringLiteral("n"),
                                         QStringLiteral("32"));
    const QCommandLineOption repeats(
        QStringLiteral("repeats"),
        QStringLiteral(
            "Runs of each setup, taken in turn forwards and backwards so that a change of the machine's "
            "load falls on all of them (default 4). Over TCP at 0 / 0 the rate swings by a third from one run to "
            "the next on a shared machine: many short runs average that out better than a few long ones."),
        QStringLiteral("n"), QStringLiteral("4"));
    const QCommandLineOption attempts(QStringLiteral("attempts"),
                                      QStringLiteral("Attempts of the memory run, 0 to skip it (default 1000000)."),
                                      QStringLiteral("n"), QStringLiteral("1000000"));
    const QCommandLineOption delays(QStringLiteral("delays"), QStringLiteral("zero, default or both (default both)."),
                                    QStringLiteral("list"), QStringLiteral("zero,default"));
    const QCommandLineOption only(QStringLiteral("setups"),
                                  QStringLiteral("Setups to run, by number (default 1,2,3,4; see bench/README.md). "
                                                 "The first one given is what the others are held against."),
                                  QStringLiteral("list"), QStringLiteral("1,2,3,4"));
    const QCommandLineOption sim(QStringLiteral("sim"), QStringLiteral("tarvo-sim to use."), QStringLiteral("path"),
                                 QStringLiteral(TARVO_SIM_PATH));
    const QCommandLineOption toggled(
        QStringLiteral("toggled"),
        QStringLiteral(
            "Stretches each way of one more run at the default delays, in which the Journal dock and the "
            "journal file are turned on and off by turns, each stretch measured for --seconds (default 10; 0: no "
            "such run). With --repeats 0 it is the only run."),
        QStringLiteral("n"), QStringLiteral("10"));
    p.addOptions({seconds, controllers, repeats, attempts, delays, only, toggled, sim});
    p.process(app);

    bool ok = true;
    st.seconds = p.value(seconds).toDouble(&ok);
    if (!ok || st.seconds <= 0)
        return false;
    st.controllers = p.value(controllers).toInt(&ok);
    if (!ok || st.controllers < 1 || st.controllers > ConsoleModel::kSlots)
        return false;
    st.repeats = p.value(repeats).toInt(&ok);
    if (!ok || st.repeats < 0)
        return false;
    st.toggled = p.value(toggled).toInt(&ok);
    if (!ok || st.toggled < 0 || (st.repeats == 0 && st.toggled == 0))
        return false;
    st.attempts = p.value(attempts).toLong(&ok);
    if (!ok || st.attempts < 0 || (st.attempts > 0 && st.attempts < 2000))
        return false;
    for (const QString& d : p.value(delays).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (d != QLatin1String("default") && d != QLatin1String("zero"))
            return false;
        st.delays << (d == QLatin1String("default"));
    }
    for (const QString& n : p.value(only).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int v = n.toInt(&ok);
        if (!ok || v < 1 || v > setups().size())
            return false;
        st.setups << v - 1;
    }
    if (st.setups.isEmpty())
        return false;
    st.simPath = p.value(sim);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // The window is drawn, but nowhere to be seen: the measurement needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    Settings st;
    if (!parse(app, st)) {
        std::fprintf(stderr, "tarvo-bench-journal: bad option value (see --help)\n");
        return 2;
    }
    Helper sim;
    if (!sim.start(st.simPath, {"--protocol", "modbus", "--tcp", "127.0.0.1:0", "--log", "/dev/null"}, false, true)) {
        std::fprintf(stderr, "tarvo-bench-journal: cannot start %s\n", qPrintable(st.simPath));
        return 1;
    }
    Endpoint ep;
    ep.serial = false;
    ep.tcpPort = sim.tcpPort;

    // The memory run first, while the process's heap holds nothing of other runs: after them it
    // would reuse what they freed and show less growth than a console started for it would.
    constexpr long kProbe = 1000;
    const Setup& full = setups()[3]; // both docks open, the file on
    std::optional<Figures> memory;
    if (st.attempts > 0) {
        std::fprintf(stderr, "tarvo-bench-journal: memory run, %ld attempts\n", st.attempts);
        memory = runConsole(ep, st, false, full, 0, st.attempts, kProbe);
    }

    if (st.repeats > 0) {
        say(QStringLiteral(
                "Each run: %1 s of polling %2 controllers over TCP (Modbus ReadBuffer100), TimeOutDelay 1500 "
                "ms, the console's window shown at 1280x800 on the offscreen platform; each setup run %3 "
                "times, in turn forwards and backwards, figures summed.\n")
                .arg(st.seconds)
                .arg(st.controllers)
                .arg(st.repeats));
        say(QStringLiteral(
            "| WaitingDelay / Scan (ms) | setup | exchanges/s | rate against the first setup | console CPU | "
            "CPU per exchange (ms) | CPU per exchange against the first setup | against the second (docks "
            "closed, no file) | machine busy |"));
        say(QStringLiteral("|---|---|---|---|---|---|---|---|---|"));
        // The second setup, if it ran: the console as it runs with the docks closed and no file.
        const qsizetype closed = st.setups.indexOf(1);
        for (bool defaults : st.delays) {
            const auto n = static_cast<int>(st.setups.size());
            QList<Figures> sums(n);
            for (int r = 0; r < st.repeats; ++r) {
                for (int k = 0; k < n; ++k) {
                    const int i = r % 2 == 0 ? k : n - 1 - k;
                    const Setup& setup = setups()[st.setups[i]];
                    std::fprintf(stderr, "tarvo-bench-journal: %s, %s, run %d\n", defaults ? "50 / 1" : "0 / 0",
                                 qPrintable(setup.name), r + 1);
                    const Figures f = runConsole(ep, st, defaults, setup, st.seconds);
                    std::fprintf(stderr, "tarvo-bench-journal:   %.1f exchanges/s, %.4f ms CPU per exchange\n",
                                 f.rate(), f.cpuPerExchangeMs());
                    sums[i].add(f);
                }
            }
            for (int i = 0; i < n; ++i) {
                const Figures& f = sums[i];
                say(QStringLiteral("| %1 | %2. %3 | %4 | %5 | %6 | %7 | %8 | %9 | %10 |")
                        .arg(defaults ? QStringLiteral("50 / 1") : QStringLiteral("0 / 0"))
                        .arg(st.setups[i] + 1)
                        .arg(setups()[st.setups[i]].name)
                        .arg(f.rate(), 0, 'f', 1)
                        .arg(ratio(f.rate(), sums[0].rate()), pct(f.wall > 0 ? f.cpu / f.wall : 0),
                             ms(f.cpuPerExchangeMs()), ratio(f.cpuPerExchangeMs(), sums[0].cpuPerExchangeMs()),
                             closed < 0 ? QStringLiteral("-")
                                        : ratio(f.cpuPerExchangeMs(), sums[closed].cpuPerExchangeMs()))
                        .arg(pct(f.busy)));
            }
        }
    }

    if (st.toggled > 0) {
        if (st.repeats > 0)
            say(QString());
        std::fprintf(stderr, "tarvo-bench-journal: toggled run, %d stretches each way\n", st.toggled);
        sayToggled(st, runToggled(ep, st));
    }

    if (memory) {
        const Figures& f = *memory;
        const Memory e = f.early.value_or(Memory{});
        const Memory l = f.late.value_or(Memory{});
        say(QString());
        say(QStringLiteral("| memory run (0 / 0, %1; run first) | attempts | rows in the view | VmRSS after %2 (MiB) | "
                           "VmRSS after %3 (MiB) | growth (MiB) | VmHWM at the end (MiB) | exchanges/s |")
                .arg(full.name)
                .arg(kProbe)
                .arg(st.attempts));
        say(QStringLiteral("|---|---|---|---|---|---|---|---|"));
        say(QStringLiteral("| %1 controllers | %2 | %3 | %4 | %5 | %6 | %7 | %8 |")
                .arg(st.controllers)
                .arg(f.attempts)
                .arg(f.rows)
                .arg(mib(e.rssKiB), mib(l.rssKiB), mib(l.rssKiB - e.rssKiB), mib(l.hwmKiB))
                .arg(f.rate(), 0, 'f', 1));
    }
    return 0;
}
