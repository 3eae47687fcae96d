#pragma once

#include "Journal.h"

#include <QAbstractTableModel>
#include <QFont>
#include <limits>
#include <vector>

namespace tarvo {

// The journal's last rows in memory, oldest first, as a table. A ring: once it holds `capacity` rows,
// each new row pushes the oldest out (the journal file keeps them all). It takes the journal's rows in
// batches, as one of its sinks.
class JournalTable final : public QAbstractTableModel, public JournalSink {
    Q_OBJECT
public:
    enum Column { Time, Slot, Address, Function, Attempt, Sent, Received, FirstByte, Reply, Verdict, Detail, Columns };
    static constexpr int kCapacity = 100'000;

    explicit JournalTable(int capacity = kCapacity, QObject* parent = nullptr);

    void append(const QList<JournalRecord>& records) override;
    // Rows held back from the table (made compact already): a view that takes rows at its own pace
    // keeps them here meanwhile, then shows them in one go.
    void keep(const QList<JournalRecord>& records);
    void showKept();
    qsizetype keptRows() const { return static_cast<qsizetype>(m_kept.size()); }
    // Forgets every row, those held back too.
    void clear();
    int capacity() const { return m_capacity; }

    JournalRecord record(int row) const;
    // The row of one attempt (its slot, its time to the millisecond and its try), the newest such
    // first; -1 when the table does not hold it (any more).
    int findRow(int slot, qint64 msecs, int attempt) const;
    // Every row held, oldest first: what File → Export journal writes.
    QList<JournalRecord> records() const;
    int slotAt(int row) const { return at(row).slot; }
    JournalRecord::Verdict verdictAt(int row) const { return static_cast<JournalRecord::Verdict>(at(row).verdict); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    // Around the removal of the oldest rows when the ring is full: a view may move in between (it
    // keeps its current row in sight) and then put itself back.
    void aboutToDropOldest();
    void droppedOldest();

private:
    // A row as it is kept: the frames as bytes in one buffer, the texts shared with the exchange's
    // own (the function name, the address as typed), so that a full ring stays small.
    struct Row {
        // When: milliseconds since the epoch, and the offset from UTC then (a QDateTime each would
        // take a block of memory of its own).
        static constexpr qint64 kNoTime = std::numeric_limits<qint64>::min();
        qint64 msecs = kNoTime;
        qint32 offset = 0;
        QString address;
        QString function;
        QString detail;
        QByteArray frames; // the request's bytes, then the reply's
        double firstByteMs = 0;
        double replyMs = 0;
        int sentBytes = 0;
        qint8 slot = 0;
        qint8 attempt = 0;
        quint8 verdict = 0;
    };
    static Row compact(const JournalRecord& record);
    static QDateTime timeOf(const Row& row);
    const Row& at(int row) const { return m_ring[(m_head + static_cast<size_t>(row)) % m_ring.size()]; }

    int m_capacity;
    std::vector<Row> m_kept; // held back, oldest first
    std::vector<Row> m_ring; // grows to the capacity, then is written round
    size_t m_head = 0;       // where the oldest row is
    int m_size = 0;
    QFont m_hexFont;
};

} // namespace tarvo
