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
    void monitorHearsMasterAndSlave()
    {
        QTemporaryDir dir;
        const QString log = dir.filePath("sim.log");
        SimProcess sim({"--protocol", "modbus", "--serial", "--log", log});
        QVERIFY(!sim.ptyPath.isEmpty());
        QProcess tap;
        tap.start(BUS_TAP_PATH, {sim.ptyPath});
        QVERIFY(tap.waitForStarted(5000));
        QString master, listen;
        while ((master.isEmpty() || listen.isEmpty()) && tap.waitForReadyRead(3000)) {
            while (tap.canReadLine()) {
                const QString l = QString::fromLatin1(tap.readLine()).trimmed();
                if (l.startsWith("serial: "))
                    master = l.mid(8);
                if (l.startsWith("tap: "))
                    listen = l.mid(5);
            }
        }
        QVERIFY(!master.isEmpty() && !listen.isEmpty());

        SteadyClock clock;
        QtEventPump pump;
        MemoryTrace trace;
        SerialLink link(trace, clock);
        link.SetBaudRate("38400");
        LinkSettings settings;
        settings.comPort = listen;
        link.Connect(settings);

        // Console address 5 (slave id 6): input registers 0x100.. and discrete inputs, ten polls each.
        QProcess mbpoll;
        mbpoll.start("mbpoll", {"-m", "rtu", "-b",  "38400", "-d", "8",  "-s", "2",  "-P", "none", "-a", "6",   "-t",
                                "3",  "-r",  "257", "-c",    "6",  "-l", "30", "-o", "1",  "-0",   "-1", master});
        QList<JournalRecord> heard;
        BusMonitor monitor(link, clock, pump);
        bool polled = false;
        int round = 0;
        QObject::connect(&mbpoll, &QProcess::finished, [&] {
            if (++round < 10)
                mbpoll.start();
            else
                polled = true;
        });
        const double started = clock.now();
        monitor.run(
            {Protocol::Modbus, false, {}, 0},
            [&] { return (polled && clock.now() > started + 0.3) || clock.now() > started + 20; },
            [&](const JournalRecord& r) { heard << r; });
        link.Disconnect();
        tap.terminate();
        tap.waitForFinished(3000);

        QStringList frames;
        for (const JournalRecord& r : heard) {
            frames << r.received;
            QVERIFY2(r.verdict == JournalRecord::Verdict::Ok, qPrintable(r.received + " " + r.detail));
        }
        QCOMPARE(frames, simFrames(log));
        QCOMPARE(frames.size(), 20);
        QCOMPARE(heard[0].detail, QStringLiteral("request"));
        QCOMPARE(heard[1].detail, QStringLiteral("reply"));
    }
};

QTEST_GUILESS_MAIN(TestE2eMonitor)
#include "tst_e2e_monitor.moc"
