// The UDP link against a real socket on the loopback: one datagram per request, replies counted as
// they come, nothing of an earlier exchange carried into the next, and a peer that cannot be reached
// named in the link's notes.

#include "LinkRig.h"

#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>

using namespace tarvo;
using namespace tarvo::test;

namespace {

struct UdpRig : LinkRig {
    QUdpSocket peer;
    QHostAddress from;
    quint16 fromPort = 0;

    bool open()
    {
        if (!peer.bind(QHostAddress::LocalHost, 0))
            return false;
        serial = false;
        settings.transport = Transport::Udp;
        settings.tcpPort = QString::number(peer.localPort());
        connectLink();
        return link.isConnected();
    }
    // What the peer heard, one entry per datagram.
    QList<QByteArray> heard(int datagrams)
    {
        QList<QByteArray> got;
        const bool all = QTest::qWaitFor(
            [&] {
                while (peer.hasPendingDatagrams()) {
                    const QNetworkDatagram d = peer.receiveDatagram();
                    from = d.senderAddress();
                    fromPort = static_cast<quint16>(d.senderPort());
                    got << d.data();
                }
                return got.size() >= datagrams;
            },
            3000);
        Q_UNUSED(all); // the caller compares what came
        return got;
    }
    bool answer(const QByteArray& bytes, int32_t expectedCount)
    {
        peer.writeDatagram(bytes, from, fromPort);
        return QTest::qWaitFor([&] { return link.ArrivalCount() == expectedCount; }, 3000);
    }
};

} // namespace

class TestUdpLink : public QObject {
    Q_OBJECT
private slots:
    void requestsAndRepliesAreDatagrams()
    {
        UdpRig rig;
        QVERIFY(rig.open());
        rig.link.WriteData(QByteArray::fromHex("000100000006060200000010"));
        rig.link.WriteData(QByteArray::fromHex("0102"));
        QCOMPARE(rig.heard(2),
                 (QList<QByteArray>{QByteArray::fromHex("000100000006060200000010"), QByteArray::fromHex("0102")}));
        // Two datagrams of one reply are read together; the peek leaves them.
        QVERIFY(rig.answer(QByteArray::fromHex("0001000000"), 5));
        QVERIFY(rig.answer(QByteArray::fromHex("0506020200"), 10));
        QCOMPARE(rig.link.peekData(), QByteArray::fromHex("00010000000506020200"));
        QCOMPARE(rig.link.ReadData(), QByteArray::fromHex("00010000000506020200"));
        QCOMPARE(rig.link.ReadData(), QByteArray());
        // What came before a request is not its reply.
        QVERIFY(rig.answer(QByteArray::fromHex("AA"), 1));
        rig.link.WriteData(QByteArray::fromHex("03"));
        rig.link.CleanReceivedBuffer();
        QCOMPARE(rig.link.ArrivalCount(), 0);
        QCOMPARE(rig.link.peekData(), QByteArray());
    }

    void anUnknownHostIsNamed()
    {
        UdpRig rig;
        rig.serial = false;
        rig.settings.transport = Transport::Udp;
        rig.settings.host = QStringLiteral("tarvo-no-such-host.invalid");
        rig.settings.tcpPort = QStringLiteral("502");
        rig.connectLink();
        QVERIFY(!rig.link.isConnected());
        const QStringList notes = rig.link.takeNotes();
        QCOMPARE(notes.size(), 1);
        QVERIFY2(notes[0].startsWith("no UDP peer tarvo-no-such-host.invalid:502 ("), qPrintable(notes[0]));
    }
};

QTEST_GUILESS_MAIN(TestUdpLink)
#include "tst_udp_link.moc"
