#include "ConsoleLink.h"

#include "Clock.h"
#include "ConsoleModel.h"
#include "Errors.h"
#include "EventPump.h"
#include "Number.h"
#include "Trace.h"

#include <QSerialPortInfo>
#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <sys/ioctl.h>

namespace tarvo {

namespace {

constexpr int kComChoices = 5;
// Longest single sleep of the connect wait: short enough that an edited TimeOutDelay or the
// deadline is seen promptly, long enough not to wake the processor for nothing.
constexpr int kConnectTickMs = 10;
// Slack above the frame's own transmission time when making sure a frame has left.
constexpr int kWriteSlackMs = 5;

QString field(const char* name)
{
    return QString::fromLatin1(name);
}

TarvoError serialFailure(const QSerialPort& port)
{
    return {static_cast<int>(port.error()), port.errorString()};
}

// Milliseconds that `bytes` take on a line of `baud` bit/s with start bit, 8 data bits and 2 stop bits.
int frameMilliseconds(qint64 bytes, qint32 baud)
{
    if (baud <= 0)
        return kWriteSlackMs;
    const double ms = std::ceil(static_cast<double>(bytes) * 11.0 * 1000.0 / baud);
    return static_cast<int>(std::min(ms, static_cast<double>(std::numeric_limits<int>::max() - kWriteSlackMs)));
}

} // namespace

ConsoleLink::ConsoleLink(ConsoleModel& model, Trace& trace, EventPump& pump, Clock& clock)
    : m_model(model), m_trace(trace), m_pump(pump), m_clock(clock)
{
    // The line format is fixed; only the speed changes, through SetBaudRate.
    m_serial.setDataBits(QSerialPort::Data8);
    m_serial.setParity(QSerialPort::NoParity);
    m_serial.setStopBits(QSerialPort::TwoStop);
    m_serial.setFlowControl(QSerialPort::NoFlowControl);
    QObject::connect(&m_serial, &QSerialPort::readyRead, &m_serial, [this] { m_received += m_serial.readAll(); });
    QObject::connect(&m_tcp, &QTcpSocket::readyRead, &m_tcp, [this] { onTcpDataArrival(m_tcp.bytesAvailable()); });
    // A device that went away (a pty closed, an adapter pulled) cannot be used any more: close it so
    // that the next write tries to open it afresh.
    QObject::connect(&m_serial, &QSerialPort::errorOccurred, &m_serial, [this](QSerialPort::SerialPortError e) {
        if (e == QSerialPort::ResourceError && m_serial.isOpen()) {
            m_trace.write(QStringLiteral("Link:: Error : ") + m_serial.errorString());
            m_serial.close();
        }
    });
}

ConsoleLink::~ConsoleLink() = default;

void ConsoleLink::guarded(const char* operation, const std::function<void()>& steps)
{
    QString description;
    try {
        steps();
        return;
    } catch (const TarvoError& e) {
        description = e.description();
    } catch (const std::exception& e) {
        description = QString::fromLocal8Bit(e.what());
    } catch (...) {
        description = QStringLiteral("Unknown error");
    }
    m_trace.write(QString::fromLatin1(operation) + QStringLiteral(":: Error : ") + description);
}

QString ConsoleLink::serialDevice(const QString& comPort)
{
    if (comPort.startsWith(QLatin1Char('/')))
        return comPort;
    // Only the fourth character names the port: "COM12" is port 1.
    const int16_t number = toInt16(comPort.mid(3, 1));
    if (number < 1)
        throw TarvoError(error::kInvalidArgument, QStringLiteral("Invalid port number"));
    const QString override = qEnvironmentVariable(qPrintable(QStringLiteral("TARVO_COM%1").arg(number)));
    if (!override.isEmpty())
        return override;
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

QStringList ConsoleLink::comPortChoices()
{
    QStringList choices;
    for (int n = 1; n <= kComChoices; ++n)
        choices << QStringLiteral("COM%1").arg(n);
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (!choices.contains(info.systemLocation()))
            choices << info.systemLocation();
    }
    return choices;
}

void ConsoleLink::Connect()
{
    guarded("Connect", [this] {
        if (m_model.serialLink())
            connectSerial();
        else
            connectTcp();
    });
}

void ConsoleLink::reopenIfDropped()
{
    const bool dropped = m_model.serialLink() ? m_serialWanted && !m_serial.isOpen()
                                              : m_tcpWanted && m_tcp.state() == QAbstractSocket::UnconnectedState;
    if (!dropped)
        return;
    m_trace.write(QStringLiteral("Link lost: connecting again"));
    Connect();
}

void ConsoleLink::connectSerial()
{
    m_trace.write(QStringLiteral("Preparing COM conncetion "));
    const QString device = serialDevice(m_model.text(field("ComPort")));
    m_trace.write(QStringLiteral("Connecting COM "));
    // An open port stays as it is: opening it again only reports the failure.
    if (!m_serial.isOpen())
        m_serial.setPortName(device);
    if (!m_serial.open(QIODevice::ReadWrite))
        throw serialFailure(m_serial);
    m_serialWanted = true;
    m_received.clear();
}

void ConsoleLink::connectTcp()
{
    m_trace.write(QStringLiteral("Preparing TCP conncetion "));
    const QString host = m_model.text(field("IP"));
    m_trace.write(QStringLiteral("Setting Port Number "));
    const int32_t port = toInt32(m_model.text(field("Port")));
    // A port outside 0..65535 would silently wrap to another service's port.
    if (port < 0 || port > std::numeric_limits<quint16>::max())
        throw error::invalidArgument();
    m_trace.write(QStringLiteral("Connecting TCP "));
    if (m_tcp.state() != QAbstractSocket::UnconnectedState)
        throw TarvoError(error::kInvalidArgument, QStringLiteral("Socket is already connecting or connected"));
    m_tcp.connectToHost(host, static_cast<quint16>(port));
    m_trace.write(QStringLiteral("Waiting for response: "));

    // Only the connection ends the wait early; a refusal or a host lookup failure does not. Events
    // run on every pass so the window stays alive, and TimeOutDelay is read afresh each time so an
    // edit takes effect at once.
    const double t0 = m_clock.now();
    for (;;) {
        m_pump.processEvents(kConnectTickMs);
        const bool connected = m_tcp.state() == QAbstractSocket::ConnectedState;
        const int32_t timeoutMs = toInt32(m_model.text(field("TimeOutDelay")));
        if (connected || m_clock.now() - t0 > timeoutMs / 1000.0)
            break;
    }
    m_tcpWanted = m_tcp.state() == QAbstractSocket::ConnectedState;
}

void ConsoleLink::Disconnect()
{
    if (m_model.serialLink())
        m_serialWanted = false;
    else
        m_tcpWanted = false;
    guarded("Disconnect", [this] {
        if (m_model.serialLink()) {
            // Closing a port that is not open is harmless (shutdown does it), so it is no failure.
            if (m_serial.isOpen()) {
                m_serial.flush(); // a frame still queued leaves before the port goes
                m_serial.close();
            }
            m_received.clear();
            return;
        }
        // Hand pending bytes to the system before closing; abort only if they cannot leave at once,
        // so that a following Connect finds the socket closed.
        m_tcp.flush();
        m_tcp.close();
        if (m_tcp.state() != QAbstractSocket::UnconnectedState)
            m_tcp.abort();
    });
}

void ConsoleLink::SetBaudRate(const QString& speed)
{
    guarded("SetBaudRate", [this, &speed] {
        if (!m_model.serialLink())
            return;
        const int32_t baud = toInt32(speed);
        if (baud <= 0)
            throw error::invalidArgument();
        // Kept while the port is closed and applied when it opens; applied at once to an open port.
        if (!m_serial.setBaudRate(baud))
            throw serialFailure(m_serial);
    });
}

void ConsoleLink::requireSerialOpen() const
{
    if (!m_serial.isOpen())
        throw TarvoError(static_cast<int>(QSerialPort::NotOpenError), QSerialPort::tr("Device is not open"));
}

void ConsoleLink::WriteData(const QByteArray& data)
{
    reopenIfDropped();
    if (!m_model.serialLink()) {
        // TCP: a failed send is not reported; the count is reset whatever happened.
        if (m_tcp.state() == QAbstractSocket::ConnectedState) {
            m_tcp.write(data);
            m_tcp.flush();
        }
        m_model.TcpArrivalCount = 0;
        return;
    }
    guarded("WriteData", [this, &data] {
        requireSerialOpen();
        const qint64 written = m_serial.write(data);
        if (written != data.size())
            throw serialFailure(m_serial);
        // The reply wait starts right after this call, so the frame must be on the line by then; wait
        // no longer than the frame itself takes to send.
        m_serial.flush();
        if (m_serial.bytesToWrite() > 0) {
            const int bound = frameMilliseconds(m_serial.bytesToWrite(), m_serial.baudRate()) + kWriteSlackMs;
            if (!m_serial.waitForBytesWritten(bound) && m_serial.error() != QSerialPort::TimeoutError)
                throw serialFailure(m_serial);
            // Whatever is left goes out from the event loop; a slow line is not a failure.
            if (m_serial.error() == QSerialPort::TimeoutError)
                m_serial.clearError();
        }
    });
}

void ConsoleLink::drainSerial()
{
    m_received += m_serial.readAll();
    int pending = 0;
    if (::ioctl(m_serial.handle(), FIONREAD, &pending) == 0 && pending > 0) {
        // Bytes the system holds but the event loop has not delivered yet: the port reads them now
        // (no wait, they are there) and hands them to the readyRead handler.
        m_serial.waitForReadyRead(0);
        if (m_serial.error() == QSerialPort::TimeoutError)
            m_serial.clearError();
        m_received += m_serial.readAll();
    }
}

QByteArray ConsoleLink::ReadData()
{
    QByteArray result;
    if (!m_model.serialLink()) {
        // TCP: a failed read is not reported; the result stays empty.
        if (m_model.TcpArrivalCount > 0 && m_tcp.isOpen())
            result = m_tcp.read(m_model.TcpArrivalCount);
        return result;
    }
    guarded("ReadData", [this, &result] {
        requireSerialOpen();
        drainSerial();
        result.swap(m_received);
    });
    return result;
}

void ConsoleLink::CleanReceivedBuffer()
{
    if (m_model.serialLink()) {
        // Serial: bytes already received (a late reply to an earlier request) stay and are read
        // first with the next reply.
        return;
    }
    // TCP: whatever arrived before the request is dropped; a failure is not reported.
    if (m_tcp.isOpen())
        m_tcp.readAll();
}

int16_t ConsoleLink::ReceivedBufferCount()
{
    int16_t count = 0;
    if (!m_model.serialLink())
        return count;
    try {
        requireSerialOpen();
        drainSerial();
        // More than the count can hold reads as full rather than wrapping to a negative count.
        count = static_cast<int16_t>(std::min<qsizetype>(m_received.size(), std::numeric_limits<int16_t>::max()));
        m_lastCountError.clear();
    } catch (const TarvoError& e) {
        // Asked on every pass of a wait: the same failure is written once, not hundreds of times.
        if (e.description() != m_lastCountError)
            m_trace.write(QStringLiteral("ReceivedBufferCount:: Error : ") + e.description());
        m_lastCountError = e.description();
    }
    return count;
}

void ConsoleLink::onTcpDataArrival(qint64 bytesTotal)
{
    m_model.TcpArrivalCount = static_cast<int32_t>(std::min<qint64>(bytesTotal, std::numeric_limits<int32_t>::max()));
}

} // namespace tarvo
