#include "Explain.h"

#include "Conversions.h"
#include "Crc.h"
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

QString wireAddress(int wire)
{
    return QStringLiteral("%1 on the wire: console address %2").arg(wire).arg(wire - 1);
}

void modbusFields(FrameExplanation& e)
{
    const QByteArray& b = e.bytes;
    const int n = static_cast<int>(b.size());
    const int f = byteAt(b, 1);
    Builder out(e);
    out.add(1, QStringLiteral("address"), wireAddress(byteAt(b, 0)));
    const int body = n - 4;
    if (f & 0x80) {
        e.reply = true;
        out.add(1, QStringLiteral("function"), modbusFunctionName(f) + QStringLiteral(", refused"));
        const int code = byteAt(b, 2);
        const QString name = modbusExceptionName(code);
        out.add(1, QStringLiteral("exception"),
                QStringLiteral("%1%2")
                    .arg(code, 2, 16, QLatin1Char('0'))
                    .toUpper()
                    .arg(name.isEmpty() ? QString() : QStringLiteral(": ") + name));
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

void leadFamily(FrameExplanation& e, Protocol p, bool encrypt, const QString& password)
{
    const QByteArray& b = e.bytes;
    const int n = static_cast<int>(b.size());
    // The count layout: b1 b2 N, N data bytes, two check bytes, the end byte. Replies have it, and so
    // do command lines (lead byte, console address, length, command).
    const bool counted = n >= 6 && 3 + byteAt(b, 2) + 3 == n;
    const QByteArray countedCheck = counted ? checkOf(p, b.left(3 + byteAt(b, 2)), encrypt, password) : QByteArray();
    const QByteArray requestCheck = checkOf(p, b.left(n - 3), encrypt, password);
    const QByteArray carried = b.mid(n - 3, 2);
    Builder out(e);
    if (counted && (countedCheck == carried || requestCheck != carried)) {
        e.reply = true;
        setCheck(e, p, carried, countedCheck);
        out.add(1, QStringLiteral("first byte"),
                byteAt(b, 0) == 0x40 ? QStringLiteral("lead byte 40") : QStringLiteral("lead byte or address"));
        out.add(1, QStringLiteral("second byte"), QStringLiteral("console address or function"));
        out.add(1, QStringLiteral("count"), QStringLiteral("%1 data bytes").arg(byteAt(b, 2)));
        out.add(byteAt(b, 2), QStringLiteral("data"), QString());
    } else {
        setCheck(e, p, carried, requestCheck);
        out.add(1, QStringLiteral("address"), wireAddress(byteAt(b, 0)));
        out.add(1, QStringLiteral("function"), modbusFunctionName(byteAt(b, 1)));
        out.add(out.left(3), QStringLiteral("data"), QString());
    }
    out.add(2, QStringLiteral("check value"), checkName(p));
    endByte(out, b);
}

void bioscryptInner(Builder& out, const QByteArray& b, int innerLength)
{
    // Address and 0001 with the digits of each byte swapped, the command code likewise, the data
    // with every four digits reversed, four zero bytes.
    if (innerLength < 10) {
        out.add(innerLength, QStringLiteral("data"), QString());
        return;
    }
    const QString address = SwapDigitPairs(hex(b.mid(out.at(), 2)).remove(QLatin1Char(' ')));
    out.add(2, QStringLiteral("address"),
            QStringLiteral("console address %1").arg(static_cast<qint64>(HexToDec(address))));
    out.add(2, QStringLiteral("0001"), QString());
    const QString code = SwapDigitPairs(hex(b.mid(out.at(), 2)).remove(QLatin1Char(' ')));
    out.add(2, QStringLiteral("command"), QStringLiteral("%1 (flags %2)").arg(code, code.left(1)));
    out.add(innerLength - 10, QStringLiteral("data"), QString());
    out.add(4, QStringLiteral("zeros"), QString());
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

FrameExplanation explainFrame(Protocol p, const QByteArray& bytes, bool encrypt, const QString& password)
{
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
        setCheck(e, p, bytes.right(2), checkOf(p, bytes.left(n - 2), false, {}));
        modbusFields(e);
        return e;
    case Protocol::Protocol4:
    case Protocol::Protocol4Plus:
    case Protocol::Customer:
        if (n < 4)
            return notAFrame(QStringLiteral("a frame of this protocol has at least 4 bytes: data, two of check "
                                            "value and the end byte"));
        leadFamily(e, p, encrypt, password);
        return e;
    case Protocol::Bioscrypt: {
        if (n < 8 || !bytes.startsWith(kBioscryptHeader))
            return notAFrame(QStringLiteral("a Bioscrypt frame starts with 40 28 6B FE and ends with a check value of "
                                            "4 bytes"));
        const QByteArray inner = bytes.mid(4, n - 8);
        setCheck(e, p, bytes.right(4), checkOf(p, inner, false, {}));
        e.reply = false;
        Builder out(e);
        out.add(4, QStringLiteral("header"), QStringLiteral("40 28 6B FE"));
        bioscryptInner(out, bytes, n - 8);
        out.add(4, QStringLiteral("check value"), checkName(p));
        return e;
    }
    case Protocol::None:
        break;
    }
    e.verdict = CheckVerdict::Unchecked;
    if (n > 0)
        e.fields = {{0, n, QStringLiteral("bytes"), QStringLiteral("no framing")}};
    return e;
}

QList<FrameExplanation> explainRequests(const RequestSettings& s, const QString& function, const QString& query,
                                        const QString& command)
{
    QList<FrameExplanation> out;
    auto framed = [&](const QString& text, const std::function<void(Builder&, const QByteArray&)>& inner) {
        FrameExplanation e = explainFrame(s.protocol, frameToBytes(frameRequest(text, s)), s.encrypt, s.password);
        e.reply = false;
        e.fields.clear();
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
                    bioscryptInner(b, f, static_cast<int>(f.size()));
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
    }
    return frameToBytes(frameRequest(hex(body).remove(QLatin1Char(' ')), s));
}

int completeFrameLength(Protocol p, const QByteArray& bytes, bool encrypt, const QString& password)
{
    const int n = static_cast<int>(bytes.size());
    switch (p) {
    case Protocol::Modbus: {
        // The lengths the function code allows come first: a CRC that holds by chance at a shorter
        // length (one in 65536) must not cut a frame in two.
        auto holds = [&](int len) {
            return len >= 4 && len <= n && checkOf(p, bytes.left(len - 2), false, {}) == bytes.mid(len - 2, 2);
        };
        if (n >= 3) {
            const int f = byteAt(bytes, 1);
            QList<int> lengths;
            if (f & 0x80)
                lengths = {5};
            else if (f <= 0x04 || f == 0x18)
                lengths = {5 + byteAt(bytes, 2), 8, 5};
            else if (f == 0x05 || f == 0x06)
                lengths = {8};
            else if ((f == 0x0F || f == 0x10) && n >= 7)
                lengths = {9 + byteAt(bytes, 6), 8};
            for (int len : lengths) {
                if (holds(len))
                    return len;
            }
            // A known function allows only these lengths: trying every length would let a CRC that
            // holds by chance (one in 65536) inside a frame still coming cut it in two.
            if (!lengths.isEmpty())
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
            if (byteAt(bytes, len - 1) == 0x04 &&
                checkOf(p, bytes.left(len - 3), encrypt, password) == bytes.mid(len - 3, 2))
                return len;
        }
        return 0;
    case Protocol::Bioscrypt:
        if (!bytes.startsWith(kBioscryptHeader))
            return 0;
        for (int len = 8; len <= n; ++len) {
            if (checkOf(p, bytes.mid(4, len - 8), false, {}) == bytes.mid(len - 4, 4))
                return len;
        }
        return 0;
    case Protocol::None:
        break;
    }
    return 0;
}

} // namespace tarvo
