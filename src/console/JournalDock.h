#pragma once

#include "Journal.h"
#include "JournalFilter.h"
#include "JournalTable.h"

#include <QDockWidget>
#include <QElapsedTimer>
#include <QTimer>

class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

namespace tarvo {

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
    // Shows the dock with one attempt's row selected and in sight (the filters set back to All if they
    // hid it). False when the table no longer holds that row.
    bool selectAttempt(int slot, qint64 msecs, int attempt);
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
