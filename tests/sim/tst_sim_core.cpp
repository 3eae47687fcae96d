// tarvo-sim's protocol logic, driven with frames built by the console's own request functions and
// checked with the console's own check-value functions.

#include "Conversions.h"
#include "Crc.h"
#include "Framing.h"
#include "Requests.h"
#include "SimCore.h"
#include "SimMemory.h"
#include "SimOptions.h"

#include "RequestSettingsFor.h"

#include <QtTest>

using namespace tarvo;
using namespace tarvo::sim;

namespace {

using test::settingsFor;

// The bytes the console puts on the wire for a fixed request.
QByteArray fixedFrame(Protocol p, const QString& address, const QString& function,
                      const QString& query = QStringLiteral("01"))
{
    const FixedRequest r = fixedRequest(function, address, query, function != fn::ReadBuffer110);
    return frameToBytes(frameRequest(r.text, settingsFor(p, address)));
}

// The bytes the console puts on the wire for one command line.
QByteArray commandFrame(RequestSettings s, const QString& line)
{
    const auto cl = commandLine(line, s);
    Q_ASSERT(cl);
    return frameToBytes(frameRequest(commandRequestText(*cl, s), s));
}

QByteArray commandFrame(Protocol p, const QString& address, const QString& line)
{
    return commandFrame(settingsFor(p, address), line);
}

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// The console's reply check: the received value is the last byte but two and but one, the
// computed one covers bytes 1 to 3 + N.
bool consoleCheckPasses(Protocol p, const QByteArray& reply)
{
    const QString t = ByteArrayToHex(reply, false);
    const auto n = t.size();
    const QString received = t.mid(n - 9, 2) + t.mid(n - 6, 2);
    const QString covered = ByteArrayToHex(reply, true);
    const QString computed = p == Protocol::Protocol4Plus ? SumCheck(covered) : CrcCcitt(covered);
    return received == computed;
}

Decision ask(SimCore& core, const QByteArray& frame, bool tcp = false)
{
    LinkState link;
    link.tcp = tcp;
    return core.handleFrame(frame, link);
}

SimConfig configFor(Protocol p)
{
    SimConfig c;
    c.protocol = p;
    return c;
}

} // namespace

class TestSimCore : public QObject {
    Q_OBJECT

private slots:
    void modbusReadInputKnownFrame()
    {
        SimCore core(configFor(Protocol::Modbus));
        const QByteArray frame = fixedFrame(Protocol::Modbus, QStringLiteral("0"), fn::ReadInput);
        QCOMPARE(frame, hex("01020000001079C6")); // the documented Read Input frame for address 0
        const Decision d = ask(core, frame);
        QCOMPARE(d.consoleAddress, 0);
        QCOMPARE(d.replies.size(), 1);
        const QByteArray r = d.replies[0].bytes;
        QCOMPARE(r.size(), 7); // more than the ReadInput threshold 6
        QCOMPARE(r.left(3), hex("010202"));
        QCOMPARE(QString::fromLatin1(r.right(2).toHex().toUpper()), CrcModbus(ByteArrayToHex(r.left(5), false)));
        for (int i = 0; i < 16; ++i)
            QCOMPARE(bool((static_cast<unsigned char>(r[3 + i / 8]) >> (i % 8)) & 1), discreteInput(0, i));
    }

    void modbusCommandKnownFrame()
    {
        SimCore core(configFor(Protocol::Modbus));
        const QByteArray frame = commandFrame(Protocol::Modbus, QStringLiteral("0"), QStringLiteral("0300000002"));
        QCOMPARE(frame, hex("010300000002C40B")); // the documented command frame for address 0
        const QByteArray r = ask(core, frame).replies.value(0).bytes;
        QCOMPARE(r.left(7), hex("01030400000001")); // holding registers 0 and 1 of console address 0
        QCOMPARE(QString::fromLatin1(r.right(2).toHex().toUpper()), CrcModbus(ByteArrayToHex(r.left(7), false)));
    }

    void modbusReadBufferAndQuery()
    {
        SimCore core(configFor(Protocol::Modbus));
        QByteArray r =
            ask(core, fixedFrame(Protocol::Modbus, QStringLiteral("16"), fn::ReadBuffer100)).replies.value(0).bytes;
        QCOMPARE(r.size(), 17); // more than the ReadBuffer threshold 16
        QCOMPARE(r.left(5), hex("1104 0C 10 00"));
        r = ask(core, fixedFrame(Protocol::Modbus, QStringLiteral("5"), fn::SendQuery, QStringLiteral("7")))
                .replies.value(0)
                .bytes;
        QCOMPARE(r.left(7), hex("06 18 04 07 05 55 AA"));
    }

