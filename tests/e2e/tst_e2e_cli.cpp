// tarvo-cli itself, run as a script would run it, against tarvo-sim on a pseudo-terminal and over
// TCP, and against a libmodbus slave: its records against the simulator's log in every format, the
// memory dump against the console's own, the census, the exit statuses, and a Tarvo.cfg written by
// the console.

#include "ConfigFile.h"
#include "ConsoleModel.h"
#include "ProgramRun.h"
#include "RealStack.h"
#include "SimLog.h"
#include "SimProcess.h"
#include "SocatCable.h"
#include "TestFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <optional>
#include <termios.h>
#include <unistd.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

using Run = ProgramRun;

Run runCli(const QStringList& args)
{
    return runProgram(TARVO_CLI_PATH, args);
}

// What a record says, whatever the format it came in.
struct Record {
    QString address;
    QString speed;
    QString function;
    QString sent;
    QString received;
    int attempts = 0;
    QString verdict;
    QJsonObject json; // the whole object, for the JSON format
};

QList<Record> records(const QByteArray& out, const QString& format)
{
    QList<Record> list;
    QList<QByteArray> lines = out.split('\n');
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    if (format == "json") {
        for (const QByteArray& line : std::as_const(lines)) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            Record r;
            r.address = QString::number(o.value("address").toInt());
            r.speed = o.value("speed").isDouble() ? QString::number(o.value("speed").toInt()) : QString();
            r.function = o.value("function").toString();
            r.sent = o.value("sent").toString();
            r.received = o.value("received").toString();
            r.attempts = o.value("attempts").toInt();
            r.verdict = o.value("verdict").toString();
            r.json = o;
            list << r;
        }
        return list;
    }
    if (lines.isEmpty())
        return list;
    if (format == "csv") {
        const QStringList head = QString::fromUtf8(lines.takeFirst()).trimmed().split(',');
        for (const QByteArray& line : std::as_const(lines)) {
            const QStringList f = QString::fromUtf8(line).trimmed().split(',');
            auto field = [&](const char* name) { return f.value(head.indexOf(QLatin1String(name))); };
            list << Record{field("address"),  field("speed"),
                           field("function"), field("sent"),
                           field("received"), field("attempts").toInt(),
                           field("verdict"),  {}};
        }
        return list;
    }
    // Text: the columns start where their headings start.
    const QString head = QString::fromUtf8(lines.takeFirst());
    const QStringList names = head.split(' ', Qt::SkipEmptyParts);
    for (const QByteArray& raw : std::as_const(lines)) {
        const QString line = QString::fromUtf8(raw);
        auto column = [&](const QString& name) {
            const qsizetype from = head.indexOf(name);
            const qsizetype index = names.indexOf(name);
            if (from < 0)
                return QString();
            if (index + 1 >= names.size()) {
                const qsizetype note = line.indexOf(QLatin1String("  ("), from);
                return line.mid(from, note < 0 ? -1 : note - from).trimmed();
            }
            return line.mid(from, head.indexOf(names[index + 1]) - from).trimmed();
        };
        const QString speed = column("SPEED");
        list << Record{column("ADDRESS"),  speed == "-" ? QString() : speed, column("FUNCTION"), column("SENT"),
                       column("RECEIVED"), column("TRIES").toInt(),          column("VERDICT"),  {}};
    }
    return list;
}

// The frames the records stand for, as the simulator logs them: each attempt's request, then the
// reply when one came.
QStringList framesOf(const QList<Record>& list)
{
    QStringList frames;
    for (const Record& r : list) {
        for (int i = 0; i < r.attempts; ++i)
            frames << "rx " + r.sent;
        if (!r.received.isEmpty())
            frames << "tx " + r.received;
    }
    return frames;
}

QStringList answering(const QList<Record>& list)
{
    QStringList found;
    for (const Record& r : list) {
        if (r.verdict == "ok")
            found << (r.speed.isEmpty() ? r.address : r.address + "@" + r.speed);
    }
    return found;
}

QStringList linkArgs(const SimProcess& sim, bool tcp)
{
    return tcp ? QStringList{"--tcp", QStringLiteral("127.0.0.1:%1").arg(sim.tcpPort)}
               : QStringList{"--serial", sim.ptyPath};
}

} // namespace

