// The frame explainer over any bytes under every protocol, and Modbus in Modbus TCP frames: the fields
// cover the frame, in order, without overlap; a verdict other than "not a frame" comes with the check
// values compared, and the value it says the frame carries is the one its check field shows (the
// check value, or a Modbus TCP header's length); bytes after the frame are its last field, and the
// frame without them reads the same; a complete frame found at the start is one whose check holds.
//
// Input: a control byte (protocol, pass phrase on or off, Modbus TCP framing), then the frame's bytes.
#include "Explain.h"
#include "FuzzSupport.h"
#include "Mbap.h"

#include <algorithm>
#include <array>

using namespace tarvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static constexpr std::array kProtocols = {Protocol::Modbus,   Protocol::Protocol4, Protocol::Protocol4Plus,
                                              Protocol::Customer, Protocol::Bioscrypt, Protocol::None};
    // Bit 6 frames the bytes as Modbus TCP, which carries Modbus alone.
    const bool mbap = data[0] & 0x40;
    const Protocol p = mbap ? Protocol::Modbus : kProtocols[data[0] % kProtocols.size()];
    const bool encrypt = data[0] & 0x80;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    const auto explain = [&](const QByteArray& b) { return explainFrame(p, b, encrypt, QStringLiteral("0F"), mbap); };
    const FrameExplanation e = explain(bytes);
    int at = 0;
    for (const FrameField& f : e.fields) {
        fuzz::require(f.offset == at && f.length > 0, "fields follow each other without gap or overlap");
        at += f.length;
    }
    fuzz::require(at == bytes.size(), "the fields cover the frame");
    const QString checkField = mbap ? QStringLiteral("length") : QStringLiteral("check value");
    if (e.verdict == CheckVerdict::Ok || e.verdict == CheckVerdict::Bad) {
        fuzz::require((e.received == e.computed) == (e.verdict == CheckVerdict::Ok), "the verdict says the comparison");
        const int checkFields = static_cast<int>(std::count_if(
            e.fields.cbegin(), e.fields.cend(), [&](const FrameField& f) { return f.name == checkField; }));
        fuzz::require(checkFields == 1, "one check field");
        for (const FrameField& f : e.fields) {
            if (f.name == checkField)
                fuzz::require(bytes.mid(f.offset, f.length) == e.received, "the verdict's check value is the field's");
        }
    }
    fuzz::require(e.trailing >= 0 && e.trailing < std::max<qsizetype>(bytes.size(), 1),
                  "trailing bytes follow a frame");
    if (e.trailing > 0) {
        const FrameField& last = e.fields.constLast();
        fuzz::require(last.name == "trailing bytes" && last.length == e.trailing, "trailing bytes are the last field");
        const FrameExplanation alone = explain(bytes.chopped(e.trailing));
        fuzz::require(alone.trailing == 0 && alone.verdict == e.verdict && alone.received == e.received &&
                          alone.computed == e.computed && alone.reply == e.reply &&
                          alone.fields == e.fields.mid(0, e.fields.size() - 1),
                      "the frame without its trailing bytes reads the same");
    }
    if (mbap) {
        // The header decides: no header is no frame, a length beyond the bytes is bad, a frame whole.
        const int whole = mbap::frameLength(bytes);
        const CheckVerdict expected = bytes.size() <= mbap::kHeaderSize || whole < 0 || whole == mbap::kHeaderSize
                                          ? CheckVerdict::NotAFrame
                                      : whole == 0 ? CheckVerdict::Bad
                                                   : CheckVerdict::Ok;
        fuzz::require(e.verdict == expected, "a Modbus TCP frame's verdict is its header's");
        if (whole > 0 && e.verdict == CheckVerdict::Ok) {
            fuzz::require(e.trailing == bytes.size() - whole, "the header's length ends the frame");
            fuzz::require(explain(bytes.left(whole)).verdict == CheckVerdict::Ok, "a whole frame holds");
        }
        return 0;
    }
    const int complete = completeFrameLength(p, bytes, encrypt, QStringLiteral("0F"));
    fuzz::require(complete >= 0 && complete <= bytes.size(), "a complete frame lies within the bytes");
    if (complete > 0)
        fuzz::require(explain(bytes.left(complete)).verdict == CheckVerdict::Ok,
                      "a complete frame's check value holds");
    return 0;
}
