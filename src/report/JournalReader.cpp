#include "JournalReader.h"

#include "JournalCsv.h"

#include <QFileInfo>
#include <cmath>

namespace tarvo {

namespace {

QByteArray withoutLineEnd(QByteArray line)
{
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line;
}

// Milliseconds as the journal writes them; empty means none. False for anything else.
bool parseMs(const QString& text, double& ms)
{
    if (text.isEmpty()) {
        ms = NAN;
        return true;
    }
    bool ok = false;
    ms = text.toDouble(&ok);
    return ok && std::isfinite(ms) && ms >= 0;
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

JournalReader::JournalReader(const QString& path) : m_file(path)
{
    if (!QFileInfo(path).isFile() || !m_file.open(QIODevice::ReadOnly))
        throw JournalReadError(
            QStringLiteral("%1: cannot be read: %2")
                .arg(path, QFileInfo::exists(path) ? m_file.errorString() : QStringLiteral("no such file")));
    QByteArray header;
    if (!readLine(header) || withoutLineEnd(header) != withoutLineEnd(journalCsvHeader()))
        throw JournalReadError(QStringLiteral("%1: not a journal (its first line is not the journal's header \"%2\")")
                                   .arg(path, QString::fromLatin1(withoutLineEnd(journalCsvHeader()))));
}

bool JournalReader::readLine(QByteArray& line)
{
    if (m_file.atEnd())
        return false;
    line = m_file.readLine();
    m_hash.addData(line);
    ++m_line;
    return true;
}

void JournalReader::fail(int line, const QString& why) const
{
    throw JournalReadError(QStringLiteral("%1:%2: %3").arg(m_file.fileName()).arg(line).arg(why));
}

bool JournalReader::next(JournalRecord& r)
{
    QByteArray line;
    do {
        if (!readLine(line))
            return false;
        line = withoutLineEnd(line);
    } while (line.isEmpty()); // a blank line (a trailing one, say) holds no row
    const int first = m_line;
    const auto fields = splitCsvRecord(line, [this](QByteArray& next) { return readLine(next); });
    if (!fields)
        fail(first, QStringLiteral("a row that is not valid CSV (a quote out of place or never closed)"));
    const QStringList& f = *fields;
    if (f.size() != 11)
        fail(first, QStringLiteral("a row of %1 fields, where the journal has 11").arg(f.size()));
    r = JournalRecord{};
    r.time = QDateTime::fromString(f[0], Qt::ISODateWithMs);
    if (!r.time.isValid())
        fail(first, QStringLiteral("the time \"%1\" is not an ISO 8601 time").arg(f[0]));
    bool ok = true;
    r.slot = f[1].isEmpty() ? 0 : f[1].toInt(&ok); // none: heard on the bus
    if (!ok || r.slot < 0 || r.slot > 32)
        fail(first, QStringLiteral("the slot \"%1\" is not 1 to 32").arg(f[1]));
    r.address = f[2];
    r.function = f[3];
    r.attempt = f[4].toInt(&ok);
    if (!ok || r.attempt < 1 || r.attempt > 3)
        fail(first, QStringLiteral("the attempt \"%1\" is not 1 to 3").arg(f[4]));
    r.sent = f[5];
    r.received = f[6];
    if (!parseMs(f[7], r.firstByteMs))
        fail(first, QStringLiteral("the first-byte time \"%1\" is not milliseconds").arg(f[7]));
    if (!parseMs(f[8], r.replyMs))
        fail(first, QStringLiteral("the reply time \"%1\" is not milliseconds").arg(f[8]));
    const qsizetype verdict = verdictNames().indexOf(f[9]);
    if (verdict < 0)
        fail(first, QStringLiteral("the verdict \"%1\" is not one of %2").arg(f[9], verdictNames().join(u", ")));
    r.verdict = static_cast<JournalRecord::Verdict>(verdict);
    r.detail = f[10];
    return true;
}

} // namespace tarvo
