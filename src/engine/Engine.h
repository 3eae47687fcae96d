#pragma once

#include "Exchange.h"
#include "Fields.h"

#include <QList>
#include <QString>
#include <cstdint>
#include <functional>

namespace tarvo {

class Clock;
class ConsoleModel;
class EventPump;
class Link;
class Prompter;
class ReplyHook;

// One exchange with one controller slot: the request of the chosen function, framed for the chosen
// protocol, sent up to three times, the reply awaited, settled, read, shown and checked. Every field is
// read from the console at the moment it is used, and every wait processes window events, so that
// Stop and edits made during a wait take effect at once.
class Engine {
public:
    Engine(ConsoleModel& model, Link& link, Clock& clock, EventPump& pump, Prompter& prompter);

    void setReplyHook(ReplyHook* hook) { m_hook = hook; }
    // Every attempt is reported, once, to each observer (the journal, the health counters, the
    // census); an observer does little per attempt and never waits.
    void addObserver(ExchangeObserver* observer);
    void removeObserver(ExchangeObserver* observer);

    // How many times a request goes out before its slot shows the no-answer text: 3 as the console
    // has always done; a census or a script may ask for fewer (1 to 3, anything else is clamped).
    void setMaxAttempts(int attempts);
    int maxAttempts() const { return m_maxAttempts; }

    // True when the call ran its course (a reply or the no-answer text shown, a reply-less send, the
    // command lines used up); false when Stop was seen in a wait, the link then being closed already.
    // Errors (a field that is not a number, a refused request) leave as OperatorError with a text for
    // the operator; the link then stays open and the caller decides.
    bool Envoi(QString& functionName, int16_t& slot);

    // Name of the command work file, in the working directory.
    static QString commandFileName();

private:
    enum class Outcome { Done, NoAnswer, Stopped, NextRequest };
    enum class WaitEnd { Done, TimedOut, Stopped };
    struct Call;

    bool run(Call& call);
    // Reports the attempt under way as stopped and says so to the caller.
    Outcome stopped(Call& call);
    // Notes when the first reply byte came, once `pending` bytes are seen for the first time.
    void noteFirstByte(AttemptRecord& record, int32_t pending);
    // The next request of the call and its threshold; nothing when the command lines are used up.
    bool buildRequest(Call& call, QString& requestText, int& threshold);
    Outcome exchange(Call& call, const QString& frame, int threshold);
    Outcome listen(Call& call);
    // Waits until the receive count stops growing (and, for Bioscrypt with both flags, for the
    // second message). listening: the listen-only function, which counts TCP arrivals too.
    Outcome settle(bool listening);
    Outcome showReply(Call& call, double t0, bool paced);
    // Starts the record of the call's next attempt (or listen).
    AttemptRecord& newRecord(Call& call);
    void finish(AttemptRecord& record);

    // Every wait of the exchange: pass after pass, pending events run and Stop is tested (the link is
    // then closed), until `done` holds or the clock is past the deadline. The deadline is asked afresh
    // on every pass, so that a delay edited during the wait applies at once.
    WaitEnd waitFor(const std::function<double()>& deadline, const std::function<bool()>& done = {});
    // A delay field in milliseconds; an operator error naming the field when it is not a number.
    int32_t milliseconds(Field field, const QString& label) const;
    int32_t pendingCount(bool listening);

    ConsoleModel& m_model;
    Link& m_link;
    Clock& m_clock;
    EventPump& m_pump;
    Prompter& m_prompter;
    ReplyHook* m_hook = nullptr;
    QList<ExchangeObserver*> m_observers;
    int m_maxAttempts = 3;
};

} // namespace tarvo
