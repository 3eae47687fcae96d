#pragma once

#include "Link.h"

#include <QUdpSocket>

namespace tarvo {

class Clock;
class EventPump;
class Trace;

// The network link over UDP: every write one datagram to the host and port, every datagram that comes
// back from there kept in order until read. There is no connection to lose: Connect only looks up the
// host and fixes the peer, so that datagrams from anyone else are not taken for replies.
class UdpLink final : public Link {
public:
    UdpLink(Trace& trace, EventPump& pump, Clock& clock);
    ~UdpLink() override;

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
    QByteArray peekData() override { return m_received; }
    QStringList takeNotes() override;

private:
    void open(const LinkSettings& settings);
    void takeDatagrams();

    Trace& m_trace;
    EventPump& m_pump;
    Clock& m_clock;
    QUdpSocket m_socket;
    QByteArray m_received;      // datagrams come in whole; they wait here until read
    int32_t m_arrivalCount = 0; // bytes waiting at the last arrival since the last write
    QString m_openFailure;      // the last Connect's, until taken as a note
};

} // namespace tarvo
