#include "UdpLink.h"

#include "Clock.h"
#include "Errors.h"
#include "EventPump.h"
#include "LinkGuard.h"
#include "Number.h"
#include "Trace.h"

#include <QNetworkDatagram>
#include <algorithm>
#include <exception>
#include <limits>
#include <utility>

namespace tarvo {

namespace {
// Longest single sleep of the host lookup wait, as for a TCP connect.
constexpr int kLookupTickMs = 10;
} // namespace

UdpLink::UdpLink(Trace& trace, EventPump& pump, Clock& clock) : m_trace(trace), m_pump(pump), m_clock(clock)
{
    QObject::connect(&m_socket, &QUdpSocket::readyRead, &m_socket, [this] { takeDatagrams(); });
}

UdpLink::~UdpLink()
{
    QObject::disconnect(&m_socket, nullptr, nullptr, nullptr);
}

void UdpLink::Connect(const LinkSettings& settings)
{
    m_openFailure.clear();
    guarded(m_trace, "Connect", [this, &settings] { open(settings); });
    if (!isConnected())
        m_openFailure = QStringLiteral("no UDP peer %1:%2 (%3)")
                            .arg(settings.host, settings.tcpPort,
                                 m_socket.state() == QAbstractSocket::UnconnectedState
                                     ? m_socket.errorString()
                                     : QStringLiteral("the host was not found before the time-out"));
}

void UdpLink::open(const LinkSettings& settings)
{
    m_trace.write(QStringLiteral("Preparing UDP link "));
    const int32_t port = toInt32(settings.tcpPort);
    // A port outside 0..65535 would silently wrap to another service's port.
    if (port < 0 || port > std::numeric_limits<quint16>::max())
        throw error::invalidArgument();
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        throw TarvoError(error::kInvalidArgument, QStringLiteral("Socket is already connecting or connected"));
    m_received.clear();
    m_arrivalCount = 0;
    m_socket.connectToHost(settings.host, static_cast<quint16>(port));
    // Only a host name needs a lookup; the wait is as long as a TCP connect's.
    waitToOpen(
        m_pump, m_clock, settings, [this] { return m_socket.state() != QAbstractSocket::HostLookupState; },
        kLookupTickMs);
    if (!isConnected())
        m_socket.abort();
}

void UdpLink::Disconnect()
{
    guarded(m_trace, "Disconnect", [this] {
        m_socket.abort();
        m_received.clear();
        m_arrivalCount = 0;
    });
}

void UdpLink::takeDatagrams()
{
    // Bytes beyond what a reply read can hold are never kept: a peer that floods the port must not
    // grow the buffer without end.
    constexpr qsizetype kMostKept = std::numeric_limits<int32_t>::max() / 2;
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram d = m_socket.receiveDatagram();
        if (m_received.size() + d.data().size() <= kMostKept)
            m_received += d.data();
    }
    m_arrivalCount = static_cast<int32_t>(m_received.size());
}

void UdpLink::WriteData(const QByteArray& data)
{
    // A failed send is not reported, as on TCP; the count is reset whatever happened.
    if (isConnected())
        m_socket.write(data);
    m_arrivalCount = 0;
}

QByteArray UdpLink::ReadData()
{
    takeDatagrams();
    const qsizetype n = std::min<qsizetype>(m_arrivalCount, m_received.size());
    QByteArray out = m_received.first(n);
    m_received.remove(0, n);
    return out;
}

void UdpLink::CleanReceivedBuffer()
{
    // Whatever arrived before the request is dropped. Datagrams still in the system are not fetched
    // here: the request has just left, and its reply may already be among them.
    m_received.clear();
}

QStringList UdpLink::takeNotes()
{
    if (m_openFailure.isEmpty())
        return {};
    return {std::exchange(m_openFailure, {})};
}

} // namespace tarvo
