#pragma once

#include <QAbstractProxyModel>
#include <utility>
#include <vector>

namespace tarvo {

class JournalTable;

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

} // namespace tarvo
