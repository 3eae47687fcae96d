// Frames taken apart field by field: the requests the console builds (the worked frames of the wire
// format), replies of every protocol with their check values, and the check values appended to a body.

#include "Conversions.h"
#include "Errors.h"
#include "Explain.h"
#include "Mbap.h"
#include "RequestSettingsFor.h"
#include "Requests.h"
#include "SimCore.h"

#include <QRandomGenerator>
#include <QTest>
#include <boost/crc.hpp>

using namespace tarvo;

namespace {

// "address:1 function:1 start:2 count:2 check value:2": each field's name and length, in order.
QString layout(const FrameExplanation& e)
{
    QStringList parts;
    int at = 0;
    for (const FrameField& f : e.fields) {
        if (f.offset != at)
            return QStringLiteral("gap before %1").arg(f.name);
        parts << QStringLiteral("%1:%2").arg(f.name).arg(f.length);
        at += f.length;
    }
    if (at != e.bytes.size())
        parts << QStringLiteral("(%1 bytes not in a field)").arg(e.bytes.size() - at);
    return parts.join(QLatin1Char(' '));
}

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// The bytes of the field of that name; empty when there is none.
QByteArray fieldBytes(const FrameExplanation& e, const QString& name)
{
    for (const FrameField& f : e.fields) {
        if (f.name == name)
            return e.bytes.mid(f.offset, f.length);
    }
    return {};
}

QString fieldMeaning(const FrameExplanation& e, const QString& name)
{
    for (const FrameField& f : e.fields) {
        if (f.name == name)
            return f.meaning;
    }
    return {};
}

} // namespace

