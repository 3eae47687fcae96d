// The plan reader's mistakes (each with its line and column), the reply patterns, what makes a send
// fail its expectation and how the reason reads, and the JUnit XML a CI server reads.

#include "JUnitCheck.h"
#include "PlanReader.h"
#include "PlanResults.h"
#include "PlanRunner.h"

#include <QDir>
#include <QTest>

using namespace tarvo;
using namespace tarvo::plans;
using namespace tarvo::test;

namespace {

const QByteArray kStep = "[[step]]\nname = \"s\"\naddress = 1\nfunction = \"read-input\"\n";

} // namespace

class TestPlans : public QObject {
    Q_OBJECT
private slots:
    void aGoodPlan()
    {
        const PlanReading r = readPlan("name = \"Rig 4\"\n"
                                       "[link]\ntcp = \"10.0.0.7:1001\"\n"
                                       "[protocol]\nprotocol = \"p4plus\"\nencrypt = \"12\"\n"
                                       "[timing]\ntimeout = 300\ntries = 1\n"
                                       "[[step]]\nname = \"Ident\"\naddress = \"0..2,5\"\ncommand = [\"73\", \"71\"]\n"
                                       "repeat = 3\ndelay_ms = 20\non_fail = \"continue\"\n"
                                       "[step.expect]\nverdict = \"ok\"\nreply = \"40 ?? 07 73 *\"\n"
                                       "max_first_byte_ms = 80\nmax_reply_ms = 120.5\nmin_success = 0.5\n"
                                       "[[step]]\nwait_ms = 250\n"
                                       "[[step]]\nname = \"Q\"\naddress = [7, 8]\nquery = \"2A\"\n");
        QVERIFY2(r.ok(), qPrintable(r.problems.value(0).text("p")));
        QCOMPARE(r.plan.name, QStringLiteral("Rig 4"));
        QCOMPARE(r.plan.settings.host, QStringLiteral("10.0.0.7"));
        QCOMPARE(r.plan.settings.protocol, Protocol::Protocol4Plus);
        QCOMPARE(r.plan.settings.tries, 1);
        QCOMPARE(r.plan.steps.size(), 3);
        const Step& s = r.plan.steps[0];
        QCOMPARE(s.addresses, (QList<int>{0, 1, 2, 5}));
        QCOMPARE(s.function, QStringLiteral("SendCommand"));
        QCOMPARE(s.commands, QStringLiteral("73\r\n71"));
        QCOMPARE(s.repeat, 3);
        QVERIFY(!s.stopOnFail);
        QCOMPARE(s.expect.reply->text(), QStringLiteral("40 ?? 07 73 *"));
        QCOMPARE(*s.expect.maxReplyMs, 120.5);
        QCOMPARE(s.expect.minSuccess, 0.5);
        QVERIFY(r.plan.steps[1].waitOnly);
        QCOMPARE(r.plan.steps[1].waitMs, 250);
        QCOMPARE(r.plan.steps[2].function, QStringLiteral("SendQuery"));
        QCOMPARE(r.plan.steps[2].query, QStringLiteral("2A"));
        // The command line's place stays the one its request is blamed on.
        QCOMPARE(s.requestPlace.line, 13);
    }

