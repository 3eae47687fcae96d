#pragma once

#include "Exchange.h"
#include "JournalRecord.h"

#include <QDateTime>
#include <QList>
#include <functional>
#include <variant>
#include <vector>

namespace tarvo {

class Clock;

// Takes the journal's rows in batches: the view, the file, the command-line tool's output.
class JournalSink {
public:
    virtual ~JournalSink() = default;
    virtual void append(const QList<JournalRecord>& records) = 0;
};

// The journal of every attempt. As an exchange observer it only keeps each attempt; flush() turns what
// was kept into rows and hands them to the sinks, from a timer in the console or after each round in
// the command-line tool, so that polling never waits for a view or a disk, nor for making rows.
class Journal final : public ExchangeObserver {
public:
    // wallClock: the time of day now (the tests fix it).
    explicit Journal(const Clock& clock, std::function<QDateTime()> wallClock = &localNow);

    // Keeps the attempt for the sinks; without any sink nothing is kept.
    void attemptFinished(const AttemptRecord& attempt) override;
    // Rows that did not come from an attempt (the bus monitor's frames, the link's own events).
    void add(const JournalRecord& record);

    void addSink(JournalSink* sink);
    void removeSink(JournalSink* sink);
    // Hands the rows kept since the last flush to every sink, in order. Returns how many there were.
    qsizetype flush();
    qsizetype pending() const { return m_pending.size(); }

    // Called after each row kept, with the number of rows now pending: whoever flushes can decide
    // there whether a flush is due, without a timer of its own waking the program between exchanges.
    std::function<void(qsizetype pending)> onKept;

private:
    const Clock& m_clock;
    std::function<QDateTime()> m_wallClock;
    // Attempts are made rows at the flush, a batch in one go: keeping one costs the exchange no more
    // than a copy of its record. The rows added as such wait among them, in order.
    QList<std::variant<AttemptRecord, JournalRecord>> m_pending;
    std::vector<JournalSink*> m_sinks;
};

} // namespace tarvo
