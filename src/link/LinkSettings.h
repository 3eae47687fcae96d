#pragma once

#include <QString>
#include <QtGlobal>
#include <cstdint>
#include <functional>
#include <optional>

namespace tarvo {

// The serial line's character format: data bits, parity, stop bits and flow control. The console's
// own line is 8 data bits, no parity, 2 stop bits, no flow control ("8N2").
struct LineFormat {
    enum class Parity { None, Even, Odd, Mark, Space };
    int dataBits = 8; // 7 or 8
    Parity parity = Parity::None;
    int stopBits = 2;    // 1 or 2
    bool rtsCts = false; // hardware flow control

    // Bits one character takes on the line: a start bit, the data bits, a parity bit when there is
    // parity, and the stop bits (11 for 8N2, 10 for 8N1, 11 for 8E1, 10 for 7O1).
    int bitsPerCharacter() const { return 1 + dataBits + (parity == Parity::None ? 0 : 1) + stopBits; }
    // "8N2", "8E1", "7O1": data bits, parity letter (N, E, O, M, S), stop bits. Flow control is not part
    // of the text.
    QString text() const;
    // The same text back, letters in either case; nothing for anything else.
    static std::optional<LineFormat> parse(const QString& text);
    // Seconds that `characters` take on a line of `baud` bit/s; 0 without a speed.
    double seconds(qint64 characters, qint32 baud) const
    {
        return baud > 0 ? static_cast<double>(characters) * bitsPerCharacter() / baud : 0;
    }

    friend bool operator==(const LineFormat&, const LineFormat&) = default;
};

// The least one exchange takes on a serial line, in seconds: its request and reply on the wire
// (wire), then one WaitingDelay of silence before the reply is read (settle: from the request's
// first bit to the read), or the Scan pause from one request to the next when that is longer (floor).
struct ExchangeFloor {
    double wire = 0;
    double settle = 0;
    double floor = 0;
};
ExchangeFloor exchangeFloor(const LineFormat& line, qint32 baud, qint64 requestBytes, qint64 replyBytes,
                            double waitingSeconds, double scanSeconds);

// A two-wire RS-485 bus: the transmitter is switched on around every frame, by the driver where it
// can (the kernel's RS-485 mode), else by raising RTS around each write.
struct Rs485Options {
    static constexpr int kMaxDelayMs = 1000; // the longest delay the console offers

    bool enabled = false;
    bool rtsOnSend = true; // RTS is high while sending (else low while sending, high when idle)
    int delayBeforeMs = 0; // the transmitter is switched on this long before the first bit
    int delayAfterMs = 0;  // and stays on this long after the last stop bit

    friend bool operator==(const Rs485Options&, const Rs485Options&) = default;
};

// What a link needs to connect, taken from the console when a cycle connects.
// The network link beside the serial port: a TCP connection, or UDP datagrams (one a request, one a
// reply).
enum class Transport { Tcp, Udp };
// What the network link carries: the protocol's own frames as on a serial line (Raw), or Modbus
// requests and replies in Modbus TCP frames (Mbap).
enum class NetFraming { Raw, Mbap };

struct LinkSettings {
    QString comPort; // serial: "COM<n>" (only the fourth character counts) or a device path
    QString host;    // TCP host, as typed
    QString tcpPort; // TCP port, decimal text as typed
    Transport transport = Transport::Tcp;
    NetFraming framing = NetFraming::Raw;
    // The TCP connect wait's time-out in milliseconds. Asked afresh on every pass of the wait, so that
    // an edit made while it waits takes effect at once; the console's raises when its field holds no
    // number. None: the wait ends at its first pass.
    std::function<int32_t()> timeoutMs;
    LineFormat line; // serial only, as are the rest
    Rs485Options rs485;
    bool dropEcho = false;   // the adapter hears its own frames: drop them before the reply is counted
    bool lowLatency = false; // ask the driver to hand over received bytes at once
};

} // namespace tarvo
