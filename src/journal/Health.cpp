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
    ++m_generation;
}

void Health::attemptFinished(const AttemptRecord& a)
{
    using V = AttemptRecord::Verdict;
    if (a.slot < 0 || a.slot >= static_cast<int>(m_slots.size()) || a.function == fn::Waiting)
        return;
    if (a.verdict == V::Stopped || a.verdict == V::Error || a.verdict == V::ReplyLess)
        return;
    Slot& s = m_slots[static_cast<size_t>(a.slot)];
    if (s.address != a.address) {
        s = Slot{};
        s.address = a.address.isNull() ? QStringLiteral("") : a.address;
    }
    ++m_generation;
    const bool lastTry = a.verdict == V::Reply || a.attempt >= 3;
    if (!lastTry)
        return; // the request goes on: it is counted once it ends
    ++s.requests;
    s.extraTries += a.attempt - 1;
    if (a.verdict != V::Reply) {
        ++s.noAnswer;
        return;
    }
    ++s.answered;
    if (a.checkFailed)
        ++s.badCheck;
    s.lastAnswered = m_wallClock().addMSecs(-qRound64((m_clock.now() - a.repliedAt) * 1000));
    if (a.firstByteAt >= 0) {
        const double ms = (a.firstByteAt - a.sentAt) * 1000;
        s.lastFirstByteMs = ms;
        s.minFirstByteMs = std::isnan(s.minFirstByteMs) ? ms : std::min(s.minFirstByteMs, ms);
        s.maxFirstByteMs = std::isnan(s.maxFirstByteMs) ? ms : std::max(s.maxFirstByteMs, ms);
        s.sumFirstByteMs += ms;
        ++s.firstByteCount;
    }
}

} // namespace tarvo
