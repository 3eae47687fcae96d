// Modbus TCP frames: the frame an RTU request goes out as, and where a frame ends in a stream that
// may hold half a header, a whole frame and the start of the next, or bytes that are no header at all.

#include "Explain.h"
#include "Mbap.h"

#include <QTest>

using namespace tarvo;

namespace {
QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}
} // namespace

class TestMbap : public QObject {
    Q_OBJECT
private slots:
    void fromRtu_data()
    {
        QTest::addColumn<QByteArray>("rtu");
        QTest::addColumn<int>("transaction");
        QTest::addColumn<QByteArray>("mbap");
        QTest::newRow("read of 2 registers") << hex("010300000002C40B") << 1 << hex("000100000006010300000002");
        QTest::newRow("transaction high byte first, unit 247")
            << appendCheck(CheckKind::Crc16Modbus, hex("F70400100001")) << 0x1234 << hex("1234000000 06F70400100001");
        QTest::newRow("last transaction before it wraps")
            << appendCheck(CheckKind::Crc16Modbus, hex("0207")) << 0xFFFF << hex("FFFF00000002 0207");
        // A frame the operator typed too short for a CRC still goes out with what it holds.
        QTest::newRow("two bytes, no CRC to drop") << hex("0103") << 1 << hex("000100000002 0103");
        QTest::newRow("an address and a CRC") << hex("01AABB") << 1 << hex("000100000001 01");
        QTest::newRow("nothing") << QByteArray() << 1 << hex("000100000001 00");
    }
    void fromRtu()
    {
        QFETCH(QByteArray, rtu);
        QFETCH(int, transaction);
        QFETCH(QByteArray, mbap);
        const QByteArray frame = mbap::fromRtu(rtu, static_cast<uint16_t>(transaction));
        QCOMPARE(frame, mbap);
        QCOMPARE(int(mbap::transaction(frame)), transaction);
        QCOMPARE(int(mbap::protocolId(frame)), 0);
        QCOMPARE(qsizetype(mbap::length(frame)), frame.size() - 6);
        QCOMPARE(qsizetype(mbap::frameLength(frame)), frame.size());
        QCOMPARE(mbap::pdu(frame).toByteArray(), frame.mid(7));
    }

    // 0: wait for more; -1: no Modbus TCP header; else the first frame's length, however many bytes
    // come after it.
    void frameLength_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("length");
        const QByteArray reply = hex("00010000000706040400050001");
        QTest::newRow("a whole reply") << reply << 13;
        QTest::newRow("and the start of the next") << reply + hex("000200") << 13;
        QTest::newRow("nothing yet") << QByteArray() << 0;
        QTest::newRow("half a transaction id") << reply.left(1) << 0;
        QTest::newRow("protocol id 0 so far") << reply.left(4) << 0;
        QTest::newRow("the length known, the unit id not") << reply.left(6) << 0;
        QTest::newRow("the header, not the PDU") << reply.left(7) << 0;
        QTest::newRow("one byte missing") << reply.chopped(1) << 0;
        // Found out as soon as the protocol id has come, without waiting for a length.
        QTest::newRow("protocol id 1") << hex("00010001") << -1;
        QTest::newRow("an RTU reply") << appendCheck(CheckKind::Crc16Modbus, hex("0604040005000501")) << -1;
        QTest::newRow("length 0") << hex("000100000000") << -1;
        QTest::newRow("length 255") << hex("0001000000FF") << -1;
        QTest::newRow("length 254, the largest") << hex("0001000000FE") + QByteArray(254, '\x01') + hex("00") << 260;
    }
    void frameLength()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, length);
        QCOMPARE(mbap::frameLength(bytes), length);
        // Exactly one frame, and a function in it: what a tool that is not told may take for one.
        QCOMPARE(mbap::looksLikeFrame(bytes), length == bytes.size() && length > 0);
    }

    // A guess is only a guess: the commonest RTU request of all is a Modbus TCP frame as well (its
    // start 0000 a protocol id, its count 2 the CRC's length), which is why the explainer and the
    // check are told the framing rather than left to guess it.
    void anRtuFrameCanPassForOne()
    {
        const QByteArray rtu = hex("010300000002C40B");
        QVERIFY(mbap::looksLikeFrame(rtu));
        QCOMPARE(explainFrame(Protocol::Modbus, rtu).verdict, CheckVerdict::Ok);
        QCOMPARE(explainFrame(Protocol::Modbus, rtu, false, {}, true).verdict, CheckVerdict::Ok);
        QVERIFY(!mbap::looksLikeFrame(appendCheck(CheckKind::Crc16Modbus, hex("010300000003"))));
    }
};

QTEST_APPLESS_MAIN(TestMbap)
#include "tst_mbap.moc"
