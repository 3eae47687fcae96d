// tarvo-bench-poll: continuous polling against tarvo-sim, measured from inside the console's own
// process, with mbpoll polling the same simulator for the same registers alongside.
//
// This process runs the console's real stack below the window (model, link, engine, polling, steady
// clock, Qt event pump), so its CPU time is the console's. The simulator, the line relay and mbpoll
// are separate processes and are not counted. See --help and bench/README.md.

#include "BenchConsole.h"
#include "Engine.h"
#include "Exchange.h"
#include "Polling.h"
#include "Stack.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace tarvo;
using namespace tarvo::bench;

namespace {

constexpr int kEarlyProbe = 100; // exchanges before the first memory reading

struct Settings {
    double seconds = 10;
    int exchanges = 10000;
    int baud = 38400;
    QList<bool> links;      // true: serial
    QList<int> controllers; // slots polled per run
    QList<bool> delays;     // true: the console's default delays
    bool pacedLine = true;
    bool mbpoll = true;
    QString simPath;
    QString wirePath;
    QString mbpollPath;
};

// ---- Measurements

// Keeps what each attempt reports, in storage sized and touched before polling starts, so that
// the measurement itself does not grow the memory it measures.
class Recorder final : public ExchangeObserver {
public:
    struct Sample {
        double sentAt;
        double repliedAt;
        int bytes; // request and reply
        bool reply;
    };

    explicit Recorder(size_t capacity)
    {
        m_samples.resize(capacity);
        std::memset(static_cast<void*>(m_samples.data()), 0, capacity * sizeof(Sample));
        m_samples.clear();
    }

    void attemptFinished(const AttemptRecord& r) override
    {
        const bool reply = r.verdict == AttemptRecord::Verdict::Reply;
        if (reply)
            ++replies;
        else
            ++misses;
        if (m_samples.size() < m_samples.capacity())
            m_samples.push_back({r.sentAt, r.repliedAt, static_cast<int>(r.frame.size() / 2 + r.reply.size()), reply});
        if (reply && onReply)
            onReply(replies);
    }

    const std::vector<Sample>& samples() const { return m_samples; }
    long replies = 0;
    long misses = 0;
    std::function<void(long)> onReply;

private:
    std::vector<Sample> m_samples;
};

// How late this machine wakes a process that sleeps: nanosleep(2 ms) again and again, each
// oversleep in ms. Part of every figure of the console's own share is this lateness, which belongs to
// the machine (its scheduler, its virtualisation) and not to the console: the tables give the
// console's p99 also as a multiple of the machine's.
struct WakeUps {
    double medianMs = NAN;
    double p99Ms = NAN;
    int samples = 0;
};

WakeUps measureWakeUps(double seconds)
{
    constexpr long kSleepNs = 2'000'000;
    std::vector<double> late;
    const int n = static_cast<int>(seconds / 0.002);
    late.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        timespec before{}, after{};
        clock_gettime(CLOCK_MONOTONIC, &before);
        const timespec request{0, kSleepNs};
        nanosleep(&request, nullptr);
        clock_gettime(CLOCK_MONOTONIC, &after);
        const double slept = static_cast<double>(after.tv_sec - before.tv_sec) * 1e3 +
                             static_cast<double>(after.tv_nsec - before.tv_nsec) / 1e6;
        late.push_back(slept - static_cast<double>(kSleepNs) / 1e6);
    }
    return {percentile(late, 0.5), percentile(late, 0.99), n};
}

// ---- One run of the console

struct ConsoleFigures {
    long exchanges = 0;
    long misses = 0;
    double wall = 0;
    double cpu = 0;
    double beyondMedianMs = NAN;
    double beyondP99Ms = NAN;
    double beyondMaxMs = NAN;
    double beyondMeanMs = NAN;
    double machineBusy = NAN;        // share of all processors busy during the run, this bench included
    double over2msShare = NAN;       // exchanges more than 2 ms beyond the floor
    double replyWaitMedianMs = NAN;  // send to reply read (reply wait + settle)
    double afterReplyMedianMs = NAN; // reply read to the next send (pacing, check, loop, write)
    double ownMedianMs = NAN;        // the console's own share, timed line only (see ownDelays)
    double ownP99Ms = NAN;
    double ownMaxMs = NAN;
    std::optional<Memory> early;
    std::optional<Memory> late;
    std::vector<Recorder::Sample> samples;
    double monotonicOffset = 0; // CLOCK_MONOTONIC seconds = the console clock's reading + this
    double waitingS = 0;
    double scanS = 0;
    double rate() const { return wall > 0 ? static_cast<double>(exchanges) / wall : 0; }
    double cpuShare() const { return wall > 0 ? cpu / wall : 0; }
};

