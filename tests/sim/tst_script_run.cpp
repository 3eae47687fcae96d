// script/run starts tarvo-sim (and the console when it exists) and stops everything it started, on
// Ctrl+C (SIGINT to the whole process group) and on SIGTERM to the script alone.

#include "Conversions.h"
#include "Framing.h"
#include "Requests.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <unistd.h>

using namespace tarvo;

class TestScriptRun : public QObject {
    Q_OBJECT

private slots:
    void startsAndStopsCleanly_data()
    {
        QTest::addColumn<bool>("wholeGroup");
        QTest::newRow("Ctrl+C: SIGINT to the process group") << true;
        QTest::newRow("SIGTERM to script/run alone") << false;
    }

    void startsAndStopsCleanly()
    {
        QFETCH(bool, wholeGroup);
        QTemporaryDir runDir;
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARVO_SKIP_BOOTSTRAP"), QStringLiteral("1")); // ctest runs on a fresh build
        env.insert(QStringLiteral("TARVO_BUILD_DIR"), QStringLiteral(TARVO_BINARY_DIR));
        env.insert(QStringLiteral("TARVO_SIM_TCP"), QStringLiteral("127.0.0.1:0"));
        env.insert(QStringLiteral("TARVO_RUN_DIR"), runDir.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        run.setProcessEnvironment(env);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.setChildProcessModifier([] { ::setsid(); }); // its own process group, as a terminal gives it
        run.start(QStringLiteral("bash"), {QStringLiteral(TARVO_SOURCE_DIR "/script/run")});
        QVERIFY(run.waitForStarted(5000));
        const auto group = static_cast<pid_t>(run.processId());

        quint16 port = 0;
        pid_t simPid = 0;
        QString output;
        QElapsedTimer t;
        t.start();
        while ((port == 0 || simPid == 0) && t.elapsed() < 20000 && run.state() == QProcess::Running) {
            if (!run.canReadLine())
                run.waitForReadyRead(200);
            while (run.canReadLine()) {
                const QString line = QString::fromLocal8Bit(run.readLine()).trimmed();
                output += line + QLatin1Char('\n');
                if (line.startsWith(QLatin1String("tcp: ")))
                    port = static_cast<quint16>(line.section(QLatin1Char(':'), -1).toUInt());
                if (line.startsWith(QLatin1String("tarvo-sim pid: ")))
                    simPid = static_cast<pid_t>(line.section(QLatin1Char(' '), -1).toInt());
            }
        }
        QVERIFY2(port != 0 && simPid != 0, qPrintable(output));

        // The simulator answers a Protocol 4 Read Input for console address 0, as on a first start.
        RequestSettings s;
        s.protocol = Protocol::Protocol4;
        s.address = QStringLiteral("0");
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        QVERIFY(socket.waitForConnected(3000));
        socket.write(frameToBytes(frameRequest(fixedRequest(fn::ReadInput, s.address, {}, true).text, s)));
        QByteArray reply;
        while (reply.size() < 8 && socket.waitForReadyRead(3000))
            reply += socket.readAll();
        QCOMPARE(reply.left(3), QByteArray::fromHex("010202"));
        socket.close();

        QCOMPARE(::kill(wholeGroup ? -group : group, wholeGroup ? SIGINT : SIGTERM), 0);
        QVERIFY(run.waitForFinished(10000));
        output += QString::fromLocal8Bit(run.readAll());

        // Nothing is left: neither the simulator nor anything else of the group, nor the pty link.
        QElapsedTimer gone;
        gone.start();
        while (::kill(-group, 0) == 0 && gone.elapsed() < 5000)
            QTest::qWait(50);
        QVERIFY2(::kill(-group, 0) != 0 && errno == ESRCH, qPrintable(output));
        QVERIFY(::kill(simPid, 0) != 0);
        QVERIFY(!QFile::exists(runDir.filePath(QStringLiteral("ttyTARVO"))));
        QFile log(runDir.filePath(QStringLiteral("tarvo-sim.log")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("tarvo-sim: stopped"));
    }

    // Without a display, script/run reads controller 0's memory unattended, prints the dump and ends.
    void withoutDisplayPrintsADump()
    {
        QTemporaryDir runDir;
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARVO_SKIP_BOOTSTRAP"), QStringLiteral("1"));
        env.insert(QStringLiteral("TARVO_BUILD_DIR"), QStringLiteral(TARVO_BINARY_DIR));
        env.insert(QStringLiteral("TARVO_SIM_TCP"), QStringLiteral("127.0.0.1:0"));
        env.insert(QStringLiteral("TARVO_RUN_DIR"), runDir.path());
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        run.setProcessEnvironment(env);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.setChildProcessModifier([] { ::setsid(); });
        run.start(QStringLiteral("bash"), {QStringLiteral(TARVO_SOURCE_DIR "/script/run")});
        QVERIFY(run.waitForStarted(5000));
        const auto group = static_cast<pid_t>(run.processId());
        QVERIFY(run.waitForFinished(60000));
        const QString output = QString::fromLocal8Bit(run.readAll());
        QCOMPARE(run.exitCode(), 0);
        QVERIFY2(output.contains(QLatin1String(" CTR#1  Address:0  EPROM:")), qPrintable(output));
        QVERIFY2(output.contains(QLatin1String("#099 (01/22C4): ")), qPrintable(output));
        QElapsedTimer gone;
        gone.start();
        while (::kill(-group, 0) == 0 && gone.elapsed() < 5000)
            QTest::qWait(50);
        QVERIFY(::kill(-group, 0) != 0 && errno == ESRCH);
    }
};

QTEST_GUILESS_MAIN(TestScriptRun)
#include "tst_script_run.moc"
