#include "ReplyCheck.h"

#include "Conversions.h"
#include "Crc.h"

namespace tarvo {

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
