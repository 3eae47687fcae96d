// check: the check value of one frame given in hexadecimal, read as a request or a reply; under --mbap
// a Modbus TCP frame, whose header is checked instead of a CRC.

#include "Run.h"

#include "CliFrames.h"
#include "Explain.h"

namespace tarvo::cli {

int check(const Options& o)
{
    if (o.mbap && *o.protocol != Protocol::Modbus) {
        say(QStringLiteral("Modbus TCP framing (--mbap) carries Modbus frames only: give --protocol modbus, or leave "
                           "--mbap out"));
        return status::kUsage;
    }
    // Under --mbap the header is the frame's check: its length against the bytes that follow.
    const FrameExplanation e =
        explainFrame(*o.protocol, o.checkBytes, o.passphrase.has_value(), o.passphrase.value_or(QString()), o.mbap);
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
