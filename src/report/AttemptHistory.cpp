#include "AttemptHistory.h"

#include "SlotStats.h"

#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {

qint32 tenths(double ms)
{
    if (std::isnan(ms) || ms < 0)
        return -1;
    return static_cast<qint32>(std::min(std::llround(ms * 10), static_cast<long long>(INT32_MAX)));
}

double fromTenths(qint32 t)
{
    return t < 0 ? NAN : t / 10.0;
}

qint64 floorTo(qint64 ms, qint64 step)
{
    const qint64 q = ms / step;
    return (ms % step < 0 ? q - 1 : q) * step;
}

// Of two times in tenths, -1 being none.
qint32 lesser(qint32 a, qint32 b)
{
    return a < 0 ? b : b < 0 ? a : std::min(a, b);
}

qint32 greater(qint32 a, qint32 b)
{
    return std::max(a, b);
}

void mergeInto(AttemptHistory::Bucket& into, const AttemptHistory::Bucket& b)
{
    into.fromMs = std::min(into.fromMs, b.fromMs);
    into.toMs = std::max(into.toMs, b.toMs);
    for (size_t m = 0; m < 2; ++m) {
        into.minTenths[m] = lesser(into.minTenths[m], b.minTenths[m]);
        into.maxTenths[m] = greater(into.maxTenths[m], b.maxTenths[m]);
        // The 95th percentile of the two together lies between theirs: the greater is the safe side.
        into.p95Tenths[m] = greater(into.p95Tenths[m], b.p95Tenths[m]);
        into.timed[m] += b.timed[m];
    }
    for (size_t v = 0; v < into.counts.size(); ++v)
        into.counts[v] += b.counts[v];
}

// The value at a rank (counted from 1) of values each standing `weight` times: a selection that
// partitions about a pivot and keeps the side the rank falls in, linear on the average. A full sort
// of the same costs several times as much, at every repaint.
double weightedRank(std::vector<std::pair<double, qint64>>& items, qint64 rank)
{
    auto lo = items.begin();
    auto hi = items.end();
    while (hi - lo > 1) {
        const double pivot = (lo + (hi - lo) / 2)->first;
        const auto less = std::partition(lo, hi, [pivot](const auto& i) { return i.first < pivot; });
        const auto equal = std::partition(less, hi, [pivot](const auto& i) { return i.first == pivot; });
        qint64 below = 0;
        for (auto i = lo; i != less; ++i)
            below += i->second;
        qint64 at = 0;
        for (auto i = less; i != equal; ++i)
            at += i->second;
        if (rank <= below) {
            hi = less;
        } else if (rank <= below + at) {
            return pivot;
        } else {
            rank -= below + at;
            lo = equal;
        }
    }
    return lo->first;
}

} // namespace

qint64 AttemptHistory::Bucket::attempts() const
{
    qint64 n = 0;
    for (quint32 c : counts)
        n += c;
    return n;
}

double AttemptHistory::Bucket::minMs(SeriesMeasure m) const
{
    return fromTenths(minTenths[static_cast<size_t>(m)]);
}

double AttemptHistory::Bucket::maxMs(SeriesMeasure m) const
{
    return fromTenths(maxTenths[static_cast<size_t>(m)]);
}

double AttemptHistory::Bucket::p95Ms(SeriesMeasure m) const
{
    return fromTenths(p95Tenths[static_cast<size_t>(m)]);
}

AttemptHistory::Raw AttemptHistory::pack(qint64 ms, double replyMs, double firstByteMs, JournalRecord::Verdict verdict,
                                         int attempt)
{
    const auto low = static_cast<qint64>((static_cast<unsigned>(verdict) & 0xF) << 4 | (std::clamp(attempt, 0, 15)));
    return {static_cast<qint64>(static_cast<quint64>(ms) << 8) | low, tenths(replyMs), tenths(firstByteMs)};
}

AttemptHistory::Attempt AttemptHistory::Raw::unpack() const
{
    return {ms(), fromTenths(replyTenths), fromTenths(firstByteTenths),
            static_cast<JournalRecord::Verdict>((packed >> 4) & 0xF), static_cast<int>(packed & 0xF)};
}

void AttemptHistory::add(const JournalRecord& r)
{
    add(r.time.toMSecsSinceEpoch(), r.replyMs, r.firstByteMs, r.verdict, r.attempt);
}

