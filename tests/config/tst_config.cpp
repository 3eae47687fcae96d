#include "CliOptions.h"
#include "ConfigFile.h"
#include "ConsoleModel.h"
#include "Crc.h"
#include "FakeStack.h"
#include "FieldsByName.h"
#include "IniFile.h"
#include "Replies.h"
#include "Run.h"
#include "Switches.h"
#include "TestFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {
// The lines of a file saved from a fresh console, for editing one line in a test.
QList<QByteArray> defaultLines()
{
    ConsoleModel m;
    m.setListIndex(Field::TxtFunction, 4); // Send command, which the memory read needs
    config::SaveConfig(m, "base.cfg");
    QList<QByteArray> lines = fileContent("base.cfg").split('\n');
    lines.removeLast(); // after the last CR LF
    for (QByteArray& l : lines)
        l.chop(1);
    return lines;
}

QByteArray joinLines(const QList<QByteArray>& lines)
{
    QByteArray out;
    for (const QByteArray& l : lines)
        out += l + "\r\n";
    return out;
}

// What a link is given beyond its ports, in a few words, the defaults left out: "8E1 rtscts rs485 low
// 2/5 dropEcho lowLatency udp mbap".
QString linkText(const LinkSettings& s)
{
    QStringList words{s.line.text()};
    if (s.line.rtsCts)
        words << "rtscts";
    if (s.rs485.enabled)
        words << "rs485" << (s.rs485.rtsOnSend ? "high" : "low")
              << QStringLiteral("%1/%2").arg(s.rs485.delayBeforeMs).arg(s.rs485.delayAfterMs);
    if (s.dropEcho)
        words << "dropEcho";
    if (s.lowLatency)
        words << "lowLatency";
    words << (s.transport == Transport::Udp ? "udp" : "tcp") << (s.framing == NetFraming::Mbap ? "mbap" : "raw");
    return words.join(' ');
}

// Everything the unattended jobs need, over a fake controller that answers the memory commands.
struct Rig : FakeStack {
    Rig()
    {
        link.onWrite = [this](const QByteArray& frame) {
            if (frame.size() > 3 && frame[3] == '\x72')
                link.reply(0.005, p4Reply(QByteArray::fromHex("4000") + char(17) + '\x72' + QByteArray(16, '\x2A')));
        };
    }
    Lifecycle::LoadResult load(const QString& args) { return lifecycle.load(args); }
};
} // namespace

