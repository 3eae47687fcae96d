// tarvo-bench-faulty: the console polling controllers that fail, for a long time, and whether its CPU
// per exchange stays where it started. The console's own stack and window run in this process (the
// window drawn on Qt's offscreen platform, its docks closed, the journal file written), so the
// process's CPU time is the console's; tarvo-sim plays the controllers over TCP in a process of its
// own, each with a fault of its own. See --help and bench/README.md.

#include "BenchConsole.h"
#include "ConsoleWindow.h"
#include "Exchange.h"
#include "Stack.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>

using namespace tarvo;
using namespace tarvo::bench;

namespace {

struct Settings {
    double minutes = 30;
    double interval = 60; // seconds per line of figures
    int controllers = 6;
    // A quarter of the field setup's time-out (200), so that the faults come about three times as
    // often. The waiting delay is the field setup's: over TCP the reply is read one waiting delay
    // after its first byte, and a shorter one would cut the trickled reply (nine bytes 2 ms apart)
    // and hand its rest to the next controllers' exchanges, the silent one's among them.
    QString timeoutMs = QStringLiteral("50");
    QString waitingMs = QStringLiteral("20");
    QString scanMs = QStringLiteral("1");
    QStringList faults;
    QString simPath;
};

// The faults of the field setup this bench copies, one per controller after the first: no
// answer, a bad check value, a dropped connection after five frames, an answer at the second try,
// a reply trickled a byte every 2 ms. Controller 0 answers.
const QStringList kFieldFaults = {QStringLiteral("1:silent"), QStringLiteral("2:badcheck"), QStringLiteral("3:drop=5"),
                                  QStringLiteral("4:from=2"), QStringLiteral("5:trickle=2")};

class Counter final : public ExchangeObserver {
public:
    void attemptFinished(const AttemptRecord& r) override
    {
        ++attempts;
        if (r.verdict == AttemptRecord::Verdict::Reply)
            ++replies;
        else if (r.verdict == AttemptRecord::Verdict::NoReply)
            ++noReply;
    }
    long attempts = 0;
    long replies = 0;
    long noReply = 0;
};

// One stretch of the run, between two readings.
struct Stretch {
    double start = 0; // seconds since Start
    double wall = 0;
    double cpu = 0;
    long attempts = 0;
    long replies = 0;
    long noReply = 0;
    long rssKiB = 0;       // at its end
    qsizetype objects = 0; // in the window, at its end
    double cpuPerAttemptMs() const { return attempts > 0 ? cpu * 1000 / static_cast<double>(attempts) : NAN; }
};

// Size of the journal files written in the folder.
qint64 journalBytes(const QString& folder)
{
    qint64 n = 0;
    QDirIterator it(folder, {QStringLiteral("journal-*.csv")}, QDir::Files);
    while (it.hasNext())
        n += QFileInfo(it.next()).size();
    return n;
}

bool parse(const QCoreApplication& app, Settings& st)
{
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "The console polling controllers that fail (tarvo-sim over TCP, Protocol 4, Read Input), its window "
        "drawn on the offscreen platform with the docks closed and the journal file written, for a long time: "
        "CPU per exchange in each stretch, and the last stretch against the first. Prints Markdown."));
    p.addHelpOption();
    const QCommandLineOption minutes(QStringLiteral("minutes"),
                                     QStringLiteral("Length of the polling run (default 30)."), QStringLiteral("m"),
                                     QStringLiteral("30"));
    const QCommandLineOption interval(QStringLiteral("interval"),
                                      QStringLiteral("Seconds per stretch, one row of figures each (default 60)."),
                                      QStringLiteral("s"), QStringLiteral("60"));
    const QCommandLineOption controllers(
        QStringLiteral("controllers"),
        QStringLiteral("Controllers polled, console addresses 0 and up (default 6: the faults' addresses)."),
        QStringLiteral("n"), QStringLiteral("6"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("TimeOutDelay, ms (default 50; the field setup's 200)."),
                                     QStringLiteral("ms"), QStringLiteral("50"));
    const QCommandLineOption waiting(QStringLiteral("waiting"), QStringLiteral("WaitingDelay, ms (default 20)."),
                                     QStringLiteral("ms"), QStringLiteral("20"));
    const QCommandLineOption scan(QStringLiteral("scan"), QStringLiteral("Scan, ms (default 1)."), QStringLiteral("ms"),
                                  QStringLiteral("1"));
    const QCommandLineOption fault(
        QStringLiteral("fault"),
        QStringLiteral("A fault for tarvo-sim (its --fault LIST:MODE), repeated for more; replaces the default "
                       "set (%1). \"none\": every controller answers.")
            .arg(kFieldFaults.join(QStringLiteral(" "))),
        QStringLiteral("list:mode"));
    const QCommandLineOption sim(QStringLiteral("sim"), QStringLiteral("tarvo-sim to use."), QStringLiteral("path"),
                                 QStringLiteral(TARVO_SIM_PATH));
    p.addOptions({minutes, interval, controllers, timeout, waiting, scan, fault, sim});
    p.process(app);

    bool ok = true;
    st.minutes = p.value(minutes).toDouble(&ok);
    if (!ok || st.minutes <= 0)
        return false;
    st.interval = p.value(interval).toDouble(&ok);
    if (!ok || st.interval < 1 || st.interval > st.minutes * 60)
        return false;
    st.controllers = p.value(controllers).toInt(&ok);
    if (!ok || st.controllers < 1 || st.controllers > ConsoleModel::kSlots)
        return false;
    for (const auto& [option, value] :
         {std::pair{&timeout, &st.timeoutMs}, std::pair{&waiting, &st.waitingMs}, std::pair{&scan, &st.scanMs}}) {
        const int v = p.value(*option).toInt(&ok);
        if (!ok || v < 0)
            return false;
        *value = QString::number(v);
    }
    st.faults = p.isSet(fault) ? p.values(fault) : kFieldFaults;
    st.faults.removeAll(QStringLiteral("none"));
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
        std::fprintf(stderr, "tarvo-bench-faulty: bad option value (see --help)\n");
        return 2;
    }
    QStringList simArgs = {"--protocol", "p4",          "--addresses", QStringLiteral("0-%1").arg(st.controllers - 1),
                           "--tcp",      "127.0.0.1:0", "--log",       "/dev/null"};
    for (const QString& f : std::as_const(st.faults))
        simArgs << QStringLiteral("--fault") << f;
    Helper sim;
    if (!sim.start(st.simPath, simArgs, false, true)) {
        std::fprintf(stderr, "tarvo-bench-faulty: cannot start %s\n", qPrintable(st.simPath));
        return 1;
    }

    // The console as the program wires it (src/app/main.cpp): the bus views watched, the journal
    // file on, both docks closed.
    QTemporaryDir dir;
    ConsoleSeams seams;
    Stack stack{{seams.clock, seams.pump, seams.trace, seams.prompter, nullptr, {}}};
    ConsoleWindow window{stack, seams.prompter};
    ConsoleModel& m = stack.model;
    m.choose(Field::Protocol4);
    m.choose(Field::OpTCP);
    m.setText(Field::IP, QStringLiteral("127.0.0.1"));
    m.setText(Field::Port, QString::number(sim.tcpPort));
    m.setListIndex(Field::TxtFunction, 0); // Read Input
    m.setText(Field::TimeOutDelay, st.timeoutMs);
    m.setText(Field::WaitingDelay, st.waitingMs);
    m.setText(Field::Scan, st.scanMs);
    for (int i = 0; i < ConsoleModel::kSlots; ++i) {
        m.setCheck(FieldRef(Field::CheckAdr, i), i < st.controllers ? 1 : 0);
        m.setText(FieldRef(Field::Address, i), QString::number(i));
    }
    m.ini.journal.folder = dir.path();
    m.ini.journal.toFile = true;
    window.watchBus(stack.journal, stack.health, stack.journalFile);
    window.resize(1280, 800);
    window.show();
    {
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }

    Counter counter;
    stack.engine.addObserver(&counter);
    QList<Stretch> stretches;
    const SteadyClock& clock = seams.clock;
    double t0 = 0;
    Stretch now;
    const auto begin = [&](double at) {
        now = Stretch{};
        now.start = at - t0;
        now.wall = -at;
        now.cpu = -cpuSeconds();
        now.attempts = -counter.attempts;
        now.replies = -counter.replies;
        now.noReply = -counter.noReply;
    };
    const int total = std::max(1, static_cast<int>(std::lround(st.minutes * 60 / st.interval)));
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double at = clock.now();
        now.wall += at;
        now.cpu += cpuSeconds();
        now.attempts += counter.attempts;
        now.replies += counter.replies;
        now.noReply += counter.noReply;
        now.rssKiB = readMemory().rssKiB;
        // What the window holds: objects it let go of and never freed show here.
        now.objects = window.findChildren<QObject*>().size();
        stretches << now;
        std::fprintf(stderr,
                     "tarvo-bench-faulty: %5.0f s: %6.1f attempts/s, CPU %5.2f%%, %.4f ms per attempt, VmRSS %s MiB, "
                     "%lld objects in the window\n",
                     now.start + now.wall, static_cast<double>(now.attempts) / now.wall, now.cpu / now.wall * 100,
                     now.cpuPerAttemptMs(), qPrintable(mib(now.rssKiB)), static_cast<long long>(now.objects));
        if (stretches.size() >= total) {
            tick.stop();
            window.CmdStop_Click();
            return;
        }
        begin(at);
    });
    const MachineTicks m0 = machineTicks();
    // Start as a click runs it: from an event handler inside the event loop, so that the cycle's
    // waits are nested in it as the console's are.
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
        t0 = clock.now();
        begin(t0);
        tick.start(static_cast<int>(st.interval * 1000));
        window.CmdStart_Click();
        loop.quit();
    });
    loop.exec();
    const MachineTicks m1 = machineTicks();
    window.flushBus();
    stack.engine.removeObserver(&counter);
    const qint64 fileBytes = journalBytes(dir.path());
    window.setJournalToFile(false);

    if (stretches.size() < 2) {
        std::fprintf(stderr, "tarvo-bench-faulty: the run ended early\n");
        return 1;
    }
    say(QStringLiteral(
            "%1 min of polling %2 controllers over TCP (tarvo-sim, Protocol 4, Read Input), TimeOutDelay %3, "
            "WaitingDelay %4, Scan %5; faults: %6. The console's window on the offscreen platform, docks closed, "
            "the journal file written (%7 MiB at the end). An exchange here is one attempt: one journal row.\n")
            .arg(st.minutes)
            .arg(st.controllers)
            .arg(st.timeoutMs, st.waitingMs, st.scanMs,
                 st.faults.isEmpty() ? QStringLiteral("none") : st.faults.join(QStringLiteral(" ")),
                 mib(fileBytes / 1024)));
    say(QStringLiteral("| from (s) | attempts/s | replies/s | no answer/s | console CPU | CPU per attempt (ms) | "
                       "against the first | VmRSS (MiB) | objects in the window |"));
    say(QStringLiteral("|---|---|---|---|---|---|---|---|---|"));
    const Stretch& first = stretches.first();
    const Stretch& last = stretches.last();
    for (const Stretch& s : std::as_const(stretches)) {
        say(QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 | %9 |")
                .arg(s.start, 0, 'f', 0)
                .arg(static_cast<double>(s.attempts) / s.wall, 0, 'f', 1)
                .arg(static_cast<double>(s.replies) / s.wall, 0, 'f', 1)
                .arg(static_cast<double>(s.noReply) / s.wall, 0, 'f', 1)
                .arg(pct(s.cpu / s.wall), QString::number(s.cpuPerAttemptMs(), 'f', 4))
                .arg(s.cpuPerAttemptMs() / first.cpuPerAttemptMs(), 0, 'f', 3)
                .arg(mib(s.rssKiB))
                .arg(s.objects));
    }
    const double ratio = last.cpuPerAttemptMs() / first.cpuPerAttemptMs();
    say(QStringLiteral("\nCPU per attempt, last stretch against the first: %1 (target at most 1.1: %2); "
                       "machine busy over the run: %3.")
            .arg(ratio, 0, 'f', 3)
            .arg(ratio <= 1.1 ? QStringLiteral("met") : QStringLiteral("missed"))
            .arg(m1.total > m0.total ? pct((m1.busy - m0.busy) / (m1.total - m0.total)) : QStringLiteral("-")));
    return 0;
}
