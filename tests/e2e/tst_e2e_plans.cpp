// tarvo-cli run against tarvo-sim with fault modes: the steps that must pass pass and the ones that must
// fail fail with their reasons, the JUnit file passes the schema check, the example plans of plans/ run,
// a plan with a mistake sends nothing, and an interrupted plan keeps what it did.

#include "JUnitCheck.h"
#include "ProgramRun.h"
#include "SimLog.h"
#include "SimProcess.h"
#include "TestFiles.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

using namespace tarvo::test;

namespace {

using Run = ProgramRun;

Run runCli(const QStringList& args)
{
    return runProgram(TARVO_CLI_PATH, args);
}

QList<QJsonObject> jsonRecords(const QByteArray& out)
{
    QList<QJsonObject> list;
    for (const QByteArray& line : out.split('\n')) {
        if (!line.trimmed().isEmpty())
            list << QJsonDocument::fromJson(line).object();
    }
    return list;
}

QString tcp(const SimProcess& sim)
{
    return QStringLiteral("127.0.0.1:%1").arg(sim.tcpPort);
}

} // namespace

class TestE2ePlans : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QDir::setCurrent(m_dir->path());
    }

    void stepsAgainstFaults()
    {
        SimProcess sim({"--protocol", "p4", "--tcp", "127.0.0.1:0", "--addresses", "0-3", "--fault", "1:silent",
                        "--fault", "2:badcheck", "--log", "sim.log"});
        // The plan's own link is wrong on purpose: the command line overrides it.
        QVERIFY(writeFile("plan.toml",
                          "name = \"Faults\"\n"
                          "[link]\ntcp = \"127.0.0.1:1\"\n"
                          "[protocol]\nprotocol = \"p4\"\n"
                          "[timing]\ntimeout = 150\ntries = 1\n"
                          "[[step]]\nname = \"Ident\"\naddress = \"0..3\"\ncommand = \"73\"\n"
                          "on_fail = \"continue\"\n[step.expect]\nreply = \"40 ?? 07 73 *\"\n"
                          "[[step]]\nname = \"Shape\"\naddress = 0\ncommand = \"73\"\n"
                          "on_fail = \"continue\"\n[step.expect]\nreply = \"40 00 07 71 *\"\n"
                          "[[step]]\nname = \"Silent stays silent\"\naddress = 1\nfunction = \"read-input\"\n"
                          "repeat = 2\n[step.expect]\nverdict = \"no-answer\"\n"
                          "[[step]]\nwait_ms = 20\n"
                          "[[step]]\nname = \"Stops here\"\naddress = 2\nquery = \"01\"\n"
                          "[[step]]\nname = \"Never run\"\naddress = [0, 3]\nfunction = \"read-input\"\n"));
        const Run r = runCli({"run", "plan.toml", "--tcp", tcp(sim), "--format", "json", "--junit", "out/../j.xml",
                              "--journal", "journal.csv"});
        QTest::qWait(100); // the simulator logs what it still had on its way
        QCOMPARE(r.code, 5);
        const QList<QJsonObject> got = jsonRecords(r.out);
        QStringList lines;
        for (const QJsonObject& o : got)
            lines << QStringLiteral("%1 @ %2: %3 %4")
                         .arg(o["step"].toString())
                         .arg(o["address"].toInt())
                         .arg(o["result"].toString(), o["reason"].toString());
        const QStringList expected{
            "Ident @ 0: pass ",
            "Ident @ 1: fail verdict no-answer, expected ok",
            "Ident @ 2: fail verdict bad-check, expected ok (CRC-16/XMODEM carried 45 E7, computed BA E7)",
            "Ident @ 3: pass ",
            "Shape @ 0: fail reply 40 00 07 73 01 15 03 24 C0 00 5C C2 04 does not match 40 00 07 71 *",
            "Silent stays silent @ 1: pass ",
            "Stops here @ 2: fail verdict bad-check, expected ok (CRC-16/XMODEM carried 44 7C, computed BB 7C)",
            "Never run @ 0: skipped not run: step \"Stops here\" failed",
            "Never run @ 3: skipped not run: step \"Stops here\" failed",
        };
        QCOMPARE(lines, expected);
        QCOMPARE(got[5]["sends"].toInt(), 2);

        // Every request on the wire is a journal row, and nothing the plan skipped went out.
        const QStringList frames = simLogFrames("sim.log");
        const QByteArray journal = fileContent("journal.csv");
        QCOMPARE(journal.count('\n') - 1, frames.filter(QRegularExpression("^rx ")).size());
        QCOMPARE(frames.filter(QRegularExpression("^rx ")).size(), 8);

        const JUnitReport junit = checkJUnit(fileContent("j.xml"));
        QVERIFY2(junit.problem.isEmpty(), qPrintable(junit.problem));
        QCOMPARE(junit.suiteName, QStringLiteral("Faults"));
        QCOMPARE(junit.cases.size(), got.size());
        for (qsizetype i = 0; i < got.size(); ++i) {
            QCOMPARE(junit.cases[i].name,
                     QStringLiteral("%1 @ %2").arg(got[i]["step"].toString()).arg(got[i]["address"].toInt()));
            const QString result = got[i]["result"].toString();
            QCOMPARE(junit.cases[i].outcome, result == "fail" ? QStringLiteral("failure") : result);
            QCOMPARE(junit.cases[i].message, got[i]["reason"].toString());
        }
    }

    // The example plans against the simulator: the identification of readers 0 to 7 over a serial
    // line with reader 6 silent, and the Modbus register check over TCP.
    void examplePlans_data()
    {
        QTest::addColumn<QString>("plan");
        QTest::addColumn<QStringList>("sim");
        QTest::addColumn<bool>("serial");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("failed");
        QTest::newRow("identify") << "identify-p4.toml"
                                  << QStringList{"--protocol", "p4",      "--serial", "--addresses",
                                                 "0-7",        "--fault", "6:silent"}
                                  << true << 5 << QStringList{"EPROM identification @ 6", "ROM identification @ 6"};
        QTest::newRow("modbus registers")
            << "modbus-registers.toml"
            << QStringList{"--protocol", "modbus", "--tcp", "127.0.0.1:0", "--addresses", "0-5"} << false << 0
            << QStringList{};
    }
    void examplePlans()
    {
        QFETCH(QString, plan);
        QFETCH(QStringList, sim);
        QFETCH(bool, serial);
        QFETCH(int, code);
        QFETCH(QStringList, failed);
        SimProcess s(sim);
        const QStringList link = serial ? QStringList{"--serial", s.ptyPath} : QStringList{"--tcp", tcp(s)};
        const Run r = runCli(
            QStringList{"run", QStringLiteral(PLANS_DIR "/") + plan, "--format", "json", "--junit", "j.xml"} + link);
        QVERIFY2(r.code == code, r.err.constData());
        QStringList gotFailed;
        for (const QJsonObject& o : jsonRecords(r.out)) {
            if (o["result"].toString() != "pass")
                gotFailed << QStringLiteral("%1 @ %2").arg(o["step"].toString()).arg(o["address"].toInt());
        }
        QCOMPARE(gotFailed, failed);
        QVERIFY(checkJUnit(fileContent("j.xml")).problem.isEmpty());
    }

    // A plan with a mistake is refused with its line and column, and nothing goes out.
    void mistakesSendNothing_data()
    {
        QTest::addColumn<QByteArray>("plan");
        QTest::addColumn<QString>("says");
        const QByteArray step = "[[step]]\nname = \"s\"\naddress = 1\n";
        QTest::newRow("TOML") << QByteArray(step + "function = read-input\n") << "plan.toml:4:12: ";
        QTest::newRow("unknown key") << QByteArray(step + "function = \"read-input\"\nrepaet = 2\n")
                                     << "plan.toml:5:1: unknown key \"repaet\"";
        QTest::newRow("wrong type") << QByteArray(step + "function = \"read-input\"\ndelay_ms = 1.5\n")
                                    << "plan.toml:5:12: delay_ms is a number with a fraction";
        QTest::newRow("bad pattern") << QByteArray(step + "query = \"01\"\n[step.expect]\nreply = \"01 0\"\n")
                                     << "plan.toml:6:9: reply \"01 0\" is not a hex pattern";
        QTest::newRow("protocol refuses") << QByteArray("[[step]]\nname = \"ok first\"\naddress = 1\nquery = \"01\"\n"
                                                        "[[step]]\nname = \"s\"\naddress = 1\ncommand = \"01 0X\"\n")
                                          << "plan.toml:8:11: step \"s\", address 1: Command holds";
        QTest::newRow("second of two mistakes")
            << QByteArray(step + "query = 1\n[[step]]\nwat_ms = 3\n") << "plan.toml:6:1: unknown key \"wat_ms\"";
    }
    void mistakesSendNothing()
    {
        QFETCH(QByteArray, plan);
        QFETCH(QString, says);
        SimProcess sim({"--protocol", "modbus", "--tcp", "127.0.0.1:0", "--log", "sim.log"});
        QVERIFY(writeFile("plan.toml", plan));
        const Run r = runCli({"run", "plan.toml", "--tcp", tcp(sim), "--protocol", "modbus", "--junit", "j.xml"});
        QTest::qWait(100);
        QCOMPARE(r.code, 64);
        QVERIFY2(r.err.contains(says.toUtf8()), r.err.constData());
        QVERIFY2(r.err.contains("nothing was sent"), r.err.constData());
        QVERIFY(simLogFrames("sim.log").isEmpty());
        QVERIFY(!QFile::exists("j.xml"));
    }

    // Ctrl+C during a plan: status 130, the steps done so far printed and in a JUnit file that is whole.
    void interrupted()
    {
        SimProcess sim({"--protocol", "modbus", "--tcp", "127.0.0.1:0"});
        QVERIFY(writeFile("plan.toml", "name = \"Long\"\n[protocol]\nprotocol = \"modbus\"\n"
                                       "[[step]]\nname = \"First\"\naddress = \"0..2\"\nfunction = \"read-input\"\n"
                                       "[[step]]\nname = \"Forever\"\naddress = 0\nfunction = \"read-input\"\n"
                                       "repeat = 1000000\n"));
        QProcess p;
        p.start(TARVO_CLI_PATH, {"run", "plan.toml", "--tcp", tcp(sim), "--format", "csv", "--junit", "j.xml",
                                 "--journal", "journal.csv"});
        QByteArray out;
        for (int i = 0; i < 100 && out.count('\n') < 4; ++i) {
            p.waitForReadyRead(100);
            out += p.readAllStandardOutput();
        }
        QTest::qWait(200); // well into the long step
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(10000));
        out += p.readAllStandardOutput();
        QCOMPARE(p.exitCode(), 130);
        QVERIFY(p.readAllStandardError().contains("interrupted"));
        QCOMPARE(out.count('\n'), 4); // the header and the three addresses of the first step
        const JUnitReport junit = checkJUnit(fileContent("j.xml"));
        QVERIFY2(junit.problem.isEmpty(), qPrintable(junit.problem));
        QCOMPARE(junit.cases.size(), 3);
        QCOMPARE(junit.cases.last().name, QStringLiteral("First @ 2"));
        QVERIFY(fileContent("journal.csv").count('\n') > 4);
    }

    void linkDown()
    {
        QVERIFY(writeFile("plan.toml", "[[step]]\nname = \"s\"\naddress = 1\nfunction = \"read-input\"\n"));
        const Run r = runCli({"run", "plan.toml", "--tcp", "127.0.0.1:1", "--timeout", "200", "--junit", "j.xml"});
        QCOMPARE(r.code, 3);
        QVERIFY2(r.err.contains("cannot open the link"), r.err.constData());
        const JUnitReport junit = checkJUnit(fileContent("j.xml"));
        QVERIFY2(junit.problem.isEmpty(), qPrintable(junit.problem));
        QVERIFY(junit.cases.isEmpty());
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestE2ePlans)
#include "tst_e2e_plans.moc"
