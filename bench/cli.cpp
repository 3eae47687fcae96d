// tarvo-bench-cli: tarvo-cli as scripts run it, whole processes timed from outside.
//
//  1. A census of 255 console addresses of which 3 answer, over tarvo-bench-wire's timed 38400 line,
//     with --timeout 50 --tries 1, against its floor: the silent addresses' time-outs plus the line
//     time of the answering exchanges.
//  2. One Modbus read (4 input registers of console address 5, slave id 6) over tarvo-sim's
//     pseudo-terminal: `tarvo-cli send --settle 0` against `mbpoll -1`, in pairs, one after the other.
//  3. `tarvo-cli --version` beside `tarvo --version`: starting the process and nothing else.

#include "BenchSupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <vector>

using namespace tarvo::bench;

namespace {

constexpr int kBitsPerByte = 11; // start bit, 8 data bits, 2 stop bits
constexpr int kRequestBytes = 8; // Read Input under Modbus
constexpr int kReplyBytes = 7;   // its reply: address, function, count, 2 bytes of inputs, CRC
constexpr int kCensusTimeoutMs = 50;
constexpr int kBaud = 38400;

struct Timed {
    double ms = NAN;
    int exitCode = -1;
    QByteArray out;
};

Timed timeRun(const QString& program, const QStringList& args)
{
    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    Timed t;
    QElapsedTimer clock;
    clock.start();
    process.start(program, args);
    if (!process.waitForFinished(300000)) {
        process.kill();
        process.waitForFinished();
        return t;
    }
    t.ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    t.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    t.out = process.readAllStandardOutput();
    return t;
}

QString msText(double v, int decimals = 1)
{
    return std::isnan(v) ? QStringLiteral("-") : QString::number(v, 'f', decimals);
}

QString spread(const std::vector<double>& v)
{
    if (v.empty())
        return QStringLiteral("- | - | -");
    return QStringLiteral("%1 | %2 | %3")
        .arg(msText(median(v)), msText(*std::min_element(v.begin(), v.end())),
             msText(*std::max_element(v.begin(), v.end())));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("Times tarvo-cli whole processes: a census over a timed line against "
                                               "its floor, one Modbus read against mbpoll, and --version. Prints "
                                               "Markdown tables."));
    p.addHelpOption();
    const QCommandLineOption runs(QStringLiteral("runs"),
                                  QStringLiteral("Pairs of reads and --version runs (default 20)."),
                                  QStringLiteral("n"), QStringLiteral("20"));
    const QCommandLineOption scans(QStringLiteral("scans"), QStringLiteral("Censuses to time (default 3)."),
                                   QStringLiteral("n"), QStringLiteral("3"));
    p.addOptions({runs, scans});
    p.process(app);
    const int n = std::max(1, p.value(runs).toInt());
    const int scanRuns = std::max(1, p.value(scans).toInt());
    const QString cli = QStringLiteral(TARVO_CLI_PATH);
    const QString mbpoll = QStringLiteral("mbpoll");
    const QTemporaryDir dir;
    const QString simLog = dir.filePath(QStringLiteral("tarvo-sim.log"));

    // 1. The census over the timed line.
    {
        Helper sim;
        Helper wire;
        if (!sim.start(QStringLiteral(TARVO_SIM_PATH),
                       {QStringLiteral("--protocol"), QStringLiteral("modbus"), QStringLiteral("--serial"),
                        QStringLiteral("--addresses"), QStringLiteral("10,100,200"), QStringLiteral("--log"), simLog},
                       true, false) ||
            !wire.start(QStringLiteral(TARVO_WIRE_PATH), {sim.ptyPath, QString::number(kBaud)}, true, false)) {
            say(QStringLiteral("cannot start tarvo-sim and tarvo-bench-wire"));
            return 1;
        }
        const int silent = 252;
        const double lineMs = 3.0 * (kRequestBytes + kReplyBytes) * kBitsPerByte * 1000.0 / kBaud;
        const double floorMs = silent * kCensusTimeoutMs + lineMs;
        std::vector<double> totals;
        int found = -1;
        for (int i = 0; i < scanRuns; ++i) {
            const Timed t =
                timeRun(cli, {QStringLiteral("scan"), QStringLiteral("--serial"), wire.ptyPath,
                              QStringLiteral("--protocol"), QStringLiteral("modbus"), QStringLiteral("--speed"),
                              QString::number(kBaud), QStringLiteral("--range"), QStringLiteral("0..254"),
                              QStringLiteral("--timeout"), QString::number(kCensusTimeoutMs), QStringLiteral("--tries"),
                              QStringLiteral("1"), QStringLiteral("--format"), QStringLiteral("csv")});
            found = static_cast<int>(t.out.count(",ok,"));
            if (t.exitCode == 1 && found == 3)
                totals.push_back(t.ms);
        }
        say(QStringLiteral("### Census: 255 addresses, 3 answer, 38400 timed line, --timeout 50 --tries 1"));
        say(QString());
        say(QStringLiteral("| floor (ms) | median (ms) | min (ms) | max (ms) | median over floor | runs counted |"));
        say(QStringLiteral("|---|---|---|---|---|---|"));
        say(QStringLiteral("| %1 | %2 | %3 | %4 of %5 |")
                .arg(msText(floorMs), spread(totals),
                     totals.empty() ? QStringLiteral("-")
                                    : QStringLiteral("%1%").arg(msText((median(totals) / floorMs - 1) * 100)))
                .arg(totals.size())
                .arg(scanRuns));
        say(QString());
        say(QStringLiteral("Floor: 252 silent addresses x 50 ms + the 3 answering exchanges' %1 ms on the line "
                           "(8 + 7 bytes x 11 bits at 38400). Found %2 answering in the last run.")
                .arg(msText(lineMs))
                .arg(found));
        say(QString());
    }

