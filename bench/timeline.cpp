// tarvo-bench-timeline: what the Timeline dock costs the console. Its memory and its repaint over a
// long session fed at speed (recorded attempts, not a bus), and the console's CPU per exchange with
// the dock open and closed in one polling run of tarvo-sim over TCP. With --show it polls tarvo-sim
// with a silent and a flaky controller and shows the dock, for a screenshot. See --help and
// bench/README.md.

#include "BenchConsole.h"
#include "ConsoleWindow.h"
#include "Exchange.h"
#include "JournalDock.h"
#include "Stack.h"
#include "TerminationSignals.h"
#include "TimelineDock.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QPalette>
#include <QTimer>

#include <algorithm>

using namespace tarvo;
using namespace tarvo::bench;

namespace {

struct Settings {
    int controllers = 32;
    double fastMinutes = 10; // at 0 / 0
    double fastRate = 8000;  // exchanges per second over all controllers, at 0 / 0
    double slowHours = 24;   // then at the default delays
    double slowRate = 19;    // exchanges per second over all controllers, at 50 / 1
    int repaints = 200;      // per span
    double seconds = 10;     // each stretch of the toggled run
    int toggled = 6;         // stretches each way (0: no such run)
    int show = 0;            // --show: lanes of the screenshot run (0: no such run)
    int timeoutMs = 1500;
    bool dark = false; // --show with a dark palette
    QString simPath;
};

class Counter final : public ExchangeObserver {
public:
    void attemptFinished(const AttemptRecord& r) override
    {
        if (r.verdict == AttemptRecord::Verdict::Reply)
            ++replies;
    }
    long replies = 0;
};

// The console as the program wires it, the Timeline added, its window shown at 1280x800.
struct Console {
    explicit Console(const Settings& st, const Endpoint& ep = {}, bool defaults = true)
    {
        setUpPolling(stack.model, ep, st.controllers, defaults);
        stack.model.setText(Field::TimeOutDelay, QString::number(st.timeoutMs));
        window.watchBus(stack.journal, stack.health, stack.journalFile);
        // The journal file and the Journal dock's ring are the journal's cost, not the Timeline's.
        stack.journal.removeSink(&stack.journalFile);
        stack.journal.removeSink(&window.journalDock()->feed());
        dock = addTimelineDock(window);
        window.resize(1280, 800);
        window.show();
        settle(300);
    }
    static void settle(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    ConsoleSeams seams;
    Stack stack{{seams.clock, seams.pump, seams.trace, seams.prompter, nullptr, {}}};
    ConsoleWindow window{stack, seams.prompter};
    TimelineDock* dock = nullptr;
};

// A session's attempts, made up at speed: every controller in turn, the rate's share of a second
// apart; every 40th attempt of a controller a no-answer, every 97th a bad check value, replies of 4
// to 40 ms. Handed to the dock as the journal hands its rows, a batch at a time.
void feed(TimelineDock& dock, const Settings& st, qint64& now, double seconds, double rate)
{
    const int n = st.controllers;
    const double stepMs = 1000.0 / rate;
    const long total = static_cast<long>(seconds * rate);
    QList<JournalRecord> batch;
    batch.reserve(1024);
    JournalRecord r;
    r.function = QStringLiteral("ReadBuffer100");
    r.sent = QStringLiteral("01 04 01 00 00 06 70 34");
    QStringList addresses;
    for (int i = 0; i < n; ++i)
        addresses << QString::number(i);
    const qint64 start = now;
    for (long k = 0; k < total; ++k) {
        const int slot = static_cast<int>(k % n);
        const long round = k / n;
        r.slot = slot + 1;
        r.address = addresses[slot];
        r.time = QDateTime::fromMSecsSinceEpoch(start + static_cast<qint64>(static_cast<double>(k) * stepMs),
                                                Qt::OffsetFromUTC, 3600);
        const bool silent = (round + slot) % 40 == 0;
        r.verdict = silent                     ? JournalRecord::Verdict::NoAnswer
                    : (round + slot) % 97 == 0 ? JournalRecord::Verdict::BadCheck
                                               : JournalRecord::Verdict::Ok;
        r.replyMs = silent ? NAN : 4 + static_cast<double>((round * 7 + slot * 13) % 360) / 10;
        r.firstByteMs = silent ? NAN : r.replyMs / 2;
        batch << r;
        if (batch.size() == 1024) {
            dock.feed().append(batch);
            batch.clear();
        }
    }
    dock.feed().append(batch);
    now = start + static_cast<qint64>(seconds * 1000);
}

void memoryAndRepaint(const Settings& st)
{
    Console console(st);
    TimelineDock& dock = *console.dock;
    const Memory before = readMemory();
    qint64 now = QDateTime(QDate(2026, 12, 10), QTime(8, 0), Qt::OffsetFromUTC, 3600).toMSecsSinceEpoch();
    QElapsedTimer fed;
    fed.start();
    feed(dock, st, now, st.fastMinutes * 60, st.fastRate);
    const Memory afterFast = readMemory();
    feed(dock, st, now, st.slowHours * 3600, st.slowRate);
    const double feedSeconds = static_cast<double>(fed.elapsed()) / 1000;
    const Memory closed = readMemory();
    const size_t held = dock.history().memoryBytes();
    long attempts = 0;
    for (int s = 1; s <= BusHistory::kSlots; ++s)
        attempts += static_cast<long>(dock.history().slot(s).attempts());

    // Open, on its own at 1280x800, "now" the end of the session.
    dock.view()->now = [now] { return now; };
    dock.setFloating(true);
    dock.resize(1280, 800);
    dock.show();
    Console::settle(500);
    const Memory open = readMemory();

    say(QStringLiteral("A session fed at speed to the Timeline of a console window (%1 controllers): %2 min at %3 "
                       "attempts/s (0 / 0 over TCP), then %4 h at %5 attempts/s (the default delays); %6 attempts "
                       "in %7 s. Every 40th attempt of a controller unanswered, every 97th a bad check value.\n")
            .arg(st.controllers)
            .arg(st.fastMinutes)
            .arg(st.fastRate)
            .arg(st.slowHours)
            .arg(st.slowRate)
            .arg(attempts)
            .arg(feedSeconds, 0, 'f', 1));
    say(QStringLiteral("| memory | VmRSS (MiB) | against no history (MiB) |"));
    say(QStringLiteral("|---|---|---|"));
    say(QStringLiteral("| console window, Timeline added, nothing fed | %1 | - |").arg(mib(before.rssKiB)));
    say(QStringLiteral("| after the %1 min at 0 / 0, dock closed | %2 | %3 |")
            .arg(st.fastMinutes)
            .arg(mib(afterFast.rssKiB), mib(afterFast.rssKiB - before.rssKiB)));
    say(QStringLiteral("| after the %1 h more, dock closed | %2 | %3 |")
            .arg(st.slowHours)
            .arg(mib(closed.rssKiB), mib(closed.rssKiB - before.rssKiB)));
    say(QStringLiteral("| the same, dock open at 1280x800 and drawn | %1 | %2 (open against closed: %3) |")
            .arg(mib(open.rssKiB), mib(open.rssKiB - before.rssKiB), mib(open.rssKiB - closed.rssKiB)));
    say(QStringLiteral("\nThe history's own count of what it holds: %1 MiB (attempts held one by one and buckets; "
                       "VmHWM at the end %2 MiB).\n")
            .arg(static_cast<double>(held) / (1024.0 * 1024.0), 0, 'f', 1)
            .arg(mib(readMemory().hwmKiB)));

    say(QStringLiteral("| repaint of the dock at 1280x800, %1 lanes | median (ms) | p99 (ms) | max (ms) |")
            .arg(dock.view()->lanes().size()));
    say(QStringLiteral("|---|---|---|---|"));
    auto* span = dock.findChild<QComboBox*>(QStringLiteral("TimelineSpan"));
    for (int i = 0; i < span->count(); ++i) {
        span->setCurrentIndex(i);
        dock.repaint(); // once before timing: the first is the font caches'
        std::vector<double> times;
        for (int k = 0; k < st.repaints; ++k) {
            // As when live: a round of new attempts (not timed), then the repaint that shows them.
            feed(dock, st, now, st.controllers / st.slowRate, st.slowRate);
            QElapsedTimer t;
            t.start();
            dock.view()->repaint();
            times.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        }
        say(QStringLiteral("| %1 | %2 | %3 | %4 |")
                .arg(span->currentText(), ms(median(times)), ms(percentile(times, 99)),
                     ms(*std::max_element(times.begin(), times.end()))));
    }
}

// One polling run at the default delays in which the dock is opened and closed by turns, stretch by
// stretch (on, off, off, on...), as tarvo-bench-journal does for the Journal dock: stretches of one
// run share the machine's load. The first two are a warm-up.
void toggledRun(const Settings& st, const Endpoint& ep)
{
    Console console(st, ep, true);
    TimelineDock& dock = *console.dock;
    dock.setFloating(true);
    dock.resize(1280, 800);
    Counter counter;
    console.stack.engine.addObserver(&counter);
    struct Stretch {
        bool on = false;
        long exchanges = 0;
        double cpu = 0;
        double wall = 0;
    };
    const auto onAt = [](int k) { return k % 4 == 0 || k % 4 == 3; };
    const int warmUp = 2;
    const int total = warmUp + 2 * st.toggled;
    QList<Stretch> out;
    Stretch now;
    int k = 0;
    bool measuring = false;
    long e0 = 0;
    double c0 = 0;
    double w0 = 0;
    QTimer next;
    next.setSingleShot(true);
    QObject::connect(&next, &QTimer::timeout, [&] {
        if (!measuring) {
            measuring = true;
            e0 = counter.replies;
            c0 = cpuSeconds();
            w0 = console.seams.clock.now();
            next.start(static_cast<int>(st.seconds * 1000));
            return;
        }
        measuring = false;
        now.exchanges = counter.replies - e0;
        now.cpu = cpuSeconds() - c0;
        now.wall = console.seams.clock.now() - w0;
        std::fprintf(stderr, "tarvo-bench-timeline:   stretch %d, %s: %.1f exchanges/s, %.4f ms CPU per exchange%s\n",
                     k + 1, now.on ? "open" : "closed", static_cast<double>(now.exchanges) / now.wall,
                     now.cpu * 1000 / static_cast<double>(std::max(1L, now.exchanges)), k < warmUp ? " (warm-up)" : "");
        if (k >= warmUp)
            out << now;
        if (++k == total) {
            console.window.CmdStop_Click();
            return;
        }
        now = Stretch{onAt(k)};
        dock.setVisible(now.on);
        next.start(1000);
    });
    now = Stretch{onAt(0)};
    dock.setVisible(now.on);
    next.start(1000);
    console.window.CmdStart_Click();
    console.stack.engine.removeObserver(&counter);

    Stretch on{true}, off{false};
    std::vector<double> pairs;
    for (qsizetype i = 0; i < out.size(); ++i) {
        Stretch& sum = out[i].on ? on : off;
        sum.exchanges += out[i].exchanges;
        sum.cpu += out[i].cpu;
        sum.wall += out[i].wall;
        if (i % 2 == 1) {
            const Stretch& a = out[i - 1].on ? out[i - 1] : out[i];
            const Stretch& b = out[i - 1].on ? out[i] : out[i - 1];
            pairs.push_back((a.cpu / static_cast<double>(a.exchanges)) / (b.cpu / static_cast<double>(b.exchanges)));
        }
    }
    const auto perExchange = [](const Stretch& s) {
        return s.exchanges > 0 ? s.cpu * 1000 / static_cast<double>(s.exchanges) : NAN;
    };
    say(QStringLiteral("One polling run at 50 / 1 (%1 controllers over TCP, TimeOutDelay %2 ms), the Timeline dock "
                       "(1280x800, 10 min shown) opened and closed by turns, each stretch measured for %3 s after a "
                       "second to settle; %4 stretches each way after one each way to warm up:\n")
            .arg(st.controllers)
            .arg(st.timeoutMs)
            .arg(st.seconds)
            .arg(st.toggled));
    say(QStringLiteral("| stretches | exchanges/s | console CPU | CPU per exchange (ms) | against closed |"));
    say(QStringLiteral("|---|---|---|---|---|"));
    for (const Stretch* s : {&off, &on})
        say(QStringLiteral("| %1 | %2 | %3 | %4 | %5 |")
                .arg(s->on ? QStringLiteral("Timeline open") : QStringLiteral("Timeline closed"))
                .arg(s->wall > 0 ? static_cast<double>(s->exchanges) / s->wall : 0, 0, 'f', 1)
                .arg(pct(s->wall > 0 ? s->cpu / s->wall : 0), ms(perExchange(*s)),
                     QString::number(perExchange(*s) / perExchange(off) * 100, 'f', 1) + "%"));
    std::sort(pairs.begin(), pairs.end());
    if (!pairs.empty())
        say(QStringLiteral("\nThe %1 pairs of neighbouring stretches, CPU per exchange open / closed: median %2%, "
                           "from %3% to %4%.")
                .arg(pairs.size())
                .arg(median(pairs) * 100, 0, 'f', 1)
                .arg(pairs.front() * 100, 0, 'f', 1)
                .arg(pairs.back() * 100, 0, 'f', 1));
}

// For a screenshot: the console polls tarvo-sim until it is ended, the dock shown on its own at
// 1280x800 over the last minute; the second slot's controller never answers, the third's answers
// only every third request it hears.
int showRun(Settings st, const Endpoint& ep)
{
    st.controllers = st.show;
    if (st.dark) {
        // A dark palette of the kind desktop themes give, to see that the colours still read.
        QApplication::setStyle(QStringLiteral("Fusion"));
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
        dark.setColor(QPalette::WindowText, QColor(0xe0, 0xe0, 0xe0));
        dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
        dark.setColor(QPalette::AlternateBase, QColor(0x28, 0x28, 0x28));
        dark.setColor(QPalette::Text, QColor(0xe0, 0xe0, 0xe0));
        dark.setColor(QPalette::PlaceholderText, QColor(0x9a, 0x9a, 0x9a));
        dark.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
        dark.setColor(QPalette::ButtonText, QColor(0xe0, 0xe0, 0xe0));
        dark.setColor(QPalette::Mid, QColor(0x50, 0x50, 0x50));
        QApplication::setPalette(dark);
    }
    Console console(st, ep, true);
    console.stack.model.ini.slotNames[0] = QStringLiteral("Entrance reader");
    console.stack.model.ini.slotNames[1] = QStringLiteral("Boiler room (silent)");
    console.stack.model.ini.slotNames[2] = QStringLiteral("Gate 2 (flaky)");
    TimelineDock& dock = *console.dock;
    dock.setFloating(true);
    dock.move(0, 0);
    dock.resize(1280, 800);
    dock.show();
    dock.refreshLanes();
    dock.findChild<QComboBox*>(QStringLiteral("TimelineSpan"))->setCurrentIndex(0);
    // Until the process is ended: then polling stops, and the simulator with the helper.
    const auto signalWatch = watchTerminationSignals([&console] { console.window.CmdStop_Click(); });
    console.window.CmdStart_Click();
    return 0;
}

bool parse(const QCoreApplication& app, Settings& st)
{
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "What the Timeline dock costs the console: memory and repaint time over a long session fed at speed, and "
        "the CPU per exchange with the dock open and closed in one polling run of tarvo-sim over TCP. Prints "
        "Markdown tables."));
    p.addHelpOption();
    const QCommandLineOption controllers(QStringLiteral("controllers"), QStringLiteral("Controllers (default 32)."),
                                         QStringLiteral("n"), QStringLiteral("32"));
    const QCommandLineOption hours(QStringLiteral("hours"),
                                   QStringLiteral("Hours of the session at the default delays (default 24)."),
                                   QStringLiteral("h"), QStringLiteral("24"));
    const QCommandLineOption repaints(QStringLiteral("repaints"),
                                      QStringLiteral("Repaints timed per span (default 200; 0: no memory run)."),
                                      QStringLiteral("n"), QStringLiteral("200"));
    const QCommandLineOption seconds(QStringLiteral("seconds"),
                                     QStringLiteral("Length of each stretch of the toggled run (default 10)."),
                                     QStringLiteral("s"), QStringLiteral("10"));
    const QCommandLineOption toggled(QStringLiteral("toggled"),
                                     QStringLiteral("Stretches each way of the toggled run (default 6; 0: none)."),
                                     QStringLiteral("n"), QStringLiteral("6"));
    const QCommandLineOption show(
        QStringLiteral("show"),
        QStringLiteral("Instead: poll tarvo-sim (controller 2 silent, 3 flaky) with N lanes, the dock shown at "
                       "1280x800, until ended; for a screenshot."),
        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption timeout(QStringLiteral("timeout"), QStringLiteral("TimeOutDelay in ms (default 1500)."),
                                     QStringLiteral("ms"), QStringLiteral("1500"));
    const QCommandLineOption dark(QStringLiteral("dark"), QStringLiteral("With --show: a dark palette."));
    const QCommandLineOption sim(QStringLiteral("sim"), QStringLiteral("tarvo-sim to use."), QStringLiteral("path"),
                                 QStringLiteral(TARVO_SIM_PATH));
    p.addOptions({controllers, hours, repaints, seconds, toggled, show, timeout, dark, sim});
    p.process(app);
    bool ok = true;
    bool all = true;
    st.controllers = p.value(controllers).toInt(&ok);
    all = all && ok && st.controllers >= 1 && st.controllers <= 32;
    st.slowHours = p.value(hours).toDouble(&ok);
    all = all && ok && st.slowHours >= 0;
    st.repaints = p.value(repaints).toInt(&ok);
    all = all && ok && st.repaints >= 0;
    st.seconds = p.value(seconds).toDouble(&ok);
    all = all && ok && st.seconds > 0;
    st.toggled = p.value(toggled).toInt(&ok);
    all = all && ok && st.toggled >= 0;
    st.show = p.value(show).toInt(&ok);
    all = all && ok && st.show >= 0 && st.show <= 32;
    st.timeoutMs = p.value(timeout).toInt(&ok);
    all = all && ok && st.timeoutMs > 0;
    st.simPath = p.value(sim);
    st.dark = p.isSet(dark);
    return all;
}

} // namespace