struct Console : ConsoleSeams {
    // Without a window nothing flushes the journal: its file is not a sink here, so that attempts are
    // not kept for nobody.
    Console() { stack.journal.removeSink(&stack.journalFile); }
    Stack stack{{clock, pump, trace, prompter, nullptr, {}}};
    ConsoleModel& model = stack.model;
    Engine& engine = stack.engine;
    Polling& polling = stack.polling;
};

ConsoleFigures runConsole(const Endpoint& ep, int controllers, bool defaultDelays, int baud, double seconds,
                          long stopAfter)
{
    Console c;
    setUpPolling(c.model, ep, controllers, defaultDelays, baud);
    const double waitingS = defaultDelays ? 0.050 : 0;
    const double scanS = defaultDelays ? 0.001 : 0;
    const LineFormat line = c.model.linkSettings().line;
    timespec mono{};
    clock_gettime(CLOCK_MONOTONIC, &mono);
    const double monotonicOffset =
        static_cast<double>(mono.tv_sec) + static_cast<double>(mono.tv_nsec) / 1e9 - c.clock.now();

    // Room for every exchange the run can make (TCP without delays can pass 10,000 a second),
    // allocated before polling starts; beyond it exchanges are still counted, no longer timed.
    const size_t capacity = static_cast<size_t>(std::max<double>(static_cast<double>(stopAfter), seconds * 20000)) + 16;
    Recorder recorder(capacity);
    ConsoleFigures f;
    f.monotonicOffset = monotonicOffset;
    f.waitingS = waitingS;
    f.scanS = scanS;
    MemoryProbes probes{kEarlyProbe, stopAfter};
    recorder.onReply = [&](long n) {
        if (probes.at(n))
            c.polling.stop();
    };
    c.engine.addObserver(&recorder);

    const TimedRun run =
        timeStart([&] { c.polling.start(); }, [&] { c.polling.stop(); }, c.clock, stopAfter > 0 ? 0 : seconds);
    f.wall = run.wall;
    f.cpu = run.cpu;
    f.machineBusy = run.busy;
    f.early = probes.early;
    f.late = probes.late;
    f.exchanges = recorder.replies;
    f.misses = recorder.misses;

    // Time beyond the floor: from one send to the next, less what the line and the delays impose.
    // The pacing pause counts from the send, so it adds only what Scan exceeds the rest.
    std::vector<double> beyond;
    std::vector<double> replyWait;
    std::vector<double> afterReply;
    const auto& s = recorder.samples();
    beyond.reserve(s.size());
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        if (!s[i].reply || !s[i + 1].reply)
            continue;
        // The line's byte time follows the format the console connects with (8N2 here, 11 bits).
        const double floor =
            ep.serial ? exchangeFloor(line, baud, s[i].bytes, 0, waitingS, scanS).floor : std::max(scanS, waitingS);
        beyond.push_back((s[i + 1].sentAt - s[i].sentAt - floor) * 1000);
        replyWait.push_back((s[i].repliedAt - s[i].sentAt) * 1000);
        afterReply.push_back((s[i + 1].sentAt - s[i].repliedAt) * 1000);
    }
    f.beyondMedianMs = percentile(beyond, 0.5);
    f.beyondP99Ms = percentile(beyond, 0.99);
    f.beyondMaxMs = percentile(beyond, 1.0);
    if (!beyond.empty()) {
        double sum = 0;
        long over = 0;
        for (double b : beyond) {
            sum += b;
            over += b > 2.0 ? 1 : 0;
        }
        f.beyondMeanMs = sum / static_cast<double>(beyond.size());
        f.over2msShare = static_cast<double>(over) / static_cast<double>(beyond.size());
    }
    f.replyWaitMedianMs = percentile(replyWait, 0.5);
    f.afterReplyMedianMs = percentile(afterReply, 0.5);
    f.samples = s;
    return f;
}