    void modbusExceptions()
    {
        SimCore core(configFor(Protocol::Modbus));
        Decision d = ask(core, commandFrame(Protocol::Modbus, QStringLiteral("2"), QStringLiteral("0600010002")));
        QCOMPARE(d.replies.value(0).bytes.left(3), hex("038601")); // unknown function
        d = ask(core, commandFrame(Protocol::Modbus, QStringLiteral("2"), QStringLiteral("0403FE0004")));
        QCOMPARE(d.replies.value(0).bytes.left(3), hex("038402")); // registers 1022..1025: out of range
        d = ask(core, commandFrame(Protocol::Modbus, QStringLiteral("2"), QStringLiteral("0300000000")));
        QCOMPARE(d.replies.value(0).bytes.left(3), hex("038303")); // count 0
        QCOMPARE(d.verdict, QStringLiteral("exception 03"));
    }

    void modbusIgnores()
    {
        SimConfig c = configFor(Protocol::Modbus);
        c.served = {{5, 5}};
        SimCore core(c);
        QVERIFY(ask(core, fixedFrame(Protocol::Modbus, QStringLiteral("4"), fn::ReadInput)).replies.isEmpty());
        QByteArray bad = fixedFrame(Protocol::Modbus, QStringLiteral("5"), fn::ReadInput);
        bad[7] = static_cast<char>(bad[7] ^ 1);
        const Decision d = ask(core, bad);
        QVERIFY(d.replies.isEmpty());
        QCOMPARE(d.verdict, QStringLiteral("ignored: bad check value"));
        QVERIFY(
            ask(core, hex("000200000010") + QByteArray::fromHex(CrcModbus(QStringLiteral("000200000010")).toLatin1()))
                .replies.isEmpty()); // broadcast
        QCOMPARE(ask(core, fixedFrame(Protocol::Modbus, QStringLiteral("5"), fn::ReadInput)).replies.size(), 1);
    }

    void leadByteFixedRequests_data()
    {
        QTest::addColumn<int>("protocol");
        QTest::addColumn<QString>("function");
        QTest::addColumn<int>("threshold");
        for (auto [p, name] :
             {std::pair{Protocol::Protocol4, "P4"}, {Protocol::Protocol4Plus, "P4+"}, {Protocol::Customer, "AA"}}) {
            QTest::addRow("%s ReadInput", name) << int(p) << fn::ReadInput << 6;
            QTest::addRow("%s ReadBuffer100", name) << int(p) << fn::ReadBuffer100 << 16;
            QTest::addRow("%s ReadBuffer110", name) << int(p) << fn::ReadBuffer110 << 16;
            QTest::addRow("%s SendQuery", name) << int(p) << fn::SendQuery << 0;
        }
    }

    void leadByteFixedRequests()
    {
        QFETCH(int, protocol);
        QFETCH(QString, function);
        QFETCH(int, threshold);
        const auto p = Protocol(protocol);
        SimCore core(configFor(p));
        const QByteArray frame = fixedFrame(p, QStringLiteral("16"), function);
        QCOMPARE(core.completeFrameLength(frame), frame.size());
        const Decision d = ask(core, frame);
        QCOMPARE(d.consoleAddress, 16);
        QCOMPARE(d.replies.size(), 1);
        const QByteArray r = d.replies[0].bytes;
        QVERIFY(r.size() > threshold);
        QCOMPARE(r.size(), 3 + static_cast<unsigned char>(r[2]) + 3);
        QCOMPARE(r.left(2), frame.left(2)); // wire address and function
        QCOMPARE(r.back(), char(0x04));
        QVERIFY(consoleCheckPasses(p, r));
    }

    void knownReplyExamples()
    {
        // Protocol 4+ reply 11 04 02 00 05 00 1C 04 is the console's own example of a passing reply.
        SimCore plus(configFor(Protocol::Protocol4Plus));
        QCOMPARE(plus.layoutReply(0x11, 0x04, hex("0005")), hex("11 04 02 00 05 00 1C 04"));
        SimCore p4(configFor(Protocol::Protocol4));
        const QByteArray r = p4.layoutReply(0x01, 0x02, hex("AABB"));
        QCOMPARE(QString::fromLatin1(r.mid(5, 2).toHex().toUpper()), CrcCcitt(QStringLiteral("010202AABB")));
    }

