// tarvo-cli's command line and its records, without running anything: what is refused as bad usage,
// what the options become, and each output format to the byte.

#include "CliFrames.h"
#include "CliOptions.h"
#include "CliOutput.h"
#include "Requests.h"

#include <QTest>

using namespace tarvo;
using namespace tarvo::clitool;

namespace {

Parsed parseLine(const QString& line)
{
    QStringList args = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    args.prepend(QStringLiteral("tarvo-cli"));
    return parse(args);
}

AddressResult sample()
{
    AddressResult r;
    r.time = QDateTime(QDate(2026, 12, 10), QTime(14, 3, 7, 125), Qt::OffsetFromUTC, 3600);
    r.address = QStringLiteral("5");
    r.function = fn::ReadInput;
    r.sent = QStringLiteral("06 02 00 00 00 10 78 71");
    r.received = QStringLiteral("06 02 02 92 24 61 03");
    r.attempts = 2;
    r.firstByteMs = 3.25;
    r.replyMs = 55.5;
    r.verdict = JournalRecord::Verdict::Ok;
    return r;
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void badUsage_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("says");
        QTest::newRow("no command") << ""
                                    << "command is missing";
        QTest::newRow("unknown command") << "ping"
                                         << "unknown command";
        QTest::newRow("unknown option") << "send --tcp h:1 --address 1 --bogus"
                                        << "bogus";
        QTest::newRow("option of another command") << "send --tcp h:1 --address 1 --range 1..2"
                                                   << "range";
        QTest::newRow("two links") << "send --serial COM1 --tcp h:1"
                                   << "one link";
        QTest::newRow("tcp without port") << "send --tcp host"
                                          << "HOST:PORT";
        QTest::newRow("bad address") << "send --tcp h:1 --address 5x"
                                     << "5x";
        QTest::newRow("33 addresses") << "poll --tcp h:1 --address 0..32"
                                      << "at most 32";
        QTest::newRow("bad protocol") << "send --tcp h:1 --protocol p5"
                                      << "p5";
        QTest::newRow("bad function") << "send --tcp h:1 --function read"
                                      << "read";
        QTest::newRow("tries") << "send --tcp h:1 --tries 4"
                               << "--tries";
        QTest::newRow("line format") << "send --serial COM1 --line 9X1"
                                     << "9X1";
        QTest::newRow("code") << "send --tcp h:1 --code ABC"
                              << "--code";
        QTest::newRow("negative time-out") << "send --tcp h:1 --timeout -5"
                                           << "--timeout";
        QTest::newRow("format") << "send --tcp h:1 --format xml"
                                << "xml";
        QTest::newRow("stray argument") << "send extra"
                                        << "extra";
        QTest::newRow("read-memory without output") << "read-memory --tcp h:1 --address 1"
                                                    << "--output";
        QTest::newRow("speeds over TCP") << "scan --tcp h:1 --speeds 9600"
                                         << "TCP";
        QTest::newRow("range and addresses") << "scan --tcp h:1 --range 1..3 --address 4"
                                             << "one way";
        QTest::newRow("listen in a census") << "scan --tcp h:1 --function listen"
                                            << "listen";
        QTest::newRow("zero rounds") << "poll --tcp h:1 --count 0"
                                     << "--count";
        QTest::newRow("check without protocol") << "check 01 03"
                                                << "--protocol";
        QTest::newRow("check without frame") << "check --protocol modbus"
                                             << "missing";
        QTest::newRow("check odd digits") << "check --protocol modbus 01 0"
                                          << "two digits a byte";
        QTest::newRow("check not hex") << "check --protocol modbus 0x01"
                                       << "0x01";
        QTest::newRow("monitor gap") << "monitor --tcp h:1 --gap 0"
                                     << "--gap";
        QTest::newRow("monitor addresses") << "monitor --tcp h:1 --address 1"
                                           << "address";
        QTest::newRow("flow") << "send --serial COM1 --flow xon"
                              << "--flow";
    }
    void badUsage()
    {
        QFETCH(QString, line);
        QFETCH(QString, says);
        const Parsed p = parseLine(line);
        QCOMPARE(p.action, Parsed::Action::Usage);
        QVERIFY2(p.text.contains(says), qPrintable(p.text));
    }

