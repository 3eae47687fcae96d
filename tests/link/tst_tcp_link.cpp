#include "LinkRig.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <vector>

using namespace tarvo;
using namespace tarvo::test;

namespace {

const QStringList kConnectLines{"Preparing TCP conncetion ", "Setting Port Number ", "Connecting TCP ",
                                "Waiting for response: "};

// A port on which nothing listens: connecting is refused at once.
quint16 closedPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

// A host that never answers: a listener that accepts nothing and whose queue is already full, so the
// system drops further connection requests without a reply.
class SilentHost {
public:
    SilentHost()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_listener, 0) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port = ntohs(address.sin_port);
        for (int i = 0; i < 4; ++i) {
            const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
            ::fcntl(filler, F_SETFL, O_NONBLOCK);
            ::connect(filler, reinterpret_cast<sockaddr*>(&address), length);
            m_fillers.push_back(filler);
        }
        QTest::qWait(50); // let the fillers take the queue
    }
    ~SilentHost()
    {
        for (int fd : m_fillers)
            ::close(fd);
        if (m_listener >= 0)
            ::close(m_listener);
    }
    SilentHost(const SilentHost&) = delete;
    SilentHost& operator=(const SilentHost&) = delete;

    quint16 port = 0;

private:
    int m_listener = -1;
    std::vector<int> m_fillers;
};

// A rig pointed at a local server that accepts.
struct ServedRig : LinkRig {
    QTcpServer server;
    std::unique_ptr<QTcpSocket> peer;

    bool connect()
    {
        if (!server.listen(QHostAddress::LocalHost))
            return false;
        serial = false;
        settings.tcpPort = QString::number(server.serverPort());
        timeOutDelay = "5000";
        connectLink();
        // The link's wait may already have taken the connection in.
        if (!server.hasPendingConnections() && !server.waitForNewConnection(3000))
            return false;
        peer.reset(server.nextPendingConnection());
        return peer != nullptr;
    }
    // Sends from the server and lets the link's data-arrival handler see it.
    bool serve(const QByteArray& bytes, int32_t expectedCount)
    {
        peer->write(bytes);
        peer->flush();
        return QTest::qWaitFor([&] { return link.ArrivalCount() == expectedCount; }, 3000);
    }
    QByteArray received(qsizetype count)
    {
        QByteArray got;
        const bool complete = QTest::qWaitFor(
            [&] {
                got += peer->readAll();
                return got.size() >= count;
            },
            3000);
        Q_UNUSED(complete); // the caller compares what came
        return got;
    }
};

} // namespace

class TestTcpLink : public QObject {
    Q_OBJECT
private slots:
    void connectReturnsOnConnection()
    {
        ServedRig rig;
        QVERIFY(rig.connect());
        QCOMPARE(rig.trace.lines, kConnectLines);
        // Long before the 5000 ms (320 passes) would have run out.
        QVERIFY2(rig.pump.passes < 320, qPrintable(QString::number(rig.pump.passes)));
    }

