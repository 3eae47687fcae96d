// The frame explainer over any bytes under every protocol: the fields cover the frame, in order,
// without overlap; a verdict other than "not a frame" comes with the check values compared, and the
// value it says the frame carries is the one its "check value" field shows; bytes after the frame are
// its last field, and the frame without them reads the same; a complete frame found at the start is
// one whose check value holds.
//
// Input: a control byte (protocol, pass phrase on or off), then the frame's bytes.
#include "Explain.h"
#include "FuzzSupport.h"

#include <algorithm>
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
    if (e.verdict == CheckVerdict::Ok || e.verdict == CheckVerdict::Bad) {
        fuzz::require((e.received == e.computed) == (e.verdict == CheckVerdict::Ok), "the verdict says the comparison");
        const int checkField = static_cast<int>(std::count_if(
            e.fields.cbegin(), e.fields.cend(), [](const FrameField& f) { return f.name == "check value"; }));
        fuzz::require(checkField == 1, "one check value field");
        for (const FrameField& f : e.fields) {
            if (f.name == "check value")
                fuzz::require(bytes.mid(f.offset, f.length) == e.received, "the verdict's check value is the field's");
        }
    }
    fuzz::require(e.trailing >= 0 && e.trailing < std::max<qsizetype>(bytes.size(), 1),
                  "trailing bytes follow a frame");
    if (e.trailing > 0) {
        const FrameField& last = e.fields.constLast();
        fuzz::require(last.name == "trailing bytes" && last.length == e.trailing, "trailing bytes are the last field");
        const FrameExplanation alone = explainFrame(p, bytes.chopped(e.trailing), encrypt, QStringLiteral("0F"));
        fuzz::require(alone.trailing == 0 && alone.verdict == e.verdict && alone.received == e.received &&
                          alone.computed == e.computed && alone.reply == e.reply &&
                          alone.fields == e.fields.mid(0, e.fields.size() - 1),
                      "the frame without its trailing bytes reads the same");
    }
    const int complete = completeFrameLength(p, bytes, encrypt, QStringLiteral("0F"));
    fuzz::require(complete >= 0 && complete <= bytes.size(), "a complete frame lies within the bytes");
    if (complete > 0)
        fuzz::require(explainFrame(p, bytes.left(complete), encrypt, QStringLiteral("0F")).verdict == CheckVerdict::Ok,
                      "a complete frame's check value holds");
    return 0;
}
