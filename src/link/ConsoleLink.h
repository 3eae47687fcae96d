#pragma once

#include "Link.h"

#include <QByteArray>
#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <QTcpSocket>
#include <functional>

namespace tarvo {

class Clock;
class ConsoleModel;
class EventPump;
class Trace;

// The console's link: a serial port and a TCP client, the one to use chosen by OpCOM at every call.
// Every field it needs (ComPort, IP, Port, TimeOutDelay) is read from the model at the moment of use.
//
// Serial: 8 data bits, no parity, 2 stop bits at the speed last given to SetBaudRate. COM<n> opens
// the device named by TARVO_COM<n>, else /dev/ttyS<n-1>; a ComPort beginning with "/" is a device path.
// TCP: the console's TcpArrivalCount is the count of bytes the socket held at the last arrival, and is
// reset by every write.
class ConsoleLink final : public Link {
public:
    ConsoleLink(ConsoleModel& model, Trace& trace, EventPump& pump, Clock& clock);
    ~ConsoleLink() override;

    void Connect() override;
    void Disconnect() override;
    void SetBaudRate(const QString& speed) override;
    void WriteData(const QByteArray& data) override;
    QByteArray ReadData() override;
    void CleanReceivedBuffer() override;
    int16_t ReceivedBufferCount() override;

    // The ComPort drop-down's choices: COM1 to COM5, then the ports this machine has.
    static QStringList comPortChoices();

    // The device that a ComPort text opens. Throws TarvoError when the text names no port.
    static QString serialDevice(const QString& comPort);

private:
    void connectSerial();
    void connectTcp();
    // Runs one operation's steps; any failure becomes the operation's trace line, never an exception.
    void guarded(const char* operation, const std::function<void()>& steps);
    void requireSerialOpen() const;
    // Moves into m_received whatever the port holds, including bytes the event loop has not yet
    // delivered, so counts and reads never lag behind the line.
    void drainSerial();
    void onTcpDataArrival(qint64 bytesTotal);

    ConsoleModel& m_model;
    Trace& m_trace;
    EventPump& m_pump;
    Clock& m_clock;
    QSerialPort m_serial;
    QTcpSocket m_tcp;
    QByteArray m_received; // serial bytes received and not yet read
    // A link that was opened and not yet closed by Disconnect. When it has dropped under the cycle (a gateway reset the
    // connection, a USB adapter was pulled and put back), the next write opens it again, so polling survives what sites
    // do to cables.
    bool m_serialWanted = false;
    bool m_tcpWanted = false;
    QString m_lastCountError; // the count is asked on every pass of a wait: one line per new failure
    void reopenIfDropped();
};

} // namespace tarvo
