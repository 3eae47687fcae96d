// The bus monitor's frame splitter over any reads at any times: every byte heard comes out once, in
// order, and each frame's times run forward.
//
// Input: records of [length byte][silence byte][that many bytes]: a read of those bytes after a
// silence of (silence / 16) gaps. The protocol for recognising frames is the first byte's.
#include "Explain.h"
#include "FrameSplitter.h"
#include "FuzzSupport.h"

#include <array>

using namespace tarvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static constexpr std::array kProtocols = {Protocol::Modbus, Protocol::Protocol4, Protocol::Bioscrypt,
                                              Protocol::None};
    const Protocol p = kProtocols[data[0] % kProtocols.size()];
    const double c = 11.0 / 19200;
    FrameSplitter splitter(FrameSplitter::defaultGap(c), c,
                           [p](const QByteArray& b) { return completeFrameLength(p, b); });
    QByteArray heard;
    QList<HeardFrame> frames;
    double time = 1.0;
    size_t at = 1;
    while (at + 2 <= size) {
        const size_t length = data[at];
        const double silence = data[at + 1] / 16.0 * splitter.gapSeconds();
        at += 2;
        const QByteArray bytes(reinterpret_cast<const char*>(data + at),
                               static_cast<qsizetype>(std::min(length, size - at)));
        at += static_cast<size_t>(bytes.size());
        time += silence + static_cast<double>(bytes.size()) * c;
        frames += splitter.idle(time - static_cast<double>(bytes.size()) * c);
        frames += splitter.feed(bytes, time);
        heard += bytes;
    }
    frames += splitter.finish();
    QByteArray out;
    for (const HeardFrame& f : frames) {
        fuzz::require(!f.bytes.isEmpty(), "no empty frame");
        fuzz::require(f.firstByteAt <= f.lastByteAt + 1e-9, "a frame's first byte comes before its last");
        out += f.bytes;
    }
    fuzz::require(out == heard, "every byte heard comes out once, in order");
    return 0;
}
