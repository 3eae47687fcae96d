// frame: the frames send would put on the wire with the same options, built without a link and
// without sending.

#include "Run.h"

#include "CliFrames.h"
#include "Explain.h"

namespace tarvo::cli {

int frame(const Options& o)
{
    Plan plan;
    int sentWidth = 0;
    std::optional<QString> problem = makePlan(o, plan);
    if (!problem)
        problem = requestProblem(plan, sentWidth);
    if (problem) {
        say(*problem);
        return status::kUsage;
    }
    const FixedSettings& s = plan.settings;
    writeOut(frameHeader(o.format, o.explain));
    for (int slot : s.selectedSlots()) {
        const RequestSettings r = s.request(slot);
        // Built as the exchange builds them (the requests were all accepted above); a read of the
        // buffer gives its two views, sent one after the other.
        for (const FrameExplanation& f : explainRequests(r, plan.function, s.query(), s.commands()))
            writeOut(frameOutput(r.address, f, o.format, o.explain));
    }
    return status::kOk;
}

} // namespace tarvo::cli