// The console's own share of each exchange on the timed line, which logs when every answer's last
// byte reached the console: from the moment the line and the delays allowed the next request (one
// WaitingDelay of silence after the answer, Scan after the send) to the moment it was sent. What
// the simulator and the line took is left out.
void addOwnDelays(ConsoleFigures& f, const QString& answersPath)
{
    std::vector<double> answers;
    QFile file(answersPath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    while (!file.atEnd())
        answers.push_back(file.readLine().trimmed().toDouble() / 1e9);
    std::sort(answers.begin(), answers.end());
    std::vector<double> own;
    const auto& s = f.samples;
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        if (!s[i].reply || !s[i + 1].reply)
            continue;
        const double sent = s[i].sentAt + f.monotonicOffset;
        const double next = s[i + 1].sentAt + f.monotonicOffset;
        auto last = std::lower_bound(answers.begin(), answers.end(), next);
        if (last == answers.begin() || *(last - 1) <= sent)
            continue;
        const double answered = *(last - 1);
        own.push_back((next - std::max(answered + f.waitingS, sent + f.scanS)) * 1000);
    }
    f.ownMedianMs = percentile(own, 0.5);
    f.ownP99Ms = percentile(own, 0.99);
    f.ownMaxMs = percentile(own, 1.0);
}

// ---- mbpoll on the same line

struct MbpollFigures {
    bool ran = false;
    QString note;
    long exchanges = 0;
    double wall = 0;
    double cpu = 0;
    double rate() const { return wall > 0 ? static_cast<double>(exchanges) / wall : 0; }
    double cpuShare() const { return wall > 0 ? cpu / wall : 0; }
};

double processCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return NAN;
    const QByteArray text = stat.readAll();
    // The command name may hold spaces; the fields after it are plain.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return NAN;
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    return (fields[11].toDouble() + fields[12].toDouble()) / ticks; // utime, stime
}

MbpollFigures runMbpoll(const Settings& st, const QString& device, int controllers)
{
    MbpollFigures f;
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("mbpoll.out"));
    QProcess p;
    p.setStandardOutputFile(out);
    p.setStandardErrorFile(dir.filePath(QStringLiteral("mbpoll.err")));
    const QString slaves = controllers == 1 ? QStringLiteral("1") : QStringLiteral("1:%1").arg(controllers);
    // The console's frame: Modbus 04 (input registers), 6 registers from 0x100, slave id = console
    // address + 1, 8 data bits, no parity, 2 stop bits, the console's time-out. mbpoll's fastest pace
    // is a 10 ms pause after each read (it refuses less).
    p.start(st.mbpollPath,
            {QStringLiteral("-m"),  QStringLiteral("rtu"),  QStringLiteral("-b"),  QString::number(st.baud),
             QStringLiteral("-d"),  QStringLiteral("8"),    QStringLiteral("-s"),  QStringLiteral("2"),
             QStringLiteral("-P"),  QStringLiteral("none"), QStringLiteral("-a"),  slaves,
             QStringLiteral("-t"),  QStringLiteral("3"),    QStringLiteral("-0"),  QStringLiteral("-r"),
             QStringLiteral("256"), QStringLiteral("-c"),   QStringLiteral("6"),   QStringLiteral("-l"),
             QStringLiteral("10"),  QStringLiteral("-o"),   QStringLiteral("1.5"), device});
    if (!p.waitForStarted(5000)) {
        f.note = QStringLiteral("mbpoll did not start");
        return f;
    }
    QElapsedTimer t;
    t.start();
    p.waitForFinished(static_cast<int>(st.seconds * 1000));
    f.wall = static_cast<double>(t.nsecsElapsed()) / 1e9;
    f.cpu = processCpuSeconds(p.processId());
    if (p.state() != QProcess::NotRunning) {
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        if (!p.waitForFinished(3000)) {
            p.kill();
            p.waitForFinished(2000);
        }
    } else {
        f.note = QStringLiteral("mbpoll ended early (exit %1)").arg(p.exitCode());
    }
    // mbpoll writes one line per register read; a failed read writes none of them.
    QFile text(out);
    if (text.open(QIODevice::ReadOnly)) {
        long lines = 0;
        while (!text.atEnd()) {
            if (text.readLine().startsWith('['))
                ++lines;
        }
        f.exchanges = lines / 6;
    }
    QFile err(dir.filePath(QStringLiteral("mbpoll.err")));
    if (err.open(QIODevice::ReadOnly)) {
        const QByteArray e = err.readAll();
        const long failures = e.count("Read input register failed");
        if (failures > 0)
            f.note = QStringLiteral("%1 failed reads").arg(failures);
    }
    f.ran = true;
    return f;
}

