#include "SerialLink.h"

#include "Errors.h"
#include "LinkGuard.h"
#include "Number.h"
#include "Ports.h"
#include "Trace.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace tarvo {

namespace {

// Slack above the frame's own transmission time when making sure a frame has left.
constexpr int kWriteSlackMs = 5;

TarvoError portFailure(const QSerialPort& port)
{
    return {static_cast<int>(port.error()), port.errorString()};
}

QSerialPort::Parity qtParity(LineFormat::Parity parity)
{
    switch (parity) {
    case LineFormat::Parity::None:
        break;
    case LineFormat::Parity::Even:
        return QSerialPort::EvenParity;
    case LineFormat::Parity::Odd:
        return QSerialPort::OddParity;
    case LineFormat::Parity::Mark:
        return QSerialPort::MarkParity;
    case LineFormat::Parity::Space:
        return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

} // namespace

SerialLink::SerialLink(Trace& trace, const Clock& clock) : m_trace(trace), m_reconnects(trace, clock)
{
    // The console's own line until a cycle connects with another: 8 data bits, no parity, 2 stop bits.
    applyLineFormat(LinkSettings{});
    QObject::connect(&m_port, &QSerialPort::readyRead, &m_port, [this] { receive(m_port.readAll()); });
    // A device that went away (a pty closed, an adapter pulled) cannot be used any more: close it so
    // that the next write tries to open it afresh. A failed read says the same (a pty whose other
    // end closed reports only that), and left open the port would report it again at every turn of
    // the event loop.
    QObject::connect(&m_port, &QSerialPort::errorOccurred, &m_port, [this](QSerialPort::SerialPortError e) {
        if ((e == QSerialPort::ResourceError || e == QSerialPort::ReadError) && m_port.isOpen()) {
            const QString why = e != QSerialPort::ReadError ? m_port.errorString()
                                : deviceGone()              ? QStringLiteral("the device went away")
                                               : QStringLiteral("reading failed (%1)").arg(m_port.errorString());
            m_trace.write(QStringLiteral("Link:: Error : ") + why);
            if (m_wanted)
                m_reconnects.lost(QStringLiteral("%1 (%2)").arg(m_device, why));
            closePort();
        }
    });
}

SerialLink::~SerialLink()
{
    // The port outlives the members its handlers use, and closing it as it goes may still
    // signal: nobody is listening by then.
    QObject::disconnect(&m_port, nullptr, nullptr, nullptr);
}

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

void SerialLink::Connect(const LinkSettings& settings)
{
    m_lastFailure = {};
    guarded(m_trace, "Connect", [this, &settings] {
        try {
            open(settings);
        } catch (const TarvoError& e) {
            if (m_lastFailure.kind == OpenFailure::Kind::None)
                m_lastFailure = {OpenFailure::Kind::Other, e.description()};
            throw;
        }
    });
}

void SerialLink::applyLineFormat(const LinkSettings& settings)
{
    // Kept while the port is closed and applied when it opens.
    const LineFormat& f = settings.line;
    m_port.setDataBits(f.dataBits == 7 ? QSerialPort::Data7 : QSerialPort::Data8);
    m_port.setParity(qtParity(f.parity));
    m_port.setStopBits(f.stopBits == 1 ? QSerialPort::OneStop : QSerialPort::TwoStop);
    // RTS belongs to the RS-485 transmitter when that is on; it cannot also pace the flow.
    m_port.setFlowControl(f.rtsCts && !settings.rs485.enabled ? QSerialPort::HardwareControl
                                                              : QSerialPort::NoFlowControl);
    m_line = f;
}

void SerialLink::open(const LinkSettings& settings)
{
    m_trace.write(QStringLiteral("Preparing COM conncetion "));
    const QString device = serialDevice(settings.comPort);
    m_trace.write(QStringLiteral("Connecting COM "));
    // An open port stays as it is: opening it again only reports the failure.
    const bool wasOpen = m_port.isOpen();
    // A by-id name is followed to the device it names now, which is also the name other programs
    // lock it under.
    const QString real = resolveDevice(device);
    if (!wasOpen) {
        m_port.setPortName(real);
        applyLineFormat(settings);
    }
    if (!m_port.open(QIODevice::ReadWrite)) {
        if (wasOpen)
            throw portFailure(m_port);
        m_lastFailure =
            explainOpenFailure(device, m_port.errorString(), m_port.error() == QSerialPort::PermissionError, m_paths);
        throw TarvoError(static_cast<int>(m_port.error()), m_lastFailure.text);
    }
    m_wanted = true;
    m_settings = settings;
    m_device = real;
    m_received.clear();
    m_vmin = -1;
    m_wakeTarget = 0;
    m_echo.reset();
    m_control = m_controlFactory ? m_controlFactory(m_port.handle()) : terminalPortControl(m_port.handle());
    setUpRs485();
    setUpLowLatency();
}

void SerialLink::setUpRs485()
{
    m_switchRts = false;
    if (!m_settings.rs485.enabled)
        return;
    const int refused = m_control->enableKernelRs485(m_settings.rs485);
    if (refused == 0) {
        m_notes << QStringLiteral("RS-485: the driver switches the transmitter (kernel mode)");
        return;
    }
    // Most USB adapters and every pseudo-terminal have no RS-485 mode: RTS is switched here instead,
    // where the port has an RTS line to switch (it is put at its idle level now, which tells). What
    // the operator is told and what the journal notes say the same.
    const QString why = systemErrorText(refused);
    const int noRts = m_control->setRts(!m_settings.rs485.rtsOnSend);
    m_switchRts = noRts == 0;
    if (m_switchRts) {
        tellOnce(QStringLiteral("rs485 ") + m_device,
                 QStringLiteral("Connect:: Error : RS-485: the driver of %1 has no RS-485 mode (%2); Tarvo switches "
                                "RTS around each frame itself")
                     .arg(m_device, why));
        m_notes << QStringLiteral("RS-485: RTS switched by Tarvo around each frame (no kernel mode: %1)").arg(why);
        return;
    }
    const QString told = QStringLiteral("RS-485: the driver of %1 has no RS-485 mode (%2), and its RTS cannot be "
                                        "switched (%3): frames go out without switching the transmitter")
                             .arg(m_device, why, systemErrorText(noRts));
    tellOnce(QStringLiteral("rs485 ") + m_device, QStringLiteral("Connect:: Error : ") + told);
    m_notes << told;
}

void SerialLink::setUpLowLatency()
{
    if (!m_settings.lowLatency)
        return;
    const LowLatencyResult r = setLowLatency(m_device, *m_control, m_paths);
    if (!r.done.isEmpty())
        m_notes << r.done;
    if (!r.refused.isEmpty()) {
        tellOnce(QStringLiteral("latency ") + m_device, QStringLiteral("Connect:: Error : ") + r.refused);
        m_notes << r.refused;
    }
}

bool SerialLink::deviceGone() const
{
    try {
        return !QFileInfo::exists(serialDevice(m_settings.comPort));
    } catch (const TarvoError&) {
        return false;
    }
}

void SerialLink::tellOnce(const QString& key, const QString& line)
{
    if (m_told.contains(key))
        return;
    m_told.insert(key);
    m_trace.write(line);
}

void SerialLink::reopenIfDropped()
{
    if (!m_wanted || m_port.isOpen())
        return;
    m_reconnects.trying();
    const LinkSettings settings = m_settings;
    Connect(settings);
    if (m_port.isOpen())
        m_reconnects.back(m_device);
    else
        m_reconnects.failed(m_lastFailure.text);
}

void SerialLink::closePort()
{
    if (m_control) {
        m_control->restoreRs485();
        m_control.reset();
    }
    m_switchRts = false;
    m_echo.reset();
    m_port.close();
}

void SerialLink::Disconnect()
{
    m_wanted = false;
    m_reconnects.forget();
    guarded(m_trace, "Disconnect", [this] {
        // Closing a port that is not open is harmless (shutdown does it), so it is no failure.
        if (m_port.isOpen()) {
            m_port.flush(); // a frame still queued leaves before the port goes
            closePort();
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
        if (m_settings.dropEcho) {
            drain(); // what came before this frame is not its echo
            m_echo.expect(data);
        }
        if (!m_switchRts) {
            writeAll(data, false);
            return;
        }
        std::optional<TarvoError> failure;
        const int lines = sendSwitchingRts(*m_control, m_settings.rs485, [&] {
            try {
                writeAll(data, true);
                return true;
            } catch (const TarvoError& e) {
                failure = e;
                return false;
            }
        });
        if (lines != 0 && !m_told.contains(QStringLiteral("rts ") + m_device)) {
            // RTS switched when the port opened, and not any more: said once, here and in the journal.
            const QString told = QStringLiteral("RS-485: RTS cannot be switched on %1 (%2); frames go out without "
                                                "switching the transmitter")
                                     .arg(m_device, systemErrorText(lines));
            tellOnce(QStringLiteral("rts ") + m_device, QStringLiteral("WriteData:: Error : ") + told);
            m_notes << told;
        }
        if (failure)
            throw *failure;
    });
}

void SerialLink::writeAll(const QByteArray& data, bool complete)
{
    const qint64 written = m_port.write(data);
    if (written != data.size()) {
        m_echo.reset();
        throw portFailure(m_port);
    }
    // The reply wait starts right after this call, so the frame must be on the line by then; wait
    // no longer than the frame itself takes to send.
    m_port.flush();
    if (m_port.bytesToWrite() == 0)
        return;
    const int frameMs = static_cast<int>(
        std::min(std::ceil(m_line.seconds(m_port.bytesToWrite(), m_port.baudRate()) * 1000), 3600.0 * 1000));
    QDeadlineTimer deadline(complete ? 2 * frameMs + 100 : frameMs + kWriteSlackMs);
    do {
        if (!m_port.waitForBytesWritten(static_cast<int>(deadline.remainingTime())) &&
            m_port.error() != QSerialPort::TimeoutError) {
            m_echo.reset();
            throw portFailure(m_port);
        }
    } while (complete && m_port.bytesToWrite() > 0 && !deadline.hasExpired());
    // Whatever is left goes out from the event loop; a slow line is not a failure.
    if (m_port.error() == QSerialPort::TimeoutError)
        m_port.clearError();
}

qsizetype SerialLink::pendingInSystem() const
{
    int pending = 0;
    return ::ioctl(m_port.handle(), FIONREAD, &pending) == 0 ? pending : 0;
}

void SerialLink::receive(const QByteArray& bytes)
{
    m_received += m_echo.take(bytes);
}

void SerialLink::drain()
{
    receive(m_port.readAll());
    // Bytes the system holds but the event loop has not delivered yet are read here directly, after
    // what the port had already taken, so the order is the line's. The descriptor does not block.
    for (qsizetype pending = pendingInSystem(); pending > 0; pending = pendingInSystem()) {
        QByteArray chunk(pending, Qt::Uninitialized);
        const ssize_t n = ::read(m_port.handle(), chunk.data(), static_cast<size_t>(pending));
        if (n <= 0)
            break;
        receive(chunk.left(n));
    }
    armWake(); // what was taken no longer counts towards the system's threshold
}

double SerialLink::characterSeconds() const
{
    return m_line.seconds(1, m_port.baudRate());
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
    // terminal can count (1 to 255). An echo still to come arrives first and counts too, though it
    // is taken out before anyone sees the count.
    const qsizetype missing =
        static_cast<qsizetype>(m_wakeTarget) + m_echo.pending() - m_received.size() - m_port.bytesAvailable();
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

QByteArray SerialLink::peekData()
{
    // Only a report asks: a failure here is not the exchange's and writes no trace line.
    try {
        requireOpen();
        drain();
    } catch (const TarvoError&) {
    }
    return m_received;
}

QStringList SerialLink::takeNotes()
{
    QStringList notes;
    notes.swap(m_notes);
    return notes + m_echo.takeNotes() + m_reconnects.takeNotes();
}

} // namespace tarvo
