#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace tarvo {

// The seven link operations. Which link an operation acts on (serial port or TCP) is decided anew at
// every call from the console's link choice. Every operation traps its own failures, writes one trace
// line and returns normally: no caller learns that a link operation failed.
class Link {
public:
    virtual ~Link() = default;

    virtual void Connect() = 0;
    virtual void Disconnect() = 0;
    virtual void SetBaudRate(const QString& speed) = 0;
    // Hands all bytes to the link at once; on TCP also resets the console's TcpArrivalCount to 0.
    virtual void WriteData(const QByteArray& data) = 0;
    // Everything received so far (serial), or at most TcpArrivalCount bytes (TCP); empty on failure.
    virtual QByteArray ReadData() = 0;
    // Right after every write. Serial: keeps what is waiting. TCP: drops what had arrived until then.
    virtual void CleanReceivedBuffer() = 0;
    // Bytes waiting in the serial receive buffer; always 0 on TCP.
    virtual int16_t ReceivedBufferCount() = 0;
};

} // namespace tarvo