class TestE2eCli : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QDir::setCurrent(m_dir->path());
    }

    void recordsAreWhatTheSimulatorSaw_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<QString>("format");
        for (const char* command : {"send", "poll", "scan"}) {
            for (bool tcp : {false, true}) {
                for (const char* format : {"text", "csv", "json"})
                    QTest::addRow("%s %s %s", command, tcp ? "tcp" : "serial", format) << command << tcp << format;
            }
        }
    }
    void recordsAreWhatTheSimulatorSaw()
    {
        QFETCH(QString, command);
        QFETCH(bool, tcp);
        QFETCH(QString, format);
        const QString log = m_dir->filePath("sim.log");
        SimProcess sim({"--protocol", "p4", tcp ? "--tcp" : "--serial", tcp ? "127.0.0.1:0" : "--serial", "--log", log,
                        "--addresses", "0-3", "--fault", "2:silent"});
        QStringList args = QStringList{command} + linkArgs(sim, tcp) + QStringList{"--format", format};
        if (command == "scan")
            args += {"--range", "0..5", "--timeout", "60"};
        else
            args += {"--address", "0..3", "--timeout", "100"};
        if (command == "poll")
            args += {"--count", "2", "--function", "query", "--query", "2A"};
        const Run run = runCli(args);
        QTest::qWait(100); // the simulator logs what it still had on its way

        QCOMPARE(run.code, 1); // address 2 is silent, and a census of 0..5 finds 4 and 5 silent too
        const QList<Record> got = records(run.out, format);
        QCOMPARE(got.size(), command == "scan" ? 6 : command == "poll" ? 8 : 4);
        QCOMPARE(framesOf(got), simLogFrames(log));
        // A serial census without --speeds asks at the line's own speed and says which it was.
        const QString at = command == "scan" && !tcp ? "@38400" : "";
        QCOMPARE(answering(got), (QStringList{"0" + at, "1" + at, "3" + at}) +
                                     (command == "poll" ? QStringList{"0", "1", "3"} : QStringList{}));
        if (format == "text")
            QVERIFY2(run.err.contains(command == "scan"   ? "3 of 6 answered, 3 no answer"
                                      : command == "poll" ? "6 of 8 answered, 2 no answer"
                                                          : "3 of 4 answered, 1 no answer"),
                     run.err.constData());
        else
            QVERIFY2(!run.err.contains("answered"), run.err.constData()); // scripts get records only
    }

    // The dump is the console's own, byte for byte, and the records say what went into it.
    void readMemory_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<QString>("format");
        QTest::newRow("serial json") << false << "json";
        QTest::newRow("tcp csv") << true << "csv";
        QTest::newRow("tcp text") << true << "text";
    }
    void readMemory()
    {
        QFETCH(bool, tcp);
        QFETCH(QString, format);
        SimProcess sim({"--protocol", "p4", tcp ? "--tcp" : "--serial", tcp ? "127.0.0.1:0" : "--serial"});
        QVERIFY(QDir().mkdir("console"));
        QVERIFY(writeFile("Memory.mem", "a file of the folder the tool starts in"));
        const Run run = runCli(QStringList{"read-memory"} + linkArgs(sim, tcp) +
                               QStringList{"--address", "3,9", "--records", "40", "--output", "site.mem", "--format",
                                           format, "--timeout", "400"});
        QCOMPARE(run.code, 0);
        const QList<Record> got = records(run.out, format);
        QCOMPARE(got.size(), 2);
        QCOMPARE(got[0].address, QStringLiteral("3"));
        QCOMPARE(got[1].verdict, QStringLiteral("ok"));
        if (format == "json") {
            QCOMPARE(got[1].json.value("records").toInt(), 40);
            QCOMPARE(got[1].json.value("output").toString(), m_dir->filePath("site.mem"));
        }
        QCOMPARE(fileContent("Memory.mem"), QByteArray("a file of the folder the tool starts in"));
        QCOMPARE(QDir().entryList(QDir::Files), (QStringList{"Memory.mem", "site.mem"}));

        // The console's own read of the same controllers.
        QDir::setCurrent(m_dir->filePath("console"));
        RealStack s;
        s.useLink(tcp, sim.tcpPort, sim.ptyPath);
        s.model.setText(Field::MemRecordNumber, "40");
        s.tick(0, "3");
        s.tick(1, "9");
        QVERIFY(s.read.read());
        QCOMPARE(fileContent(m_dir->filePath("site.mem")), fileContent("Memory.mem"));

        // Never over an existing file: nothing is sent.
        QDir::setCurrent(m_dir->path());
        const QByteArray before = fileContent("site.mem");
        const Run again = runCli(QStringList{"read-memory"} + linkArgs(sim, tcp) +
                                 QStringList{"--address", "3", "--output", "site.mem"});
        QCOMPARE(again.code, 64);
        QVERIFY(again.err.contains("never overwritten"));
        QCOMPARE(fileContent("site.mem"), before);
    }

    void ports()
    {
        for (const char* format : {"text", "csv", "json"}) {
            const Run run = runCli({"ports", "--format", format});
            QCOMPARE(run.code, 0);
            if (QByteArray(format) == "json") {
                for (const QByteArray& line : run.out.split('\n')) {
                    if (!line.isEmpty())
                        QVERIFY(QJsonDocument::fromJson(line).object().contains("device"));
                }
            } else {
                QVERIFY(run.out.startsWith(QByteArray(format) == "csv" ? "name,device," : "NAME"));
            }
        }
    }

    // The serial line beyond the speed reaches the port: from the options, or from the Tarvo.ini beside a
    // --config. Read from the terminal while tarvo-cli listens on it (the port gives its settings back
    // when it closes).
    void serialLineReachesThePort_data()
    {
        QTest::addColumn<bool>("fromConfig");
        QTest::newRow("--line 8N1 --flow rtscts") << false;
        QTest::newRow("Tarvo.ini beside the --config") << true;
    }
    void serialLineReachesThePort()
    {
        QFETCH(bool, fromConfig);
        SimProcess sim({"--protocol", "modbus", "--serial"});
        QTemporaryDir site;
        QStringList args{"poll", "--function", "listen", "--duration", "1.5"};
        if (fromConfig) {
            ConsoleModel m;
            m.setText(Field::ComPort, sim.ptyPath);
            QVERIFY(config::SaveConfig(m, site.filePath("Tarvo.cfg")));
            QVERIFY(writeFile(site.filePath("Tarvo.ini"), "[serial]\nline=8N1\nflow=rtscts\n"));
            args << "--config" << site.filePath("Tarvo.cfg");
        } else {
            args << "--serial" << sim.ptyPath << "--line"
                 << "8N1"
                 << "--flow"
                 << "rtscts";
        }
        QProcess cli;
        cli.start(TARVO_CLI_PATH, args);
        QVERIFY(cli.waitForStarted(5000));
        QTest::qWait(700);
        const int fd = ::open(QFile::encodeName(sim.ptyPath).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        termios t{};
        QCOMPARE(::tcgetattr(fd, &t), 0);
        ::close(fd);
        QVERIFY(cli.waitForFinished(10000));
        QVERIFY2(!(t.c_cflag & CSTOPB), "one stop bit");
        QVERIFY2(t.c_cflag & CRTSCTS, "RTS/CTS flow control");
    }

    void exitStatuses_data()
    {
        QTest::addColumn<QStringList>("sim");
        QTest::addColumn<QStringList>("args"); // "@" stands for the simulator's TCP link
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::newRow("0 all answered") << QStringList{} << QStringList{"send", "@", "--address", "1,2"} << 0 << "";
        QTest::newRow("1 a silent address")
            << QStringList{"--fault", "2:silent"} << QStringList{"send", "@", "--address", "1,2", "--timeout", "80"}
            << 1 << "1 of 2 answered, 1 no answer";
        QTest::newRow("2 a bad check value")
            << QStringList{"--fault", "1:badcheck", "--fault", "2:silent"}
            << QStringList{"send", "@", "--address", "1,2", "--timeout", "80"} << 2 << "1 bad check";
        QTest::newRow("3 a refused host")
            << QStringList{} << QStringList{"send", "--tcp", "127.0.0.1:1", "--address", "1", "--timeout", "200"} << 3
            << "no connection to 127.0.0.1:1 (Connection refused)\ntarvo-cli: cannot open the link to 127.0.0.1:1";
        QTest::newRow("3 no such port") << QStringList{}
                                        << QStringList{"send", "--serial", "/dev/tarvo-none", "--address", "1"} << 3
                                        << "No such file";
        QTest::newRow("64 a bad option") << QStringList{} << QStringList{"send", "@", "--adress", "1"} << 64
                                         << "adress";
        QTest::newRow("64 a request the protocol refuses")
            << QStringList{} << QStringList{"send", "@", "--address", "255"} << 64 << "Address 255 does not fit";
        QTest::newRow("check 0 ok") << QStringList{}
                                    << QStringList{"check", "--protocol", "modbus", "01 03 00 00 00 02 C4 0B"} << 0
                                    << "";
        QTest::newRow("check 0 nothing to check")
            << QStringList{} << QStringList{"check", "--protocol", "none", "01", "02"} << 0 << "";
        QTest::newRow("check 2 bad") << QStringList{}
                                     << QStringList{"check", "--protocol", "modbus", "01 03 00 00 00 02 C4 0C"} << 2
                                     << "";
        QTest::newRow("check 64 not a frame")
            << QStringList{} << QStringList{"check", "--protocol", "p4", "40"} << 64 << "";
        QTest::newRow("frame 64 refused")
            << QStringList{} << QStringList{"frame", "--protocol", "modbus", "--address", "300"} << 64
            << "does not fit";
        // Under --mbap the header is the check: its length against the bytes.
        QTest::newRow("check --mbap 0 ok")
            << QStringList{} << QStringList{"check", "--mbap", "--protocol", "modbus", "00 01 00 00 00 03 06 84 02"}
            << 0 << "";
        QTest::newRow("check --mbap 0 Modbus by itself")
            << QStringList{} << QStringList{"check", "--mbap", "00 01 00 00 00 03 06 84 02"} << 0 << "";
        QTest::newRow("check --mbap 2 a length beyond the bytes")
            << QStringList{} << QStringList{"check", "--mbap", "--protocol", "modbus", "00 01 00 00 00 05 06 84 02"}
            << 2 << "";
        QTest::newRow("check --mbap 64 no header")
            << QStringList{} << QStringList{"check", "--mbap", "--protocol", "modbus", "00 01 00 07 00 03 06 84 02"}
            << 64 << "";
        QTest::newRow("check --mbap 64 an RTU frame")
            << QStringList{} << QStringList{"check", "--mbap", "--protocol", "modbus", "06 84 02 73 00"} << 64 << "";
        QTest::newRow("check --mbap 64 not Modbus")
            << QStringList{} << QStringList{"check", "--mbap", "--protocol", "p4", "00 01 00 00 00 03 06 84 02"} << 64
            << "carries Modbus frames only";
        QTest::newRow("report 3 no such journal")
            << QStringList{} << QStringList{"report", "--journal", "none.csv", "--output", "r.html"} << 3
            << "none.csv: cannot be read: no such file; no report was written";
        QTest::newRow("report 64 no journal")
            << QStringList{} << QStringList{"report", "--output", "r.html"} << 64 << "--journal FILE is required";
        QTest::newRow("monitor 3 no such port")
            << QStringList{} << QStringList{"monitor", "--serial", "/dev/tarvo-none", "--duration", "1"} << 3
            << "cannot open the link";
    }
    void exitStatuses()
    {
        QFETCH(QStringList, sim);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, says);
        const QString log = m_dir->filePath("sim.log");
        SimProcess simulator(QStringList{"--protocol", "p4", "--tcp", "127.0.0.1:0", "--log", log} + sim);
        const qsizetype at = args.indexOf("@");
        if (at >= 0)
            args.replace(at, QStringLiteral("--tcp=127.0.0.1:%1").arg(simulator.tcpPort));
        const Run run = runCli(args);
        QCOMPARE(run.code, code);
        QVERIFY2(run.err.contains(says.toUtf8()), run.err.constData());
        if (code == 64)
            QVERIFY(simLogFrames(log).isEmpty()); // nothing sent
    }

    // What `frame` prints is what `send` then puts on the wire, byte for byte, for every protocol.
    void frameIsWhatSendSends_data()
    {
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<QStringList>("args");
        QTest::newRow("Modbus") << "modbus" << QStringList{"--address", "0,7", "--function", "read-input"};
        QTest::newRow("Protocol 4 buffer") << "p4" << QStringList{"--address", "3", "--function", "read-buffer"};
        QTest::newRow("Protocol 4+ encrypted")
            << "p4plus" << QStringList{"--address", "2", "--command", "0A0B", "--encrypt", "1234"};
        QTest::newRow("Customer query") << "customer" << QStringList{"--address",  "4",     "--code",  "41",
                                                                     "--function", "query", "--query", "2A"};
        QTest::newRow("Bioscrypt") << "bioscrypt" << QStringList{"--address", "1", "--command", "0001", "--ack"};
        QTest::newRow("None, two lines") << "none"
                                         << QStringList{"--address", "1", "--command", "01 02 03", "--command", "0405"};
        // Numbered as send numbers them: a transaction id a request, from 1.
        QTest::newRow("Modbus TCP") << "modbus"
                                    << QStringList{"--mbap", "--address", "0,7", "--function", "read-input"};
        QTest::newRow("Modbus TCP, read buffer")
            << "modbus" << QStringList{"--mbap", "--address", "2,3", "--function", "read-buffer"};
    }
    void frameIsWhatSendSends()
    {
        QFETCH(QString, protocol);
        QFETCH(QStringList, args);
        const QString log = m_dir->filePath("sim.log");
        QStringList simArgs{"--protocol", protocol, "--code", "41", "--tcp", "127.0.0.1:0", "--log", log};
        if (args.contains("--mbap"))
            simArgs << "--mbap";
        SimProcess sim(simArgs);
        args += {"--protocol", protocol};
        const Run frame = runCli(QStringList{"frame"} + args);
        QCOMPARE(frame.code, 0);
        QStringList frames;
        for (const QByteArray& line : frame.out.split('\n')) {
            if (!line.isEmpty())
                frames << "rx " + QString::fromLatin1(line);
        }
        QVERIFY(!frames.isEmpty());
        QVERIFY(simLogFrames(log).isEmpty()); // frame sends nothing, and needs no link

        const Run send = runCli(QStringList{"send", "--tcp", QStringLiteral("127.0.0.1:%1").arg(sim.tcpPort),
                                            "--timeout", "100", "--tries", "1"} +
                                args);
        QVERIFY2(send.code == 0 || send.code == 1, send.err.constData());
        QTest::qWait(100);
        QStringList sent = simLogFrames(log);
        sent.removeIf([](const QString& f) { return !f.startsWith("rx "); });
        QCOMPARE(sent, frames);
    }

    // check reads one frame: the verdict line speaks of the check value the fields show, and bytes
    // after the frame are a field of their own that the verdict names.
    void checkReadsOneFrame_data()
    {
        QTest::addColumn<bool>("mbap");
        QTest::addColumn<QString>("bytes");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("verdict");
        QTest::newRow("exception, bad, stray bytes")
            << false << "FF FD FD AA BB 00 00 04" << 2
            << "bad-check: CRC-16/MODBUS carried AA BB, computed C0 E1 (read as a reply); 3 trailing bytes after the "
               "frame: 00 00 04";
        QTest::newRow("request, good, a stray byte") << false << "01 03 00 00 00 02 C4 0B 00" << 0
                                                     << "ok: CRC-16/MODBUS carried C4 0B, computed C4 0B (read as a "
                                                        "request); 1 trailing byte after the frame: 00";
        QTest::newRow("Modbus TCP exception, good, a stray byte")
            << true << "00 01 00 00 00 03 06 84 02 00" << 0
            << "ok: MBAP length carried 00 03, computed 00 03 (read as a reply); 1 trailing byte after the frame: 00";
        QTest::newRow("Modbus TCP reply and the start of the next")
            << true << "00 01 00 00 00 07 06 04 04 00 05 00 01 00 02" << 0
            << "ok: MBAP length carried 00 07, computed 00 07 (read as a reply); 2 trailing bytes after the frame: 00 "
               "02";
    }
    void checkReadsOneFrame()
    {
        QFETCH(bool, mbap);
        QFETCH(QString, bytes);
        QFETCH(int, code);
        QFETCH(QString, verdict);
        QStringList args{"check", "--protocol", "modbus", "--explain", bytes};
        if (mbap)
            args << "--mbap";
        const Run text = runCli(args);
        QCOMPARE(text.code, code);
        const QList<QByteArray> lines = text.out.trimmed().split('\n');
        QCOMPARE(QString::fromUtf8(lines.first()), verdict);
        QVERIFY2(lines.last().contains("trailing bytes"), lines.last().constData());

        const Run json = runCli(args + QStringList{"--format", "json"});
        QCOMPARE(json.code, code);
        const QJsonObject o = QJsonDocument::fromJson(json.out).object();
        QCOMPARE(o.value("problem").toString(), verdict.section("; ", 1));
        QStringList named;
        for (const QJsonValue& f : o.value("fields").toArray()) {
            named << f.toObject().value("bytes").toString();
            // Under --mbap the header's length is what is checked.
            if (f.toObject().value("field").toString() == (mbap ? "length" : "check value"))
                QCOMPARE(f.toObject().value("bytes").toString(), o.value("carried").toString());
        }
        QCOMPARE(named.join(' '), bytes); // every byte in one field, in order
    }

    // frame --explain names the Bioscrypt fields as the simulator reads the same bytes.
    void bioscryptFieldsAsTheSimulatorReads()
    {
        const QString log = m_dir->filePath("sim.log");
        SimProcess sim({"--protocol", "bioscrypt", "--tcp", "127.0.0.1:0", "--log", log});
        // 0234 with the acknowledgement flag goes out as 1234.
        const QStringList args{"--protocol", "bioscrypt", "--address", "7", "--command", "0234", "--ack"};
        const Run frame = runCli(QStringList{"frame", "--explain", "--format", "json"} + args);
        QCOMPARE(frame.code, 0);
        const QJsonObject o = QJsonDocument::fromJson(frame.out).object();
        QHash<QString, QString> meaning;
        for (const QJsonValue& f : o.value("fields").toArray())
            meaning.insert(f.toObject().value("field").toString(), f.toObject().value("meaning").toString());

        const Run send = runCli(QStringList{"send", "--tcp", QStringLiteral("127.0.0.1:%1").arg(sim.tcpPort),
                                            "--timeout", "100", "--tries", "1"} +
                                args);
        QVERIFY2(send.code == 0 || send.code == 1, send.err.constData());
        QTest::qWait(100);
        // "... rx addr 7      40 28 6B FE ...  | command 1234: answered"
        static const QRegularExpression rx(QStringLiteral("\\srx addr (\\d+)\\s+(.*?)\\s*\\| command (\\S+?):"));
        const QRegularExpressionMatch m = rx.match(QString::fromLatin1(fileContent(log)));
        QVERIFY2(m.hasMatch(), fileContent(log).constData());
        QCOMPARE(m.captured(2), o.value("frame").toString());
        QCOMPARE(meaning.value("address"), "console address " + m.captured(1));
        QCOMPARE(meaning.value("command").section(' ', 0, 0), m.captured(3));
    }

    // Under Bioscrypt a run sends only what a reader takes: a fixed function's request, and a command
    // the console would send with its warning, are refused before anything goes out; a command goes
    // out, and the simulator's log has it.
    void bioscryptSendsOnlyWhatReadersTake_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("framesHeard");
        QTest::newRow("a fixed function")
            << QStringList{"--function", "read-input"} << 64 << "a Bioscrypt reader takes command lines only" << 0;
        QTest::newRow("a command not starting with 0")
            << QStringList{"--command", "1234"} << 64
            << "--command 1234: Wrong Protocol command. The First letter of the command must be 0" << 0;
        QTest::newRow("a command, no reply asked for") << QStringList{"--command", "0105"} << 0 << "" << 1;
    }
    void bioscryptSendsOnlyWhatReadersTake()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, said);
        QFETCH(int, framesHeard);
        const QString log = m_dir->filePath("sim.log");
        SimProcess sim({"--protocol", "bioscrypt", "--tcp", "127.0.0.1:0", "--log", log});
        const Run r = runCli(QStringList{"send", "--tcp", QStringLiteral("127.0.0.1:%1").arg(sim.tcpPort), "--protocol",
                                         "bioscrypt", "--address", "7", "--format", "json"} +
                             args);
        QCOMPARE(r.code, code);
        QVERIFY2(QString::fromLocal8Bit(r.err).contains(said), r.err.constData());
        QTest::qWait(100);
        QCOMPARE(simLogFrames(log).size(), framesHeard);
        if (framesHeard > 0)
            QCOMPARE(records(r.out, "json").value(0).sent, simLogFrames(log).value(0).mid(3));
    }

    // The report of a real run over a silent, a flaky and a bad-check controller, with the site's link and
    // protocol from its Tarvo.cfg and Tarvo.ini: written, the same bytes twice, the silent and the bad-check one
    // failed, the one answering at its second try passed with its extra tries counted; then refused over an existing
    // file and for a journal cut mid-row, with no report written.
    void reportOfAFaultyRun()
    {
        SimProcess sim({"--protocol", "modbus", "--tcp", "127.0.0.1:0", "--fault", "1:silent", "--fault", "2:from=2",
                        "--fault", "3:badcheck"});
        const Run poll =
            runCli({"poll", "--tcp", QStringLiteral("127.0.0.1:%1").arg(sim.tcpPort), "--protocol", "modbus",
                    "--address", "1,2,3", "--count", "4", "--timeout", "80", "--journal", "faulty.csv"});
        QCOMPARE(poll.code, 2);
        QDir().mkdir("north");
        ConsoleModel site; // the site's console: Modbus TCP over UDP to a peer of its own
        site.choose(Field::OpTCP);
        site.setText(Field::IP, "10.0.0.5");
        site.setText(Field::Port, "502");
        site.choose(Field::Modbus);
        QVERIFY(config::SaveConfig(site, "north/Tarvo.cfg"));
        QVERIFY(writeFile("north/Tarvo.ini", "[site]\nname=North <plant>\n[slots]\nname2=Door 3 reader\n"
                                             "[tcp]\ntransport=udp\nframing=mbap\n"));
        QVERIFY(writeFile("census.csv",
                          "time,address,function,sent,received,attempts,first_byte_ms,reply_ms,verdict,"
                          "detail\r\n2026-12-10T09:00:00.000+01:00,7,ReadInput,,,1,,,no-answer,<none>\r\n"));
        const QStringList report{"report",     "--site",   "north",      "--journal",
                                 "faulty.csv", "--census", "census.csv", "--output"};
        const Run first = runCli(report + QStringList{"a.html"});
        QCOMPARE(first.code, 0);
        QVERIFY2(first.err.isEmpty(), first.err.constData());
        QCOMPARE(runCli(report + QStringList{"b.html"}).code, 0);
        const QByteArray html = fileContent("a.html");
        QCOMPARE(fileContent("b.html"), html);
        QVERIFY(html.contains("North &lt;plant&gt;"));
        QVERIFY(html.contains("<th>Link</th><td>10.0.0.5:502, Modbus TCP over UDP</td>"));
        QVERIFY(html.contains("<th>Protocol</th><td>Modbus</td>"));
        QVERIFY(html.contains("FAIL: 2 of 3 controllers miss the marks"));
        QVERIFY(html.contains("Slot 1, address 1 <span class=\"verdict fail\">FAIL"));
        QVERIFY(html.contains("Slot 2: Door 3 reader, address 2 <span class=\"verdict pass\">PASS"));
        QVERIFY(html.contains("Slot 3, address 3 <span class=\"verdict fail\">FAIL"));
        QVERIFY(html.contains("<th>extra tries</th><td class=\"n\">4</td>"));
        QVERIFY(html.contains("<td>7</td><td>ReadInput</td>") && html.contains("<td>&lt;none&gt;</td>"));
        QVERIFY(html.contains(QCryptographicHash::hash(fileContent("faulty.csv"), QCryptographicHash::Sha256).toHex()));

        // A site without a Tarvo.cfg of its own: no link or protocol rather than the console's defaults.
        QDir().mkdir("south");
        QVERIFY(writeFile("south/Tarvo.ini", "[site]\nname=South\n"));
        QCOMPARE(runCli({"report", "--site", "south", "--journal", "faulty.csv", "--output", "s.html"}).code, 0);
        QVERIFY(fileContent("s.html").contains("<th>Site</th><td>South</td>"));
        QVERIFY(!fileContent("s.html").contains("<th>Link</th>") &&
                !fileContent("s.html").contains("<th>Protocol</th>"));

        const Run again = runCli(report + QStringList{"a.html"});
        QCOMPARE(again.code, 64);
        QVERIFY(again.err.contains("a.html: exists already"));
        QCOMPARE(fileContent("a.html"), html);

        QByteArray cut = fileContent("faulty.csv");
        cut.chop(cut.size() - cut.indexOf("\r\n", cut.indexOf("\r\n") + 2) - 2); // the header and one row
        QVERIFY(writeFile("cut.csv", cut + "2026-12-10T09:00:00.000+01:00,1,1,ReadHolding\r\n"));
        const Run bad = runCli({"report", "--journal", "cut.csv", "--output", "c.html"});
        QCOMPARE(bad.code, 3);
        QVERIFY2(bad.err.contains("cut.csv:3: a row of 4 fields"), bad.err.constData());
        QVERIFY(!QFile::exists("c.html"));
    }

    // SIGINT during a poll: what was done is printed, the journal is closed whole, the status is 130.
    void interruptedPoll()
    {
        SimProcess sim({"--protocol", "modbus", "--tcp", "127.0.0.1:0"});
        QProcess p;
        p.start(TARVO_CLI_PATH,
                {"poll", "--tcp", QStringLiteral("127.0.0.1:%1").arg(sim.tcpPort), "--protocol", "modbus", "--address",
                 "0,1", "--interval", "20", "--format", "csv", "--journal", "journal.csv"});
        QByteArray out;
        for (int i = 0; i < 100 && out.count('\n') < 4; ++i) {
            p.waitForReadyRead(100);
            out += p.readAllStandardOutput();
        }
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(10000));
        out += p.readAllStandardOutput();
        QCOMPARE(p.exitCode(), 130);
        QVERIFY(p.readAllStandardError().contains("interrupted"));
        const QList<Record> got = records(out, "csv");
        QVERIFY(got.size() >= 3);
        QVERIFY(out.endsWith("\r\n"));
        for (const Record& r : got)
            QCOMPARE(r.verdict, QStringLiteral("ok"));
        const QByteArray journal = fileContent("journal.csv");
        QVERIFY(journal.startsWith("time,slot,address,"));
        QVERIFY(journal.endsWith("\r\n"));
        QVERIFY(journal.count('\n') >= got.size() + 1);
    }

    // The link lost under a poll: tried again for ten seconds, as a USB adapter takes a moment to come
    // back. Not there by then, the status tells it from silence; back in time, the poll goes on. The
    // request the loss cut short is never reported as answered.
    void lostLink_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<bool>("comesBack");
        QTest::newRow("serial") << false << false;
        QTest::newRow("tcp") << true << false;
        QTest::newRow("serial, back after two seconds") << false << true;
    }
    void lostLink()
    {
        QFETCH(bool, tcp);
        QFETCH(bool, comesBack);
        const QString link = QDir::current().filePath("ttyTARVO"); // the name survives the pty
        const QStringList simArgs{"--protocol", "modbus", tcp ? "--tcp" : "--link", tcp ? "127.0.0.1:0" : link};
        std::optional<SimProcess> sim(std::in_place, simArgs);
        const QStringList linkArgs = tcp ? QStringList{"--tcp", QStringLiteral("127.0.0.1:%1").arg(sim->tcpPort)}
                                         : QStringList{"--serial", link};
        QProcess p;
        p.start(TARVO_CLI_PATH, QStringList{"poll"} + linkArgs +
                                    QStringList{"--protocol", "modbus", "--address", "0", "--interval", "20",
                                                "--timeout", "200", "--format", "csv", "--count", "60"});
        QByteArray out;
        for (int i = 0; i < 100 && out.count('\n') < 3; ++i) {
            p.waitForReadyRead(100);
            out += p.readAllStandardOutput();
        }
        sim->stop(SIGTERM);
        sim.reset();
        if (comesBack) {
            QTest::qWait(2000);
            sim.emplace(simArgs);
        }
        QVERIFY(p.waitForFinished(60000));
        out += p.readAllStandardOutput();
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), comesBack ? 0 : 3);
        if (!comesBack)
            QVERIFY(err.contains("was lost and could not be opened again"));
        const QList<Record> got = records(out, "csv");
        int answered = 0;
        for (const Record& r : got) {
            QVERIFY2(r.verdict == "ok" || (r.verdict == "error" && r.received.isEmpty()), qPrintable(r.verdict));
            QVERIFY2(r.verdict != "ok" || !r.received.isEmpty(), "an empty reply reported as answered");
            answered += r.verdict == "ok" ? 1 : 0;
        }
        if (comesBack) { // every round reported, and answered again once the port was back
            QCOMPARE(got.size(), 60);
            QCOMPARE(got.last().verdict, QStringLiteral("ok"));
        }
    }

    // A reply trickled slower than the settle waits is read short, and its rest lands in the next
    // address's reply: neither is an answer, and the second says whose bytes it holds.
    void shortAndStrayReplies()
    {
        SimProcess sim({"--tcp", "127.0.0.1:0", "--fault", "2:trickle=30", "--fault", "8:delay=400"});
        const Run r = runCli({"send", "--tcp", QStringLiteral("127.0.0.1:%1").arg(sim.tcpPort), "--address", "2,8",
                              "--timeout", "600", "--format", "json"});
        QCOMPARE(r.code, 2);
        const QList<Record> got = records(r.out, "json");
        QCOMPARE(got.size(), 2);
        QCOMPARE(got[0].verdict, QStringLiteral("bad-check"));
        QCOMPARE(got[0].json.value("detail").toString(), QStringLiteral("too short"));
        QCOMPARE(got[1].verdict, QStringLiteral("bad-check"));
        QVERIFY2(
            got[1].json.value("detail").toString().contains("is not the request's 09: bytes of an earlier exchange?"),
            qPrintable(got[1].json.value("detail").toString()));
    }

    void censusFindsTheServedAddresses_data()
    {
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<QStringList>("request");
        QTest::addColumn<QString>("speed"); // the protocol's own line speed, asked at without --speeds
        QTest::newRow("Modbus") << "modbus" << QStringList{} << "9600";
        QTest::newRow("Protocol 4") << "p4" << QStringList{"--function", "read-buffer-100"} << "38400";
        QTest::newRow("Bioscrypt") << "bioscrypt" << QStringList{"--command", "0001", "--ack"} << "38400";
    }
    void censusFindsTheServedAddresses()
    {
        QFETCH(QString, protocol);
        QFETCH(QStringList, request);
        QFETCH(QString, speed);
        SimProcess sim({"--protocol", protocol, "--serial", "--addresses", "1,4,9"});
        const Run run = runCli(QStringList{"scan", "--serial", sim.ptyPath, "--protocol", protocol, "--range", "0..12",
                                           "--timeout", "60", "--format", "json"} +
                               request);
        QCOMPARE(run.code, 1);
        QCOMPARE(answering(records(run.out, "json")), (QStringList{"1@" + speed, "4@" + speed, "9@" + speed}));
    }

    // A pseudo-terminal moves bytes at any speed: the simulator stands in for a real line by ignoring
    // what is sent at another speed than its own.
    void censusFindsTheOneSpeed()
    {
        SimProcess sim(
            {"--protocol", "modbus", "--serial", "--speed", "19200", "--strict-speed", "--addresses", "2,6"});
        const Run run = runCli({"scan", "--serial", sim.ptyPath, "--protocol", "modbus", "--range", "0..7", "--speeds",
                                "9600,19200,38400", "--timeout", "50", "--format", "csv"});
        QCOMPARE(run.code, 1);
        const QList<Record> got = records(run.out, "csv");
        QCOMPARE(got.size(), 24);
        QCOMPARE(answering(got), (QStringList{"2@19200", "6@19200"}));
    }

    void modbusCensusAgainstLibmodbus()
    {
        Cable cable;
        QVERIFY(cable.holder >= 0);
        QProcess slave;
        slave.start(MODBUS_SLAVE_PATH, {cable.b, "5"});
        QVERIFY(slave.waitForReadyRead(5000));
        // libmodbus (3.1.6) does not hear a request that comes within half a second of one for another
        // slave: the census waits that long.
        const Run run = runCli({"scan", "--serial", cable.a, "--protocol", "modbus", "--range", "2..6", "--timeout",
                                "600", "--format", "json"});
        slave.kill();
        slave.waitForFinished();
        QCOMPARE(run.code, 1);
        QCOMPARE(answering(records(run.out, "json")), QStringList{"4@9600"}); // slave id 5 is console address 4
    }

    // Link, protocol, timings, function and slots from a Tarvo.cfg the console wrote; options override.
    void configWrittenByTheConsole()
    {
        SimProcess sim({"--protocol", "p4plus", "--tcp", "127.0.0.1:0"});
        ConsoleModel console;
        console.choose(Field::OpTCP);
        console.setText(Field::IP, "127.0.0.1");
        console.setText(Field::Port, QString::number(sim.tcpPort));
        console.choose(Field::Protocol4Plus);
        console.setText(Field::TimeOutDelay, "300");
        console.setListIndex(Field::Function, 2); // Read Buffer 100
        for (int slot = 0; slot < ConsoleModel::kSlots; ++slot)
            console.setCheck(Field::CheckAdr, slot, slot == 4 || slot == 11 ? 1 : 0);
        console.setText(Field::Address, 4, "6");
        console.setText(Field::Address, 11, "13");
        QVERIFY(config::SaveConfig(console, "site.cfg"));

        const Run run = runCli({"send", "--config", "site.cfg", "--format", "json"});
        QCOMPARE(run.code, 0);
        const QList<Record> got = records(run.out, "json");
        QCOMPARE(got.size(), 2);
        QCOMPARE(got[0].address + "," + got[1].address, QStringLiteral("6,13"));
        QCOMPARE(got[0].function, QStringLiteral("ReadBuffer100"));
        // Protocol 4+: the byte sum and the end byte.
        QCOMPARE(got[0].sent, QStringLiteral("07 04 01 00 00 06 00 12 04"));

        const Run overridden =
            runCli({"send", "--config", "site.cfg", "--address", "2", "--function", "query", "--format", "json"});
        QCOMPARE(overridden.code, 0);
        const QList<Record> one = records(overridden.out, "json");
        QCOMPARE(one.size(), 1);
        QCOMPARE(one[0].address, QStringLiteral("2"));
        QCOMPARE(one[0].function, QStringLiteral("SendQuery"));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestE2eCli)
#include "tst_e2e_cli.moc"
