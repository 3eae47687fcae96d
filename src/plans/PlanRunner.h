#pragma once

#include "AddressResult.h"
#include "TestPlan.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>
#include <optional>
#include <stop_token>

namespace tarvo {
class Clock;
class Engine;
class EventPump;
} // namespace tarvo

namespace tarvo::plans {

// What one step gave at one address over its sends.
struct StepResult {
    enum class Outcome { Passed, Failed, Skipped };
    int step = 0; // its index in the plan
    QString name;
    int address = 0;
    Outcome outcome = Outcome::Passed;
    int sends = 0;
    int passed = 0;
    // The send the record shows: the first that failed, else the last one.
    AddressResult shown;
    // Why it failed ("reply 05 73 00 01 does not match 05 73 ?? ?? 04"), or why it was not run; empty
    // when it passed.
    QString reason;
    double seconds = 0; // from its first send to the end of its last
    QDateTime time;     // when it began

    // It failed because a request could not be made at all, not because a controller answered amiss:
    // what a CI server counts as an error rather than a failure.
    bool isError() const { return outcome == Outcome::Failed && shown.verdict == JournalRecord::Verdict::Error; }
};

QString outcomeName(StepResult::Outcome outcome); // "pass", "fail", "skipped"

// Why one send does not meet the expectation; nothing when it does. The verdict first (a reply that
// failed its check is never a pass of a step that expects ok), then the reply's shape, then its times.
std::optional<QString> sendFailure(const Expectation& expect, const AddressResult& result);

// Runs a plan's steps in order over the exchange, each send one call of the engine with the step's
// settings, through the same link and observers as every other exchange (the journal keeps every
// attempt). The link is the caller's to open and close.
class PlanRunner {
public:
    PlanRunner(Engine& engine, const Clock& clock, EventPump& pump);
    ~PlanRunner();
    PlanRunner(const PlanRunner&) = delete;
    PlanRunner& operator=(const PlanRunner&) = delete;

    // A step begins at an address; a step at an address has its result (passed, failed, or skipped
    // after a failed step that stops the plan).
    std::function<void(int step, int address)> stepStarted;
    std::function<void(const StepResult& result)> stepFinished;
    // After every send (the command-line tool writes its journal out).
    std::function<void()> afterSend;

    // True when the plan ran to its end (or to a step that stops it); false when `stop` ended it, the
    // step under way then unreported.
    bool run(const TestPlan& plan, const ExchangeSettings& base, std::stop_token stop);

private:
    Engine& m_engine;
    const Clock& m_clock;
    EventPump& m_pump;
    ResultCollector m_collector;
};

} // namespace tarvo::plans
