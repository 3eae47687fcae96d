#pragma once

#include "Link.h"
#include "Reconnects.h"

#include <QTcpSocket>

namespace tarvo {

class Clock;
class EventPump;
class Trace;

// The TCP client. Its arrival count is the number of bytes the socket held at the last arrival, reset
// by every write. A failed write, read or clean is not reported; connecting and closing are.
class TcpLink final : public Link {
public:
    TcpLink(Trace& trace, EventPump& pump, Clock& clock);
    ~TcpLink() override;

    void Connect(const LinkSettings& settings) override;
    void Disconnect() override;
    bool isConnected() const override { return m_socket.state() == QAbstractSocket::ConnectedState; }
    void SetBaudRate(const QString&) override {}
    void WriteData(const QByteArray& data) override;
    QByteArray ReadData() override;
    void CleanReceivedBuffer() override;
    int16_t ReceivedBufferCount() override { return 0; }
    int32_t ArrivalCount() override { return m_arrivalCount; }
    void ClearArrivalCount() override { m_arrivalCount = 0; }
    QByteArray peekData() override
    {
        return m_socket.isOpen() ? m_socket.peek(m_socket.bytesAvailable()) : QByteArray();
    }
    // What the reconnects went through, and why the last Connect found no connection.
    QStringList takeNotes() override;

private:
    void connectToHost(const LinkSettings& settings);
    // A connection that dropped under a running cycle (a gateway reset it) is made again at the next
    // write, and at every write after that until it is back.
    void reconnectIfDropped();
    QString peer() const;
    // Why the socket is not connected after a connect: the system's reason, or a time-out.
    QString whyNotConnected() const;

    Trace& m_trace;
    EventPump& m_pump;
    Clock& m_clock;
    QTcpSocket m_socket;
    int32_t m_arrivalCount = 0;
    bool m_wanted = false; // connected by Connect and not yet closed by Disconnect
    LinkSettings m_settings;
    Reconnects m_reconnects;
    QString m_openFailure; // the last Connect's, until taken as a note
};

} // namespace tarvo
