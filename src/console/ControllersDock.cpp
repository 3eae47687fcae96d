#include "ControllersDock.h"

#include "ConsoleModel.h"
#include "GlyphDelegate.h"
#include "VerdictTint.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace tarvo {

namespace {

QString msText(double ms)
{
    return std::isnan(ms) ? QString() : QString::number(ms, 'f', 1);
}

} // namespace

HealthTable::HealthTable(const Health& health, ConsoleModel& model, QObject* parent)
    : QAbstractTableModel(parent), m_health(health), m_model(model)
{
    m_generation = m_health.generation() - 1; // the first refresh reads everything
}

const Health::Slot& HealthTable::counters(int slot, const QString& address) const
{
    // Counters of another address are not this controller's: they start again at its next request.
    static const Health::Slot none;
    return m_health.seen(slot) && m_health.slot(slot).address == address ? m_health.slot(slot) : none;
}

HealthTable::Shown HealthTable::shown(int slot, const QString& address) const
{
    const Health::Slot& h = counters(slot, address);
    return {address, h.requests, h.extraTries, h.badCheck, h.exceptions, h.lastAnswered.toMSecsSinceEpoch()};
}

bool HealthTable::refresh()
{
    QList<int> selected;
    QStringList addresses;
    for (int i = 0; i < ConsoleModel::kSlots; ++i) {
        if (m_model.slotSelected(i)) {
            selected << i;
            addresses << m_model.address(i);
        }
    }
    if (selected != m_slots) {
        beginResetModel();
        m_slots = selected;
        m_addresses = addresses;
        m_generation = m_health.generation();
        m_shown.clear();
        for (qsizetype row = 0; row < m_slots.size(); ++row)
            m_shown << shown(m_slots[row], m_addresses[row]);
        endResetModel();
        return true;
    }
    if (addresses == m_addresses && m_health.generation() == m_generation)
        return false;
    m_addresses = addresses;
    m_generation = m_health.generation();
    bool changed = false;
    for (int row = 0; row < m_slots.size(); ++row) {
        Shown now = shown(m_slots[row], m_addresses[row]);
        if (now == m_shown[row])
            continue; // a try on the way, or another slot's request: nothing to redraw here
        m_shown[row] = std::move(now);
        emit dataChanged(index(row, 0), index(row, Columns - 1));
        changed = true;
    }
    return changed;
}

int HealthTable::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_slots.size());
}

int HealthTable::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QVariant HealthTable::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_slots.size())
        return {};
    const int slot = m_slots[index.row()];
    const QString& address = m_addresses[index.row()];
    const Health::Slot& h = counters(slot, address);
    const int column = index.column();
    if (role == Qt::DisplayRole) {
        switch (column) {
        case Slot:
            return QStringLiteral("#%1").arg(slot + 1);
        case Name:
            return m_model.ini.slotNames[static_cast<size_t>(slot)];
        case Address:
            return address;
        case Requests:
            return QString::number(h.requests);
        case Answered:
            return QString::number(h.answered);
        case NoAnswer:
            return QString::number(h.noAnswer);
        case BadCheck:
            return QString::number(h.badCheck);
        case Exceptions:
            return QString::number(h.exceptions);
        case ExtraTries:
            return QString::number(h.extraTries);
        case LastFirstByte:
            return msText(h.lastFirstByteMs);
        case MinFirstByte:
            return msText(h.minFirstByteMs);
        case MeanFirstByte:
            return msText(h.meanFirstByteMs());
        case MaxFirstByte:
            return msText(h.maxFirstByteMs);
        case Success:
            return std::isnan(h.successShare()) ? QString() : QString::number(h.successShare() * 100, 'f', 1);
        case LastAnswered:
            return h.lastAnswered.isValid() ? h.lastAnswered.toString(QStringLiteral("HH:mm:ss")) : QString();
        }
        return {};
    }
    if (role == Qt::EditRole && column == Name)
        return m_model.ini.slotNames[static_cast<size_t>(slot)];
    if (role == Qt::ToolTipRole && column == Slot && !m_model.ini.slotNames[static_cast<size_t>(slot)].isEmpty())
        return m_model.ini.slotNames[static_cast<size_t>(slot)];
    if (role == Qt::TextAlignmentRole && column != Slot && column != Name && column != Address)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::ToolTipRole && column == LastAnswered && h.lastAnswered.isValid())
        return h.lastAnswered.toString(Qt::ISODateWithMs);
    // The success share as the reply boxes show a verdict: all answered, some (or some refused, or
    // with a bad check value), none.
    if (role == Qt::BackgroundRole && column == Success && h.requests > 0) {
        using V = JournalRecord::Verdict;
        const V verdict = h.answered == h.requests && h.badCheck == 0 && h.exceptions == 0 ? V::Ok
                          : h.answered == 0                                                ? V::NoAnswer
                                                                                           : V::BadCheck;
        return verdictTint(verdict, QGuiApplication::palette());
    }
    return {};
}