// ---- Output

QString delayName(bool defaults)
{
    return defaults ? QStringLiteral("50 / 1") : QStringLiteral("0 / 0");
}

bool parse(const QCoreApplication& app, Settings& st)
{
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Continuous polling of 1 and 32 controllers played by tarvo-sim (Modbus, function ReadBuffer100), over a "
        "pseudo-terminal and over TCP, at the default delays (WaitingDelay 50 / Scan 1) and at 0 / 0; mbpoll polls "
        "the same simulator for the same registers over the pseudo-terminal. Prints Markdown tables."));
    p.addHelpOption();
    const QCommandLineOption seconds(QStringLiteral("seconds"),
                                     QStringLiteral("Length of each timed run (default 10)."), QStringLiteral("s"),
                                     QStringLiteral("10"));
    const QCommandLineOption exchanges(QStringLiteral("exchanges"),
                                       QStringLiteral("Exchanges of the memory run, 0 to skip it (default 10000)."),
                                       QStringLiteral("n"), QStringLiteral("10000"));
    const QCommandLineOption links(QStringLiteral("links"), QStringLiteral("serial, tcp or both (default serial,tcp)."),
                                   QStringLiteral("list"), QStringLiteral("serial,tcp"));
    const QCommandLineOption controllers(QStringLiteral("controllers"),
                                         QStringLiteral("Controllers per run (default 1,32)."), QStringLiteral("list"),
                                         QStringLiteral("1,32"));
    const QCommandLineOption delays(QStringLiteral("delays"), QStringLiteral("default, zero or both (default both)."),
                                    QStringLiteral("list"), QStringLiteral("default,zero"));
    const QCommandLineOption baud(QStringLiteral("baud"), QStringLiteral("Serial speed (default 38400)."),
                                  QStringLiteral("bps"), QStringLiteral("38400"));
    const QCommandLineOption bare(QStringLiteral("bare-pty"),
                                  QStringLiteral("Open tarvo-sim's pseudo-terminal directly, which moves bytes at "
                                                 "memory speed, instead of through tarvo-bench-wire's timed line."));
    const QCommandLineOption noMbpoll(QStringLiteral("no-mbpoll"), QStringLiteral("Do not run mbpoll."));
    const QCommandLineOption sim(QStringLiteral("sim"), QStringLiteral("tarvo-sim to use."), QStringLiteral("path"),
                                 QStringLiteral(TARVO_SIM_PATH));
    const QCommandLineOption wire(QStringLiteral("wire"), QStringLiteral("tarvo-bench-wire to use."),
                                  QStringLiteral("path"), QStringLiteral(TARVO_WIRE_PATH));
    const QCommandLineOption mbpoll(QStringLiteral("mbpoll"), QStringLiteral("mbpoll to use."), QStringLiteral("path"),
                                    QStringLiteral("mbpoll"));
    p.addOptions({seconds, exchanges, links, controllers, delays, baud, bare, noMbpoll, sim, wire, mbpoll});
    p.process(app);

    bool ok = true;
    st.seconds = p.value(seconds).toDouble(&ok);
    if (!ok || st.seconds <= 0)
        return false;
    st.exchanges = p.value(exchanges).toInt(&ok);
    if (!ok || st.exchanges < 0 || (st.exchanges > 0 && st.exchanges < kEarlyProbe))
        return false;
    st.baud = p.value(baud).toInt(&ok);
    if (!ok || st.baud <= 0)
        return false;
    for (const QString& l : p.value(links).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (l != QLatin1String("serial") && l != QLatin1String("tcp"))
            return false;
        st.links << (l == QLatin1String("serial"));
    }
    for (const QString& n : p.value(controllers).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int v = n.toInt(&ok);
        if (!ok || v < 1 || v > ConsoleModel::kSlots)
            return false;
        st.controllers << v;
    }
    for (const QString& d : p.value(delays).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (d != QLatin1String("default") && d != QLatin1String("zero"))
            return false;
        st.delays << (d == QLatin1String("default"));
    }
    st.pacedLine = !p.isSet(bare);
    st.mbpoll = !p.isSet(noMbpoll);
    st.simPath = p.value(sim);
    st.wirePath = p.value(wire);
    st.mbpollPath = p.value(mbpoll);
    return true;
}

