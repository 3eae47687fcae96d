// tarvo-cli's command line and its records, without running anything: what is refused as bad usage,
// what the options become (as values and as the settings a run talks with), and each output format
// to the byte.

#include "CliFrames.h"
#include "CliOptions.h"
#include "CliOutput.h"
#include "ConfigFile.h"
#include "ConsoleModel.h"
#include "Requests.h"
#include "Run.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tarvo;
using namespace tarvo::cli;

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
        // Both name every command there is.
        QTest::newRow("no command") << ""
                                    << "a command is missing (send, poll, read-memory, scan, ports, frame, check, "
                                       "monitor, report, run); see --help";
        QTest::newRow("unknown command") << "ping"
                                         << "unknown command \"ping\" (send, poll, read-memory, scan, ports, frame, "
                                            "check, monitor, report, run)";
        QTest::newRow("unknown option") << "send --tcp h:1 --address 1 --bogus"
                                        << "bogus";
        QTest::newRow("option of another command") << "send --tcp h:1 --address 1 --range 1..2"
                                                   << "range";
        QTest::newRow("two links") << "send --serial COM1 --tcp h:1"
                                   << "one link";
        QTest::newRow("tcp without port") << "send --tcp host"
                                          << "HOST:PORT";
        QTest::newRow("tcp and udp") << "send --tcp h:1 --udp h:2"
                                     << "--tcp and --udp: one link at a time";
        QTest::newRow("serial and udp") << "send --serial COM1 --udp h:2"
                                        << "--serial and --udp: one link at a time";
        QTest::newRow("udp without port") << "send --udp h"
                                          << "--udp \"h\": expected HOST:PORT";
        QTest::newRow("report without a journal") << "report --output r.html"
                                                  << "--journal FILE is required";
        QTest::newRow("report without an output") << "report --journal j.csv"
                                                  << "--output FILE is required: where the report goes";
        QTest::newRow("report takes no link") << "report --journal j.csv --output r.html --tcp h:1"
                                              << "tcp";
        QTest::newRow("run without a plan") << "run --tcp h:1"
                                            << "the plan is missing: tarvo-cli run PLAN.toml";
        QTest::newRow("run with two plans") << "run a.toml b.toml"
                                            << "unexpected argument \"b.toml\"";
        QTest::newRow("run takes no address") << "run a.toml --address 1"
                                              << "address";
        QTest::newRow("monitor takes no datagrams") << "monitor --udp h:1"
                                                    << "udp";
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
        QCOMPARE(o.speed, 19200);
        QCOMPARE(o.line->text(), QStringLiteral("8E1"));
        QCOMPARE(o.protocol, Protocol::Modbus);
        QCOMPARE(o.addresses, (QList<int>{5, 6, 9}));
        QCOMPARE(o.function, fn::SendCommand); // commands imply the function
        QCOMPARE(o.commands, (QStringList{"0300000002", "73"}));
        QCOMPARE(o.timeoutMs, 300);
        QCOMPARE(o.settleMs, 0);
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

    // The options as the settings of the run: the console's rules (Modbus sets 9600, --speed wins), the
    // serial line, the addresses in the first slots, and a census's time-out kept apart from the link's.
    void settingsOfTheOptions_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("speed");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<QString>("serialLine"); // the line's text, "+rtscts" with flow control
        QTest::addColumn<QStringList>("selected");
        QTest::addColumn<QString>("function");
        QTest::newRow("defaults") << "send --tcp h:1 --address 4"
                                  << "38400" << 1500 << "8N2" << QStringList{"4"} << fn::ReadInput;
        QTest::newRow("Modbus sets 9600") << "send --tcp h:1 --address 1 --protocol modbus"
                                          << "9600" << 1500 << "8N2" << QStringList{"1"} << fn::ReadInput;
        QTest::newRow("--speed wins") << "send --serial /dev/x --address 1 --speed 19200 --protocol modbus"
                                      << "19200" << 1500 << "8N2" << QStringList{"1"} << fn::ReadInput;
        QTest::newRow("flow before line") << "poll --serial /dev/x --address 1 --flow rtscts --line 8e1 --timeout 250"
                                          << "38400" << 250 << "8E1+rtscts" << QStringList{"1"} << fn::ReadInput;
        QTest::newRow("a list of addresses")
            << "send --tcp h:1 --address 9,2 --address 30..31 --command 01"
            << "38400" << 1500 << "8N2" << QStringList{"9", "2", "30", "31"} << fn::SendCommand;
        QTest::newRow("scan keeps its time-out") << "scan --tcp h:1 --timeout 60 --function query"
                                                 << "38400" << 1500 << "8N2" << QStringList{} << fn::SendQuery;
    }
    void settingsOfTheOptions()
    {
        QFETCH(QString, line);
        QFETCH(QString, speed);
        QFETCH(int, timeoutMs);
        QFETCH(QString, serialLine);
        QFETCH(QStringList, selected);
        QFETCH(QString, function);
        const Parsed p = parseLine(line);
        QCOMPARE(p.action, Parsed::Action::Run);
        Plan plan;
        const auto problem = makePlan(p.options, plan);
        QVERIFY2(!problem, qPrintable(problem.value_or(QString())));
        const FixedSettings& s = plan.settings;
        QCOMPARE(s.speed(), speed);
        QCOMPARE(s.timeoutMs(), timeoutMs);
        const LinkSettings link = s.linkSettings();
        QCOMPARE(link.line.text() + (link.line.rtsCts ? "+rtscts" : ""), serialLine);
        QCOMPARE(link.timeoutMs(), timeoutMs); // the TCP connect waits as long
        QStringList addresses;
        for (int slot : s.selectedSlots())
            addresses << s.address(slot);
        QCOMPARE(addresses, selected);
        QCOMPARE(plan.function, function);
        QCOMPARE(s.function(), function);
    }

    // --site stands for the folder a console would start in: its Tarvo.cfg unless --config names
    // another, and its folder for a relative journal.
    void siteFolder_data()
    {
        QTest::addColumn<QString>("line"); // <site>: a folder holding a Tarvo.cfg; <bare>: one without
        QTest::addColumn<QString>("config");
        QTest::addColumn<QString>("journal");
        QTest::newRow("its settings and journal") << "send --site <site> --journal j.csv"
                                                  << "<site>/Tarvo.cfg"
                                                  << "<site>/j.csv";
        QTest::newRow("--config wins, an absolute journal stays")
            << "poll --site <site> --config /x/Tarvo.cfg --journal /tmp/j.csv"
            << "/x/Tarvo.cfg"
            << "/tmp/j.csv";
        QTest::newRow("a folder without settings") << "scan --site <bare> --tcp h:1"
                                                   << ""
                                                   << "";
    }
    void siteFolder()
    {
        QFETCH(QString, line);
        QFETCH(QString, config);
        QFETCH(QString, journal);
        QTemporaryDir site;
        QTemporaryDir bare;
        QVERIFY(tarvo::test::writeFile(site.filePath("Tarvo.cfg"), ""));
        auto place = [&](QString text) { return text.replace("<site>", site.path()).replace("<bare>", bare.path()); };
        const Parsed p = parseLine(place(line));
        QCOMPARE(p.action, Parsed::Action::Run);
        QCOMPARE(p.options.config, place(config));
        QCOMPARE(p.options.journal, place(journal));
        const Parsed missing = parseLine("send --site " + bare.filePath("none") + " --tcp h:1");
        QCOMPARE(missing.action, Parsed::Action::Usage);
        QCOMPARE(missing.text, "--site " + bare.filePath("none") + ": no such folder");
    }

    // The network link's transport and framing, as the exchange and the census get them.
    void networkLinkOptions_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("udp");
        QTest::addColumn<bool>("mbap");
        QTest::newRow("raw TCP") << "send --tcp 10.0.0.7:1001 --address 1"
                                 << "10.0.0.7"
                                 << "1001" << false << false;
        QTest::newRow("Modbus TCP") << "send --tcp gw:502 --mbap --protocol modbus --address 1"
                                    << "gw"
                                    << "502" << false << true;
        QTest::newRow("Modbus UDP, IPv6") << "scan --udp [::1]:502 --mbap --protocol modbus --range 1..3"
                                          << "::1"
                                          << "502" << true << true;
        QTest::newRow("raw UDP") << "poll --udp h:9 --address 2 --count 1"
                                 << "h"
                                 << "9" << true << false;
    }
    void networkLinkOptions()
    {
        QFETCH(QString, line);
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(bool, udp);
        QFETCH(bool, mbap);
        const Parsed p = parseLine(line);
        QCOMPARE(p.action, Parsed::Action::Run);
        Plan plan;
        const auto problem = makePlan(p.options, plan);
        QVERIFY2(!problem, qPrintable(problem.value_or(QString())));
        const LinkSettings link = plan.settings.linkSettings();
        QVERIFY(!plan.settings.serialLink());
        QCOMPARE(link.host, host);
        QCOMPARE(link.tcpPort, port);
        QCOMPARE(link.transport == Transport::Udp, udp);
        QCOMPARE(link.framing == NetFraming::Mbap, mbap);
    }

    // What a well-formed command line still cannot send, refused before any link is opened.
    void refusedBeforeSending_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("says");
        QTest::newRow("no link") << "send --address 1"
                                 << "no link: give --serial PORT, --tcp HOST:PORT or --udp HOST:PORT (or a --config)";
        QTest::newRow("no address") << "poll --tcp h:1"
                                    << "no address: give --address A (or a --config with selected slots)";
        QTest::newRow("no such port") << "send --serial tarvo-no-such-port --address 1"
                                      << "--serial \"tarvo-no-such-port\": not COMn";
        QTest::newRow("no config") << "send --config /tarvo-none/Tarvo.cfg"
                                   << "--config /tarvo-none/Tarvo.cfg: no such file, or it cannot be read";
        QTest::newRow("address too big") << "send --tcp h:1 --address 7,300"
                                         << "Address 300 does not fit in one byte";
        QTest::newRow("no command line") << "send --tcp h:1 --address 1 --function command"
                                         << "--function command: no command to send (give --command HEX)";
        QTest::newRow("command not hex") << "frame --address 1 --command 0G"
                                         << "Command holds \"G\", which is not a hexadecimal digit";
        QTest::newRow("a frame of listening") << "frame --function listen"
                                              << "--function listen sends nothing: there is no frame to show";
        QTest::newRow("mbap under p4") << "send --tcp h:1 --mbap --protocol p4 --address 1"
                                       << "Modbus TCP framing (--mbap) carries Modbus requests only, and the "
                                          "protocol is p4";
        QTest::newRow("mbap frame under none") << "frame --mbap --protocol none --address 1"
                                               << "Modbus TCP framing (--mbap) carries Modbus requests only";
        QTest::newRow("mbap on a serial link") << "send --serial COM1 --mbap --protocol modbus --address 1"
                                               << "--mbap frames a network link: give --tcp or --udp";
        QTest::newRow("memory panel") << "read-memory --tcp h:1 --address 1 --output x.mem --records 0"
                                      << "Number of records can not be 0";
    }
    void refusedBeforeSending()
    {
        QFETCH(QString, line);
        QFETCH(QString, says);
        const Parsed p = parseLine(line);
        QCOMPARE(p.action, Parsed::Action::Run);
        Plan plan;
        int width = 0;
        std::optional<QString> problem = makePlan(p.options, plan);
        if (!problem)
            problem = requestProblem(plan, width);
        QVERIFY2(problem && problem->startsWith(says), qPrintable(problem.value_or("accepted")));
    }

    // A site's Tarvo.cfg and the Tarvo.ini beside it, read as the console reads them; what is typed
    // overrides them, and a delay the file holds as no number is refused before anything is sent.
    void settingsOfAConfig()
    {
        QTemporaryDir site;
        ConsoleModel console;
        console.choose(Field::OpTCP);
        console.setText(Field::IP, "10.0.0.7");
        console.choose(Field::Protocol4Plus);
        console.setText(Field::TimeOutDelay, "300");
        console.setListIndex(Field::Function, 2); // Read Buffer 100
        console.setCheck(Field::CheckAdr, 4, 1);
        console.setText(Field::Address, 4, "6");
        const QString cfg = site.filePath("Tarvo.cfg");
        QVERIFY(config::SaveConfig(console, cfg));
        QVERIFY(test::writeFile(site.filePath("Tarvo.ini"), "[serial]\nline=8N1\nflow=rtscts\n[census]\ntimeout=70\n"));

        Plan plan;
        QVERIFY(!makePlan(parseLine("send --config " + cfg + " --line 7e1").options, plan));
        const FixedSettings& s = plan.settings;
        QVERIFY(!s.serialLink());
        QCOMPARE(s.linkSettings().host, QStringLiteral("10.0.0.7"));
        QCOMPARE(s.protocol(), Protocol::Protocol4Plus);
        QCOMPARE(s.timeoutMs(), 300);
        QCOMPARE(plan.function, fn::ReadBuffer100);
        QCOMPARE(s.selectedSlots(), QList<int>{4});
        QCOMPARE(s.linkSettings().line.text(), QStringLiteral("7E1")); // typed
        QVERIFY(s.linkSettings().line.rtsCts);                         // from the Tarvo.ini
        QCOMPARE(plan.censusTimeoutMs, 70);

        Plan overridden;
        QVERIFY(!makePlan(parseLine("send --config " + cfg + " --address 2 --function query --timeout 90").options,
                          overridden));
        QCOMPARE(overridden.settings.selectedSlots(), QList<int>{0});
        QCOMPARE(overridden.settings.address(0), QStringLiteral("2"));
        QCOMPARE(overridden.function, fn::SendQuery);
        QCOMPARE(overridden.settings.timeoutMs(), 90);

        // Refused only where the delay is waited on and nothing typed replaces it.
        console.setText(Field::WaitingDelay, "soon");
        console.setText(Field::TimeOutDelay, "1e12");
        QVERIFY(config::SaveConfig(console, cfg));
        Plan bad;
        QCOMPARE(makePlan(parseLine("send --config " + cfg + " --settle 20").options, bad),
                 "--config " + cfg + ": Time Out Delay is out of range");
        QCOMPARE(makePlan(parseLine("send --config " + cfg + " --timeout 100").options, bad),
                 "--config " + cfg + ": Receive Buffer Scanning Delay is not a number");
        QVERIFY(!makePlan(parseLine("send --config " + cfg + " --timeout 100 --settle 20").options, bad));
        QCOMPARE(bad.settings.timeoutMs(), 100);
        QVERIFY(!makePlan(parseLine("frame --config " + cfg).options, bad));
        QCOMPARE(makePlan(parseLine("monitor --config " + cfg).options, bad),
                 "--config " + cfg + ": Time Out Delay is out of range"); // the TCP link's connect wait
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
        QTest::addColumn<QByteArray>("mbap"); // a Modbus TCP frame taken apart instead of the RTU one
        QTest::newRow("frame text") << "frame" << int(Format::Text)
                                    << QByteArray("06 03 01 00 00 06 C5 83\n"
                                                  "  +0  06     address      6 on the wire: console address 5\n"
                                                  "  +1  03     function     read holding registers\n"
                                                  "  +2  01 00  start        256 (0100)\n"
                                                  "  +4  00 06  count        6\n"
                                                  "  +6  C5 83  check value  CRC-16/MODBUS, low byte first\n")
                                    << QByteArray();
        QTest::newRow("frame csv") << "frame" << int(Format::Csv)
                                   << QByteArray("address,frame,offset,bytes,field,meaning\r\n"
                                                 "5,06 03 01 00 00 06 C5 83,0,06,address,6 on the wire: console "
                                                 "address 5\r\n"
                                                 "5,06 03 01 00 00 06 C5 83,1,03,function,read holding registers\r\n"
                                                 "5,06 03 01 00 00 06 C5 83,2,01 00,start,256 (0100)\r\n"
                                                 "5,06 03 01 00 00 06 C5 83,4,00 06,count,6\r\n"
                                                 "5,06 03 01 00 00 06 C5 83,6,C5 83,check value,\"CRC-16/MODBUS, low "
                                                 "byte first\"\r\n")
                                   << QByteArray();
        QTest::newRow("check json bad")
            << "check" << int(Format::Json)
            << QByteArray(
                   "{\"verdict\":\"bad-check\",\"check\":\"CRC-16/MODBUS\",\"carried\":\"C5 84\",\"computed\":"
                   "\"C5 83\",\"read_as\":\"request\",\"problem\":\"\",\"fields\":[{\"offset\":0,\"bytes\":\"06\","
                   "\"field\":\"address\",\"meaning\":\"6 on the wire: console address 5\"},{\"offset\":1,"
                   "\"bytes\":\"03\",\"field\":\"function\",\"meaning\":\"read holding registers\"},{\"offset\":"
                   "2,\"bytes\":\"01 00\",\"field\":\"start\",\"meaning\":\"256 (0100)\"},{\"offset\":4,\"bytes\":"
                   "\"00 06\",\"field\":\"count\",\"meaning\":\"6\"},{\"offset\":6,\"bytes\":\"C5 84\",\"field\":"
                   "\"check value\",\"meaning\":\"CRC-16/MODBUS, low byte first\"}]}\n")
            << QByteArray();
        QTest::newRow("check text bad") << "check" << int(Format::Text)
                                        << QByteArray("bad-check: CRC-16/MODBUS carried C5 84, computed C5 83 (read "
                                                      "as a request)\n")
                                        << QByteArray();
        QTest::newRow("monitor text") << "monitor" << int(Format::Text)
                                      << QByteArray("TIME          VERDICT    FRAME  DETAIL\n"
                                                    "14:03:07.125  bad-check  06 03 01 00 00 06 C5 84  request; "
                                                    "CRC-16/MODBUS carried C5 84, computed C5 83\n")
                                      << QByteArray();
        QTest::newRow("monitor json")
            << "monitor" << int(Format::Json)
            << QByteArray("{\"time\":\"2026-12-10T14:03:07.125+01:00\",\"frame\":\"06 03 01 00 00 06 C5 84\","
                          "\"verdict\":\"bad-check\",\"detail\":\"request; CRC-16/MODBUS carried C5 84, computed C5 "
                          "83\"}\n")
            << QByteArray();
        QTest::newRow("frame text, Modbus TCP")
            << "frame" << int(Format::Text)
            << QByteArray("00 01 00 00 00 06 06 03 01 00 00 06\n"
                          "  +0   00 01  transaction id  1: the reply carries it back\n"
                          "  +2   00 00  protocol id     0: Modbus\n"
                          "  +4   00 06  length          6 bytes follow: the unit id and the PDU\n"
                          "  +6   06     unit id         6: console address 5\n"
                          "  +7   03     function        read holding registers\n"
                          "  +8   01 00  start           256 (0100)\n"
                          "  +10  00 06  count           6\n")
            << QByteArray::fromHex("000100000006060301000006");
        QTest::newRow("check csv, Modbus TCP length beyond the bytes")
            << "check" << int(Format::Csv)
            << QByteArray("verdict,check,carried,computed,read_as,problem\r\n"
                          "bad-check,MBAP length,00 07,00 06,request,\r\n")
            << QByteArray::fromHex("000100000007060301000006");
        QTest::newRow("check text, Modbus TCP exception with a stray byte")
            << "check" << int(Format::Text)
            << QByteArray("ok: MBAP length carried 00 03, computed 00 03 (read as a reply); 1 trailing byte after "
                          "the frame: 00\n")
            << QByteArray::fromHex("00010000000306840200");
    }
    void frameCheckMonitorFormats()
    {
        QFETCH(QString, command);
        QFETCH(int, format);
        QFETCH(QByteArray, expected);
        QFETCH(QByteArray, mbap);
        const Format f = static_cast<Format>(format);
        if (!mbap.isEmpty()) {
            const FrameExplanation e = explainFrame(Protocol::Modbus, mbap, false, {}, true);
            QCOMPARE(command == "frame" ? frameHeader(f, true) + frameOutput(QStringLiteral("5"), e, f, true)
                                        : checkOutput(e, Protocol::Modbus, f, f == Format::Json),
                     expected);
            return;
        }
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
        QTest::newRow("an exception is an answer, and outranks silence")
            << QList<V>{V::Exception, V::NoAnswer, V::Ok} << "2 of 3 answered, 1 no answer, 1 exception" << 4;
        QTest::newRow("bad check outranks an exception")
            << QList<V>{V::Exception, V::Exception, V::BadCheck} << "3 of 3 answered, 1 bad check, 2 exceptions" << 2;
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
