#include "JournalFilter.h"

#include "JournalTable.h"

namespace tarvo {

JournalFilter::JournalFilter(JournalTable& table, QObject* parent) : QAbstractProxyModel(parent), m_table(table)
{
    QAbstractProxyModel::setSourceModel(&table);
    connect(&table, &QAbstractItemModel::rowsAboutToBeInserted, this, [this](const QModelIndex&, int first, int last) {
        if (!filtering())
            beginInsertRows({}, first, last);
    });
    connect(&table, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
        if (!filtering()) {
            endInsertRows();
            return;
        }
        std::vector<int> added;
        for (int r = first; r <= last; ++r) {
            if (accepts(r))
                added.push_back(r);
        }
        if (added.empty())
            return;
        const int at = static_cast<int>(m_rows.size());
        beginInsertRows({}, at, at + static_cast<int>(added.size()) - 1);
        m_rows.insert(m_rows.end(), added.begin(), added.end());
        endInsertRows();
    });
    connect(&table, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this](const QModelIndex&, int first, int last) {
        if (!filtering()) {
            m_removing = {first, last + 1};
        } else {
            const auto from = std::lower_bound(m_rows.begin(), m_rows.end(), first);
            const auto to = std::lower_bound(from, m_rows.end(), last + 1);
            m_removing = {static_cast<int>(from - m_rows.begin()), static_cast<int>(to - m_rows.begin())};
        }
        if (m_removing.first < m_removing.second)
            beginRemoveRows({}, m_removing.first, m_removing.second - 1);
    });
    connect(&table, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex&, int first, int last) {
        if (filtering()) {
            m_rows.erase(m_rows.begin() + m_removing.first, m_rows.begin() + m_removing.second);
            const int gone = last - first + 1;
            for (auto r = m_rows.begin() + m_removing.first; r != m_rows.end(); ++r)
                *r -= gone;
        }
        if (m_removing.first < m_removing.second)
            endRemoveRows();
        m_removing = {};
    });
    connect(&table, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
    connect(&table, &QAbstractItemModel::modelReset, this, [this] {
        m_rows.clear();
        endResetModel();
    });
}

void JournalFilter::setSlotFilter(int slot)
{
    if (slot == m_slot)
        return;
    m_slot = slot;
    refilter();
}

void JournalFilter::setVerdictFilter(int verdict)
{
    if (verdict == m_verdict)
        return;
    m_verdict = verdict;
    refilter();
}

void JournalFilter::refilter()
{
    beginResetModel();
    m_rows.clear();
    if (filtering()) {
        for (int r = 0; r < m_table.rowCount(); ++r) {
            if (accepts(r))
                m_rows.push_back(r);
        }
    }
    endResetModel();
}

bool JournalFilter::accepts(int sourceRow) const
{
    if (m_slot != kAll && m_table.slotAt(sourceRow) != m_slot)
        return false;
    const int verdict = static_cast<int>(m_table.verdictAt(sourceRow));
    if (m_verdict == kNotOk)
        return verdict != static_cast<int>(JournalRecord::Verdict::Ok);
    return m_verdict == kAll || verdict == m_verdict;
}

QModelIndex JournalFilter::mapToSource(const QModelIndex& proxyIndex) const
{
    if (!proxyIndex.isValid() || proxyIndex.model() != this)
        return {};
    return m_table.index(sourceRow(proxyIndex.row()), proxyIndex.column());
}

QModelIndex JournalFilter::mapFromSource(const QModelIndex& sourceIndex) const
{
    if (!sourceIndex.isValid() || sourceIndex.model() != &m_table)
        return {};
    if (!filtering())
        return index(sourceIndex.row(), sourceIndex.column());
    const auto at = std::lower_bound(m_rows.begin(), m_rows.end(), sourceIndex.row());
    if (at == m_rows.end() || *at != sourceIndex.row())
        return {};
    return index(static_cast<int>(at - m_rows.begin()), sourceIndex.column());
}

QModelIndex JournalFilter::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return {};
    return createIndex(row, column);
}

QVariant JournalFilter::headerData(int section, Qt::Orientation orientation, int role) const
{
    // The columns' captions, with no row shown as well.
    return m_table.headerData(section, orientation, role);
}

QModelIndex JournalFilter::parent(const QModelIndex&) const
{
    return {};
}

bool JournalFilter::hasChildren(const QModelIndex& parent) const
{
    return !parent.isValid() && rowCount() > 0;
}

int JournalFilter::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return filtering() ? static_cast<int>(m_rows.size()) : m_table.rowCount();
}

int JournalFilter::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_table.columnCount();
}

QVariant JournalFilter::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    return m_table.data(m_table.index(sourceRow(index.row()), index.column()), role);
}

} // namespace tarvo