// The simulator for one run. Over the serial link every user (the console, then mbpoll) gets a line
// of its own, started after the previous user's line is gone, so that a reply still on its way when
// one user stops never reaches the next.
struct Bench {
    QTemporaryDir dir;
    Helper sim;
    std::unique_ptr<Helper> wire;
    QString answersPath; // the current line's log of answers
    int lines = 0;
    Endpoint endpoint;

    bool start(const Settings& st, bool serial)
    {
        QStringList args{QStringLiteral("--protocol"), QStringLiteral("modbus"), QStringLiteral("--log"),
                         dir.filePath(QStringLiteral("tarvo-sim.log"))};
        if (serial)
            args << QStringLiteral("--serial") << QStringLiteral("--speed") << QString::number(st.baud);
        else
            args << QStringLiteral("--tcp") << QStringLiteral("127.0.0.1:0");
        if (!sim.start(st.simPath, args, serial, !serial)) {
            say(QStringLiteral("cannot start %1").arg(st.simPath));
            return false;
        }
        endpoint.serial = serial;
        endpoint.tcpPort = sim.tcpPort;
        endpoint.ptyPath = sim.ptyPath;
        return !serial || newLine(st);
    }

    bool newLine(const Settings& st)
    {
        if (!st.pacedLine) {
            QThread::msleep(300);
            return true;
        }
        if (wire) {
            // Whatever was still on its way is delivered into the old line before it goes.
            QThread::msleep(300);
            closeLine();
        }
        wire = std::make_unique<Helper>();
        answersPath = dir.filePath(QStringLiteral("answers-%1").arg(++lines));
        if (!wire->start(st.wirePath, {sim.ptyPath, QString::number(st.baud), answersPath}, true, false)) {
            say(QStringLiteral("cannot start %1").arg(st.wirePath));
            return false;
        }
        endpoint.ptyPath = wire->ptyPath;
        return true;
    }

    // Ends the current line; its own delays, "late p99 / turnaround p99" in ms.
    QString closeLine()
    {
        if (!wire)
            return QStringLiteral("-");
        const QString report = wire->stop();
        wire.reset();
        QString late = QStringLiteral("?");
        QString turnaround = QStringLiteral("?");
        for (const QString& line : report.split(QLatin1Char('\n'))) {
            const QString p99 = line.section(QStringLiteral("p99 "), 1).section(QLatin1Char(' '), 0, 0);
            if (line.startsWith(QLatin1String("wire: delivery lateness")))
                late = p99;
            else if (line.startsWith(QLatin1String("wire: far-end turnaround")))
                turnaround = p99;
        }
        return late + QStringLiteral(" / ") + turnaround;
    }
};

QString linkName(const Settings& st, bool serial)
{
    if (!serial)
        return QStringLiteral("TCP");
    return st.pacedLine ? QStringLiteral("serial %1").arg(st.baud) : QStringLiteral("bare pty");
}

// One line of the tables.
struct Row {
    QString link;
    int controllers = 0;
    bool defaults = true;
    ConsoleFigures console;
    QString line = QStringLiteral("-");
    QString mbpollRate;
    QString mbpollCpu;
    std::optional<MbpollFigures> mbpoll;
};

QString ratio(double a, double b)
{
    return std::isnan(a) || std::isnan(b) || b <= 0 ? QStringLiteral("-") : QString::number(a / b, 'f', 2) + "x";
}

// Processor time per exchange in ms; "-" when nothing was exchanged.
double cpuPerExchangeMs(double cpu, long exchanges)
{
    return exchanges > 0 ? cpu * 1000 / static_cast<double>(exchanges) : NAN;
}