    void optionsAsGiven()
    {
        const Parsed p = parseLine("poll --serial=COM2 --speed 19200 --line 8e1 --protocol modbus --address 5,6 "
                                   "--address 9 --command 0300000002 --command 73 --timeout 300 --settle 0 "
                                   "--tries 1 --count 4 --interval 250 --format json");
        QCOMPARE(p.action, Parsed::Action::Run);
        const Options& o = p.options;
        QCOMPARE(o.command, Subcommand::Poll);
        QCOMPARE(o.serial, QStringLiteral("COM2"));
        QCOMPARE(o.speed, QStringLiteral("19200"));
        QCOMPARE(o.line->text(), QStringLiteral("8E1"));
        QCOMPARE(o.protocol, Protocol::Modbus);
        QCOMPARE(o.addresses, (QList<int>{5, 6, 9}));
        QCOMPARE(o.function, fn::SendCommand); // commands imply the function
        QCOMPARE(o.commands, (QStringList{"0300000002", "73"}));
        QCOMPARE(o.timeoutMs, QStringLiteral("300"));
        QCOMPARE(o.settleMs, QStringLiteral("0"));
        QCOMPARE(o.tries, 1);
        QCOMPARE(o.count, 4);
        QCOMPARE(o.intervalMs, 250);
        QCOMPARE(o.format, Format::Json);

        const Parsed scan = parseLine("scan --tcp [::1]:502 --range 1..3");
        QCOMPARE(scan.options.tcpHost, QStringLiteral("::1"));
        QCOMPARE(scan.options.range, (QList<int>{1, 2, 3}));
        QCOMPARE(scan.options.tries, 1); // a census does not insist
        QCOMPARE(parseLine("send --tcp h:1").options.tries, 3);
    }

    void helpAndVersion()
    {
        QCOMPARE(parseLine("--help").action, Parsed::Action::Help);
        const Parsed sub = parseLine("scan --help");
        QCOMPARE(sub.action, Parsed::Action::Help);
        QVERIFY(sub.text.startsWith("Usage: tarvo-cli scan [options]"));
        QVERIFY(sub.text.contains("--speeds"));
        QVERIFY(sub.text.contains("130  interrupted"));
        QCOMPARE(parseLine("--version").action, Parsed::Action::Version);
    }

