#include "Explain.h"

#include "Conversions.h"
#include "Crc.h"
#include "Errors.h"
#include "Mbap.h"
#include "Requests.h"

#include <QRegularExpression>

namespace tarvo {

namespace {

const QByteArray kBioscryptHeader = QByteArray::fromHex("40286BFE");

QString hex(const QByteArray& bytes)
{
    return ByteArrayToHex(bytes, false).trimmed();
}

QString byteText(const QByteArray& bytes, int offset)
{
    return hex(bytes.mid(offset, 1));
}

int byteAt(const QByteArray& bytes, int offset)
{
    return static_cast<unsigned char>(bytes.at(offset));
}

int wordAt(const QByteArray& bytes, int offset)
{
    return byteAt(bytes, offset) << 8 | byteAt(bytes, offset + 1);
}

QString checkName(Protocol p)
{
    switch (p) {
    case Protocol::Modbus:
        return QStringLiteral("CRC-16/MODBUS");
    case Protocol::Protocol4:
    case Protocol::Customer:
        return QStringLiteral("CRC-16/XMODEM");
    case Protocol::Protocol4Plus:
        return QStringLiteral("byte sum");
    case Protocol::Bioscrypt:
        return QStringLiteral("negated byte sum");
    case Protocol::None:
        break;
    }
    return {};
}

// The check value the framing puts after (or around) the covered bytes, as bytes.
QByteArray checkOf(Protocol p, const QByteArray& covered, bool encrypt, const QString& password)
{
    const QString text = hex(covered).remove(QLatin1Char(' '));
    switch (p) {
    case Protocol::Modbus:
        return frameToBytes(CrcModbus(text));
    case Protocol::Protocol4:
    case Protocol::Customer:
        return frameToBytes(CrcCcitt(text));
    case Protocol::Protocol4Plus:
        return frameToBytes(SumCheck(text, encrypt, password));
    case Protocol::Bioscrypt:
        return frameToBytes(ReverseDigitQuads(NegSumHex(text)));
    case Protocol::None:
        break;
    }
    return {};
}

class Builder {
public:
    explicit Builder(FrameExplanation& e) : m_e(e) {}
    void add(int length, const QString& name, const QString& meaning)
    {
        length = std::min(length, static_cast<int>(m_e.bytes.size()) - m_at);
        if (length <= 0)
            return;
        m_e.fields.append({m_at, length, name, meaning});
        m_at += length;
    }
    int at() const { return m_at; }
    int left(int reserved = 0) const { return static_cast<int>(m_e.bytes.size()) - m_at - reserved; }

private:
    FrameExplanation& m_e;
    int m_at = 0;
};

void setCheck(FrameExplanation& e, Protocol p, const QByteArray& received, const QByteArray& computed)
{
    e.checkName = checkName(p);
    e.received = received;
    e.computed = computed;
    e.verdict = received == computed ? CheckVerdict::Ok : CheckVerdict::Bad;
}

// The check value of the protocol over the bytes taken as one whole frame.
void checkAsWhole(FrameExplanation& e, Protocol p, bool encrypt, const QString& password)
{
    const QByteArray& b = e.bytes;
    const int n = static_cast<int>(b.size());
    switch (p) {
    case Protocol::Modbus:
        setCheck(e, p, b.right(2), checkOf(p, b.left(n - 2), false, {}));
        return;
    case Protocol::Protocol4:
    case Protocol::Protocol4Plus:
    case Protocol::Customer:
        setCheck(e, p, b.mid(n - 3, 2), checkOf(p, b.left(n - 3), encrypt, password));
        return;
    case Protocol::Bioscrypt:
        setCheck(e, p, b.right(4), checkOf(p, b.mid(4, n - 8), false, {}));
        return;
    case Protocol::None:
        break;
    }
    e.verdict = CheckVerdict::Unchecked;
}

QString wireAddress(int wire)
{
    return QStringLiteral("%1 on the wire: console address %2").arg(wire).arg(wire - 1);
}

// The frame's bytes (its length fixed before) as a Modbus frame: the check value is its last two.
void modbusFields(FrameExplanation& e)
{
    const QByteArray& b = e.bytes;
    const int n = static_cast<int>(b.size());
    const int f = byteAt(b, 1);
    Builder out(e);
    out.add(1, QStringLiteral("address"), wireAddress(byteAt(b, 0)));
    const int body = n - 4;
    if ((f & 0x80) && body >= 1) {
        e.reply = true;
        out.add(1, QStringLiteral("function"), modbusFunctionName(f) + QStringLiteral(", refused"));
        const int code = byteAt(b, 2);
        const QString name = modbusExceptionName(code);
        out.add(1, QStringLiteral("exception"),
                QStringLiteral("%1%2")
                    .arg(code, 2, 16, QLatin1Char('0'))
                    .toUpper()
                    .arg(name.isEmpty() ? QString() : QStringLiteral(": ") + name));
        // An exception reply has no more; a longer frame whose check value holds keeps its bytes named.
        out.add(out.left(2), QStringLiteral("data"), QString());
    } else if (body >= 1 && body == 1 + byteAt(b, 2) && (f <= 0x04 || f == 0x18)) {
        e.reply = true;
        out.add(1, QStringLiteral("function"), modbusFunctionName(f));
        out.add(1, QStringLiteral("byte count"), QString::number(byteAt(b, 2)));
        if ((f == 0x03 || f == 0x04) && byteAt(b, 2) % 2 == 0) {
            for (int k = 0; k < byteAt(b, 2) / 2; ++k) {
                const int v = wordAt(b, out.at());
                out.add(2, QStringLiteral("register %1").arg(k + 1),
                        QStringLiteral("%1 (%2)").arg(v).arg(v, 4, 16, QLatin1Char('0')).toUpper());
            }
        } else {
            out.add(byteAt(b, 2), f <= 0x02 ? QStringLiteral("bits") : QStringLiteral("data"), QString());
        }
    } else if (body == 4 && f >= 0x01 && f <= 0x06) {
        out.add(1, QStringLiteral("function"), modbusFunctionName(f));
        const bool write = f >= 0x05;
        const int first = wordAt(b, 2);
        out.add(2, write ? QStringLiteral("address") : QStringLiteral("start"),
                QStringLiteral("%1 (%2)").arg(first).arg(first, 4, 16, QLatin1Char('0')).toUpper());
        out.add(2, write ? QStringLiteral("value") : QStringLiteral("count"), QString::number(wordAt(b, 4)));
    } else {
        out.add(1, QStringLiteral("function"), modbusFunctionName(f));
        out.add(out.left(2), QStringLiteral("data"), QString());
    }
    out.add(2, QStringLiteral("check value"), QStringLiteral("CRC-16/MODBUS, low byte first"));
}

void endByte(Builder& out, const QByteArray& b)
{
    const int end = byteAt(b, static_cast<int>(b.size()) - 1);
    out.add(1, QStringLiteral("end byte"),
            end == 0x04 ? QStringLiteral("04")
                        : QStringLiteral("%1, not 04").arg(byteText(b, static_cast<int>(b.size()) - 1)));
}

// The frame's bytes (its length fixed before): the check value is the two bytes before the last.
void leadFamily(FrameExplanation& e, Protocol p)
{
    const QByteArray& b = e.bytes;
    const int n = static_cast<int>(b.size());
    Builder out(e);
    // The count layout: b1 b2 N, N data bytes, two check bytes, the end byte. Replies have it, and so
    // do command lines (lead byte, console address, length, command).
    if (n >= 6 && 3 + byteAt(b, 2) + 3 == n) {
        e.reply = true;
        out.add(1, QStringLiteral("first byte"),
                byteAt(b, 0) == 0x40 ? QStringLiteral("lead byte 40") : QStringLiteral("lead byte or address"));
        out.add(1, QStringLiteral("second byte"), QStringLiteral("console address or function"));
        out.add(1, QStringLiteral("count"), QStringLiteral("%1 data bytes").arg(byteAt(b, 2)));
        out.add(byteAt(b, 2), QStringLiteral("data"), QString());
    } else {
        // A frame of four bytes has room for one byte before its check value.
        out.add(1, QStringLiteral("address"), wireAddress(byteAt(b, 0)));
        if (out.left(3) > 0)
            out.add(1, QStringLiteral("function"), modbusFunctionName(byteAt(b, 1)));
        out.add(out.left(3), QStringLiteral("data"), QString());
    }
    out.add(2, QStringLiteral("check value"), checkName(p));
    endByte(out, b);
}

// What the first digit of a Bioscrypt command code says: the console's request flags (acknowledge 1,
// respond 2), or the kind of a controller's message; empty for a digit that is neither.
QString bioscryptCodeKind(QChar digit, bool request)
{
    switch (digit.unicode()) {
    case '0':
        return QStringLiteral("flags 0: no reply asked");
    case '1':
        return QStringLiteral("flags 1: acknowledgement asked");
    case '2':
        return QStringLiteral("flags 2: response asked");
    case '3':
        return QStringLiteral("flags 3: acknowledgement and response asked");
    case '4':
        return request ? QString() : QStringLiteral("a response");
    case '8':
        return request ? QString() : QStringLiteral("an acknowledgement");
    default:
        return {};
    }
}

bool bioscryptReplyCode(const QByteArray& inner)
{
    if (inner.size() < 10)
        return false;
    const QString code = SwapDigitPairs(hex(inner.mid(4, 2)).remove(QLatin1Char(' ')));
    return code.startsWith(QLatin1Char('4')) || code.startsWith(QLatin1Char('8'));
}

// The bytes between the header and the check value, given alone (`inner`), taken apart where the
// builder stands: the address and 0001 with the digits of each byte swapped, the command code likewise,
// the data with every four digits reversed, four zero bytes. `request`: the console's own frame, whose
// code's first digit is its flags whatever it holds.
void bioscryptInner(Builder& out, const QByteArray& inner, bool request)
{
    const int innerLength = static_cast<int>(inner.size());
    if (innerLength < 10) {
        out.add(innerLength, QStringLiteral("data"), QString());
        return;
    }
    auto digits = [&](int offset, int length) { return hex(inner.mid(offset, length)).remove(QLatin1Char(' ')); };
    const QString address = SwapDigitPairs(digits(0, 2));
    out.add(2, QStringLiteral("address"),
            QStringLiteral("console address %1").arg(static_cast<qint64>(HexToDec(address))));
    const QString one = SwapDigitPairs(digits(2, 2));
    out.add(2, QStringLiteral("0001"), one == QLatin1String("0001") ? QString() : one + QStringLiteral(", not 0001"));
    const QString code = SwapDigitPairs(digits(4, 2));
    const QString kind = bioscryptCodeKind(code.at(0), request);
    out.add(2, QStringLiteral("command"),
            QStringLiteral("%1 (%2)").arg(code, kind.isEmpty() ? QStringLiteral("flags ") + code.left(1) : kind));
    if (innerLength > 10)
        out.add(innerLength - 10, QStringLiteral("data"),
                QStringLiteral("%1 (each four digits reversed on the wire)")
                    .arg(ReverseDigitQuads(digits(6, innerLength - 10))));
    out.add(4, QStringLiteral("zeros"), inner.right(4) == QByteArray(4, '\0') ? QString() : QStringLiteral("not zero"));
}

// Whether the check value of the protocol holds for the first `length` bytes taken as a whole frame.
bool checkHolds(Protocol p, const QByteArray& b, int length, bool encrypt, const QString& password)
{
    if (length > b.size())
        return false;
    switch (p) {
    case Protocol::Modbus:
        return length >= 4 && checkOf(p, b.left(length - 2), false, {}) == b.mid(length - 2, 2);
    case Protocol::Protocol4:
    case Protocol::Protocol4Plus:
    case Protocol::Customer:
        return length >= 4 && checkOf(p, b.left(length - 3), encrypt, password) == b.mid(length - 3, 2);
    case Protocol::Bioscrypt:
        return length >= 8 && checkOf(p, b.mid(4, length - 8), false, {}) == b.mid(length - 4, 4);
    case Protocol::None:
        break;
    }
    return false;
}

// The lengths a Modbus frame can have by its function code, the likelier first (a read's reply before
// its request); empty for a code whose lengths are not known here.
QList<int> modbusLengths(const QByteArray& b)
{
    if (b.size() < 3)
        return {};
    const int f = byteAt(b, 1);
    if (f & 0x80)
        return {5};
    if (f <= 0x04 || f == 0x18)
        return {5 + byteAt(b, 2), 8, 5};
    if (f == 0x05 || f == 0x06)
        return {8};
    // Write multiple: the request's length is in its seventh byte, the reply has 8. Before the seventh
    // byte has come neither can be complete, but the function is still known: trying every length
    // would let a CRC that holds by chance cut the frame.
    if (f == 0x0F || f == 0x10)
        return b.size() >= 7 ? QList<int>{9 + byteAt(b, 6), 8} : QList<int>{8};
    return {};
}

// Where the frame at the start of the bytes ends: at the first complete frame, as the monitor and the
// simulator cut them; else at the end of the bytes when their check value holds over them all; else
// where the layout ends it, so that a frame followed by stray bytes is read at its own check value, not
// at the stray bytes' end. The complete frame comes first because a Modbus frame with a 00 after it
// always has a CRC that holds over all its bytes (the CRC of a frame and its CRC's low byte is the high
// byte), so a single stray zero would otherwise shift the check value.
int frameLength(Protocol p, const QByteArray& b, bool encrypt, const QString& password)
{
    const int n = static_cast<int>(b.size());
    if (const int complete = completeFrameLength(p, b, encrypt, password); complete > 0)
        return complete;
    if (checkHolds(p, b, n, encrypt, password))
        return n;
    switch (p) {
    case Protocol::Modbus: {
        const QList<int> lengths = modbusLengths(b);
        if (lengths.contains(n))
            return n;
        int longest = 0;
        for (int len : lengths) {
            if (len >= 4 && len < n)
                longest = std::max(longest, len);
        }
        return longest > 0 ? longest : n;
    }
    case Protocol::Protocol4:
    case Protocol::Protocol4Plus:
    case Protocol::Customer: {
        // The end byte where it belongs ends the frame; else a count whose end byte is in its place.
        if (byteAt(b, n - 1) == 0x04)
            return n;
        const int counted = 3 + byteAt(b, 2) + 3;
        return counted < n && byteAt(b, counted - 1) == 0x04 ? counted : n;
    }
    case Protocol::Bioscrypt:
    case Protocol::None:
        break;
    }
    return n;
}

// Modbus TCP. The header takes the place of the RTU frame's address and CRC; the PDU between them is
// the same, so it is named by the RTU code over the equivalent RTU frame (unit id, PDU, CRC) and its
// fields moved into place: an RTU offset k is MBAP offset k + 6.
const QString kMbapCheck = QStringLiteral("MBAP length");

QByteArray bigEndian(int value)
{
    QByteArray out;
    out.append(static_cast<char>(value >> 8 & 0xFF));
    out.append(static_cast<char>(value & 0xFF));
    return out;
}

// The header's four fields, named for a frame of `frameLength` bytes (its own, trailing bytes aside)
// read as a reply or a request (neither: bytes that are no frame).
void mbapHeaderFields(Builder& out, const QByteArray& b, int frameLength, std::optional<bool> reply)
{
    const int transaction = wordAt(b, 0);
    out.add(2, QStringLiteral("transaction id"),
            !reply   ? QStringLiteral("%1: pairs a reply with its request").arg(transaction)
            : *reply ? QStringLiteral("%1: that of the request it answers").arg(transaction)
                     : QStringLiteral("%1: the reply carries it back").arg(transaction));
    const int protocolId = wordAt(b, 2);
    out.add(2, QStringLiteral("protocol id"),
            protocolId == 0 ? QStringLiteral("0: Modbus") : QStringLiteral("%1, not 0: not Modbus").arg(protocolId));
    const int length = wordAt(b, 4);
    const int follow = frameLength - 6;
    QString lengthMeaning;
    if (length == 0 || length > mbap::kMaxLength)
        lengthMeaning = QStringLiteral("%1: a header gives 1 to %2").arg(length).arg(mbap::kMaxLength);
    else if (length == 1)
        lengthMeaning = QStringLiteral("1: the unit id alone");
    else if (length == follow)
        lengthMeaning = QStringLiteral("%1 bytes follow: the unit id and the PDU").arg(length);
    else
        lengthMeaning = QStringLiteral("%1, but %2 bytes follow").arg(length).arg(follow);
    out.add(2, QStringLiteral("length"), lengthMeaning);
    const int unit = byteAt(b, 6);
    // The unit id is the address byte of the RTU frame: console address + 1.
    out.add(1, QStringLiteral("unit id"),
            unit == 0 ? QStringLiteral("0: broadcast, no console address")
                      : QStringLiteral("%1: console address %2").arg(unit).arg(unit - 1));
}

// The Modbus TCP frame of an RTU frame already taken apart (rtu.fields name its bytes): the header,
// then the RTU fields that lie between its address and its CRC, moved into place.
FrameExplanation mbapOf(const FrameExplanation& rtu, const QByteArray& mbapBytes, int frameLength)
{
    FrameExplanation e;
    e.bytes = mbapBytes;
    e.reply = rtu.reply;
    Builder out(e);
    mbapHeaderFields(out, mbapBytes, frameLength, rtu.reply);
    const int rtuEnd = static_cast<int>(rtu.bytes.size()) - 2;
    for (const FrameField& f : rtu.fields) {
        if (f.offset >= 1 && f.offset + f.length <= rtuEnd)
            e.fields.append({f.offset + 6, f.length, f.name, f.meaning});
    }
    e.checkName = kMbapCheck;
    e.received = mbapBytes.mid(4, 2);
    e.computed = bigEndian(std::min(frameLength - 6, 0xFFFF));
    e.verdict = e.received == e.computed ? CheckVerdict::Ok : CheckVerdict::Bad;
    return e;
}

// The RTU frame that carries the same unit id and PDU as a Modbus TCP frame: a good CRC appended.
QByteArray rtuOf(const QByteArray& mbapFrame)
{
    return appendCheck(CheckKind::Crc16Modbus, mbapFrame.mid(6));
}

FrameExplanation explainMbapFrame(const QByteArray& bytes)
{
    const int n = static_cast<int>(bytes.size());
    FrameExplanation e;
    e.bytes = bytes;
    e.verdict = CheckVerdict::NotAFrame;
    if (n <= mbap::kHeaderSize) {
        e.problem = QStringLiteral("a Modbus TCP frame has at least 8 bytes: a header of 7 (transaction id, protocol "
                                   "id, length, unit id) and a function");
        if (n > 0)
            e.fields = {{0, n, QStringLiteral("bytes"), QString()}};
        return e;
    }
    const int whole = mbap::frameLength(bytes);
    // A length of 1 counts the unit id alone: a frame without a function, which Modbus has not.
    if (whole < 0 || whole == mbap::kHeaderSize) {
        // The header's fields still show which of them is wrong.
        if (mbap::protocolId(bytes) != 0)
            e.problem = QStringLiteral("protocol id %1 is not 0: no Modbus TCP header").arg(mbap::protocolId(bytes));
        else if (whole == mbap::kHeaderSize)
            e.problem = QStringLiteral("length 1: the unit id alone, no function after it");
        else
            e.problem = QStringLiteral("length %1: a Modbus TCP header gives 1 to %2")
                            .arg(mbap::length(bytes))
                            .arg(mbap::kMaxLength);
        Builder out(e);
        mbapHeaderFields(out, bytes, n, std::nullopt);
        out.add(out.left(), QStringLiteral("data"), QString());
        return e;
    }
    // A length beyond the bytes leaves the frame short: its bytes are read as they are, and the length
    // is the check that fails. Bytes beyond the length belong to no frame of theirs.
    const int length = whole > 0 ? whole : n;
    FrameExplanation rtu;
    rtu.bytes = rtuOf(bytes.left(length));
    modbusFields(rtu);
    e = mbapOf(rtu, bytes.left(length), length);
    e.bytes = bytes;
    if (length < n) {
        e.trailing = n - length;
        e.fields.append({length, e.trailing, QStringLiteral("trailing bytes"),
                         QStringLiteral("after the frame; its length does not count them")});
    }
    return e;
}

} // namespace

QString modbusFunctionName(int f)
{
    switch (f & 0x7F) {
    case 0x01:
        return QStringLiteral("read coils");
    case 0x02:
        return QStringLiteral("read discrete inputs");
    case 0x03:
        return QStringLiteral("read holding registers");
    case 0x04:
        return QStringLiteral("read input registers");
    case 0x05:
        return QStringLiteral("write single coil");
    case 0x06:
        return QStringLiteral("write single register");
    case 0x0F:
        return QStringLiteral("write multiple coils");
    case 0x10:
        return QStringLiteral("write multiple registers");
    case 0x18:
        return QStringLiteral("query");
    default:
        return QStringLiteral("function %1").arg(QStringLiteral("%1").arg(f & 0x7F, 2, 16, QLatin1Char('0')).toUpper());
    }
}

QString checkVerdictName(CheckVerdict verdict)
{
    switch (verdict) {
    case CheckVerdict::Ok:
        return QStringLiteral("ok");
    case CheckVerdict::Bad:
        return QStringLiteral("bad-check");
    case CheckVerdict::Unchecked:
        return QStringLiteral("unchecked");
    case CheckVerdict::NotAFrame:
        break;
    }
    return QStringLiteral("not-a-frame");
}

int FrameExplanation::fieldAt(int byteOffset) const
{
    for (int i = 0; i < fields.size(); ++i) {
        if (byteOffset >= fields[i].offset && byteOffset < fields[i].offset + fields[i].length)
            return i;
    }
    return -1;
}

QString FrameExplanation::trailingNote() const
{
    if (trailing <= 0)
        return {};
    return QStringLiteral("%1 trailing byte%2 after the frame: %3")
        .arg(trailing)
        .arg(trailing == 1 ? QString() : QStringLiteral("s"))
        .arg(hex(bytes.right(trailing)));
}

QString modbusExceptionName(int code)
{
    switch (code) {
    case 0x01:
        return QStringLiteral("Illegal Function");
    case 0x02:
        return QStringLiteral("Illegal Data Address");
    case 0x03:
        return QStringLiteral("Illegal Data Value");
    case 0x04:
        return QStringLiteral("Server Device Failure");
    case 0x05:
        return QStringLiteral("Acknowledge");
    case 0x06:
        return QStringLiteral("Server Device Busy");
    case 0x08:
        return QStringLiteral("Memory Parity Error");
    case 0x0A:
        return QStringLiteral("Gateway Path Unavailable");
    case 0x0B:
        return QStringLiteral("Gateway Target Device Failed to Respond");
    default:
        return {};
    }
}

FrameExplanation explainFrame(Protocol p, const QByteArray& bytes, bool encrypt, const QString& password,
                              bool mbapFramed)
{
    if (mbapFramed && p == Protocol::Modbus)
        return explainMbapFrame(bytes);
    FrameExplanation e;
    e.bytes = bytes;
    const int n = static_cast<int>(bytes.size());
    auto notAFrame = [&](const QString& why) {
        e.verdict = CheckVerdict::NotAFrame;
        e.problem = why;
        e.fields = {{0, n, QStringLiteral("bytes"), QString()}};
        if (n == 0)
            e.fields.clear();
        return e;
    };
    switch (p) {
    case Protocol::Modbus:
        if (n < 4)
            return notAFrame(QStringLiteral("a Modbus frame has at least 4 bytes: address, function and two of CRC"));
        break;
    case Protocol::Protocol4:
    case Protocol::Protocol4Plus:
    case Protocol::Customer:
        if (n < 4)
            return notAFrame(QStringLiteral("a frame of this protocol has at least 4 bytes: data, two of check "
                                            "value and the end byte"));
        break;
    case Protocol::Bioscrypt:
        if (n < 8 || !bytes.startsWith(kBioscryptHeader))
            return notAFrame(QStringLiteral("a Bioscrypt frame starts with 40 28 6B FE and ends with a check value of "
                                            "4 bytes"));
        break;
    case Protocol::None:
        e.verdict = CheckVerdict::Unchecked;
        if (n > 0)
            e.fields = {{0, n, QStringLiteral("bytes"), QStringLiteral("no framing")}};
        return e;
    }

    // The frame alone is taken apart, then the bytes after it become the last field.
    const int length = frameLength(p, bytes, encrypt, password);
    e.bytes = bytes.left(length);
    checkAsWhole(e, p, encrypt, password);
    switch (p) {
    case Protocol::Modbus:
        modbusFields(e);
        break;
    case Protocol::Protocol4:
    case Protocol::Protocol4Plus:
    case Protocol::Customer:
        leadFamily(e, p);
        break;
    case Protocol::Bioscrypt: {
        const QByteArray inner = e.bytes.mid(4, length - 8);
        e.reply = bioscryptReplyCode(inner);
        Builder out(e);
        out.add(4, QStringLiteral("header"), QStringLiteral("40 28 6B FE"));
        bioscryptInner(out, inner, false);
        out.add(4, QStringLiteral("check value"), checkName(p));
        break;
    }
    case Protocol::None:
        break;
    }
    e.bytes = bytes;
    if (length < n) {
        e.trailing = n - length;
        e.fields.append({length, e.trailing, QStringLiteral("trailing bytes"),
                         QStringLiteral("after the frame; no check value covers them")});
    }
    return e;
}

QList<FrameExplanation> explainRequests(const RequestSettings& s, const QString& function, const QString& query,
                                        const QString& command, std::optional<uint16_t> mbapTransaction)
{
    if (mbapTransaction && s.protocol != Protocol::Modbus)
        throw RequestRefused(QStringLiteral("Modbus TCP framing carries Modbus requests only: choose the Modbus "
                                            "protocol, or the Raw framing for this one"));
    QList<FrameExplanation> out;
    auto framed = [&](const QString& text, const std::function<void(Builder&, const QByteArray&)>& inner) {
        // The console's frame is one frame from its first byte to its last, whatever a check value
        // that holds by chance on fewer of its bytes would say.
        FrameExplanation e;
        e.bytes = frameToBytes(frameRequest(text, s));
        checkAsWhole(e, s.protocol, s.encrypt, s.password);
        Builder b(e);
        const int n = static_cast<int>(e.bytes.size());
        switch (s.protocol) {
        case Protocol::Modbus:
            inner(b, e.bytes.left(n - 2));
            b.add(2, QStringLiteral("check value"), QStringLiteral("CRC-16/MODBUS, low byte first"));
            break;
        case Protocol::Protocol4:
        case Protocol::Protocol4Plus:
        case Protocol::Customer:
            inner(b, e.bytes.left(n - 3));
            b.add(2, QStringLiteral("check value"), checkName(s.protocol));
            endByte(b, e.bytes);
            break;
        case Protocol::Bioscrypt:
            b.add(4, QStringLiteral("header"), QStringLiteral("40 28 6B FE"));
            inner(b, e.bytes.mid(4, n - 8));
            b.add(4, QStringLiteral("check value"), checkName(s.protocol));
            break;
        case Protocol::None:
            inner(b, e.bytes);
            break;
        }
        if (mbapTransaction) {
            const QByteArray wire = mbap::fromRtu(e.bytes, (*mbapTransaction)++);
            out.append(mbapOf(e, wire, static_cast<int>(wire.size())));
            return;
        }
        out.append(e);
    };

    for (const CallRequest& r : callRequests(s, function, query, command)) {
        if (r.line) {
            const CommandLine& cl = *r.line;
            const int body = static_cast<int>(cl.body.size() / 2);
            framed(r.text, [&](Builder& b, const QByteArray& f) {
                switch (s.protocol) {
                case Protocol::Modbus:
                    b.add(1, QStringLiteral("address"), wireAddress(byteAt(f, 0)));
                    b.add(body, QStringLiteral("command"), QString());
                    break;
                case Protocol::Protocol4:
                case Protocol::Protocol4Plus:
                case Protocol::Customer:
                    b.add(1, QStringLiteral("lead byte"),
                          s.protocol == Protocol::Customer ? QStringLiteral("customer code") : QStringLiteral("40"));
                    b.add(1, QStringLiteral("address"), QStringLiteral("console address %1").arg(byteAt(f, 1)));
                    b.add(1, QStringLiteral("length"), QStringLiteral("%1 bytes of command").arg(byteAt(f, 2)));
                    b.add(body, QStringLiteral("command"), cl.commandText);
                    break;
                case Protocol::Bioscrypt:
                    bioscryptInner(b, f, true);
                    break;
                case Protocol::None:
                    b.add(body, QStringLiteral("command"), cl.commandText);
                    break;
                }
            });
            continue;
        }
        framed(r.text, [&](Builder& b, const QByteArray& f) {
            if (f.size() < 2) {
                b.add(static_cast<int>(f.size()), QStringLiteral("request"), QString());
                return;
            }
            b.add(1, QStringLiteral("address"), wireAddress(byteAt(f, 0)));
            b.add(1, QStringLiteral("function"), modbusFunctionName(byteAt(f, 1)));
            if (byteAt(f, 1) == 0x18) {
                b.add(static_cast<int>(f.size()) - 2, QStringLiteral("query code"), QString());
                return;
            }
            b.add(2, QStringLiteral("start"),
                  QStringLiteral("%1").arg(wordAt(f, 2), 4, 16, QLatin1Char('0')).toUpper());
            b.add(2, QStringLiteral("count"), QString::number(wordAt(f, 4)));
        });
    }
    return out;
}

QByteArray appendCheck(CheckKind kind, const QByteArray& body)
{
    RequestSettings s;
    switch (kind) {
    case CheckKind::Crc16Modbus:
        s.protocol = Protocol::Modbus;
        break;
    case CheckKind::Crc16XmodemWithEnd:
        s.protocol = Protocol::Protocol4;
        break;
    case CheckKind::ByteSumWithEnd:
        s.protocol = Protocol::Protocol4Plus;
        break;
    case CheckKind::NegatedSum:
        s.protocol = Protocol::Bioscrypt;
        break;
    case CheckKind::MbapHeader:
        // The header's length counts what follows it; a body beyond what a length can say keeps the
        // largest length, for the check to find out.
        return bigEndian(1) + bigEndian(0) + bigEndian(static_cast<int>(std::min<qsizetype>(body.size(), 0xFFFF))) +
               body;
    }
    return frameToBytes(frameRequest(hex(body).remove(QLatin1Char(' ')), s));
}

int completeFrameLength(Protocol p, const QByteArray& bytes, bool encrypt, const QString& password)
{
    const int n = static_cast<int>(bytes.size());
    auto holds = [&](int len) { return checkHolds(p, bytes, len, encrypt, password); };
    switch (p) {
    case Protocol::Modbus: {
        // The lengths the function code allows, and only those: trying every length would let a CRC
        // that holds by chance (one in 65536) inside a frame still coming cut it in two.
        if (n < 3)
            return 0;
        if (const QList<int> lengths = modbusLengths(bytes); !lengths.isEmpty()) {
            for (int len : lengths) {
                if (holds(len))
                    return len;
            }
            return 0;
        }
        for (int len = 4; len <= n; ++len) {
            if (holds(len))
                return len;
        }
        return 0;
    }
    case Protocol::Protocol4:
    case Protocol::Protocol4Plus:
    case Protocol::Customer:
        for (int len = 4; len <= n; ++len) {
            if (byteAt(bytes, len - 1) == 0x04 && holds(len))
                return len;
        }
        return 0;
    case Protocol::Bioscrypt:
        if (!bytes.startsWith(kBioscryptHeader))
            return 0;
        for (int len = 8; len <= n; ++len) {
            if (holds(len))
                return len;
        }
        return 0;
    case Protocol::None:
        break;
    }
    return 0;
}

} // namespace tarvo