void AttemptHistory::add(qint64 ms, double replyMs, double firstByteMs, JournalRecord::Verdict verdict, int attempt)
{
    const Raw raw = pack(ms, replyMs, firstByteMs, verdict, attempt);
    m_firstMs = m_attempts == 0 ? ms : std::min(m_firstMs, ms);
    m_lastMs = m_attempts == 0 ? ms : std::max(m_lastMs, ms);
    ++m_attempts;
    if (m_raw.empty() || m_raw.back().ms() <= ms) {
        m_raw.push_back(raw);
    } else {
        // The clock was put back: the attempt still goes where its time says.
        const auto at =
            std::upper_bound(m_raw.begin(), m_raw.end(), ms, [](qint64 t, const Raw& r) { return t < r.ms(); });
        m_raw.insert(at, raw);
    }
    retire();
}

void AttemptHistory::retire()
{
    while (!m_raw.empty() && (m_raw.size() > kRawLimit || m_raw.front().ms() < m_raw.back().ms() - kRawSpanMs)) {
        // The oldest attempts leave kBucketMs at a time, so that the percentile is taken over all of
        // them; into the last bucket if it reaches that far (it may be wider).
        const qint64 from = floorTo(m_raw.front().ms(), kBucketMs);
        Bucket b;
        b.fromMs = from;
        b.toMs = from + kBucketMs;
        std::array<std::vector<double>, 2> times;
        while (!m_raw.empty() && m_raw.front().ms() < b.toMs) {
            const Attempt a = m_raw.front().unpack();
            m_raw.pop_front();
            const auto v = static_cast<size_t>(a.verdict);
            if (v < b.counts.size())
                ++b.counts[v];
            for (size_t m = 0; m < 2; ++m) {
                const double t = a.time(static_cast<SeriesMeasure>(m));
                if (!std::isnan(t))
                    times[m].push_back(t);
            }
        }
        for (size_t m = 0; m < 2; ++m) {
            const TimeFigures f = timeFigures(times[m]);
            b.minTenths[m] = tenths(f.min);
            b.maxTenths[m] = tenths(f.max);
            b.p95Tenths[m] = tenths(f.p95);
            b.timed[m] = static_cast<quint32>(f.count);
        }
        if (!m_buckets.empty() && m_buckets.back().toMs > b.fromMs) {
            mergeInto(m_buckets.back(), b);
        } else {
            // A new bucket spans the buckets' present stretch; the next slices fall into it.
            b.fromMs = floorTo(b.fromMs, m_bucketMs);
            b.toMs = std::max(b.toMs, b.fromMs + m_bucketMs);
            m_buckets.push_back(b);
        }
        if (m_buckets.size() > kBucketLimit)
            mergeBuckets();
    }
}

void AttemptHistory::mergeBuckets()
{
    m_bucketMs *= 2;
    std::vector<Bucket> merged;
    merged.reserve(m_buckets.size() / 2 + 1);
    for (const Bucket& b : m_buckets) {
        const qint64 from = floorTo(b.fromMs, m_bucketMs);
        if (!merged.empty() && merged.back().toMs > b.fromMs) {
            mergeInto(merged.back(), b);
        } else {
            merged.push_back(b);
            merged.back().fromMs = from;
            merged.back().toMs = std::max(b.toMs, from + m_bucketMs);
        }
    }
    m_buckets = std::move(merged);
}

ReplySeries AttemptHistory::thin(qint64 fromMs, qint64 toMs, int columns, SeriesMeasure measure,
                                 qint64 onlyFromMs) const
{
    ReplySeries series(fromMs, toMs, columns, measure);
    const qint64 start = std::max(fromMs, onlyFromMs);
    for (const Bucket& b : m_buckets) {
        if (b.toMs <= start || b.fromMs > toMs)
            continue;
        series.addSummary(b.fromMs, b.toMs, b.minMs(measure), b.maxMs(measure), b.counts);
    }
    auto it = std::lower_bound(m_raw.begin(), m_raw.end(), start, [](const Raw& r, qint64 t) { return r.ms() < t; });
    for (; it != m_raw.end() && it->ms() <= toMs; ++it) {
        const Attempt a = it->unpack();
        series.add(a.ms, a.replyMs, a.firstByteMs, a.verdict);
    }
    return series;
}

