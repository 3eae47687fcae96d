// The bus monitor over a scripted line: frames found at their gaps, stamped with their first byte's
// time, checked as requests and replies, nothing sent and nothing lost.

#include "BusMonitor.h"
#include "Explain.h"
#include "FakeLink.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvo;
using namespace tarvo::test;

namespace {
const QDateTime kWall(QDate(2026, 12, 10), QTime(9, 0), Qt::OffsetFromUTC, 3600);
}

class TestBusMonitor : public QObject {
    Q_OBJECT
private slots:
    void framesOfAScriptedLine_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::newRow("serial") << true;
        QTest::newRow("TCP") << false;
    }
    void framesOfAScriptedLine()
    {
        QFETCH(bool, serial);
        FakeClock clock;
        FakePump pump(clock);
        FakeLink link(clock, pump, [serial] { return serial; });
        BusMonitor monitor(link, clock, pump, [&] { return kWall.addMSecs(qRound64(clock.t * 1000)); });
        const QByteArray request = appendCheck(CheckKind::Crc16Modbus, QByteArray::fromHex("060401000006"));
        QByteArray reply = appendCheck(CheckKind::Crc16Modbus, QByteArray::fromHex("0604040001000A"));
        QByteArray bad = reply;
        bad[4] = '\x7F';
        link.reply(0.100, request);
        link.reply(0.120, reply.left(5)); // a reply that comes in two reads
        link.reply(0.121, reply.mid(5));
        link.reply(0.300, bad);
        link.reply(0.400, QByteArray("\x01", 1));
        QList<JournalRecord> rows;
        std::stop_source stop;
        monitor.run(
            {Protocol::Modbus, false, {}, 0.005}, stop.get_token(), [&](const JournalRecord& r) { rows << r; },
            [&] {
                if (clock.t > 0.5)
                    stop.request_stop();
            });
        QVERIFY(link.writes.isEmpty());
        QCOMPARE(rows.size(), 4);
        const QStringList verdicts{"ok", "ok", "bad-check", "unknown"};
        const QList<int> atMs{100, 120, 300, 400};
        const QList<QByteArray> bytes{request, reply, bad, QByteArray("\x01", 1)};
        for (int i = 0; i < rows.size(); ++i) {
            QCOMPARE(verdictName(rows[i].verdict), verdicts[i]);
            QCOMPARE(rows[i].time, kWall.addMSecs(atMs[i]));
            QCOMPARE(rows[i].received, spacedHex(bytes[i]));
            QCOMPARE(rows[i].function, QStringLiteral("Monitor"));
        }
        QCOMPARE(rows[0].detail, QStringLiteral("request"));
        QCOMPARE(rows[1].detail, QStringLiteral("reply"));
        QVERIFY2(rows[2].detail.contains("CRC-16/MODBUS carried"), qPrintable(rows[2].detail));
    }

    // An adapter that holds bytes back longer than the gap makes splitting by silence unreliable: the
    // operator is told, and pointed to Low latency.
    void latencyTimerAboveTheGap_data()
    {
        QTest::addColumn<QString>("timer"); // empty: the port has none
        QTest::addColumn<bool>("warned");
        QTest::newRow("16 ms, out of the box") << "16" << true;
        QTest::newRow("1 ms") << "1" << false;
        QTest::newRow("no timer") << "" << false;
    }
    void latencyTimerAboveTheGap()
    {
        QFETCH(QString, timer);
        QFETCH(bool, warned);
        QTemporaryDir sys;
        SystemPaths paths;
        paths.sysfs = sys.path();
        if (!timer.isEmpty()) {
            QDir().mkpath(sys.filePath("bus/usb-serial/devices/ttyUSB7"));
            QFile f(sys.filePath("bus/usb-serial/devices/ttyUSB7/latency_timer"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(timer.toLatin1() + "\n");
        }
        const QString warning = latencyWarning("/dev/ttyUSB7", 0.001, paths);
        QCOMPARE(!warning.isEmpty(), warned);
        if (warned)
            QVERIFY2(warning.contains("every 16 ms") && warning.contains("Low latency"), qPrintable(warning));
    }
};

QTEST_APPLESS_MAIN(TestBusMonitor)
#include "tst_bus_monitor.moc"
