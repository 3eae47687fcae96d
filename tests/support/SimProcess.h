#pragma once

// Runs the tarvo-sim executable for a test and reads the lines it prints at start-up.

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QtTest>

#include <algorithm>
#include <csignal>

namespace tarvo::test {

class SimProcess {
public:
    explicit SimProcess(const QStringList& args)
    {
        m_process.setProgram(QStringLiteral(TARVO_SIM_PATH));
        m_process.setArguments(args);
        m_process.start();
        QElapsedTimer t;
        t.start();
        // The status lines come before the first frame; wait for every link asked for (TCP and serial
        // when none is named).
        auto named = [&args](const char* option) {
            const QString name = QLatin1String(option);
            return std::any_of(args.begin(), args.end(), [&name](const QString& a) {
                return a == name || a.startsWith(name + QLatin1Char('='));
            });
        };
        const bool namedTcp = named("--tcp");
        const bool namedUdp = named("--udp");
        const bool namedSerial = named("--serial") || named("--link");
        const bool noneNamed = !namedTcp && !namedUdp && !namedSerial;
        const bool wantTcp = namedTcp || noneNamed;
        const bool wantUdp = namedUdp;
        const bool wantSerial = namedSerial || noneNamed;
        while (t.elapsed() < 10000 &&
               ((wantTcp && tcpPort == 0) || (wantUdp && udpPort == 0) || (wantSerial && ptyPath.isEmpty()))) {
            if (!m_process.canReadLine() && !m_process.waitForReadyRead(200)) {
                if (m_process.state() == QProcess::NotRunning)
                    break;
                continue;
            }
            while (m_process.canReadLine()) {
                const QString line = QString::fromLocal8Bit(m_process.readLine()).trimmed();
                output << line;
                if (line.startsWith(QLatin1String("tcp: ")))
                    tcpPort = static_cast<quint16>(line.section(QLatin1Char(':'), -1).toUInt());
                if (line.startsWith(QLatin1String("udp: ")))
                    udpPort = static_cast<quint16>(line.section(QLatin1Char(':'), -1).toUInt());
                if (line.startsWith(QLatin1String("serial: ")))
                    ptyPath = line.mid(8);
            }
        }
    }

    ~SimProcess() { stop(SIGTERM); }

    // Sends the signal and waits; the exit code, or -1 when it did not end.
    int stop(int signal)
    {
        if (m_process.state() == QProcess::NotRunning)
            return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
        ::kill(static_cast<pid_t>(m_process.processId()), signal);
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
            return -1;
        }
        output +=
            QString::fromLocal8Bit(m_process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    QProcess m_process;
    quint16 tcpPort = 0;
    quint16 udpPort = 0;
    QString ptyPath;
    QStringList output;
};

} // namespace tarvo::test
