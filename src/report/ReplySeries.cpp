#include "ReplySeries.h"

#include <algorithm>
#include <numeric>

namespace tarvo {

int ReplySeries::Column::attempts() const
{
    return std::accumulate(counts.begin(), counts.end(), 0);
}

ReplySeries::ReplySeries(const QDateTime& from, const QDateTime& to, int columns, SeriesMeasure measure)
    : ReplySeries(from.toMSecsSinceEpoch(), to.toMSecsSinceEpoch(), columns, measure)
{
}

ReplySeries::ReplySeries(qint64 fromMs, qint64 toMs, int columns, SeriesMeasure measure)
    : m_from(fromMs), m_span(std::max<qint64>(0, toMs - fromMs)), m_measure(measure), m_columns(std::max(1, columns))
{
}

int ReplySeries::columnOf(qint64 ms) const
{
    const qint64 at = ms - m_from;
    if (at < 0 || at > m_span)
        return -1;
    const qsizetype n = m_columns.size();
    // The last instant belongs to the last column, not to one past it.
    return m_span == 0 ? 0
                       : static_cast<int>(std::min<qsizetype>(n - 1, static_cast<qsizetype>(at * n / (m_span + 1))));
}

qint64 ReplySeries::columnStartMs(int column) const
{
    // The smallest instant whose column (see columnOf) is `column`: ceil(column * (span + 1) / n).
    const qint64 n = m_columns.size();
    return m_from + (static_cast<qint64>(column) * (m_span + 1) + n - 1) / n;
}

void ReplySeries::addTime(Column& c, double ms)
{
    c.minMs = std::isnan(c.minMs) ? ms : std::min(c.minMs, ms);
    c.maxMs = std::isnan(c.maxMs) ? ms : std::max(c.maxMs, ms);
    m_maxMs = std::isnan(m_maxMs) ? ms : std::max(m_maxMs, ms);
}

void ReplySeries::add(const JournalRecord& r)
{
    add(r.time.toMSecsSinceEpoch(), r.replyMs, r.firstByteMs, r.verdict);
}

void ReplySeries::add(qint64 ms, double replyMs, double firstByteMs, JournalRecord::Verdict verdict)
{
    const int index = columnOf(ms);
    if (index < 0)
        return;
    Column& c = m_columns[index];
    if (c.worst < 0 || verdictSeverity(verdict) > verdictSeverity(static_cast<JournalRecord::Verdict>(c.worst)))
        c.worst = static_cast<int>(verdict);
    const auto v = static_cast<size_t>(verdict);
    if (v < c.counts.size())
        ++c.counts[v];
    const double time = m_measure == SeriesMeasure::Reply ? replyMs : firstByteMs;
    if (!std::isnan(time))
        addTime(c, time);
}

void ReplySeries::addSummary(qint64 fromMs, qint64 toMs, double minMs, double maxMs,
                             const std::array<quint32, kVerdicts>& counts)
{
    const int index = columnOf(fromMs + (toMs - fromMs) / 2);
    if (index < 0)
        return;
    Column& c = m_columns[index];
    for (size_t v = 0; v < counts.size(); ++v) {
        if (counts[v] == 0)
            continue;
        c.counts[v] += static_cast<int>(counts[v]);
        const auto verdict = static_cast<JournalRecord::Verdict>(v);
        if (c.worst < 0 || verdictSeverity(verdict) > verdictSeverity(static_cast<JournalRecord::Verdict>(c.worst)))
            c.worst = static_cast<int>(v);
    }
    if (!std::isnan(minMs))
        addTime(c, minMs);
    if (!std::isnan(maxMs))
        addTime(c, maxMs);
}

} // namespace tarvo
