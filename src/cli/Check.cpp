// check: the check value of one frame given in hexadecimal, read as a request or a reply.

#include "Run.h"

#include "CliFrames.h"
#include "Explain.h"

namespace tarvo::cli {

int check(const Options& o)
{
    const FrameExplanation e =
        explainFrame(*o.protocol, o.checkBytes, o.passphrase.has_value(), o.passphrase.value_or(QString()));
    writeOut(checkOutput(e, *o.protocol, o.format, o.explain));
    switch (e.verdict) {
    case CheckVerdict::Ok:
    case CheckVerdict::Unchecked:
        return status::kOk;
    case CheckVerdict::Bad:
        return status::kBadCheck;
    case CheckVerdict::NotAFrame:
        break;
    }
    return status::kUsage;
}

} // namespace tarvo::cli
