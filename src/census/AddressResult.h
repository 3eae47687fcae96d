#pragma once

#include "Exchange.h"
#include "JournalRecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <cmath>
#include <functional>
#include <optional>

namespace tarvo {

class Clock;

// What one address gave in one round (one call of the exchange): its last request and that request's
// reply, the attempts it took, the times, and one verdict. The journal keeps every attempt; this is
// the line a script or a census table wants.
struct AddressResult {
    using Verdict = JournalRecord::Verdict;

    QDateTime time;   // when the last request went out (a listen: when the message began)
    int slot = 0;     // 0 to 31, the slot that served it
    QString address;  // as the slot held it
    QString speed;    // the serial speed of a census over several speeds; empty otherwise
    QString function; // "ReadInput", "SendCommand", ...
    QString sent;     // the last request's bytes, "01 02 00 00 00 10 79 C6"; empty when none went out
    QString received; // its reply, the same way; empty when none came
    int attempts = 0; // attempts of the last request
    double firstByteMs = NAN;
    double replyMs = NAN;
    // Of a call that made several requests (Read Buffer's two, one per command line), the worst:
    // error, then bad-check, then exception, then no-answer. A request refused with an exception
    // stays refused when a later attempt of it got no answer.
    Verdict verdict = Verdict::NoAnswer;
    QString detail;
    int requests = 0; // requests the call made

    // A reply came, whether or not its check value matched.
    bool answered() const { return tarvo::answered(verdict); }
};

// Collects the engine's attempts into one result per slot. A listen has no rounds: each message heard
// is a result of its own, handed to onMessage as it comes.
class ResultCollector final : public ExchangeObserver {
public:
    explicit ResultCollector(const Clock& clock, std::function<QDateTime()> wallClock = &localNow);

    void attemptFinished(const AttemptRecord& attempt) override;
    // The result of the slot's attempts since the last take; nothing when none was reported.
    std::optional<AddressResult> take(int slot);
    void clear() { m_open.clear(); }

    std::function<void(const AddressResult&)> onMessage;

private:
    using Verdict = AddressResult::Verdict;
    struct Open {
        AddressResult result;
        Verdict worstBefore = Verdict::Ok; // over the call's earlier requests
    };

    const Clock& m_clock;
    std::function<QDateTime()> m_wallClock;
    QHash<int, Open> m_open;
};

// Results as CSV (RFC 4180, UTF-8, CR LF): time, address, [speed,] function, sent, received, attempts,
// first_byte_ms, reply_ms, verdict, detail. The census adds the speed column.
QByteArray resultCsvHeader(bool withSpeed);
QByteArray resultCsvRow(const AddressResult& result, bool withSpeed);

} // namespace tarvo
