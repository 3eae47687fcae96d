#pragma once

#include "Framing.h"

#include <QByteArray>
#include <QString>

namespace tarvo {

// True when a reply under Protocol 4, 4+ or Customer Protocol carries a check value that does not
// match its content. Such a reply is laid out as byte 1, byte 2, a count N, N data bytes, two check
// bytes and an end byte; the check covers the first 3 + N bytes. Replies of fewer than three bytes and
// replies under the other protocols are not checked (false). This is the console's own indicator.
bool replyCheckFails(const QByteArray& bytes, Protocol protocol, bool encrypt, const QString& password);

// What a report (the journal, the counters, tarvo-cli) makes of a reply: every check its framing
// carries. Stricter than the console's indicator above, which it leaves as it is.
struct ReplyJudgement {
    enum class Result {
        Ok,        // every check the framing carries has passed
        Bad,       // too short to hold its check value, or a check value that does not match
        Exception, // a whole Modbus exception reply: the device refused the request
        Unchecked, // a framing without a check value (None)
    };
    Result result = Result::Unchecked;
    int exceptionCode = -1; // Exception: the code the device gave
    // Why it is bad, and what else is worth a note (an address that is not the request's).
    QString detail;
};

// Judges a reply, or a message heard, under the protocol. request: the request it answers, if any,
// whose address the reply's is held against; commandLine: that request was a command line (Protocol
// 4, 4+ and Customer carry the address in its second byte then, in the first for the fixed requests).
// A Bioscrypt reply may be several frames in a row (an acknowledgement, then the response); each is
// checked. mbapFramed: a Modbus reply in a Modbus TCP frame, whose header is checked instead of a CRC (the
// request is then one too).
ReplyJudgement judgeReply(const QByteArray& reply, Protocol protocol, bool encrypt, const QString& password,
                          const QByteArray& request = {}, bool commandLine = false, bool mbapFramed = false);

// A Modbus exception as a report names it: "02 illegal data address", "exception 0C".
QString modbusExceptionText(int code);

} // namespace tarvo
