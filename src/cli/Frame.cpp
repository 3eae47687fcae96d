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
    // Modbus TCP frames when asked for, or when the link would carry them (a network link of a
    // --config whose framing is Modbus TCP), as the exchange decides.
    const bool mbap = o.mbap || (!s.serialLink() && s.linkSettings().framing == NetFraming::Mbap);
    // The exchange numbers its Modbus TCP requests from 1, each a new id: these are the ids when each
    // request is answered at its first try.
    std::optional<uint16_t> transaction;
    if (mbap)
        transaction = 1;
    writeOut(frameHeader(o.format, o.explain));
    for (int slot : s.selectedSlots()) {
        const RequestSettings r = s.request(slot);
        // Built as the exchange builds them (the requests were all accepted above); a read of the
        // buffer gives its two views, sent one after the other.
        const QList<FrameExplanation> frames = explainRequests(r, plan.function, s.query(), s.commands(), transaction);
        for (const FrameExplanation& f : frames)
            writeOut(frameOutput(r.address, f, o.format, o.explain));
        if (transaction)
            *transaction = static_cast<uint16_t>(*transaction + frames.size());
    }
    return status::kOk;
}

} // namespace tarvo::cli
