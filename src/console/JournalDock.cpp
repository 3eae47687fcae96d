#include "JournalDock.h"

#include "GlyphDelegate.h"
#include "JournalCsv.h"
#include "VerdictTint.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

namespace tarvo {

JournalTable::JournalTable(int capacity, QObject* parent)
    : QAbstractTableModel(parent), m_capacity(std::max(capacity, 1)),
      m_hexFont(QFontDatabase::systemFont(QFontDatabase::FixedFont))
{
}

JournalTable::Row JournalTable::compact(const JournalRecord& r)
{
    Row row;
    if (r.time.isValid()) {
        row.msecs = r.time.toMSecsSinceEpoch();
        row.offset = r.time.offsetFromUtc();
    }
    row.address = r.address;
    row.function = r.function;
    row.detail = r.detail;
    const QByteArray sent = QByteArray::fromHex(r.sent.toLatin1());
    row.frames = sent + QByteArray::fromHex(r.received.toLatin1());
    row.sentBytes = static_cast<int>(sent.size());
    row.firstByteMs = r.firstByteMs;
    row.replyMs = r.replyMs;
    row.slot = static_cast<qint8>(r.slot);
    row.attempt = static_cast<qint8>(r.attempt);
    row.verdict = static_cast<quint8>(r.verdict);
    return row;
}

void JournalTable::append(const QList<JournalRecord>& records)
{
    keep(records);
    showKept();
}

void JournalTable::keep(const QList<JournalRecord>& records)
{
    // Of more than the ring holds, only the newest rows can stay.
    const qsizetype skip = std::max<qsizetype>(0, records.size() - m_capacity);
    if (m_kept.empty())
        m_kept.reserve(static_cast<size_t>(records.size() - skip));
    for (qsizetype i = skip; i < records.size(); ++i)
        m_kept.push_back(compact(records[i]));
    if (m_kept.size() > static_cast<size_t>(m_capacity))
        m_kept.erase(m_kept.begin(), m_kept.end() - m_capacity);
}

void JournalTable::showKept()
{
    if (m_kept.empty())
        return;
    const int incoming = static_cast<int>(m_kept.size());
    const int leaving = std::max(0, m_size + incoming - m_capacity);
    if (leaving > 0) {
        emit aboutToDropOldest();
        beginRemoveRows({}, 0, leaving - 1);
        if (static_cast<int>(m_ring.size()) < m_capacity) // not yet round: the oldest are at the front
            m_ring.erase(m_ring.begin(), m_ring.begin() + leaving);
        else
            m_head = (m_head + static_cast<size_t>(leaving)) % m_ring.size();
        m_size -= leaving;
        endRemoveRows();
        emit droppedOldest();
    }
    beginInsertRows({}, m_size, m_size + incoming - 1);
    for (Row& row : m_kept) {
        if (static_cast<int>(m_ring.size()) < m_capacity) {
            // Not yet round: the head is still the first place. Grown by doubling up to the capacity,
            // never past it.
            if (m_ring.size() == m_ring.capacity())
                m_ring.reserve(std::min(std::max<size_t>(64, 2 * m_ring.capacity()), static_cast<size_t>(m_capacity)));
            m_ring.push_back(std::move(row));
        } else {
            m_ring[(m_head + static_cast<size_t>(m_size)) % m_ring.size()] = std::move(row);
        }
        ++m_size;
    }
    m_kept.clear();
    endInsertRows();
}

void JournalTable::clear()
{
    m_kept.clear();
    beginResetModel();
    m_ring = {};
    m_head = 0;
    m_size = 0;
    endResetModel();
}

QDateTime JournalTable::timeOf(const Row& r)
{
    if (r.msecs == Row::kNoTime)
        return {};
    return QDateTime::fromMSecsSinceEpoch(r.msecs, Qt::OffsetFromUTC, r.offset);
}

JournalRecord JournalTable::record(int row) const
{
    const Row& r = at(row);
    JournalRecord out;
    out.time = timeOf(r);
    out.slot = r.slot;
    out.address = r.address;
    out.function = r.function;
    out.attempt = r.attempt;
    out.sent = spacedHex(r.frames.left(r.sentBytes));
    out.received = spacedHex(r.frames.mid(r.sentBytes));
    out.firstByteMs = r.firstByteMs;
    out.replyMs = r.replyMs;
    out.verdict = static_cast<JournalRecord::Verdict>(r.verdict);
    out.detail = r.detail;
    return out;
}

QList<JournalRecord> JournalTable::records() const
{
    QList<JournalRecord> all;
    all.reserve(m_size);
    for (int i = 0; i < m_size; ++i)
        all.append(record(i));
    return all;
}

int JournalTable::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_size;
}

