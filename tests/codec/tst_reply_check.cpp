// What a report makes of a reply: every check its framing carries, whatever the console's own
// indicator makes of it.

#include "Explain.h"
#include "Mbap.h"
#include "Replies.h"
#include "ReplyCheck.h"

#include <QTest>

using namespace tarvo;
using namespace tarvo::test;

namespace {
QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}
const QByteArray kP4Request = appendCheck(CheckKind::Crc16XmodemWithEnd, hex("090200000010"));
const QByteArray kP4Reply = p4Reply(hex("0902020049"));
const QByteArray kModbusRequest = appendCheck(CheckKind::Crc16Modbus, hex("090400000002"));
const QByteArray kModbusReply = appendCheck(CheckKind::Crc16Modbus, hex("0904040001000A"));
const QByteArray kAck = appendCheck(CheckKind::NegatedSum, hex("007000100010") + QByteArray(4, '\0'));
const QByteArray kResponse = appendCheck(CheckKind::NegatedSum, hex("007000102010ABCD") + QByteArray(4, '\0'));
const QByteArray kMbapRequest = mbap::fromRtu(kModbusRequest, 1);
const QByteArray kMbapReply = mbap::fromRtu(kModbusReply, 1);
} // namespace

class TestReplyCheck : public QObject {
    Q_OBJECT
private slots:
    void judgement_data()
    {
        QTest::addColumn<Protocol>("protocol");
        QTest::addColumn<bool>("mbap"); // in a Modbus TCP frame
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<bool>("commandLine");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("result"); // ok, bad, exception, unchecked
        QTest::addColumn<QString>("detail");
        using P = Protocol;
        QByteArray badP4 = kP4Reply;
        badP4[4] = '\x48';
        QByteArray badModbus = kModbusReply;
        badModbus[3] = '\x02';
        QByteArray badResponse = kResponse;
        badResponse[9] = '\x11';
        QTest::newRow("P4 reply") << P::Protocol4 << false << kP4Request << false << kP4Reply << "ok"
                                  << "";
        QTest::newRow("P4 check value") << P::Protocol4 << false << kP4Request << false << badP4 << "bad"
                                        << "CRC-16/XMODEM carried ";
        QTest::newRow("P4 two bytes: too short, and someone else's")
            << P::Protocol4 << false << kP4Request << false << hex("0302") << "bad"
            << "too short; address 03 is not the request's 09: bytes of an earlier exchange?";
        QTest::newRow("P4 count over the length")
            << P::Protocol4 << false << kP4Request << false << p4Reply(hex("090205AABB")) << "bad"
            << "its count 5 does not fit its 8 bytes";
        QTest::newRow("P4 command line: the address in the second byte")
            << P::Protocol4 << false << appendCheck(CheckKind::Crc16XmodemWithEnd, hex("40080173")) << true
            << p4Reply(hex("4008020102")) << "ok"
            << "";
        QTest::newRow("P4+ byte sum") << P::Protocol4Plus << false << QByteArray() << false << hex("110402000500 1C04")
                                      << "ok"
                                      << "";
        QTest::newRow("P4 request heard while listening")
            << P::Protocol4 << false << QByteArray() << false << kP4Request << "ok"
            << "";
        QTest::newRow("Modbus reply") << P::Modbus << false << kModbusRequest << false << kModbusReply << "ok"
                                      << "";
        QTest::newRow("Modbus CRC") << P::Modbus << false << kModbusRequest << false << badModbus << "bad"
                                    << "CRC-16/MODBUS carried ";
        QTest::newRow("Modbus three bytes") << P::Modbus << false << kModbusRequest << false << hex("090401") << "bad"
                                            << "too short";
        QTest::newRow("Bioscrypt acknowledgement and response")
            << P::Bioscrypt << false << QByteArray() << false << kAck + kResponse << "ok"
            << "";
        QTest::newRow("Bioscrypt response spoilt")
            << P::Bioscrypt << false << QByteArray() << false << kAck + badResponse << "bad"
            << "negated byte sum carried";
        QTest::newRow("Bioscrypt half a frame")
            << P::Bioscrypt << false << QByteArray() << false << kAck.left(10) << "bad"
            << "too short";
        QTest::newRow("None") << P::None << false << QByteArray() << false << hex("01") << "unchecked"
                              << "";
        QTest::newRow("Modbus exception") << P::Modbus << false << kModbusRequest << false
                                          << appendCheck(CheckKind::Crc16Modbus, hex("098402")) << "exception"
                                          << "02 illegal data address";
        QTest::newRow("Modbus exception, CRC spoilt")
            << P::Modbus << false << kModbusRequest << false << hex("098402AAAA") << "bad"
            << "CRC-16/MODBUS carried AA AA";

        // Modbus TCP: the header is the check.
        QByteArray longer = kMbapReply;
        longer[5] = static_cast<char>(longer[5] + 1);
        QByteArray otherTransaction = kMbapReply;
        otherTransaction[1] = '\x02';
        QByteArray otherUnit = kMbapReply;
        otherUnit[6] = '\x0A';
        QByteArray otherProtocol = kMbapReply;
        otherProtocol[3] = '\x01';
        QTest::newRow("MBAP reply") << P::Modbus << true << kMbapRequest << false << kMbapReply << "ok"
                                    << "";
        QTest::newRow("MBAP exception 02 named")
            << P::Modbus << true << kMbapRequest << false << hex("000100000003098402") << "exception"
            << "02 illegal data address";
        QTest::newRow("MBAP exception without a name")
            << P::Modbus << true << kMbapRequest << false << hex("00010000000309840C") << "exception"
            << "exception 0C";
        QTest::newRow("MBAP length over the bytes") << P::Modbus << true << kMbapRequest << false << longer << "bad"
                                                    << "its length 8 does not fit its 13 bytes";
        QTest::newRow("MBAP a byte short")
            << P::Modbus << true << kMbapRequest << false << kMbapReply.chopped(1) << "bad"
            << "its length 7 does not fit its 12 bytes";
        QTest::newRow("MBAP bytes after the frame")
            << P::Modbus << true << kMbapRequest << false << kMbapReply + hex("00") << "bad"
            << "its length 7 does not fit its 14 bytes";
        QTest::newRow("MBAP header alone") << P::Modbus << true << kMbapRequest << false << kMbapReply.left(7) << "bad"
                                           << "too short";
        QTest::newRow("MBAP protocol id 1") << P::Modbus << true << kMbapRequest << false << otherProtocol << "bad"
                                            << "no Modbus TCP header (protocol id 1, length 7)";
        // A gateway that speaks RTU on its TCP port: its CRC is no use, its bytes are no header.
        QTest::newRow("MBAP an RTU reply") << P::Modbus << true << kMbapRequest << false << kModbusReply << "bad"
                                           << "no Modbus TCP header (protocol id 1024";
        QTest::newRow("MBAP another transaction")
            << P::Modbus << true << kMbapRequest << false << otherTransaction << "ok"
            << "transaction 00 02 is not the request's 00 01";
        QTest::newRow("MBAP another unit") << P::Modbus << true << kMbapRequest << false << otherUnit << "ok"
                                           << "unit 0A is not the request's 09";
        QTest::newRow("MBAP an exception from another unit")
            << P::Modbus << true << kMbapRequest << false << hex("00010000000307 8402") << "exception"
            << "02 illegal data address; unit 07 is not the request's 09";
        QTest::newRow("MBAP heard without a request")
            << P::Modbus << true << QByteArray() << false << otherTransaction << "ok"
            << "";
    }
    void judgement()
    {
        QFETCH(Protocol, protocol);
        QFETCH(bool, mbap);
        QFETCH(QByteArray, request);
        QFETCH(bool, commandLine);
        QFETCH(QByteArray, reply);
        QFETCH(QString, result);
        QFETCH(QString, detail);
        const ReplyJudgement j = judgeReply(reply, protocol, false, {}, request, commandLine, mbap);
        using R = ReplyJudgement::Result;
        const QString got = j.result == R::Ok          ? QStringLiteral("ok")
                            : j.result == R::Bad       ? QStringLiteral("bad")
                            : j.result == R::Exception ? QStringLiteral("exception")
                                                       : QStringLiteral("unchecked");
        QCOMPARE(got, result);
        QCOMPARE(j.exceptionCode >= 0, j.result == R::Exception);
        if (j.result == R::Exception)
            QCOMPARE(modbusExceptionText(j.exceptionCode), j.detail.section(QStringLiteral("; "), 0, 0));
        if (detail.isEmpty())
            QVERIFY2(j.detail.isEmpty(), qPrintable(j.detail));
        else
            QVERIFY2(j.detail.startsWith(detail), qPrintable(j.detail));
    }
};

QTEST_APPLESS_MAIN(TestReplyCheck)
#include "tst_reply_check.moc"
