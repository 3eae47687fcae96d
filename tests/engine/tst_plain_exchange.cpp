// The exchange driven by plain settings, as a front end without a console fills them: no console
// model is linked into this test at all. The settings are still asked at the moment of use.

#include "Engine.h"
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
};

QTEST_APPLESS_MAIN(TestPlainExchange)
#include "tst_plain_exchange.moc"