    void knownRequestExamples()
    {
        // Protocol 4+, address 5, command 0102 goes out as 40 05 02 01 02 00 4A 04: echoed.
        SimCore plus(configFor(Protocol::Protocol4Plus));
        const QByteArray frame = commandFrame(Protocol::Protocol4Plus, QStringLiteral("5"), QStringLiteral("0102"));
        QCOMPARE(frame, hex("40 05 02 01 02 00 4A 04"));
        Decision d = ask(plus, frame);
        QCOMPARE(d.consoleAddress, 5);
        QCOMPARE(d.replies.value(0).bytes, hex("40 05 02 01 02 00 4A 04"));
        // Customer Protocol with code AA, address 5, command 0102.
        SimCore customer(configFor(Protocol::Customer));
        d = ask(customer, commandFrame(Protocol::Customer, QStringLiteral("5"), QStringLiteral("0102")));
        QCOMPARE(d.replies.value(0).bytes.left(5), hex("AA 05 02 01 02"));
        QVERIFY(consoleCheckPasses(Protocol::Customer, d.replies[0].bytes));
        // Another customer code: the frame is not for this simulator.
        SimConfig bb = configFor(Protocol::Customer);
        bb.customerCode = 0xBB;
        SimCore other(bb);
        QVERIFY(ask(other, commandFrame(Protocol::Customer, QStringLiteral("5"), QStringLiteral("0102")))
                    .replies.isEmpty());
    }

    void memoryReadWorkedExample_data()
    {
        QTest::addColumn<int>("protocol");
        QTest::addRow("P4") << int(Protocol::Protocol4);
        QTest::addRow("P4+") << int(Protocol::Protocol4Plus);
        QTest::addRow("AA") << int(Protocol::Customer);
    }

    void memoryReadWorkedExample()
    {
        QFETCH(int, protocol);
        const auto p = Protocol(protocol);
        SimCore core(configFor(p));
        // The seven request lines of a memory read with the panel defaults, to console address 7.
        const QStringList lines{"72 01 1E2C C0", "72 01 1EEC C0", "72 01 1FAC C0", "72 01 206C C0",
                                "72 01 212C C0", "72 01 21EC C0", "72 01 22AC 24"};
        int first = 0x1E2C;
        for (const QString& line : lines) {
            const Decision d = ask(core, commandFrame(p, QStringLiteral("7"), line));
            QCOMPARE(d.replies.size(), 1);
            const QByteArray r = d.replies[0].bytes;
            const int ll = line.right(2).toInt(nullptr, 16);
            QCOMPARE(r.size(), ll + 7); // 192 bytes read: a 199-byte reply
            QCOMPARE(static_cast<unsigned char>(r[2]), ll + 1);
            QCOMPARE(static_cast<unsigned char>(r[3]), 0x72);
            QVERIFY(consoleCheckPasses(p, r));
            // The dump's data text: the reply text from character 12 on, bytes 5 to N-3.
            const QString text = ByteArrayToHex(r, false);
            const QString data = text.mid(11, text.size() - 20);
            QCOMPARE(data, QStringLiteral(" ") + ByteArrayToHex(memoryBytes(7, 1, first, ll), false));
            for (int i = 0; i < ll; ++i)
                QCOMPARE(static_cast<unsigned char>(r[4 + i]), memoryByte(7, 1, first + i));
            first += ll;
        }
        QCOMPARE(memoryByte(7, 1, 0x1E2C), uint8_t((7 * 31 + 7 + 0x1E2C) % 256));
    }

    void identifications()
    {
        SimCore core(configFor(Protocol::Protocol4));
        const QByteArray eprom = ask(core, commandFrame(Protocol::Protocol4, QStringLiteral("7"), QStringLiteral("73")))
                                     .replies.value(0)
                                     .bytes;
        QVERIFY(eprom.size() >= 13);
        QVERIFY(consoleCheckPasses(Protocol::Protocol4, eprom));
        const QString et = ByteArrayToHex(eprom, false); // the dump header's EPROM text
        QCOMPARE(et.mid(15, 2) + "/" + et.mid(18, 2) + "/" + et.mid(21, 2) + " CHECKSUM:" + et.mid(24, 2) +
                     et.mid(27, 2),
                 QStringLiteral("15/03/24 CHECKSUM:C007"));
        const QByteArray rom = ask(core, commandFrame(Protocol::Protocol4, QStringLiteral("7"), QStringLiteral("71")))
                                   .replies.value(0)
                                   .bytes;
        QVERIFY(rom.size() >= 16);
        QVERIFY(consoleCheckPasses(Protocol::Protocol4, rom));
        const QString rt = ByteArrayToHex(rom, false);
        QCOMPARE(rt.mid(9, 5) + rt.mid(15, 2) + rt.mid(18, 2) + rt.mid(21, 8) + rt.mid(30, 2) + rt.mid(33, 2) +
                     rt.mid(36, 2),
                 QStringLiteral("71 5453494D 02 01072403"));
    }