    // 2. One Modbus read, tarvo-cli against mbpoll, in pairs.
    {
        Helper sim;
        if (!sim.start(QStringLiteral(TARVO_SIM_PATH),
                       {QStringLiteral("--protocol"), QStringLiteral("modbus"), QStringLiteral("--serial"),
                        QStringLiteral("--log"), simLog},
                       true, false)) {
            say(QStringLiteral("cannot start tarvo-sim"));
            return 1;
        }
        std::vector<double> ours;
        std::vector<double> theirs;
        int failed = 0;
        for (int i = 0; i < n; ++i) {
            const Timed a =
                timeRun(cli, {QStringLiteral("send"), QStringLiteral("--serial"), sim.ptyPath,
                              QStringLiteral("--protocol"), QStringLiteral("modbus"), QStringLiteral("--speed"),
                              QString::number(kBaud), QStringLiteral("--address"), QStringLiteral("5"),
                              QStringLiteral("--command"), QStringLiteral("0400000004"), QStringLiteral("--settle"),
                              QStringLiteral("0"), QStringLiteral("--format"), QStringLiteral("csv")});
            const Timed b = timeRun(
                mbpoll, {QStringLiteral("-m"), QStringLiteral("rtu"),  QStringLiteral("-b"), QString::number(kBaud),
                         QStringLiteral("-d"), QStringLiteral("8"),    QStringLiteral("-s"), QStringLiteral("2"),
                         QStringLiteral("-P"), QStringLiteral("none"), QStringLiteral("-a"), QStringLiteral("6"),
                         QStringLiteral("-t"), QStringLiteral("3"),    QStringLiteral("-r"), QStringLiteral("1"),
                         QStringLiteral("-c"), QStringLiteral("4"),    QStringLiteral("-1"), sim.ptyPath});
            if (a.exitCode == 0 && a.out.contains(",ok,"))
                ours.push_back(a.ms);
            else
                ++failed;
            if (b.exitCode == 0)
                theirs.push_back(b.ms);
            else
                ++failed;
        }
        say(QStringLiteral("### One Modbus read, whole process, over tarvo-sim's pseudo-terminal"));
        say(QString());
        say(QStringLiteral("| program | median (ms) | min (ms) | max (ms) | runs |"));
        say(QStringLiteral("|---|---|---|---|---|"));
        say(QStringLiteral("| `tarvo-cli send --settle 0` | %1 | %2 |").arg(spread(ours)).arg(ours.size()));
        say(QStringLiteral("| `mbpoll -1` | %1 | %2 |").arg(spread(theirs)).arg(theirs.size()));
        say(QString());
        say(QStringLiteral("Ratio of the medians, tarvo-cli over mbpoll: %1 (aim: at most 1.5). Failed runs: %2.")
                .arg(theirs.empty() || ours.empty() ? QStringLiteral("-") : msText(median(ours) / median(theirs), 2))
                .arg(failed));
        say(QString());
    }

    // 3. --version of both programs.
    {
        std::vector<double> cliVersion;
        std::vector<double> consoleVersion;
        for (int i = 0; i < n; ++i) {
            cliVersion.push_back(timeRun(cli, {QStringLiteral("--version")}).ms);
            consoleVersion.push_back(timeRun(QStringLiteral(TARVO_PATH), {QStringLiteral("--version")}).ms);
        }
        say(QStringLiteral("### --version"));
        say(QString());
        say(QStringLiteral("| program | median (ms) | min (ms) | max (ms) | runs |"));
        say(QStringLiteral("|---|---|---|---|---|"));
        say(QStringLiteral("| `tarvo-cli --version` | %1 | %2 |").arg(spread(cliVersion)).arg(n));
        say(QStringLiteral("| `tarvo --version` | %1 | %2 |").arg(spread(consoleVersion)).arg(n));
    }
    return 0;
}
