// What a report makes of a reply: every check its framing carries, whatever the console's own
// indicator makes of it.

#include "Explain.h"
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
} // namespace

class TestReplyCheck : public QObject {
    Q_OBJECT
private slots:
    void judgement_data()
    {
        QTest::addColumn<Protocol>("protocol");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<bool>("commandLine");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("result"); // ok, bad, unchecked
        QTest::addColumn<QString>("detail");
        using P = Protocol;
        QByteArray badP4 = kP4Reply;
        badP4[4] = '\x48';
        QByteArray badModbus = kModbusReply;
        badModbus[3] = '\x02';
        QByteArray badResponse = kResponse;
        badResponse[9] = '\x11';
        QTest::newRow("P4 reply") << P::Protocol4 << kP4Request << false << kP4Reply << "ok"
                                  << "";
        QTest::newRow("P4 check value") << P::Protocol4 << kP4Request << false << badP4 << "bad"
                                        << "CRC-16/XMODEM carried ";
        QTest::newRow("P4 two bytes: too short, and someone else's")
            << P::Protocol4 << kP4Request << false << hex("0302") << "bad"
            << "too short; address 03 is not the request's 09: bytes of an earlier exchange?";
        QTest::newRow("P4 count over the length")
            << P::Protocol4 << kP4Request << false << p4Reply(hex("090205AABB")) << "bad"
            << "its count 5 does not fit its 8 bytes";
        QTest::newRow("P4 command line: the address in the second byte")
            << P::Protocol4 << appendCheck(CheckKind::Crc16XmodemWithEnd, hex("40080173")) << true
            << p4Reply(hex("4008020102")) << "ok"
            << "";
        QTest::newRow("P4+ byte sum") << P::Protocol4Plus << QByteArray() << false << hex("110402000500 1C04") << "ok"
                                      << "";
        QTest::newRow("P4 request heard while listening") << P::Protocol4 << QByteArray() << false << kP4Request << "ok"
                                                          << "";
        QTest::newRow("Modbus reply") << P::Modbus << kModbusRequest << false << kModbusReply << "ok"
                                      << "";
        QTest::newRow("Modbus CRC") << P::Modbus << kModbusRequest << false << badModbus << "bad"
                                    << "CRC-16/MODBUS carried ";
        QTest::newRow("Modbus three bytes") << P::Modbus << kModbusRequest << false << hex("090401") << "bad"
                                            << "too short";
        QTest::newRow("Bioscrypt acknowledgement and response")
            << P::Bioscrypt << QByteArray() << false << kAck + kResponse << "ok"
            << "";
        QTest::newRow("Bioscrypt response spoilt")
            << P::Bioscrypt << QByteArray() << false << kAck + badResponse << "bad"
            << "negated byte sum carried";
        QTest::newRow("Bioscrypt half a frame") << P::Bioscrypt << QByteArray() << false << kAck.left(10) << "bad"
                                                << "too short";
        QTest::newRow("None") << P::None << QByteArray() << false << hex("01") << "unchecked"
                              << "";
    }
    void judgement()
    {
        QFETCH(Protocol, protocol);
        QFETCH(QByteArray, request);
        QFETCH(bool, commandLine);
        QFETCH(QByteArray, reply);
        QFETCH(QString, result);
        QFETCH(QString, detail);
        const ReplyJudgement j = judgeReply(reply, protocol, false, {}, request, commandLine);
        const QString got = j.result == ReplyJudgement::Result::Ok    ? QStringLiteral("ok")
                            : j.result == ReplyJudgement::Result::Bad ? QStringLiteral("bad")
                                                                      : QStringLiteral("unchecked");
        QCOMPARE(got, result);
        if (detail.isEmpty())
            QVERIFY2(j.detail.isEmpty(), qPrintable(j.detail));
        else
            QVERIFY2(j.detail.startsWith(detail), qPrintable(j.detail));
    }
};

QTEST_APPLESS_MAIN(TestReplyCheck)
#include "tst_reply_check.moc"
