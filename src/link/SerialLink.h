#pragma once

#include "EchoFilter.h"
#include "Link.h"
#include "PortAccess.h"
#include "PortControl.h"
#include "Reconnects.h"

#include <QByteArray>
#include <QSerialPort>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace tarvo {

class Clock;
class Trace;

// The serial port, at the speed last given to SetBaudRate and in the line format a cycle connects
// with (8 data bits, no parity, 2 stop bits unless told otherwise). COM<n> opens the device named by
// TARVO_COM<n>, else /dev/ttyS<n-1>; a port text beginning with "/" is a device path (a
// /dev/serial/by-id name finds its adapter under whichever /dev/ttyUSBn it has now).
//
// Around the bytes it looks after what real buses need: an RS-485 transmitter switched by the driver
// or around each write, the echo of a half-duplex adapter dropped, a USB adapter's latency lowered,
// and a port that dropped under a running cycle opened again. What the operator must see goes to the
// trace as "...:: Error : " and "Link lost" lines, each said once; what the journal keeps comes out of
// takeNotes().
class SerialLink final : public Link {
public:
    SerialLink(Trace& trace, const Clock& clock);
    ~SerialLink() override;

    void Connect(const LinkSettings& settings) override;
    void Disconnect() override;
    bool isConnected() const override { return m_port.isOpen(); }
    void SetBaudRate(const QString& speed) override;
    void WriteData(const QByteArray& data) override;
    QByteArray ReadData() override;
    // Bytes already received (a late reply to an earlier request) stay and are read first with the
    // next reply.
    void CleanReceivedBuffer() override {}
    int16_t ReceivedBufferCount() override;
    int32_t ArrivalCount() override { return 0; }
    void ClearArrivalCount() override {}
    // Sets the terminal's VMIN: the system then reports the port readable only once that many bytes
    // (and the echo still expected) wait in its buffer, so the event loop is not woken for every
    // byte of a reply.
    void setWakeThreshold(int bytes) override;
    // Start, data, parity and stop bits at the port's speed.
    double characterSeconds() const override;
    QStringList takeNotes() override;
    QByteArray peekData() override;

    // Why the last Connect could not open the port, in plain words (which group grants access, which
    // program holds it); Kind::None when it opened.
    const OpenFailure& lastFailure() const { return m_lastFailure; }

    // Seams for tests: the control of an open port (RS-485, RTS, drain, low latency) and where the
    // system keeps its process, lock and sysfs files.
    using PortControlFactory = std::function<std::unique_ptr<PortControl>(int fd)>;
    void setPortControlFactory(PortControlFactory factory) { m_controlFactory = std::move(factory); }
    void setSystemPaths(const SystemPaths& paths) { m_paths = paths; }
    // What the port was asked for when it opened, as Qt holds it.
    const QSerialPort& port() const { return m_port; }

    // The device that a ComPort text opens. Throws TarvoError when the text names no port.
    static QString serialDevice(const QString& comPort);

private:
    void open(const LinkSettings& settings);
    void applyLineFormat(const LinkSettings& settings);
    // After the port opened: the RS-485 transmitter and the driver's latency, as the settings ask.
    void setUpRs485();
    void setUpLowLatency();
    void requireOpen() const;
    // Hands the bytes to the system and waits, no longer than the frame takes to send (to the last
    // byte when `complete`, as an RS-485 transmitter must not be switched off under it).
    void writeAll(const QByteArray& data, bool complete);
    // Bytes in the system's buffer, which the event loop has not delivered yet (and with a wake
    // threshold will not deliver early).
    qsizetype pendingInSystem() const;
    // Moves into m_received everything received, the system's buffer included, so counts and reads
    // never lag behind the line; an expected echo is taken out on the way.
    void drain();
    void receive(const QByteArray& bytes);
    // Sets the terminal's VMIN to the bytes the wake target still misses.
    void armWake();
    // A port that dropped under a running cycle (a USB adapter pulled and put back) is opened again
    // at the next write, so polling survives what sites do to cables.
    void reopenIfDropped();
    void closePort();
    // The name the cycle connected with names nothing any more (an adapter pulled, its by-id link
    // gone with it).
    bool deviceGone() const;
    // One trace line that the operator must see, the first time only for this key.
    void tellOnce(const QString& key, const QString& line);

    Trace& m_trace;
    QSerialPort m_port;
    QByteArray m_received;    // bytes received and not yet read
    bool m_wanted = false;    // opened by Connect and not yet closed by Disconnect
    LinkSettings m_settings;  // what the last Connect opened with
    QString m_device;         // the device opened, symlinks followed
    LineFormat m_line;        // the format the port holds
    int m_wakeTarget = 0;     // bytes the current wait needs; 0: none given since the port opened
    int m_vmin = -1;          // VMIN last set on the open port; -1: the port's own
    QString m_lastCountError; // the count is asked on every pass of a wait: one line per new failure
    EchoFilter m_echo;
    PortControlFactory m_controlFactory;
    std::unique_ptr<PortControl> m_control;
    bool m_switchRts = false; // RS-485 without the driver's help: RTS is switched around each write
    SystemPaths m_paths;
    Reconnects m_reconnects;
    OpenFailure m_lastFailure;
    QSet<QString> m_told;
    QStringList m_notes;
};

} // namespace tarvo
