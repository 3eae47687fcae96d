// The bus monitor on a real line: mbpoll (a Modbus master nobody here wrote) polls tarvo-sim through a
// tap that copies both directions to the monitor. Every request and reply the simulator logged appears
// once, in order, checked.

#include "BusMonitor.h"
#include "Clock.h"
#include "EventPump.h"
#include "SerialLink.h"
#include "SimProcess.h"
#include "TestFiles.h"
#include "Trace.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvo;
using namespace tarvo::test;

namespace {
// "rx 01 02 ..." and "tx ..." from the simulator's frame log, in order.
QStringList simFrames(const QString& logPath)
{
    static const QRegularExpression line(QStringLiteral("^\\S+\\s+\\S+\\s+(rx|tx) addr \\S+\\s+(.*?)\\s*\\|"));
    QStringList frames;
    for (const QByteArray& raw : fileContent(logPath).split('\n')) {
        const QRegularExpressionMatch m = line.match(QString::fromLatin1(raw));
        if (m.hasMatch())
            frames << m.captured(2);
    }
    return frames;
}
} // namespace

class TestE2eMonitor : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        m_log = m_dir->filePath("sim.log");
        m_sim.reset(new SimProcess({"--protocol", "modbus", "--serial", "--log", m_log}));
        QVERIFY(!m_sim->ptyPath.isEmpty());
        m_tap.reset(new QProcess);
        m_tap->start(BUS_TAP_PATH, {m_sim->ptyPath});
        QVERIFY(m_tap->waitForStarted(5000));
        m_master.clear();
        m_listen.clear();
        while ((m_master.isEmpty() || m_listen.isEmpty()) && m_tap->waitForReadyRead(3000)) {
            while (m_tap->canReadLine()) {
                const QString l = QString::fromLatin1(m_tap->readLine()).trimmed();
                if (l.startsWith("serial: "))
                    m_master = l.mid(8);
                if (l.startsWith("tap: "))
                    m_listen = l.mid(5);
            }
        }
        QVERIFY(!m_master.isEmpty() && !m_listen.isEmpty());
        // Console address 5 (slave id 6): input registers 0x100.., ten polls.
        m_mbpoll.reset(new QProcess);
        m_mbpoll->setProgram("mbpoll");
        m_mbpoll->setArguments({"-m", "rtu", "-b",  "38400", "-d", "8",  "-s", "2",  "-P", "none", "-a", "6",     "-t",
                                "3",  "-r",  "257", "-c",    "6",  "-l", "30", "-o", "1",  "-0",   "-1", m_master});
        m_polled = false;
        m_rounds = 0;
        QObject::connect(m_mbpoll.get(), &QProcess::finished, [this] {
            if (++m_rounds < 10)
                m_mbpoll->start();
            else
                m_polled = true;
        });
    }
    void cleanup()
    {
        if (m_mbpoll)
            m_mbpoll->waitForFinished(3000);
        m_mbpoll.reset();
        if (m_tap) {
            m_tap->terminate();
            m_tap->waitForFinished(3000);
        }
        m_tap.reset();
        m_sim.reset();
    }

    void monitorHearsMasterAndSlave()
    {
        SteadyClock clock;
        QtEventPump pump;
        MemoryTrace trace;
        SerialLink link(trace, clock);
        link.SetBaudRate("38400");
        LinkSettings settings;
        settings.comPort = m_listen;
        link.Connect(settings);

        QList<JournalRecord> heard;
        BusMonitor monitor(link, clock, pump);
        m_mbpoll->start();
        const double started = clock.now();
        std::stop_source stop;
        monitor.run(
            {Protocol::Modbus, false, {}, 0}, stop.get_token(), [&](const JournalRecord& r) { heard << r; },
            [&] {
                if ((m_polled && clock.now() > started + 0.3) || clock.now() > started + 20)
                    stop.request_stop();
            });
        link.Disconnect();

        QStringList frames;
        for (const JournalRecord& r : heard) {
            frames << r.received;
            QVERIFY2(r.verdict == JournalRecord::Verdict::Ok, qPrintable(r.received + " " + r.detail));
        }
        QCOMPARE(frames, simFrames(m_log));
        QCOMPARE(frames.size(), 20);
        QCOMPARE(heard[0].detail, QStringLiteral("request"));
        QCOMPARE(heard[1].detail, QStringLiteral("reply"));
    }

    // tarvo-cli monitor on the same tap: every frame in order as JSON Lines, the same rows in its journal,
    // and a frame with a wrong check value (written by hand after the polls) gives exit status 2.
    void cliMonitor()
    {
        QProcess cli;
        cli.start(TARVO_CLI_PATH, {"monitor", "--serial", m_listen, "--protocol", "modbus", "--speed", "38400",
                                   "--count", "21", "--format", "json", "--journal", m_dir->filePath("journal.csv")});
        QVERIFY(cli.waitForStarted(5000));
        QTest::qWait(500); // listening
        m_mbpoll->start();
        QTRY_VERIFY_WITH_TIMEOUT(m_polled, 20000);
        QTest::qWait(200);
        {
            QFile master(m_master);
            QVERIFY(master.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            master.write(QByteArray::fromHex("0603010000 06 0000").replace(' ', ""));
        }
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(cli.exitCode(), 2);
        QVERIFY2(!cli.readAllStandardError().contains("heard"), "scripts get records only");

        QStringList frames, verdicts;
        for (const QByteArray& line : cli.readAllStandardOutput().split('\n')) {
            if (line.isEmpty())
                continue;
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            frames << o.value("frame").toString();
            verdicts << o.value("verdict").toString();
        }
        QCOMPARE(frames.mid(0, 20), simFrames(m_log).mid(0, 20));
        QCOMPARE(frames.value(20), QStringLiteral("06 03 01 00 00 06 00 00"));
        QCOMPARE(verdicts.count("ok"), 20);
        QCOMPARE(verdicts.value(20), QStringLiteral("bad-check"));
        const QByteArray journal = fileContent(m_dir->filePath("journal.csv"));
        QCOMPARE(journal.count('\n'), 22); // the header and every frame
        const QByteArray last = journal.split('\n').value(21);
        QVERIFY2(last.contains(",06 03 01 00 00 06 00 00,") && last.contains(",bad-check,"), last.constData());
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_log;
    std::unique_ptr<SimProcess> m_sim;
    std::unique_ptr<QProcess> m_tap;
    std::unique_ptr<QProcess> m_mbpoll;
    QString m_master, m_listen;
    bool m_polled = false;
    int m_rounds = 0;
};

QTEST_GUILESS_MAIN(TestE2eMonitor)
#include "tst_e2e_monitor.moc"
