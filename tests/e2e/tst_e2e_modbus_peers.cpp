// tarvo-cli against a Modbus server nobody here wrote: Debian's pymodbus serving Modbus RTU on a socat
// cable, Modbus TCP and Modbus TCP over UDP (tests/e2e/pymodbus_server.py, which says what each unit
// holds). What the records say is held against what that server holds, byte for byte, so a fault in
// the framing, the unit id or the verdicts shows here even where tarvo-sim, written with the console,
// would share it. And a UDP request nobody answers.

#include "SocatCable.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <QUdpSocket>

using namespace tarvo::test;

namespace {

constexpr int kBadCrcUnit = 8; // RTU only: its replies carry a spoiled CRC
const QStringList kUnits{"2", "5", "9"};

struct Run {
    int code = -1;
    QList<QJsonObject> records;
    QByteArray err;
};

Run runCli(const QStringList& args)
{
    QProcess p;
    p.start(TARVO_CLI_PATH, args + QStringList{"--format", "json"});
    Run r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        if (!line.trimmed().isEmpty())
            r.records << QJsonDocument::fromJson(line).object();
    }
    r.err = p.readAllStandardError();
    return r;
}

QByteArray bytesOf(const QJsonObject& record, const char* field)
{
    return QByteArray::fromHex(record.value(QLatin1String(field)).toString().toLatin1());
}

// The pymodbus server of one transport, running until the test ends.
struct Peer {
    explicit Peer(const QStringList& args)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral("/usr/bin/python3"), QStringList{PYMODBUS_SERVER_PATH} + args);
        while (!process.canReadLine()) {
            if (!process.waitForReadyRead(20000))
                return;
        }
        const QList<QByteArray> ready = process.readLine().trimmed().split(' ');
        serving = ready.value(0) == "ready";
        port = ready.value(1).toUShort();
    }
    ~Peer()
    {
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished();
        }
    }
    QProcess process;
    bool serving = false;
    quint16 port = 0;
};

} // namespace

class TestE2eModbusPeers : public QObject {
    Q_OBJECT

    std::unique_ptr<Cable> m_cable;
    std::unique_ptr<Peer> m_rtu, m_tcp, m_udp;

    QStringList link(const QString& transport) const
    {
        if (transport == "rtu")
            return {"--serial", m_cable->a};
        const Peer& peer = transport == "tcp" ? *m_tcp : *m_udp;
        return {"--" + transport, QStringLiteral("127.0.0.1:%1").arg(peer.port), "--mbap"};
    }

private slots:
    void initTestCase()
    {
        QProcess probe;
        probe.start("/usr/bin/python3", {"-c", "import pymodbus, serial_asyncio"});
        QVERIFY2(probe.waitForFinished(20000) && probe.exitCode() == 0,
                 "Debian's python3-pymodbus and python3-serial-asyncio are missing: run script/bootstrap");
        m_cable = std::make_unique<Cable>();
        QVERIFY(m_cable->holder >= 0);
        m_rtu = std::make_unique<Peer>(QStringList{"rtu", m_cable->b, "--units", kUnits.join(','), "--bad-crc-unit",
                                                   QString::number(kBadCrcUnit)});
        m_tcp = std::make_unique<Peer>(QStringList{"tcp", "--units", kUnits.join(',')});
        m_udp = std::make_unique<Peer>(QStringList{"udp", "--units", kUnits.join(',')});
        QVERIFY(m_rtu->serving);
        QVERIFY(m_tcp->serving && m_tcp->port != 0);
        QVERIFY(m_udp->serving && m_udp->port != 0);
    }

    void cleanupTestCase()
    {
        m_rtu.reset();
        m_tcp.reset();
        m_udp.reset();
        m_cable.reset();
    }