    void memoryRefusalAndEcho()
    {
        SimCore core(configFor(Protocol::Protocol4));
        QCOMPARE(ask(core, commandFrame(Protocol::Protocol4, QStringLiteral("3"), QStringLiteral("72 01 0000 FF")))
                     .replies.value(0)
                     .bytes.mid(3, 2),
                 hex("7215"));
        QCOMPARE(ask(core, commandFrame(Protocol::Protocol4, QStringLiteral("3"), QStringLiteral("A1B2C3")))
                     .replies.value(0)
                     .bytes.left(6),
                 hex("40 03 03 A1 B2 C3"));
    }

    void fixedRequestForAddress63LooksLikeALeadByte()
    {
        // Console address 63 goes out as 40, the Protocol 4 lead byte: the check value tells the forms apart.
        SimCore core(configFor(Protocol::Protocol4));
        const QByteArray frame = fixedFrame(Protocol::Protocol4, QStringLiteral("63"), fn::ReadInput);
        QCOMPARE(frame[0], char(0x40));
        QCOMPARE(core.completeFrameLength(frame + hex("0102")), frame.size());
        const Decision d = ask(core, frame);
        QCOMPARE(d.consoleAddress, 63);
        QCOMPARE(d.replies.value(0).bytes.left(3), hex("400202"));
    }

    void bioscrypt()
    {
        SimConfig c = configFor(Protocol::Bioscrypt);
        c.served = {{0, 65535}};
        SimCore core(c);
        // Address 1, command 0105, no flags: the console awaits nothing, and nothing is sent back.
        RequestSettings s = settingsFor(Protocol::Bioscrypt, QStringLiteral("1"));
        QByteArray frame = commandFrame(s, QStringLiteral("0105"));
        QCOMPARE(frame, hex("40 28 6B FE 00 10 00 10 10 50 00 00 00 00 FF FF 08 FF"));
        Decision d = ask(core, frame);
        QCOMPARE(d.consoleAddress, 1);
        QVERIFY(d.replies.isEmpty());
        QCOMPARE(d.verdict, QStringLiteral("no reply requested"));

        auto valid = [](const QByteArray& m) {
            return m.startsWith(hex("40286BFE")) &&
                   ReverseDigitQuads(NegSumHex(ByteArrayToHex(m.mid(4, m.size() - 8), false))) ==
                       QString::fromLatin1(m.right(4).toHex().toUpper());
        };
        s.ackReq = true;
        d = ask(core, commandFrame(s, QStringLiteral("0105")));
        QCOMPARE(d.replies.size(), 1);
        QVERIFY(valid(d.replies[0].bytes));
        QCOMPARE(d.replies[0].bytes.mid(4, 6), hex("00 10 00 10 18 50")); // code 8105, digits swapped

        s.respReq = true;
        s.address = QStringLiteral("300");
        d = ask(core, commandFrame(s, QStringLiteral("0105ABCD")));
        QCOMPARE(d.consoleAddress, 300);
        QCOMPARE(d.replies.size(), 2);
        QVERIFY(valid(d.replies[0].bytes));
        QVERIFY(valid(d.replies[1].bytes));
        QCOMPARE(d.replies[1].delayMs, 100);
        QCOMPARE(d.replies[1].bytes.mid(4, 8), hex("10 C2 00 10 14 50 DC BA")); // response code 4105, data echoed

        frame = commandFrame(s, QStringLiteral("0105"));
        frame[10] = static_cast<char>(frame[10] ^ 1);
        QCOMPARE(ask(core, frame).verdict, QStringLiteral("ignored: bad check value"));
    }

    void none()
    {
        SimConfig c = configFor(Protocol::None);
        c.served = {{4, 9}};
        SimCore core(c);
        Decision d = ask(core, fixedFrame(Protocol::None, QStringLiteral("5"), fn::ReadInput));
        QCOMPARE(d.consoleAddress, 5);
        QCOMPARE(d.replies.value(0).bytes.left(3), hex("060202"));
        d = ask(core, commandFrame(Protocol::None, QStringLiteral("5"), QStringLiteral("A1B2")));
        QCOMPARE(d.consoleAddress, 4);
        QCOMPARE(d.replies.value(0).bytes.left(5), hex("40 04 02 A1 B2"));
        QCOMPARE(core.completeFrameLength(hex("A1B2")), 0); // only a silence ends a frame
    }