    // Every mistake is found, with the line and column an editor shows, before anything is sent.
    void mistakes_data()
    {
        QTest::addColumn<QByteArray>("plan");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("says");
        QTest::newRow("not TOML") << QByteArray("name = \"x\"\n[[step]\n") << 2 << 8 << "expected ']'";
        QTest::newRow("no step") << QByteArray("name = \"x\"\n") << 1 << 1 << "no step";
        QTest::newRow("unknown top key") << QByteArray("nmae = \"x\"\n" + kStep) << 1 << 1 << "unknown key \"nmae\"";
        QTest::newRow("unknown step key") << QByteArray(kStep + "adress = 2\n") << 5 << 1 << "unknown key \"adress\"";
        QTest::newRow("unknown expect key")
            << QByteArray(kStep + "[step.expect]\nmax_ms = 3\n") << 6 << 1 << "unknown key \"max_ms\"";
        QTest::newRow("unknown link key")
            << QByteArray("[link]\nbaud = 9600\n" + kStep) << 2 << 1 << "unknown key \"baud\"";
        QTest::newRow("wrong type") << QByteArray(kStep + "repeat = \"3\"\n") << 5 << 10 << "repeat is a string";
        QTest::newRow("wrong type in a list")
            << QByteArray("[[step]]\nname = \"s\"\naddress = [1, \"2\"]\nfunction = \"read-input\"\n") << 3 << 15
            << "address is a string";
        QTest::newRow("out of range") << QByteArray(kStep + "repeat = 0\n") << 5 << 10 << "out of range";
        QTest::newRow("address out of range")
            << QByteArray("[[step]]\nname = \"s\"\naddress = 70000\nfunction = \"read-input\"\n") << 3 << 11
            << "out of range";
        QTest::newRow("bad hex pattern") << QByteArray(kStep + "[step.expect]\nreply = \"05 7G\"\n") << 6 << 9
                                         << "not a hex pattern: \"G\"";
        QTest::newRow("star not last") << QByteArray(kStep + "[step.expect]\nreply = \"05 * 04\"\n") << 6 << 9
                                       << "comes last";
        QTest::newRow("half a byte") << QByteArray(kStep + "[step.expect]\nreply = \"05 7\"\n") << 6 << 9
                                     << "half a byte";
        QTest::newRow("unknown verdict") << QByteArray(kStep + "[step.expect]\nverdict = \"fine\"\n") << 6 << 11
                                         << "verdict \"fine\"";
        QTest::newRow("min_success above 1")
            << QByteArray(kStep + "[step.expect]\nmin_success = 90\n") << 6 << 15 << "out of range";
        QTest::newRow("sends nothing") << QByteArray("[[step]]\nname = \"s\"\naddress = 1\n") << 1 << 1
                                       << "sends nothing";
        QTest::newRow("no address") << QByteArray("[[step]]\nname = \"s\"\nquery = \"01\"\n") << 1 << 1
                                    << "has no address";
        QTest::newRow("no name") << QByteArray("[[step]]\naddress = 1\nquery = \"01\"\n") << 1 << 1 << "has no name";
        QTest::newRow("listen") << QByteArray("[[step]]\nname = \"s\"\naddress = 1\nfunction = \"listen\"\n") << 4 << 12
                                << "listening asks nobody";
        QTest::newRow("query and command")
            << QByteArray("[[step]]\nname = \"s\"\naddress = 1\nquery = \"01\"\ncommand = \"73\"\n") << 5 << 11
            << "not both";
        QTest::newRow("bad query") << QByteArray("[[step]]\nname = \"s\"\naddress = 1\nquery = \"123\"\n") << 4 << 9
                                   << "one or two hexadecimal digits";
        QTest::newRow("wait with more") << QByteArray("[[step]]\nwait_ms = 5\naddress = 1\n") << 2 << 11
                                        << "only waits; address belongs";
        QTest::newRow("bad on_fail") << QByteArray(kStep + "on_fail = \"retry\"\n") << 5 << 11 << "stop or continue";
        QTest::newRow("bad protocol") << QByteArray("[protocol]\nprotocol = \"p5\"\n" + kStep) << 2 << 12
                                      << "protocol \"p5\"";
        QTest::newRow("two links") << QByteArray("[link]\nserial = \"COM1\"\ntcp = \"h:1\"\n" + kStep) << 2 << 10
                                   << "one link at a time";
        QTest::newRow("tcp without port")
            << QByteArray("[link]\ntcp = \"host\"\n" + kStep) << 2 << 7 << "expected HOST:PORT";
        QTest::newRow("step not a table list") << QByteArray("step = 3\n") << 1 << 8 << "should be a list of steps";
    }
    void mistakes()
    {
        QFETCH(QByteArray, plan);
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(QString, says);
        const PlanReading r = readPlan(plan);
        QVERIFY(!r.ok());
        const PlanProblem& p = r.problems.first();
        const QString text = p.text(QStringLiteral("plan.toml"));
        QVERIFY2(text.startsWith(QStringLiteral("plan.toml:%1:%2: ").arg(line).arg(column)), qPrintable(text));
        QVERIFY2(text.contains(says), qPrintable(text));
    }

    // Several mistakes are all named, not only the first.
    void everyMistakeNamed()
    {
        const PlanReading r = readPlan("[[step]]\nname = \"a\"\naddress = 1\nfunction = \"read-inptu\"\n"
                                       "[[step]]\nname = \"b\"\naddress = 1\nquery = \"01\"\nrepat = 2\n");
        QCOMPARE(r.problems.size(), 2);
        QCOMPARE(r.problems[0].place.line, 4);
        QCOMPARE(r.problems[1].place.line, 9);
    }

