#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace tarvo {

// Everything known about one attempt of an exchange, in one place, for whoever wants to keep a
// journal or count answers per controller. Times are the exchange clock's seconds.
struct AttemptRecord {
    enum class Verdict {
        Reply,     // a reply was read (checkFailed tells whether its check value matched)
        NoReply,   // the wait ran out (reply: what came too few to end it, if anything did)
        ReplyLess, // Bioscrypt without acknowledgement: nothing is awaited
        Stopped,   // Stop ended the attempt
        Error,     // the request could not be built or sent; detail says why
    };
    int16_t slot = 0;        // 0 to 31
    QString address;         // the slot's address as typed
    QString function;        // the function name ("ReadInput", ...)
    QString frame;           // hexadecimal text as sent; empty when nothing was sent
    int attempt = 1;         // 1 to 3
    double sentAt = 0;       // the request had left (for a listen: when the first byte came)
    double firstByteAt = -1; // the first reply byte came; negative when none did
    double repliedAt = 0;    // the reply was read (Reply only)
    QByteArray reply;
    Verdict verdict = Verdict::NoReply;
    // The reply failed a check its framing carries (too short for its check value, a check value or a
    // count that does not match); the console's own indicator is stricter about none of this.
    bool checkFailed = false;
    // The reply, or the bytes that came too few to end the wait, is a whole Modbus exception reply:
    // the code the device refused the request with; -1 when it is none.
    int exceptionCode = -1;
    QString detail; // the error text, and what the link noted during the attempt
};

class ExchangeObserver {
public:
    virtual ~ExchangeObserver() = default;
    virtual void attemptFinished(const AttemptRecord& record) = 0;
};

} // namespace tarvo
