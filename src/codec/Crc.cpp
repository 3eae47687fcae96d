#include "Crc.h"

#include "Conversions.h"
#include "Errors.h"

#include <array>
#include <cstdint>

namespace tarvo {

namespace {

constexpr std::array<uint16_t, 256> makeModbusTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>(crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1);
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> makeCcittTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
        table[i] = crc;
    }
    return table;
}

constexpr auto kModbusTable = makeModbusTable();
constexpr auto kCcittTable = makeCcittTable();

// Visits each byte written in the text, in order.
template <typename Fn> void forEachByte(const QString& frame, Fn&& fn)
{
    const QString t = removeSpaces(frame);
    for (qsizetype i = 0; i + 1 < t.size(); i += 2) {
        if (!isHexDigit(t[i]) || !isHexDigit(t[i + 1]))
            throw error::invalidArgument();
        fn(static_cast<uint8_t>(HexToDec(t.mid(i, 2))));
    }
}

QString fourDigits(unsigned value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

} // namespace

QString CrcModbus(const QString& frame)
{
    uint16_t crc = 0xFFFF;
    forEachByte(frame, [&](uint8_t b) { crc = static_cast<uint16_t>((crc >> 8) ^ kModbusTable[(crc ^ b) & 0xFF]); });
    return fourDigits(static_cast<unsigned>(((crc & 0xFF) << 8) | (crc >> 8)));
}

QString CrcCcitt(const QString& frame)
{
    uint16_t crc = 0;
    forEachByte(frame,
                [&](uint8_t b) { crc = static_cast<uint16_t>((crc << 8) ^ kCcittTable[((crc >> 8) ^ b) & 0xFF]); });
    return fourDigits(crc);
}

uint16_t crcModbus(QByteArrayView bytes)
{
    uint16_t crc = 0xFFFF;
    for (const char c : bytes)
        crc = static_cast<uint16_t>((crc >> 8) ^ kModbusTable[(crc ^ static_cast<uint8_t>(c)) & 0xFF]);
    return crc;
}

uint16_t crcXmodem(QByteArrayView bytes)
{
    uint16_t crc = 0;
    for (const char c : bytes)
        crc = static_cast<uint16_t>((crc << 8) ^ kCcittTable[((crc >> 8) ^ static_cast<uint8_t>(c)) & 0xFF]);
    return crc;
}

} // namespace tarvo
