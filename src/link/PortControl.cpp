#include "PortControl.h"

#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/serial.h>
#include <optional>
#include <sys/ioctl.h>
#include <termios.h>

namespace tarvo {

namespace {

int result(int rc)
{
    return rc == 0 ? 0 : errno;
}

class TerminalPortControl final : public PortControl {
public:
    explicit TerminalPortControl(int fd) : m_fd(fd) {}

    int enableKernelRs485(const Rs485Options& options) override
    {
        serial_rs485 before{};
        if (::ioctl(m_fd, TIOCGRS485, &before) != 0)
            return errno;
        serial_rs485 rs = before;
        rs.flags |= SER_RS485_ENABLED;
        rs.flags &= ~static_cast<__u32>(SER_RS485_RTS_ON_SEND | SER_RS485_RTS_AFTER_SEND);
        rs.flags |= options.rtsOnSend ? SER_RS485_RTS_ON_SEND : SER_RS485_RTS_AFTER_SEND;
        rs.delay_rts_before_send = static_cast<__u32>(std::max(0, options.delayBeforeMs));
        rs.delay_rts_after_send = static_cast<__u32>(std::max(0, options.delayAfterMs));
        if (::ioctl(m_fd, TIOCSRS485, &rs) != 0)
            return errno;
        m_before = before;
        return 0;
    }

    int restoreRs485() override
    {
        if (!m_before)
            return 0;
        serial_rs485 before = *m_before;
        m_before.reset();
        return result(::ioctl(m_fd, TIOCSRS485, &before));
    }

    int setRts(bool high) override
    {
        int bits = TIOCM_RTS;
        return result(::ioctl(m_fd, high ? TIOCMBIS : TIOCMBIC, &bits));
    }

    int drain() override
    {
        int rc = 0;
        do {
            rc = ::tcdrain(m_fd);
        } while (rc != 0 && errno == EINTR);
        return result(rc);
    }

    void pause(int ms) override
    {
        if (ms > 0)
            QThread::usleep(static_cast<unsigned long>(ms) * 1000);
    }

    int setAsyncLowLatency() override
    {
        serial_struct s{};
        if (::ioctl(m_fd, TIOCGSERIAL, &s) != 0)
            return errno;
        if (s.flags & ASYNC_LOW_LATENCY)
            return 0;
        s.flags |= ASYNC_LOW_LATENCY;
        return result(::ioctl(m_fd, TIOCSSERIAL, &s));
    }

private:
    int m_fd;
    std::optional<serial_rs485> m_before;
};

} // namespace

std::unique_ptr<PortControl> terminalPortControl(int fd)
{
    return std::make_unique<TerminalPortControl>(fd);
}

int sendSwitchingRts(PortControl& control, const Rs485Options& options, const std::function<bool()>& write)
{
    int failure = control.setRts(options.rtsOnSend);
    control.pause(options.delayBeforeMs);
    const bool written = write();
    // Only a frame that went out has a last stop bit to wait for.
    if (written) {
        const int drained = control.drain();
        failure = failure ? failure : drained;
        control.pause(options.delayAfterMs);
    }
    const int lowered = control.setRts(!options.rtsOnSend);
    return failure ? failure : lowered;
}

QString systemErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace tarvo
