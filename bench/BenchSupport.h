#pragma once

// What the benchmarks share: the helper processes around the console (tarvo-sim, the line relay),
// the process's own CPU and memory, the machine's load, the console set up for polling, and the
// Markdown output.

#include "Clock.h"
#include "ConsoleModel.h"
#include "EventPump.h"
#include "Polling.h"
#include "Prompter.h"
#include "Trace.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace tarvo::bench {

// A helper process that announces its endpoints on its first lines ("serial: PATH", "tcp: HOST:PORT")
// and is then quiet: anything it printed later would cost this process CPU to read.
class Helper {
public:
    bool start(const QString& program, const QStringList& args, bool wantSerial, bool wantTcp)
    {
        m_process.setProgram(program);
        m_process.setArguments(args);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000 && ((wantSerial && ptyPath.isEmpty()) || (wantTcp && tcpPort == 0))) {
            if (!m_process.canReadLine() && !m_process.waitForReadyRead(200)) {
                if (m_process.state() == QProcess::NotRunning)
                    return false;
                continue;
            }
            while (m_process.canReadLine()) {
                const QString line = QString::fromLocal8Bit(m_process.readLine()).trimmed();
                if (line.startsWith(QLatin1String("serial: ")))
                    ptyPath = line.mid(8);
                if (line.startsWith(QLatin1String("tcp: ")))
                    tcpPort = static_cast<quint16>(line.section(QLatin1Char(':'), -1).toUInt());
            }
        }
        return (!wantSerial || !ptyPath.isEmpty()) && (!wantTcp || tcpPort != 0);
    }
    ~Helper() { stop(); }

    // Ends the process; what it printed since its start-up lines.
    QString stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return QString::fromLocal8Bit(m_process.readAllStandardOutput());
        ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
        return QString::fromLocal8Bit(m_process.readAllStandardOutput());
    }
    QString ptyPath;
    quint16 tcpPort = 0;

private:
    QProcess m_process;
};

struct Memory {
    long rssKiB = 0;
    long hwmKiB = 0;
};

inline Memory readMemory()
{
    Memory m;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            m.rssKiB = std::stol(line.substr(6));
        else if (line.rfind("VmHWM:", 0) == 0)
            m.hwmKiB = std::stol(line.substr(6));
    }
    return m;
}

inline double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Busy and total time of all processors so far, from /proc/stat, in clock ticks.
struct MachineTicks {
    double busy = 0;
    double total = 0;
};

inline MachineTicks machineTicks()
{
    MachineTicks t;
    std::ifstream stat("/proc/stat");
    std::string cpu;
    stat >> cpu; // the "cpu" line sums all processors
    for (int i = 0; i < 8; ++i) {
        double v = 0;
        stat >> v;
        t.total += v;
        if (i != 3 && i != 4) // idle, iowait
            t.busy += v;
    }
    return t;
}

inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    // Nearest rank: the smallest value with at least p of the samples at or below it.
    const auto rank = static_cast<size_t>(std::ceil(p * static_cast<double>(v.size())));
    return v[std::clamp<size_t>(rank, 1, v.size()) - 1];
}

struct Endpoint {
    bool serial = true;
    QString ptyPath;
    quint16 tcpPort = 0;
};

// The console set up for a polling run: Modbus, function ReadBuffer100 (04, 6 input registers from
// 0x100), TimeOutDelay 1500, the default delays (WaitingDelay 50, Scan 1) or none, the first
// `controllers` slots selected with the console addresses 0, 1, ...
inline void setUpPolling(ConsoleModel& m, const Endpoint& ep, int controllers, bool defaultDelays, int baud = 38400)
{
    m.choose(Field::Modbus);
    // Choosing Modbus sets 9600; the speed comes after it.
    m.setText(Field::COMSpeed, QString::number(baud));
    if (ep.serial) {
        m.choose(Field::OpCOM);
        m.setText(Field::ComPort, ep.ptyPath);
    } else {
        m.choose(Field::OpTCP);
        m.setText(Field::IP, QStringLiteral("127.0.0.1"));
        m.setText(Field::Port, QString::number(ep.tcpPort));
    }
    m.setListIndex(Field::TxtFunction, 2); // ReadBuffer100: Modbus 04, 6 registers from 0x100
    m.setText(Field::TimeOutDelay, QStringLiteral("1500"));
    m.setText(Field::WaitingDelay, defaultDelays ? QStringLiteral("50") : QStringLiteral("0"));
    m.setText(Field::Scan, defaultDelays ? QStringLiteral("1") : QStringLiteral("0"));
    for (int i = 0; i < ConsoleModel::kSlots; ++i) {
        m.setCheck(FieldRef(Field::CheckAdr, i), i < controllers ? 1 : 0);
        m.setText(FieldRef(Field::Address, i), QString::number(i));
    }
}

// The memory at two counts of a run (of replies, of attempts); the run is to end at the second, when
// one is given.
struct MemoryProbes {
    MemoryProbes(long firstCount, long lastCount) : first(firstCount), last(lastCount) {}
    long first;
    long last; // 0: the run ends otherwise
    std::optional<Memory> early;
    std::optional<Memory> late;
    // Call with each new count; true when the run is to stop now.
    bool at(long n)
    {
        if (n == first)
            early = readMemory();
        if (last <= 0 || n != last)
            return false;
        late = readMemory();
        return true;
    }
};

// A polling run from Start to its end: wall time, this process's CPU and the machine's busy share.
struct TimedRun {
    double wall = 0;
    double cpu = 0;
    double busy = NAN;
};

// Presses Start and times the run until it ends: after `seconds` (Stop from a timer), or sooner
// when something else stops it (seconds <= 0: only that).
inline TimedRun timeStart(Polling& polling, const Clock& clock, double seconds)
{
    QTimer stopTimer;
    stopTimer.setSingleShot(true);
    QObject::connect(&stopTimer, &QTimer::timeout, [&] { polling.CmdStop_Click(); });
    if (seconds > 0)
        stopTimer.start(static_cast<int>(seconds * 1000));
    TimedRun run;
    const MachineTicks m0 = machineTicks();
    const double cpu0 = cpuSeconds();
    const double t0 = clock.now();
    polling.CmdStart_Click();
    run.wall = clock.now() - t0;
    run.cpu = cpuSeconds() - cpu0;
    const MachineTicks m1 = machineTicks();
    if (m1.total > m0.total)
        run.busy = (m1.busy - m0.busy) / (m1.total - m0.total);
    return run;
}

// The link's routine steps (one set per Connect) would only clutter the tables; failures are shown.
class FailureTrace final : public Trace {
public:
    void write(const QString& line) override
    {
        if (line.contains(QLatin1String("Error")))
            std::fprintf(stderr, "trace: %s\n", qPrintable(line));
    }
};

// The console's seams, then its stack below the window as the program builds it.
struct ConsoleSeams {
    SteadyClock clock;
    QtEventPump pump;
    StderrPrompter prompter;
    FailureTrace trace;
};

inline QString ms(double v)
{
    return std::isnan(v) ? QStringLiteral("-") : QString::number(v, 'f', 2);
}
inline QString pct(double v)
{
    return QString::number(v * 100, 'f', 2) + QLatin1Char('%');
}
inline QString mib(long kib)
{
    return QString::number(static_cast<double>(kib) / 1024.0, 'f', 2);
}

inline void say(const QString& text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

} // namespace tarvo::bench
