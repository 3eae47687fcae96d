#pragma once

#include "Link.h"
#include "SerialLink.h"
#include "TcpLink.h"
#include "UdpLink.h"

#include <functional>

namespace tarvo {

// The console's link: a serial port and a network client (TCP or UDP), the one an operation acts on
// chosen anew at every call by the console's link option, so that a choice changed between Connect
// and Disconnect makes Disconnect act on the other link.
class ConsoleLink final : public Link {
public:
    // serialChosen: whether the console's link option names the serial port at that moment.
    ConsoleLink(std::function<bool()> serialChosen, Trace& trace, EventPump& pump, Clock& clock);

    void Connect(const LinkSettings& settings) override
    {
        m_udp = settings.transport == Transport::Udp;
        chosen().Connect(settings);
    }
    void Disconnect() override { chosen().Disconnect(); }
    bool isConnected() const override { return chosen().isConnected(); }
    void SetBaudRate(const QString& speed) override { chosen().SetBaudRate(speed); }
    void WriteData(const QByteArray& data) override { chosen().WriteData(data); }
    QByteArray ReadData() override { return chosen().ReadData(); }
    void CleanReceivedBuffer() override { chosen().CleanReceivedBuffer(); }
    int16_t ReceivedBufferCount() override { return chosen().ReceivedBufferCount(); }
    int32_t ArrivalCount() override { return chosen().ArrivalCount(); }
    void ClearArrivalCount() override { chosen().ClearArrivalCount(); }
    void setWakeThreshold(int bytes) override { chosen().setWakeThreshold(bytes); }
    double characterSeconds() const override { return chosen().characterSeconds(); }
    QStringList takeNotes() override { return chosen().takeNotes(); }
    QByteArray peekData() override { return chosen().peekData(); }

    SerialLink& serial() { return m_serial; }
    TcpLink& tcp() { return m_tcp; }

private:
    Link& network() { return m_udp ? static_cast<Link&>(m_udpLink) : m_tcp; }
    const Link& network() const { return m_udp ? static_cast<const Link&>(m_udpLink) : m_tcp; }
    Link& chosen() { return m_serialChosen() ? static_cast<Link&>(m_serial) : network(); }
    const Link& chosen() const { return m_serialChosen() ? static_cast<const Link&>(m_serial) : network(); }

    std::function<bool()> m_serialChosen;
    SerialLink m_serial;
    TcpLink m_tcp;
    UdpLink m_udpLink;
    // The network transport is the one of the last Connect, so that what follows acts on the link
    // that was opened.
    bool m_udp = false;
};

} // namespace tarvo