int main(int argc, char** argv)
{
    // Drawn nowhere to be seen unless shown for a screenshot: the measurement needs no display.
    const bool showing = [&] {
        for (int i = 1; i < argc; ++i)
            if (QByteArray(argv[i]).startsWith("--show"))
                return true;
        return false;
    }();
    if (!showing && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    Settings st;
    if (!parse(app, st)) {
        std::fprintf(stderr, "tarvo-bench-timeline: bad option value (see --help)\n");
        return 2;
    }
    QStringList simArgs{"--protocol", "modbus", "--tcp", "127.0.0.1:0", "--log", "/dev/null"};
    if (st.show > 0)
        simArgs << "--fault"
                << "1:silent"
                << "--fault"
                << "2:from=3";
    Helper sim;
    if ((st.show > 0 || st.toggled > 0) && !sim.start(st.simPath, simArgs, false, true)) {
        std::fprintf(stderr, "tarvo-bench-timeline: cannot start %s\n", qPrintable(st.simPath));
        return 1;
    }
    Endpoint ep;
    ep.serial = false;
    ep.tcpPort = sim.tcpPort;
    if (st.show > 0)
        return showRun(st, ep);

    // The memory first, while the process's heap holds nothing of the polling run.
    if (st.repaints > 0) {
        std::fprintf(stderr, "tarvo-bench-timeline: memory and repaint\n");
        memoryAndRepaint(st);
    }
    if (st.toggled > 0) {
        say(QString());
        std::fprintf(stderr, "tarvo-bench-timeline: toggled run, %d stretches each way\n", st.toggled);
        toggledRun(st, ep);
    }
    return 0;
}
