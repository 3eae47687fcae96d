#pragma once

#include <QByteArrayView>
#include <QString>
#include <cstdint>

namespace tarvo {

// CRC-16 check values over a frame written as hexadecimal text. Spaces anywhere are ignored (a
// byte-list text is accepted as it is), digits may be of either case, an odd final digit is ignored.
// A pair that is not two hexadecimal digits is an invalid argument error.

// CRC-16/MODBUS (init FFFF, reflected polynomial A001): four digits, low byte first, as a Modbus
// frame carries it.
QString CrcModbus(const QString& frame);

// CRC-16/XMODEM (polynomial 1021, init 0000): four digits, high byte first.
QString CrcCcitt(const QString& frame);

// The same two over bytes, as numbers: for checking every reply, where going through text would
// cost more than the rest of the check.
uint16_t crcModbus(QByteArrayView bytes);
uint16_t crcXmodem(QByteArrayView bytes);

} // namespace tarvo
