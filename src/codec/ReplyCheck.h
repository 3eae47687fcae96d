#pragma once

#include "Framing.h"

#include <QByteArray>
#include <QString>

namespace tarvo {

// True when a reply under Protocol 4, 4+ or Customer Protocol carries a check value that does not
// match its content. Such a reply is laid out as byte 1, byte 2, a count N, N data bytes, two check
// bytes and an end byte; the check covers the first 3 + N bytes. Replies of fewer than three bytes and
// replies under the other protocols are not checked (false).
bool replyCheckFails(const QByteArray& bytes, Protocol protocol, bool encrypt, const QString& password);

} // namespace tarvo