    // A request the protocol refuses, under the settings the plan will run with: blamed on the address
    // when the address cannot be carried, else on the request.
    void requestsTheProtocolRefuses_data()
    {
        QTest::addColumn<QByteArray>("plan");
        QTest::addColumn<Protocol>("protocol");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("says");
        const QByteArray head = "[[step]]\nname = \"s\"\n";
        QTest::newRow("address beyond a byte") << QByteArray(head + "address = [1, 300]\nfunction = \"read-input\"\n")
                                               << Protocol::Modbus << 3 << "address 300";
        QTest::newRow("command not hex") << QByteArray(head + "address = 1\ncommand = \"03 00 0G\"\n")
                                         << Protocol::Modbus << 4 << "not a hexadecimal digit";
        QTest::newRow("bioscrypt fixed function") << QByteArray(head + "address = 1\nfunction = \"read-input\"\n")
                                                  << Protocol::Bioscrypt << 4 << "command lines only";
        QTest::newRow("bioscrypt warning")
            << QByteArray(head + "address = 1\ncommand = \"12\"\n") << Protocol::Bioscrypt << 4 << "must be 0";
        QTest::newRow("fine") << QByteArray(head + "address = 1\ncommand = \"73\"\n") << Protocol::Protocol4 << 0 << "";
    }
    void requestsTheProtocolRefuses()
    {
        QFETCH(QByteArray, plan);
        QFETCH(Protocol, protocol);
        QFETCH(int, line);
        QFETCH(QString, says);
        const PlanReading r = readPlan(plan);
        QVERIFY(r.ok());
        ExchangeSettings base;
        base.protocol = protocol;
        const QList<PlanProblem> problems = requestProblems(r.plan, base);
        if (line == 0) {
            QVERIFY(problems.isEmpty());
            return;
        }
        QCOMPARE(problems.size(), 1);
        QCOMPARE(problems[0].place.line, line);
        QVERIFY2(problems[0].message.contains(says), qPrintable(problems[0].message));
    }

    // The example plans of the repository read and build under their own protocols.
    void examplePlans()
    {
        const QStringList files = QDir(QStringLiteral(PLANS_DIR)).entryList({QStringLiteral("*.toml")});
        QVERIFY(files.size() >= 2);
        for (const QString& f : files) {
            const PlanReading r = readPlanFile(QDir(QStringLiteral(PLANS_DIR)).filePath(f));
            QVERIFY2(r.ok(), qPrintable(f + QLatin1Char(' ') + r.problems.value(0).text(f)));
            ExchangeSettings base;
            applyPlanSettings(r.plan.settings, base);
            QVERIFY2(requestProblems(r.plan, base).isEmpty(), qPrintable(f));
        }
    }

    // Changing to Modbus sets 9600 as on the console; naming the protocol already chosen keeps its speed,
    // and a speed of the plan wins.
    void modbusSpeed_data()
    {
        QTest::addColumn<Protocol>("console");
        QTest::addColumn<QByteArray>("plan");
        QTest::addColumn<QString>("speed");
        QTest::newRow("changed to Modbus") << Protocol::Protocol4 << QByteArray("protocol = \"modbus\"\n") << "9600";
        QTest::newRow("Modbus already") << Protocol::Modbus << QByteArray("protocol = \"modbus\"\n") << "19200";
        QTest::newRow("with a speed") << Protocol::Protocol4
                                      << QByteArray("protocol = \"modbus\"\n[link]\nspeed = 4800\n") << "4800";
    }
    void modbusSpeed()
    {
        QFETCH(Protocol, console);
        QFETCH(QByteArray, plan);
        QFETCH(QString, speed);
        const PlanReading r = readPlan("[protocol]\n" + plan + kStep);
        QVERIFY(r.ok());
        ExchangeSettings s;
        s.protocol = console;
        s.speed = QStringLiteral("19200");
        applyPlanSettings(r.plan.settings, s);
        QCOMPARE(s.protocol, Protocol::Modbus);
        QCOMPARE(s.speed, speed);
    }

