#pragma once

#include "JournalRecord.h"

#include <QDateTime>
#include <QList>
#include <cmath>

namespace tarvo {

// One controller's reply times over a run, thinned to one column per pixel: each column keeps the
// least and the greatest reply time that fell in it and the worst verdict, so a chart of any journal's
// length is as small as its width while a single slow reply or a single failure still shows.
class ReplySeries {
public:
    struct Column {
        double minMs = NAN; // NAN: no reply time in this column
        double maxMs = NAN;
        int worst = -1; // the worst verdict's JournalRecord::Verdict value; -1: no attempt at all
    };

    // Columns spread evenly from `from` to `to` (both within the run); a run of one instant fills the
    // first column.
    ReplySeries(const QDateTime& from, const QDateTime& to, int columns);

    // An attempt of this controller; those outside [from, to] are ignored.
    void add(const JournalRecord& record);

    const QList<Column>& columns() const { return m_columns; }
    // The greatest reply time over all columns; NAN when there is none.
    double maxMs() const { return m_maxMs; }

private:
    qint64 m_from = 0;
    qint64 m_span = 0; // ms
    QList<Column> m_columns;
    double m_maxMs = NAN;
};

} // namespace tarvo
