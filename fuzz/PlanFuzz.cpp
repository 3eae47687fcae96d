// The test plan reader over any bytes. A plan is accepted whole or refused with every mistake placed
// on a line of the text; what it accepts is what a run can use: named steps with addresses 0 to 65535
// and a known function, or pauses; shares between 0 and 1; patterns that read back as they print. The
// requests of an accepted plan are then built under every protocol, which refuses or accepts but never
// fails otherwise.
#include "FuzzSupport.h"
#include "PlanReader.h"
#include "Requests.h"

using namespace tarvo;
using namespace tarvo::plans;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const PlanReading r = readPlan(text);
    const int lines = static_cast<int>(text.count('\n')) + 1;
    for (const PlanProblem& p : r.problems) {
        fuzz::require(!p.message.isEmpty(), "a mistake says what it is");
        fuzz::require(p.place.line >= 1 && p.place.line <= lines, "a mistake is on a line of the plan");
        fuzz::require(p.place.column >= 1, "a mistake has a column");
    }
    if (!r.ok())
        return 0;
    fuzz::require(!r.plan.steps.isEmpty(), "an accepted plan has a step");
    const QStringList functions{fn::ReadInput,     fn::ReadBuffer, fn::ReadBuffer100,
                                fn::ReadBuffer110, fn::SendQuery,  fn::SendCommand};
    for (const Step& step : r.plan.steps) {
        if (step.waitOnly) {
            fuzz::require(step.waitMs >= 0, "a pause is not negative");
            continue;
        }
        fuzz::require(!step.name.isEmpty(), "a step has a name");
        fuzz::require(!step.addresses.isEmpty(), "a step has an address");
        for (int a : step.addresses)
            fuzz::require(a >= 0 && a <= 65535, "addresses are 0 to 65535");
        fuzz::require(functions.contains(step.function), "a step sends a known function");
        fuzz::require(step.repeat >= 1, "a step sends at least once");
        fuzz::require(step.expect.minSuccess >= 0 && step.expect.minSuccess <= 1, "a share is 0 to 1");
        if (step.expect.reply) {
            const auto again = ReplyPattern::parse(step.expect.reply->text());
            fuzz::require(again && again->text() == step.expect.reply->text(), "a pattern reads back");
        }
    }
    for (Protocol p : {Protocol::Modbus, Protocol::Protocol4, Protocol::Protocol4Plus, Protocol::Customer,
                       Protocol::Bioscrypt, Protocol::None}) {
        ExchangeSettings base;
        applyPlanSettings(r.plan.settings, base);
        base.protocol = p;
        for (const PlanProblem& problem : requestProblems(r.plan, base))
            fuzz::require(problem.place.line >= 1, "a refused request is placed in the plan");
    }
    return 0;
}
