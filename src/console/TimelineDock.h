#pragma once

#include "AttemptHistory.h"
#include "FileDialogs.h"
#include "Journal.h"

#include <QDockWidget>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QToolButton;

namespace tarvo {

class ConsoleModel;
class ConsoleWindow;

// The Timeline's drawing: one lane per slot, time running left to right. Each lane has a verdict strip
// at its foot, one mark per pixel column (per attempt, when they are farther apart than a pixel),
// whose height as well as its colour tells the verdict: a short green mark for a good reply, a half
// one in amber for a bad check value or a refusal, a full one in red for no answer or an error, a
// grey one hanging from the top for an attempt cut short by Stop. Above it the reply (or first-byte)
// time, each column's least to greatest, with the 95th percentile of the stretch in view as a band;
// a column with a failure is shaded behind it, so a controller that drops out now and then shows as a
// row of stripes.
class TimelineView final : public QWidget {
    Q_OBJECT
public:
    enum class Style { Points, Line };
    struct Lane {
        int slot = 1; // 1 to 32
        QString name;
        QString address;
    };
    static constexpr int kLabelWidth = 150;
    static constexpr int kAxisHeight = 20;
    static constexpr int kStripHeight = 9;
    static constexpr int kMinLaneHeight = 20;
    static constexpr int kMaxReach = 24; // pixels a mark reaches towards the next attempt, at least
    static constexpr qint64 kMinSpanMs = 2000;
    static constexpr qint64 kDrawEveryMs = 2000;      // new attempts drawn at most this often...
    static constexpr qint64 kDrawEveryMaxMs = 10'000; // ...or every 1/120 of the span, up to this
    static constexpr qint64 kMaxSpanMs = 400LL * 24 * 3600 * 1000;

    explicit TimelineView(const BusHistory& history, QWidget* parent = nullptr);

    void setLanes(const QList<Lane>& lanes);
    const QList<Lane>& lanes() const { return m_lanes; }
    void setMeasure(SeriesMeasure measure);
    SeriesMeasure measure() const { return m_measure; }
    void setStyle(Style style);
    void setSharedScale(bool shared);
    // The stretch shown, in ms; 0: the whole session.
    void setSpan(qint64 spanMs);
    qint64 spanMs() const;
    // Following the newest attempts (the right edge is now), or held where the operator scrolled.
    bool live() const { return m_live; }
    // Live again, at the stretch chosen (Home).
    void goLive();
    // New attempts from `earliestMs` on: a live view draws again what they change (soon; at once
    // after a quiet spell).
    void attemptsCame(qint64 earliestMs);
    // The clock moved on: a live view whose right edge steps on is drawn again.
    void tick();
    // The right edge's time when not live. Pans by a share of the width (negative: back in time).
    void panBy(double widths);
    void zoomBy(double factor, double anchorShare = 1.0);

    // What is drawn now: [fromMs, toMs] and the plot's left edge and width in pixels.
    qint64 fromMs() const;
    qint64 toMs() const;
    QRect plotRect() const;
    QRect laneRect(int lane) const;
    // The lane's series as drawn (one column per pixel of the plot), and its time scale's top.
    ReplySeries laneSeries(int lane) const;
    double laneTopMs(int lane) const;
    // The attempt under a point (within a few pixels), if one is held one by one there.
    struct Hit {
        int slot = 0;
        AttemptHistory::Attempt attempt;
    };
    std::optional<Hit> attemptAt(const QPoint& pos) const;

    // "Now" (the tests fix it).
    std::function<qint64()> now;
    // The full journal row of an attempt, for the tooltip; none when the journal view no longer has it.
    std::function<std::optional<JournalRecord>(int slot, qint64 ms, int attempt)> findRow;