// The serial runs against the machine: the console's processor time per exchange beside mbpoll's,
// and the console's own p99 beside the machine's wake-up lateness.
void printMachineTable(const QList<Row>& rows, const WakeUps& wake)
{
    say(QStringLiteral("Machine wake-up lateness (nanosleep of 2 ms, %1 times, around the polling runs): median %2 "
                       "ms, p99 %3 ms.\n")
            .arg(wake.samples)
            .arg(ms(wake.medianMs), ms(wake.p99Ms)));
    say(QStringLiteral("| link | controllers | WaitingDelay / Scan (ms) | console CPU per exchange (ms) | mbpoll CPU "
                       "per exchange (ms) | console / mbpoll | console's own p99 (ms) | own p99 / machine wake-up "
                       "p99 |"));
    say(QStringLiteral("|---|---|---|---|---|---|---|---|"));
    for (const Row& r : rows) {
        if (std::isnan(r.console.ownP99Ms) && !r.mbpoll)
            continue;
        const double console = cpuPerExchangeMs(r.console.cpu, r.console.exchanges);
        const double mbpoll = r.mbpoll ? cpuPerExchangeMs(r.mbpoll->cpu, r.mbpoll->exchanges) : NAN;
        say(QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 |")
                .arg(r.link)
                .arg(r.controllers)
                .arg(delayName(r.defaults), ms(console), ms(mbpoll), ratio(console, mbpoll), ms(r.console.ownP99Ms),
                     ratio(r.console.ownP99Ms, wake.p99Ms)));
    }
}

