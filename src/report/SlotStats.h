#pragma once

#include "JournalRecord.h"
#include "ReplySeries.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <cmath>
#include <vector>

namespace tarvo {

// The site's pass marks (Tarvo.ini, group report).
struct ReportMarks {
    double minSuccessPercent = 99;
    double maxP95ReplyMs = -1; // below 0: no mark on reply times
};

// Min, mean, 95th percentile and max of a set of times; NAN for each when the set is empty.
struct TimeFigures {
    long count = 0;
    double min = NAN;
    double mean = NAN;
    double p95 = NAN;
    double max = NAN;
};

// The figures of a set of times. The 95th percentile is taken by the nearest-rank method: the smallest
// value with at least 95 % of the values at or below it, i.e. the ceil(0.95 n)-th smallest. It is always
// one of the measured times, never an interpolation between two, so a customer can find it in the
// journal. Reorders `values`.
TimeFigures timeFigures(std::vector<double>& values);

// One controller as the report shows it: a slot and the address it had. Counted per request (an
// attempt 1 starts one; its up to three attempts end it), like the console's Controllers view, so the
// report and the dock agree:
// - answered: the request got a reply, whatever its check value said or whether it was a refusal;
// - no answer, bad check, exception: what the request ended with when no good reply came, the best of
//   its attempts deciding (ok, then bad check, then exception, then silence);
// - success: the requests answered with a good reply. A bad check value or a refusal is an answer, but
//   not a success: a slot full of bad check values must not pass.
// Requests that Stop cut short, that could not be sent (error) or that awaited no reply are not the
// controller's doing and are not counted.
struct SlotStats {
    int slot = 0;
    QString address;
    long requests = 0;
    long answered = 0;
    long succeeded = 0;
    long noAnswer = 0;
    long badCheck = 0;
    long exceptions = 0;
    long extraTries = 0;
    TimeFigures firstByte; // over the attempts that got a reply
    TimeFigures reply;
    QDateTime lastAnswered;
    double successPercent() const
    {
        return requests ? 100.0 * static_cast<double>(succeeded) / static_cast<double>(requests) : NAN;
    }
    // Passes only with at least one request, a success share at the mark, and, when there is a mark on
    // reply times, a 95th percentile at or under it (no reply time at all does not meet such a mark).
    bool passes(const ReportMarks& marks) const;
};

// A journal file as the report's header names it.
struct JournalFileInfo {
    QString path;
    qint64 size = 0;
    QByteArray sha256Hex;
};

// Takes journal rows in file order, one slot's requests after another's in any interleaving, and
// yields each controller's figures. Only the times are kept per row (for the percentiles); the rows
// themselves are not.
class SlotStatsBuilder {
public:
    void add(const JournalRecord& record);
    // The figures, by slot then address. Ends any request still open.
    QList<SlotStats> finish();

    // The first kFailureRows attempts that failed (no answer, a bad check value, an exception reply, an
    // error), in file order, and how many more there were.
    static constexpr int kFailureRows = 1000;
    const QList<JournalRecord>& failures() const { return m_failures; }
    long moreFailures() const { return m_moreFailures; }

    QDateTime firstTime() const { return m_first; }
    QDateTime lastTime() const { return m_last; }

private:
    struct Open {
        bool open = false;
        bool uncounted = false; // stopped, error, no reply expected
        int maxAttempt = 0;
        JournalRecord::Verdict best = JournalRecord::Verdict::NoAnswer;
    };
    struct Acc {
        SlotStats stats;
        Open request;
        std::vector<double> firstByte;
        std::vector<double> reply;
    };
    void close(Acc& acc);

    QMap<QPair<int, QString>, Acc> m_slots;
    QList<JournalRecord> m_failures;
    long m_moreFailures = 0;
    QDateTime m_first;
    QDateTime m_last;
};

// A census CSV as written by the census (its header names the columns): read whole, since a census
// holds one row per address and speed.
struct CensusTable {
    QString path;
    QStringList columns;
    QList<QStringList> rows;
};
// Throws JournalReadError for a missing file, a header that is not a census's, or a row that cannot be
// read (its line).
CensusTable readCensus(const QString& path);

// Reads the journal files in order into the builder, filling each file's size and SHA-256. Throws
// JournalReadError at the first file that cannot be read.
QList<JournalFileInfo> readJournals(const QStringList& paths, SlotStatsBuilder& builder);

} // namespace tarvo

namespace tarvo {

// Each controller's reply series over [from, to], in the order of `controllers`: a second read of the
// journals, so that only the thinned columns are ever held. Throws JournalReadError as readJournals does.
QList<ReplySeries> readSeries(const QStringList& paths, const QList<SlotStats>& controllers, const QDateTime& from,
                              const QDateTime& to, int columns);

} // namespace tarvo
