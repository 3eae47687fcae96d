#pragma once

#include "LinkRig.h"

#include <QDeadlineTimer>
#include <QString>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace tarvo::test {

// A virtual cable: the link opens the terminal end, the test holds the controlling end. The line
// settings the link makes on its end can be read back through ours.
class PtyPair {
public:
    PtyPair()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0)
            terminalPath = QString::fromLocal8Bit(::ptsname(m_master));
        if (m_master >= 0)
            ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPair()
    {
        if (m_master >= 0)
            ::close(m_master);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return m_master >= 0 && !terminalPath.isEmpty(); }
    // The cable is pulled: the terminal end reports an error from now on.
    void unplug()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

    termios lineSettings() const
    {
        termios t{};
        ::tcgetattr(m_master, &t);
        return t;
    }

    bool send(const QByteArray& bytes) { return ::write(m_master, bytes.constData(), bytes.size()) == bytes.size(); }

    // What the link sent, once `count` bytes are there or after a generous deadline.
    QByteArray receive(qsizetype count)
    {
        QByteArray got;
        QDeadlineTimer deadline(3000);
        while (got.size() < count && !deadline.hasExpired()) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            char buffer[256];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, n);
        }
        return got;
    }

    QString terminalPath;

private:
    int m_master = -1;
};

// Polls the count without ever running the event loop, as the exchange's first look after a write
// may do, until `atLeast` bytes are counted or a generous deadline passes.
inline int16_t countWithoutEvents(Link& link, int atLeast)
{
    QDeadlineTimer deadline(3000);
    int16_t count = link.ReceivedBufferCount();
    while (count < atLeast && !deadline.hasExpired()) {
        QThread::msleep(2);
        count = link.ReceivedBufferCount();
    }
    return count;
}

struct CableEnd {
    PtyPair pty;
};

// The link with a virtual cable on its ComPort; the cable is made first and outlives the link.
struct CableRig : CableEnd, LinkRig {
    CableRig() { settings.comPort = pty.terminalPath; }
};

} // namespace tarvo::test