    void patterns_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("matches");
        QTest::newRow("exact") << "05 73 00 01 04" << QByteArray::fromHex("0573000104") << true;
        QTest::newRow("no spaces") << "0573????04" << QByteArray::fromHex("0573AB0104") << true;
        QTest::newRow("wild bytes") << "05 73 ?? ?? 04" << QByteArray::fromHex("0573000104") << true;
        QTest::newRow("one short") << "05 73 ?? ?? 04" << QByteArray::fromHex("05730001") << false;
        QTest::newRow("one long") << "05 73 ?? ?? 04" << QByteArray::fromHex("057300010400") << false;
        QTest::newRow("wrong byte") << "05 73 ?? ?? 04" << QByteArray::fromHex("0574000104") << false;
        QTest::newRow("tail") << "05 73 *" << QByteArray::fromHex("0573000104") << true;
        QTest::newRow("empty tail") << "05 73 *" << QByteArray::fromHex("0573") << true;
        QTest::newRow("tail, short") << "05 73 *" << QByteArray::fromHex("05") << false;
        QTest::newRow("anything") << "*" << QByteArray() << true;
        QTest::newRow("lower case") << "0a ff" << QByteArray::fromHex("0AFF") << true;
    }
    void patterns()
    {
        QFETCH(QString, pattern);
        QFETCH(QByteArray, reply);
        QFETCH(bool, matches);
        const auto p = ReplyPattern::parse(pattern);
        QVERIFY(p);
        QCOMPARE(p->matches(reply), matches);
    }

    // Why a send fails, in the words a technician reads; a reply whose check failed never passes a
    // step that expects ok, whatever its shape.
    void sendFailures_data()
    {
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QString>("received");
        QTest::addColumn<double>("firstByteMs");
        QTest::addColumn<double>("replyMs");
        QTest::addColumn<QString>("why");
        QTest::newRow("passes") << "ok"
                                << "05 73 00 01 04" << 10.0 << 20.0 << "";
        QTest::newRow("shape") << "ok"
                               << "05 73 00 01" << 10.0 << 20.0 << "reply 05 73 00 01 does not match 05 73 ?? ?? 04";
        QTest::newRow("bad check") << "bad-check"
                                   << "05 73 00 01 04" << 10.0 << 20.0 << "verdict bad-check, expected ok";
        QTest::newRow("no answer") << "no-answer"
                                   << "" << qQNaN() << qQNaN() << "verdict no-answer, expected ok";
        QTest::newRow("first byte late") << "ok"
                                         << "05 73 00 01 04" << 60.25 << 70.0
                                         << "first byte after 60.3 ms, more than 50 ms";
        QTest::newRow("reply late") << "ok"
                                    << "05 73 00 01 04" << 10.0 << 120.0 << "reply after 120.0 ms, more than 100 ms";
    }
    void sendFailures()
    {
        QFETCH(QString, verdict);
        QFETCH(QString, received);
        QFETCH(double, firstByteMs);
        QFETCH(double, replyMs);
        QFETCH(QString, why);
        Expectation e;
        e.reply = ReplyPattern::parse(QStringLiteral("05 73 ?? ?? 04"));
        e.maxFirstByteMs = 50;
        e.maxReplyMs = 100;
        AddressResult r;
        r.verdict = static_cast<JournalRecord::Verdict>(verdictNames().indexOf(verdict));
        r.received = received;
        r.firstByteMs = firstByteMs;
        r.replyMs = replyMs;
        QCOMPARE(sendFailure(e, r).value_or(QString()), why);
    }

    // The XML holds every case with its outcome and reason, escaped, and its counts add up.
    void junit()
    {
        auto result = [](const QString& name, int address, StepResult::Outcome outcome, JournalRecord::Verdict verdict,
                         const QString& reason) {
            StepResult r;
            r.name = name;
            r.address = address;
            r.outcome = outcome;
            r.shown.verdict = verdict;
            r.reason = reason;
            r.sends = 1;
            r.seconds = 0.0123;
            return r;
        };
        using O = StepResult::Outcome;
        using V = JournalRecord::Verdict;
        const QList<StepResult> results{
            result("Ident <EPROM> & \"ROM\"", 0, O::Passed, V::Ok, {}),
            result("Ident <EPROM> & \"ROM\"", 1, O::Failed, V::NoAnswer, "verdict no-answer, expected ok"),
            result("Bad request", 2, O::Failed, V::Error, "verdict error, expected ok"),
            result("Later", 3, O::Skipped, V::Ok, "not run: step \"Bad request\" failed"),
        };
        const QByteArray xml = junitXml(QStringLiteral("Rig & co"), results, QDateTime::currentDateTime(), 1.5);
        const JUnitReport report = checkJUnit(xml);
        QVERIFY2(report.problem.isEmpty(), qPrintable(report.problem + "\n" + xml));
        QCOMPARE(report.suiteName, QStringLiteral("Rig & co"));
        QCOMPARE(report.cases.size(), 4);
        QCOMPARE(report.cases[0].name, QStringLiteral("Ident <EPROM> & \"ROM\" @ 0"));
        QCOMPARE(report.cases[0].outcome, QStringLiteral("pass"));
        QCOMPARE(report.cases[1].outcome, QStringLiteral("failure"));
        QCOMPARE(report.cases[1].message, QStringLiteral("verdict no-answer, expected ok"));
        QVERIFY(report.cases[1].text.contains("sent: (nothing)"));
        QCOMPARE(report.cases[2].outcome, QStringLiteral("error"));
        QCOMPARE(report.cases[3].outcome, QStringLiteral("skipped"));
        QVERIFY(xml.contains("failures=\"1\" errors=\"1\" skipped=\"1\""));
    }
};

QTEST_GUILESS_MAIN(TestPlans)
#include "tst_plans.moc"
