#pragma once

#include "EventPump.h"
#include "Exchange.h"
#include "ExchangeSettings.h"

#include <QList>
#include <QString>
#include <cstdint>
#include <functional>
#include <stop_token>

namespace tarvo {

class Clock;
class Link;
class Prompter;
class ReplyHook;
struct ReplyJudgement;

// One exchange with one controller slot: the request of the chosen function, framed for the chosen
// protocol, sent up to three times, the reply awaited, settled, read, shown and checked. Every setting
// is asked of the call's settings at the moment it is used, and every wait processes window events, so
// that Stop and edits made during a wait take effect at once.
class Engine {
public:
    Engine(Link& link, Clock& clock, EventPump& pump, Prompter& prompter);

    void setReplyHook(ReplyHook* hook) { m_hook = hook; }
    // Where replies and the check value flag are shown; none: nowhere.
    void setDisplay(ExchangeDisplay* display) { m_display = display; }
    // Every attempt is reported, once, to each observer (the journal, the health counters, the
    // census); an observer does little per attempt and never waits.
    void addObserver(ExchangeObserver* observer);
    void removeObserver(ExchangeObserver* observer);

    // One call for one slot, with the function name held by the caller (read anew at every request).
    // True when the call ran its course (a reply or the no-answer text shown, a reply-less send, the
    // command lines used up); false when `stop` was seen in a wait, the link then being closed already.
    // Errors (a field that is not a number, a refused request) leave as OperatorError with a text for
    // the operator; the link then stays open and the caller decides.
    bool Envoi(const SettingsSource& settings, QString& functionName, int16_t& slot, std::stop_token stop = {});

    // Name of the command work file, in the working directory.
    static QString commandFileName();

private:
    enum class Outcome { Done, NoAnswer, Stopped, NextRequest };
    struct Call;

    bool run(Call& call);
    // Reports the attempt under way as stopped and says so to the caller.
    Outcome stopped(Call& call);
    // Notes when the first reply byte came, once `pending` bytes are seen for the first time.
    void noteFirstByte(AttemptRecord& record, int32_t pending);
    // The next request of the call and its threshold; nothing when the command lines are used up.
    bool buildRequest(Call& call, QString& requestText, int& threshold);
    Outcome exchange(Call& call, const QString& frame, int threshold);
    // The wait for a Modbus TCP reply: until the frame of the request's transaction has come whole;
    // frames of other transactions are dropped (and noted).
    bool mbapReplyPresent(Call& call, AttemptRecord& record, uint16_t transaction);
    // The wait ran out: what came, too few to end it, is kept for the report and judged; the serial
    // buffer is left as it is for the next attempt.
    void keepShortReply(Call& call, AttemptRecord& record);
    Outcome listen(Call& call);
    // Waits until the receive count stops growing (and, for Bioscrypt with both flags, for the
    // second message). listening: the listen-only function, which counts TCP arrivals too.
    Outcome settle(Call& call, bool listening);
    Outcome showReply(Call& call, const QByteArray& bytes, double t0, bool paced);
    // What the report makes of the attempt's reply: every check its framing carries, stricter than
    // the console's own indicator.
    void judge(const Call& call, AttemptRecord& record) const;
    // leftover: how many of the reply's first bytes were waiting before the attempt was sent.
    ReplyJudgement judgement(const Call& call, const AttemptRecord& record, qsizetype leftover) const;
    // Starts the record of the call's next attempt (or listen).
    AttemptRecord& newRecord(Call& call);
    void finish(AttemptRecord& record);

    // Every wait of the exchange (pumpUntil); when the stop is seen the link is closed.
    WaitEnd waitFor(const Call& call, const std::function<double()>& deadline, const std::function<bool()>& done = {});
    int32_t pendingCount(bool listening);
    void showReply(int slot, int box, const QString& text);

    Link& m_link;
    Clock& m_clock;
    EventPump& m_pump;
    Prompter& m_prompter;
    ReplyHook* m_hook = nullptr;
    ExchangeDisplay* m_display = nullptr;
    QList<ExchangeObserver*> m_observers;
    uint16_t m_transaction = 0; // the last Modbus TCP transaction id sent
};

} // namespace tarvo
