// The exchange driven by plain settings, as a front end without a console fills them: no console
// model is linked into this test at all. The settings are still asked at the moment of use.

#include "Engine.h"
#include "Errors.h"
#include "ExchangeSettings.h"
#include "FakeLink.h"
#include "FakePrompter.h"

#include <QTest>

using namespace tarvo;
using namespace tarvo::test;

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// What the exchange shows, as it shows it.
struct Shown final : ExchangeDisplay {
    void showReply(int slot, int box, const QString& text) override
    {
        replies.append(QStringLiteral("%1/%2=%3").arg(slot).arg(box).arg(text));
    }
    void showCheckError(bool shown) override { checkError = shown; }
    void showEcho(bool) override {}
    QStringList replies;
    bool checkError = false;
};

struct Attempts final : ExchangeObserver {
    void attemptFinished(const AttemptRecord& a) override { records.append(a); }
    QList<AttemptRecord> records;
};

struct Rig {
    Rig()
    {
        settings.value.slotTable[3] = {true, QStringLiteral("5")};
        engine.setDisplay(&shown);
        engine.addObserver(&attempts);
    }
    bool run(const QString& name, int16_t slot = 3)
    {
        QString function = name;
        return engine.Envoi(settings, function, slot);
    }

    FixedSettings settings;
    FakeClock clock;
    FakePump pump{clock};
    FakeLink link{clock, pump, [this] { return settings.value.serial; }};
    FakePrompter prompter;
    Engine engine{link, clock, pump, prompter};
    Shown shown;
    Attempts attempts;
};

} // namespace

class TestPlainExchange : public QObject {
    Q_OBJECT
private slots:
    // Read Input of console address 5 (6 on the wire) under Protocol 4 and Modbus: the request as the
    // protocol frames it, the reply read, shown and checked.
    void readInput_data()
    {
        QTest::addColumn<Protocol>("protocol");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("Protocol 4") << Protocol::Protocol4 << hex("060200000010DB5304") << hex("060202005544DD04");
        QTest::newRow("Modbus") << Protocol::Modbus << hex("0602000000107871") << hex("0602020055CC47");
    }
    void readInput()
    {
        QFETCH(Protocol, protocol);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        Rig r;
        r.settings.value.protocol = protocol;
        r.link.onWrite = [&](const QByteArray&) { r.link.reply(0.010, reply); };
        QVERIFY(r.run(QStringLiteral("ReadInput")));
        QCOMPARE(r.link.writes, QList<QByteArray>{request});
        QCOMPARE(r.shown.replies, QStringList{QStringLiteral("3/0=") + QString::fromLatin1(reply.toHex(' ').toUpper()) +
                                              QLatin1Char(' ')});
        QVERIFY(!r.shown.checkError);
        QCOMPARE(r.attempts.records.size(), 1);
        QCOMPARE(r.attempts.records[0].verdict, AttemptRecord::Verdict::Reply);
        QCOMPARE(r.attempts.records[0].address, QStringLiteral("5"));
        QVERIFY(!r.attempts.records[0].checkFailed);
    }

    // Plain values are asked at every pass too: a time-out lengthened during the wait holds the wait
    // open, and the tries the settings allow are the tries made.
    void valuesAreAskedWhenUsed()
    {
        Rig r;
        r.settings.value.timeoutMs = 100;
        r.settings.value.tries = 2;
        r.pump.at(0.050, [&] { r.settings.value.timeoutMs = 400; });
        QVERIFY(r.run(QStringLiteral("ReadInput")));
        QCOMPARE(r.link.writes.size(), 2);
        QVERIFY(r.link.writeTimes[1] > 0.4);
        QCOMPARE(r.shown.replies, QStringList{QStringLiteral("3/0=NO ANSWER FROM CONTROLLER ADDRESS 5")});
    }

