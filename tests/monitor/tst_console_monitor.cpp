// The bus monitor as a cycle of the console: frames heard go into the journal, nothing is sent, no
// other cycle starts meanwhile, Stop and a close end it, and a link that is not there is tried again
// until it is.

#include "Explain.h"
#include "FakeStack.h"

#include <QTest>

using namespace tarvo;
using namespace tarvo::test;

namespace {

struct Rows final : JournalSink {
    void append(const QList<JournalRecord>& records) override { rows += records; }
    QList<JournalRecord> rows;
};

const QByteArray kRequest = appendCheck(CheckKind::Crc16Modbus, QByteArray::fromHex("060401000006"));
const QByteArray kReply = appendCheck(CheckKind::Crc16Modbus, QByteArray::fromHex("0604040001000A"));

} // namespace

class TestConsoleMonitor : public QObject {
    Q_OBJECT
private slots:
    void framesGoToTheJournalAndNothingIsSent()
    {
        FakeStack s;
        Rows rows;
        s.stack.journal.addSink(&rows);
        s.model.choose(ConsoleModel::protocolOption(Protocol::Modbus));
        s.tick(0);
        s.link.reply(0.100, kRequest);
        s.link.reply(0.120, kReply);
        bool sendRefused = false;
        s.pump.at(0.5, [&] {
            sendRefused = !s.polling.sendOnce() && !s.polling.start(); // refused while the monitor runs
            s.polling.stop();
        });
        QVERIFY(s.stack.monitor.run());
        s.stack.journal.flush();

        QVERIFY(sendRefused);
        QVERIFY(s.link.writes.isEmpty());
        QCOMPARE(s.link.connects, 1);
        QVERIFY(!s.link.open);
        QVERIFY(!s.polling.running());
        QVERIFY(!s.stack.monitor.listening());
        QCOMPARE(rows.rows.size(), 2);
        QCOMPARE(rows.rows[0].received, spacedHex(kRequest));
        QCOMPARE(rows.rows[0].detail, QStringLiteral("request"));
        QCOMPARE(rows.rows[1].detail, QStringLiteral("reply"));
        QCOMPARE(rows.rows[1].verdict, JournalRecord::Verdict::Ok);
        QCOMPARE(s.stack.monitor.framesHeard(), 2);
    }

    // Another cycle running: the monitor does not start.
    void oneCycleAtATime()
    {
        FakeStack s;
        bool refused = false;
        s.pump.at(0.3, [&] {
            refused = !s.stack.monitor.run();
            s.polling.stop();
        });
        s.polling.start();
        QVERIFY(refused);
    }

    // A port that is not there yet is tried every two seconds until it opens; the frames after that
    // are heard.
    void aMissingLinkIsTriedAgain()
    {
        FakeStack s;
        Rows rows;
        s.stack.journal.addSink(&rows);
        s.model.choose(ConsoleModel::protocolOption(Protocol::Modbus));
        s.link.refuseConnect = true;
        s.pump.at(3.0, [&] { s.link.refuseConnect = false; });
        s.pump.at(4.5, [&] { s.link.arrive(kRequest); });
        s.pump.at(5.5, [&] { s.polling.stop(); });
        QVERIFY(s.stack.monitor.run());
        s.stack.journal.flush();
        QCOMPARE(s.link.connects, 3); // at the start, after 2 s (refused), after 4 s
        QCOMPARE(rows.rows.size(), 1);
    }

    // Closing the window while the monitor runs: it stops, and the close goes ahead once it has.
    void aCloseWaitsForTheMonitor()
    {
        FakeStack s;
        int closed = 0;
        s.lifecycle.closeNow = [&] { ++closed; };
        s.pump.at(0.3, [&] { QVERIFY(!s.lifecycle.requestClose()); });
        QVERIFY(s.stack.monitor.run());
        QCOMPARE(closed, 1);
    }
};

QTEST_GUILESS_MAIN(TestConsoleMonitor)
#include "tst_console_monitor.moc"
