// tarvo-sim as a program: its command line, its signals, its pseudo-terminal, every fault mode as it
// shows on a TCP connection and in UDP datagrams, and Modbus TCP on both. Frames are built with the
// console's own request functions.

#include "Conversions.h"
#include "Crc.h"
#include "Framing.h"
#include "Requests.h"
#include "SimCore.h"
#include "SimLog.h"
#include "SimMemory.h"
#include "SimProcess.h"
#include "TarvoVersion.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace tarvo;
using tarvo::test::SimProcess;

namespace {

QByteArray p4Frame(const QString& address, const QString& function)
{
    RequestSettings s;
    s.protocol = Protocol::Protocol4;
    s.address = address;
    const FixedRequest r = fixedRequest(function, address, QStringLiteral("01"), true);
    return frameToBytes(frameRequest(r.text, s));
}

QByteArray p4Command(const QString& address, const QString& line)
{
    RequestSettings s;
    s.protocol = Protocol::Protocol4;
    s.address = address;
    return frameToBytes(frameRequest(commandRequestText(*commandLine(line, s), s), s));
}

bool checkPasses(const QByteArray& reply)
{
    const QString t = ByteArrayToHex(reply, false);
    return t.mid(t.size() - 9, 2) + t.mid(t.size() - 6, 2) == CrcCcitt(ByteArrayToHex(reply, true));
}

// Everything that arrives until the line stays quiet for quietMs; the number of separate arrivals too.
QByteArray collect(QTcpSocket& s, int quietMs, int* arrivals = nullptr, int firstWaitMs = 3000)
{
    QByteArray got;
    int count = 0;
    if (s.bytesAvailable() == 0 && !s.waitForReadyRead(firstWaitMs))
        return got;
    do {
        got += s.readAll();
        ++count;
    } while (s.waitForReadyRead(quietMs));
    if (arrivals)
        *arrivals = count;
    return got;
}

// The datagrams that come back to a fresh socket for one datagram sent, until quietMs pass without one.
QList<QByteArray> udpExchange(quint16 port, const QByteArray& datagram, int quietMs = 150, int firstWaitMs = 3000)
{
    QUdpSocket s;
    s.bind(QHostAddress::LocalHost, 0);
    s.writeDatagram(datagram, QHostAddress::LocalHost, port);
    QList<QByteArray> got;
    if (!s.waitForReadyRead(firstWaitMs))
        return got;
    do {
        while (s.hasPendingDatagrams())
            got << s.receiveDatagram().data();
    } while (s.waitForReadyRead(quietMs));
    return got;
}

QByteArray hex(const QString& text)
{
    return QByteArray::fromHex(text.toLatin1());
}

QByteArray ptyExchange(const QString& path, const QByteArray& frame)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return {};
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    t.c_cflag |= CSTOPB;
    tcsetattr(fd, TCSANOW, &t);
    [[maybe_unused]] const ssize_t w = ::write(fd, frame.constData(), static_cast<size_t>(frame.size()));
    QByteArray got;
    pollfd p{fd, POLLIN, 0};
    int wait = 3000;
    while (::poll(&p, 1, wait) > 0) {
        char buf[512];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, n);
        wait = 200;
    }
    ::close(fd);
    return got;
}

} // namespace

