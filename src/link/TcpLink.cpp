#include "TcpLink.h"

#include "Clock.h"
#include "Errors.h"
#include "EventPump.h"
#include "LinkGuard.h"
#include "Number.h"
#include "Trace.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <utility>

namespace tarvo {

namespace {
// Longest single sleep of the connect wait: short enough that an edited time-out or the deadline is
// seen promptly, long enough not to wake the processor for nothing.
constexpr int kConnectTickMs = 10;
} // namespace

TcpLink::TcpLink(Trace& trace, EventPump& pump, Clock& clock)
    : m_trace(trace), m_pump(pump), m_clock(clock), m_reconnects(trace, clock)
{
    QObject::connect(&m_socket, &QTcpSocket::disconnected, &m_socket, [this] {
        if (m_wanted)
            m_reconnects.lost(QStringLiteral("%1 (%2)").arg(peer(), m_socket.errorString()));
    });
    QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket, [this] {
        m_arrivalCount = static_cast<int32_t>(std::min<qint64>(m_socket.bytesAvailable(), INT32_MAX));
    });
}

TcpLink::~TcpLink()
{
    // The socket outlives the members its handlers use, and closing it as it goes may still
    // signal: nobody is listening by then.
    QObject::disconnect(&m_socket, nullptr, nullptr, nullptr);
}

void TcpLink::Connect(const LinkSettings& settings)
{
    m_openFailure.clear();
    guarded(m_trace, "Connect", [this, &settings] { connectToHost(settings); });
    // The trace keeps its lines as they are; the reason goes with the notes, so that a journal row or
    // the command line can say why nothing was sent.
    if (!isConnected())
        m_openFailure = QStringLiteral("no connection to %1 (%2)").arg(peer(), whyNotConnected());
}

QString TcpLink::whyNotConnected() const
{
    return m_socket.state() == QAbstractSocket::UnconnectedState ? m_socket.errorString()
                                                                 : QStringLiteral("no answer before the time-out");
}

QStringList TcpLink::takeNotes()
{
    QStringList notes = m_reconnects.takeNotes();
    if (!m_openFailure.isEmpty())
        notes.prepend(std::exchange(m_openFailure, {}));
    return notes;
}

void TcpLink::connectToHost(const LinkSettings& settings)
{
    m_trace.write(QStringLiteral("Preparing TCP conncetion "));
    m_settings = settings;
    m_trace.write(QStringLiteral("Setting Port Number "));
    const int32_t port = toInt32(settings.tcpPort);
    // A port outside 0..65535 would silently wrap to another service's port.
    if (port < 0 || port > std::numeric_limits<quint16>::max())
        throw error::invalidArgument();
    m_trace.write(QStringLiteral("Connecting TCP "));
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        throw TarvoError(error::kInvalidArgument, QStringLiteral("Socket is already connecting or connected"));
    m_socket.connectToHost(settings.host, static_cast<quint16>(port));
    m_trace.write(QStringLiteral("Waiting for response: "));

    // Only the connection ends the wait early; a refusal or a host lookup failure does not. Events
    // run on every pass so the window stays alive, and the time-out is read afresh each time so an
    // edit takes effect at once.
    // A time-out that is no number ends the wait after the pass in which it was read, and fails the
    // connect then.
    waitToOpen(
        m_pump, m_clock, settings, [this] { return m_socket.state() == QAbstractSocket::ConnectedState; },
        kConnectTickMs);
    m_wanted = m_socket.state() == QAbstractSocket::ConnectedState;
}

QString TcpLink::peer() const
{
    return m_settings.host + QLatin1Char(':') + m_settings.tcpPort;
}

void TcpLink::reconnectIfDropped()
{
    if (!m_wanted || m_socket.state() != QAbstractSocket::UnconnectedState)
        return;
    m_reconnects.trying();
    Connect(m_settings);
    if (m_socket.state() == QAbstractSocket::ConnectedState) {
        m_reconnects.back(peer());
    } else {
        m_openFailure.clear(); // told as the try's failure
        m_reconnects.failed(QStringLiteral("no connection to %1 (%2)").arg(peer(), whyNotConnected()));
        m_socket.abort(); // the next write tries afresh
        m_wanted = true;
    }
}

void TcpLink::Disconnect()
{
    m_wanted = false;
    m_reconnects.forget();
    guarded(m_trace, "Disconnect", [this] {
        // Hand pending bytes to the system before closing; abort only if they cannot leave at once,
        // so that a following Connect finds the socket closed.
        m_socket.flush();
        m_socket.close();
        if (m_socket.state() != QAbstractSocket::UnconnectedState)
            m_socket.abort();
    });
}

void TcpLink::WriteData(const QByteArray& data)
{
    reconnectIfDropped();
    // A failed send is not reported; the count is reset whatever happened.
    if (m_socket.state() == QAbstractSocket::ConnectedState) {
        m_socket.write(data);
        m_socket.flush();
    }
    m_arrivalCount = 0;
}

QByteArray TcpLink::ReadData()
{
    // A failed read is not reported; the result stays empty.
    if (m_arrivalCount > 0 && m_socket.isOpen())
        return m_socket.read(m_arrivalCount);
    return {};
}

void TcpLink::CleanReceivedBuffer()
{
    // Whatever arrived before the request is dropped; a failure is not reported.
    if (m_socket.isOpen())
        m_socket.readAll();
}

} // namespace tarvo