    // One request to console address 4 (unit 5), or 7 for the spoiled CRC; the reply's PDU is what
    // the server holds for unit 5 (8), whatever frames it on the wire.
    void readsWhatThePeerHolds_data()
    {
        QTest::addColumn<QString>("transport");
        QTest::addColumn<QStringList>("request");
        QTest::addColumn<QByteArray>("pdu");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<int>("code");
        struct Case {
            const char* name;
            QStringList request;
            const char* pdu;
            const char* verdict;
            const char* detail;
            int code;
        };
        const Case cases[] = {
            // 6 input registers from 0x100: unit 5 holds 0x0500 + i there.
            {"input registers",
             {"--address", "4", "--function", "read-buffer-100"},
             "040C050005010502050305040505",
             "ok",
             "",
             0},
            // 3 holding registers from 200: 0x8050 + i.
            {"holding registers", {"--address", "4", "--command", "0300C80003"}, "0306805080518052", "ok", "", 0},
            // 16 discrete inputs from 0: on at 1, 4, 7, 10, 13.
            {"discrete inputs", {"--address", "4", "--function", "read-input"}, "02029224", "ok", "", 0},
            // Register 240 is not held.
            {"exception",
             {"--address", "4", "--command", "0300F00001"},
             "8302",
             "exception",
             "02 illegal data address",
             4},
        };
        for (const char* transport : {"rtu", "tcp", "udp"}) {
            for (const Case& c : cases)
                QTest::addRow("%s %s", transport, c.name)
                    << transport << c.request << QByteArray::fromHex(c.pdu) << c.verdict << c.detail << c.code;
        }
        QTest::newRow("rtu bad CRC") << "rtu" << QStringList{"--address", "7", "--function", "read-buffer-100"}
                                     << QByteArray::fromHex("040C080008010802080308040805") << "bad-check"
                                     << "CRC-16/MODBUS carried" << 2;
    }
    void readsWhatThePeerHolds()
    {
        QFETCH(QString, transport);
        QFETCH(QStringList, request);
        QFETCH(QByteArray, pdu);
        QFETCH(QString, verdict);
        QFETCH(QString, detail);
        QFETCH(int, code);
        const Run run =
            runCli(QStringList{"send", "--protocol", "modbus", "--timeout", "1000"} + link(transport) + request);
        QCOMPARE(run.code, code);
        QCOMPARE(run.records.size(), 1);
        const QJsonObject& record = run.records[0];
        QCOMPARE(record.value("verdict").toString(), verdict);
        QVERIFY2(record.value("detail").toString().contains(detail), qPrintable(record.value("detail").toString()));
        QCOMPARE(record.value("attempts").toInt(), 1);

        const QByteArray sent = bytesOf(record, "sent");
        const QByteArray received = bytesOf(record, "received");
        const char unit = char(record.value("address").toInt() + 1);
        if (transport == "rtu") {
            QCOMPARE(sent.at(0), unit);
            QCOMPARE(received.size(), pdu.size() + 3); // unit, PDU, CRC
            QCOMPARE(received.at(0), unit);
            QCOMPARE(received.mid(1, pdu.size()), pdu);
        } else {
            // The MBAP header: the request's transaction id, protocol 0, the length of unit and PDU.
            QCOMPARE(sent.at(6), unit);
            QCOMPARE(received.size(), pdu.size() + 7);
            QCOMPARE(received.first(2), sent.first(2));
            QCOMPARE(received.mid(2, 4), QByteArray::fromHex("0000") + char(0) + char(pdu.size() + 1));
            QCOMPARE(received.at(6), unit);
            QCOMPARE(received.sliced(7), pdu);
        }
    }

    // Through a server of units 2, 5 and 9 the census finds console addresses 1, 4 and 8, and only
    // them.
    void censusFindsTheServedUnits_data()
    {
        QTest::addColumn<QString>("transport");
        QTest::newRow("tcp") << "tcp";
        QTest::newRow("udp") << "udp";
    }
    void censusFindsTheServedUnits()
    {
        QFETCH(QString, transport);
        const Run run = runCli(QStringList{"scan", "--protocol", "modbus", "--range", "0..10", "--timeout", "500"} +
                               link(transport));
        QCOMPARE(run.code, 1);
        QCOMPARE(run.records.size(), 11);
        QStringList found;
        for (const QJsonObject& r : run.records) {
            const QString verdict = r.value("verdict").toString();
            QVERIFY2(verdict == "ok" || verdict == "no-answer", qPrintable(verdict));
            if (verdict == "ok")
                found << QString::number(r.value("address").toInt());
        }
        QCOMPARE(found, (QStringList{"1", "4", "8"}));
    }

    // A datagram is not a connection: nothing says the peer is gone, and the answer that never comes
    // is a no-answer after the three tries, whether the port is held by something that keeps silent
    // or by nothing at all.
    void udpRequestNeverAnswered_data()
    {
        QTest::addColumn<bool>("mbap");
        QTest::addColumn<bool>("listener");
        QTest::newRow("Modbus TCP, a silent listener") << true << true;
        QTest::newRow("RTU frames, a silent listener") << false << true;
        QTest::newRow("Modbus TCP, nobody on the port") << true << false;
    }
    void udpRequestNeverAnswered()
    {
        QFETCH(bool, mbap);
        QFETCH(bool, listener);
        QUdpSocket silent;
        QVERIFY(silent.bind(QHostAddress::LocalHost, 0));
        const quint16 port = silent.localPort();
        if (!listener)
            silent.close();
        QStringList args{"send",      "--protocol", "modbus",    "--udp", QStringLiteral("127.0.0.1:%1").arg(port),
                         "--address", "4",          "--timeout", "150"};
        if (mbap)
            args << "--mbap";
        const Run run = runCli(args);
        QCOMPARE(run.code, 1);
        QCOMPARE(run.records.size(), 1);
        QCOMPARE(run.records[0].value("verdict").toString(), QStringLiteral("no-answer"));
        QCOMPARE(run.records[0].value("attempts").toInt(), 3);
        QVERIFY(run.records[0].value("received").toString().isEmpty());
        if (!listener)
            return;
        // Each try was one whole datagram; under MBAP each its own transaction.
        QList<QByteArray> datagrams;
        while (silent.hasPendingDatagrams()) {
            QByteArray d(silent.pendingDatagramSize(), Qt::Uninitialized);
            silent.readDatagram(d.data(), d.size());
            datagrams << d;
        }
        QCOMPARE(datagrams.size(), 3);
        QCOMPARE(datagrams.last(), bytesOf(run.records[0], "sent"));
        for (const QByteArray& d : datagrams)
            QCOMPARE(d.size(), mbap ? 12 : 8);
        if (mbap)
            QVERIFY(datagrams[0].first(2) != datagrams[1].first(2) && datagrams[1].first(2) != datagrams[2].first(2));
    }
};

QTEST_GUILESS_MAIN(TestE2eModbusPeers)
#include "tst_e2e_modbus_peers.moc"
