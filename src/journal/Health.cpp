#include "Health.h"

#include "Clock.h"
#include "Requests.h"

#include <algorithm>

namespace tarvo {

Health::Health(const Clock& clock, std::function<QDateTime()> wallClock)
    : m_clock(clock), m_wallClock(std::move(wallClock))
{
}

void Health::reset()
{
    m_slots = {};
    m_refused = {};
    ++m_generation;
}

void Health::attemptFinished(const AttemptRecord& a)
{
    using V = AttemptRecord::Verdict;
    if (a.slot < 0 || a.slot >= static_cast<int>(m_slots.size()) || a.function == fn::Waiting)
        return;
    Refusal& refused = m_refused[static_cast<size_t>(a.slot)];
    if (a.attempt <= 1)
        refused = {}; // a new request
    if (a.verdict == V::Stopped || a.verdict == V::Error || a.verdict == V::ReplyLess)
        return;
    Slot& s = m_slots[static_cast<size_t>(a.slot)];
    if (s.address != a.address) {
        s = Slot{};
        s.address = a.address.isNull() ? QStringLiteral("") : a.address;
    }
    ++m_generation;
    const double firstByteMs = a.firstByteAt >= 0 ? (a.firstByteAt - a.sentAt) * 1000 : NAN;
    // A refusal may come too short to end the wait: the console then tries again, and what the next
    // tries get does not take the refusal back unless a reply comes.
    const bool refusal = a.exceptionCode >= 0 && !a.checkFailed;
    if (refusal)
        refused = {true, firstByteMs, a.verdict == V::Reply ? a.repliedAt : std::max(a.firstByteAt, a.sentAt)};
    const bool lastTry = a.verdict == V::Reply || a.attempt >= 3;
    if (!lastTry)
        return; // the request goes on: it is counted once it ends
    ++s.requests;
    s.extraTries += a.attempt - 1;
    double answeredAt = a.repliedAt;
    double answerFirstByteMs = firstByteMs;
    if (a.verdict == V::Reply && !refusal) {
        if (a.checkFailed)
            ++s.badCheck;
    } else if (refused.seen) {
        ++s.exceptions;
        answeredAt = refused.at;
        answerFirstByteMs = refused.firstByteMs;
    } else {
        ++s.noAnswer;
        return;
    }
    refused = {};
    ++s.answered;
    s.lastAnswered = m_wallClock().addMSecs(-qRound64((m_clock.now() - answeredAt) * 1000));
    if (const double ms = answerFirstByteMs; !std::isnan(ms)) {
        s.lastFirstByteMs = ms;
        s.minFirstByteMs = std::isnan(s.minFirstByteMs) ? ms : std::min(s.minFirstByteMs, ms);
        s.maxFirstByteMs = std::isnan(s.maxFirstByteMs) ? ms : std::max(s.maxFirstByteMs, ms);
        s.sumFirstByteMs += ms;
        ++s.firstByteCount;
    }
}

} // namespace tarvo
