#include "ReplyCheck.h"

#include "Conversions.h"
#include "Crc.h"
#include "Explain.h"
#include "Mbap.h"

namespace tarvo {

namespace {

// The bytes as the journal writes them: "1A 2B".
QString spaced(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QByteArray twoBytes(uint16_t value, bool lowFirst)
{
    const char low = static_cast<char>(value & 0xFF);
    const char high = static_cast<char>(value >> 8);
    return lowFirst ? QByteArray{&low, 1} + QByteArray{&high, 1} : QByteArray{&high, 1} + QByteArray{&low, 1};
}

// The least a frame of the protocol can be, its check value included; 0 where it has none.
int shortestFrame(Protocol p)
{
    switch (p) {
    case Protocol::Modbus:
        return 4; // address, function, CRC
    case Protocol::Protocol4:
    case Protocol::Protocol4Plus:
    case Protocol::Customer:
        return 6; // two bytes, the count, the check value, the end byte
    case Protocol::Bioscrypt:
        return 18; // header, address, code, zeros, check value
    case Protocol::None:
        break;
    }
    return 0;
}

QString checkName(Protocol p)
{
    switch (p) {
    case Protocol::Modbus:
        return QStringLiteral("CRC-16/MODBUS");
    case Protocol::Protocol4Plus:
        return QStringLiteral("byte sum");
    case Protocol::Bioscrypt:
        return QStringLiteral("negated byte sum");
    default:
        return QStringLiteral("CRC-16/XMODEM");
    }
}

// The check value a frame carries and the one its content gives, for one whole frame.
struct Carried {
    QByteArray carried;
    QByteArray computed;
};

Carried checkValues(Protocol p, const QByteArray& f, bool encrypt, const QString& password)
{
    const qsizetype n = f.size();
    switch (p) {
    case Protocol::Modbus:
        return {f.right(2), twoBytes(crcModbus(QByteArrayView(f).first(n - 2)), true)};
    case Protocol::Protocol4:
    case Protocol::Customer:
        // The same bytes as the console's indicator: all but the check value and the end byte.
        return {f.mid(n - 3, 2), twoBytes(crcXmodem(QByteArrayView(f).first(n - 3)), false)};
    case Protocol::Protocol4Plus:
        return {f.mid(n - 3, 2), frameToBytes(SumCheck(ByteArrayToHex(f.left(n - 3), true), encrypt, password))};
    case Protocol::Bioscrypt:
        return {f.right(4), frameToBytes(ReverseDigitQuads(NegSumHex(ByteArrayToHex(f.mid(4, n - 8), true))))};
    case Protocol::None:
        break;
    }
    return {};
}

QString addressNote(const QByteArray& reply, Protocol p, const QByteArray& request, bool commandLine)
{
    qsizetype at = -1;
    qsizetype length = 1;
    switch (p) {
    case Protocol::Modbus:
        at = 0;
        break;
    case Protocol::Protocol4:
    case Protocol::Protocol4Plus:
    case Protocol::Customer:
        at = commandLine ? 1 : 0;
        break;
    case Protocol::Bioscrypt:
        at = 4;
        length = 2;
        break;
    case Protocol::None:
        break;
    }
    if (at < 0 || reply.size() < at + length || request.size() < at + length)
        return {};
    const QByteArray theirs = reply.mid(at, length);
    const QByteArray ours = request.mid(at, length);
    if (theirs == ours)
        return {};
    return QStringLiteral("address %1 is not the request's %2: bytes of an earlier exchange?")
        .arg(spaced(theirs), spaced(ours));
}

// A Modbus exception reply's PDU: the function with its top bit set, and one code.
bool isExceptionPdu(QByteArrayView pdu)
{
    return pdu.size() == 2 && (static_cast<uchar>(pdu[0]) & 0x80) != 0;
}

ReplyJudgement judgeMbap(const QByteArray& reply, const QByteArray& request)
{
    ReplyJudgement j;
    QStringList notes;
    j.result = ReplyJudgement::Result::Ok;
    const int whole = mbap::frameLength(reply);
    if (reply.size() < mbap::kHeaderSize + 1) {
        j.result = ReplyJudgement::Result::Bad;
        notes << QStringLiteral("too short");
    } else if (whole < 0) {
        j.result = ReplyJudgement::Result::Bad;
        notes << QStringLiteral("no Modbus TCP header (protocol id %1, length %2)")
                     .arg(mbap::protocolId(reply))
                     .arg(mbap::length(reply));
    } else if (whole != reply.size()) {
        j.result = ReplyJudgement::Result::Bad;
        notes << QStringLiteral("its length %1 does not fit its %2 bytes").arg(mbap::length(reply)).arg(reply.size());
    } else if (isExceptionPdu(mbap::pdu(reply))) {
        j.result = ReplyJudgement::Result::Exception;
        j.exceptionCode = static_cast<uchar>(reply[mbap::kHeaderSize + 1]);
        notes << modbusExceptionText(j.exceptionCode);
    }
    if (request.size() >= mbap::kHeaderSize && reply.size() >= mbap::kHeaderSize) {
        if (mbap::transaction(reply) != mbap::transaction(request))
            notes << QStringLiteral("transaction %1 is not the request's %2")
                         .arg(spaced(reply.first(2)), spaced(request.first(2)));
        if (mbap::unit(reply) != mbap::unit(request))
            notes << QStringLiteral("unit %1 is not the request's %2")
                         .arg(spaced(reply.sliced(6, 1)), spaced(request.sliced(6, 1)));
    }
    j.detail = notes.join(QStringLiteral("; "));
    return j;
}

} // namespace

QString modbusExceptionText(int code)
{
    const QString hex = QStringLiteral("%1").arg(code, 2, 16, QLatin1Char('0')).toUpper();
    const QString name = modbusExceptionName(code);
    return name.isEmpty() ? QStringLiteral("exception ") + hex : hex + QLatin1Char(' ') + name.toLower();
}

ReplyJudgement judgeReply(const QByteArray& reply, Protocol p, bool encrypt, const QString& password,
                          const QByteArray& request, bool commandLine, bool mbapFramed)
{
    ReplyJudgement j;
    if (p == Protocol::None)
        return j;
    if (mbapFramed && p == Protocol::Modbus)
        return judgeMbap(reply, request);
    QStringList notes;
    j.result = ReplyJudgement::Result::Ok;
    if (reply.size() < shortestFrame(p)) {
        j.result = ReplyJudgement::Result::Bad;
        notes << QStringLiteral("too short");
    } else if (p == Protocol::Bioscrypt) {
        // An acknowledgement and a response come as two frames: each holds its own check value.
        qsizetype at = 0;
        while (at < reply.size()) {
            const QByteArray rest = reply.mid(at);
            const int length = completeFrameLength(p, rest, encrypt, password);
            if (length > 0) {
                at += length;
                continue;
            }
            j.result = ReplyJudgement::Result::Bad;
            if (rest.size() < shortestFrame(p)) {
                notes << QStringLiteral("too short");
            } else {
                const Carried c = checkValues(p, rest, encrypt, password);
                notes << QStringLiteral("%1 carried %2, computed %3")
                             .arg(checkName(p), spaced(c.carried), spaced(c.computed));
            }
            break;
        }
    } else {
        const Carried c = checkValues(p, reply, encrypt, password);
        const bool checkHolds = c.carried == c.computed;
        // Protocol 4, 4+ and Customer replies count their data in their third byte; a message heard
        // may also be another master's request, which has no count.
        const bool counted = p == Protocol::Modbus || reply.size() == 6 + static_cast<uchar>(reply[2]);
        if (!checkHolds) {
            j.result = ReplyJudgement::Result::Bad;
            notes << QStringLiteral("%1 carried %2, computed %3")
                         .arg(checkName(p), spaced(c.carried), spaced(c.computed));
        } else if (p == Protocol::Modbus && isExceptionPdu(QByteArrayView(reply).sliced(1, reply.size() - 3))) {
            j.result = ReplyJudgement::Result::Exception;
            j.exceptionCode = static_cast<uchar>(reply[2]);
            notes << modbusExceptionText(j.exceptionCode);
        } else if (!counted && !request.isEmpty()) {
            j.result = ReplyJudgement::Result::Bad;
            notes << QStringLiteral("its count %1 does not fit its %2 bytes")
                         .arg(static_cast<uchar>(reply[2]))
                         .arg(reply.size());
        }
    }
    const QString address = addressNote(reply, p, request, commandLine);
    if (!address.isEmpty())
        notes << address;
    j.detail = notes.join(QStringLiteral("; "));
    return j;
}

bool replyCheckFails(const QByteArray& bytes, Protocol protocol, bool encrypt, const QString& password)
{
    if (protocol != Protocol::Protocol4 && protocol != Protocol::Protocol4Plus && protocol != Protocol::Customer)
        return false;
    const QString text = ByteArrayToHex(bytes, false);
    const qsizetype n = text.size();
    if (n <= 8)
        return false;
    // The last byte but two and the last byte but one: the check value before the end byte.
    const QString received = text.mid(n - 9, 2) + text.mid(n - 6, 2);
    const QString covered = ByteArrayToHex(bytes, true);
    const QString computed =
        protocol == Protocol::Protocol4Plus ? SumCheck(covered, encrypt, password) : CrcCcitt(covered);
    return received != computed;
}

} // namespace tarvo
