#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace tarvo {

// Everything known about one attempt of an exchange, in one place, for whoever wants to keep a
// journal or count answers per controller.
struct AttemptRecord {
    enum class Verdict { Reply, NoReply, ReplyLess };
    int16_t slot = 0;
    QString function;
    QString frame;   // hexadecimal text as sent
    int attempt = 1; // 1 to 3
    double sentAt = 0;
    double repliedAt = 0; // when the reply was read (Reply only)
    QByteArray reply;
    Verdict verdict = Verdict::NoReply;
    bool checkFailed = false; // the reply's check value did not match (checked protocols only)
};

class ExchangeObserver {
public:
    virtual ~ExchangeObserver() = default;
    virtual void attemptFinished(const AttemptRecord& record) = 0;
};

} // namespace tarvo
