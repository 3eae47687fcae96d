#pragma once

// What the benchmarks share: the helper processes around the console (tarvo-sim, the line relay),
// the process's own CPU and memory, the machine's load, and the Markdown output. Plain Qt Core: the
// benchmarks that time whole processes include it too. BenchConsole.h sets up the console itself.

#include <QElapsedTimer>
#include <QProcess>
#include <QString>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
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

inline double median(std::vector<double> v)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
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
