#pragma once

#include "Link.h"

#include <QByteArray>
#include <QSerialPort>
#include <QString>
#include <QStringList>

namespace tarvo {

class Trace;

// The serial port: 8 data bits, no parity, 2 stop bits at the speed last given to SetBaudRate.
// COM<n> opens the device named by TARVO_COM<n>, else /dev/ttyS<n-1>; a port text beginning with "/"
// is a device path.
class SerialLink final : public Link {
public:
    explicit SerialLink(Trace& trace);
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
    // wait in its buffer, so the event loop is not woken for every byte of a reply.
    void setWakeThreshold(int bytes) override;
    // 1 start bit, 8 data bits and 2 stop bits at the port's speed.
    double characterSeconds() const override;

    // The ComPort drop-down's choices: COM1 to COM5, then the ports this machine has.
    static QStringList comPortChoices();
    // The device that a ComPort text opens. Throws TarvoError when the text names no port.
    static QString serialDevice(const QString& comPort);

private:
    void open(const QString& comPort);
    void requireOpen() const;
    // Bytes in the system's buffer, which the event loop has not delivered yet (and with a wake
    // threshold will not deliver early).
    qsizetype pendingInSystem() const;
    // Moves into m_received everything received, the system's buffer included, so counts and reads
    // never lag behind the line.
    void drain();
    // Sets the terminal's VMIN to the bytes the wake target still misses.
    void armWake();
    // A port that dropped under a running cycle (a USB adapter pulled and put back) is opened again
    // at the next write, so polling survives what sites do to cables.
    void reopenIfDropped();

    Trace& m_trace;
    QSerialPort m_port;
    QByteArray m_received;    // bytes received and not yet read
    bool m_wanted = false;    // opened by Connect and not yet closed by Disconnect
    QString m_comPort;        // what the last Connect opened
    int m_wakeTarget = 0;     // bytes the current wait needs; 0: none given since the port opened
    int m_vmin = -1;          // VMIN last set on the open port; -1: the port's own
    QString m_lastCountError; // the count is asked on every pass of a wait: one line per new failure
};

} // namespace tarvo