int JournalTable::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QVariant JournalTable::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_size)
        return {};
    const Row& r = at(index.row());
    const auto verdict = static_cast<JournalRecord::Verdict>(r.verdict);
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case Time: {
            if (r.msecs == Row::kNoTime)
                return QString();
            constexpr qint64 kDay = 24 * 3600 * 1000;
            const qint64 ms = ((r.msecs + qint64(r.offset) * 1000) % kDay + kDay) % kDay; // of the day, there
            return QString::asprintf("%02d:%02d:%02d.%03d", int(ms / 3600000), int(ms / 60000 % 60),
                                     int(ms / 1000 % 60), int(ms % 1000));
        }
        case Slot:
            return QStringLiteral("#%1").arg(r.slot);
        case Address:
            return r.address;
        case Function:
            return r.function;
        case Attempt:
            return r.attempt;
        case Sent:
            return spacedHex(r.frames.left(r.sentBytes));
        case Received:
            return spacedHex(r.frames.mid(r.sentBytes));
        case FirstByte:
            return millisecondsText(r.firstByteMs);
        case Reply:
            return millisecondsText(r.replyMs);
        case Verdict:
            return verdictName(verdict);
        case Detail:
            return r.detail;
        }
        return {};
    case Qt::ToolTipRole:
        if (index.column() == Time)
            return isoTime(timeOf(r));
        if (index.column() == Detail && !r.detail.isEmpty())
            return r.detail;
        // The whole frame, when the column is too narrow for it.
        if (index.column() == Sent || index.column() == Received)
            return data(index, Qt::DisplayRole);
        if (index.column() == Verdict)
            return verdictCaption(verdict);
        return {};
    case Qt::BackgroundRole: {
        const QColor tint = verdictTint(verdict, QGuiApplication::palette());
        return tint.isValid() ? QVariant(tint) : QVariant();
    }
    case Qt::FontRole:
        return index.column() == Sent || index.column() == Received ? QVariant(m_hexFont) : QVariant();
    case Qt::TextAlignmentRole:
        switch (index.column()) {
        case Attempt:
        case FirstByte:
        case Reply:
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        default:
            return {};
        }
    default:
        return {};
    }
}

QVariant JournalTable::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole) {
        static const QStringList names = {"Time",     "Slot",       "Address",    "Function", "Try",   "Sent",
                                          "Received", "First (ms)", "Reply (ms)", "Verdict",  "Detail"};
        return names.value(section);
    }
    if (role == Qt::ToolTipRole) {
        if (section == FirstByte)
            return QStringLiteral("From the end of the request to the first reply byte");
        if (section == Reply)
            return QStringLiteral("From the end of the request to the reply read");
        if (section == Attempt)
            return QStringLiteral("Which of the up to three tries");
    }
    return {};
}

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

