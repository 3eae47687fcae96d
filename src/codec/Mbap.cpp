#include "Mbap.h"

namespace tarvo::mbap {

namespace {
uint16_t word(QByteArrayView bytes, qsizetype at)
{
    return static_cast<uint16_t>((static_cast<uint8_t>(bytes[at]) << 8) | static_cast<uint8_t>(bytes[at + 1]));
}

void appendWord(QByteArray& out, uint16_t value)
{
    out.append(static_cast<char>(value >> 8));
    out.append(static_cast<char>(value & 0xFF));
}
} // namespace

QByteArray fromRtu(QByteArrayView rtu, uint16_t transaction)
{
    // A frame too short for an address, a function and a CRC still goes out as what it holds: the
    // operator typed it, and the device's answer (or silence) says what it made of it.
    const QByteArrayView body = rtu.size() >= 3 ? rtu.first(rtu.size() - 2) : rtu;
    const char unitId = body.isEmpty() ? char(0) : body[0];
    const QByteArrayView pduBytes = body.isEmpty() ? body : body.sliced(1);
    QByteArray out;
    out.reserve(kHeaderSize + pduBytes.size());
    appendWord(out, transaction);
    appendWord(out, 0);
    appendWord(out, static_cast<uint16_t>(1 + pduBytes.size()));
    out.append(unitId);
    out.append(pduBytes);
    return out;
}

int frameLength(QByteArrayView bytes)
{
    // Each field is judged as soon as it is there, so that a stream that is not Modbus TCP is
    // found out early.
    if (bytes.size() >= 4 && word(bytes, 2) != 0)
        return -1;
    if (bytes.size() < kHeaderSize - 1)
        return 0;
    const uint16_t n = word(bytes, 4);
    if (n == 0 || n > kMaxLength)
        return -1;
    const int whole = 6 + n;
    return bytes.size() >= whole ? whole : 0;
}

uint16_t transaction(QByteArrayView frame)
{
    return word(frame, 0);
}

uint16_t protocolId(QByteArrayView frame)
{
    return word(frame, 2);
}

uint16_t length(QByteArrayView frame)
{
    return word(frame, 4);
}

uint8_t unit(QByteArrayView frame)
{
    return static_cast<uint8_t>(frame[6]);
}

QByteArrayView pdu(QByteArrayView frame)
{
    return frame.size() > kHeaderSize ? frame.sliced(kHeaderSize) : QByteArrayView();
}

bool looksLikeFrame(QByteArrayView bytes)
{
    return bytes.size() > kHeaderSize && frameLength(bytes) == bytes.size();
}

} // namespace tarvo::mbap
