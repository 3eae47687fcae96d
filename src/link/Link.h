#pragma once

#include "LinkSettings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace tarvo {

// The seven link operations, and what the exchange asks of a link while it waits. Every operation
// traps its own failures, writes one trace line and returns normally: no caller learns that a link
// operation failed.
class Link {
public:
    virtual ~Link() = default;

    // Opens the link with the settings the console holds when the cycle connects.
    virtual void Connect(const LinkSettings& settings) = 0;
    virtual void Disconnect() = 0;
    // Whether the link is open now: the port open, the connection made. Connect reports nothing, so
    // a caller that must tell "nobody answered" from "no link at all" asks here.
    virtual bool isConnected() const = 0;
    // Applies a serial speed; harmless on TCP.
    virtual void SetBaudRate(const QString& speed) = 0;
    // Hands all bytes to the link at once; on TCP also resets the arrival count to 0.
    virtual void WriteData(const QByteArray& data) = 0;
    // Everything received so far (serial), or at most ArrivalCount() bytes (TCP); empty on failure.
    virtual QByteArray ReadData() = 0;
    // Right after every write. Serial: keeps what is waiting. TCP: drops what had arrived until then.
    virtual void CleanReceivedBuffer() = 0;
    // How many bytes are pending in the serial receive buffer; always 0 on TCP.
    virtual int16_t ReceivedBufferCount() = 0;
    // Did anything arrive: on TCP the byte count announced by the last arrival since the last write
    // (always 0 on serial, whose count is ReceivedBufferCount).
    virtual int32_t ArrivalCount() = 0;
    // Listening over TCP, where nothing is written: what was counted has now been read.
    virtual void ClearArrivalCount() = 0;
    // A hint from a wait that cannot end before `bytes` are pending: the link need not wake it for
    // fewer. A serial port then sleeps through a reply's bytes until the last one it waits for,
    // instead of waking for each. Counts and reads are not affected.
    virtual void setWakeThreshold(int bytes) { (void)bytes; }
    // Seconds one character takes on the line (serial: start, data, parity and stop bits at the
    // speed); 0 where the link has no character time (TCP).
    virtual double characterSeconds() const { return 0; }
    // What the link noticed since the last call that belongs in the journal (a link lost and found
    // again, an echo that did not match, the transmitter mode in use), one line each; cleared by the
    // call.
    virtual QStringList takeNotes() { return {}; }
    // What waits to be read, left there: what a report keeps of a reply that fell short of what the
    // exchange waited for, without changing what the next attempt finds.
    virtual QByteArray peekData() { return {}; }
};

} // namespace tarvo