AttemptHistory::Percentile AttemptHistory::p95(qint64 fromMs, qint64 toMs, SeriesMeasure measure) const
{
    std::vector<double> raw;
    const auto first =
        std::lower_bound(m_raw.begin(), m_raw.end(), fromMs, [](const Raw& r, qint64 t) { return r.ms() < t; });
    const auto last = std::upper_bound(first, m_raw.end(), toMs, [](qint64 t, const Raw& r) { return t < r.ms(); });
    // Over very many attempts, an even sample of them: the figure is drawn at every repaint.
    const auto n = static_cast<size_t>(last - first);
    const size_t stride = n > kP95Sample ? (n + kP95Sample - 1) / kP95Sample : 1;
    raw.reserve(n / stride + 1);
    for (auto it = first; it < last;
         it += static_cast<std::ptrdiff_t>(std::min<size_t>(stride, static_cast<size_t>(last - it)))) {
        const double t = it->unpack().time(measure);
        if (!std::isnan(t))
            raw.push_back(t);
    }
    const bool sampled = stride > 1;
    const auto m = static_cast<size_t>(measure);
    std::vector<std::pair<double, qint64>> weighted;
    for (const Bucket& b : m_buckets)
        if (b.toMs > fromMs && b.fromMs <= toMs && b.timed[static_cast<size_t>(measure)] > 0)
            weighted.emplace_back(b.p95Ms(measure), b.timed[m]);
    if (weighted.empty())
        return {timeFigures(raw).p95, sampled};
    // Each bucket stands for its attempts by its own percentile; the nearest rank is then taken over
    // the whole, each attempt held one by one counting once.
    const qint64 rawWeight = static_cast<qint64>(stride);
    qint64 total = static_cast<qint64>(raw.size()) * rawWeight;
    for (const auto& [value, weight] : weighted)
        total += weight;
    for (double t : raw)
        weighted.emplace_back(t, rawWeight);
    return {weightedRank(weighted, (95 * total + 99) / 100), true};
}

std::optional<AttemptHistory::Attempt> AttemptHistory::nearest(qint64 ms, qint64 withinMs) const
{
    auto it = std::lower_bound(m_raw.begin(), m_raw.end(), ms, [](const Raw& r, qint64 t) { return r.ms() < t; });
    std::optional<Attempt> best;
    qint64 bestGap = withinMs + 1;
    for (auto c : {it, it == m_raw.begin() ? m_raw.end() : std::prev(it)}) {
        if (c == m_raw.end())
            continue;
        const qint64 gap = std::abs(c->ms() - ms);
        if (gap < bestGap) {
            bestGap = gap;
            best = c->unpack();
        }
    }
    // Of several attempts at the same millisecond, the worst: a failure is what is looked for.
    if (best) {
        auto first =
            std::lower_bound(m_raw.begin(), m_raw.end(), best->ms, [](const Raw& r, qint64 t) { return r.ms() < t; });
        for (; first != m_raw.end() && first->ms() == best->ms; ++first) {
            const Attempt a = first->unpack();
            if (verdictSeverity(a.verdict) > verdictSeverity(best->verdict))
                best = a;
        }
    }
    return best;
}

std::optional<AttemptHistory::Bucket> AttemptHistory::bucketAt(qint64 ms) const
{
    const auto it = std::upper_bound(m_buckets.begin(), m_buckets.end(), ms,
                                     [](qint64 t, const Bucket& b) { return t < b.fromMs; });
    if (it == m_buckets.begin())
        return std::nullopt;
    const Bucket& b = *std::prev(it);
    if (ms >= b.toMs)
        return std::nullopt;
    return b;
}

size_t AttemptHistory::memoryBytes() const
{
    return sizeof(*this) + m_raw.size() * sizeof(Raw) + m_buckets.capacity() * sizeof(Bucket);
}

void BusHistory::append(const QList<JournalRecord>& records)
{
    for (const JournalRecord& r : records) {
        if (r.slot < 1 || r.slot > kSlots || r.function == QLatin1String("Waiting"))
            continue;
        const auto i = static_cast<size_t>(r.slot - 1);
        m_slots[i].add(r);
        if (m_addresses[i] != r.address)
            m_addresses[i] = r.address;
    }
}

void BusHistory::clear()
{
    m_slots = {};
    for (QString& a : m_addresses)
        a.clear();
}

qint64 BusHistory::firstMs() const
{
    qint64 first = 0;
    for (const AttemptHistory& h : m_slots)
        if (!h.empty() && (first == 0 || h.firstMs() < first))
            first = h.firstMs();
    return first;
}

qint64 BusHistory::lastMs() const
{
    qint64 last = 0;
    for (const AttemptHistory& h : m_slots)
        if (!h.empty())
            last = std::max(last, h.lastMs());
    return last;
}

size_t BusHistory::memoryBytes() const
{
    size_t n = 0;
    for (const AttemptHistory& h : m_slots)
        n += h.memoryBytes();
    return n;
}

} // namespace tarvo
