#include "JournalRecord.h"

#include "Framing.h"
#include "Requests.h"

namespace tarvo {

QString verdictName(JournalRecord::Verdict verdict)
{
    return verdictNames().value(static_cast<int>(verdict));
}

QStringList verdictNames()
{
    static const QStringList names = {QStringLiteral("ok"),        QStringLiteral("bad-check"),
                                      QStringLiteral("no-answer"), QStringLiteral("no-reply-expected"),
                                      QStringLiteral("stopped"),   QStringLiteral("error"),
                                      QStringLiteral("unknown")};
    return names;
}

QString spacedHex(const QByteArray& bytes)
{
    // Written out here rather than through the reply boxes' ByteArrayToHex, which makes a string per
    // byte: every attempt's row goes through this twice.
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    if (bytes.isEmpty())
        return {};
    QString text(bytes.size() * 3 - 1, Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (i > 0)
            *out++ = QLatin1Char(' ');
        *out++ = QChar(kDigits[b >> 4]);
        *out++ = QChar(kDigits[b & 0x0f]);
    }
    return text;
}

JournalRecord journalRecord(const AttemptRecord& a, double clockNow, const QDateTime& wallNow)
{
    using V = JournalRecord::Verdict;
    JournalRecord r;
    r.time = wallNow.addMSecs(-qRound64((clockNow - a.sentAt) * 1000));
    r.slot = a.slot + 1;
    r.address = a.address;
    r.function = a.function;
    r.attempt = a.attempt;
    r.sent = spacedHex(frameToBytes(a.frame));
    r.received = spacedHex(a.reply);
    // A listen sends nothing: there is no request to count from.
    const bool listening = a.function == fn::Waiting;
    if (!listening && a.firstByteAt >= 0)
        r.firstByteMs = (a.firstByteAt - a.sentAt) * 1000;
    if (!listening && !a.reply.isEmpty())
        r.replyMs = (a.repliedAt - a.sentAt) * 1000;
    switch (a.verdict) {
    case AttemptRecord::Verdict::Reply:
        r.verdict = a.checkFailed ? V::BadCheck : V::Ok;
        break;
    case AttemptRecord::Verdict::NoReply:
        r.verdict = V::NoAnswer;
        break;
    case AttemptRecord::Verdict::ReplyLess:
        r.verdict = V::NoReplyExpected;
        break;
    case AttemptRecord::Verdict::Stopped:
        r.verdict = V::Stopped;
        break;
    case AttemptRecord::Verdict::Error:
        r.verdict = V::Error;
        break;
    }
    r.detail = a.detail;
    return r;
}

QDateTime localNow()
{
    // One thread (the window's) stamps the rows; each other thread would keep its own.
    thread_local qint64 offsetUntil = 0;
    thread_local int offset = 0;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now >= offsetUntil || now < offsetUntil - 1000) {
        offset = QDateTime::fromMSecsSinceEpoch(now).offsetFromUtc();
        offsetUntil = now + 1000;
    }
    return QDateTime::fromMSecsSinceEpoch(now, Qt::OffsetFromUTC, offset);
}

QString isoTime(const QDateTime& time)
{
    const QDate date = time.date();
    const QTime clock = time.time();
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", date.year(), date.month(), date.day(),
                             clock.hour(), clock.minute(), clock.second(), clock.msec(), offset < 0 ? '-' : '+',
                             minutes / 60, minutes % 60);
}

QString millisecondsText(double ms)
{
    return std::isnan(ms) ? QString() : QString::number(ms, 'f', 1);
}

} // namespace tarvo
