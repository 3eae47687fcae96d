#pragma once

#include "Journal.h"

#include <QAbstractProxyModel>
#include <QAbstractTableModel>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QFont>
#include <QTimer>
#include <limits>
#include <utility>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

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

// The rows of one slot, or of some verdicts, or all. Unfiltered, it hands the table's rows through
// as they are, without a map of rows to keep up at each batch. The table only ever appends rows,
// drops some and starts again empty; that is all this follows (its cells never change).
class JournalFilter final : public QAbstractProxyModel {
    Q_OBJECT
public:
    static constexpr int kAll = -1;
    static constexpr int kNotOk = -2; // every verdict but ok

    explicit JournalFilter(JournalTable& table, QObject* parent = nullptr);
    // 1 to 32, or kAll.
    void setSlotFilter(int slot);
    // A JournalRecord::Verdict as a number, kNotOk or kAll.
    void setVerdictFilter(int verdict);

    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex& sourceIndex) const override;
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    bool filtering() const { return m_slot != kAll || m_verdict != kAll; }
    bool accepts(int sourceRow) const;
    void refilter();
    int sourceRow(int row) const { return filtering() ? m_rows[static_cast<size_t>(row)] : row; }

    JournalTable& m_table;
    int m_slot = kAll;
    int m_verdict = kAll;
    std::vector<int> m_rows;        // the table's rows shown, in order, while filtering
    std::pair<int, int> m_removing; // the rows shown that the table is dropping, from and to (past)
};

// The journal view: the table, newest row at the bottom, following new rows as long as the operator
// has not scrolled up; then a "N new" button counts what came since and brings the view back down.
// Filters by slot and by verdict, Clear, and a line for the journal file's state.
class JournalDock final : public QDockWidget {
    Q_OBJECT
public:
    explicit JournalDock(QWidget* parent = nullptr);

    JournalTable& table() { return m_table; }
    // Where the journal's rows come in: they go to the table at most every kShowEveryMs while they
    // keep coming (each batch laid out and drawn costs about the same whatever its size, and a view
    // following a busy bus faster than that cannot be read anyway); one that comes after a quiet
    // spell is shown at once.
    JournalSink& feed() { return m_feed; }
    static constexpr int kShowEveryMs = 2000;
    // Shows the rows that came in since the table last took some, now.
    void showWaitingRows();
    QTableView* view() const { return m_view; }
    // Whether the view keeps the newest row in sight.
    bool following() const { return m_follow; }

    // The journal file: what is written where, or what went wrong (shown until the next file starts).
    void showFile(const QString& text);
    void showProblem(const QString& text);

public slots:
    void scrollToNewest();
    // Copies the selected rows as CSV lines.
    void copySelection();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Feed final : JournalSink {
        explicit Feed(JournalDock& d) : dock(d) {}
        void append(const QList<JournalRecord>& records) override { dock.rowsCame(records); }
        JournalDock& dock;
    };
    void rowsCame(const QList<JournalRecord>& records);
    void rowsShown(int count);
    void scrolled(int value);
    void filterChanged();

    JournalTable m_table;
    Feed m_feed{*this};
    QElapsedTimer m_sinceShown;
    QTimer m_showTimer;
    JournalFilter m_filter;
    QTableView* m_view;
    QComboBox* m_slotChoice;
    QComboBox* m_verdictChoice;
    QPushButton* m_newRows;
    QLabel* m_file;
    QLabel* m_problem;
    bool m_follow = true;
    bool m_refiltering = false;
    int m_unseen = 0;
    // While the oldest rows leave: where the view was, and how many of its rows went.
    bool m_dropping = false;
    int m_valueBeforeDrop = 0;
    int m_dropped = 0;
};

} // namespace tarvo
