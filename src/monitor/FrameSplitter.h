#pragma once

#include <QByteArray>
#include <QList>
#include <functional>

namespace tarvo {

// A frame heard on the bus: its bytes, when its first byte came and when its last one did.
struct HeardFrame {
    QByteArray bytes;
    double firstByteAt = 0;
    double lastByteAt = 0;

    friend bool operator==(const HeardFrame&, const HeardFrame&) = default;
};

// Cuts the bytes heard on a bus into frames at idle gaps. Bytes come in reads, each stamped with the
// moment it was read; within a read the bytes are taken to have come one character time apart, the
// last at the stamp. A silence longer than the gap between the last byte of one read and the first of
// the next ends a frame. Where a read holds the end of one frame and the start of the next (no gap can
// be seen inside a read), a frame whose check value holds (completeLength) is cut off first; and where
// a read that comes late only seems to follow a gap, a frame that these bytes make whole goes on.
class FrameSplitter {
public:
    // gapSeconds: the silence that ends a frame. characterSeconds: one character on the line (0 for
    // a link without one). completeLength: the length of a complete valid frame at the start of the
    // bytes, 0 for none; empty for none at all.
    FrameSplitter(double gapSeconds, double characterSeconds,
                  std::function<int(const QByteArray&)> completeLength = {});

    // The usual gap: 3.5 character times, never below 1 ms.
    static double defaultGap(double characterSeconds);

    // Bytes read at `time`. Returns the frames that these bytes close.
    QList<HeardFrame> feed(const QByteArray& bytes, double time);
    // Nothing more came until `time`: the open frame ends once the gap has passed.
    QList<HeardFrame> idle(double time);
    // The end of listening: the open frame as it stands (it may be cut short).
    QList<HeardFrame> finish();

    bool hasOpenFrame() const { return !m_open.bytes.isEmpty(); }
    // When the open frame ends if nothing more comes; for a timer. A frame known to be unfinished
    // (its protocol's layout says more must come) waits ten gaps, at least 20 ms.
    double openFrameDeadline() const;
    double gapSeconds() const { return m_gap; }

private:
    double silenceThatEnds() const;
    // Whether bytes that seem to come after a gap finish the open frame all the same.
    bool continuesOpenFrame(const QByteArray& bytes) const;
    // Cuts complete frames off the open one while something follows them.
    void cutCompleteFrames(QList<HeardFrame>& out);

    double m_gap;
    double m_character;
    std::function<int(const QByteArray&)> m_completeLength;
    HeardFrame m_open;
};

} // namespace tarvo
