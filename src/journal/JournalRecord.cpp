#include "JournalRecord.h"

#include "Conversions.h"
#include "Framing.h"
#include "Requests.h"

namespace tarvo {

QString verdictName(JournalRecord::Verdict verdict)
{
    return verdictNames().value(static_cast<int>(verdict));
}

QStringList verdictNames()
{
    return {QStringLiteral("ok"),        QStringLiteral("bad-check"),
            QStringLiteral("no-answer"), QStringLiteral("no-reply-expected"),
            QStringLiteral("stopped"),   QStringLiteral("error"),
            QStringLiteral("unknown")};
}

QString spacedHex(const QByteArray& bytes)
{
    return ByteArrayToHex(bytes, false).chopped(bytes.isEmpty() ? 0 : 1);
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

QString isoTime(const QDateTime& time)
{
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString millisecondsText(double ms)
{
    return std::isnan(ms) ? QString() : QString::number(ms, 'f', 1);
}

} // namespace tarvo
