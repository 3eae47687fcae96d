#include "CliOutput.h"

#include "JournalCsv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cmath>

namespace tarvo::cli {

QByteArray jsonString(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

namespace {

QByteArray jsonNumber(double ms)
{
    return std::isnan(ms) ? QByteArray("null") : QByteArray::number(ms, 'f', 1);
}

// A console address is a number in every output but the one the operator typed oddly in a Tarvo.cfg.
QByteArray jsonAddress(const QString& address)
{
    bool ok = false;
    const int n = address.toInt(&ok);
    return ok && QString::number(n) == address ? QByteArray::number(n) : jsonString(address);
}

QString column(const QString& text, int width)
{
    return text.leftJustified(width) + QStringLiteral("  ");
}

QString rightColumn(const QString& text, int width)
{
    return text.rightJustified(width) + QStringLiteral("  ");
}

constexpr int kTimeWidth = 12;
constexpr int kAddressWidth = 7;
constexpr int kSpeedWidth = 6;
constexpr int kFunctionWidth = 13;
constexpr int kVerdictWidth = 17;
constexpr int kTriesWidth = 5;
constexpr int kFirstByteWidth = 10;
constexpr int kReplyWidth = 8;
constexpr int kRecordsWidth = 7;

} // namespace

RecordWriter::RecordWriter(Format format, Kind kind, int sentWidth, std::FILE* out)
    : m_format(format), m_kind(kind), m_sentWidth(std::max(sentWidth, 4)), m_out(out)
{
}

QByteArray RecordWriter::header() const
{
    switch (m_format) {
    case Format::Json:
        return {};
    case Format::Csv: {
        QByteArray h = resultCsvHeader(m_kind == Kind::Census);
        if (m_kind == Kind::Memory)
            h.insert(h.size() - 2, ",records,output");
        return h;
    }
    case Format::Text:
        break;
    }
    QString h = column(QStringLiteral("TIME"), kTimeWidth) + column(QStringLiteral("ADDRESS"), kAddressWidth);
    if (m_kind == Kind::Census)
        h += column(QStringLiteral("SPEED"), kSpeedWidth);
    if (m_kind == Kind::Memory) {
        h += column(QStringLiteral("VERDICT"), kVerdictWidth) + rightColumn(QStringLiteral("RECORDS"), kRecordsWidth) +
             QStringLiteral("OUTPUT");
        return h.toUtf8() + '\n';
    }
    h += column(QStringLiteral("FUNCTION"), kFunctionWidth) + column(QStringLiteral("VERDICT"), kVerdictWidth) +
         rightColumn(QStringLiteral("TRIES"), kTriesWidth) +
         rightColumn(QStringLiteral("FIRST-BYTE"), kFirstByteWidth) +
         rightColumn(QStringLiteral("REPLY"), kReplyWidth) + column(QStringLiteral("SENT"), m_sentWidth) +
         QStringLiteral("RECEIVED");
    return h.toUtf8() + '\n';
}

QByteArray RecordWriter::line(const AddressResult& r, const MemoryExtra* extra) const
{
    switch (m_format) {
    case Format::Json: {
        QByteArray j = "{\"time\":" + jsonString(isoTime(r.time)) + ",\"address\":" + jsonAddress(r.address);
        if (m_kind == Kind::Census)
            j += ",\"speed\":" + (r.speed.isEmpty() ? QByteArray("null") : r.speed.toLatin1());
        j += ",\"function\":" + jsonString(r.function) + ",\"sent\":" + jsonString(r.sent) +
             ",\"received\":" + jsonString(r.received) + ",\"attempts\":" + QByteArray::number(r.attempts) +
             ",\"first_byte_ms\":" + jsonNumber(r.firstByteMs) + ",\"reply_ms\":" + jsonNumber(r.replyMs) +
             ",\"verdict\":" + jsonString(verdictName(r.verdict)) + ",\"detail\":" + jsonString(r.detail);
        if (extra)
            j += ",\"records\":" + QByteArray::number(extra->records) + ",\"output\":" + jsonString(extra->output);
        return j + "}\n";
    }
    case Format::Csv: {
        QByteArray row = resultCsvRow(r, m_kind == Kind::Census);
        if (m_kind == Kind::Memory) {
            const MemoryExtra none;
            const MemoryExtra& e = extra ? *extra : none;
            row.insert(row.size() - 2, ',' + QByteArray::number(e.records) + ',' + csvField(e.output));
        }
        return row;
    }
    case Format::Text:
        break;
    }
    QString t = column(r.time.toString(QStringLiteral("HH:mm:ss.zzz")), kTimeWidth) + column(r.address, kAddressWidth);
    if (m_kind == Kind::Census)
        t += column(r.speed.isEmpty() ? QStringLiteral("-") : r.speed, kSpeedWidth);
    if (m_kind == Kind::Memory) {
        t += column(verdictName(r.verdict), kVerdictWidth) +
             rightColumn(QString::number(extra ? extra->records : 0), kRecordsWidth) +
             (extra ? extra->output : QString());
    } else {
        t += column(r.function, kFunctionWidth) + column(verdictName(r.verdict), kVerdictWidth) +
             rightColumn(QString::number(r.attempts), kTriesWidth) +
             rightColumn(millisecondsText(r.firstByteMs), kFirstByteWidth) +
             rightColumn(millisecondsText(r.replyMs), kReplyWidth) + column(r.sent, m_sentWidth) + r.received;
    }
    if (!r.detail.isEmpty())
        t += QStringLiteral("  (") + r.detail + QLatin1Char(')');
    // No padding is left at the end of a line.
    while (t.endsWith(QLatin1Char(' ')))
        t.chop(1);
    return t.toUtf8() + '\n';
}

void RecordWriter::writeHeader()
{
    if (m_format == Format::Text) {
        m_headerDue = true;
        return;
    }
    const QByteArray h = header();
    if (h.isEmpty())
        return;
    if (beforeWrite)
        beforeWrite();
    std::fwrite(h.constData(), 1, static_cast<size_t>(h.size()), m_out);
    std::fflush(m_out);
}

void RecordWriter::write(const AddressResult& result, const MemoryExtra* extra)
{
    QByteArray l = line(result, extra);
    if (m_headerDue) {
        l.prepend(header());
        m_headerDue = false;
    }
    if (beforeWrite)
        beforeWrite();
    std::fwrite(l.constData(), 1, static_cast<size_t>(l.size()), m_out);
    std::fflush(m_out);
}

void Tally::add(JournalRecord::Verdict verdict)
{
    using V = JournalRecord::Verdict;
    ++total;
    switch (verdict) {
    case V::Ok:
        ++ok;
        break;
    case V::BadCheck:
        ++badCheck;
        break;
    case V::Exception:
        ++exceptions;
        break;
    case V::NoReplyExpected:
        ++noReplyExpected;
        break;
    case V::Error:
        ++errors;
        break;
    default:
        ++noAnswer;
        break;
    }
}

int Tally::exitStatus() const
{
    if (badCheck > 0)
        return status::kBadCheck;
    if (exceptions > 0)
        return status::kException;
    if (noAnswer > 0 || errors > 0)
        return status::kNoAnswer;
    return status::kOk;
}

QString Tally::line() const
{
    QString text = QStringLiteral("%1 of %2 answered").arg(answered()).arg(total);
    if (noAnswer > 0)
        text += QStringLiteral(", %1 no answer").arg(noAnswer);
    if (badCheck > 0)
        text += QStringLiteral(", %1 bad check").arg(badCheck);
    if (exceptions > 0)
        text += QStringLiteral(", %1 exception%2").arg(exceptions).arg(exceptions == 1 ? "" : "s");
    if (errors > 0)
        text += QStringLiteral(", %1 error%2").arg(errors).arg(errors == 1 ? "" : "s");
    if (noReplyExpected > 0)
        text += QStringLiteral(", %1 sent without a reply expected").arg(noReplyExpected);
    return text;
}

void ProgressLine::show(const QString& text)
{
    if (!m_enabled)
        return;
    std::fprintf(stderr, "\r%s\033[K", text.toLocal8Bit().constData());
    std::fflush(stderr);
    m_shown = true;
}

void ProgressLine::clear()
{
    if (!m_shown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_shown = false;
}

} // namespace tarvo::cli