JournalDock::JournalDock(QWidget* parent) : QDockWidget(tr("Journal"), parent), m_filter(m_table)
{
    setObjectName(QStringLiteral("JournalDock"));
    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(4, 2, 4, 4);
    layout->setSpacing(2);

    auto* bar = new QHBoxLayout;
    auto* slotLabel = new QLabel(tr("&Slot:"), content);
    m_slotChoice = new QComboBox(content);
    m_slotChoice->setObjectName(QStringLiteral("JournalSlotFilter"));
    m_slotChoice->addItem(tr("All"), JournalFilter::kAll);
    for (int slot = 1; slot <= 32; ++slot)
        m_slotChoice->addItem(QStringLiteral("#%1").arg(slot), slot);
    slotLabel->setBuddy(m_slotChoice);
    auto* verdictLabel = new QLabel(tr("&Verdict:"), content);
    m_verdictChoice = new QComboBox(content);
    m_verdictChoice->setObjectName(QStringLiteral("JournalVerdictFilter"));
    m_verdictChoice->addItem(tr("All"), JournalFilter::kAll);
    m_verdictChoice->addItem(tr("All but ok"), JournalFilter::kNotOk);
    const QStringList verdicts = verdictNames();
    for (int v = 0; v < verdicts.size(); ++v)
        m_verdictChoice->addItem(verdicts[v], v);
    verdictLabel->setBuddy(m_verdictChoice);
    auto* clear = new QPushButton(tr("C&lear"), content);
    clear->setObjectName(QStringLiteral("JournalClear"));
    clear->setToolTip(tr("Forget the rows shown here (the journal file keeps them)"));
    m_file = new QLabel(content);
    m_file->setObjectName(QStringLiteral("JournalFileState"));
    m_file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_newRows = new QPushButton(content);
    m_newRows->setObjectName(QStringLiteral("JournalNewRows"));
    m_newRows->setToolTip(tr("Back to the newest row"));
    m_newRows->hide();
    bar->addWidget(slotLabel);
    bar->addWidget(m_slotChoice);
    bar->addSpacing(8);
    bar->addWidget(verdictLabel);
    bar->addWidget(m_verdictChoice);
    bar->addSpacing(8);
    bar->addWidget(clear);
    bar->addSpacing(8);
    bar->addWidget(m_file, 1);
    bar->addWidget(m_newRows);
    layout->addLayout(bar);

    m_problem = new QLabel(content);
    m_problem->setObjectName(QStringLiteral("JournalProblem"));
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #c62828; font-weight: bold;"));
    m_problem->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_problem->hide();
    layout->addWidget(m_problem);

    m_view = new QTableView(content);
    m_view->setObjectName(QStringLiteral("JournalView"));
    m_view->setModel(&m_filter);
    setUpBusyTable(m_view)->setFleetingColumn(JournalTable::Time);
    m_view->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    QHeaderView* columns = m_view->horizontalHeader();
    columns->setStretchLastSection(true);
    // Wide enough for the caption and for what the column usually holds: a Modbus request, a reply
    // of 17 bytes.
    const QFontMetrics text = m_view->fontMetrics();
    const QFontMetrics hex(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const std::pair<int, int> samples[] = {
        {JournalTable::Time, text.horizontalAdvance(QStringLiteral("00:00:00.000"))},
        {JournalTable::Slot, text.horizontalAdvance(QStringLiteral("#32"))},
        {JournalTable::Address, text.horizontalAdvance(QStringLiteral("00000"))},
        {JournalTable::Function, text.horizontalAdvance(QStringLiteral("ReadBuffer100"))},
        {JournalTable::Attempt, text.horizontalAdvance(QStringLiteral("3"))},
        {JournalTable::Sent, hex.horizontalAdvance(QString(9 * 3 - 1, QLatin1Char('0')))},
        {JournalTable::Received, hex.horizontalAdvance(QString(17 * 3 - 1, QLatin1Char('0')))},
        {JournalTable::FirstByte, text.horizontalAdvance(QStringLiteral("0000.0"))},
        {JournalTable::Reply, text.horizontalAdvance(QStringLiteral("0000.0"))},
        {JournalTable::Verdict, text.horizontalAdvance(QStringLiteral("no-reply-expected"))},
    };
    const QFontMetrics caption(columns->font());
    for (const auto& [column, width] : samples) {
        const int title = caption.horizontalAdvance(m_table.headerData(column, Qt::Horizontal).toString());
        columns->resizeSection(column, std::max(width, title) + 12);
    }
    layout->addWidget(m_view, 1);
    setWidget(content);

    auto* copy = new QAction(tr("Copy"), m_view);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, &JournalDock::copySelection);
    m_view->addAction(copy);

    connect(m_slotChoice, &QComboBox::currentIndexChanged, this, &JournalDock::filterChanged);
    connect(m_verdictChoice, &QComboBox::currentIndexChanged, this, &JournalDock::filterChanged);
    connect(clear, &QPushButton::clicked, &m_table, &JournalTable::clear); // rows held back too

    m_showTimer.setSingleShot(true);
    connect(&m_showTimer, &QTimer::timeout, this, &JournalDock::showWaitingRows);
    connect(m_newRows, &QPushButton::clicked, this, &JournalDock::scrollToNewest);
    connect(m_view->verticalScrollBar(), &QScrollBar::valueChanged, this, &JournalDock::scrolled);
    // New rows make room for themselves when the view lays them out, in the event loop: following,
    // the view goes to the newest row then, rather than laying the rows out at once to get there
    // (and again in the event loop). Nothing to do while the view is closed: it goes to the newest
    // row when it opens.
    connect(m_view->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int maximum) {
        if (m_follow && !m_dropping && isVisible())
            m_view->verticalScrollBar()->setValue(maximum);
    });
    connect(&m_filter, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
        if (!m_refiltering)
            rowsShown(last - first + 1);
    });
    // The oldest rows leave a full ring: the rows read above the newest keep their place on screen,
    // though the view moves meanwhile (it keeps its current row, if it was among them, in sight).
    connect(&m_table, &JournalTable::aboutToDropOldest, this, [this] {
        m_dropping = true;
        m_valueBeforeDrop = m_view->verticalScrollBar()->value();
        m_dropped = 0;
    });
    connect(&m_filter, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex&, int first, int last) {
        if (m_dropping && first == 0)
            m_dropped += last - first + 1;
    });
    connect(&m_table, &JournalTable::droppedOldest, this, [this] {
        m_dropping = false;
        if (!m_follow)
            m_view->verticalScrollBar()->setValue(std::max(0, m_valueBeforeDrop - m_dropped));
    });
    // A cleared table starts again at the newest row.
    connect(&m_filter, &QAbstractItemModel::modelReset, this, &JournalDock::scrollToNewest);
}

