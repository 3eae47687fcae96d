#include "AddressResult.h"

#include "Clock.h"
#include "JournalCsv.h"
#include "Requests.h"

namespace tarvo {

ResultCollector::ResultCollector(const Clock& clock, std::function<QDateTime()> wallClock)
    : m_clock(clock), m_wallClock(std::move(wallClock))
{
}

void ResultCollector::attemptFinished(const AttemptRecord& attempt)
{
    const JournalRecord row = journalRecord(attempt, m_clock.now(), m_wallClock());
    AddressResult r;
    r.time = row.time;
    r.slot = attempt.slot;
    r.address = row.address;
    r.function = row.function;
    r.sent = row.sent;
    r.received = row.received;
    r.attempts = row.attempt;
    r.firstByteMs = row.firstByteMs;
    r.replyMs = row.replyMs;
    r.verdict = row.verdict;
    r.detail = row.detail;
    r.requests = 1;

    if (attempt.function == fn::Waiting) {
        if (onMessage && attempt.verdict != AttemptRecord::Verdict::Stopped)
            onMessage(r);
        return;
    }
    auto it = m_open.find(attempt.slot);
    if (it == m_open.end()) {
        m_open.insert(attempt.slot, {r, Verdict::Ok});
        return;
    }
    Open& open = it.value();
    // A first attempt begins the call's next request; the request before it ended with its last one.
    if (attempt.attempt == 1) {
        open.worstBefore = worseVerdict(open.worstBefore, open.result.verdict);
        r.requests = open.result.requests + 1;
    } else {
        r.requests = open.result.requests;
        // A device that refused the request and then fell silent did answer: its refusal is what
        // the request got.
        if (r.verdict == Verdict::NoAnswer && open.result.verdict == Verdict::Exception) {
            r.verdict = Verdict::Exception;
            r.received = open.result.received;
            r.firstByteMs = open.result.firstByteMs;
            r.detail = open.result.detail;
        }
    }
    open.result = r;
}

std::optional<AddressResult> ResultCollector::take(int slot)
{
    const auto it = m_open.find(slot);
    if (it == m_open.end())
        return std::nullopt;
    AddressResult r = it->result;
    r.verdict = worseVerdict(it->worstBefore, r.verdict);
    m_open.erase(it);
    return r;
}

QByteArray resultCsvHeader(bool withSpeed)
{
    return withSpeed ? "time,address,speed,function,sent,received,attempts,first_byte_ms,reply_ms,verdict,detail\r\n"
                     : "time,address,function,sent,received,attempts,first_byte_ms,reply_ms,verdict,detail\r\n";
}

QByteArray resultCsvRow(const AddressResult& r, bool withSpeed)
{
    QStringList fields = {isoTime(r.time), r.address};
    if (withSpeed)
        fields << r.speed;
    fields << r.function << r.sent << r.received << QString::number(r.attempts) << millisecondsText(r.firstByteMs)
           << millisecondsText(r.replyMs) << verdictName(r.verdict) << r.detail;
    return csvRow(fields);
}

} // namespace tarvo