    QSize sizeHint() const override { return {900, 400}; }
    QSize minimumSizeHint() const override;

signals:
    void attemptClicked(int slot, qint64 ms, int attempt);
    void viewChanged(); // live or held, zoomed or panned

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void drawNewAttempts();
    int laneHeight() const;
    qint64 liveEnd() const;
    QString tipFor(const QPoint& pos) const;
    void drawLane(QPainter& p, int lane, const ReplySeries& series, double topMs, const AttemptHistory::Percentile& p95,
                  int firstColumn, int lastColumn, bool labels);
    void drawLabel(QPainter& p, int lane, const AttemptHistory::Percentile& p95, double topMs);
    void drawPlot(QPainter& p, int lane, const ReplySeries& series, double topMs, const AttemptHistory::Percentile& p95,
                  int firstColumn, int lastColumn);
    void drawAxis(QPainter& p);

    const BusHistory& m_history;
    QList<Lane> m_lanes;
    SeriesMeasure m_measure = SeriesMeasure::Reply;
    Style m_style = Style::Points;
    bool m_shared = true;
    qint64 m_spanMs = 10 * 60 * 1000;       // 0: the session
    qint64 m_chosenSpanMs = 10 * 60 * 1000; // what Home goes back to
    bool m_live = true;
    qint64 m_endMs = 0; // when held
    // What the last whole repaint drew: its right edge, and each lane's scale and percentile.
    qint64 m_paintedEnd = 0;
    qint64 m_paintedFrom = 0;
    qint64 m_dirtyFromMs = std::numeric_limits<qint64>::max();
    QTimer m_drawSoon;
    QElapsedTimer m_sinceDrawn;
    std::vector<double> m_paintedTop;
    std::vector<AttemptHistory::Percentile> m_paintedP95;
    std::optional<QPoint> m_pressAt;
    QPoint m_lastDrag;
    bool m_dragged = false;
};

// View → Timeline (Ctrl+L): each selected slot's reply times and verdicts over time, live. The
// history is gathered from the journal's rows whether the dock is open or not, so that opening it
// shows the session so far; it is drawn only while the dock is in sight.
class TimelineDock final : public QDockWidget {
    Q_OBJECT
public:
    // The choices of the stretch shown, in ms (0: the whole session).
    static const QList<qint64>& spans();

    TimelineDock(ConsoleModel& model, FileDialogs* dialogs = nullptr, QWidget* parent = nullptr);

    // Where the journal's rows come in.
    JournalSink& feed() { return m_feed; }
    BusHistory& history() { return m_history; }
    TimelineView* view() const { return m_view; }
    // The lanes again from the slots selected now (their names and addresses).
    void refreshLanes();
    // Another site: its settings' choices, its slots, and a history that starts from nothing (its
    // controllers are others).
    void siteOpened();

    // The view as a picture, and its series (a row per lane and pixel column with attempts) as CSV.
    QImage picture() const;
    QByteArray seriesCsv() const;
    bool exportPng(const QString& path, QString* error = nullptr) const;
    bool exportCsv(const QString& path, QString* error = nullptr) const;

public slots:
    void exportPngAsked();
    void exportCsvAsked();

signals:
    void problem(const QString& text);
    void exported(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Feed final : JournalSink {
        explicit Feed(TimelineDock& d) : dock(d) {}
        void append(const QList<JournalRecord>& records) override;
        TimelineDock& dock;
    };
    void choicesChanged();
    void showChoices();
    void drawLiveState();

    ConsoleModel& m_model;
    FileDialogs* m_dialogs;
    std::unique_ptr<FileDialogs> m_ownDialogs;
    BusHistory m_history;
    Feed m_feed{*this};
    TimelineView* m_view;
    QComboBox* m_span;
    QComboBox* m_measure;
    QComboBox* m_style;
    QComboBox* m_scale;
    QToolButton* m_live;
    QTimer m_tick; // moves a live view on while nothing comes
};

// Adds the Timeline dock to the window (View → Timeline, Ctrl+L), fed by the stack's journal; a click
// on an attempt selects its row in the Journal dock. Call after watchBus and before restoreLayout.
TimelineDock* addTimelineDock(ConsoleWindow& window, FileDialogs* dialogs = nullptr);

} // namespace tarvo
