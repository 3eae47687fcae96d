#pragma once

#include <QElapsedTimer>

namespace tarvo {

// Seconds with a fraction from a monotonic source: a wait that spans midnight or a change of the
// system time lasts exactly as long as any other.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
};

class SteadyClock final : public Clock {
public:
    SteadyClock() { m_timer.start(); }
    double now() const override { return static_cast<double>(m_timer.nsecsElapsed()) / 1e9; }

private:
    QElapsedTimer m_timer;
};

} // namespace tarvo