void JournalDock::filterChanged()
{
    // Rows come and go by the filter, not by the journal: they are neither new nor leaving, and the
    // view starts again at the newest row.
    m_refiltering = true;
    m_filter.setSlotFilter(m_slotChoice->currentData().toInt());
    m_filter.setVerdictFilter(m_verdictChoice->currentData().toInt());
    m_refiltering = false;
    scrollToNewest();
}

void JournalDock::showFile(const QString& text)
{
    m_file->setText(text);
    m_problem->hide();
}

void JournalDock::showProblem(const QString& text)
{
    m_file->clear();
    m_problem->setText(text);
    m_problem->show();
}

void JournalDock::scrollToNewest()
{
    m_follow = true;
    m_unseen = 0;
    m_newRows->hide();
    if (isVisible())
        m_view->scrollToBottom();
}

void JournalDock::copySelection()
{
    QModelIndexList selected = m_view->selectionModel()->selectedRows();
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QByteArray text;
    for (const QModelIndex& index : std::as_const(selected))
        text += journalCsvRow(m_table.record(m_filter.mapToSource(index).row()));
    if (!text.isEmpty())
        QApplication::clipboard()->setText(QString::fromUtf8(text));
}

void JournalDock::rowsCame(const QList<JournalRecord>& records)
{
    m_table.keep(records);
    if (!m_sinceShown.isValid() || m_sinceShown.elapsed() >= kShowEveryMs)
        showWaitingRows();
    else if (!m_showTimer.isActive())
        m_showTimer.start(static_cast<int>(kShowEveryMs - m_sinceShown.elapsed()));
}

void JournalDock::showWaitingRows()
{
    m_showTimer.stop();
    if (m_table.keptRows() == 0)
        return;
    m_sinceShown.start();
    m_table.showKept();
}

void JournalDock::showEvent(QShowEvent* event)
{
    QDockWidget::showEvent(event);
    showWaitingRows();
    if (m_follow)
        m_view->scrollToBottom();
}

void JournalDock::rowsShown(int count)
{
    if (m_follow) {
        // The view goes down when it has laid the rows out (see the constructor), unless it was
        // moved meanwhile: to the operator's current row, as the oldest rows left.
        QScrollBar* bar = m_view->verticalScrollBar();
        if (isVisible() && bar->value() < bar->maximum())
            m_view->scrollToBottom();
        return;
    }
    m_unseen += count;
    m_newRows->setText(tr("%n new", nullptr, m_unseen));
    m_newRows->show();
}

void JournalDock::scrolled(int value)
{
    if (m_dropping)
        return;
    const bool atBottom = value >= m_view->verticalScrollBar()->maximum();
    if (atBottom && !m_follow)
        scrollToNewest();
    else if (!atBottom && m_follow)
        m_follow = false;
}

} // namespace tarvo
