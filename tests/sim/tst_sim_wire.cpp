// tarvo-sim as a program: its command line, its signals, its pseudo-terminal, and every fault mode
// as it shows on a TCP connection. Frames are built with the console's own request functions.

#include "Conversions.h"
#include "Crc.h"
#include "Framing.h"
#include "Requests.h"
#include "SimMemory.h"
#include "SimProcess.h"
#include "TarvoVersion.h"

#include <QFileInfo>
#include <QTcpSocket>
#include <QTemporaryDir>
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

    std::unique_ptr<SimProcess> m_sim; // Protocol 4 with a fault mode on each of 10..16

    QTcpSocket* connectSim()
    {
        auto* s = new QTcpSocket(this);
        s->connectToHost(QStringLiteral("127.0.0.1"), m_sim->tcpPort);
        if (!s->waitForConnected(3000))
            qWarning() << "no connection";
        return s;
    }

private slots:
    void initTestCase()
    {
        m_sim = std::make_unique<SimProcess>(QStringList{
            "--tcp", "127.0.0.1:0", "--fault", "10:silent", "--fault", "11:from=2", "--fault", "12:badcheck", "--fault",
            "13:trickle=30", "--fault", "14:partial=5", "--fault", "15:delay=1000", "--fault", "16:drop=1"});
        QVERIFY(m_sim->tcpPort != 0);
    }

    void cleanupTestCase() { QCOMPARE(m_sim->stop(SIGTERM), 0); }

    void helpAndVersion_data()
    {
        QTest::addColumn<QString>("arg");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("--help") << "--help" << QStringList{"CONSOLE ADDRESSES", "mbpoll", "--version"};
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

    void busyPortIsAOneLineError()
    {
        QProcess p;
        p.start(QStringLiteral(TARVO_SIM_PATH), {"--tcp", QStringLiteral("127.0.0.1:%1").arg(m_sim->tcpPort)});
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
};

QTEST_GUILESS_MAIN(TestSimWire)
#include "tst_sim_wire.moc"
