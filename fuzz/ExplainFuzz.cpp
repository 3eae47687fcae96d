// The frame explainer over any bytes under every protocol: the fields cover the frame, in order,
// without overlap; a verdict other than "not a frame" comes with the check values compared; a
// complete frame found at the start is one whose check value holds.
//
// Input: a control byte (protocol, pass phrase on or off), then the frame's bytes.
#include "Explain.h"
#include "FuzzSupport.h"

#include <array>

using namespace tarvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static constexpr std::array kProtocols = {Protocol::Modbus,   Protocol::Protocol4, Protocol::Protocol4Plus,
                                              Protocol::Customer, Protocol::Bioscrypt, Protocol::None};
    const Protocol p = kProtocols[data[0] % kProtocols.size()];
    const bool encrypt = data[0] & 0x80;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    const FrameExplanation e = explainFrame(p, bytes, encrypt, QStringLiteral("0F"));
    int at = 0;
    for (const FrameField& f : e.fields) {
        fuzz::require(f.offset == at && f.length > 0, "fields follow each other without gap or overlap");
        at += f.length;
    }
    fuzz::require(at == bytes.size(), "the fields cover the frame");
    if (e.verdict == CheckVerdict::Ok || e.verdict == CheckVerdict::Bad)
        fuzz::require((e.received == e.computed) == (e.verdict == CheckVerdict::Ok), "the verdict says the comparison");
    const int complete = completeFrameLength(p, bytes, encrypt, QStringLiteral("0F"));
    fuzz::require(complete >= 0 && complete <= bytes.size(), "a complete frame lies within the bytes");
    if (complete > 0)
        fuzz::require(explainFrame(p, bytes.left(complete), encrypt, QStringLiteral("0F")).verdict == CheckVerdict::Ok,
                      "a complete frame's check value holds");
    return 0;
}