    // What a Modbus device says is what each attempt's record says, whatever the console makes of it:
    // its bytes are kept even below the reply threshold, and an exception is named.
    void modbusVerdicts_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("sends");
        QTest::addColumn<bool>("checkFailed");
        QTest::addColumn<int>("exceptionCode");
        QTest::addColumn<QString>("detail");
        // Five bytes, short of Read Input's threshold: the console sends three times, as always.
        QTest::newRow("exception below the threshold")
            << hex("06820270A0") << 3 << false << 2 << QStringLiteral("02 illegal data address");
        QTest::newRow("a reply with a bad CRC") << hex("0602020055CC48") << 1 << true << -1
                                                << QStringLiteral("CRC-16/MODBUS carried CC 48, computed CC 47");
        QTest::newRow("too few bytes, no exception")
            << hex("0602") << 3 << false << -1 << QStringLiteral("2 bytes came, too few to end the wait; too short");
    }
    void modbusVerdicts()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, sends);
        QFETCH(bool, checkFailed);
        QFETCH(int, exceptionCode);
        QFETCH(QString, detail);
        Rig r;
        r.settings.value.protocol = Protocol::Modbus;
        // The device answers each request afresh; the serial buffer still holds the last answer.
        r.link.onWrite = [&](const QByteArray&) {
            r.link.rx.clear();
            r.link.reply(0.010, reply);
        };
        r.run(QStringLiteral("ReadInput"));
        QCOMPARE(r.link.writes.size(), sends);
        QCOMPARE(r.attempts.records.size(), sends);
        for (const AttemptRecord& a : r.attempts.records) {
            QCOMPARE(a.reply, reply);
            QCOMPARE(a.checkFailed, checkFailed);
            QCOMPARE(a.exceptionCode, exceptionCode);
            QVERIFY2(a.detail.startsWith(detail), qPrintable(a.detail));
        }
    }

    // On a serial line the exception left from the first attempt stays in the buffer, as the console
    // counts it; the second attempt's reply is then both, and the record says whose is whose.
    void modbusExceptionsPileUpOnTheLine()
    {
        Rig r;
        r.settings.value.protocol = Protocol::Modbus;
        r.link.onWrite = [&](const QByteArray&) { r.link.reply(0.010, hex("06820270A0")); };
        r.run(QStringLiteral("ReadInput"));
        QCOMPARE(r.link.writes.size(), 2); // ten bytes end the second wait
        QCOMPARE(r.attempts.records.size(), 2);
        const AttemptRecord& second = r.attempts.records[1];
        QCOMPARE(second.verdict, AttemptRecord::Verdict::Reply);
        QCOMPARE(second.reply, hex("06820270A006820270A0"));
        QVERIFY(!second.checkFailed);
        QCOMPARE(second.exceptionCode, 2);
        QCOMPARE(second.detail,
                 QStringLiteral("the first 5 bytes were left from the attempt before; 02 illegal data address"));
    }

    // Modbus TCP: the request under the MBAP header with a transaction of its own per attempt, the
    // reply whole by its header's length however its bytes come, a late reply of an earlier
    // transaction dropped with a note, and no settle wait.
    void modbusTcp_data()
    {
        QTest::addColumn<QList<QByteArray>>("segments"); // what comes after each write, 5 ms apart
        QTest::addColumn<int>("sends");
        QTest::addColumn<QByteArray>("reply"); // the last attempt's, as recorded
        QTest::addColumn<QString>("detail");
        const QByteArray good = hex("00010000000506020200"
                                    "55");
        QTest::newRow("whole") << QList<QByteArray>{good} << 1 << good << QString();
        QTest::newRow("split over three segments")
            << QList<QByteArray>{good.left(3), good.mid(3, 5), good.mid(8)} << 1 << good << QString();
        QTest::newRow("a stale transaction first")
            << QList<QByteArray>{hex("00070000000506020200AA"), good} << 1 << good
            << QStringLiteral("dropped a reply of transaction 00 07, not the request's 00 01");
        QTest::newRow("exception") << QList<QByteArray>{hex("000100000003068202")} << 1 << hex("000100000003068202")
                                   << QStringLiteral("02 illegal data address");
        QTest::newRow("silent") << QList<QByteArray>{} << 3 << QByteArray() << QString();
    }
    void modbusTcp()
    {
        QFETCH(QList<QByteArray>, segments);
        QFETCH(int, sends);
        QFETCH(QByteArray, reply);
        QFETCH(QString, detail);
        Rig r;
        r.settings.value.protocol = Protocol::Modbus;
        r.settings.value.serial = false;
        r.settings.value.link.framing = NetFraming::Mbap;
        r.settings.value.timeoutMs = 200;
        r.settings.value.waitingMs = 500; // a settle wait would show in the reply's time
        r.link.onWrite = [&](const QByteArray&) {
            for (qsizetype i = 0; i < segments.size(); ++i)
                r.link.reply(0.005 * double(i + 1), segments[i]);
        };
        r.run(QStringLiteral("ReadInput"));
        QCOMPARE(r.link.writes.size(), sends);
        for (int i = 0; i < sends; ++i) {
            QByteArray expected = hex("000000000006060200000010");
            expected[1] = char(i + 1);
            QCOMPARE(r.link.writes[i], expected);
        }
        const AttemptRecord& last = r.attempts.records.constLast();
        QCOMPARE(last.frame, QString::fromLatin1(r.link.writes.constLast().toHex().toUpper()));
        QCOMPARE(last.reply, reply);
        QCOMPARE(last.detail, detail);
        QCOMPARE(last.verdict, reply.isEmpty() ? AttemptRecord::Verdict::NoReply : AttemptRecord::Verdict::Reply);
        if (!reply.isEmpty())
            QVERIFY2(last.repliedAt - last.sentAt < 0.1, "read as soon as the header's length came");
    }

    // Modbus TCP carries Modbus and nothing else: another protocol is refused before anything goes out.
    void modbusTcpRefusesOtherProtocols()
    {
        Rig r;
        r.settings.value.protocol = Protocol::Protocol4;
        r.settings.value.serial = false;
        r.settings.value.link.framing = NetFraming::Mbap;
        QVERIFY_THROWS_EXCEPTION(OperatorError, r.run(QStringLiteral("ReadInput")));
        QVERIFY(r.link.writes.isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestPlainExchange)
#include "tst_plain_exchange.moc"
