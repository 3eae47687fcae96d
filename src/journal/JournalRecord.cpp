#include "JournalRecord.h"

#include "Framing.h"
#include "Requests.h"

namespace tarvo {

namespace {

constexpr const char* kVerdictNames[] = {"ok",      "bad-check", "no-answer", "no-reply-expected",
                                         "stopped", "error",     "unknown",   "exception"};

} // namespace

QByteArrayView verdictNameLatin1(JournalRecord::Verdict verdict)
{
    const auto v = static_cast<size_t>(verdict);
    return v < std::size(kVerdictNames) ? QByteArrayView(kVerdictNames[v]) : QByteArrayView();
}

QString verdictName(JournalRecord::Verdict verdict)
{
    return verdictNames().value(static_cast<int>(verdict));
}

QStringList verdictNames()
{
    static const QStringList names = [] {
        QStringList all;
        for (const char* name : kVerdictNames)
            all << QString::fromLatin1(name);
        return all;
    }();
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
    // Bytes that came too few to end the wait were never read as a reply.
    if (!listening && a.verdict == AttemptRecord::Verdict::Reply && !a.reply.isEmpty())
        r.replyMs = (a.repliedAt - a.sentAt) * 1000;
    const bool exception = a.exceptionCode >= 0;
    switch (a.verdict) {
    case AttemptRecord::Verdict::Reply:
        r.verdict = a.checkFailed ? V::BadCheck : exception ? V::Exception : V::Ok;
        break;
    case AttemptRecord::Verdict::NoReply:
        r.verdict = exception ? V::Exception : V::NoAnswer;
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

QByteArray isoTimeLatin1(const QDateTime& time)
{
    // Digit by digit: the journal file writes one of these for every row.
    if (!time.isValid())
        return {};
    const QDate date = time.date();
    const QTime clock = time.time();
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    QByteArray text("0000-00-00T00:00:00.000+00:00");
    auto put = [&text](qsizetype at, int value, int digits) {
        for (qsizetype i = at + digits - 1; i >= at; --i, value /= 10)
            text[i] = static_cast<char>('0' + value % 10);
    };
    put(0, date.year(), 4);
    put(5, date.month(), 2);
    put(8, date.day(), 2);
    put(11, clock.hour(), 2);
    put(14, clock.minute(), 2);
    put(17, clock.second(), 2);
    put(20, clock.msec(), 3);
    text[23] = offset < 0 ? '-' : '+';
    put(24, minutes / 60, 2);
    put(27, minutes % 60, 2);
    return text;
}

QString isoTime(const QDateTime& time)
{
    return QString::fromLatin1(isoTimeLatin1(time));
}

QString millisecondsText(double ms)
{
    return std::isnan(ms) ? QString() : QString::number(ms, 'f', 1);
}

int verdictSeverity(JournalRecord::Verdict v)
{
    using V = JournalRecord::Verdict;
    switch (v) {
    case V::Ok:
        return 0;
    case V::NoReplyExpected:
        return 1;
    case V::NoAnswer:
    case V::Unknown:
        return 2;
    case V::Exception:
        return 3;
    case V::BadCheck:
        return 4;
    case V::Error:
        return 5;
    case V::Stopped:
        return 6;
    }
    return 0;
}

JournalRecord::Verdict worseVerdict(JournalRecord::Verdict a, JournalRecord::Verdict b)
{
    return verdictSeverity(b) > verdictSeverity(a) ? b : a;
}

bool answered(JournalRecord::Verdict v)
{
    return v == JournalRecord::Verdict::Ok || v == JournalRecord::Verdict::BadCheck ||
           v == JournalRecord::Verdict::Exception;
}

JournalRecord::Verdict betterVerdict(JournalRecord::Verdict a, JournalRecord::Verdict b)
{
    if (answered(a) != answered(b))
        return answered(a) ? a : b;
    return verdictSeverity(b) < verdictSeverity(a) ? b : a;
}

} // namespace tarvo
