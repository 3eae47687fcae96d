#include "JournalTable.h"

#include "JournalCsv.h"
#include "VerdictTint.h"

#include <QFontDatabase>
#include <QGuiApplication>
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

int JournalTable::findRow(int slot, qint64 msecs, int attempt) const
{
    // From the newest: what is looked for is mostly recent.
    for (int row = m_size - 1; row >= 0; --row) {
        const Row& r = at(row);
        if (r.msecs == msecs && r.slot == slot && r.attempt == attempt)
            return row;
        if (r.msecs != Row::kNoTime && r.msecs < msecs - 60'000)
            break; // rows are in time order, give or take a clock put back
    }
    return -1;
}

} // namespace tarvo
