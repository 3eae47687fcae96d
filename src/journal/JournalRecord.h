#pragma once

#include "Exchange.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <cmath>

namespace tarvo {

// One row of the journal: one attempt of an exchange (or one message heard while listening), as the
// journal view shows it and the journal file keeps it.
struct JournalRecord {
    enum class Verdict {
        Ok,              // a reply, its check value right (or a protocol without one)
        BadCheck,        // a reply whose check value did not match
        NoAnswer,        // nothing came before the time-out
        NoReplyExpected, // Bioscrypt without acknowledgement: nothing was awaited
        Stopped,         // Stop ended the attempt
        Error,           // the request could not be built or sent (detail says why)
        Unknown,         // heard on the bus, not recognised as a frame of the protocol
        Exception,       // a Modbus exception reply: the device refused the request (detail names why)
    };

    QDateTime time;           // when the request had left (a listen: when the first byte came), local time
    int slot = 1;             // 1 to 32, as the window numbers the slots
    QString address;          // as typed
    QString function;         // "ReadInput", "SendCommand", "Waiting", ...
    int attempt = 1;          // 1 to 3
    QString sent;             // the request's bytes, "01 04 01 00 00 06 70 34"; empty when none went out
    QString received;         // the reply's bytes, the same way; empty when none came
    double firstByteMs = NAN; // from the end of the request to the first reply byte; NAN: none
    double replyMs = NAN;     // from the end of the request to the reply read; NAN: none
    Verdict verdict = Verdict::NoAnswer;
    QString detail; // the error text, and what the link noted

    friend bool operator==(const JournalRecord&, const JournalRecord&) = default;
};

// How bad a verdict is: the one order every summary of several goes by. Higher is worse: ok, then
// no-reply-expected, then no-answer and unknown, then exception (an answer, but a refusal), then
// bad-check, then error; stopped above all, since an unfinished call is never reported as anything
// else.
int verdictSeverity(JournalRecord::Verdict verdict);
// The worse of two (a call's several requests).
JournalRecord::Verdict worseVerdict(JournalRecord::Verdict a, JournalRecord::Verdict b);
// Whether a reply came, whatever its check value said.
bool answered(JournalRecord::Verdict verdict);
// The better of two for a controller asked several ways (a census over speeds): one that answered, the
// less bad first; else the less bad.
JournalRecord::Verdict betterVerdict(JournalRecord::Verdict a, JournalRecord::Verdict b);

// "ok", "bad-check", "no-answer", "no-reply-expected", "stopped", "error", "unknown", "exception".
QString verdictName(JournalRecord::Verdict verdict);
QByteArrayView verdictNameLatin1(JournalRecord::Verdict verdict); // the same, as the file's bytes
// All eight names, in the enumeration's order.
QStringList verdictNames();

// Bytes as the journal writes them: two upper-case digits each, a space between bytes.
QString spacedHex(const QByteArray& bytes);

// The journal's row for an attempt. The attempt's times are the exchange clock's; clockNow and
// wallNow are the same moment on that clock and on the wall, which places the attempt in the day.
JournalRecord journalRecord(const AttemptRecord& attempt, double clockNow, const QDateTime& wallNow);

// The time of day now, with the offset from UTC that holds now. The offset is asked of the system's
// time zone rules once a second only (a change of daylight saving time shows within that second):
// asking at every call costs more than the rest of an attempt's row, at full polling speed.
QDateTime localNow();

// The time as the journal file writes it: ISO 8601 to the millisecond with the offset from UTC,
// "2026-12-10T14:03:07.125+02:00".
QString isoTime(const QDateTime& time);
QByteArray isoTimeLatin1(const QDateTime& time); // the same, as the file's bytes
// Milliseconds with one decimal ("12.3"); empty for NAN.
QString millisecondsText(double ms);

} // namespace tarvo
