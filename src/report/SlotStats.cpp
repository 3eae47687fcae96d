#include "SlotStats.h"

#include "AddressResult.h"
#include "JournalReader.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <numeric>

namespace tarvo {

TimeFigures timeFigures(std::vector<double>& values)
{
    TimeFigures f;
    if (values.empty())
        return f;
    const size_t n = values.size();
    f.count = static_cast<long>(n);
    // Nearest rank: the ceil(0.95 n)-th smallest, counted from 1; in integers, so that 0.95 * 20 is 19
    // and not 19.000000000000004.
    const size_t rank = (95 * n + 99) / 100;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(rank - 1), values.end());
    f.p95 = values[rank - 1];
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    f.min = *lo;
    f.max = *hi;
    f.mean = std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(n);
    return f;
}

bool SlotStats::passes(const ReportMarks& marks) const
{
    if (requests == 0 || !(successPercent() >= marks.minSuccessPercent))
        return false;
    if (marks.maxP95ReplyMs >= 0 && !(reply.p95 <= marks.maxP95ReplyMs))
        return false;
    return true;
}

namespace {

using V = JournalRecord::Verdict;

// How good an attempt's outcome is for its request: a good reply beats a bad check value, which beats
// a refusal, which beats silence.
int rank(V v)
{
    switch (v) {
    case V::Ok:
        return 3;
    case V::BadCheck:
        return 2;
    case V::Exception:
        return 1;
    default:
        return 0;
    }
}

} // namespace

void SlotStatsBuilder::close(Acc& acc)
{
    Open& r = acc.request;
    if (r.open && !r.uncounted) {
        SlotStats& s = acc.stats;
        ++s.requests;
        s.extraTries += r.maxAttempt - 1;
        switch (r.best) {
        case V::Ok:
            ++s.answered;
            ++s.succeeded;
            break;
        case V::BadCheck:
            ++s.answered;
            ++s.badCheck;
            break;
        case V::Exception:
            ++s.answered;
            ++s.exceptions;
            break;
        default:
            ++s.noAnswer;
        }
    }
    r = Open{};
}

void SlotStatsBuilder::add(const JournalRecord& rec)
{
    if (rec.time.isValid()) {
        if (!m_first.isValid() || rec.time < m_first)
            m_first = rec.time;
        if (!m_last.isValid() || rec.time > m_last)
            m_last = rec.time;
    }
    if (rec.slot < 1 || rec.function == QLatin1String("Waiting"))
        return; // heard on the bus, or a pause between sends: no controller was asked
    auto key = qMakePair(rec.slot, rec.address);
    auto it = m_slots.find(key);
    if (it == m_slots.end()) {
        it = m_slots.insert(key, Acc{});
        it->stats.slot = rec.slot;
        it->stats.address = rec.address;
    }
    Acc& acc = *it;
    if (rec.attempt == 1 || !acc.request.open) {
        close(acc);
        acc.request.open = true;
    }
    Open& r = acc.request;
    r.maxAttempt = std::max(r.maxAttempt, rec.attempt);
    if (rec.verdict == V::Stopped || rec.verdict == V::Error || rec.verdict == V::NoReplyExpected)
        r.uncounted = true;
    if (rec.verdict == V::NoAnswer || rec.verdict == V::BadCheck || rec.verdict == V::Exception ||
        rec.verdict == V::Error) {
        if (m_failures.size() < kFailureRows)
            m_failures << rec;
        else
            ++m_moreFailures;
    }
    if (rank(rec.verdict) > rank(r.best))
        r.best = rec.verdict;
    if (answered(rec.verdict)) {
        if (!std::isnan(rec.firstByteMs))
            acc.firstByte.push_back(rec.firstByteMs);
        if (!std::isnan(rec.replyMs))
            acc.reply.push_back(rec.replyMs);
        if (!acc.stats.lastAnswered.isValid() || rec.time > acc.stats.lastAnswered)
            acc.stats.lastAnswered = rec.time;
    }
}

QList<SlotStats> SlotStatsBuilder::finish()
{
    QList<SlotStats> out;
    for (Acc& acc : m_slots) {
        close(acc);
        acc.stats.firstByte = timeFigures(acc.firstByte);
        acc.stats.reply = timeFigures(acc.reply);
        out << acc.stats;
    }
    return out;
}

CensusTable readCensus(const QString& path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        throw JournalReadError(
            QStringLiteral("%1: cannot be read: %2")
                .arg(path, QFileInfo::exists(path) ? file.errorString() : QStringLiteral("no such file")));
    int lineNumber = 0;
    const auto readLine = [&](QByteArray& line) {
        if (file.atEnd())
            return false;
        line = file.readLine();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        ++lineNumber;
        return true;
    };
    CensusTable table{path, {}, {}};
    QByteArray line;
    const auto headerOf = [](bool withSpeed) { return resultCsvHeader(withSpeed).chopped(2); };
    if (!readLine(line) || (line != headerOf(true) && line != headerOf(false)))
        throw JournalReadError(QStringLiteral("%1: not a census (its first line is not the census's header \"%2\")")
                                   .arg(path, QString::fromLatin1(headerOf(true))));
    table.columns = QString::fromLatin1(line).split(QLatin1Char(','));
    while (readLine(line)) {
        if (line.isEmpty())
            continue;
        const int first = lineNumber;
        const auto fields = splitCsvRecord(line, readLine);
        if (!fields || fields->size() != table.columns.size())
            throw JournalReadError(QStringLiteral("%1:%2: a row that cannot be read (%3 fields expected)")
                                       .arg(path)
                                       .arg(first)
                                       .arg(table.columns.size()));
        table.rows << *fields;
    }
    return table;
}

QList<JournalFileInfo> readJournals(const QStringList& paths, SlotStatsBuilder& builder)
{
    QList<JournalFileInfo> files;
    for (const QString& path : paths) {
        JournalReader reader(path);
        JournalRecord record;
        while (reader.next(record))
            builder.add(record);
        files << JournalFileInfo{path, reader.size(), reader.sha256Hex()};
    }
    return files;
}

QList<ReplySeries> readSeries(const QStringList& paths, const QList<SlotStats>& controllers, const QDateTime& from,
                              const QDateTime& to, int columns)
{
    QList<ReplySeries> series;
    QMap<QPair<int, QString>, qsizetype> index;
    for (const SlotStats& s : controllers) {
        index.insert(qMakePair(s.slot, s.address), series.size());
        series << ReplySeries(from, to, columns);
    }
    for (const QString& path : paths) {
        JournalReader reader(path, JournalReader::Digest::None); // the first read took the digest
        JournalRecord record;
        while (reader.next(record)) {
            const auto it = index.constFind(qMakePair(record.slot, record.address));
            if (it != index.constEnd() && record.function != QLatin1String("Waiting"))
                series[*it].add(record);
        }
    }
    return series;
}

} // namespace tarvo
