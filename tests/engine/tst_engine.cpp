#include "ConsoleModel.h"
#include "Conversions.h"
#include "Crc.h"
#include "Engine.h"
#include "Errors.h"
#include "FakeLink.h"
#include "FakePrompter.h"
#include "Replies.h"
#include "ReplyCheck.h"
#include "ReplyHook.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvo;
using namespace tarvo::test;

namespace {
QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

struct Rig {
    Rig()
    {
        engine.setDisplay(&model);
        model.setText(Field::Address, 0, "0");
        model.setText(Field::Address, 3, "5");
    }
    bool run(const QString& name, int16_t s = 0)
    {
        function = name;
        slot = s;
        return engine.Envoi(model, function, slot, stop.get_token());
    }
    QString reply(int s = 0) const { return model.text(FieldRef(Field::Reponse, s)); }
    QString reply1(int s = 0) const { return model.text(FieldRef(Field::Reponse1, s)); }
    // Bioscrypt asking for the acknowledgement and the response.
    void bioscryptWithBothFlags()
    {
        model.choose(Field::OptBioscrypt);
        model.setCheck(Field::AckReq, 1);
        model.setCheck(Field::RespReq, 1);
    }
    // Every write is answered with `bytes` after `delay` seconds.
    void answerEveryWrite(double delay, const QByteArray& bytes)
    {
        link.onWrite = [this, delay, bytes](const QByteArray&) { link.reply(delay, bytes); };
    }

    ConsoleModel model;
    FakeClock clock;
    FakePump pump{clock};
    FakeLink link{clock, pump, [this] { return model.serialLink(); }};
    FakePrompter prompter;
    Engine engine{link, clock, pump, prompter};
    std::stop_source stop;
    QString function;
    int16_t slot = 0;
};

struct HookSpy final : ReplyHook {
    void onReply(const QString& text, int slot) override { seen.append(QStringLiteral("%1:%2").arg(slot).arg(text)); }
    QStringList seen;
};
} // namespace

