#include "PlanRunner.h"

#include "Clock.h"
#include "Engine.h"
#include "EventPump.h"

#include <cmath>

namespace tarvo::plans {

QString outcomeName(StepResult::Outcome outcome)
{
    switch (outcome) {
    case StepResult::Outcome::Passed:
        return QStringLiteral("pass");
    case StepResult::Outcome::Failed:
        return QStringLiteral("fail");
    case StepResult::Outcome::Skipped:
        return QStringLiteral("skipped");
    }
    return {};
}

std::optional<QString> sendFailure(const Expectation& expect, const AddressResult& r)
{
    if (r.verdict != expect.verdict) {
        QString why =
            QStringLiteral("verdict %1, expected %2").arg(verdictName(r.verdict), verdictName(expect.verdict));
        if (!r.detail.isEmpty())
            why += QStringLiteral(" (%1)").arg(r.detail);
        return why;
    }
    if (expect.reply && !expect.reply->matches(QByteArray::fromHex(r.received.toLatin1()))) {
        if (r.received.isEmpty())
            return QStringLiteral("no reply to match %1").arg(expect.reply->text());
        return QStringLiteral("reply %1 does not match %2").arg(r.received, expect.reply->text());
    }
    const struct {
        const std::optional<double>& limit;
        double ms;
        const char* what;
    } times[] = {{expect.maxFirstByteMs, r.firstByteMs, "first byte"}, {expect.maxReplyMs, r.replyMs, "reply"}};
    for (const auto& t : times) {
        if (!t.limit)
            continue;
        if (std::isnan(t.ms))
            return QStringLiteral("no %1 came to time (at most %2 ms expected)")
                .arg(QLatin1String(t.what))
                .arg(*t.limit);
        if (t.ms > *t.limit)
            return QStringLiteral("%1 after %2 ms, more than %3 ms")
                .arg(QLatin1String(t.what), millisecondsText(t.ms))
                .arg(*t.limit);
    }
    return std::nullopt;
}

PlanRunner::PlanRunner(Engine& engine, const Clock& clock, EventPump& pump)
    : m_engine(engine), m_clock(clock), m_pump(pump), m_collector(clock)
{
    m_engine.addObserver(&m_collector);
}

PlanRunner::~PlanRunner()
{
    m_engine.removeObserver(&m_collector);
}

bool PlanRunner::run(const TestPlan& plan, const ExchangeSettings& base, std::stop_token stop)
{
    auto pause = [&](int ms) {
        return pumpUntil(m_pump, m_clock, m_clock.now() + ms / 1000.0, stop) != WaitEnd::Stopped;
    };
    for (qsizetype i = 0; i < plan.steps.size(); ++i) {
        const Step& step = plan.steps[i];
        if (stop.stop_requested())
            return false;
        if (step.waitOnly) {
            if (!pause(step.waitMs))
                return false;
            continue;
        }
        bool failed = false;
        for (int address : step.addresses) {
            if (stepStarted)
                stepStarted(static_cast<int>(i), address);
            StepResult result;
            result.step = static_cast<int>(i);
            result.name = step.name;
            result.address = address;
            result.time = localNow();
            const double began = m_clock.now();
            const FixedSettings settings(stepSettings(base, step, address));
            m_collector.clear();
            std::optional<AddressResult> firstFailure;
            QString firstReason;
            for (int n = 0; n < step.repeat; ++n) {
                if (stop.stop_requested())
                    return false;
                QString function = step.function;
                int16_t slot = 0;
                bool ranItsCourse = true;
                try {
                    ranItsCourse = m_engine.Envoi(settings, function, slot, stop);
                } catch (const std::exception&) {
                    // The engine reported the attempt as an error; the expectation judges it.
                }
                std::optional<AddressResult> r = m_collector.take(0);
                if (!ranItsCourse || stop.stop_requested() || (r && r->verdict == JournalRecord::Verdict::Stopped))
                    return false;
                if (!r) { // nothing was even attempted: never a pass
                    r.emplace();
                    r->address = QString::number(address);
                    r->function = step.function;
                    r->verdict = JournalRecord::Verdict::Error;
                    r->detail = QStringLiteral("nothing was sent");
                }
                if (afterSend)
                    afterSend();
                ++result.sends;
                if (const auto why = sendFailure(step.expect, *r)) {
                    if (!firstFailure) {
                        firstFailure = r;
                        firstReason = *why;
                    }
                } else {
                    ++result.passed;
                }
                result.shown = *r;
            }
            if (firstFailure)
                result.shown = *firstFailure;
            result.seconds = m_clock.now() - began;
            const int needed = static_cast<int>(std::ceil(step.expect.minSuccess * result.sends - 1e-9));
            if (result.passed >= needed) {
                result.outcome = StepResult::Outcome::Passed;
            } else {
                result.outcome = StepResult::Outcome::Failed;
                result.reason = result.sends == 1
                                    ? firstReason
                                    : QStringLiteral("%1 of %2 sends passed, %3 needed; first failure: %4")
                                          .arg(result.passed)
                                          .arg(result.sends)
                                          .arg(needed)
                                          .arg(firstReason);
                failed = true;
            }
            if (stepFinished)
                stepFinished(result);
        }
        if (failed && step.stopOnFail) {
            // The rest is not run; a CI server still sees each of its cases, and why it did not run.
            for (qsizetype j = i + 1; j < plan.steps.size(); ++j) {
                const Step& rest = plan.steps[j];
                for (int address : rest.addresses) {
                    StepResult skipped;
                    skipped.step = static_cast<int>(j);
                    skipped.name = rest.name;
                    skipped.address = address;
                    skipped.outcome = StepResult::Outcome::Skipped;
                    skipped.reason = QStringLiteral("not run: step \"%1\" failed").arg(step.name);
                    skipped.time = localNow();
                    if (stepFinished)
                        stepFinished(skipped);
                }
            }
            return true;
        }
        if (step.delayMs > 0 && !pause(step.delayMs))
            return false;
    }
    return true;
}

} // namespace tarvo::plans
