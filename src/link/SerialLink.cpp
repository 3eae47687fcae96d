#include "SerialLink.h"

#include "Errors.h"
#include "LinkGuard.h"
#include "Number.h"
#include "Trace.h"

#include <QSerialPortInfo>
#include <algorithm>
#include <cmath>
#include <limits>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace tarvo {

namespace {

constexpr int kComChoices = 5;
// Slack above the frame's own transmission time when making sure a frame has left.
constexpr int kWriteSlackMs = 5;

TarvoError portFailure(const QSerialPort& port)
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

SerialLink::SerialLink(Trace& trace) : m_trace(trace)
{
    // The line format is fixed; only the speed changes, through SetBaudRate.
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::TwoStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    QObject::connect(&m_port, &QSerialPort::readyRead, &m_port, [this] { m_received += m_port.readAll(); });
    // A device that went away (a pty closed, an adapter pulled) cannot be used any more: close it so
    // that the next write tries to open it afresh.
    QObject::connect(&m_port, &QSerialPort::errorOccurred, &m_port, [this](QSerialPort::SerialPortError e) {
        if (e == QSerialPort::ResourceError && m_port.isOpen()) {
            m_trace.write(QStringLiteral("Link:: Error : ") + m_port.errorString());
            m_port.close();
        }
    });
}

SerialLink::~SerialLink() = default;

QString SerialLink::serialDevice(const QString& comPort)
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

QStringList SerialLink::comPortChoices()
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

void SerialLink::Connect(const LinkSettings& settings)
{
    guarded(m_trace, "Connect", [this, &settings] { open(settings.comPort); });
}

void SerialLink::open(const QString& comPort)
{
    m_trace.write(QStringLiteral("Preparing COM conncetion "));
    const QString device = serialDevice(comPort);
    m_trace.write(QStringLiteral("Connecting COM "));
    // An open port stays as it is: opening it again only reports the failure.
    if (!m_port.isOpen())
        m_port.setPortName(device);
    if (!m_port.open(QIODevice::ReadWrite))
        throw portFailure(m_port);
    m_wanted = true;
    m_comPort = comPort;
    m_received.clear();
    m_vmin = -1;
    m_wakeTarget = 0;
}

void SerialLink::reopenIfDropped()
{
    if (!m_wanted || m_port.isOpen())
        return;
    m_trace.write(QStringLiteral("Link lost: connecting again"));
    guarded(m_trace, "Connect", [this] { open(m_comPort); });
}

void SerialLink::Disconnect()
{
    m_wanted = false;
    guarded(m_trace, "Disconnect", [this] {
        // Closing a port that is not open is harmless (shutdown does it), so it is no failure.
        if (m_port.isOpen()) {
            m_port.flush(); // a frame still queued leaves before the port goes
            m_port.close();
        }
        m_received.clear();
    });
}

void SerialLink::SetBaudRate(const QString& speed)
{
    guarded(m_trace, "SetBaudRate", [this, &speed] {
        const int32_t baud = toInt32(speed);
        if (baud <= 0)
            throw error::invalidArgument();
        // Kept while the port is closed and applied when it opens; applied at once to an open port.
        if (!m_port.setBaudRate(baud))
            throw portFailure(m_port);
    });
}

void SerialLink::requireOpen() const
{
    if (!m_port.isOpen())
        throw TarvoError(static_cast<int>(QSerialPort::NotOpenError), QSerialPort::tr("Device is not open"));
}

void SerialLink::WriteData(const QByteArray& data)
{
    reopenIfDropped();
    guarded(m_trace, "WriteData", [this, &data] {
        requireOpen();
        const qint64 written = m_port.write(data);
        if (written != data.size())
            throw portFailure(m_port);
        // The reply wait starts right after this call, so the frame must be on the line by then; wait
        // no longer than the frame itself takes to send.
        m_port.flush();
        if (m_port.bytesToWrite() > 0) {
            const int bound = frameMilliseconds(m_port.bytesToWrite(), m_port.baudRate()) + kWriteSlackMs;
            if (!m_port.waitForBytesWritten(bound) && m_port.error() != QSerialPort::TimeoutError)
                throw portFailure(m_port);
            // Whatever is left goes out from the event loop; a slow line is not a failure.
            if (m_port.error() == QSerialPort::TimeoutError)
                m_port.clearError();
        }
    });
}

qsizetype SerialLink::pendingInSystem() const
{
    int pending = 0;
    return ::ioctl(m_port.handle(), FIONREAD, &pending) == 0 ? pending : 0;
}

void SerialLink::drain()
{
    m_received += m_port.readAll();
    // Bytes the system holds but the event loop has not delivered yet are read here directly, after
    // what the port had already taken, so the order is the line's. The descriptor does not block.
    for (qsizetype pending = pendingInSystem(); pending > 0; pending = pendingInSystem()) {
        QByteArray chunk(pending, Qt::Uninitialized);
        const ssize_t n = ::read(m_port.handle(), chunk.data(), static_cast<size_t>(pending));
        if (n <= 0)
            break;
        m_received += chunk.left(n);
    }
    armWake(); // what was taken no longer counts towards the system's threshold
}

double SerialLink::characterSeconds() const
{
    const qint32 baud = m_port.baudRate();
    return baud > 0 ? 11.0 / baud : 0;
}

void SerialLink::setWakeThreshold(int bytes)
{
    m_wakeTarget = bytes;
    armWake();
}

void SerialLink::armWake()
{
    if (!m_port.isOpen() || m_wakeTarget <= 0)
        return;
    // What the system must hold before it wakes the event loop: the bytes still missing, as far as a
    // terminal can count (1 to 255).
    const qsizetype missing = static_cast<qsizetype>(m_wakeTarget) - m_received.size() - m_port.bytesAvailable();
    if (missing <= 0)
        return; // the wait is over: whatever the system holds now wakes nothing that needs it
    const int vmin = static_cast<int>(std::min<qsizetype>(missing, 255));
    if (vmin == m_vmin)
        return;
    termios t{};
    if (::tcgetattr(m_port.handle(), &t) != 0)
        return;
    t.c_cc[VMIN] = static_cast<cc_t>(vmin);
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(m_port.handle(), TCSANOW, &t) == 0)
        m_vmin = vmin;
}

QByteArray SerialLink::ReadData()
{
    QByteArray result;
    guarded(m_trace, "ReadData", [this, &result] {
        requireOpen();
        drain();
        result.swap(m_received);
    });
    return result;
}

int16_t SerialLink::ReceivedBufferCount()
{
    int16_t count = 0;
    try {
        requireOpen();
        drain();
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

} // namespace tarvo
