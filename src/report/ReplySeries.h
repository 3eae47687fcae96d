#pragma once

#include "JournalRecord.h"

#include <QDateTime>
#include <QList>
#include <array>
#include <cmath>

namespace tarvo {

// Which of an attempt's two times a series follows.
enum class SeriesMeasure {
    Reply,     // from the end of the request to the reply read
    FirstByte, // from the end of the request to the first reply byte
};

// One controller's times over a stretch of time, thinned to one column per pixel: each column keeps the
// least and the greatest time that fell in it, the worst verdict and how many attempts ended with each
// verdict, so a chart of any length is as small as its width while a single slow reply or a single
// failure still shows. The commissioning report's charts and the console's Timeline are both drawn
// from it.
class ReplySeries {
public:
    static constexpr int kVerdicts = 8; // JournalRecord::Verdict's values
    struct Column {
        double minMs = NAN; // NAN: no time in this column
        double maxMs = NAN;
        int worst = -1;                      // the worst verdict's JournalRecord::Verdict value; -1: no attempt at all
        std::array<int, kVerdicts> counts{}; // attempts per verdict
        int attempts() const;
    };

    // Columns spread evenly from `from` to `to` (both within the stretch); a stretch of one instant
    // fills the first column.
    ReplySeries(const QDateTime& from, const QDateTime& to, int columns, SeriesMeasure measure = SeriesMeasure::Reply);
    ReplySeries(qint64 fromMs, qint64 toMs, int columns, SeriesMeasure measure = SeriesMeasure::Reply);

    // An attempt of this controller; those outside [from, to] are ignored.
    void add(const JournalRecord& record);
    void add(qint64 ms, double replyMs, double firstByteMs, JournalRecord::Verdict verdict);
    // Several attempts summed up (a stretch of time further back that is no longer held attempt by
    // attempt): counted in the column of the stretch's middle.
    void addSummary(qint64 fromMs, qint64 toMs, double minMs, double maxMs,
                    const std::array<quint32, kVerdicts>& counts);

    const QList<Column>& columns() const { return m_columns; }
    // The greatest time over all columns; NAN when there is none.
    double maxMs() const { return m_maxMs; }
    SeriesMeasure measure() const { return m_measure; }
    qint64 fromMs() const { return m_from; }
    qint64 toMs() const { return m_from + m_span; }
    // The column an instant falls in; -1 outside [from, to].
    int columnOf(qint64 ms) const;
    // The first instant of a column, and the first one past it.
    qint64 columnStartMs(int column) const;
    qint64 columnEndMs(int column) const { return columnStartMs(column + 1); }

private:
    void addTime(Column& c, double ms);

    qint64 m_from = 0;
    qint64 m_span = 0; // ms
    SeriesMeasure m_measure = SeriesMeasure::Reply;
    QList<Column> m_columns;
    double m_maxMs = NAN;
};

} // namespace tarvo