    void connectWaitsOutTheDelay_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::addColumn<int>("editAtPass"); // 0: TimeOutDelay stays as it is
        QTest::addColumn<int>("expectedPasses");
        // 15.625 ms per pass: 250 ms have not run out after 16 passes (exactly 250), only after 17.
        QTest::newRow("refused") << false << 0 << 17;
        QTest::newRow("silent") << true << 0 << 17;
        QTest::newRow("delay shortened to 125 during the wait") << false << 3 << 9;
        QTest::newRow("delay lengthened to 500 during the wait") << true << 3 << 33;
    }
    void connectWaitsOutTheDelay()
    {
        QFETCH(bool, silent);
        QFETCH(int, editAtPass);
        QFETCH(int, expectedPasses);
        SilentHost silentHost;
        QVERIFY(silentHost.port != 0);
        LinkRig rig;
        rig.serial = false;
        rig.settings.tcpPort = QString::number(silent ? silentHost.port : closedPort());
        rig.timeOutDelay = "250";
        if (editAtPass) {
            const QString edited = expectedPasses < 17 ? "125" : "500";
            rig.pump.onPass = [&rig, edited, editAtPass](int pass) {
                if (pass == editAtPass)
                    rig.timeOutDelay = edited;
            };
        }
        rig.connectLink();
        QCOMPARE(rig.trace.lines, kConnectLines); // no failure line
        QCOMPARE(rig.pump.passes, expectedPasses);
        // ...but the reason goes with the notes, for the journal and the command line.
        QCOMPARE(rig.link.takeNotes(),
                 QStringList{"no connection to 127.0.0.1:" + rig.settings.tcpPort +
                             (silent ? " (no answer before the time-out)" : " (Connection refused)")});
        QCOMPARE(rig.link.takeNotes(), QStringList());
    }

    void connectFailures_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("delay");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("passes");
        const QStringList toPort = kConnectLines.mid(0, 2);
        QTest::newRow("port not a number") << "http"
                                           << "200" << (toPort + QStringList{"Connect:: Error : Type mismatch"}) << 0;
        QTest::newRow("port beyond 65535")
            << "65536"
            << "200" << (toPort + QStringList{"Connect:: Error : Invalid procedure call or argument"}) << 0;
        QTest::newRow("delay not a number: one pass")
            << "1"
            << "soon" << (kConnectLines + QStringList{"Connect:: Error : Type mismatch"}) << 1;
    }
    void connectFailures()
    {
        QFETCH(QString, port);
        QFETCH(QString, delay);
        QFETCH(QStringList, lines);
        QFETCH(int, passes);
        LinkRig rig;
        rig.serial = false;
        rig.settings.tcpPort = port;
        rig.timeOutDelay = delay;
        rig.connectLink();
        QCOMPARE(rig.trace.lines, lines);
        QCOMPARE(rig.pump.passes, passes);
    }

    void connectWhileConnectingFailsWithoutWaiting()
    {
        SilentHost silentHost;
        QVERIFY(silentHost.port != 0);
        LinkRig rig;
        rig.serial = false;
        rig.settings.tcpPort = QString::number(silentHost.port);
        rig.timeOutDelay = "50";
        rig.connectLink(); // gives up waiting; the attempt goes on
        rig.trace.lines.clear();
        rig.pump.passes = 0;
        rig.connectLink();
        QCOMPARE(rig.trace.lines.size(), 4);
        QCOMPARE(rig.trace.lines.mid(0, 3), kConnectLines.mid(0, 3));
        QVERIFY(rig.trace.lines[3].startsWith("Connect:: Error : "));
        QCOMPARE(rig.pump.passes, 0);

        // Disconnect ends the attempt, so the next Connect may start one.
        rig.link.Disconnect();
        rig.trace.lines.clear();
        rig.connectLink();
        QCOMPARE(rig.trace.lines, kConnectLines);
    }

    void arrivalCountAndReads()
    {
        ServedRig rig;
        QVERIFY(rig.connect());
        QVERIFY(rig.serve("old", 3)); // a late reply to an earlier request

        rig.link.WriteData("request");
        QCOMPARE(rig.link.ArrivalCount(), 0);
        QCOMPARE(rig.received(7), QByteArray("request"));
        rig.link.CleanReceivedBuffer(); // drops "old"
        QCOMPARE(rig.link.ArrivalCount(), 0);

        QVERIFY(rig.serve("ABCDEFG", 7));
        QCOMPARE(rig.link.ReceivedBufferCount(), int16_t(0)); // never counted on TCP
        QVERIFY(rig.serve("HIJ", 10));                        // the count is what the socket holds, not the last piece

        // A read takes what the last arrival announced, and nothing more until the next arrival.
        QCOMPARE(rig.link.ReadData(), QByteArray("ABCDEFGHIJ"));
        QCOMPARE(rig.link.ReadData(), QByteArray());
        QVERIFY(rig.serve("KL", 2));
        QCOMPARE(rig.link.ReadData(), QByteArray("KL"));
        // Listening over TCP: once counted bytes are taken the count is cleared, and bytes that were
        // not announced are not taken.
        rig.link.ClearArrivalCount();
        QVERIFY(rig.serve("M", 1));
        rig.link.ClearArrivalCount();
        QCOMPARE(rig.link.ReadData(), QByteArray());

        rig.link.Disconnect();
        QCOMPARE(rig.trace.lines, kConnectLines);
    }

    // A peer that goes away under a running cycle: the link says when, tries again at every write
    // until the peer is back, and says after how long.
    void droppedConnectionIsMadeAgainUntilItIsBack()
    {
        ServedRig rig;
        QVERIFY(rig.connect());
        const quint16 port = rig.server.serverPort();
        const QString peer = QRegularExpression::escape("127.0.0.1:" + QString::number(port));
        const QString time = "\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d";
        rig.server.close();
        rig.peer->abort(); // a gateway resets the connection
        QTRY_VERIFY(rig.trace.lines.size() > kConnectLines.size());
        QVERIFY2(QRegularExpression("^Link lost at " + time + ": " + peer + " \\(.+\\)$")
                     .match(rig.trace.lines.last())
                     .hasMatch(),
                 qPrintable(rig.trace.lines.last()));

        rig.timeOutDelay = "100";
        rig.trace.lines.clear();
        rig.link.WriteData("a"); // nobody listens: refused
        QCOMPARE(rig.trace.lines, QStringList{"Link lost: connecting again"} + kConnectLines);
        QVERIFY(rig.server.listen(QHostAddress::LocalHost, port));
        rig.trace.lines.clear();
        rig.link.WriteData("b");
        QCOMPARE(rig.trace.lines.mid(0, 5), QStringList{"Link lost: connecting again (try 2)"} + kConnectLines);
        QVERIFY2(QRegularExpression("^Link lost at " + time + ", back after \\d+\\.\\d s \\(2 tries\\): " + peer + "$")
                     .match(rig.trace.lines.value(5))
                     .hasMatch(),
                 qPrintable(rig.trace.lines.join('\n')));
        QVERIFY(rig.server.hasPendingConnections() || rig.server.waitForNewConnection(3000));
        rig.peer.reset(rig.server.nextPendingConnection());
        QCOMPARE(rig.received(1), QByteArray("b"));
        const QString notes = rig.link.takeNotes().join('\n');
        QVERIFY2(notes.contains("connecting again (try 1)\ntry 1 failed: no connection to 127.0.0.1:") &&
                     notes.contains("\nlink back after "),
                 qPrintable(notes));
        QCOMPARE(rig.link.takeNotes(), QStringList());
    }

    void failuresAfterTheLinkChoiceAreSilent()
    {
        LinkRig rig;
        rig.serial = false;
        rig.link.WriteData("lost");           // nothing is connected
        QCOMPARE(rig.link.ArrivalCount(), 0); // reset even though the send failed
        QCOMPARE(rig.link.ReadData(), QByteArray());
        rig.link.CleanReceivedBuffer();
        QCOMPARE(rig.link.ReceivedBufferCount(), int16_t(0));
        rig.link.SetBaudRate("9600");
        rig.link.Disconnect();
        QCOMPARE(rig.trace.lines, QStringList());
    }
};

QTEST_MAIN(TestTcpLink)
#include "tst_tcp_link.moc"
