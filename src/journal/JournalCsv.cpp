#include "JournalCsv.h"

#include "SafeFile.h"

namespace tarvo {

namespace {

// RFC 4180: a field with a comma, a quote or a line break goes in quotes, its quotes doubled. Appended
// to the row as it is built: a journal file takes thousands of rows a second at full polling speed.
void appendField(QByteArray& row, const QString& text)
{
    const QByteArray f = text.toUtf8();
    if (f.contains(',') || f.contains('"') || f.contains('\n') || f.contains('\r'))
        row += '"' + QByteArray(f).replace("\"", "\"\"") + '"';
    else
        row += f;
}

// The same, written straight into the row when the text is plain ASCII without a comma, a quote or
// a line break: nearly every field of every row of a journal file, thousands of rows a second.
void appendPlainField(QByteArray& row, QStringView text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x80 || u == ',' || u == '"' || u == '\n' || u == '\r') {
            appendField(row, text.toString());
            return;
        }
    }
    const qsizetype at = row.size();
    row.resize(at + text.size());
    char* out = row.data() + at;
    for (const QChar c : text)
        *out++ = static_cast<char>(c.unicode());
}

// millisecondsText() as the file's bytes, without making a QString first.
void appendMilliseconds(QByteArray& row, double ms)
{
    if (!std::isnan(ms))
        row += QByteArray::number(ms, 'f', 1);
}

} // namespace

QByteArray csvField(const QString& text)
{
    QByteArray f;
    appendField(f, text);
    return f;
}

QByteArray csvRow(const QStringList& fields)
{
    QByteArray row;
    for (const QString& f : fields) {
        appendField(row, f);
        row += ',';
    }
    row.chop(1);
    return row + "\r\n";
}

QByteArray journalCsvHeader()
{
    return "time,slot,address,function,attempt,sent,received,first_byte_ms,reply_ms,verdict,detail\r\n";
}

QByteArray journalCsvRow(const JournalRecord& r)
{
    QByteArray row;
    row.reserve(64 + 3 * (r.sent.size() + r.received.size() + r.detail.size()));
    row += isoTimeLatin1(r.time);
    row += ',';
    if (r.slot > 0) // none: heard on the bus
        row += QByteArray::number(r.slot);
    row += ',';
    appendPlainField(row, r.address);
    row += ',';
    appendPlainField(row, r.function);
    row += ',';
    row += QByteArray::number(r.attempt);
    row += ',';
    appendPlainField(row, r.sent); // hexadecimal digits and blanks
    row += ',';
    appendPlainField(row, r.received);
    row += ',';
    appendMilliseconds(row, r.firstByteMs);
    row += ',';
    appendMilliseconds(row, r.replyMs);
    row += ',';
    row += verdictNameLatin1(r.verdict);
    row += ',';
    appendPlainField(row, r.detail);
    row += "\r\n";
    return row;
}

QString journalFileName(const QDateTime& started)
{
    return started.toString(QStringLiteral("'journal-'yyyyMMdd-HHmmss'.csv'"));
}

bool exportJournal(const QString& path, const QList<JournalRecord>& records, QString* error)
{
    QByteArray data = journalCsvHeader();
    for (const JournalRecord& r : records)
        data += journalCsvRow(r);
    return writeFileAtomically(path, data, error);
}

JournalFile::~JournalFile()
{
    close();
}

bool JournalFile::open(const QString& path, QString* error)
{
    close();
    m_failed = false;
    m_file.setFileName(path);
    // A file of that name is never overwritten: a journal only ever grows.
    // Unbuffered: each batch goes to the system as it comes, and a short write is seen at once.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        if (error)
            *error = QStringLiteral("cannot create %1: %2").arg(path, m_file.errorString());
        return false;
    }
    const QByteArray header = journalCsvHeader();
    if (m_file.write(header) != header.size()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, m_file.errorString());
        m_file.close();
        QFile::remove(path);
        return false;
    }
    m_written = header.size();
    return true;
}

void JournalFile::close()
{
    if (m_file.isOpen())
        m_file.close();
}

void JournalFile::append(const QList<JournalRecord>& records)
{
    if (!m_file.isOpen() || records.isEmpty())
        return;
    QByteArray batch;
    for (const JournalRecord& r : records)
        batch += journalCsvRow(r);
    const qint64 written = m_file.write(batch);
    if (written != batch.size()) {
        const QString reason = written < 0 ? m_file.errorString() : QStringLiteral("the disk is full");
        m_file.resize(m_written); // no half row stays behind
        fail(QStringLiteral("The journal file %1 could not be written (%2); it ends here")
                 .arg(m_file.fileName(), reason));
        return;
    }
    m_written += written;
}

void JournalFile::fail(const QString& problem)
{
    m_failed = true;
    close();
    if (onFailure)
        onFailure(problem);
}

} // namespace tarvo