class TestConfig : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QDir::setCurrent(m_dir->path());
    }

    void saveThenReadRestoresEverything()
    {
        ConsoleModel a;
        for (int i = 0; i < ConsoleModel::kSlots; ++i) {
            a.setText(FieldRef(Field::Address, i), QString::number(100 + i));
            a.setCheck(FieldRef(Field::CheckAdr, i), i % 3 == 0 ? 1 : 0);
        }
        const QStringList texts = {
            "ComPort", "Scan", "TimeOutDelay", "WaitingDelay", "Password",        "Query",        "txtProtocol",
            "IP",      "Port", "MemPage",      "MemAddress",   "MemRecordNumber", "MemRecordSize"};
        for (const QString& t : texts)
            a.setText(fieldNamed(t), t + "-x");
        a.choose(Field::OptBioscrypt);
        a.choose(Field::Encrypt);
        a.choose(Field::OpTCP);
        a.setText(Field::COMSpeed, "57600");
        a.setCheck(Field::ckAck, 1);
        a.setListIndex(Field::TxtFunction, 5);
        QVERIFY(config::SaveConfig(a));

        ConsoleModel b;
        config::ReadConfig(b);
        for (int i = 0; i < ConsoleModel::kSlots; ++i) {
            QCOMPARE(b.address(i), a.address(i));
            QCOMPARE(b.slotSelected(i), a.slotSelected(i));
        }
        for (const QString& t : texts)
            QCOMPARE(b.text(fieldNamed(t)), a.text(fieldNamed(t)));
        QCOMPARE(b.text(Field::COMSpeed), QStringLiteral("57600"));
        QVERIFY(b.selected(Field::OptBioscrypt));
        QVERIFY(!b.selected(Field::Protocol4));
        QVERIFY(b.selected(Field::Encrypt));
        QVERIFY(b.enabled(Field::Password));
        QVERIFY(b.selected(Field::OpTCP));
        QVERIFY(!b.selected(Field::OpCOM));
        QVERIFY(b.enabled(Field::ckAck));
        QCOMPARE(b.check(Field::ckAck), 1);
        QCOMPARE(b.listIndex(Field::TxtFunction), 5);
    }

    void fileFormat()
    {
        ConsoleModel m;
        m.setCheck(Field::CheckAdr, 0, 1);
        m.setListIndex(Field::TxtFunction, -1);
        QVERIFY(config::SaveConfig(m));
        const QByteArray bytes = fileContent("Tarvo.cfg");
        QVERIFY(bytes.endsWith("\r\n"));
        const QList<QByteArray> lines = bytes.split('\n');
        QCOMPARE(lines.size(), 100);
        QCOMPARE(lines[1], QByteArray("COM1\r"));
        QCOMPARE(lines[2], QByteArray(" 1 \r"));
        QCOMPARE(lines[4], QByteArray("\r")); // lines 5, 8, ... 23 are empty
        QCOMPARE(lines[22], QByteArray("\r"));
        QCOMPARE(lines[24], QByteArray(" 1 \r"));
        QCOMPARE(lines[25], QByteArray("-1 \r"));
        QCOMPARE(lines[29], QByteArray("True\r"));
        QCOMPARE(lines[30], QByteArray("False\r"));
        QCOMPARE(lines[45], QByteArray(" 0 \r"));
        QCOMPARE(lines[92], QByteArray("127.0.0.1\r"));
        QCOMPARE(lines[98], QByteArray("12\r"));
        QCOMPARE(QFile::permissions("Tarvo.cfg") & 0x7077,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner); // owner only
    }

    // The file's layout names fields the console has, and each line holds what its field holds: the
    // settings file, the field table and the window (whose objectNames are the same names) agree.
    void layoutNamesTheFieldsItWrites()
    {
        ConsoleModel m;
        int n = 0;
        for (const FieldRef& ref : ConsoleModel::allFields()) {
            if (m.kind(ref) == FieldKind::Text)
                m.setText(ref, QStringLiteral("v%1").arg(++n)); // a different text in every field
        }
        m.setCheck(Field::CheckAdr, 9, 1);
        m.setListIndex(Field::TxtFunction, 3);
        QVERIFY(config::SaveConfig(m));
        const QList<QByteArray> lines = fileContent("Tarvo.cfg").split('\n');
        const QStringList layout = config::fileLayout();
        QCOMPARE(layout.size(), 99);
        for (int i = 0; i < layout.size(); ++i) {
            const QString line = QString::fromLatin1(lines[i]).chopped(1);
            if (layout[i].isEmpty()) {
                QCOMPARE(line, QString());
                continue;
            }
            QVERIFY2(ConsoleModel::find(layout[i]), qPrintable(layout[i]));
            QCOMPARE(line.trimmed(), valueText(m, layout[i]));
        }
    }

    // script/run seeds its demo folder from this template: it must read as the demo it promises and be
    // exactly what the console would save from it.
    void demoSettingsTemplate()
    {
        QByteArray text = fileContent(TARVO_SOURCE_DIR "/script/demo/Tarvo.cfg.in");
        text.replace("@HOST@", "192.0.2.7").replace("@PORT@", "1502").replace("\n", "\r\n");
        QVERIFY(writeFile("Tarvo.cfg", text));
        ConsoleModel m;
        config::ReadConfig(m);
        for (int i = 0; i < ConsoleModel::kSlots; ++i) {
            QCOMPARE(m.address(i), QString::number(i));
            QVERIFY(!m.slotSelected(i));
        }
        QCOMPARE(m.protocol(), Protocol::Protocol4);
        QVERIFY(m.serialLink());
        QCOMPARE(m.text(Field::ComPort), QStringLiteral("COM1"));
        QCOMPARE(m.text(Field::COMSpeed), QStringLiteral("38400"));
        QCOMPARE(m.text(Field::IP), QStringLiteral("192.0.2.7"));
        QCOMPARE(m.text(Field::Port), QStringLiteral("1502"));
        QCOMPARE(m.listIndex(Field::Function), 0);
        QVERIFY(config::SaveConfig(m, "again.cfg"));
        QCOMPARE(fileContent("again.cfg"), text);
    }

    // Tarvo.ini keeps what Tarvo.cfg has no line for. A missing, unreadable or odd file means the
    // defaults, silently; saving replaces it whole or not at all.
    void iniSettingsRoundTrip()
    {
        ConsoleModel a;
        a.ini.journal.toFile = true;
        a.ini.journal.folder = QStringLiteral("/var/log/tarvo, site 4");
        a.ini.window.geometry = QByteArray("\x01\x02\xff=\n", 5);
        a.ini.census.range = QStringLiteral("1..247");
        a.ini.census.speeds = QStringLiteral("9600,19200");
        a.ini.census.command = QStringLiteral("73 ; a, comment");
        a.ini.census.timeoutMs = 80;
        a.ini.census.tries = 2;
        a.ini.monitor.gapMs = 4;
        a.ini.timeline = {0, true, true, true};
        QVERIFY(config::SaveIni(a));
        ConsoleModel b;
        config::ReadIni(b);
        QCOMPARE(b.ini.journal.toFile, true);
        QCOMPARE(b.ini.journal.folder, a.ini.journal.folder);
        QCOMPARE(b.ini.window.geometry, a.ini.window.geometry);
        QCOMPARE(b.ini.census.range, a.ini.census.range);
        QCOMPARE(b.ini.census.speeds, a.ini.census.speeds);
        QCOMPARE(b.ini.census.command, a.ini.census.command);
        QCOMPARE(b.ini.census.timeoutMs, 80);
        QCOMPARE(b.ini.census.tries, 2);
        QCOMPARE(b.ini.monitor.gapMs, 4);
        QCOMPARE(b.ini.timeline.spanSeconds, 0);
        QVERIFY(b.ini.timeline.firstByte && b.ini.timeline.line && b.ini.timeline.scalePerLane);
        QVERIFY(fileContent("Tarvo.ini").contains("[journal]"));

        a.ini.serial = {QStringLiteral("7O1"), true, true, false, 3, 1000, true, true};
        QVERIFY(config::SaveIni(a));
        config::ReadIni(b);
        QCOMPARE(b.ini.serial, a.ini.serial);
        QVERIFY(fileContent("Tarvo.ini").contains("[serial]"));
        QVERIFY(fileContent("Tarvo.ini").contains("line=7O1"));
        QVERIFY(fileContent("Tarvo.ini").contains("flow=rtscts"));
        QCOMPARE(b.ini.tcp, ConsoleModel::Ini::Tcp{}); // raw frames over TCP when nothing was chosen
        QVERIFY(fileContent("Tarvo.ini").contains("[tcp]"));
        QVERIFY(fileContent("Tarvo.ini").contains("framing=raw"));
        QVERIFY(fileContent("Tarvo.ini").contains("transport=tcp"));

        a.ini.tcp = {Transport::Udp, NetFraming::Mbap};
        QVERIFY(config::SaveIni(a));
        config::ReadIni(b);
        QCOMPARE(b.ini.tcp, a.ini.tcp);
        QVERIFY(fileContent("Tarvo.ini").contains("framing=mbap"));
        QVERIFY(fileContent("Tarvo.ini").contains("transport=udp"));
        QCOMPARE(b.linkSettings().transport, Transport::Udp);
        QCOMPARE(b.linkSettings().framing, NetFraming::Mbap);
        // The words as a script or a site folder may write them.
        QVERIFY(writeFile("Tarvo.ini", "[tcp]\nframing= MBAP \ntransport=Udp\n"));
        ConsoleModel c;
        config::ReadIni(c);
        QCOMPARE(c.ini.tcp, (ConsoleModel::Ini::Tcp{Transport::Udp, NetFraming::Mbap}));
        QCOMPARE(QDir().entryList(QDir::Files), QStringList{"Tarvo.ini"}); // nothing left beside it

        // The site, its slots' names and the report's marks; no mark on the reply time by default.
        QCOMPARE(c.ini.report.maxP95ReplyMs, -1);
        QCOMPARE(c.ini.report.minSuccessPercent, 99);
        a.ini.site = {QStringLiteral("Plant 4, gate house"), QStringLiteral("A. Técnico")};
        a.ini.slotNames[0] = QStringLiteral("Door 3 reader");
        a.ini.slotNames[31] = QStringLiteral("Barrier; \"north\"");
        a.ini.report = {95, 250};
        QVERIFY(config::SaveIni(a));
        ConsoleModel d;
        config::ReadIni(d);
        QCOMPARE(d.ini.site.name, a.ini.site.name);
        QCOMPARE(d.ini.site.technician, a.ini.site.technician);
        QCOMPARE(d.ini.slotNames, a.ini.slotNames);
        QCOMPARE(d.ini.report.minSuccessPercent, 95);
        QCOMPARE(d.ini.report.maxP95ReplyMs, 250);
        QVERIFY(writeFile("Tarvo.ini", "[report]\nminSuccessPercent=101\nmaxP95ReplyMs=soon\n"));
        ConsoleModel e;
        config::ReadIni(e);
        QCOMPARE(e.ini.report.minSuccessPercent, 99);
        QCOMPARE(e.ini.report.maxP95ReplyMs, -1);
    }

    void iniThatCannotBeUsedMeansDefaults_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("readable");
        QTest::newRow("missing") << QByteArray() << true;
        QTest::newRow("cannot be read: a folder of that name") << QByteArray() << false;
        QTest::newRow("wrong kinds") << QByteArray("[journal]\ntoFile=perhaps\n[window]\ngeometry=12\n[census]\n"
                                                   "tries=7\ntimeout=-5\n[monitor]\ngap=-1\n")
                                     << true;
        QTest::newRow("not an ini file") << QByteArray("\x00\xff\x13garbage[[[\n=\n", 17) << true;
        QTest::newRow("serial settings the console does not offer")
            << QByteArray("[serial]\nline=9Q3\nflow=xonxoff\nrs485=1\ndelayBeforeMs=-4\ndelayAfterMs=1001\n"
                          "dropEcho=yes\n")
            << true;
        QTest::newRow("network link words the console does not know")
            << QByteArray("[tcp]\nframing=rtu\ntransport=serial\n") << true;
        QTest::newRow("network link settings left empty") << QByteArray("[tcp]\nframing=\ntransport=\n") << true;
    }
    void iniThatCannotBeUsedMeansDefaults()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, readable);
        if (!content.isEmpty())
            QVERIFY(writeFile("Tarvo.ini", content));
        if (!readable)
            QVERIFY(QDir().mkdir("Tarvo.ini"));
        ConsoleModel m;
        config::ReadIni(m);
        QCOMPARE(m.ini.journal.toFile, false);
        QCOMPARE(m.ini.journal.folder, QString());
        QCOMPARE(m.ini.window.geometry, QByteArray());
        QCOMPARE(m.ini.serial, ConsoleModel::Ini::Serial{});
        QCOMPARE(m.ini.census.tries, 1);
        QCOMPARE(m.ini.census.timeoutMs, 200);
        QCOMPARE(m.ini.monitor.gapMs, 0);
        QCOMPARE(m.ini.tcp, ConsoleModel::Ini::Tcp{});
        QCOMPARE(m.linkSettings().transport, Transport::Tcp);
        QCOMPARE(m.linkSettings().framing, NetFraming::Raw);
    }

    // The line format and the rest of the serial settings, the network link's transport and framing,
    // and the site's name, technician, slot names and report marks live in Tarvo.ini only: a start and a
    // close with "Save Config on exit" give Tarvo.cfg back byte for byte, whatever Tarvo.ini holds, and
    // without one the line is the console's own 8N2 and the network link raw frames over TCP. The link
    // gets what Tarvo.ini says.
    void iniSettingsLeaveTarvoCfgAlone_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("link");    // what the link was given, as linkText() writes it
        QTest::addColumn<QByteArray>("kept"); // a line the saved Tarvo.ini holds
        QTest::newRow("serial line") << QByteArray("[serial]\nline=8e1\nflow=rtscts\nrs485=true\nrtsOnSend=false\n"
                                                   "delayBeforeMs=2\ndelayAfterMs=5\ndropEcho=true\nlowLatency=true\n")
                                     << "8E1 rtscts rs485 low 2/5 dropEcho lowLatency tcp raw"
                                     << QByteArray("line=8E1");
        QTest::newRow("Modbus TCP over UDP")
            << QByteArray("[tcp]\nframing=mbap\ntransport=udp\n") << "8N2 udp mbap" << QByteArray("framing=mbap");
        QTest::newRow("both") << QByteArray("[serial]\nline=7O1\n[tcp]\nframing=raw\ntransport=udp\n") << "7O1 udp raw"
                              << QByteArray("transport=udp");
        QTest::newRow("site, slot names, report marks")
            << QByteArray("[site]\nname=North plant\ntechnician=A. Tech\n[slots]\nname2=Door 3 reader\n"
                          "name32=Gate\n[report]\nminSuccessPercent=95\nmaxP95ReplyMs=250\n")
            << "8N2 tcp raw" << QByteArray("name2=Door 3 reader");
    }
    void iniSettingsLeaveTarvoCfgAlone()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, link);
        QFETCH(QByteArray, kept);
        // The slot the send goes to is ticked in the file already, so that the start, the send and the
        // close leave every setting as the file had it.
        ConsoleModel site;
        site.setListIndex(Field::TxtFunction, 4);
        site.setCheck(Field::CheckAdr, 0, 1);
        QVERIFY(config::SaveConfig(site, "Tarvo.cfg"));
        const QByteArray cfg = fileContent("Tarvo.cfg");
        QMap<bool, QByteArray> saved;
        for (const bool withIni : {false, true}) {
            QTemporaryDir dir;
            QDir::setCurrent(dir.path());
            QVERIFY(writeFile("Tarvo.cfg", cfg));
            if (withIni)
                QVERIFY(writeFile("Tarvo.ini", ini));
            Rig r;
            r.load("");
            r.tick(0);
            r.polling.sendOnce();
            QCOMPARE(r.link.connected.size(), 1);
            QCOMPARE(linkText(r.link.connected[0]), withIni ? link : QStringLiteral("8N2 tcp raw"));
            r.lifecycle.close();
            saved[withIni] = fileContent("Tarvo.cfg");
            QCOMPARE(fileContent("Tarvo.ini").contains(kept), withIni);
            QDir::setCurrent(m_dir->path());
        }
        QCOMPARE(saved[false], cfg);
        QCOMPARE(saved[true], cfg);
    }

    // tarvo-cli --config takes the network link's transport and framing from the Tarvo.ini beside the
    // Tarvo.cfg, through the console's own reading; a link typed on the command line says its own
    // transport, and Modbus TCP framing under another protocol is refused before anything is sent.
    void cliConfigTakesTheNetworkLinkFromTarvoIni_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("options"); // after "send --config Tarvo.cfg"
        QTest::addColumn<bool>("modbus");     // the Tarvo.cfg's protocol: Modbus, else Protocol 4
        QTest::addColumn<QString>("link");    // transport and framing, or the refusal's start
        QTest::newRow("no Tarvo.ini") << QByteArray() << "" << true << "tcp raw";
        QTest::newRow("Modbus TCP over UDP")
            << QByteArray("[tcp]\nframing=mbap\ntransport=udp\n") << "" << true << "udp mbap";
        QTest::newRow("unknown words") << QByteArray("[tcp]\nframing=rtu\ntransport=tcp6\n") << "" << true << "tcp raw";
        QTest::newRow("--tcp typed") << QByteArray("[tcp]\nframing=mbap\ntransport=udp\n") << "--tcp 10.0.0.8:502"
                                     << true << "tcp mbap";
        QTest::newRow("--udp typed") << QByteArray() << "--udp 10.0.0.8:502" << true << "udp raw";
        QTest::newRow("Modbus TCP under Protocol 4") << QByteArray("[tcp]\nframing=mbap\n") << "" << false
                                                     << "Modbus TCP framing (--mbap) carries Modbus requests only";
        QTest::newRow("--protocol modbus typed")
            << QByteArray("[tcp]\nframing=mbap\n") << "--protocol modbus" << false << "tcp mbap";
    }
    void cliConfigTakesTheNetworkLinkFromTarvoIni()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, options);
        QFETCH(bool, modbus);
        QFETCH(QString, link);
        QDir().mkdir("site");
        ConsoleModel console;
        console.choose(Field::OpTCP);
        console.choose(modbus ? Field::Modbus : Field::Protocol4);
        console.setCheck(Field::CheckAdr, 0, 1);
        console.setText(Field::Address, 0, "4");
        QVERIFY(config::SaveConfig(console, "site/Tarvo.cfg"));
        if (!ini.isEmpty())
            QVERIFY(writeFile("site/Tarvo.ini", ini));

        QStringList args{"tarvo-cli", "send", "--config", QDir::current().filePath("site/Tarvo.cfg")};
        args += options.split(' ', Qt::SkipEmptyParts);
        const cli::Parsed parsed = cli::parse(args);
        QCOMPARE(parsed.action, cli::Parsed::Action::Run);
        cli::Plan plan;
        const std::optional<QString> problem = cli::makePlan(parsed.options, plan);
        if (problem) {
            QVERIFY2(problem->startsWith(link), qPrintable(*problem));
            return;
        }
        const LinkSettings s = plan.settings.linkSettings();
        QCOMPARE(QStringLiteral("%1 %2").arg(s.transport == Transport::Udp ? "udp" : "tcp",
                                             s.framing == NetFraming::Mbap ? "mbap" : "raw"),
                 link);
    }

    void failedIniSaveKeepsTheOldFile()
    {
        QVERIFY(writeFile("Tarvo.ini", "[journal]\ntoFile=true\n"));
        ConsoleModel m;
        m.ini.journal.folder = QStringLiteral("a folder with a long enough name to fill the disk");
        QString error;
        bool saved = true;
        withFullDiskAfter(8, [&] { saved = config::SaveIni(m, config::iniFileName(), &error); });
        QVERIFY(!saved);
        QVERIFY(!error.isEmpty());
        QCOMPARE(fileContent("Tarvo.ini"), QByteArray("[journal]\ntoFile=true\n"));
        QCOMPARE(QDir().entryList(QDir::Files), QStringList{"Tarvo.ini"});
    }

    void readingEdgeCases_data()
    {
        QTest::addColumn<int>("line"); // 1-based line to replace, 0 for none
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("keep"); // lines kept (the file is cut after them)
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("expected");
        QTest::newRow("44 lines: IP default") << 0 << QByteArray() << 44 << "IP"
                                              << "127.0.0.1";
        QTest::newRow("44 lines: slot 20 address") << 0 << QByteArray() << 44 << "Address_20"
                                                   << "20";
        QTest::newRow("bad first-block value skipped") << 9 << QByteArray("abc") << 99 << "CheckAdr_2"
                                                       << "keep";
        QTest::newRow("later first-block lines still read") << 9 << QByteArray("abc") << 99 << "MemPage"
                                                            << "07";
        QTest::newRow("bad second-block value stops") << 66 << QByteArray("abc") << 99 << "MemPage"
                                                      << "01";
        QTest::newRow("before it still read") << 66 << QByteArray("abc") << 99 << "Address_18"
                                              << "saved";
        QTest::newRow("line 25 wins over line 3") << 25 << QByteArray(" 0 ") << 99 << "CheckAdr_0"
                                                  << "0";
        QTest::newRow("line 35 wins over line 26") << 26 << QByteArray(" 2 ") << 99 << "TxtFunction"
                                                   << "5";
        QTest::newRow("index beyond the list skipped") << 35 << QByteArray(" 9 ") << 99 << "TxtFunction"
                                                       << "2";
        QTest::newRow("Modbus then stored speed") << 31 << QByteArray("True") << 99 << "COMSpeed"
                                                  << "38400";
        QTest::newRow("OpCOM False selects TCP") << 95 << QByteArray("False") << 99 << "OpTCP"
                                                 << "True";
        QTest::newRow("truth in any case") << 95 << QByteArray("fAlSe") << 99 << "OpTCP"
                                           << "True";
        QTest::newRow("ignored line text") << 5 << QByteArray("junk") << 99 << "CheckAdr_1"
                                           << "0";
    }
    void readingEdgeCases()
    {
        QFETCH(int, line);
        QFETCH(QByteArray, value);
        QFETCH(int, keep);
        QFETCH(QString, field);
        QFETCH(QString, expected);
        ConsoleModel saved;
        saved.setText(Field::MemPage, "07");
        saved.setText(Field::Address, 18, "saved");
        saved.setCheck(Field::CheckAdr, 2, 1);
        saved.setListIndex(Field::TxtFunction, 2);
        saved.setText(Field::IP, "10.1.1.1");
        config::SaveConfig(saved, "full.cfg");
        QList<QByteArray> lines = fileContent("full.cfg").split('\n');
        lines.removeLast();
        for (QByteArray& l : lines)
            l.chop(1);
        if (line == 26)
            lines[34] = " 5 ";
        if (line > 0)
            lines[line - 1] = value;
        QVERIFY(writeFile("Tarvo.cfg", joinLines(lines.mid(0, keep))));

        ConsoleModel m;
        m.setCheck(Field::CheckAdr, 2, 0);
        config::ReadConfig(m);
        const QString actual = valueText(m, field);
        if (expected == "keep") // the entry was skipped: the field keeps what it held
            expected = "0";
        QCOMPARE(actual, expected);
    }

    void missingFileKeepsDefaults()
    {
        ConsoleModel m;
        config::ReadConfig(m);
        QCOMPARE(m.address(8), QStringLiteral("8"));
        QCOMPARE(m.address(31), QStringLiteral("31"));
        QCOMPARE(m.address(0), QString());
        QVERIFY(m.selected(Field::Protocol4));
    }

    // A write that fails half-way (here: the file size limit) leaves the old file whole.
    void failedSaveKeepsTheOldFile()
    {
        QVERIFY(writeFile("Tarvo.cfg", "old settings\r\n"));
        ConsoleModel m;
        bool saved = true;
        withFullDiskAfter(64, [&] { saved = config::SaveConfig(m); });
        QVERIFY(!saved);
        QCOMPARE(fileContent("Tarvo.cfg"), QByteArray("old settings\r\n"));
        QCOMPARE(QDir().entryList(QDir::Files), QStringList{"Tarvo.cfg"}); // no temporary left behind
    }

    void tokenizer_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("tokens");
        QTest::newRow("hyphens") << "-com=2 -speed=9600" << QStringList{"com=2", "speed=9600"};
        QTest::newRow("blanks") << "com=2 speed=9600" << QStringList{"com=2", "speed=9600"};
        QTest::newRow("glued") << "-com=2-speed=9600" << QStringList{"com=2", "speed=9600"};
        QTest::newRow("tabs and runs") << "\tcom=2 \t --speed=9600  " << QStringList{"com=2", "speed=9600"};
        QTest::newRow("= in value") << "cmd=01=02" << QStringList{"cmd=01=02"};
        QTest::newRow("token without = dropped alone") << "x -com=2" << QStringList{"com=2"};
        QTest::newRow("hyphen cuts a value") << "tcp=10.0.0-1" << QStringList{"tcp=10.0.0"};
        QTest::newRow("quotes kept") << "outputfile=\"a.mem\"" << QStringList{"outputfile=\"a.mem\""};
        QTest::newRow("empty") << "" << QStringList{};
    }
    void tokenizer()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, tokens);
        QCOMPARE(switches::tokenize(text), tokens);
    }

    // --site DIR comes out of the arguments, whatever its place; the rest stay the console's switches.
    void siteOption_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("folder"); // "<dir>": the test's own folder
        QTest::addColumn<QStringList>("rest");
        QTest::addColumn<QString>("error");
        QTest::newRow("none") << QStringList{"com=3"} << "" << QStringList{"com=3"} << "";
        QTest::newRow("first") << QStringList{"--site", "<dir>", "com=3", "cmd=01"} << "<dir>"
                               << QStringList{"com=3", "cmd=01"} << "";
        QTest::newRow("with =, last") << QStringList{"com=3", "--site=<dir>"} << "<dir>" << QStringList{"com=3"} << "";
        QTest::newRow("no folder named") << QStringList{"com=3", "--site"} << "" << QStringList{"com=3"}
                                         << "--site: the site folder is missing (--site DIR)";
        QTest::newRow("no such folder") << QStringList{"--site", "<dir>/none"} << "<dir>/none" << QStringList{}
                                        << "--site <dir>/none: no such folder";
    }
    void siteOption()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, folder);
        QFETCH(QStringList, rest);
        QFETCH(QString, error);
        const QString dir = m_dir->path();
        for (QString& a : args)
            a.replace("<dir>", dir);
        const switches::SiteOption site = switches::takeSiteOption(args);
        QCOMPARE(site.folder, QString(folder).replace("<dir>", dir));
        QCOMPARE(args, rest);
        QCOMPARE(site.error, QString(error).replace("<dir>", dir));
    }

    void switches_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("expected");
        QTest::newRow("COM=3") << "-COM=3"
                               << "ComPort"
                               << "COM3";
        QTest::newRow("COM selects serial") << "tcp=h -COM=3"
                                            << "OpCOM"
                                            << "True";
        QTest::newRow("com=COM3") << "com=COM3"
                                  << "ComPort"
                                  << "COMCOM3";
        QTest::newRow("tcp") << "tcp=10.0.0.9"
                             << "IP"
                             << "10.0.0.9";
        QTest::newRow("tcp selects TCP") << "tcp=10.0.0.9"
                                         << "OpTCP"
                                         << "True";
        QTest::newRow("tcp link rule ran") << "tcp=10.0.0.9"
                                           << "enabled:IP"
                                           << "True";
        QTest::newRow("repeated key") << "speed=4800 speed=19200"
                                      << "COMSpeed"
                                      << "19200";
        QTest::newRow("port") << "port=502"
                              << "Port"
                              << "502";
        QTest::newRow("delays") << "timeoutdelay=300 waitingdelay=20"
                                << "WaitingDelay"
                                << "20";
        QTest::newRow("controller address") << "controlleraddress=17"
                                            << "Address_0"
                                            << "17";
        QTest::newRow("only slot 0") << "controlleraddress=17"
                                     << "CheckAdr_5"
                                     << "0";
        QTest::newRow("slot 0 ticked") << "controlleraddress=17"
                                       << "CheckAdr_0"
                                       << "1";
        QTest::newRow("no arguments") << ""
                                      << "Check1"
                                      << "1";
        QTest::newRow("blanks only") << "   "
                                     << "Check1"
                                     << "1";
        QTest::newRow("one letter") << "x"
                                    << "Check1"
                                    << "0";
        QTest::newRow("silent=1") << "silent=1"
                                  << "Silent"
                                  << "1";
        QTest::newRow("silent=2") << "silent=2"
                                  << "Silent"
                                  << "0";
        QTest::newRow("silent=0.6 rounds") << "silent=0.6"
                                           << "Silent"
                                           << "1";
        QTest::newRow("bad silent stops the scan") << "silent=abc speed=4800"
                                                   << "COMSpeed"
                                                   << "38400";
        QTest::newRow("unknown key ignored") << "colour=red speed=4800"
                                             << "COMSpeed"
                                             << "4800";
    }
    void switches()
    {
        QFETCH(QString, args);
        QFETCH(QString, field);
        QFETCH(QString, expected);
        Rig r;
        r.model.setCheck(Field::CheckAdr, 5, 1);
        const auto result = r.load(args);
        QVERIFY(!result.endProgram);
        QString actual;
        if (field == "Silent")
            actual = QString::number(r.model.silent());
        else if (field.startsWith("enabled:"))
            actual = r.model.enabled(fieldNamed(field.mid(8))) ? "True" : "False";
        else
            actual = valueText(r.model, field);
        QCOMPARE(actual, expected);
        QVERIFY(r.link.writes.isEmpty());
        QCOMPARE(r.model.title, QStringLiteral("Tarvo  Version 2.1.4"));
    }

    void sendJobLeavesTheConsoleOpen()
    {
        Rig r;
        r.model.choose(Field::OptNone);
        r.model.setListIndex(Field::TxtFunction, 4);
        const auto result = r.load("controlleraddress=3 cmd=0102 page=01 outputfile=x.mem");
        QVERIFY(!result.endProgram);
        QCOMPARE(r.link.writes.first(), QByteArray::fromHex("0102"));
        QVERIFY(!QFile::exists("x.mem"));
        QVERIFY(!QFile::exists("Memory.mem"));
    }

    void memoryReadJob_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<bool>("outputExists");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("dumpInOutput");
        QTest::addColumn<bool>("dumpInMemoryMem");
        QTest::newRow("documented call")
            << "controlleraddress=5 page=01 firstaddress=1e2c records=4 recordsize=4 outputfile=dump.mem silent=1"
            << false << 0 << true << false;
        QTest::newRow("no outputfile") << "controlleraddress=5 page=01 records=4 recordsize=4 silent=1" << false << 1
                                       << false << true;
        QTest::newRow("output exists")
            << "controlleraddress=5 page=01 records=4 recordsize=4 outputfile=dump.mem silent=1" << true << 1 << false
            << true;
        QTest::newRow("panel check fails")
            << "controlleraddress=5 page=001 outputfile=dump.mem silent=1" << false << 1 << false << false;
        QTest::newRow("bad switch after page")
            << "controlleraddress=5 page=01 silent=x outputfile=dump.mem" << false << 1 << false << false;
    }
    void memoryReadJob()
    {
        QFETCH(QString, args);
        QFETCH(bool, outputExists);
        QFETCH(int, exitCode);
        QFETCH(bool, dumpInOutput);
        QFETCH(bool, dumpInMemoryMem);
        QVERIFY(writeFile("Tarvo.cfg", joinLines(defaultLines())));
        const QByteArray cfg = fileContent("Tarvo.cfg");
        if (outputExists)
            QVERIFY(writeFile("dump.mem", "keep me"));
        Rig r;
        const auto result = r.load(args);
        QVERIFY(result.endProgram);
        QCOMPARE(result.exitCode, exitCode);
        QCOMPARE(result.reason.isEmpty(), exitCode == 0);
        if (outputExists)
            QCOMPARE(fileContent("dump.mem"), QByteArray("keep me"));
        if (dumpInOutput)
            QVERIFY(fileContent("dump.mem").contains(" CTR#1  Address:5"));
        QCOMPARE(QFile::exists("Memory.mem"), dumpInMemoryMem);
        QCOMPARE(r.model.title, QStringLiteral("Tarvo")); // the job ends before the title is set
        r.lifecycle.close();
        QCOMPARE(fileContent("Tarvo.cfg"), cfg); // a start with arguments does not save
    }

    void closingSavesOnlyWithoutArguments()
    {
        Rig r;
        r.load("");
        r.model.setText(Field::Port, "777");
        r.lifecycle.close();
        QVERIFY(fileContent("Tarvo.cfg").contains("\r\n777\r\n"));
        QCOMPARE(r.link.disconnects, 1);

        Rig withArgs;
        withArgs.load("speed=9600");
        withArgs.model.setText(Field::Port, "888");
        withArgs.lifecycle.close();
        QVERIFY(!fileContent("Tarvo.cfg").contains("888"));
    }

    // Closing while a cycle runs stops it, lets it unwind, and only then closes, once.
    void closingWaitsForTheCycle_data()
    {
        QTest::addColumn<bool>("polling");
        QTest::newRow("Send One Time") << false;
        QTest::newRow("polling") << true;
    }
    void closingWaitsForTheCycle()
    {
        QFETCH(bool, polling);
        Rig r;
        r.load("");
        r.tick(0);
        r.model.setText(Field::Address, 0, "1");
        r.link.onWrite = {}; // nobody answers: the cycle sits in its reply wait
        int closes = 0;
        bool closedWhileRunning = false;
        r.lifecycle.closeNow = [&] {
            closedWhileRunning = r.polling.running();
            if (r.lifecycle.requestClose())
                ++closes;
        };
        bool firstAnswer = true;
        r.pump.at(0.2, [&] { firstAnswer = r.lifecycle.requestClose(); });
        if (polling)
            r.polling.start();
        else
            r.polling.sendOnce();
        QVERIFY(!firstAnswer);
        QCOMPARE(closes, 1);
        QVERIFY(!closedWhileRunning);
        QCOMPARE(r.link.disconnects, 2); // the cycle's own, then the shutdown's
        QVERIFY(QFile::exists("Tarvo.cfg"));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_APPLESS_MAIN(TestConfig)
#include "tst_config.moc"