QVariant HealthTable::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole) {
        static const QStringList names = {
            "Slot",      "Name",      "Address",    "Requests",    "Answered",
            "No answer", "Bad check", "Exceptions", "Extra tries", "First byte, last (ms)",
            "Min",       "Mean",      "Max",        "Success %",   "Last answered"};
        return names.value(section);
    }
    if (role == Qt::ToolTipRole) {
        switch (section) {
        case Name:
            return QStringLiteral("What the controller is on site (\"Door 3 reader\"): double-click or F2 to name it");
        case Requests:
            return QStringLiteral("Requests that ended (each with up to three tries)");
        case NoAnswer:
            return QStringLiteral("Requests that got no reply in three tries");
        case BadCheck:
            return QStringLiteral("Replies whose check value did not match");
        case Exceptions:
            return QStringLiteral(
                "Requests the controller refused with a Modbus exception reply (counted as answered)");
        case ExtraTries:
            return QStringLiteral("Tries beyond the first, over all requests");
        case LastFirstByte:
        case MinFirstByte:
        case MeanFirstByte:
        case MaxFirstByte:
            return QStringLiteral("From the end of the request to the first reply byte");
        case Success:
            return QStringLiteral("Answered requests, of all requests");
        default:
            return {};
        }
    }
    return {};
}

Qt::ItemFlags HealthTable::flags(const QModelIndex& index) const
{
    const Qt::ItemFlags base = QAbstractTableModel::flags(index);
    return index.isValid() && index.column() == Name ? base | Qt::ItemIsEditable : base;
}

bool HealthTable::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.column() != Name || index.row() >= m_slots.size())
        return false;
    const int slot = m_slots[index.row()];
    // One line: the name goes into Tarvo.ini, tooltips and the report's table.
    const QString name = value.toString().simplified();
    QString& kept = m_model.ini.slotNames[static_cast<size_t>(slot)];
    if (kept == name)
        return false;
    kept = name;
    emit dataChanged(index.siblingAtColumn(Slot), index);
    emit slotRenamed(slot);
    return true;
}

ControllersDock::ControllersDock(Health& health, ConsoleModel& model, QWidget* parent)
    : QDockWidget(tr("Controllers"), parent), m_health(health), m_table(health, model)
{
    setObjectName(QStringLiteral("ControllersDock"));
    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(4, 2, 4, 4);
    layout->setSpacing(2);

    auto* bar = new QHBoxLayout;
    auto* note = new QLabel(
        tr("Counted since the start, or since Reset; a slot starts again when its address changes."), content);
    note->setStyleSheet(QStringLiteral("color: palette(placeholder-text);"));
    auto* resetButton = new QPushButton(tr("&Reset"), content);
    resetButton->setObjectName(QStringLiteral("ControllersReset"));
    resetButton->setToolTip(tr("Start every slot's counters again"));
    auto* reportButton = new QPushButton(tr("Re&port"), content);
    reportButton->setObjectName(QStringLiteral("ControllersReport"));
    reportButton->setToolTip(tr("Write the commissioning report of this session's journal file"));
    bar->addWidget(note, 1);
    bar->addWidget(reportButton);
    bar->addSpacing(12); // Reset throws the counts away: kept apart from Report
    bar->addWidget(resetButton);
    layout->addLayout(bar);

    m_view = new QTableView(content);
    m_view->setObjectName(QStringLiteral("ControllersView"));
    m_view->setModel(&m_table);
    setUpBusyTable(m_view);
    m_view->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    QHeaderView* columns = m_view->horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Interactive);
    for (int c = 0; c < HealthTable::Columns; ++c) {
        const QString title = m_table.headerData(c, Qt::Horizontal).toString();
        columns->resizeSection(c, std::max(m_view->fontMetrics().horizontalAdvance(title), 48) + 18);
    }
    columns->resizeSection(HealthTable::Name,
                           m_view->fontMetrics().horizontalAdvance(QStringLiteral("Door 3 reader, east")));
    layout->addWidget(m_view, 1);
    setWidget(content);

    connect(resetButton, &QPushButton::clicked, this, &ControllersDock::reset);
    connect(reportButton, &QPushButton::clicked, this, &ControllersDock::reportRequested);
}

void ControllersDock::refresh()
{
    if (isVisible())
        m_table.refresh();
}

void ControllersDock::reset()
{
    m_health.reset();
    m_table.refresh();
}

void ControllersDock::showEvent(QShowEvent* event)
{
    QDockWidget::showEvent(event);
    m_table.refresh();
}

} // namespace tarvo
