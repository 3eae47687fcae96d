#include "ReplySeries.h"

#include <algorithm>

namespace tarvo {

ReplySeries::ReplySeries(const QDateTime& from, const QDateTime& to, int columns)
    : m_from(from.toMSecsSinceEpoch()), m_span(std::max<qint64>(0, to.toMSecsSinceEpoch() - from.toMSecsSinceEpoch())),
      m_columns(std::max(1, columns))
{
}

void ReplySeries::add(const JournalRecord& r)
{
    const qint64 at = r.time.toMSecsSinceEpoch() - m_from;
    if (at < 0 || at > m_span)
        return;
    const qsizetype n = m_columns.size();
    // The last instant belongs to the last column, not to one past it.
    const qsizetype index = m_span == 0 ? 0 : std::min<qsizetype>(n - 1, static_cast<qsizetype>(at * n / (m_span + 1)));
    Column& c = m_columns[index];
    if (c.worst < 0 || verdictSeverity(r.verdict) > verdictSeverity(static_cast<JournalRecord::Verdict>(c.worst)))
        c.worst = static_cast<int>(r.verdict);
    if (!std::isnan(r.replyMs)) {
        c.minMs = std::isnan(c.minMs) ? r.replyMs : std::min(c.minMs, r.replyMs);
        c.maxMs = std::isnan(c.maxMs) ? r.replyMs : std::max(c.maxMs, r.replyMs);
        m_maxMs = std::isnan(m_maxMs) ? r.replyMs : std::max(m_maxMs, r.replyMs);
    }
}

} // namespace tarvo