    void assemblerCutsBackToBackFrames()
    {
        for (Protocol p : {Protocol::Modbus, Protocol::Protocol4, Protocol::Protocol4Plus, Protocol::Customer}) {
            SimCore core(configFor(p));
            FrameAssembler a(core);
            const QByteArray f1 = fixedFrame(p, QStringLiteral("3"), fn::ReadInput);
            const QByteArray f2 = p == Protocol::Modbus
                                      ? fixedFrame(p, QStringLiteral("4"), fn::ReadBuffer100)
                                      : commandFrame(p, QStringLiteral("4"), QStringLiteral("72 01 1E2C C0"));
            const QByteArray both = f1 + f2;
            QList<QByteArray> frames = a.feed(both.left(5));
            QVERIFY(frames.isEmpty());
            frames = a.feed(both.mid(5));
            QCOMPARE(frames.size(), 2);
            QCOMPARE(frames[0], f1);
            QCOMPARE(frames[1], f2);
            QVERIFY(!a.pending());
            // A damaged frame stays pending until the silence flushes it.
            QByteArray bad = f1;
            bad[2] = static_cast<char>(bad[2] ^ 0x10);
            QVERIFY(a.feed(bad).isEmpty());
            QCOMPARE(a.flush(), bad);
        }
        SimCore bio(configFor(Protocol::Bioscrypt));
        FrameAssembler a(bio);
        RequestSettings s = settingsFor(Protocol::Bioscrypt, QStringLiteral("2"));
        s.ackReq = true;
        const QByteArray f1 = commandFrame(s, QStringLiteral("0105ABCD"));
        const QByteArray f2 = commandFrame(s, QStringLiteral("0107"));
        QCOMPARE(a.feed(f1 + f2), (QList<QByteArray>{f1, f2}));
    }

    // ---- fault modes, as decisions (the wire tests show them on a socket)

    void faultSilent()
    {
        SimConfig c = configFor(Protocol::Protocol4);
        c.faults[3].silent = true;
        SimCore core(c);
        QVERIFY(ask(core, fixedFrame(Protocol::Protocol4, QStringLiteral("3"), fn::ReadInput)).replies.isEmpty());
        QCOMPARE(ask(core, fixedFrame(Protocol::Protocol4, QStringLiteral("4"), fn::ReadInput)).replies.size(), 1);
    }

    void faultAnswerFrom()
    {
        SimConfig c = configFor(Protocol::Protocol4);
        c.faults[3].answerFrom = 3;
        SimCore core(c);
        const QByteArray f = fixedFrame(Protocol::Protocol4, QStringLiteral("3"), fn::ReadInput);
        LinkState link;
        for (int round = 0; round < 2; ++round) {
            QVERIFY(core.handleFrame(f, link).replies.isEmpty());
            QVERIFY(core.handleFrame(f, link).replies.isEmpty());
            QCOMPARE(core.handleFrame(f, link).replies.size(), 1);
        }
    }

    void faultBadCheck()
    {
        for (Protocol p : {Protocol::Protocol4, Protocol::Protocol4Plus, Protocol::Customer}) {
            SimConfig c = configFor(p);
            c.faults[3].badCheck = true;
            SimCore core(c);
            const QByteArray r =
                ask(core, fixedFrame(p, QStringLiteral("3"), fn::ReadBuffer100)).replies.value(0).bytes;
            QCOMPARE(r.size(), 18);
            QCOMPARE(r.back(), char(0x04));
            QVERIFY(!consoleCheckPasses(p, r));
        }
        SimConfig c = configFor(Protocol::Modbus);
        c.faults[3].badCheck = true;
        SimCore core(c);
        const QByteArray r =
            ask(core, fixedFrame(Protocol::Modbus, QStringLiteral("3"), fn::ReadInput)).replies.value(0).bytes;
        QVERIFY(QString::fromLatin1(r.right(2).toHex().toUpper()) != CrcModbus(ByteArrayToHex(r.left(5), false)));
    }

    void faultPartialDelayTrickle()
    {
        SimConfig c = configFor(Protocol::Protocol4);
        c.faults[3].partialBytes = 0;
        c.faults[4].partialBytes = 5;
        c.faults[5].delayMs = 700;
        c.faults[6].trickleMs = 15;
        SimCore core(c);
        auto reply = [&](const char* a) {
            return ask(core, fixedFrame(Protocol::Protocol4, QString::fromLatin1(a), fn::ReadBuffer100));
        };
        QCOMPARE(reply("3").replies.value(0).bytes.size(), 9);
        SimCore plain(configFor(Protocol::Protocol4));
        const QByteArray full =
            ask(plain, fixedFrame(Protocol::Protocol4, QStringLiteral("4"), fn::ReadBuffer100)).replies.value(0).bytes;
        QCOMPARE(reply("4").replies.value(0).bytes, full.left(5));
        QCOMPARE(reply("5").replies.value(0).delayMs, 700);
        QCOMPARE(reply("6").trickleMs, 15);
        QCOMPARE(reply("6").replies.value(0).bytes.size(), 18);
    }