class TestSimWire : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<SimProcess> m_sim;  // Protocol 4 on TCP and UDP with a fault mode on each of 10..16
    std::unique_ptr<SimProcess> m_mbap; // Modbus TCP on TCP and UDP, console addresses 0..10, faults on 3..7

    QTcpSocket* connectSim(quint16 port = 0)
    {
        auto* s = new QTcpSocket(this);
        s->connectToHost(QStringLiteral("127.0.0.1"), port ? port : m_sim->tcpPort);
        if (!s->waitForConnected(3000))
            qWarning() << "no connection";
        return s;
    }

    QString simLog() const { return m_dir.filePath(QStringLiteral("sim.log")); }
    QString mbapLog() const { return m_dir.filePath(QStringLiteral("mbap.log")); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_sim = std::make_unique<SimProcess>(QStringList{
            "--tcp",     "127.0.0.1:0",  "--udp",     "127.0.0.1:0",   "--log",       simLog(),   "--fault",
            "10:silent", "--fault",      "11:from=2", "--fault",       "12:badcheck", "--fault",  "13:trickle=30",
            "--fault",   "14:partial=5", "--fault",   "15:delay=1000", "--fault",     "16:drop=1"});
        QVERIFY(m_sim->tcpPort != 0);
        QVERIFY(m_sim->udpPort != 0);
        m_mbap = std::make_unique<SimProcess>(QStringList{
            "--protocol",  "modbus",  "--mbap",       "--tcp",   "127.0.0.1:0", "--udp",          "127.0.0.1:0",
            "--addresses", "0-10",    "--log",        mbapLog(), "--fault",     "3:exception=02", "--fault",
            "4:badcheck",  "--fault", "5:trickle=30", "--fault", "6:drop=1",    "--fault",        "7:partial=5"});
        QVERIFY(m_mbap->tcpPort != 0);
        QVERIFY(m_mbap->udpPort != 0);
    }

    void cleanupTestCase()
    {
        QCOMPARE(m_sim->stop(SIGTERM), 0);
        QCOMPARE(m_mbap->stop(SIGTERM), 0);
    }

    void helpAndVersion_data()
    {
        QTest::addColumn<QString>("arg");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("--help") << "--help"
                                << QStringList{"CONSOLE ADDRESSES", "mbpoll", "--version", "--udp", "--mbap",
                                               "exception=NN"};
        // The same version as the console's, from the project's one version.
        QTest::newRow("--version") << "--version" << QStringList{QStringLiteral("tarvo-sim " TARVO_VERSION "\n")};
    }

    void helpAndVersion()
    {
        QFETCH(QString, arg);
        QFETCH(QStringList, expected);
        QProcess p;
        p.start(QStringLiteral(TARVO_SIM_PATH), {arg});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 0);
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        for (const QString& text : expected)
            QVERIFY2(out.contains(text), qPrintable(text));
    }

    void badOption_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("unknown") << QStringList{"--bogus"};
        QTest::newRow("bad fault") << QStringList{"--fault", "3:explode"};
        QTest::newRow("bad speed") << QStringList{"--serial", "--speed", "12345"};
        QTest::newRow("mbap under p4") << QStringList{"--mbap", "--tcp", "127.0.0.1:0"};
        QTest::newRow("exception under p4") << QStringList{"--tcp", "127.0.0.1:0", "--fault", "3:exception=02"};
    }

    void badOption()
    {
        QFETCH(QStringList, args);
        QProcess p;
        p.start(QStringLiteral(TARVO_SIM_PATH), args);
        QVERIFY(p.waitForFinished(5000));
        QVERIFY(p.exitCode() != 0);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(err.startsWith(QLatin1String("tarvo-sim: ")), qPrintable(err));
        QCOMPARE(err.count(QLatin1Char('\n')), 1);
    }

    void busyPortIsAOneLineError_data()
    {
        QTest::addColumn<QString>("option");
        QTest::newRow("tcp") << "--tcp";
        QTest::newRow("udp") << "--udp";
    }

    void busyPortIsAOneLineError()
    {
        QFETCH(QString, option);
        const quint16 port = option == QLatin1String("--tcp") ? m_sim->tcpPort : m_sim->udpPort;
        QProcess p;
        p.start(QStringLiteral(TARVO_SIM_PATH), {option, QStringLiteral("127.0.0.1:%1").arg(port)});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 1);
        QCOMPARE(QString::fromLocal8Bit(p.readAllStandardError()).count(QLatin1Char('\n')), 1);
    }

    void signalsEndCleanly_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
    }

    void signalsEndCleanly()
    {
        QFETCH(int, signal);
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("ttySIM"));
        SimProcess sim({"--link", link});
        QVERIFY(!sim.ptyPath.isEmpty());
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.ptyPath);
        QCOMPARE(sim.stop(signal), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(sim.output.contains(QStringLiteral("tarvo-sim: stopped")));
    }

    void ptySurvivesTheConsoleReopeningIt()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("ttySIM"));
        SimProcess sim({"--link", link, "--protocol", "p4"});
        QVERIFY(!sim.ptyPath.isEmpty());
        // The console closes and reopens the port for every slot.
        for (int slot = 0; slot < 3; ++slot) {
            const QByteArray r = ptyExchange(link, p4Frame(QString::number(slot), fn::ReadInput));
            QCOMPARE(r.size(), 8);
            QCOMPARE(static_cast<int>(static_cast<unsigned char>(r[0])), slot + 1);
            QVERIFY(checkPasses(r));
        }
        const QByteArray mem =
            ptyExchange(sim.ptyPath, p4Command(QStringLiteral("2"), QStringLiteral("72 01 1E2C C0")));
        QCOMPARE(mem.size(), 199);
        QCOMPARE(mem.mid(4, 192), sim::memoryBytes(2, 1, 0x1E2C, 192));
    }

    void tcpAnswersBackToBackFramesAndSeveralClients()
    {
        std::unique_ptr<QTcpSocket> a(connectSim());
        std::unique_ptr<QTcpSocket> b(connectSim());
        a->write(p4Frame(QStringLiteral("1"), fn::ReadInput) + p4Frame(QStringLiteral("2"), fn::ReadBuffer100));
        const QByteArray r = collect(*a, 300);
        QCOMPARE(r.size(), 8 + 18);
        QVERIFY(checkPasses(r.left(8)));
        QVERIFY(checkPasses(r.mid(8)));
        b->write(p4Command(QStringLiteral("3"), QStringLiteral("73")));
        QCOMPARE(collect(*b, 300).size(), 13);
    }

    void tcpIgnoresBadCheckAndOtherAddresses()
    {
        std::unique_ptr<QTcpSocket> s(connectSim());
        QByteArray bad = p4Frame(QStringLiteral("1"), fn::ReadInput);
        bad[3] = static_cast<char>(bad[3] ^ 0x40);
        s->write(bad);
        QVERIFY(collect(*s, 100, nullptr, 400).isEmpty());
        s->write(p4Frame(QStringLiteral("254"), fn::ReadInput)); // served: 0..254 by default
        QCOMPARE(collect(*s, 200).size(), 8);
    }

    // ---- one test per fault mode, as it shows on the wire

    void faultSilent()
    {
        std::unique_ptr<QTcpSocket> s(connectSim());
        s->write(p4Frame(QStringLiteral("10"), fn::ReadInput));
        QVERIFY(collect(*s, 100, nullptr, 500).isEmpty());
    }

    void faultAnswerFromSecondAttempt()
    {
        std::unique_ptr<QTcpSocket> s(connectSim());
        const QByteArray f = p4Frame(QStringLiteral("11"), fn::ReadInput);
        s->write(f);
        QVERIFY(collect(*s, 100, nullptr, 500).isEmpty()); // first send: nothing
        s->write(f);
        const QByteArray r = collect(*s, 200); // second send: answered
        QCOMPARE(r.size(), 8);
        QVERIFY(checkPasses(r));
    }

    void faultBadCheck()
    {
        std::unique_ptr<QTcpSocket> s(connectSim());
        s->write(p4Frame(QStringLiteral("12"), fn::ReadBuffer100));
        const QByteArray r = collect(*s, 200);
        QCOMPARE(r.size(), 18);
        QVERIFY(!checkPasses(r));
    }

    void faultTrickle()
    {
        std::unique_ptr<QTcpSocket> s(connectSim());
        s->write(p4Frame(QStringLiteral("13"), fn::ReadInput));
        int arrivals = 0;
        const QByteArray r = collect(*s, 500, &arrivals);
        QCOMPARE(r.size(), 8);
        QVERIFY(checkPasses(r));
        QVERIFY2(arrivals > 1, "the reply came in one piece");
    }

    void faultPartial()
    {
        std::unique_ptr<QTcpSocket> s(connectSim());
        s->write(p4Frame(QStringLiteral("14"), fn::ReadBuffer100));
        QCOMPARE(collect(*s, 300).size(), 5); // not more than the ReadBuffer threshold 16
    }

    void faultDelay()
    {
        std::unique_ptr<QTcpSocket> s(connectSim());
        s->write(p4Frame(QStringLiteral("15"), fn::ReadInput));
        QVERIFY(!s->waitForReadyRead(200)); // the reply is held back for 1000 ms
        QCOMPARE(collect(*s, 200, nullptr, 5000).size(), 8);
    }

    void faultDropConnection()
    {
        std::unique_ptr<QTcpSocket> s(connectSim());
        const QByteArray f = p4Frame(QStringLiteral("16"), fn::ReadInput);
        s->write(f);
        QCOMPARE(collect(*s, 200).size(), 8); // drop=1: the first frame is answered
        s->write(f);
        QVERIFY(s->state() == QAbstractSocket::UnconnectedState || s->waitForDisconnected(3000));
        QVERIFY(s->readAll().isEmpty());
        std::unique_ptr<QTcpSocket> again(connectSim()); // the next connection is served again
        again->write(f);
        QCOMPARE(collect(*again, 200).size(), 8);
    }

    // ---- UDP: one request per datagram, the reply in one datagram, the same faults

    void udpDatagrams_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("command"); // empty: Read Input
        QTest::addColumn<int>("size");        // of the one reply datagram; 0: no reply
        QTest::addColumn<bool>("passes");
        QTest::newRow("read input") << "1"
                                    << "" << 8 << true;
        QTest::newRow("memory read of 192 bytes") << "2"
                                                  << "72 01 1E2C C0" << 199 << true;
        QTest::newRow("silent") << "10"
                                << "" << 0 << false;
        QTest::newRow("badcheck") << "12"
                                  << "" << 8 << false;
        QTest::newRow("trickle: still one datagram") << "13"
                                                     << "" << 8 << true;
        QTest::newRow("partial=5") << "14"
                                   << "" << 5 << false;
        QTest::newRow("drop: no connection to drop") << "16"
                                                     << "" << 8 << true;
    }

    void udpDatagrams()
    {
        QFETCH(QString, address);
        QFETCH(QString, command);
        QFETCH(int, size);
        QFETCH(bool, passes);
        const QByteArray request = command.isEmpty() ? p4Frame(address, fn::ReadInput) : p4Command(address, command);
        for (int round = 0; round < 2; ++round) { // drop=1 would close a connection at the second
            const QList<QByteArray> got = udpExchange(m_sim->udpPort, request, 150, size ? 3000 : 500);
            if (size == 0) {
                QVERIFY(got.isEmpty());
                continue;
            }
            QCOMPARE(got.size(), 1);
            QCOMPARE(got[0].size(), size);
            if (size > 5)
                QCOMPARE(checkPasses(got[0]), passes);
        }
    }

    void udpFromAndDelay()
    {
        const QByteArray f = p4Frame(QStringLiteral("11"), fn::ReadInput);
        QVERIFY(udpExchange(m_sim->udpPort, f, 100, 500).isEmpty()); // from=2: the first is ignored
        QCOMPARE(udpExchange(m_sim->udpPort, f).value(0).size(), 8);
        QElapsedTimer t;
        t.start();
        QCOMPARE(udpExchange(m_sim->udpPort, p4Frame(QStringLiteral("15"), fn::ReadInput), 200, 5000).value(0).size(),
                 8);
        QVERIFY2(t.elapsed() >= 900, "delay=1000 came early");
    }

    void udpAnswersEachSenderAndLogsIt()
    {
        QUdpSocket a;
        QUdpSocket b;
        QVERIFY(a.bind(QHostAddress::LocalHost, 0) && b.bind(QHostAddress::LocalHost, 0));
        const QByteArray fa = p4Frame(QStringLiteral("3"), fn::ReadInput);
        const QByteArray fb = p4Frame(QStringLiteral("4"), fn::ReadInput);
        a.writeDatagram(fa, QHostAddress::LocalHost, m_sim->udpPort);
        b.writeDatagram(fb, QHostAddress::LocalHost, m_sim->udpPort);
        for (auto [socket, wire] : {std::pair{&a, 4}, std::pair{&b, 5}}) {
            QVERIFY(socket->hasPendingDatagrams() || socket->waitForReadyRead(3000));
            const QNetworkDatagram d = socket->receiveDatagram();
            QCOMPARE(static_cast<unsigned char>(d.data().at(0)), wire);
            QCOMPARE(d.senderPort(), m_sim->udpPort);
        }
        // The log names the sender and holds the bytes as they went.
        QTRY_VERIFY(tarvo::test::simLogFrames(simLog()).contains(QStringLiteral("rx ") + sim::hexBytes(fb)));
        const QString log = QString::fromLatin1(tarvo::test::fileContent(simLog()));
        QVERIFY(log.contains(QStringLiteral("datagrams from 127.0.0.1:%1").arg(a.localPort())));
        QVERIFY(log.contains(QStringLiteral("datagrams from 127.0.0.1:%1").arg(b.localPort())));
    }

    // ---- Modbus TCP, on a connection and in datagrams

    void mbap_data()
    {
        QTest::addColumn<bool>("udp");
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("reply"); // empty: none
        QTest::addColumn<bool>("trickled");
        for (const bool udp : {false, true}) {
            const char* t = udp ? "udp" : "tcp";
            // Unit 3 is console address 2: holding registers 100, 101 are 200 + 100, 200 + 101.
            QTest::addRow("%s holding registers", t) << udp << "1234 0000 0006 03 03 0064 0002"
                                                     << "1234 0000 0007 03 03 04 012C 012D" << false;
            QTest::addRow("%s input registers", t) << udp << "0001 0000 0006 0B 04 0000 0002"
                                                   << "0001 0000 0007 0B 04 04 0A00 0A01" << false;
            QTest::addRow("%s past register 1023", t) << udp << "0002 0000 0006 03 03 03FC 0008"
                                                      << "0002 0000 0003 03 83 02" << false;
            QTest::addRow("%s unit not served", t) << udp << "0003 0000 0006 0C 03 0000 0001"
                                                   << "" << false;
            QTest::addRow("%s fault exception=02", t) << udp << "0004 0000 0006 04 04 0000 0001"
                                                      << "0004 0000 0003 04 84 02" << false;
            QTest::addRow("%s fault badcheck", t) << udp << "0005 0000 0006 05 03 0000 0001"
                                                  << "0005 0000 0006 05 03 02 0190" << false;
            QTest::addRow("%s fault trickle", t) << udp << "0006 0000 0006 06 03 0000 0001"
                                                 << "0006 0000 0005 06 03 02 01F4" << true;
            QTest::addRow("%s fault partial=5", t) << udp << "0007 0000 0006 08 03 0000 0001"
                                                   << "0007 0000 00" << false;
        }
    }

    void mbap()
    {
        QFETCH(bool, udp);
        QFETCH(QString, request);
        QFETCH(QString, reply);
        QFETCH(bool, trickled);
        if (udp) {
            const QList<QByteArray> got = udpExchange(m_mbap->udpPort, hex(request), 150, reply.isEmpty() ? 500 : 3000);
            QCOMPARE(got.size(), reply.isEmpty() ? 0 : 1); // trickled or not, one datagram
            QCOMPARE(got.value(0), hex(reply));
            return;
        }
        std::unique_ptr<QTcpSocket> s(connectSim(m_mbap->tcpPort));
        s->write(hex(request));
        int arrivals = 0;
        QCOMPARE(collect(*s, trickled ? 500 : 200, &arrivals, reply.isEmpty() ? 500 : 3000), hex(reply));
        if (trickled)
            QVERIFY2(arrivals > 1, "the reply came in one piece");
    }

    void mbapJoinsAndSplitsTcpSegments()
    {
        std::unique_ptr<QTcpSocket> s(connectSim(m_mbap->tcpPort));
        // One request in two segments further apart than the gap that ends an RTU frame.
        const QByteArray request = hex("0011 0000 0006 03 03 0064 0001");
        s->write(request.left(5));
        QVERIFY(s->waitForBytesWritten(1000));
        QVERIFY(!s->waitForReadyRead(150));
        s->write(request.mid(5));
        QCOMPARE(collect(*s, 200), hex("0011 0000 0005 03 03 02 012C"));
        // Two requests and the start of a third in one segment, the rest of it in the next.
        s->write(hex("0012 0000 0006 03 03 0000 0001  0013 0000 0006 03 03 0001 0001  0014 0000"));
        s->write(hex("0006 03 03 0002 0001"));
        QCOMPARE(collect(*s, 200), hex("0012 0000 0005 03 03 02 00C8  0013 0000 0005 03 03 02 00C9"
                                       "0014 0000 0005 03 03 02 00CA"));
        // A bad header: logged, and the request after it in the same segment dropped with it.
        s->write(hex("0015 0001 0006 03 03 0000 0001  0016 0000 0006 03 03 0000 0001"));
        QVERIFY(collect(*s, 100, nullptr, 500).isEmpty());
        s->write(hex("0017 0000 0006 03 03 0000 0001"));
        QCOMPARE(collect(*s, 200), hex("0017 0000 0005 03 03 02 00C8"));
        QVERIFY(s->state() == QAbstractSocket::ConnectedState);
        // The log holds the bytes on the wire, header included.
        const QStringList frames = tarvo::test::simLogFrames(mbapLog());
        QVERIFY(frames.contains(QStringLiteral("rx 00 11 00 00 00 06 03 03 00 64 00 01")));
        QVERIFY(frames.contains(QStringLiteral("tx 00 11 00 00 00 05 03 03 02 01 2C")));
        QVERIFY(frames.contains(
            QStringLiteral("rx 00 15 00 01 00 06 03 03 00 00 00 01 00 16 00 00 00 06 03 03 00 00 00 01")));
        QVERIFY(QString::fromLatin1(tarvo::test::fileContent(mbapLog())).contains(QLatin1String("protocol id 0001")));
    }

    void mbapDrop()
    {
        const QByteArray f = hex("0001 0000 0006 07 03 0000 0001");
        std::unique_ptr<QTcpSocket> s(connectSim(m_mbap->tcpPort));
        s->write(f);
        QCOMPARE(collect(*s, 200).size(), 11); // drop=1: the first frame is answered
        s->write(f);
        QVERIFY(s->state() == QAbstractSocket::UnconnectedState || s->waitForDisconnected(3000));
        for (int i = 0; i < 2; ++i) // no connection to drop over UDP
            QCOMPARE(udpExchange(m_mbap->udpPort, f).value(0).size(), 11);
    }
};

QTEST_GUILESS_MAIN(TestSimWire)
#include "tst_sim_wire.moc"
