#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>

namespace tarvo::mbap {

// Modbus TCP puts a Modbus request or reply under a 7-byte header instead of an address and a CRC:
// transaction id, protocol id 0, the length of what follows (unit id and PDU), and the unit id. All
// numbers are big-endian.
inline constexpr int kHeaderSize = 7;
// The largest length a header may give: the unit id and a PDU of at most 253 bytes.
inline constexpr int kMaxLength = 254;

// The Modbus TCP frame that carries an RTU frame (address, PDU, two CRC bytes): its address becomes
// the unit id, its PDU follows the header, its CRC is left behind (TCP checks the bytes itself).
QByteArray fromRtu(QByteArrayView rtu, uint16_t transaction);

// How long the frame at the front of `bytes` is, header included: 0 when its header or some of what
// its length promises has not arrived yet, -1 when the header is no Modbus TCP header (protocol id
// not 0, a length of 0 or beyond kMaxLength).
int frameLength(QByteArrayView bytes);

// The header's fields; the frame holds at least a header.
uint16_t transaction(QByteArrayView frame);
uint16_t protocolId(QByteArrayView frame);
uint16_t length(QByteArrayView frame);
uint8_t unit(QByteArrayView frame);

// The PDU of a whole frame: what follows the header.
QByteArrayView pdu(QByteArrayView frame);

// For a tool that was not told how bytes are framed: whether they are exactly one Modbus TCP frame
// with at least a function. An RTU frame passes only by chance: its third and fourth bytes would have
// to be 0 and its fifth and sixth the count of the bytes after them.
bool looksLikeFrame(QByteArrayView bytes);

} // namespace tarvo::mbap