    void faultDrop()
    {
        SimConfig c = configFor(Protocol::Protocol4);
        c.faults[3].dropAfter = 2;
        SimCore core(c);
        const QByteArray f = fixedFrame(Protocol::Protocol4, QStringLiteral("3"), fn::ReadInput);
        LinkState tcp;
        tcp.tcp = true;
        QCOMPARE(core.handleFrame(f, tcp).replies.size(), 1);
        QCOMPARE(core.handleFrame(f, tcp).replies.size(), 1);
        const Decision d = core.handleFrame(f, tcp);
        QVERIFY(d.dropConnection);
        QVERIFY(d.replies.isEmpty());
        LinkState fresh; // a new connection counts again
        fresh.tcp = true;
        QCOMPARE(core.handleFrame(f, fresh).replies.size(), 1);
        LinkState serial; // no connection to drop on the serial line
        for (int i = 0; i < 4; ++i)
            QVERIFY(!core.handleFrame(f, serial).dropConnection);
    }

    void faultException()
    {
        SimConfig c = configFor(Protocol::Modbus);
        c.faults[3].exceptionCode = 0x0B;
        c.faults[4].exceptionCode = 0x02;
        c.faults[4].silent = true;
        SimCore core(c);
        // Every request of address 3 gets the fault's code, whatever it asked, its reply's CRC valid.
        for (const char* line : {"0300000002", "0400000001", "0600010002"}) {
            const Decision d =
                ask(core, commandFrame(Protocol::Modbus, QStringLiteral("3"), QString::fromLatin1(line)));
            QCOMPARE(d.replies.size(), 1);
            const QByteArray r = d.replies[0].bytes;
            QCOMPARE(r.size(), 5);
            QCOMPARE(r.left(3), QByteArray::fromHex("04") + char(hex(line).at(0) | 0x80) + char(0x0B));
            QCOMPARE(QString::fromLatin1(r.right(2).toHex().toUpper()), CrcModbus(ByteArrayToHex(r.left(3), false)));
            QCOMPARE(d.verdict, QStringLiteral("exception 0B (fault exception=0B)"));
        }
        // Silence wins; other addresses are answered as usual.
        QVERIFY(ask(core, commandFrame(Protocol::Modbus, QStringLiteral("4"), QStringLiteral("0300000002")))
                    .replies.isEmpty());
        QCOMPARE(ask(core, commandFrame(Protocol::Modbus, QStringLiteral("5"), QStringLiteral("0300000002")))
                     .replies.value(0)
                     .bytes.left(3),
                 hex("060304"));
    }

    // ---- Modbus TCP: what arrives on a connection, segment by segment, and what goes back

    void mbap_data()
    {
        // Each expected entry is the reply's bytes, or for a piece that gets none, a part of its verdict.
        QTest::addColumn<QStringList>("segments");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("pendingAfter");
        // Console address 5 (unit 6): holding registers 100, 101 are 600, 601; input register 0x110 of
        // console address 10 (unit 11) is 0x0A10.
        const QString hold = "0001 0000 0006 06 03 0064 0002";
        const QString holdReply = "0001 0000 0007 06 03 04 0258 0259";
        const QString input = "ABCD 0000 0006 0B 04 0110 0001";
        const QString inputReply = "ABCD 0000 0005 0B 04 02 0A10";
        QTest::newRow("holding registers") << QStringList{hold} << QStringList{holdReply} << false;
        QTest::newRow("two requests in one segment")
            << QStringList{hold + input} << QStringList{holdReply, inputReply} << false;
        QTest::newRow("one request in three segments")
            << QStringList{"00 01 00", "00 00 06 06 03", "00 64 00 02"} << QStringList{holdReply} << false;
        QTest::newRow("a request and the start of the next")
            << QStringList{input + "0001 0000 0006 06"} << QStringList{inputReply} << true;
        QTest::newRow("the console's query")
            << QStringList{"000C 0000 0003 06 18 07"} << QStringList{"000C 0000 0007 06 18 04 07 05 55 AA"} << false;
        // Unit id = console address + 1: unit 11 is console address 10, the last one served.
        QTest::newRow("unit beyond the served")
            << QStringList{"0002 0000 0006 0C 03 0000 0001"} << QStringList{"ignored: address 11 not served"} << false;
        QTest::newRow("unit 0, broadcast")
            << QStringList{"0002 0000 0006 00 03 0000 0001"} << QStringList{"ignored: broadcast"} << false;
        QTest::newRow("read past register 1023")
            << QStringList{"0003 0000 0006 06 03 03FC 0008"} << QStringList{"0003 0000 0003 06 83 02"} << false;
        QTest::newRow("function not served")
            << QStringList{"0004 0000 0006 06 06 0001 0002"} << QStringList{"0004 0000 0003 06 86 01"} << false;
        QTest::newRow("function of any length not served")
            << QStringList{"0005 0000 0005 06 2B 0E 01 00"} << QStringList{"0005 0000 0003 06 AB 01"} << false;
        QTest::newRow("read of the wrong length")
            << QStringList{"000B 0000 0007 06 03 0000 0001 FF"} << QStringList{"000B 0000 0003 06 83 03"} << false;
        QTest::newRow("fault exception=04")
            << QStringList{"0006 0000 0006 04 03 0000 0001"} << QStringList{"0006 0000 0003 04 83 04"} << false;
        QTest::newRow("fault badcheck: the length one too many")
            << QStringList{"000D 0000 0006 05 03 0000 0001"} << QStringList{"000D 0000 0006 05 03 02 0190"} << false;
        // Not a header: logged, and the buffer behind it dropped; the next segment starts afresh.
        QTest::newRow("protocol id 1") << QStringList{"0007 0001 0006 06 03 0000 0001" + hold, hold}
                                       << QStringList{"protocol id 0001", holdReply} << false;
        QTest::newRow("protocol id seen in 4 bytes")
            << QStringList{"0007 0102"} << QStringList{"protocol id 0102"} << false;
        QTest::newRow("length 0") << QStringList{"0008 0000 0000 06 03"} << QStringList{"length 0,"} << false;
        QTest::newRow("length 255") << QStringList{"0009 0000 00FF 06 03"} << QStringList{"length 255,"} << false;
        QTest::newRow("no function code")
            << QStringList{"000A 0000 0001 06", hold} << QStringList{"no function code", holdReply} << false;
    }

