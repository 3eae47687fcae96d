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

bool JournalDock::selectAttempt(int slot, qint64 msecs, int attempt)
{
    showWaitingRows();
    const int row = m_table.findRow(slot, msecs, attempt);
    if (row < 0)
        return false;
    QModelIndex index = m_filter.mapFromSource(m_table.index(row, 0));
    if (!index.isValid()) {
        m_slotChoice->setCurrentIndex(0);
        m_verdictChoice->setCurrentIndex(0);
        index = m_filter.mapFromSource(m_table.index(row, 0));
    }
    show();
    raise();
    // Held where it is: the selected row stays in sight while new rows come.
    m_follow = false;
    m_view->selectRow(index.row());
    m_view->scrollTo(index, QAbstractItemView::PositionAtCenter);
    return true;
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