class TestEngine : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QDir::setCurrent(m_dir.path());
    }

    void readInputEndsEarlyThenSettles()
    {
        Rig r;
        r.model.choose(Field::OptNone);
        // Six bytes do not end the wait (the threshold is six); the seventh does. The reply is read
        // once the buffer has stayed unchanged for one scanning delay (50 ms).
        r.link.onWrite = [&](const QByteArray&) {
            r.link.reply(0.010, hex("010202"));
            r.link.reply(0.020, hex("000000"));
            r.link.reply(0.030, hex("b9"));
        };
        HookSpy hook;
        r.engine.setReplyHook(&hook);
        QVERIFY(r.run("ReadInput"));
        QCOMPARE(r.link.writes, QList<QByteArray>{hex("010200000010")});
        QCOMPARE(r.reply(), QStringLiteral("01 02 02 00 00 00 B9 "));
        QCOMPARE(hook.seen, QStringList{"0:01 02 02 00 00 00 B9 "});
        QCOMPARE(r.link.readTimes.size(), 1);
        QVERIFY(r.link.readTimes[0] > 0.030 + 0.050);
        QVERIFY(r.link.readTimes[0] < 0.030 + 0.050 * 2 + 0.002);
    }

    void noAnswerAfterThreeSends()
    {
        Rig r;
        r.model.choose(Field::Modbus);
        QVERIFY(r.run("ReadInput", 3));
        QCOMPARE(r.link.writes.size(), 3);
        QCOMPARE(r.link.writes[0], hex("060200000010") + QByteArray::fromHex(CrcModbus("060200000010").toLatin1()));
        QVERIFY(r.link.writeTimes[1] - r.link.writeTimes[0] >= 1.5);
        QVERIFY(r.link.writeTimes[1] - r.link.writeTimes[0] < 1.51);
        QCOMPARE(r.reply(3), QStringLiteral("NO ANSWER FROM CONTROLLER ADDRESS 5"));
        QVERIFY(r.link.readTimes.isEmpty());
    }

    void partialReplyCountsTowardsNextAttempt()
    {
        Rig r;
        r.model.choose(Field::OptNone);
        int writes = 0;
        r.link.onWrite = [&](const QByteArray&) {
            if (++writes == 1)
                r.link.reply(0.1, hex("aabbcc")); // three bytes: below the threshold
            else
                r.link.reply(0.1, hex("01020200"));
        };
        QVERIFY(r.run("ReadInput"));
        QCOMPARE(r.link.writes.size(), 2);
        QCOMPARE(r.reply(), QStringLiteral("AA BB CC 01 02 02 00 "));
    }

    void readBufferShowsBothForms()
    {
        Rig r;
        r.model.choose(Field::OptNone);
        r.model.setText(Field::Address, 0, "16");
        int writes = 0;
        r.link.onWrite = [&](const QByteArray&) { r.link.reply(0.01, QByteArray(17, char(++writes))); };
        QVERIFY(r.run("ReadBuffer"));
        QCOMPARE(r.link.writes, (QList<QByteArray>{hex("110401000006"), hex("110401100006")}));
        QVERIFY(r.reply().startsWith("01 01 "));
        QVERIFY(r.reply1().startsWith("02 02 "));
    }

    void readBufferSecondUnanswered()
    {
        Rig r;
        r.model.choose(Field::OptNone);
        r.model.setText(Field::Reponse1, 0, "earlier");
        int writes = 0;
        r.link.onWrite = [&](const QByteArray&) {
            if (++writes == 1)
                r.link.reply(0.01, QByteArray(17, '\x01'));
        };
        QVERIFY(r.run("ReadBuffer"));
        QCOMPARE(r.link.writes.size(), 4);
        QCOMPARE(r.reply(), QStringLiteral("NO ANSWER FROM CONTROLLER ADDRESS 0"));
        QCOMPARE(r.reply1(), QStringLiteral("earlier"));
    }

    void tcpReplyReadOneScanDelayLater()
    {
        Rig r;
        r.model.choose(Field::OpTCP);
        r.model.choose(Field::OptNone);
        r.answerEveryWrite(0.020, hex("0102"));
        QVERIFY(r.run("SendQuery"));
        QCOMPARE(r.link.writes, QList<QByteArray>{hex("011801")});
        QCOMPARE(r.reply(), QStringLiteral("01 02 "));
        QVERIFY(r.link.readTimes[0] > 0.070);
        QVERIFY(r.link.readTimes[0] < 0.072);
    }

    void bioscryptWithoutFlagsAwaitsNothing()
    {
        Rig r;
        r.model.choose(Field::OptBioscrypt);
        r.model.setText(Field::Address, 0, "1");
        r.model.setText(Field::Cmd, "0105");
        r.answerEveryWrite(0.01, hex("0102030405060708"));
        QVERIFY(r.run("SendCommand"));
        QCOMPARE(r.link.writes, QList<QByteArray>{hex("40286BFE00100010105000000000FFFF08FF")});
        QCOMPARE(r.reply(), QString());
        QCOMPARE(r.clock.t, 0.0);
    }

    void bioscryptWaitsForTheSecondMessage()
    {
        Rig r;
        r.bioscryptWithBothFlags();
        r.model.setText(Field::Cmd, "0105");
        r.link.onWrite = [&](const QByteArray&) {
            r.link.reply(0.010, hex("aa"));   // acknowledgement
            r.link.reply(0.400, hex("bbcc")); // the response, well after one scanning delay
        };
        QVERIFY(r.run("SendCommand"));
        QCOMPARE(r.link.writes.size(), 1);
        QCOMPARE(r.reply(), QStringLiteral("AA BB CC "));
    }

    void waitingAlternatesUntilStop_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::newRow("serial") << false;
        QTest::newRow("TCP") << true;
    }
    void waitingAlternatesUntilStop()
    {
        QFETCH(bool, tcp);
        Rig r;
        if (tcp)
            r.model.choose(Field::OpTCP);
        r.link.reply(0.1, hex("01"));
        r.link.reply(0.3, hex("02"));
        r.link.reply(0.5, hex("03"));
        QStringList shown;
        connect(&r.model, &ConsoleModel::valueChanged, this, [&](FieldRef ref) {
            if (ref.field == Field::Reponse || ref.field == Field::Reponse1)
                shown.append(ConsoleModel::name(ref) + "=" + r.model.text(ref));
        });
        r.pump.at(0.7, [&] { r.stop.request_stop(); });
        QVERIFY(!r.run("Waiting"));
        QCOMPARE(shown, (QStringList{"Reponse_0=01 ", "Reponse1_0=02 ", "Reponse_0=03 "}));
        QVERIFY(r.link.writes.isEmpty());
        QCOMPARE(r.link.disconnects, 1);
    }

    void stopDuringPacingSkipsTheCheck()
    {
        Rig r; // Protocol 4
        r.model.setText(Field::Scan, "1000");
        r.answerEveryWrite(0.01, hex("0102020000FFFF04")); // wrong check value
        r.pump.at(0.2, [&] { r.stop.request_stop(); });
        QVERIFY(!r.run("ReadInput"));
        QCOMPARE(r.reply(), QStringLiteral("01 02 02 00 00 FF FF 04 "));
        QVERIFY(!r.model.visible(Field::Label8));
        QCOMPARE(r.link.disconnects, 1);
    }

    void stopEndsAnEndlessSettle()
    {
        Rig r;
        r.model.choose(Field::OptNone);
        for (int i = 1; i < 1000; ++i)
            r.link.reply(0.01 * i, hex("55"));
        r.pump.at(0.5, [&] { r.stop.request_stop(); });
        QVERIFY(!r.run("ReadInput"));
        QCOMPARE(r.link.disconnects, 1);
        QVERIFY(r.clock.t < 0.6);
        QVERIFY(r.link.readTimes.isEmpty());
    }

    void stopDuringBioscryptSecondMessageWait()
    {
        Rig r;
        r.bioscryptWithBothFlags();
        r.model.setText(Field::TimeOutDelay, "100000");
        r.model.setText(Field::Cmd, "0105");
        r.answerEveryWrite(0.01, hex("aa"));
        r.pump.at(1.0, [&] { r.stop.request_stop(); });
        QVERIFY(!r.run("SendCommand"));
        QVERIFY(r.clock.t < 1.1);
    }

    void commandLinesAlternate()
    {
        Rig r;
        r.model.choose(Field::OptNone);
        r.model.setText(Field::TimeOutDelay, "100");
        r.model.setText(Field::Cmd, "01 02, / first\r\n\\ comment\r\n\r\n0304\r\n056");
        r.link.onWrite = [&](const QByteArray& frame) {
            if (frame != hex("0304")) // the second command goes unanswered
                r.link.reply(0.01, frame.left(1));
        };
        QVERIFY(r.run("SendCommand"));
        // The comment and the empty line are skipped; 056 loses its odd final digit.
        QCOMPARE(r.link.writes, (QList<QByteArray>{hex("0102"), hex("0304"), hex("0304"), hex("0304"), hex("05")}));
        // Replies alternate across lines; the no-answer text always goes to the first box.
        QCOMPARE(r.reply1(), QStringLiteral("05 "));
        QCOMPARE(r.reply(), QStringLiteral("NO ANSWER FROM CONTROLLER ADDRESS 0"));
        QFile file("Command.txt");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("01 02, / first\r\n\\ comment\r\n\r\n0304\r\n056\r\n"));
    }

    void emptyCommandSendsNothing()
    {
        Rig r;
        r.model.setText(Field::Cmd, "");
        QVERIFY(r.run("SendCommand"));
        QVERIFY(r.link.writes.isEmpty());
        QCOMPARE(r.clock.t, 0.0);
    }

    void unknownFunctionUnderNoneSendsNothing()
    {
        Rig r;
        r.model.choose(Field::OptNone);
        r.model.setText(Field::TimeOutDelay, "100");
        QVERIFY(r.run("Bogus"));
        QVERIFY(r.link.writes.isEmpty());
        QCOMPARE(r.reply(), QStringLiteral("NO ANSWER FROM CONTROLLER ADDRESS 0"));
    }

    void errorsSayWhatIsWrong_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        QTest::newRow("timeout") << "TimeOutDelay"
                                 << "abc"
                                 << "Time Out Delay is not a number";
        QTest::newRow("timeout overflow") << "TimeOutDelay"
                                          << "1e12"
                                          << "Time Out Delay is out of range";
        QTest::newRow("waiting delay") << "WaitingDelay"
                                       << ""
                                       << "Receive Buffer Scanning Delay is not a number";
        QTest::newRow("scan") << "Scan"
                              << "x"
                              << "Scan rate is not a number";
        QTest::newRow("address") << "Address_0"
                                 << "five"
                                 << "Address \"five\" is not a number";
        QTest::newRow("address overflow") << "Address_0"
                                          << "40000"
                                          << "Address 40000 is out of range";
        QTest::newRow("address too big") << "Address_0"
                                         << "300"
                                         << "Address 300 does not fit in one byte";
        QTest::newRow("query") << "Query"
                               << "7G"
                               << "Query code holds \"G\", which is not a hexadecimal digit";
    }
    void errorsSayWhatIsWrong()
    {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(QString, message);
        Rig r;
        r.model.choose(Field::OptNone);
        r.model.setText(ConsoleModel::find(field).value(), value);
        r.answerEveryWrite(0.01, hex("0102030405060708"));
        try {
            r.run(field == "Query" ? "SendQuery" : "ReadInput");
            QFAIL("no error");
        } catch (const OperatorError& e) {
            QCOMPARE(e.description(), message);
        }
    }

    void commandFileClosedAfterAnError()
    {
        Rig r;
        r.model.choose(Field::OptNone);
        r.model.setText(Field::Cmd, "0102\r\nZZ");
        r.answerEveryWrite(0.01, hex("01"));
        QVERIFY_THROWS_EXCEPTION(RequestRefused, r.run("SendCommand"));
        r.model.setText(Field::Cmd, "0304");
        QVERIFY(r.run("SendCommand"));
        QCOMPARE(r.link.writes.last(), hex("0304"));
    }

    void replyCheck_data()
    {
        QTest::addColumn<Protocol>("protocol");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("fails");
        const QByteArray good = p4Reply(hex("010202AABB"));
        QByteArray bad = good;
        bad[5] = char(bad[5] ^ 0x01);
        QTest::newRow("P4 good") << Protocol::Protocol4 << good << false;
        QTest::newRow("P4 bad") << Protocol::Protocol4 << bad << true;
        QTest::newRow("Customer bad") << Protocol::Customer << bad << true;
        QTest::newRow("P4+ good sum") << Protocol::Protocol4Plus << hex("110402000500 1C04") << false;
        QTest::newRow("P4+ bad sum") << Protocol::Protocol4Plus << hex("110402000500 1D04") << true;
        QTest::newRow("Modbus never checked") << Protocol::Modbus << bad << false;
        QTest::newRow("Bioscrypt never checked") << Protocol::Bioscrypt << bad << false;
        QTest::newRow("two bytes unchecked") << Protocol::Protocol4 << hex("0102") << false;
        QTest::newRow("three bytes checked") << Protocol::Protocol4 << hex("010203") << true;
        // The count announces more than came: the whole reply is covered, check value included.
        const QByteArray shortReply = hex("0102FF0011");
        QTest::newRow("over-announced") << Protocol::Protocol4 << (shortReply + hex("2233") + '\x04') << true;
    }
    void replyCheck()
    {
        QFETCH(Protocol, protocol);
        QFETCH(QByteArray, reply);
        QFETCH(bool, fails);
        QCOMPARE(replyCheckFails(reply, protocol, false, QString()), fails);
    }

    void labelShownOnBadCheckAndHiddenAtNextExchange()
    {
        Rig r;
        int writes = 0;
        r.link.onWrite = [&](const QByteArray&) {
            r.link.reply(0.01, ++writes == 1 ? hex("0102020000FFFF04") : p4Reply(hex("0102020000")));
        };
        QVERIFY(r.run("ReadInput"));
        QVERIFY(r.model.visible(Field::Label8));
        QVERIFY(r.run("ReadInput"));
        QVERIFY(!r.model.visible(Field::Label8));
    }

    void observerSeesEveryAttempt()
    {
        struct Journal final : ExchangeObserver {
            void attemptFinished(const AttemptRecord& a) override { records.append(a); }
            QList<AttemptRecord> records;
        } journal;
        Rig r;
        r.model.choose(Field::OptNone);
        r.model.setText(Field::TimeOutDelay, "100");
        int writes = 0;
        r.link.onWrite = [&](const QByteArray&) {
            if (++writes == 2)
                r.link.reply(0.01, hex("01020304050607"));
        };
        r.engine.addObserver(&journal);
        QVERIFY(r.run("ReadInput"));
        QCOMPARE(journal.records.size(), 2);
        QCOMPARE(journal.records[0].verdict, AttemptRecord::Verdict::NoReply);
        QCOMPARE(journal.records[1].verdict, AttemptRecord::Verdict::Reply);
        QCOMPARE(journal.records[1].attempt, 2);
        QCOMPARE(journal.records[1].reply, hex("01020304050607"));
    }

    // The reply's bytes were waiting, then the link went away before they could be read: the console
    // shows what it read (nothing), and the attempt is an error, never an answer.
    void aReplyThatCannotBeReadIsNoAnswer()
    {
        struct Attempts final : ExchangeObserver {
            void attemptFinished(const AttemptRecord& a) override { records.append(a); }
            QList<AttemptRecord> records;
        } attempts;
        Rig r;
        r.engine.addObserver(&attempts);
        r.answerEveryWrite(0.010, p4Reply(hex("0102020000")));
        r.pump.at(0.030, [&] { r.link.rx.clear(); }); // gone with the port, during the settle
        QVERIFY(r.run("ReadInput"));
        QCOMPARE(r.reply(), QString());
        QCOMPARE(attempts.records.size(), 1);
        QCOMPARE(attempts.records[0].verdict, AttemptRecord::Verdict::Error);
        QCOMPARE(attempts.records[0].detail, QStringLiteral("the reply could not be read"));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_APPLESS_MAIN(TestEngine)
#include "tst_engine.moc"
