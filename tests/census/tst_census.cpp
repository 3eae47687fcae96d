// The bus census over the console's exchange, on a scripted link: who answers, at which speed, with
// how many tries; Stop and a link that cannot be opened; and the address, range and speed lists.

#include "AddressList.h"
#include "AddressResult.h"
#include "Census.h"
#include "Requests.h"
#include "ScriptedBus.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tarvo;
using namespace tarvo::test;

namespace {

struct Bus : ScriptedBus {
    Census census{model, stack.link, clock, pump, prompter};
};

CensusPlan plan(const QList<int>& addresses)
{
    CensusPlan p;
    p.addresses = addresses;
    p.function = fn::ReadInput;
    return p;
}

} // namespace

class TestCensus : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QDir::setCurrent(m_dir.path()); }

    void findsWhoAnswersWithoutTouchingTheConsole()
    {
        Bus b;
        b.answering = {2, 5};
        b.badCheck = {5};
        b.tick(0);
        b.model.setText(Field::Address, 0, "17");
        b.model.setText(Field::Reponse, 0, "shown before");
        QList<AddressResult> results;
        QList<CensusProgress> progress;
        b.census.onResult = [&](const AddressResult& r) { results << r; };
        b.census.onProgress = [&](const CensusProgress& p) { progress << p; };

        QCOMPARE(b.census.run(plan({1, 2, 3, 4, 5})), Census::End::Finished);

        QCOMPARE(results.size(), 5);
        QStringList verdicts;
        for (const AddressResult& r : results)
            verdicts << r.address + QLatin1Char(' ') + verdictName(r.verdict);
        QCOMPARE(verdicts, (QStringList{"1 no-answer", "2 ok", "3 no-answer", "4 no-answer", "5 bad-check"}));
        QCOMPARE(results[1].sent, QStringLiteral("03 02 00 00 00 10 98 52 04"));
        QVERIFY(results[1].received.startsWith("03 02 02 49 92"));
        QCOMPARE(results[1].firstByteMs, 4.0);
        // One try and 200 ms each by default: a silent address costs one time-out.
        QCOMPARE(results[0].attempts, 1);
        QCOMPARE(b.link.writes.size(), 5);
        QVERIFY(b.clock.t < 5 * 0.2 + 0.5);
        // The progress names each address before it is asked, and the time left shrinks to nothing.
        QCOMPARE(progress.size(), 5);
        QCOMPARE(progress[3].address, 4);
        QCOMPARE(progress[3].done, 3);
        QCOMPARE(progress[0].secondsLeft, 5 * 0.2);
        QVERIFY(progress[4].secondsLeft < progress[1].secondsLeft);
        // The operator's console is as it was: its slot, reply box and time-out.
        QCOMPARE(b.model.address(0), QStringLiteral("17"));
        QCOMPARE(b.reply(0), QStringLiteral("shown before"));
        QCOMPARE(b.model.text(Field::TimeOutDelay), QStringLiteral("1500"));
        QCOMPARE(b.link.connects, 1);
        QCOMPARE(b.link.disconnects, 1);
    }

    void everySpeedInTurn()
    {
        Bus b;
        b.answering = {3};
        b.speed = "19200";
        QList<AddressResult> results;
        b.census.onResult = [&](const AddressResult& r) { results << r; };
        CensusPlan p = plan({2, 3});
        p.speeds = {9600, 19200, 38400};
        QCOMPARE(b.census.run(p), Census::End::Finished);
        QStringList found;
        for (const AddressResult& r : results)
            found << QStringLiteral("%1@%2 %3").arg(r.address, r.speed, verdictName(r.verdict));
        QCOMPARE(found, (QStringList{"2@9600 no-answer", "3@9600 no-answer", "2@19200 no-answer", "3@19200 ok",
                                     "2@38400 no-answer", "3@38400 no-answer"}));
        QCOMPARE(b.model.text(Field::COMSpeed), QStringLiteral("38400")); // the console's own speed stays
    }

    void triesAndTimeOutAreTheCensusOwn()
    {
        Bus b;
        CensusPlan p = plan({7});
        p.tries = 2;
        p.timeoutMs = 50;
        QList<AddressResult> results;
        b.census.onResult = [&](const AddressResult& r) { results << r; };
        b.census.run(p);
        QCOMPARE(b.link.writes.size(), 2);
        QCOMPARE(results.value(0).attempts, 2);
        QVERIFY(b.clock.t >= 0.1 && b.clock.t < 0.15);
    }

    void stopEndsItAtOnce()
    {
        Bus b;
        b.answering = {0, 1, 2, 3};
        QList<AddressResult> results;
        b.census.onResult = [&](const AddressResult& r) { results << r; };
        b.pump.at(0.15, [&] { b.census.stop(); });
        QCOMPARE(b.census.run(plan({0, 1, 2, 3, 4, 5, 6, 7, 8, 9})), Census::End::Stopped);
        QVERIFY(!results.isEmpty() && results.size() < 10);
        QVERIFY(!b.census.running());
        QVERIFY(!b.link.open);
    }

    void aLinkThatCannotBeOpenedSendsNothing()
    {
        Bus b;
        b.link.refuseConnect = true;
        QCOMPARE(b.census.run(plan({1, 2})), Census::End::LinkDown);
        QVERIFY(b.link.writes.isEmpty());
    }

    void refusedBeforeAnythingIsSent_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QList<int>>("addresses");
        QTest::addColumn<QString>("refusal"); // empty: none
        QTest::addColumn<int>("longest");
        QTest::newRow("fixed requests fit") << fn::ReadInput << "" << QList<int>{0, 254} << "" << 9;
        QTest::newRow("address plus 1 beyond a byte")
            << fn::ReadInput << "" << QList<int>{253, 254, 255} << "Address 255 does not fit in one byte" << 0;
        QTest::newRow("a command line") << fn::SendCommand << "73" << QList<int>{1, 255} << "" << 7;
        QTest::newRow("a command that is not hexadecimal") << fn::SendCommand << "7G" << QList<int>{1} << "G" << 0;
    }
    void refusedBeforeAnythingIsSent()
    {
        QFETCH(QString, function);
        QFETCH(QString, command);
        QFETCH(QList<int>, addresses);
        QFETCH(QString, refusal);
        QFETCH(int, longest);
        Bus b;
        CensusPlan p = plan(addresses);
        p.function = function;
        p.command = command;
        int length = 0;
        const auto refused = b.census.refusal(p, &length);
        QVERIFY(b.link.writes.isEmpty());
        if (refusal.isEmpty()) {
            QVERIFY2(!refused, qPrintable(refused.value_or(QString())));
            QCOMPARE(length, longest);
        } else {
            QVERIFY(refused && refused->contains(refusal));
        }
    }

    void addressRanges_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("addresses"); // as addressListText writes them; "!" for a refusal
        QTest::newRow("range") << "1..247"
                               << "1..247";
        QTest::newRow("dash") << " 3-5 "
                              << "3..5";
        QTest::newRow("one") << "7"
                             << "7";
        QTest::newRow("whole span") << "0..65535"
                                    << "0..65535";
        QTest::newRow("backwards") << "9..3"
                                   << "!";
        QTest::newRow("too high") << "1..65536"
                                  << "!";
        QTest::newRow("sign") << "-1..4"
                              << "!";
        QTest::newRow("letters") << "a..b"
                                 << "!";
        QTest::newRow("empty") << ""
                               << "!";
        QTest::newRow("list is not a range") << "1,2"
                                             << "!";
    }
    void addressRanges()
    {
        QFETCH(QString, text);
        QFETCH(QString, addresses);
        QString why;
        const auto r = parseAddressRange(text, &why);
        QCOMPARE(r ? addressListText(*r) : QStringLiteral("!"), addresses);
        QCOMPARE(why.isEmpty(), addresses != "!");
    }

    void addressLists_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("addresses"); // in order, comma-joined; "!" for a refusal
        QTest::newRow("list") << "5,6,9"
                              << "5,6,9";
        QTest::newRow("order kept, repeats dropped") << "9, 5,9,6"
                                                     << "9,5,6";
        QTest::newRow("ranges inside") << "1..3,10"
                                       << "1,2,3,10";
        QTest::newRow("empty item") << "5,,6"
                                    << "!";
        QTest::newRow("trailing comma") << "5,"
                                        << "!";
        QTest::newRow("out of range") << "70000"
                                      << "!";
        QTest::newRow("nothing") << "  "
                                 << "!";
    }
    void addressLists()
    {
        QFETCH(QString, text);
        QFETCH(QString, addresses);
        const auto r = parseAddressList(text);
        QStringList got;
        for (int a : r.value_or(QList<int>{}))
            got << QString::number(a);
        QCOMPARE(r ? got.join(',') : QStringLiteral("!"), addresses);
    }

    void speedLists_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("speeds");
        QTest::newRow("three") << "9600,19200,38400"
                               << "9600,19200,38400";
        QTest::newRow("repeat") << "9600, 9600"
                                << "9600";
        QTest::newRow("too slow") << "10"
                                  << "!";
        QTest::newRow("not a number") << "fast"
                                      << "!";
        QTest::newRow("nothing") << ""
                                 << "!";
    }
    void speedLists()
    {
        QFETCH(QString, text);
        QFETCH(QString, speeds);
        const auto r = parseSpeedList(text);
        QStringList got;
        for (int s : r.value_or(QList<int>{}))
            got << QString::number(s);
        QCOMPARE(r ? got.join(',') : QStringLiteral("!"), speeds);
    }

