#pragma once

#include "Journal.h"
#include "ReplySeries.h"

#include <QString>
#include <array>
#include <deque>
#include <optional>
#include <vector>

namespace tarvo {

// One controller's attempts over a whole session, in memory that stays bounded however long the
// session runs: the attempts of the last hour one by one (at most kRawLimit of them: a controller
// polled without delays makes far more), and further back buckets of a stretch of time holding the
// least and greatest times, the 95th percentile and a count per verdict. Attempts leave for the
// buckets kBucketMs at a time; when there are more than kBucketLimit buckets, neighbours are merged
// two by two and the buckets' stretch doubles. Times are held to a tenth of a millisecond, as the
// journal file writes them.
class AttemptHistory {
public:
    static constexpr qint64 kRawSpanMs = 3600 * 1000;
    static constexpr size_t kRawLimit = 32 * 1024;
    static constexpr qint64 kBucketMs = 10 * 1000;
    static constexpr size_t kBucketLimit = 2048;
    static constexpr size_t kP95Sample = 4096; // more attempts than this: the percentile of a sample

    // An attempt as it is held: its times to a tenth of a millisecond (as the journal writes them).
    struct Attempt {
        qint64 ms = 0; // when the request had left, milliseconds since the epoch
        double replyMs = NAN;
        double firstByteMs = NAN;
        JournalRecord::Verdict verdict = JournalRecord::Verdict::NoAnswer;
        int attempt = 1;
        double time(SeriesMeasure m) const { return m == SeriesMeasure::Reply ? replyMs : firstByteMs; }
    };
    struct Bucket {
        qint64 fromMs = 0;
        qint64 toMs = 0; // the first instant past it
        // Per measure (SeriesMeasure's order), in tenths of a millisecond; -1 for none.
        std::array<qint32, 2> minTenths{-1, -1};
        std::array<qint32, 2> maxTenths{-1, -1};
        // The bucket's own 95th percentile (nearest rank); after a merge, the greater of the two.
        std::array<qint32, 2> p95Tenths{-1, -1};
        std::array<quint32, 2> timed{}; // how many attempts had each time
        std::array<quint32, ReplySeries::kVerdicts> counts{};
        qint64 attempts() const;
        double minMs(SeriesMeasure m) const;
        double maxMs(SeriesMeasure m) const;
        double p95Ms(SeriesMeasure m) const;
    };
    struct Percentile {
        double ms = NAN;        // NAN: no time in the stretch
        bool estimated = false; // from buckets or a sample: not the exact figure
    };

    void add(const JournalRecord& record);
    void add(qint64 ms, double replyMs, double firstByteMs, JournalRecord::Verdict verdict, int attempt);

    bool empty() const { return m_attempts == 0; }
    // The first and the last attempt's time; 0 when empty.
    qint64 firstMs() const { return m_firstMs; }
    qint64 lastMs() const { return m_lastMs; }
    qint64 attempts() const { return m_attempts; }

    // The columns of [fromMs, toMs]: what a chart of that stretch draws. With `onlyFromMs`, the
    // columns before it are left empty (a chart that draws its newest part again).
    ReplySeries thin(qint64 fromMs, qint64 toMs, int columns, SeriesMeasure measure, qint64 onlyFromMs = 0) const;
    // The 95th percentile (nearest rank) of the times in [fromMs, toMs]; estimated when buckets take
    // part or when more than kP95Sample attempts do (an even sample of them is taken).
    Percentile p95(qint64 fromMs, qint64 toMs, SeriesMeasure measure) const;
    // The attempt held one by one closest to `ms`, if one is within `withinMs`.
    std::optional<Attempt> nearest(qint64 ms, qint64 withinMs) const;
    // The bucket holding `ms`, if that stretch is held as a bucket.
    std::optional<Bucket> bucketAt(qint64 ms) const;

    size_t rawCount() const { return m_raw.size(); }
    size_t bucketCount() const { return m_buckets.size(); }
    qint64 bucketMs() const { return m_bucketMs; }
    // What the history holds in memory, about.
    size_t memoryBytes() const;

private:
    // 16 bytes an attempt: the time with the verdict and the try in its low byte, the two times in
    // tenths of a millisecond (-1: none).
    struct Raw {
        qint64 packed;
        qint32 replyTenths;
        qint32 firstByteTenths;
        qint64 ms() const { return packed >> 8; }
        Attempt unpack() const;
    };
    static Raw pack(qint64 ms, double replyMs, double firstByteMs, JournalRecord::Verdict verdict, int attempt);
    void retire();
    void mergeBuckets();

    std::deque<Raw> m_raw;         // oldest first
    std::vector<Bucket> m_buckets; // oldest first, none overlapping the raw attempts
    qint64 m_bucketMs = kBucketMs;
    qint64 m_attempts = 0;
    qint64 m_firstMs = 0;
    qint64 m_lastMs = 0;
};

// Every slot's history, fed with the journal's rows (a sink of the journal). The bus monitor's rows
// (function "Waiting") are no exchanges and are left out, as the report leaves them out.
class BusHistory final : public JournalSink {
public:
    static constexpr int kSlots = 32;
    void append(const QList<JournalRecord>& records) override;
    void clear();

    const AttemptHistory& slot(int slot) const { return m_slots[static_cast<size_t>(slot - 1)]; } // 1 to 32
    // The address the slot's last attempt went to.
    const QString& address(int slot) const { return m_addresses[static_cast<size_t>(slot - 1)]; }
    qint64 firstMs() const; // 0 when nothing came
    qint64 lastMs() const;
    size_t memoryBytes() const;

private:
    std::array<AttemptHistory, kSlots> m_slots;
    std::array<QString, kSlots> m_addresses;
};

} // namespace tarvo