    void mbap()
    {
        QFETCH(QStringList, segments);
        QFETCH(QStringList, expected);
        QFETCH(bool, pendingAfter);
        SimConfig c = configFor(Protocol::Modbus);
        c.served = {{0, 10}};
        c.faults[3].exceptionCode = 0x04;
        c.faults[4].badCheck = true;
        SimCore core(c);
        FrameAssembler assembler(core, true);
        LinkState link;
        link.tcp = link.mbap = true;
        QStringList got;
        for (const QString& segment : segments) {
            for (const QByteArray& frame : assembler.feed(QByteArray::fromHex(segment.toLatin1()))) {
                const Decision d = core.handleFrame(frame, link);
                QVERIFY(d.replies.size() <= 1);
                got << (d.replies.isEmpty() ? d.verdict : hexBytes(d.replies[0].bytes).remove(QLatin1Char(' ')));
            }
        }
        QCOMPARE(got.size(), expected.size());
        static const QRegularExpression bytes(QStringLiteral("^[0-9A-F ]+$"));
        for (qsizetype i = 0; i < got.size(); ++i) {
            if (bytes.match(expected[i]).hasMatch())
                QCOMPARE(got[i], QString(expected[i]).remove(QLatin1Char(' ')));
            else
                QVERIFY2(got[i].contains(expected[i]), qPrintable(got[i]));
        }
        QCOMPARE(assembler.pending(), pendingAfter);
    }

    void mbapFaults()
    {
        SimConfig c = configFor(Protocol::Modbus);
        c.faults[3].partialBytes = 7;
        c.faults[4].dropAfter = 0;
        c.faults[5].answerFrom = 2;
        SimCore core(c);
        LinkState link;
        link.tcp = link.mbap = true;
        auto read = [](int unit) { return hex("0001 0000 0006") + char(unit) + hex("03 0000 0001"); };
        QCOMPARE(core.handleFrame(read(4), link).replies.value(0).bytes, hex("0001 0000 0005 04"));
        QVERIFY(core.handleFrame(read(5), link).dropConnection);
        QVERIFY(core.handleFrame(read(6), link).replies.isEmpty());
        QCOMPARE(core.handleFrame(read(6), link).replies.value(0).bytes, hex("0001 0000 0005 06 03 02 01F4"));
        // A datagram is one frame: a length that disagrees with it is no frame.
        LinkState udp;
        udp.mbap = true;
        const Decision d = core.handleFrame(read(1) + hex("00"), udp);
        QVERIFY(d.replies.isEmpty());
        QVERIFY2(d.verdict.contains(QLatin1String("does not match")), qPrintable(d.verdict));
        QVERIFY(!core.handleFrame(read(5), udp).dropConnection); // no connection to drop
    }