void printTables(const QList<Row>& rows)
{
    say(QStringLiteral(
        "| link | controllers | WaitingDelay / Scan (ms) | exchanges/s | console CPU | beyond floor median "
        "(ms) | beyond floor p99 (ms) | beyond floor max (ms) | over 2 ms | console's own p99 (ms) | "
        "mbpoll exchanges/s | mbpoll CPU | machine busy |"));
    say(QStringLiteral("|---|---|---|---|---|---|---|---|---|---|---|---|---|"));
    for (const Row& r : rows) {
        const ConsoleFigures& c = r.console;
        say(QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 | %9 | %10 | %11 | %12 | %13 |")
                .arg(r.link)
                .arg(r.controllers)
                .arg(delayName(r.defaults))
                .arg(c.rate(), 0, 'f', 1)
                .arg(pct(c.cpuShare()), ms(c.beyondMedianMs), ms(c.beyondP99Ms), ms(c.beyondMaxMs), pct(c.over2msShare),
                     ms(c.ownP99Ms), r.mbpollRate, r.mbpollCpu, pct(c.machineBusy)));
    }
    say(QString());
    say(QStringLiteral(
        "| link | controllers | WaitingDelay / Scan (ms) | beyond floor mean (ms) | send→read median (ms) | "
        "read→next send median (ms) | console's own median / max (ms) | line late p99 / simulator "
        "turnaround p99 (ms) | no-reply attempts |"));
    say(QStringLiteral("|---|---|---|---|---|---|---|---|---|"));
    for (const Row& r : rows) {
        const ConsoleFigures& c = r.console;
        say(QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 / %8 | %9 | %10 |")
                .arg(r.link)
                .arg(r.controllers)
                .arg(delayName(r.defaults), ms(c.beyondMeanMs), ms(c.replyWaitMedianMs), ms(c.afterReplyMedianMs),
                     ms(c.ownMedianMs), ms(c.ownMaxMs), r.line)
                .arg(c.misses));
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    Settings st;
    if (!parse(app, st)) {
        std::fprintf(stderr, "tarvo-bench-poll: bad option value (see --help)\n");
        return 2;
    }

    // The machine's own lateness, half before the runs and half after, so that a change of load
    // during the bench shows in it too.
    const double wakeSeconds = std::clamp(st.seconds / 2, 1.0, 5.0);
    const WakeUps before = measureWakeUps(wakeSeconds);
    QList<Row> rows;
    for (bool serial : st.links) {
        for (int n : st.controllers) {
            for (bool defaults : st.delays) {
                std::fprintf(stderr, "tarvo-bench-poll: %s, %d controller(s), %s\n", qPrintable(linkName(st, serial)),
                             n, qPrintable(delayName(defaults)));
                Bench bench;
                if (!bench.start(st, serial))
                    return 1;
                Row row;
                row.link = linkName(st, serial);
                row.controllers = n;
                row.defaults = defaults;
                row.console = runConsole(bench.endpoint, n, defaults, st.baud, st.seconds, 0);
                if (serial && st.pacedLine) {
                    QThread::msleep(300);
                    row.line = bench.closeLine();
                    addOwnDelays(row.console, bench.answersPath);
                }
                row.console.samples = {};
                row.mbpollRate = QStringLiteral("n/a (TCP)");
                row.mbpollCpu = QStringLiteral("n/a");
                if (serial && st.mbpoll) {
                    if (!bench.wire && !bench.newLine(st))
                        return 1;
                    const MbpollFigures mb = runMbpoll(st, bench.endpoint.ptyPath, n);
                    row.mbpollRate = mb.ran ? QString::number(mb.rate(), 'f', 1) : QStringLiteral("-");
                    if (!mb.note.isEmpty())
                        row.mbpollRate += QStringLiteral(" (%1)").arg(mb.note);
                    row.mbpollCpu = mb.ran ? pct(mb.cpuShare()) : QStringLiteral("-");
                    if (mb.ran)
                        row.mbpoll = mb;
                } else if (serial) {
                    row.mbpollRate = row.mbpollCpu = QStringLiteral("not run");
                }
                rows << row;
            }
        }
    }

    if (!rows.isEmpty()) {
        say(QStringLiteral(
                "Each run: %1 s of continuous polling, Modbus ReadBuffer100 (function 04, 6 registers), "
                "TimeOutDelay 1500 ms. Floor per exchange = max(Scan, request and reply bytes x 11 bits (8N2) / "
                "speed + WaitingDelay); TCP has no byte time. The console's own share (timed serial line "
                "only) leaves out what the simulator and the line took. mbpoll cannot poll tarvo-sim over "
                "TCP: it speaks Modbus TCP, tarvo-sim raw RTU frames.\n")
                .arg(st.seconds));
        printTables(rows);
        const WakeUps after = measureWakeUps(wakeSeconds);
        WakeUps wake;
        wake.samples = before.samples + after.samples;
        wake.medianMs = (before.medianMs + after.medianMs) / 2;
        wake.p99Ms = std::max(before.p99Ms, after.p99Ms);
        say(QString());
        printMachineTable(rows, wake);
    }

    if (st.exchanges > 0) {
        // Memory: one run long enough to reach the count, on the fastest path (TCP, no delays, every
        // slot), so that it takes seconds rather than minutes.
        std::fprintf(stderr, "tarvo-bench-poll: memory run, %d exchanges\n", st.exchanges);
        Bench bench;
        if (!bench.start(st, false))
            return 1;
        const ConsoleFigures c = runConsole(bench.endpoint, ConsoleModel::kSlots, false, st.baud, 0, st.exchanges);
        say(QString());
        say(QStringLiteral("| memory run | exchanges | VmRSS after %1 (MiB) | VmHWM after %1 (MiB) | VmRSS after %2 "
                           "(MiB) | VmHWM after %2 (MiB) | growth (KiB) | exchanges/s | console CPU | machine busy |")
                .arg(kEarlyProbe)
                .arg(st.exchanges));
        say(QStringLiteral("|---|---|---|---|---|---|---|---|---|---|"));
        const Memory e = c.early.value_or(Memory{});
        const Memory l = c.late.value_or(Memory{});
        say(QStringLiteral("| TCP, %1 controllers, 0 / 0 | %2 | %3 | %4 | %5 | %6 | %7 | %8 | %9 | %10 |")
                .arg(ConsoleModel::kSlots)
                .arg(c.exchanges)
                .arg(mib(e.rssKiB), mib(e.hwmKiB), mib(l.rssKiB), mib(l.hwmKiB))
                .arg(l.rssKiB - e.rssKiB)
                .arg(c.rate(), 0, 'f', 1)
                .arg(pct(c.cpuShare()), pct(c.machineBusy)));
    }
    return 0;
}
