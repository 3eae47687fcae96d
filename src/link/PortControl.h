#pragma once

#include "LinkSettings.h"

#include <QString>
#include <functional>
#include <memory>

namespace tarvo {

// What the serial link asks of an open port beyond bytes and speed: the kernel's RS-485 mode, the
// RTS line, waiting until the last stop bit has left, and the driver's low-latency flag. Each call
// returns 0 or the system's errno, so that the caller decides what the operator is told. Tests hand
// in a fake that records the calls and their times.
class PortControl {
public:
    virtual ~PortControl() = default;
    // Lets the driver switch the transmitter (TIOCSRS485); the port's earlier setting is kept for
    // restoreRs485().
    virtual int enableKernelRs485(const Rs485Options& options) = 0;
    // Puts back what the port had before enableKernelRs485() (nothing when it was never called).
    virtual int restoreRs485() = 0;
    virtual int setRts(bool high) = 0;
    // Returns once every byte written has left the line (tcdrain).
    virtual int drain() = 0;
    virtual void pause(int ms) = 0;
    // Sets the driver's ASYNC_LOW_LATENCY flag (TIOCGSERIAL / TIOCSSERIAL).
    virtual int setAsyncLowLatency() = 0;
};

// The real port control, on the descriptor of an open terminal.
std::unique_ptr<PortControl> terminalPortControl(int fd);

// One frame sent on an RS-485 bus whose driver cannot switch the transmitter: RTS to its sending
// level, the delay before, the bytes, a drain to the last stop bit, the delay after, RTS back to idle.
// `write` puts the bytes out and says whether it could. Returns 0, or the errno of the first RTS or
// drain call that failed (the frame still goes out: a port without an RTS line only cannot switch a
// transmitter).
int sendSwitchingRts(PortControl& control, const Rs485Options& options, const std::function<bool()>& write);

// The system's text for an errno.
QString systemErrorText(int error);

} // namespace tarvo
