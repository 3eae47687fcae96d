#pragma once

#include "Crc.h"

#include <QByteArray>

namespace tarvo::test {

// A reply as Protocol 4 and Customer controllers send it: the head (b1 b2 N and N data bytes), its
// CRC-CCITT high byte first, and the end byte 04.
inline QByteArray p4Reply(const QByteArray& head)
{
    return head + QByteArray::fromHex(CrcCcitt(QString::fromLatin1(head.toHex())).toLatin1()) + '\x04';
}

} // namespace tarvo::test