class TestExplain : public QObject {
    Q_OBJECT
private slots:
    // The console's own requests, as sent, with their fields.
    void requests_data()
    {
        QTest::addColumn<Protocol>("protocol");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("command"); // SendCommand's text, or SendQuery's code
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("fields");
        QTest::newRow("Modbus read input")
            << Protocol::Modbus << "0"
            << "ReadInput"
            << "" << hex("01020000001079C6") << "address:1 function:1 start:2 count:2 check value:2";
        QTest::newRow("Modbus command") << Protocol::Modbus << "0"
                                        << "SendCommand"
                                        << "0300000002" << hex("010300000002C40B")
                                        << "address:1 command:5 check value:2";
        QTest::newRow("Protocol 4+ read buffer")
            << Protocol::Protocol4Plus << "16"
            << "ReadBuffer100"
            << "" << hex("110401000006001C04") << "address:1 function:1 start:2 count:2 check value:2 end byte:1";
        QTest::newRow("Protocol 4+ command") << Protocol::Protocol4Plus << "5"
                                             << "SendCommand"
                                             << "0102"
                                             << hex("400502010200"
                                                    "4A04")
                                             << "lead byte:1 address:1 length:1 command:2 check value:2 end byte:1";
        QTest::newRow("Bioscrypt command") << Protocol::Bioscrypt << "1"
                                           << "SendCommand"
                                           << "0105" << hex("40286BFE00100010105000000000FFFF08FF")
                                           << "header:4 address:2 0001:2 command:2 zeros:4 check value:4";
        QTest::newRow("Bioscrypt with data")
            << Protocol::Bioscrypt << "1"
            << "SendCommand"
            << "0105ABCD" << QByteArray() << "header:4 address:2 0001:2 command:2 data:2 zeros:4 check value:4";
        QTest::newRow("None") << Protocol::None << "0"
                              << "SendCommand"
                              << "A1B2" << hex("A1B2") << "command:2";
        QTest::newRow("query") << Protocol::Protocol4 << "5"
                               << "SendQuery"
                               << "07" << QByteArray() << "address:1 function:1 query code:1 check value:2 end byte:1";
    }
    void requests()
    {
        QFETCH(Protocol, protocol);
        QFETCH(QString, address);
        QFETCH(QString, function);
        QFETCH(QString, command);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, fields);
        RequestSettings s = test::settingsFor(protocol, address);
        const bool query = function == fn::SendQuery;
        const QList<FrameExplanation> frames = explainRequests(s, function, query ? command : QString(), command);
        QCOMPARE(frames.size(), 1);
        const FrameExplanation& e = frames[0];
        // The frame is the one the console sends.
        const QString text = function == fn::SendCommand ? commandRequestText(*commandLine(command, s), s)
                                                         : fixedRequest(function, address, command, true).text;
        QCOMPARE(e.bytes, frameToBytes(frameRequest(text, s)));
        if (!bytes.isEmpty())
            QCOMPARE(e.bytes, bytes);
        QCOMPARE(layout(e), fields);
        QCOMPARE(e.verdict, protocol == Protocol::None ? CheckVerdict::Unchecked : CheckVerdict::Ok);
        QVERIFY(!e.reply);
    }

    void severalFrames()
    {
        const RequestSettings s = test::settingsFor(Protocol::Protocol4, "3");
        QCOMPARE(explainRequests(s, "ReadBuffer", {}, {}).size(), 2); // both forms go out
        QCOMPARE(explainRequests(s, "SendCommand", {}, "73\r\n/ comment\r\n\r\n71").size(), 2);
        QCOMPARE(explainRequests(s, "Waiting", {}, {}).size(), 0);
        QVERIFY_THROWS_EXCEPTION(RequestRefused, explainRequests(s, "SendCommand", {}, "7G"));
    }

    // Replies, each also with one byte changed: the bad verdict, both check values shown.
    void replies_data()
    {
        QTest::addColumn<Protocol>("protocol");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("meaning"); // of the third field
        QTest::newRow("Modbus registers") << Protocol::Modbus << hex("06040405000501")
                                          << "address:1 function:1 byte count:1 register 1:2 register 2:2 check value:2"
                                          << "4";
        QTest::newRow("Modbus exception")
            << Protocol::Modbus << hex("068402") << "address:1 function:1 exception:1 check value:2"
            << "02: Illegal Data Address";
        QTest::newRow("Protocol 4") << Protocol::Protocol4 << hex("010202AABB")
                                    << "first byte:1 second byte:1 count:1 data:2 check value:2 end byte:1"
                                    << "2 data bytes";
        QTest::newRow("Protocol 4+") << Protocol::Protocol4Plus << hex("1104020005")
                                     << "first byte:1 second byte:1 count:1 data:2 check value:2 end byte:1"
                                     << "2 data bytes";
        QTest::newRow("Customer") << Protocol::Customer << hex("AA0502AB12")
                                  << "first byte:1 second byte:1 count:1 data:2 check value:2 end byte:1"
                                  << "2 data bytes";
        QTest::newRow("Bioscrypt") << Protocol::Bioscrypt << hex("40286BFE00100010105000000000")
                                   << "header:4 address:2 0001:2 command:2 zeros:4 check value:4"
                                   << "";
    }
    void replies()
    {
        QFETCH(Protocol, protocol);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, fields);
        QFETCH(QString, meaning);
        // The replies are written here without their check value (and end byte): append them.
        QByteArray frame;
        switch (protocol) {
        case Protocol::Modbus:
            frame = appendCheck(CheckKind::Crc16Modbus, bytes);
            break;
        case Protocol::Protocol4Plus:
            frame = appendCheck(CheckKind::ByteSumWithEnd, bytes);
            break;
        case Protocol::Bioscrypt:
            frame = appendCheck(CheckKind::NegatedSum, bytes.mid(4));
            break;
        default:
            frame = appendCheck(CheckKind::Crc16XmodemWithEnd, bytes);
        }
        const FrameExplanation good = explainFrame(protocol, frame);
        QCOMPARE(good.verdict, CheckVerdict::Ok);
        QCOMPARE(layout(good), fields);
        if (!meaning.isEmpty())
            QCOMPARE(good.fields[2].meaning, meaning);
        QCOMPARE(completeFrameLength(protocol, frame + hex("0102")), frame.size());

        QByteArray changed = frame;
        const qsizetype inside = changed.size() / 2 - 1; // a byte the check value covers
        changed[inside] = static_cast<char>(changed[inside] ^ 0x01);
        const FrameExplanation bad = explainFrame(protocol, changed);
        QCOMPARE(bad.verdict, CheckVerdict::Bad);
        QCOMPARE(bad.received, good.received);
        QVERIFY(bad.computed != bad.received);
        QVERIFY(!bad.checkName.isEmpty());
    }

    // One reading gives the fields and the verdict: the check value compared is the one the fields
    // show, and bytes after the frame are a last field of their own, which the verdict names.
    void oneReading_data()
    {
        QTest::addColumn<Protocol>("protocol");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<CheckVerdict>("verdict");
        QTest::addColumn<QByteArray>("carried");
        const QByteArray registers = appendCheck(CheckKind::Crc16Modbus, hex("06040405000501"));
        const QByteArray p4Reply = appendCheck(CheckKind::Crc16XmodemWithEnd, hex("010202AABB"));
        const QByteArray bio = appendCheck(CheckKind::NegatedSum, hex("00100010105000000000"));
        QTest::newRow("Modbus exception, bad, with stray bytes")
            << Protocol::Modbus << hex("FFFDFDAABB000004")
            << "address:1 function:1 exception:1 check value:2 trailing bytes:3" << CheckVerdict::Bad << hex("AABB");
        QTest::newRow("Modbus reply, good, with stray bytes")
            << Protocol::Modbus << registers + hex("0102")
            << "address:1 function:1 byte count:1 register 1:2 register 2:2 check value:2 trailing bytes:2"
            << CheckVerdict::Ok << registers.right(2);
        // A CRC always holds over a Modbus frame and a 00 after it, two bytes further on.
        QTest::newRow("Modbus request, good, a stray 00")
            << Protocol::Modbus << hex("010300000002C40B00")
            << "address:1 function:1 start:2 count:2 check value:2 trailing bytes:1" << CheckVerdict::Ok << hex("C40B");
        QTest::newRow("Modbus request, bad, one byte too many")
            << Protocol::Modbus << hex("010300000002C40C00")
            << "address:1 function:1 start:2 count:2 check value:2 trailing bytes:1" << CheckVerdict::Bad
            << hex("C40C");
        QTest::newRow("Modbus exception of 4 bytes")
            << Protocol::Modbus << appendCheck(CheckKind::Crc16Modbus, hex("0684"))
            << "address:1 function:1 check value:2" << CheckVerdict::Ok
            << appendCheck(CheckKind::Crc16Modbus, hex("0684")).right(2);
        QTest::newRow("Modbus exception longer than its layout, check holding")
            << Protocol::Modbus << appendCheck(CheckKind::Crc16Modbus, hex("068402AABB"))
            << "address:1 function:1 exception:1 data:2 check value:2" << CheckVerdict::Ok
            << appendCheck(CheckKind::Crc16Modbus, hex("068402AABB")).right(2);
        QTest::newRow("Protocol 4, 4 bytes")
            << Protocol::Protocol4 << hex("01AABB04") << "address:1 check value:2 end byte:1" << CheckVerdict::Bad
            << hex("AABB");
        QTest::newRow("Protocol 4 reply, good, with stray bytes")
            << Protocol::Protocol4 << p4Reply + hex("0506")
            << "first byte:1 second byte:1 count:1 data:2 check value:2 end byte:1 trailing bytes:2" << CheckVerdict::Ok
            << p4Reply.mid(5, 2);
        QTest::newRow("Protocol 4 reply, bad, with stray bytes")
            << Protocol::Protocol4 << hex("010202AABB123404FF")
            << "first byte:1 second byte:1 count:1 data:2 check value:2 end byte:1 trailing bytes:1"
            << CheckVerdict::Bad << hex("1234");
        QTest::newRow("Bioscrypt, good, with stray bytes")
            << Protocol::Bioscrypt << bio + hex("40")
            << "header:4 address:2 0001:2 command:2 zeros:4 check value:4 trailing bytes:1" << CheckVerdict::Ok
            << bio.right(4);
    }
    void oneReading()
    {
        QFETCH(Protocol, protocol);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, fields);
        QFETCH(CheckVerdict, verdict);
        QFETCH(QByteArray, carried);
        const FrameExplanation e = explainFrame(protocol, bytes);
        QCOMPARE(layout(e), fields);
        QCOMPARE(e.verdict, verdict);
        QCOMPARE(e.received, carried);
        QCOMPARE(fieldBytes(e, "check value"), carried);
        const QByteArray trailing = fieldBytes(e, "trailing bytes");
        QCOMPARE(e.trailing, trailing.size());
        if (trailing.isEmpty()) {
            QVERIFY(e.trailingNote().isEmpty());
            return;
        }
        QVERIFY(e.trailingNote().endsWith(": " + ByteArrayToHex(trailing, false).trimmed()));
        // The frame without the stray bytes reads the same.
        const FrameExplanation alone = explainFrame(protocol, bytes.chopped(trailing.size()));
        QCOMPARE(alone.trailing, 0);
        QCOMPARE(alone.verdict, e.verdict);
        QCOMPARE(alone.computed, e.computed);
        QCOMPARE(alone.fields, e.fields.mid(0, e.fields.size() - 1));
    }

    // A write of several registers is 8 bytes (the reply) or 9 and more (the request): the first bytes
    // of one are never a frame, even where a CRC holds over them by chance.
    void writeMultipleIsNotCutShort()
    {
        const QByteArray start = appendCheck(CheckKind::Crc16Modbus, hex("0110")); // holds at 4 bytes
        const QByteArray request = appendCheck(CheckKind::Crc16Modbus, start + hex("000204AABBCCDD"));
        for (int n = 3; n < request.size(); ++n)
            QCOMPARE(completeFrameLength(Protocol::Modbus, request.left(n)), 0);
        QCOMPARE(completeFrameLength(Protocol::Modbus, request + hex("01")), request.size());
    }

    // The console's Bioscrypt frames name their fields as the simulator reads them, and the
    // simulator's replies are read as acknowledgements and responses.
    void bioscryptAsTheSimulatorReads_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("ack");
        QTest::addColumn<bool>("resp");
        QTest::newRow("7, 1234 as typed") << "7"
                                          << "1234" << false << false;
        QTest::newRow("1, 0105 with data, both flags") << "1"
                                                       << "0105ABCDEF" << true << true;
        QTest::newRow("4660, acknowledgement") << "4660"
                                               << "0FED" << true << false;
        QTest::newRow("65535, response with data") << "65535"
                                                   << "0001A1B2C3D4" << false << true;
    }
    void bioscryptAsTheSimulatorReads()
    {
        QFETCH(QString, address);
        QFETCH(QString, command);
        QFETCH(bool, ack);
        QFETCH(bool, resp);
        RequestSettings s = test::settingsFor(Protocol::Bioscrypt, address);
        s.ackReq = ack;
        s.respReq = resp;
        const QList<FrameExplanation> frames = explainRequests(s, fn::SendCommand, {}, command);
        QCOMPARE(frames.size(), 1);
        const FrameExplanation& e = frames[0];

        sim::SimConfig config;
        config.protocol = Protocol::Bioscrypt;
        config.served = {{0, 65535}};
        sim::SimCore core(config);
        sim::LinkState link;
        const sim::Decision d = core.handleFrame(e.bytes, link);
        QCOMPARE(d.consoleAddress, address.toInt());
        QCOMPARE(fieldMeaning(e, "address"), QStringLiteral("console address %1").arg(d.consoleAddress));
        // "command 1234 data DC BA FE": the code, then the data bytes as they are on the wire.
        const QStringList request = d.request.split(QLatin1Char(' '));
        QCOMPARE(request.value(0), QStringLiteral("command"));
        QCOMPARE(fieldMeaning(e, "command").section(QLatin1Char(' '), 0, 0), request.value(1));
        QCOMPARE(ByteArrayToHex(fieldBytes(e, "data"), false).trimmed(), request.mid(3).join(QLatin1Char(' ')));
        if (request.size() > 2)
            QCOMPARE(fieldMeaning(e, "data").section(QLatin1Char(' '), 0, 0), command.mid(4));
        // The frame given to check is read the same way.
        const FrameExplanation checked = explainFrame(Protocol::Bioscrypt, e.bytes);
        QCOMPARE(checked.verdict, CheckVerdict::Ok);
        QCOMPARE(checked.fields, e.fields);
        QVERIFY(!checked.reply);

        QStringList kinds;
        for (const sim::Segment& reply : d.replies) {
            const FrameExplanation r = explainFrame(Protocol::Bioscrypt, reply.bytes);
            QCOMPARE(r.verdict, CheckVerdict::Ok);
            QVERIFY(r.reply);
            QCOMPARE(fieldMeaning(r, "address"), fieldMeaning(e, "address"));
            kinds << fieldMeaning(r, "command").section(QLatin1Char('('), 1).chopped(1);
        }
        // The code's first digit as sent: the flags typed (1234 asks for an acknowledgement), or the
        // ones the console put there.
        const int flags = request.value(1).left(1).toInt(nullptr, 16);
        QCOMPARE(flags == (ack ? 1 : 0) + (resp ? 2 : 0), command.startsWith(QLatin1Char('0')));
        QStringList expected;
        if (flags & 1)
            expected << "an acknowledgement";
        if (flags & 2)
            expected << "a response";
        QCOMPARE(kinds, expected);
    }

    // Modbus TCP frames, told to be such: the header's fields, the PDU's as in an RTU frame, and the
    // header's length as the check.
    void modbusTcpFrames_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<CheckVerdict>("verdict");
        QTest::addColumn<QByteArray>("computed"); // the length the bytes give
        QTest::addColumn<QString>("field");       // a field whose meaning the row shows
        QTest::addColumn<QString>("meaning");
        const QString header = QStringLiteral("transaction id:2 protocol id:2 length:2 unit id:1 ");
        QTest::newRow("request") << hex("002A00000006060400FF0002") << header + "function:1 start:2 count:2"
                                 << CheckVerdict::Ok << hex("0006") << "unit id"
                                 << "6: console address 5";
        QTest::newRow("request's transaction id")
            << hex("002A00000006060400FF0002") << header + "function:1 start:2 count:2" << CheckVerdict::Ok
            << hex("0006") << "transaction id"
            << "42: the reply carries it back";
        QTest::newRow("registers") << hex("00070000000706040400050001")
                                   << header + "function:1 byte count:1 register 1:2 register 2:2" << CheckVerdict::Ok
                                   << hex("0007") << "transaction id"
                                   << "7: that of the request it answers";
        QTest::newRow("exception 02") << hex("000100000003068402") << header + "function:1 exception:1"
                                      << CheckVerdict::Ok << hex("0003") << "exception"
                                      << "02: Illegal Data Address";
        QTest::newRow("exception's function") << hex("000100000003068402") << header + "function:1 exception:1"
                                              << CheckVerdict::Ok << hex("0003") << "function"
                                              << "read input registers, refused";
        QTest::newRow("unit 0") << hex("000100000006000600010003") << header + "function:1 address:2 value:2"
                                << CheckVerdict::Ok << hex("0006") << "unit id"
                                << "0: broadcast, no console address";
        QTest::newRow("length beyond the bytes") << hex("000100000008068402") << header + "function:1 exception:1"
                                                 << CheckVerdict::Bad << hex("0003") << "length"
                                                 << "8, but 3 bytes follow";
        QTest::newRow("two bytes after the frame")
            << hex("000100000003068402 0001") << header + "function:1 exception:1 trailing bytes:2" << CheckVerdict::Ok
            << hex("0003") << "length"
            << "3 bytes follow: the unit id and the PDU";
        QTest::newRow("protocol id 1") << hex("000100010003068402") << header + "data:2" << CheckVerdict::NotAFrame
                                       << QByteArray() << "protocol id"
                                       << "1, not 0: not Modbus";
        QTest::newRow("length 0") << hex("000100000000068402") << header + "data:2" << CheckVerdict::NotAFrame
                                  << QByteArray() << "length"
                                  << "0: a header gives 1 to 254";
        QTest::newRow("length 1, then another frame")
            << hex("000000000001 00 000000060604000000 02") << header + "data:10" << CheckVerdict::NotAFrame
            << QByteArray() << "length"
            << "1: the unit id alone";
        QTest::newRow("a header and no function")
            << hex("00010000000106") << QStringLiteral("bytes:7") << CheckVerdict::NotAFrame << QByteArray() << "bytes"
            << "";
    }
    void modbusTcpFrames()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, fields);
        QFETCH(CheckVerdict, verdict);
        QFETCH(QByteArray, computed);
        QFETCH(QString, field);
        QFETCH(QString, meaning);
        const FrameExplanation e = explainFrame(Protocol::Modbus, bytes, false, {}, true);
        QCOMPARE(layout(e), fields);
        QCOMPARE(e.verdict, verdict);
        QCOMPARE(fieldMeaning(e, field), meaning);
        QCOMPARE(e.problem.isEmpty(), verdict != CheckVerdict::NotAFrame);
        QCOMPARE(e.computed, computed);
        if (verdict == CheckVerdict::NotAFrame)
            return;
        QCOMPARE(e.checkName, QStringLiteral("MBAP length"));
        QCOMPARE(e.received, fieldBytes(e, "length"));
        // The PDU reads as it does in an RTU frame.
        const QByteArray frame = bytes.left(bytes.size() - e.trailing);
        const FrameExplanation rtu = explainFrame(Protocol::Modbus, appendCheck(CheckKind::Crc16Modbus, frame.mid(6)));
        QCOMPARE(e.reply, rtu.reply);
        QCOMPARE(e.fields.mid(4, e.fields.size() - 4 - (e.trailing > 0 ? 1 : 0)).size(), rtu.fields.size() - 2);
        for (qsizetype i = 1; i + 1 < rtu.fields.size(); ++i) {
            QCOMPARE(e.fields[i + 3].name, rtu.fields[i].name);
            QCOMPARE(e.fields[i + 3].meaning, rtu.fields[i].meaning);
        }
        // Protocols other than Modbus are not framed so.
        QCOMPARE(explainFrame(Protocol::Protocol4, bytes, false, {}, true).fields,
                 explainFrame(Protocol::Protocol4, bytes).fields);
    }

    // The console's requests in Modbus TCP frames: the exchange's own frame (mbap::fromRtu over the
    // request it builds), numbered as it numbers them.
    void modbusTcpRequests_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<QString>("fields");
        QTest::newRow("read input") << "ReadInput"
                                    << "" << QStringList{"0007 0000 0006 06 02 0000 0010"}
                                    << "transaction id:2 protocol id:2 length:2 unit id:1 function:1 start:2 count:2";
        QTest::newRow("read buffer, its two requests")
            << "ReadBuffer"
            << "" << QStringList{"0007 0000 0006 06 04 0100 0006", "0008 0000 0006 06 04 0110 0006"}
            << "transaction id:2 protocol id:2 length:2 unit id:1 function:1 start:2 count:2";
        QTest::newRow("command lines") << "SendCommand"
                                       << "0300000002\r\n/ comment\r\n0401000001"
                                       << QStringList{"0007 0000 0006 06 0300000002", "0008 0000 0006 06 0401000001"}
                                       << "transaction id:2 protocol id:2 length:2 unit id:1 command:5";
        QTest::newRow("query") << "SendQuery"
                               << "07" << QStringList{"0007 0000 0003 06 18 07"}
                               << "transaction id:2 protocol id:2 length:2 unit id:1 function:1 query code:1";
    }
    void modbusTcpRequests()
    {
        QFETCH(QString, function);
        QFETCH(QString, command);
        QFETCH(QStringList, frames);
        QFETCH(QString, fields);
        const RequestSettings s = test::settingsFor(Protocol::Modbus, "5");
        const QString query = function == fn::SendQuery ? command : QString();
        const QList<FrameExplanation> rtu = explainRequests(s, function, query, command);
        const QList<FrameExplanation> tcp = explainRequests(s, function, query, command, uint16_t{7});
        QCOMPARE(tcp.size(), frames.size());
        QCOMPARE(rtu.size(), frames.size());
        for (qsizetype i = 0; i < tcp.size(); ++i) {
            const FrameExplanation& e = tcp[i];
            QCOMPARE(e.bytes, QByteArray::fromHex(frames[i].toLatin1()));
            QCOMPARE(e.bytes, mbap::fromRtu(rtu[i].bytes, static_cast<uint16_t>(7 + i)));
            QCOMPARE(layout(e), fields);
            QCOMPARE(e.verdict, CheckVerdict::Ok);
            QCOMPARE(fieldMeaning(e, "unit id"), QStringLiteral("6: console address 5"));
            QVERIFY(!e.reply);
            // The frame reader names the header as the builder does (the PDU it reads by its layout).
            const FrameExplanation read = explainFrame(Protocol::Modbus, e.bytes, false, {}, true);
            QCOMPARE(read.verdict, CheckVerdict::Ok);
            QCOMPARE(read.fields.mid(0, 4), e.fields.mid(0, 4));
        }
        // Only Modbus goes out in Modbus TCP frames; what a framing refuses is said, not built.
        QVERIFY_THROWS_EXCEPTION(RequestRefused, explainRequests(test::settingsFor(Protocol::Protocol4, "5"), function,
                                                                 query, command, uint16_t{1}));
    }

    void notFrames_data()
    {
        QTest::addColumn<Protocol>("protocol");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<CheckVerdict>("verdict");
        QTest::newRow("Modbus, 3 bytes") << Protocol::Modbus << hex("010203") << CheckVerdict::NotAFrame;
        QTest::newRow("Protocol 4, 3 bytes") << Protocol::Protocol4 << hex("010203") << CheckVerdict::NotAFrame;
        QTest::newRow("Bioscrypt without header")
            << Protocol::Bioscrypt << hex("0102030405060708") << CheckVerdict::NotAFrame;
        QTest::newRow("None") << Protocol::None << hex("0102") << CheckVerdict::Unchecked;
    }
    void notFrames()
    {
        QFETCH(Protocol, protocol);
        QFETCH(QByteArray, bytes);
        QFETCH(CheckVerdict, verdict);
        const FrameExplanation e = explainFrame(protocol, bytes);
        QCOMPARE(e.verdict, verdict);
        QCOMPARE(e.problem.isEmpty(), verdict != CheckVerdict::NotAFrame);
        QCOMPARE(completeFrameLength(protocol, bytes), 0);
    }

    // Every kind of check value against an independent implementation.
    void appendedChecks()
    {
        QRandomGenerator random(20261210);
        for (int round = 0; round < 200; ++round) {
            QByteArray body(static_cast<qsizetype>(random.bounded(1, 40)), '\0');
            for (char& b : body)
                b = static_cast<char>(random.bounded(256));
            boost::crc_optimal<16, 0x8005, 0xFFFF, 0, true, true> modbus;
            modbus.process_bytes(body.constData(), static_cast<size_t>(body.size()));
            const quint16 m = modbus.checksum();
            QCOMPARE(appendCheck(CheckKind::Crc16Modbus, body), body + char(m & 0xFF) + char(m >> 8));

            boost::crc_optimal<16, 0x1021, 0, 0, false, false> xmodem;
            xmodem.process_bytes(body.constData(), static_cast<size_t>(body.size()));
            const quint16 x = xmodem.checksum();
            QCOMPARE(appendCheck(CheckKind::Crc16XmodemWithEnd, body), body + char(x >> 8) + char(x & 0xFF) + '\x04');

            quint32 sum = 0;
            for (char b : body)
                sum += static_cast<unsigned char>(b);
            const quint16 s16 = static_cast<quint16>(sum);
            QCOMPARE(appendCheck(CheckKind::ByteSumWithEnd, body), body + char(s16 >> 8) + char(s16 & 0xFF) + '\x04');

            // The negated sum: the four bytes of -sum, each group of four digits reversed.
            const quint32 neg = 0u - sum;
            QString digits = QStringLiteral("%1").arg(neg, 8, 16, QLatin1Char('0')).toUpper();
            QString reversed;
            for (int i = 0; i < 8; i += 4)
                for (int k = 3; k >= 0; --k)
                    reversed += digits[i + k];
            QCOMPARE(appendCheck(CheckKind::NegatedSum, body),
                     QByteArray::fromHex("40286BFE") + body + QByteArray::fromHex(reversed.toLatin1()));
        }
    }
};

QTEST_APPLESS_MAIN(TestExplain)
#include "tst_explain.moc"