    void recordFormats_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("json") << int(Format::Json) << int(RecordWriter::Kind::Exchange) << QByteArray()
                              << QByteArray("{\"time\":\"2026-12-10T14:03:07.125+01:00\",\"address\":5,\"function\":"
                                            "\"ReadInput\",\"sent\":\"06 02 00 00 00 10 78 71\",\"received\":\"06 02 "
                                            "02 92 24 61 03\",\"attempts\":2,\"first_byte_ms\":3.3,\"reply_ms\":55.5,"
                                            "\"verdict\":\"ok\",\"detail\":\"a \\\"quoted\\\" note\"}\n");
        QTest::newRow("csv") << int(Format::Csv) << int(RecordWriter::Kind::Exchange)
                             << QByteArray("time,address,function,sent,received,attempts,first_byte_ms,reply_ms,"
                                           "verdict,detail\r\n")
                             << QByteArray("2026-12-10T14:03:07.125+01:00,5,ReadInput,06 02 00 00 00 10 78 71,06 02 "
                                           "02 92 24 61 03,2,3.3,55.5,ok,\"a \"\"quoted\"\" note\"\r\n");
        QTest::newRow("census csv") << int(Format::Csv) << int(RecordWriter::Kind::Census)
                                    << QByteArray("time,address,speed,function,sent,received,attempts,first_byte_ms,"
                                                  "reply_ms,verdict,detail\r\n")
                                    << QByteArray("2026-12-10T14:03:07.125+01:00,5,19200,ReadInput,06 02 00 00 00 10 "
                                                  "78 71,06 02 02 92 24 61 03,2,3.3,55.5,ok,\"a \"\"quoted\"\" "
                                                  "note\"\r\n");
        QTest::newRow("memory json")
            << int(Format::Json) << int(RecordWriter::Kind::Memory) << QByteArray()
            << QByteArray("{\"time\":\"2026-12-10T14:03:07.125+01:00\",\"address\":5,\"function\":\"ReadInput\","
                          "\"sent\":\"06 02 00 00 00 10 78 71\",\"received\":\"06 02 02 92 24 61 03\",\"attempts\":2,"
                          "\"first_byte_ms\":3.3,\"reply_ms\":55.5,\"verdict\":\"ok\",\"detail\":\"a \\\"quoted\\\" "
                          "note\",\"records\":99,\"output\":\"/tmp/site, 4.mem\"}\n");
        QTest::newRow("text") << int(Format::Text) << int(RecordWriter::Kind::Exchange)
                              << QByteArray("TIME          ADDRESS  FUNCTION       VERDICT            TRIES  "
                                            "FIRST-BYTE     REPLY  SENT                     RECEIVED\n")
                              << QByteArray("14:03:07.125  5        ReadInput      ok                     2         "
                                            "3.3      55.5  06 02 00 00 00 10 78 71  06 02 02 92 24 61 03  (a "
                                            "\"quoted\" note)\n");
    }
    void recordFormats()
    {
        QFETCH(int, format);
        QFETCH(int, kind);
        QFETCH(QByteArray, header);
        QFETCH(QByteArray, line);
        AddressResult r = sample();
        r.detail = QStringLiteral("a \"quoted\" note");
        r.speed = QStringLiteral("19200");
        const MemoryExtra extra{99, QStringLiteral("/tmp/site, 4.mem")};
        const RecordWriter w(static_cast<Format>(format), static_cast<RecordWriter::Kind>(kind), 23);
        QCOMPARE(w.header(), header);
        QCOMPARE(w.line(r, kind == int(RecordWriter::Kind::Memory) ? &extra : nullptr), line);
    }

    // frame, check and monitor: the frame's fields in each format, to the byte (CSV quoting a meaning
    // with a comma, JSON the whole list).
    void frameCheckMonitorFormats_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("frame text") << "frame" << int(Format::Text)
                                    << QByteArray("06 03 01 00 00 06 C5 83\n"
                                                  "  +0  06     address      6 on the wire: console address 5\n"
                                                  "  +1  03     function     read holding registers\n"
                                                  "  +2  01 00  start        256 (0100)\n"
                                                  "  +4  00 06  count        6\n"
                                                  "  +6  C5 83  check value  CRC-16/MODBUS, low byte first\n");
        QTest::newRow("frame csv") << "frame" << int(Format::Csv)
                                   << QByteArray("address,frame,offset,bytes,field,meaning\r\n"
                                                 "5,06 03 01 00 00 06 C5 83,0,06,address,6 on the wire: console "
                                                 "address 5\r\n"
                                                 "5,06 03 01 00 00 06 C5 83,1,03,function,read holding registers\r\n"
                                                 "5,06 03 01 00 00 06 C5 83,2,01 00,start,256 (0100)\r\n"
                                                 "5,06 03 01 00 00 06 C5 83,4,00 06,count,6\r\n"
                                                 "5,06 03 01 00 00 06 C5 83,6,C5 83,check value,\"CRC-16/MODBUS, low "
                                                 "byte first\"\r\n");
        QTest::newRow("check json bad")
            << "check" << int(Format::Json)
            << QByteArray(
                   "{\"verdict\":\"bad-check\",\"check\":\"CRC-16/MODBUS\",\"carried\":\"C5 84\",\"computed\":"
                   "\"C5 83\",\"read_as\":\"request\",\"problem\":\"\",\"fields\":[{\"offset\":0,\"bytes\":\"06\","
                   "\"field\":\"address\",\"meaning\":\"6 on the wire: console address 5\"},{\"offset\":1,"
                   "\"bytes\":\"03\",\"field\":\"function\",\"meaning\":\"read holding registers\"},{\"offset\":"
                   "2,\"bytes\":\"01 00\",\"field\":\"start\",\"meaning\":\"256 (0100)\"},{\"offset\":4,\"bytes\":"
                   "\"00 06\",\"field\":\"count\",\"meaning\":\"6\"},{\"offset\":6,\"bytes\":\"C5 84\",\"field\":"
                   "\"check value\",\"meaning\":\"CRC-16/MODBUS, low byte first\"}]}\n");
        QTest::newRow("check text bad") << "check" << int(Format::Text)
                                        << QByteArray("bad-check: CRC-16/MODBUS carried C5 84, computed C5 83 (read "
                                                      "as a request)\n");
        QTest::newRow("monitor text") << "monitor" << int(Format::Text)
                                      << QByteArray("14:03:07.125  bad-check  06 03 01 00 00 06 C5 84  request; "
                                                    "CRC-16/MODBUS carried C5 84, computed C5 83\n");
        QTest::newRow("monitor json")
            << "monitor" << int(Format::Json)
            << QByteArray("{\"time\":\"2026-12-10T14:03:07.125+01:00\",\"frame\":\"06 03 01 00 00 06 C5 84\","
                          "\"verdict\":\"bad-check\",\"detail\":\"request; CRC-16/MODBUS carried C5 84, computed C5 "
                          "83\"}\n");
    }
    void frameCheckMonitorFormats()
    {
        QFETCH(QString, command);
        QFETCH(int, format);
        QFETCH(QByteArray, expected);
        const Format f = static_cast<Format>(format);
        if (command == "frame") {
            const FrameExplanation good = explainFrame(Protocol::Modbus, QByteArray::fromHex("060301000006C583"));
            QCOMPARE(frameHeader(f, true) + frameOutput(QStringLiteral("5"), good, f, true), expected);
            return;
        }
        const FrameExplanation e = explainFrame(Protocol::Modbus, QByteArray::fromHex("060301000006C584"));
        if (command == "check") {
            QCOMPARE(checkOutput(e, Protocol::Modbus, f, f == Format::Json), expected);
            return;
        }
        JournalRecord r;
        r.time = sample().time;
        r.received = spacedHex(e.bytes);
        r.verdict = JournalRecord::Verdict::BadCheck;
        r.detail = QStringLiteral("request; CRC-16/MODBUS carried C5 84, computed C5 83");
        QCOMPARE(monitorHeader(f) + monitorOutput(r, f), expected);
    }

    void noAnswerInJsonHasNulls()
    {
        AddressResult r = sample();
        r.received.clear();
        r.firstByteMs = r.replyMs = NAN;
        r.verdict = JournalRecord::Verdict::NoAnswer;
        const QByteArray line = RecordWriter(Format::Json, RecordWriter::Kind::Census).line(r);
        QVERIFY2(line.contains("\"speed\":null,") && line.contains("\"received\":\"\",") &&
                     line.contains("\"first_byte_ms\":null,\"reply_ms\":null,\"verdict\":\"no-answer\""),
                 line.constData());
    }

    void summaryAndExitStatus_data()
    {
        using V = JournalRecord::Verdict;
        QTest::addColumn<QList<V>>("verdicts");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<int>("status");
        QTest::newRow("all answered") << QList<V>{V::Ok, V::Ok} << "2 of 2 answered" << 0;
        QTest::newRow("one silent") << QList<V>{V::Ok, V::Ok, V::Ok, V::NoAnswer} << "3 of 4 answered, 1 no answer"
                                    << 1;
        QTest::newRow("bad check wins") << QList<V>{V::NoAnswer, V::BadCheck}
                                        << "1 of 2 answered, 1 no answer, 1 bad check" << 2;
        QTest::newRow("an error is no answer") << QList<V>{V::Ok, V::Error} << "1 of 2 answered, 1 error" << 1;
        QTest::newRow("nothing awaited") << QList<V>{V::NoReplyExpected}
                                         << "0 of 1 answered, 1 sent without a reply expected" << 0;
    }
    void summaryAndExitStatus()
    {
        QFETCH(QList<JournalRecord::Verdict>, verdicts);
        QFETCH(QString, summary);
        QFETCH(int, status);
        Tally t;
        for (const auto v : verdicts)
            t.add(v);
        QCOMPARE(t.line(), summary);
        QCOMPARE(t.exitStatus(), status);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
