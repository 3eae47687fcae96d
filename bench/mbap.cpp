// tarvo-bench-mbap: polling tarvo-sim over Modbus TCP, tarvo-cli against mbpoll reading the same
// registers, in one sitting: exchanges per second and CPU per exchange, for 1 and 32 controllers.
// Whole processes, as a script runs them; their CPU is taken from the kernel when they have been
// reaped (getrusage of the children: to the microsecond), never sampled from /proc in clock ticks.
// See --help and bench/README.md.

#include "BenchSupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <memory>
#include <vector>

using namespace tarvo::bench;

namespace {

struct Settings {
    double seconds = 10;
    int repeats = 3;
    int oneShots = 5;
    QString simPath;
    QString cliPath;
    QString mbpollPath;
};

enum class Master { Cli, Mbpoll };

// One way of polling: which master, how many controllers, in how many processes.
struct Setup {
    QString name;
    Master master;
    int controllers;
    int processes; // mbpoll only: 32 processes of one unit id each
    int scanDelayMs = 0;
};

const QList<Setup>& setups()
{
    static const QList<Setup> all = {
        {QStringLiteral("tarvo-cli poll, 0 / 0"), Master::Cli, 1, 1},
        {QStringLiteral("mbpoll -l 10"), Master::Mbpoll, 1, 1},
        {QStringLiteral("tarvo-cli poll, 0 / 0"), Master::Cli, 32, 1},
        {QStringLiteral("mbpoll -a 1:32 -l 10, one process"), Master::Mbpoll, 32, 1},
        {QStringLiteral("32 × mbpoll -l 10 at once, one unit id each"), Master::Mbpoll, 32, 32},
        {QStringLiteral("tarvo-cli poll, 0 / 10 (mbpoll's pace)"), Master::Cli, 1, 1, 10},
    };
    return all;
}

double childrenCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The console's ReadBuffer100 (Modbus 04, 6 input registers from 0x100, 12 bytes out and 21 back
// under MBAP), asked by both masters of console address a, unit id a + 1.
QStringList cliArgs(quint16 port, int controllers, int scanDelayMs)
{
    return {QStringLiteral("poll"),
            QStringLiteral("--tcp"),
            QStringLiteral("127.0.0.1:%1").arg(port),
            QStringLiteral("--mbap"),
            QStringLiteral("--protocol"),
            QStringLiteral("modbus"),
            QStringLiteral("--address"),
            controllers == 1 ? QStringLiteral("0") : QStringLiteral("0..%1").arg(controllers - 1),
            QStringLiteral("--function"),
            QStringLiteral("read-buffer-100"),
            QStringLiteral("--settle"),
            QStringLiteral("0"),
            QStringLiteral("--scan-delay"),
            QString::number(scanDelayMs),
            QStringLiteral("--format"),
            QStringLiteral("csv")};
}

// mbpoll's fastest pace is a 10 ms pause after each read (it refuses less); the console's time-out.
QStringList mbpollArgs(quint16 port, const QString& units, bool once = false)
{
    QStringList args{QStringLiteral("-m"),  QStringLiteral("tcp"), QStringLiteral("-p"),
                     QString::number(port), QStringLiteral("-a"),  units,
                     QStringLiteral("-t"),  QStringLiteral("3"),   QStringLiteral("-0"),
                     QStringLiteral("-r"),  QStringLiteral("256"), QStringLiteral("-c"),
                     QStringLiteral("6"),   QStringLiteral("-o"),  QStringLiteral("1.5")};
    if (once)
        args << QStringLiteral("-1");
    else
        args << QStringLiteral("-l") << QStringLiteral("10");
    return args << QStringLiteral("127.0.0.1");
}

struct Figures {
    long exchanges = 0;
    long failed = 0;
    double wall = 0;
    double cpu = 0; // net of the processes' start and exit
    double busy = 0;
    double total = 0;
    std::vector<double> cpuPerExchangeMs; // each run's
    void add(const Figures& f)
    {
        exchanges += f.exchanges;
        failed += f.failed;
        wall += f.wall;
        cpu += f.cpu;
        busy += f.busy;
        total += f.total;
        cpuPerExchangeMs.insert(cpuPerExchangeMs.end(), f.cpuPerExchangeMs.begin(), f.cpuPerExchangeMs.end());
    }
    double rate() const { return wall > 0 ? static_cast<double>(exchanges) / wall : NAN; }
    double perExchangeMs() const { return exchanges > 0 ? cpu * 1000 / static_cast<double>(exchanges) : NAN; }
};

// What one exchange's whole process costs: start, connect, one read, exit. Taken off each run, so
// that a run's CPU per exchange is the polling's alone.
double oneShotCpu(const Settings& st, Master master, quint16 port)
{
    std::vector<double> cpu;
    for (int i = 0; i < st.oneShots; ++i) {
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        const double before = childrenCpuSeconds();
        if (master == Master::Cli) {
            QStringList args = cliArgs(port, 1, 0);
            args[0] = QStringLiteral("send");
            p.start(st.cliPath, args);
        } else {
            p.start(st.mbpollPath, mbpollArgs(port, QStringLiteral("1"), true));
        }
        if (p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            cpu.push_back(childrenCpuSeconds() - before);
    }
    return median(cpu);
}

Figures runOnce(const Settings& st, const Setup& setup, quint16 port, double fixedCpu)
{
    QTemporaryDir dir;
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int i = 0; i < setup.processes; ++i) {
        auto p = std::make_unique<QProcess>();
        p->setStandardOutputFile(dir.filePath(QStringLiteral("out%1").arg(i)));
        p->setStandardErrorFile(dir.filePath(QStringLiteral("err%1").arg(i)));
        if (setup.master == Master::Cli) {
            p->setProgram(st.cliPath);
            p->setArguments(cliArgs(port, setup.controllers, setup.scanDelayMs));
        } else {
            const QString units = setup.processes > 1      ? QString::number(i + 1)
                                  : setup.controllers == 1 ? QStringLiteral("1")
                                                           : QStringLiteral("1:%1").arg(setup.controllers);
            p->setProgram(st.mbpollPath);
            p->setArguments(mbpollArgs(port, units));
        }
        processes.push_back(std::move(p));
    }

    Figures f;
    const double cpuBefore = childrenCpuSeconds();
    const MachineTicks ticksBefore = machineTicks();
    QElapsedTimer clock;
    clock.start();
    for (auto& p : processes)
        p->start();
    // Nothing here reads their output while they run: the bench sleeps in the kernel.
    processes.front()->waitForFinished(static_cast<int>(st.seconds * 1000));
    const double remaining = st.seconds - static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (remaining > 0)
        QThread::usleep(static_cast<unsigned long>(remaining * 1e6));
    f.wall = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const MachineTicks ticksAfter = machineTicks();
    for (auto& p : processes) {
        if (p->state() != QProcess::NotRunning)
            ::kill(static_cast<pid_t>(p->processId()), SIGINT);
    }
    for (auto& p : processes) {
        if (!p->waitForFinished(5000)) {
            p->kill();
            p->waitForFinished(2000);
        }
    }
    f.cpu = childrenCpuSeconds() - cpuBefore - fixedCpu * setup.processes;
    f.busy = ticksAfter.busy - ticksBefore.busy;
    f.total = ticksAfter.total - ticksBefore.total;

    for (int i = 0; i < setup.processes; ++i) {
        QFile out(dir.filePath(QStringLiteral("out%1").arg(i)));
        if (!out.open(QIODevice::ReadOnly))
            continue;
        long lines = 0;
        while (!out.atEnd()) {
            const QByteArray line = out.readLine();
            if (setup.master == Master::Cli) {
                if (line.startsWith("time,"))
                    continue;
                if (line.contains(",ok,"))
                    ++f.exchanges;
                else if (!line.trimmed().isEmpty())
                    ++f.failed;
            } else if (line.startsWith('[')) {
                ++lines; // one line per register read; a failed read writes none of them
            }
        }
        if (setup.master == Master::Mbpoll) {
            f.exchanges += lines / 6;
            QFile err(dir.filePath(QStringLiteral("err%1").arg(i)));
            if (err.open(QIODevice::ReadOnly))
                f.failed += err.readAll().count("failed");
        }
    }
    f.cpuPerExchangeMs.push_back(f.perExchangeMs());
    return f;
}

QString num(double v, int decimals)
{
    return std::isnan(v) ? QStringLiteral("-") : QString::number(v, 'f', decimals);
}

QString verdict(bool met)
{
    return met ? QStringLiteral("met") : QStringLiteral("**missed**");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Polls tarvo-sim over Modbus TCP with tarvo-cli (WaitingDelay 0, Scan 0) and with mbpoll, reading the same "
        "registers of 1 and of 32 controllers, the runs taken in turn; prints exchanges per second and CPU per "
        "exchange as Markdown."));
    p.addHelpOption();
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("Length of each run (default 10)."),
                                     QStringLiteral("s"), QStringLiteral("10"));
    const QCommandLineOption repeats(QStringLiteral("repeats"),
                                     QStringLiteral("Runs of each setup, taken in turn forwards and backwards "
                                                    "(default 3)."),
                                     QStringLiteral("n"), QStringLiteral("3"));
    const QCommandLineOption mbpoll(QStringLiteral("mbpoll"), QStringLiteral("mbpoll to use."), QStringLiteral("path"),
                                    QStringLiteral("mbpoll"));
    const QCommandLineOption cli(QStringLiteral("cli"),
                                 QStringLiteral("tarvo-cli to use (another build's, to hold two against each other)."),
                                 QStringLiteral("path"), QStringLiteral(TARVO_CLI_PATH));
    const QCommandLineOption sim(QStringLiteral("sim"), QStringLiteral("tarvo-sim to use."), QStringLiteral("path"),
                                 QStringLiteral(TARVO_SIM_PATH));
    p.addOptions({seconds, repeats, mbpoll, cli, sim});
    p.process(app);
    Settings st;
    st.seconds = std::max(1.0, p.value(seconds).toDouble());
    st.repeats = std::max(1, p.value(repeats).toInt());
    st.simPath = p.value(sim);
    st.cliPath = p.value(cli);
    st.mbpollPath = p.value(mbpoll);

    Helper simulator;
    if (!simulator.start(st.simPath,
                         {QStringLiteral("--protocol"), QStringLiteral("modbus"), QStringLiteral("--mbap"),
                          QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--addresses"),
                          QStringLiteral("0-31"), QStringLiteral("--log"), QStringLiteral("/dev/null")},
                         false, true)) {
        say(QStringLiteral("cannot start tarvo-sim"));
        return 1;
    }
    const double cliFixed = oneShotCpu(st, Master::Cli, simulator.tcpPort);
    const double mbpollFixed = oneShotCpu(st, Master::Mbpoll, simulator.tcpPort);
    if (std::isnan(cliFixed) || std::isnan(mbpollFixed)) {
        say(QStringLiteral("a single read failed: is mbpoll installed (script/bootstrap)?"));
        return 1;
    }

    const QList<Setup>& all = setups();
    std::vector<Figures> sums(all.size());
    for (int r = 0; r < st.repeats; ++r) {
        for (int k = 0; k < all.size(); ++k) {
            const int i = r % 2 == 0 ? k : static_cast<int>(all.size()) - 1 - k;
            const Setup& s = all[i];
            const Figures f = runOnce(st, s, simulator.tcpPort, s.master == Master::Cli ? cliFixed : mbpollFixed);
            std::fprintf(stderr, "run %d, %s, %d controller(s): %.0f exchanges/s, %.4f ms CPU per exchange\n", r + 1,
                         qPrintable(s.name), s.controllers, f.rate(), f.perExchangeMs());
            sums[i].add(f);
        }
    }

    say(QStringLiteral("tarvo-sim --protocol modbus --mbap --tcp, console addresses 0 to 31; each master reads "
                       "6 input registers from 0x100 (Modbus 04, the console's ReadBuffer100) of each controller "
                       "over one TCP connection per process; %1 runs of %2 s per setup, taken in turn.")
            .arg(st.repeats)
            .arg(st.seconds));
    say(QString());
    say(QStringLiteral("| master | controllers | processes | exchanges/s | CPU share | CPU per exchange (ms) | "
                       "per run (ms) | machine busy | failed |"));
    say(QStringLiteral("|---|---|---|---|---|---|---|---|---|"));
    for (int i = 0; i < all.size(); ++i) {
        const Figures& f = sums[i];
        const auto [lo, hi] = std::minmax_element(f.cpuPerExchangeMs.begin(), f.cpuPerExchangeMs.end());
        say(QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7-%8 | %9 | %10 |")
                .arg(all[i].name)
                .arg(all[i].controllers)
                .arg(all[i].processes)
                .arg(num(f.rate(), 0), pct(f.wall > 0 ? f.cpu / f.wall : NAN), num(f.perExchangeMs(), 4), num(*lo, 4),
                     num(*hi, 4), pct(f.total > 0 ? f.busy / f.total : NAN))
                .arg(f.failed));
    }
    say(QString());
    say(QStringLiteral("CPU per exchange is the processes' CPU (user + system) less what one read's whole process "
                       "costs (start, connect, one read, exit; median of %1): tarvo-cli %2 ms, mbpoll %3 ms.")
            .arg(st.oneShots)
            .arg(num(cliFixed * 1000, 2), num(mbpollFixed * 1000, 2)));
    say(QString());
    auto aim = [&](int ours, int theirs) {
        const Figures& a = sums[ours];
        const Figures& b = sums[theirs];
        return QStringLiteral("%1 controller%2, against %3: rate %4 against %5 (%6), CPU per exchange %7 against %8 "
                              "ms (%9)")
            .arg(all[ours].controllers)
            .arg(all[ours].controllers == 1 ? QString() : QStringLiteral("s"))
            .arg(all[theirs].name)
            .arg(num(a.rate(), 0), num(b.rate(), 0), verdict(a.rate() >= b.rate()), num(a.perExchangeMs(), 4),
                 num(b.perExchangeMs(), 4), verdict(a.perExchangeMs() <= b.perExchangeMs()));
    };
    say(QStringLiteral("Aim (rate at least mbpoll's, CPU per exchange at most mbpoll's):"));
    say(QString());
    say(QStringLiteral("- ") + aim(0, 1));
    say(QStringLiteral("- ") + aim(2, 3));
    say(QStringLiteral("- ") + aim(2, 4));
    say(QStringLiteral("- at mbpoll's pace, 1 controller: CPU per exchange %1 against %2 ms (%3)")
            .arg(num(sums[5].perExchangeMs(), 4), num(sums[1].perExchangeMs(), 4),
                 verdict(sums[5].perExchangeMs() <= sums[1].perExchangeMs())));
    return 0;
}
