#pragma once

#include "Health.h"

#include <QAbstractTableModel>
#include <QDockWidget>
#include <QList>
#include <QStringList>

class QTableView;

namespace tarvo {

class ConsoleModel;

// One row per selected slot with its health counters. It reads the counters only when asked
// (refresh), and redraws only when they or the selection changed.
class HealthTable final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        Slot,
        Name,
        Address,
        Requests,
        Answered,
        NoAnswer,
        BadCheck,
        Exceptions,
        ExtraTries,
        LastFirstByte,
        MinFirstByte,
        MeanFirstByte,
        MaxFirstByte,
        Success,
        LastAnswered,
        Columns
    };

    HealthTable(const Health& health, ConsoleModel& model, QObject* parent = nullptr);

    // Takes the counters and the selection as they are now; false when nothing changed.
    bool refresh();
    int slotAt(int row) const { return m_slots.value(row, -1); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // The slot's name is edited in place; it is kept in Tarvo.ini with the site.
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

signals:
    // A slot got another name (0 to 31).
    void slotRenamed(int slot);

private:
    // What a row shows, to redraw only the rows that changed.
    struct Shown {
        QString address;
        long requests = -1;
        long extraTries = -1;
        long badCheck = -1;
        long exceptions = -1;
        qint64 lastAnswered = 0;
        friend bool operator==(const Shown&, const Shown&) = default;
    };
    Shown shown(int slot, const QString& address) const;
    const Health::Slot& counters(int slot, const QString& address) const;

    const Health& m_health;
    ConsoleModel& m_model;
    QList<int> m_slots;      // the selected slots, 0 to 31, in order
    QStringList m_addresses; // their addresses as typed
    QList<Shown> m_shown;
    quint64 m_generation = 0;
};

// The Controllers view: the table, a Report button, and a Reset button that starts every slot's
// counters again.
class ControllersDock final : public QDockWidget {
    Q_OBJECT
public:
    ControllersDock(Health& health, ConsoleModel& model, QWidget* parent = nullptr);

    HealthTable& table() { return m_table; }
    QTableView* view() const { return m_view; }

public slots:
    // Takes the counters now, if the view is open (it catches up when it opens).
    void refresh();
    void reset();

signals:
    // The Report button: the window writes the report of the session's journal file.
    void reportRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    Health& m_health;
    HealthTable m_table;
    QTableView* m_view;
};

} // namespace tarvo
