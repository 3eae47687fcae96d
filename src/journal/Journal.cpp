#include "Journal.h"

#include "Clock.h"

#include <algorithm>
#include <optional>

namespace tarvo {

Journal::Journal(const Clock& clock, std::function<QDateTime()> wallClock)
    : m_clock(clock), m_wallClock(std::move(wallClock))
{
}

void Journal::attemptFinished(const AttemptRecord& attempt)
{
    if (m_sinks.empty())
        return; // nobody reads the journal: nothing is kept
    m_pending.append(attempt);
    // The reply may share a read buffer far larger than itself (the link's): at full polling speed
    // a batch of those would hold tens of megabytes until the flush. Kept at its own size.
    QByteArray& reply = std::get<AttemptRecord>(m_pending.last()).reply;
    if (reply.capacity() > reply.size() + 64)
        reply = QByteArray(reply.constData(), reply.size());
    if (onKept)
        onKept(m_pending.size());
}

void Journal::add(const JournalRecord& record)
{
    m_pending.append(record);
    if (onKept)
        onKept(m_pending.size());
}

void Journal::addSink(JournalSink* sink)
{
    if (sink && std::find(m_sinks.begin(), m_sinks.end(), sink) == m_sinks.end())
        m_sinks.push_back(sink);
}

void Journal::removeSink(JournalSink* sink)
{
    m_sinks.erase(std::remove(m_sinks.begin(), m_sinks.end(), sink), m_sinks.end());
}

qsizetype Journal::flush()
{
    if (m_pending.isEmpty())
        return 0;
    const auto kept = std::exchange(m_pending, {});
    m_pending.reserve(kept.size()); // the next batch is likely the same size
    // The attempts' times are the exchange clock's: one reading of both clocks places them all in
    // the day.
    const double clockNow = m_clock.now();
    std::optional<QDateTime> wallNow;
    QList<JournalRecord> batch;
    batch.reserve(kept.size());
    for (const auto& k : kept) {
        if (const auto* attempt = std::get_if<AttemptRecord>(&k)) {
            if (!wallNow)
                wallNow = m_wallClock();
            batch.append(journalRecord(*attempt, clockNow, *wallNow));
        } else {
            batch.append(std::get<JournalRecord>(k));
        }
    }
    for (JournalSink* sink : m_sinks)
        sink->append(batch);
    return batch.size();
}

} // namespace tarvo
