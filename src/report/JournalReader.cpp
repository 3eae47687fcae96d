#include "JournalReader.h"

#include "JournalCsv.h"

#include <QFileInfo>
#include <algorithm>
#include <array>
#include <cmath>

namespace tarvo {

namespace {

QByteArray withoutLineEnd(QByteArray line)
{
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line;
}

constexpr qsizetype kBlock = 1 << 20; // read at a time: big enough to cost few reads, small beside the aim
constexpr int kFields = 11;
constexpr qint64 kUnixEpochJulianDay = 2440588;

// Milliseconds as the journal writes them; empty means none. False for anything else.
bool parseMs(QByteArrayView text, double& ms)
{
    if (text.isEmpty()) {
        ms = NAN;
        return true;
    }
    bool ok = false;
    ms = text.toDouble(&ok);
    return ok && std::isfinite(ms) && ms >= 0;
}

// The `count` decimal digits at `at`; -1 when one is not a digit.
int digits(QByteArrayView text, qsizetype at, int count)
{
    int value = 0;
    for (qsizetype i = at; i < at + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

std::optional<QStringList> splitCsvRecord(QByteArray line, const std::function<bool(QByteArray&)>& more)
{
    QStringList fields;
    QByteArray field;
    bool quoted = false;    // inside a quoted field
    bool wasQuoted = false; // the field began with a quote: only a comma may follow its closing quote
    qsizetype i = 0;
    for (;;) {
        if (i >= line.size()) {
            if (!quoted)
                break;
            QByteArray next;
            if (!more(next))
                return std::nullopt; // a quote never closed
            field += "\r\n";
            line = withoutLineEnd(next);
            i = 0;
            continue;
        }
        const char c = line[i++];
        if (quoted) {
            if (c != '"')
                field += c;
            else if (i < line.size() && line[i] == '"') {
                field += '"';
                ++i;
            } else
                quoted = false;
        } else if (c == ',') {
            fields << QString::fromUtf8(field);
            field.clear();
            wasQuoted = false;
        } else if (wasQuoted) {
            return std::nullopt; // text after a closing quote
        } else if (c == '"') {
            if (!field.isEmpty())
                return std::nullopt; // a quote inside an unquoted field
            quoted = wasQuoted = true;
        } else
            field += c;
    }
    fields << QString::fromUtf8(field);
    return fields;
}

QDateTime journalTime(QByteArrayView t)
{
    // "YYYY-MM-DDTHH:MM:SS.mmm+HH:MM", digit by digit: QDateTime's own reading of ISO 8601 costs more
    // than the rest of a row. What this does not take as a plain time of that form goes to it.
    if (t.size() == 29 && t[4] == '-' && t[7] == '-' && t[10] == 'T' && t[13] == ':' && t[16] == ':' && t[19] == '.' &&
        (t[23] == '+' || t[23] == '-') && t[26] == ':') {
        const int year = digits(t, 0, 4), month = digits(t, 5, 2), day = digits(t, 8, 2);
        const int hour = digits(t, 11, 2), minute = digits(t, 14, 2), second = digits(t, 17, 2);
        const int ms = digits(t, 20, 3), offsetHours = digits(t, 24, 2), offsetMinutes = digits(t, 27, 2);
        const QDate date(year, month, day);
        if (date.isValid() && hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
            ms >= 0 && offsetHours >= 0 && offsetHours < 14 && offsetMinutes >= 0 && offsetMinutes < 60) {
            const int offset = (t[23] == '-' ? -1 : 1) * (offsetHours * 3600 + offsetMinutes * 60);
            const qint64 local = (date.toJulianDay() - kUnixEpochJulianDay) * 86400000 +
                                 ((hour * 60 + minute) * 60 + second) * 1000 + ms;
            return QDateTime::fromMSecsSinceEpoch(local - qint64(offset) * 1000, Qt::OffsetFromUTC, offset);
        }
    }
    return QDateTime::fromString(QString::fromUtf8(t), Qt::ISODateWithMs);
}

JournalReader::JournalReader(const QString& path, Digest digest) : m_file(path), m_digest(digest == Digest::Sha256)
{
    if (!QFileInfo(path).isFile() || !m_file.open(QIODevice::ReadOnly))
        throw JournalReadError(
            QStringLiteral("%1: cannot be read: %2")
                .arg(path, QFileInfo::exists(path) ? m_file.errorString() : QStringLiteral("no such file")));
    QByteArrayView header;
    if (!readLine(header) || header != withoutLineEnd(journalCsvHeader()))
        throw JournalReadError(QStringLiteral("%1: not a journal (its first line is not the journal's header \"%2\")")
                                   .arg(path, QString::fromLatin1(withoutLineEnd(journalCsvHeader()))));
}

bool JournalReader::fill()
{
    if (m_atEnd)
        return false;
    m_buffer.remove(0, m_pos); // the part of a line not handed out yet stays, at the front
    m_pos = 0;
    // A block, or what the file holds when that is less (one byte more, to see its end): a short
    // journal costs no megabyte.
    const qint64 want = std::min<qint64>(kBlock, std::max<qint64>(m_file.size() - m_file.pos(), 0) + 1);
    const qsizetype had = m_buffer.size();
    m_buffer.resize(had + want);
    const qint64 got = m_file.read(m_buffer.data() + had, want);
    m_buffer.resize(had + std::max<qint64>(got, 0));
    if (got < 0)
        fail(m_line + 1, QStringLiteral("cannot be read: %1").arg(m_file.errorString()));
    if (got == 0) {
        m_atEnd = true;
        return false;
    }
    if (m_digest)
        m_hash.addData(QByteArrayView(m_buffer.constData() + had, got));
    return true;
}

bool JournalReader::readLine(QByteArrayView& line)
{
    qsizetype end = m_buffer.indexOf('\n', m_pos);
    while (end < 0) {
        const qsizetype searched = m_buffer.size() - m_pos;
        if (!fill()) {
            if (m_pos >= m_buffer.size())
                return false;
            end = m_buffer.size(); // the last line, without a line end
            break;
        }
        end = m_buffer.indexOf('\n', m_pos + searched);
    }
    line = QByteArrayView(m_buffer.constData() + m_pos, end - m_pos);
    m_pos = std::min(end + 1, m_buffer.size());
    while (line.endsWith('\r') || line.endsWith('\n'))
        line.chop(1);
    ++m_line;
    return true;
}

void JournalReader::fail(int line, const QString& why) const
{
    throw JournalReadError(QStringLiteral("%1:%2: %3").arg(m_file.fileName()).arg(line).arg(why));
}

bool JournalReader::next(JournalRecord& r)
{
    QByteArrayView line;
    do {
        if (!readLine(line))
            return false;
    } while (line.isEmpty()); // a blank line (a trailing one, say) holds no row
    const int first = m_line;

    std::array<QByteArrayView, kFields> f;
    std::array<QByteArray, kFields> unquoted; // the fields of a row with quotes, where f points
    // The commas and whether there is a quote, in one look at the row.
    qsizetype count = 1;
    bool quoted = false;
    for (const char c : line) {
        count += c == ',';
        quoted |= c == '"';
    }
    if (!quoted) {
        if (count != kFields)
            fail(first, QStringLiteral("a row of %1 fields, where the journal has %2").arg(count).arg(kFields));
        qsizetype from = 0;
        for (int i = 0; i < kFields; ++i) {
            const qsizetype comma = i + 1 < kFields ? line.indexOf(',', from) : line.size();
            f[i] = line.sliced(from, comma - from);
            from = comma + 1;
        }
    } else {
        // The line's view does not outlive the next read, which a quoted line break makes.
        const auto fields = splitCsvRecord(line.toByteArray(), [this](QByteArray& next) {
            QByteArrayView view;
            if (!readLine(view))
                return false;
            next = view.toByteArray();
            return true;
        });
        if (!fields)
            fail(first, QStringLiteral("a row that is not valid CSV (a quote out of place or never closed)"));
        if (fields->size() != kFields)
            fail(first,
                 QStringLiteral("a row of %1 fields, where the journal has %2").arg(fields->size()).arg(kFields));
        for (int i = 0; i < kFields; ++i) {
            unquoted[i] = (*fields)[i].toUtf8();
            f[i] = unquoted[i];
        }
    }

    r.time = journalTime(f[0]);
    if (!r.time.isValid())
        fail(first, QStringLiteral("the time \"%1\" is not an ISO 8601 time").arg(QString::fromUtf8(f[0])));
    bool ok = true;
    r.slot = f[1].isEmpty() ? 0 : f[1].toInt(&ok); // none: heard on the bus
    if (!ok || r.slot < 0 || r.slot > 32)
        fail(first, QStringLiteral("the slot \"%1\" is not 1 to 32").arg(QString::fromUtf8(f[1])));
    r.address = QString::fromUtf8(f[2]);
    r.function = QString::fromUtf8(f[3]);
    r.attempt = f[4].toInt(&ok);
    if (!ok || r.attempt < 1 || r.attempt > 3)
        fail(first, QStringLiteral("the attempt \"%1\" is not 1 to 3").arg(QString::fromUtf8(f[4])));
    r.sent = QString::fromUtf8(f[5]);
    r.received = QString::fromUtf8(f[6]);
    if (!parseMs(f[7], r.firstByteMs))
        fail(first, QStringLiteral("the first-byte time \"%1\" is not milliseconds").arg(QString::fromUtf8(f[7])));
    if (!parseMs(f[8], r.replyMs))
        fail(first, QStringLiteral("the reply time \"%1\" is not milliseconds").arg(QString::fromUtf8(f[8])));
    static const int verdicts = static_cast<int>(verdictNames().size());
    int verdict = 0;
    while (verdict < verdicts && f[9] != verdictNameLatin1(static_cast<JournalRecord::Verdict>(verdict)))
        ++verdict;
    if (verdict == verdicts)
        fail(first, QStringLiteral("the verdict \"%1\" is not one of %2")
                        .arg(QString::fromUtf8(f[9]), verdictNames().join(u", ")));
    r.verdict = static_cast<JournalRecord::Verdict>(verdict);
    r.detail = QString::fromUtf8(f[10]);
    return true;
}

} // namespace tarvo
