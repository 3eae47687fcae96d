#pragma once

#include "Exchange.h"
#include "JournalRecord.h"

#include <QDateTime>
#include <QString>
#include <array>
#include <cmath>
#include <functional>

namespace tarvo {

class Clock;

// How each controller slot has been answering: counted per request (an exchange, with its up to
// three attempts), over everything since the counters started, across Stop and Start. A slot's
// counters start again when its address changes or on reset(). Listening, Stop and errors in the
// console's own fields are not the controller's doing and are not counted. A request the controller
// refused with a Modbus exception reply was answered (a refusal is an answer), and is counted as an
// exception too; so is one that met silence after such a refusal, since the refusal is what it got.
class Health final : public ExchangeObserver {
public:
    struct Slot {
        QString address;
        long requests = 0;
        long answered = 0;
        long noAnswer = 0;
        long badCheck = 0;   // replies whose check value did not match
        long exceptions = 0; // requests refused with a Modbus exception reply
        long extraTries = 0; // attempts beyond the first, over all requests
        double lastFirstByteMs = NAN;
        double minFirstByteMs = NAN;
        double maxFirstByteMs = NAN;
        double sumFirstByteMs = 0;
        long firstByteCount = 0;
        QDateTime lastAnswered;
        double meanFirstByteMs() const
        {
            return firstByteCount ? sumFirstByteMs / static_cast<double>(firstByteCount) : NAN;
        }
        double successShare() const
        {
            return requests ? static_cast<double>(answered) / static_cast<double>(requests) : NAN;
        }
    };

    explicit Health(const Clock& clock, std::function<QDateTime()> wallClock = &localNow);

    void attemptFinished(const AttemptRecord& attempt) override;
    const Slot& slot(int index) const { return m_slots[static_cast<size_t>(index)]; }
    // Whether anything was counted for the slot since its counters started.
    bool seen(int index) const { return !m_slots[static_cast<size_t>(index)].address.isNull(); }
    void reset();
    // Bumped at every change, so that a view redraws only when something changed.
    quint64 generation() const { return m_generation; }

private:
    const Clock& m_clock;
    std::function<QDateTime()> m_wallClock;
    std::array<Slot, 32> m_slots;
    // What the request under way got so far: a refusal, and when its first byte came (NAN: none).
    struct Refusal {
        bool seen = false;
        double firstByteMs = NAN;
        double at = 0; // the exchange clock's time of the refusal
    };
    std::array<Refusal, 32> m_refused;
    quint64 m_generation = 0;
};

} // namespace tarvo
