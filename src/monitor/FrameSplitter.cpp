#include "FrameSplitter.h"

#include <algorithm>

namespace tarvo {

FrameSplitter::FrameSplitter(double gapSeconds, double characterSeconds,
                             std::function<int(const QByteArray&)> completeLength)
    : m_gap(gapSeconds), m_character(characterSeconds), m_completeLength(std::move(completeLength))
{
}

double FrameSplitter::defaultGap(double characterSeconds)
{
    return std::max(3.5 * characterSeconds, 0.001);
}

QList<HeardFrame> FrameSplitter::feed(const QByteArray& bytes, double time)
{
    QList<HeardFrame> out;
    if (bytes.isEmpty())
        return out;
    const double first = time - static_cast<double>(bytes.size() - 1) * m_character;
    if (hasOpenFrame() && first - m_open.lastByteAt > m_gap && !continuesOpenFrame(bytes))
        out << std::exchange(m_open, HeardFrame{});
    if (!hasOpenFrame())
        m_open.firstByteAt = first;
    m_open.bytes += bytes;
    m_open.lastByteAt = time;
    cutCompleteFrames(out);
    return out;
}

bool FrameSplitter::continuesOpenFrame(const QByteArray& bytes) const
{
    // A read that comes late makes its bytes look later than they came, and so a silence that was
    // not there. Where the frame is known, it decides: an open frame that is not whole by itself and
    // becomes whole with these bytes goes on.
    if (!m_completeLength || m_completeLength(m_open.bytes) == m_open.bytes.size())
        return false;
    return m_completeLength(m_open.bytes + bytes) > m_open.bytes.size();
}

void FrameSplitter::cutCompleteFrames(QList<HeardFrame>& out)
{
    if (!m_completeLength)
        return;
    for (;;) {
        const int length = m_completeLength(m_open.bytes);
        if (length <= 0 || length >= m_open.bytes.size())
            return;
        // The bytes after the frame came the later, one character time each.
        const auto after = static_cast<double>(m_open.bytes.size() - length);
        HeardFrame frame{m_open.bytes.left(length), m_open.firstByteAt, m_open.lastByteAt - after * m_character};
        m_open.bytes.remove(0, length);
        m_open.firstByteAt = frame.lastByteAt + m_character;
        out << frame;
    }
}

double FrameSplitter::silenceThatEnds() const
{
    // A frame known to be unfinished waits longer: the sender may pause (or this machine may be slow
    // to read), and a frame cut in two would be two bad frames instead of one good one.
    if (m_completeLength && m_completeLength(m_open.bytes) != m_open.bytes.size())
        return std::max(10 * m_gap, 0.020);
    return m_gap;
}

double FrameSplitter::openFrameDeadline() const
{
    return m_open.lastByteAt + silenceThatEnds();
}

QList<HeardFrame> FrameSplitter::idle(double time)
{
    if (hasOpenFrame() && time - m_open.lastByteAt > silenceThatEnds())
        return {std::exchange(m_open, HeardFrame{})};
    return {};
}

QList<HeardFrame> FrameSplitter::finish()
{
    if (!hasOpenFrame())
        return {};
    return {std::exchange(m_open, HeardFrame{})};
}

} // namespace tarvo