    // ---- command line

    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("ok");
        QTest::newRow("none") << QStringList{} << true;
        QTest::newRow("full") << QStringList{"--protocol",  "customer", "--code",  "bb",          "--tcp",
                                             "127.0.0.1:0", "--link",   "/tmp/x",  "--addresses", "1,3,7-9",
                                             "--fault",     "3:silent", "--fault", "7-8:from=2",  "--fault=9:partial",
                                             "--gap",       "5"}
                              << true;
        QTest::newRow("unknown option") << QStringList{"--bogus"} << false;
        QTest::newRow("bad protocol") << QStringList{"--protocol", "x25"} << false;
        QTest::newRow("bad address") << QStringList{"--addresses", "3-1"} << false;
        QTest::newRow("bad fault mode") << QStringList{"--fault", "3:explode"} << false;
        QTest::newRow("fault without value") << QStringList{"--fault", "3:delay"} << false;
        QTest::newRow("fault without list") << QStringList{"--fault", "silent"} << false;
        QTest::newRow("bad port") << QStringList{"--tcp", "localhost:70000"} << false;
        QTest::newRow("stray argument") << QStringList{"modbus"} << false;
        QTest::newRow("udp") << QStringList{"--udp", "0"} << true;
        QTest::newRow("bad udp port") << QStringList{"--udp", "127.0.0.1:x"} << false;
        QTest::newRow("mbap") << QStringList{"--protocol", "modbus", "--mbap"} << true;
        QTest::newRow("mbap on udp") << QStringList{"--protocol", "modbus", "--mbap", "--udp", "0"} << true;
        QTest::newRow("mbap under the default protocol") << QStringList{"--mbap"} << false;
        QTest::newRow("mbap under p4plus") << QStringList{"--protocol", "p4plus", "--mbap"} << false;
        QTest::newRow("mbap with no tcp or udp") << QStringList{"--protocol", "modbus", "--mbap", "--serial"} << false;
        QTest::newRow("exception") << QStringList{"--protocol", "modbus", "--fault", "3:exception=0b"} << true;
        QTest::newRow("exception under p4") << QStringList{"--fault", "3:exception=02"} << false;
        QTest::newRow("exception under bioscrypt")
            << QStringList{"--protocol", "bioscrypt", "--fault", "3:exception=02"} << false;
        QTest::newRow("exception 00") << QStringList{"--protocol", "modbus", "--fault", "3:exception=00"} << false;
        QTest::newRow("exception not hex") << QStringList{"--protocol", "modbus", "--fault", "3:exception=0G"} << false;
        QTest::newRow("exception too long")
            << QStringList{"--protocol", "modbus", "--fault", "3:exception=102"} << false;
        QTest::newRow("exception without code")
            << QStringList{"--protocol", "modbus", "--fault", "3:exception"} << false;
    }

    void options()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, ok);
        SimOptions o;
        QString error;
        QCOMPARE(parseOptions(args, o, error), ok);
        QCOMPARE(error.isEmpty(), ok);
        QVERIFY(!error.contains(QLatin1Char('\n')));
    }

    void optionValues()
    {
        SimOptions o;
        QString error;
        QVERIFY(parseOptions({"--protocol", "customer", "--code", "bb", "--tcp", "127.0.0.1:0", "--addresses",
                              "1,3,7-9", "--fault", "3,7:from=2", "--fault", "7:badcheck", "--echo"},
                             o, error));
        QCOMPARE(o.config.protocol, Protocol::Customer);
        QCOMPARE(o.config.customerCode, 0xBB);
        QVERIFY(o.tcp);
        QVERIFY(!o.serial); // naming one link chooses only that one
        QCOMPARE(o.tcpPort, quint16(0));
        QVERIFY(o.config.serves(8) && o.config.serves(1) && !o.config.serves(2));
        QCOMPARE(o.config.faults[7].answerFrom, 2);
        QVERIFY(o.config.faults[7].badCheck);
        QVERIFY(!o.config.faults[3].badCheck);
        QVERIFY(o.echo);
        SimOptions u;
        QVERIFY(parseOptions(
            {"--protocol", "modbus", "--udp", "10.0.0.1:1502", "--mbap", "--fault", "4-5:exception=0A"}, u, error));
        QVERIFY(u.udp && u.mbap && !u.tcp && !u.serial);
        QCOMPARE(u.udpHost, QStringLiteral("10.0.0.1"));
        QCOMPARE(u.udpPort, quint16(1502));
        QCOMPARE(u.config.faults[5].exceptionCode, 0x0A);
        QCOMPARE(u.config.faults.value(3).exceptionCode, -1);
        SimOptions d;
        QVERIFY(parseOptions({}, d, error));
        QVERIFY(d.tcp && d.serial && !d.udp && !d.mbap && !d.echo);
        QCOMPARE(d.tcpPort, quint16(1001));
        QVERIFY(d.config.serves(0) && d.config.serves(254) && !d.config.serves(255));
    }
};

QTEST_GUILESS_MAIN(TestSimCore)
#include "tst_sim_core.moc"
