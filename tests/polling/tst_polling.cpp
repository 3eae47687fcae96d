#include "FakeStack.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvo;
using namespace tarvo::test;

namespace {
struct Rig : FakeStack {
    Rig()
    {
        model.choose(Field::OptNone);
        model.setText(Field::TimeOutDelay, "100");
        for (int i = 0; i < ConsoleModel::kSlots; ++i)
            model.setText(FieldRef(Field::Address, i), QString::number(i));
        // Every request is answered at once with seven bytes.
        link.onWrite = [this](const QByteArray& frame) { link.reply(0.005, frame.left(1) + QByteArray(6, '\x11')); };
    }
    // The first byte of each frame written is the slot's address plus 1.
    QList<int> servedSlots() const
    {
        QList<int> served;
        for (const QByteArray& w : link.writes)
            served.append(static_cast<unsigned char>(w[0]) - 1);
        return served;
    }
};
} // namespace

class TestPolling : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QDir::setCurrent(m_dir.path()); }

    void sendWithoutSlots()
    {
        Rig r;
        QSignalSpy started(&r.polling, &Polling::started);
        QSignalSpy ended(&r.polling, &Polling::ended);
        QVERIFY(r.polling.sendOnce());
        QVERIFY(r.trace.lines.isEmpty());
        QCOMPARE(r.link.connects, 0);
        QVERIFY(!r.polling.running());
        QCOMPARE(started.size(), 1);
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended[0][0].value<Polling::Cycle>(), Polling::Cycle::SendOnce);
    }

    void sendServesSelectedSlots()
    {
        Rig r;
        r.tick(3, true);
        r.tick(7, true);
        r.model.setCheck(Field::CheckAdr, 9, 2); // only the value 1 selects
        QList<int> servingDuring;
        r.link.onWrite = [&](const QByteArray& frame) {
            servingDuring.append(r.polling.running() ? r.polling.currentSlot() : -1);
            r.link.reply(0.005, frame.left(1) + QByteArray(6, '\x11'));
        };
        r.polling.sendOnce();
        QCOMPARE(r.trace.lines, (QStringList{"Connceting to network: 3", "Connceting to network: 7"}));
        QCOMPARE(r.servedSlots(), (QList<int>{3, 7}));
        QCOMPARE(r.link.connects, 2);
        QCOMPARE(r.link.disconnects, 2);
        QCOMPARE(r.link.speeds, QStringList{"38400"});
        QCOMPARE(servingDuring, (QList<int>{3, 7}));
        QVERIFY(!r.polling.running());
        QCOMPARE(r.polling.currentFunction(), QStringLiteral("ReadInput"));
        QVERIFY(r.reply(3).startsWith("04 11"));
    }

    void stopDuringSend()
    {
        Rig r;
        r.tick(3, true);
        r.tick(7, true);
        r.link.onWrite = {}; // nobody answers
        r.pump.at(0.05, [&] { r.polling.stop(); });
        r.polling.sendOnce();
        QCOMPARE(r.servedSlots(), QList<int>{3});
        QCOMPARE(r.link.disconnects, 1); // by the exchange, when it saw Stop
        QVERIFY(!r.polling.running());
    }

    // A Stop pressed while nothing runs does not end the next cycle.
    void aStopBeforeTheCycleIsForgotten()
    {
        Rig r;
        r.tick(3, true);
        r.polling.stop();
        r.polling.sendOnce();
        QCOMPARE(r.servedSlots(), QList<int>{3});
        QCOMPARE(r.link.disconnects, 1);
    }

    void pollingPassesUntilStop()
    {
        Rig r;
        r.tick(2, true);
        r.tick(7, true);
        bool runningMidway = false;
        r.pump.at(0.5, [&] {
            runningMidway = r.polling.running();
            r.tick(7, false); // taken into account from the next time a pass reaches it
        });
        r.pump.at(1.0, [&] { r.polling.stop(); });
        QSignalSpy ended(&r.polling, &Polling::ended);
        r.polling.start();
        QVERIFY(runningMidway);
        QCOMPARE(r.link.connects, 1);
        QCOMPARE(r.link.disconnects, 1);
        const QList<int> served = r.servedSlots();
        QVERIFY(served.count(2) > served.count(7));
        QVERIFY(served.count(7) >= 1);
        QVERIFY(!r.polling.running());
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended[0][0].value<Polling::Cycle>(), Polling::Cycle::Polling);
    }

    void pollingWithoutSlotsStopsAtEndOfPass()
    {
        Rig r;
        r.pump.at(0.2, [&] { r.polling.stop(); });
        r.polling.start();
        QCOMPARE(r.link.connects, 1);
        QCOMPARE(r.link.disconnects, 1);
        QVERIFY(r.link.writes.isEmpty());
        QVERIFY(r.pump.passes < 100); // passes without exchanges sleep instead of spinning
    }

    void sendReportsAnErrorAndGoesOn()
    {
        Rig r;
        r.tick(3, true);
        r.tick(7, true);
        r.model.setText(Field::Address, 3, "abc");
        r.polling.sendOnce();
        QCOMPARE(r.reply(3), QStringLiteral("ERROR: Address \"abc\" is not a number"));
        QVERIFY(r.trace.lines.contains("Envoi:: Error : Address \"abc\" is not a number"));
        QCOMPARE(r.servedSlots(), QList<int>{7});
        QCOMPARE(r.link.disconnects, 2);
        QVERIFY(!r.polling.running());
    }

    void pollingEndsAtAnError()
    {
        Rig r;
        r.tick(1, true);
        r.pump.at(0.3, [&] { r.model.setText(Field::TimeOutDelay, "soon"); });
        QSignalSpy ended(&r.polling, &Polling::ended);
        r.polling.start();
        QCOMPARE(r.reply(1), QStringLiteral("ERROR: Time Out Delay is not a number"));
        QCOMPARE(r.link.disconnects, 1);
        QCOMPARE(ended.size(), 1);
        QVERIFY(!r.polling.running());
    }

    void noSecondCycleInsideTheFirst()
    {
        Rig r;
        r.tick(0, true);
        int nestedWrites = -1;
        bool refused = false;
        r.pump.at(0.001, [&] {
            const qsizetype before = r.link.writes.size();
            // e.g. from the command line while a send runs
            refused = !r.polling.sendOnce() && !r.polling.start() && !r.polling.runCycle([](std::stop_token) {});
            nestedWrites = static_cast<int>(r.link.writes.size() - before);
        });
        r.polling.sendOnce();
        QVERIFY(refused);
        QCOMPARE(nestedWrites, 0);
        QCOMPARE(r.link.writes.size(), 1);
    }

    void noFunctionSelectedKeepsThePrevious()
    {
        Rig r;
        r.tick(0, true);
        r.model.setListIndex(Field::TxtFunction, 5);
        r.polling.sendOnce();
        QCOMPARE(r.polling.currentFunction(), QStringLiteral("SendQuery"));
        r.model.setListIndex(Field::TxtFunction, -1);
        r.polling.sendOnce();
        QCOMPARE(r.polling.currentFunction(), QStringLiteral("SendQuery"));
        QCOMPARE(r.link.writes.last(), QByteArray::fromHex("011801"));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_APPLESS_MAIN(TestPolling)
#include "tst_polling.moc"
