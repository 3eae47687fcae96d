#pragma once

// What the benchmark programs share: printing a line of the report, a median, and the helper
// processes (tarvo-sim, the timed line) that announce their endpoints when they start.

#include <QElapsedTimer>
#include <QProcess>
#include <QString>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <vector>

namespace tarvo::bench {

// One line of the Markdown report, on standard output at once.
inline void say(const QString& text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

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

} // namespace tarvo::bench
