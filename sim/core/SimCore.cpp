#include "SimCore.h"

#include "Crc.h"
#include "Explain.h"
#include "Mbap.h"
#include "SimMemory.h"

#include <algorithm>

namespace tarvo::sim {

namespace {

QString hexText(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

QByteArray fromHexText(const QString& text)
{
    return QByteArray::fromHex(text.toLatin1());
}

int u8(const QByteArray& b, qsizetype i)
{
    return static_cast<unsigned char>(b.at(i));
}

int u16(const QByteArray& b, qsizetype i)
{
    return u8(b, i) * 256 + u8(b, i + 1);
}

void append8(QByteArray& b, int v)
{
    b.append(static_cast<char>(v & 0xFF));
}

QByteArray modbusCrc(const QByteArray& bytes)
{
    return fromHexText(CrcModbus(hexText(bytes)));
}

bool modbusValid(const QByteArray& frame)
{
    return frame.size() >= 4 && modbusCrc(frame.left(frame.size() - 2)) == frame.right(2);
}

QString fmt2(int v)
{
    return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper();
}
QString fmt4(int v)
{
    return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper();
}

const QByteArray kBioHeader = QByteArray::fromHex("40286BFE");

constexpr int kMbapHeader = mbap::kHeaderSize;
constexpr int kMbapLengthMax = mbap::kMaxLength;

// Why the bytes do not start with a Modbus TCP header; empty when they do (or may, once more bytes
// come).
QString mbapHeaderFault(const QByteArray& b)
{
    if (b.size() >= 4 && u16(b, 2) != 0)
        return QStringLiteral("protocol id %1, not 0").arg(fmt4(u16(b, 2)));
    if (b.size() >= 6 && (u16(b, 4) == 0 || u16(b, 4) > kMbapLengthMax))
        return QStringLiteral("length %1, not 1 to %2").arg(u16(b, 4)).arg(kMbapLengthMax);
    return {};
}

// The Bioscrypt check: the last four bytes are ReverseDigitQuads(NegSumHex(F)).
bool bioscryptValid(const QByteArray& frame)
{
    if (frame.size() < 18 || !frame.startsWith(kBioHeader))
        return false;
    const QByteArray f = frame.mid(4, frame.size() - 8);
    return ReverseDigitQuads(NegSumHex(hexText(f))) == hexText(frame.right(4));
}

// Modbus-style data of a read request: bits packed least significant first, or registers high byte first.
QByteArray readData(int function, int consoleAddress, int start, int count)
{
    QByteArray d;
    if (function == 0x01 || function == 0x02) {
        for (int byte = 0; byte < (count + 7) / 8; ++byte) {
            int v = 0;
            for (int bit = 0; bit < 8 && byte * 8 + bit < count; ++bit) {
                const int i = start + byte * 8 + bit;
                if (function == 0x01 ? coil(consoleAddress, i) : discreteInput(consoleAddress, i))
                    v |= 1 << bit;
            }
            append8(d, v);
        }
    } else {
        for (int r = start; r < start + count; ++r) {
            const int v = function == 0x03 ? holdingRegister(consoleAddress, r) : inputRegister(consoleAddress, r);
            append8(d, v >> 8);
            append8(d, v);
        }
    }
    return d;
}

// 0 when the read is fine, else the Modbus exception code.
int readException(int function, int start, int count)
{
    const bool bits = function == 0x01 || function == 0x02;
    if (count < 1 || count > (bits ? 2000 : 125))
        return 0x03;
    if (start + count > kTableSize)
        return 0x02;
    return 0;
}

// An empty reply means the request was not one this controller knows.
Decision answered(Decision& d, const QByteArray& reply)
{
    d.verdict = reply.isEmpty() ? QStringLiteral("ignored") : QStringLiteral("answered");
    if (!reply.isEmpty())
        d.replies.append({reply, 0});
    return d;
}

} // namespace

QString protocolName(Protocol p)
{
    switch (p) {
    case Protocol::Modbus:
        return QStringLiteral("Modbus");
    case Protocol::Protocol4:
        return QStringLiteral("Protocol 4");
    case Protocol::Protocol4Plus:
        return QStringLiteral("Protocol 4+");
    case Protocol::Customer:
        return QStringLiteral("Customer Protocol");
    case Protocol::Bioscrypt:
        return QStringLiteral("Bioscrypt");
    case Protocol::None:
        return QStringLiteral("None");
    }
    return {};
}

QString hexBytes(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

bool SimConfig::serves(int consoleAddress) const
{
    return std::any_of(served.begin(), served.end(), [&](const QPair<int, int>& r) {
        return consoleAddress >= r.first && consoleAddress <= r.second;
    });
}

int SimConfig::lowestServed() const
{
    int lowest = -1;
    for (const auto& r : served) {
        if (lowest < 0 || r.first < lowest)
            lowest = r.first;
    }
    return lowest;
}

SimCore::SimCore(SimConfig config) : m_config(std::move(config)) {}

int SimCore::leadByte() const
{
    return m_config.protocol == Protocol::Customer ? m_config.customerCode : 0x40;
}

QByteArray SimCore::leadCheck(const QByteArray& covered) const
{
    if (m_config.protocol == Protocol::Protocol4Plus)
        return fromHexText(SumCheck(hexText(covered)));
    return fromHexText(CrcCcitt(hexText(covered)));
}

QByteArray SimCore::layoutReply(int b1, int b2, const QByteArray& data) const
{
    QByteArray r;
    append8(r, b1);
    append8(r, b2);
    append8(r, static_cast<int>(data.size()));
    r += data;
    r += leadCheck(r);
    append8(r, 0x04);
    return r;
}

int SimCore::mbapFrameLength(const QByteArray& b)
{
    return mbap::frameLength(b);
}

int SimCore::completeFrameLength(const QByteArray& b) const
{
    const auto n = b.size();
    switch (m_config.protocol) {
    case Protocol::Modbus: {
        if (n < 2)
            return 0;
        const int fn = u8(b, 1);
        int len = 0;
        if (fn >= 0x01 && fn <= 0x06)
            len = 8;
        else if ((fn == 0x0F || fn == 0x10) && n >= 7)
            len = 9 + u8(b, 6);
        else if (fn == 0x18)
            len = 5;
        return len > 0 && n >= len && modbusValid(b.left(len)) ? len : 0;
    }
    case Protocol::Protocol4:
    case Protocol::Protocol4Plus:
    case Protocol::Customer: {
        QList<int> candidates;
        if (n >= 3 && u8(b, 0) == leadByte())
            candidates << u8(b, 2) + 6;
        if (n >= 2 && u8(b, 1) >= 0x01 && u8(b, 1) <= 0x04)
            candidates << 9;
        if (n >= 2 && u8(b, 1) == 0x18)
            candidates << 6;
        std::sort(candidates.begin(), candidates.end());
        for (int len : candidates) {
            if (n >= len && u8(b, len - 1) == 0x04 && leadCheck(b.left(len - 3)) == b.mid(len - 3, 2))
                return len;
        }
        return 0;
    }
    case Protocol::Bioscrypt:
        if (n < 18 || !b.startsWith(kBioHeader))
            return 0;
        for (qsizetype len = 18; len <= n; ++len) {
            if (bioscryptValid(b.left(len)))
                return static_cast<int>(len);
        }
        return 0;
    case Protocol::None:
        return 0;
    }
    return 0;
}

Decision SimCore::parseModbus(const QByteArray& f) const
{
    Decision d;
    d.request = QStringLiteral("Modbus frame");
    if (!modbusValid(f)) {
        d.verdict = QStringLiteral("ignored: bad check value");
        return d;
    }
    const int wire = u8(f, 0);
    const int fn = u8(f, 1);
    d.consoleAddress = wire - 1;
    if (wire == 0) {
        d.verdict = QStringLiteral("ignored: broadcast");
        return d;
    }
    if (!m_config.serves(d.consoleAddress)) {
        d.verdict = QStringLiteral("ignored: address %1 not served").arg(d.consoleAddress);
        return d;
    }
    QByteArray reply;
    append8(reply, wire);
    auto exception = [&](int code) {
        append8(reply, fn | 0x80);
        append8(reply, code);
        d.verdict = QStringLiteral("exception %1").arg(fmt2(code));
    };
    if (fn >= 0x01 && fn <= 0x04) {
        if (f.size() != 8) {
            d.request = modbusFunctionName(fn);
            exception(0x03);
        } else {
            const int start = u16(f, 2);
            const int count = u16(f, 4);
            d.request = QStringLiteral("%1 %2 count %3").arg(modbusFunctionName(fn)).arg(start).arg(count);
            if (const int code = readException(fn, start, count)) {
                exception(code);
            } else {
                const QByteArray data = readData(fn, d.consoleAddress, start, count);
                append8(reply, fn);
                append8(reply, static_cast<int>(data.size()));
                reply += data;
                d.verdict = QStringLiteral("answered");
            }
        }
    } else if (fn == 0x18) {
        if (f.size() != 5) {
            d.request = QStringLiteral("query");
            exception(0x03);
        } else {
            d.request = QStringLiteral("query %1").arg(fmt2(u8(f, 2)));
            const QByteArray data = queryData(d.consoleAddress, u8(f, 2));
            append8(reply, fn);
            append8(reply, static_cast<int>(data.size()));
            reply += data;
            d.verdict = QStringLiteral("answered");
        }
    } else {
        d.request = modbusFunctionName(fn);
        exception(0x01);
    }
    if (const int forced = m_config.faultsOf(d.consoleAddress).exceptionCode; forced >= 0) {
        reply.truncate(1);
        exception(forced);
    }
    reply += modbusCrc(reply);
    d.replies.append({reply, 0});
    return d;
}

// The request is answered as its RTU twin (unit id as the address byte, the PDU, a CRC) would be, and
// the RTU reply goes back with the request's header in place of its address and CRC.
Decision SimCore::parseMbap(const QByteArray& f) const
{
    Decision d;
    QString fault = mbapHeaderFault(f);
    if (fault.isEmpty() && f.size() < kMbapHeader)
        fault = QStringLiteral("%1 bytes, shorter than the %2-byte header").arg(f.size()).arg(kMbapHeader);
    else if (fault.isEmpty() && f.size() != 6 + u16(f, 4))
        fault = QStringLiteral("the header's length %1 does not match the %2 bytes after it")
                    .arg(u16(f, 4))
                    .arg(f.size() - 6);
    else if (fault.isEmpty() && f.size() == kMbapHeader)
        fault = QStringLiteral("no function code");
    if (!fault.isEmpty()) {
        d.request = QStringLiteral("Modbus TCP frame");
        d.verdict = QStringLiteral("ignored: not a Modbus TCP frame (%1)").arg(fault);
        return d;
    }
    QByteArray rtu = f.mid(6);
    rtu += modbusCrc(rtu);
    d = parseModbus(rtu);
    for (Segment& s : d.replies)
        s.bytes = mbap::fromRtu(s.bytes, mbap::transaction(f));
    return d;
}

QByteArray SimCore::fixedReply(int wire, int fn, const QByteArray& rest, QString& request) const
{
    const int a = wire - 1;
    if (fn >= 0x01 && fn <= 0x04 && rest.size() == 4) {
        const int start = u16(rest, 0);
        const int count = u16(rest, 2);
        request = QStringLiteral("%1 %2 count %3").arg(modbusFunctionName(fn)).arg(start).arg(count);
        if (const int code = readException(fn, start, count)) {
            QByteArray nak;
            append8(nak, fn | 0x80);
            append8(nak, code);
            return layoutReply(wire, fn, nak);
        }
        return layoutReply(wire, fn, readData(fn, a, start, count));
    }
    if (fn == 0x18 && rest.size() == 1) {
        request = QStringLiteral("query %1").arg(fmt2(u8(rest, 0)));
        return layoutReply(wire, fn, queryData(a, u8(rest, 0)));
    }
    request = QStringLiteral("unknown request, %1").arg(modbusFunctionName(fn));
    return {}; // not a request this controller knows: ignored, as on a shared bus
}

QByteArray SimCore::commandReply(int lead, int a, const QByteArray& body, QString& request) const
{
    request = QStringLiteral("command %1").arg(hexBytes(body));
    const int code = body.isEmpty() ? -1 : u8(body, 0);
    if (code == 0x73 && body.size() == 1)
        return layoutReply(lead, a, epromIdentification(a));
    if (code == 0x71 && body.size() == 1)
        return layoutReply(lead, a, romIdentification(a));
    if (code == 0x72) {
        const int ll = body.size() == 5 ? u8(body, 4) : 0;
        if (body.size() != 5 || ll > 254)
            return layoutReply(lead, a, QByteArray::fromHex("7215"));
        const int page = u8(body, 1);
        const int address = u16(body, 2);
        request = QStringLiteral("memory read page %1 address %2 length %3").arg(fmt2(page), fmt4(address)).arg(ll);
        QByteArray data;
        append8(data, 0x72);
        data += memoryBytes(a, page, address, ll);
        return layoutReply(lead, a, data);
    }
    return layoutReply(lead, a, body.left(255));
}

Decision SimCore::parseLeadByteFamily(const QByteArray& f) const
{
    Decision d;
    d.request = QStringLiteral("frame");
    const auto n = f.size();
    if (n < 6 || u8(f, n - 1) != 0x04) {
        d.verdict = QStringLiteral("ignored: too short or no end byte 04");
        return d;
    }
    if (leadCheck(f.left(n - 3)) != f.mid(n - 3, 2)) {
        d.verdict = QStringLiteral("ignored: bad check value");
        return d;
    }
    const bool commandLine = u8(f, 0) == leadByte() && u8(f, 2) == n - 6;
    d.consoleAddress = commandLine ? u8(f, 1) : u8(f, 0) - 1;
    if (!m_config.serves(d.consoleAddress)) {
        d.verdict = QStringLiteral("ignored: address %1 not served").arg(d.consoleAddress);
        return d;
    }
    const QByteArray reply = commandLine ? commandReply(u8(f, 0), d.consoleAddress, f.mid(3, n - 6), d.request)
                                         : fixedReply(u8(f, 0), u8(f, 1), f.mid(2, n - 5), d.request);
    return answered(d, reply);
}

Decision SimCore::parseNone(const QByteArray& f) const
{
    Decision d;
    d.request = QStringLiteral("frame");
    const auto n = f.size();
    const bool fixed = n >= 2 && ((n == 6 && u8(f, 1) >= 0x01 && u8(f, 1) <= 0x04) || (n == 3 && u8(f, 1) == 0x18)) &&
                       m_config.serves(u8(f, 0) - 1);
    d.consoleAddress = fixed ? u8(f, 0) - 1 : m_config.lowestServed();
    if (d.consoleAddress < 0 || !m_config.serves(d.consoleAddress)) {
        d.verdict = QStringLiteral("ignored: no address served");
        return d;
    }
    return answered(d, fixed ? fixedReply(u8(f, 0), u8(f, 1), f.mid(2), d.request)
                             : commandReply(0x40, d.consoleAddress, f, d.request));
}

Decision SimCore::parseBioscrypt(const QByteArray& f) const
{
    Decision d;
    d.request = QStringLiteral("Bioscrypt frame");
    if (!f.startsWith(kBioHeader)) {
        d.verdict = QStringLiteral("ignored: no Bioscrypt header");
        return d;
    }
    if (!bioscryptValid(f)) {
        d.verdict = QStringLiteral("ignored: bad check value");
        return d;
    }
    const QByteArray body = f.mid(4, f.size() - 8); // address block, code, data, four zero bytes
    const QString addressBlock = SwapDigitPairs(hexText(body.left(4)));
    const QString code = SwapDigitPairs(hexText(body.mid(4, 2)));
    const QByteArray data = body.mid(6, body.size() - 10);
    if (!addressBlock.endsWith(QStringLiteral("0001")) || body.right(4) != QByteArray(4, '\0')) {
        d.verdict = QStringLiteral("ignored: not a request");
        return d;
    }
    d.consoleAddress = addressBlock.left(4).toInt(nullptr, 16);
    d.request = QStringLiteral("command %1%2")
                    .arg(code, data.isEmpty() ? QString() : QStringLiteral(" data ") + hexBytes(data));
    if (!m_config.serves(d.consoleAddress)) {
        d.verdict = QStringLiteral("ignored: address %1 not served").arg(d.consoleAddress);
        return d;
    }
    const int flags = code.left(1).toInt(nullptr, 16);
    auto message = [&](const QString& kind, const QByteArray& payload) {
        RequestSettings s;
        s.protocol = Protocol::Bioscrypt;
        const QString text = SwapDigitPairs(addressBlock) + SwapDigitPairs(kind + code.mid(1)) + hexText(payload) +
                             QStringLiteral("00000000");
        return frameToBytes(frameRequest(text, s));
    };
    if (flags & 1)
        d.replies.append({message(QStringLiteral("8"), {}), 0});
    if (flags & 2)
        d.replies.append({message(QStringLiteral("4"), data), d.replies.isEmpty() ? 0 : 100});
    d.verdict = d.replies.isEmpty() ? QStringLiteral("no reply requested") : QStringLiteral("answered");
    return d;
}

void SimCore::applyFaults(Decision& d, LinkState& link)
{
    if (d.consoleAddress < 0 || !m_config.serves(d.consoleAddress))
        return;
    const FaultSet fs = m_config.faultsOf(d.consoleAddress);
    const int seen = ++link.framesPerAddress[d.consoleAddress];
    if (link.tcp && fs.dropAfter >= 0 && seen > fs.dropAfter) {
        d.replies.clear();
        d.dropConnection = true;
        d.verdict = QStringLiteral("dropped the connection (fault drop=%1)").arg(fs.dropAfter);
        return;
    }
    if (d.replies.isEmpty())
        return;
    if (fs.silent) {
        d.replies.clear();
        d.verdict = QStringLiteral("ignored: fault silent");
        return;
    }
    if (fs.answerFrom > 1) {
        const int attempt = ++m_attempts[d.consoleAddress];
        if (attempt < fs.answerFrom) {
            d.replies.clear();
            d.verdict = QStringLiteral("ignored: attempt %1 (fault from=%2)").arg(attempt).arg(fs.answerFrom);
            return;
        }
        m_attempts[d.consoleAddress] = 0;
        d.verdict += QStringLiteral(" at attempt %1 (fault from=%1)").arg(fs.answerFrom);
    }
    for (Segment& s : d.replies) {
        if (fs.badCheck && link.mbap && s.bytes.size() >= 6) {
            // No check value in a Modbus TCP frame: the header's length claims one byte more than
            // follows, so that a master which trusts it waits for a byte that never comes.
            const int length = (u16(s.bytes, 4) + 1) & 0xFFFF;
            s.bytes[4] = static_cast<char>(length >> 8);
            s.bytes[5] = static_cast<char>(length & 0xFF);
        } else if (fs.badCheck && !s.bytes.isEmpty()) {
            // The check value sits just before the end byte in the lead-byte layout, at the end otherwise.
            const bool layout = m_config.protocol != Protocol::Modbus && m_config.protocol != Protocol::Bioscrypt;
            const qsizetype at = layout && s.bytes.size() >= 3 ? s.bytes.size() - 3 : s.bytes.size() - 1;
            s.bytes[at] = static_cast<char>(s.bytes.at(at) ^ 0xFF);
        }
        if (fs.partialBytes >= 0) {
            const auto keep = fs.partialBytes == 0 ? std::max<qsizetype>(1, s.bytes.size() / 2)
                                                   : std::min<qsizetype>(fs.partialBytes, s.bytes.size());
            s.bytes.truncate(keep);
        }
    }
    d.replies.first().delayMs += fs.delayMs;
    d.trickleMs = link.datagram ? 0 : fs.trickleMs;
    QStringList notes;
    if (fs.exceptionCode >= 0 && m_config.protocol == Protocol::Modbus)
        notes << QStringLiteral("exception=%1").arg(fmt2(fs.exceptionCode));
    if (fs.badCheck)
        notes << (link.mbap ? QStringLiteral("bad length") : QStringLiteral("bad check value"));
    if (fs.partialBytes >= 0)
        notes << QStringLiteral("partial");
    if (fs.delayMs > 0)
        notes << QStringLiteral("delay=%1").arg(fs.delayMs);
    if (d.trickleMs > 0)
        notes << QStringLiteral("trickle=%1").arg(d.trickleMs);
    if (!notes.isEmpty())
        d.verdict += QStringLiteral(" (fault %1)").arg(notes.join(QStringLiteral(", ")));
}

Decision SimCore::handleFrame(const QByteArray& frame, LinkState& link)
{
    Decision d;
    switch (m_config.protocol) {
    case Protocol::Modbus:
        d = link.mbap ? parseMbap(frame) : parseModbus(frame);
        break;
    case Protocol::Protocol4:
    case Protocol::Protocol4Plus:
    case Protocol::Customer:
        d = parseLeadByteFamily(frame);
        break;
    case Protocol::Bioscrypt:
        d = parseBioscrypt(frame);
        break;
    case Protocol::None:
        d = parseNone(frame);
        break;
    }
    applyFaults(d, link);
    return d;
}

QList<QByteArray> FrameAssembler::feed(const QByteArray& bytes)
{
    m_buffer += bytes;
    QList<QByteArray> frames;
    if (m_mbap) {
        for (;;) {
            const int len = SimCore::mbapFrameLength(m_buffer);
            if (len < 0) {
                // Nothing behind a bad header can be trusted to start a frame: give up the buffer
                // as one piece, and the next segment starts afresh.
                frames.append(flush());
                break;
            }
            if (len == 0)
                break;
            frames.append(m_buffer.left(len));
            m_buffer.remove(0, len);
        }
        return frames;
    }
    while (const int len = m_core.completeFrameLength(m_buffer)) {
        frames.append(m_buffer.left(len));
        m_buffer.remove(0, len);
    }
    return frames;
}

QByteArray FrameAssembler::flush()
{
    QByteArray rest;
    rest.swap(m_buffer);
    return rest;
}

} // namespace tarvo::sim