private:
    QTemporaryDir m_dir;

    // A call's result from its attempts, as the records and the exit status take it: a refusal is an
    // answer that later silence does not undo, and a later request's worse verdict wins.
    void resultOfACall_data()
    {
        QTest::addColumn<QStringList>("attempts"); // request.attempt:what, in order
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QString>("received");
        QTest::newRow("refused, then silent") << QStringList{"1.1:exception", "1.2:silent", "1.3:silent"} << "exception"
                                              << "06 82 02 70 A0";
        QTest::newRow("silent, then refused") << QStringList{"1.1:silent", "1.2:exception"} << "exception"
                                              << "06 82 02 70 A0";
        QTest::newRow("refused, then answered") << QStringList{"1.1:exception", "1.2:ok"} << "ok"
                                                << "06 02 02 00 55 CC 47";
        QTest::newRow("a refusal outranks an earlier request's silence")
            << QStringList{"1.1:silent", "2.1:exception"} << "exception"
            << "06 82 02 70 A0";
        QTest::newRow("a bad check outranks a refusal") << QStringList{"1.1:badcheck", "2.1:exception"} << "bad-check"
                                                        << "06 82 02 70 A0";
    }
    void resultOfACall()
    {
        QFETCH(QStringList, attempts);
        QFETCH(QString, verdict);
        QFETCH(QString, received);
        FakeClock clock;
        ResultCollector collector(clock);
        for (const QString& step : attempts) {
            AttemptRecord a;
            a.slot = 2;
            a.address = QStringLiteral("5");
            a.function = fn::ReadInput;
            a.attempt = step.section(QLatin1Char(':'), 0, 0).section(QLatin1Char('.'), 1).toInt();
            const QString what = step.section(QLatin1Char(':'), 1);
            a.verdict = what == "silent" || what == "exception" ? AttemptRecord::Verdict::NoReply
                                                                : AttemptRecord::Verdict::Reply;
            if (what == "exception") {
                a.reply = QByteArray::fromHex("06820270A0");
                a.exceptionCode = 2;
            } else if (what != "silent") {
                a.reply = QByteArray::fromHex("0602020055CC47");
                a.checkFailed = what == "badcheck";
            }
            collector.attemptFinished(a);
        }
        const std::optional<AddressResult> r = collector.take(2);
        QVERIFY(r);
        QCOMPARE(verdictName(r->verdict), verdict);
        QCOMPARE(r->received, received);
    }
};

QTEST_GUILESS_MAIN(TestCensus)
#include "tst_census.moc"
