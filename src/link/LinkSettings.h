#pragma once

#include <QString>
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

    friend bool operator==(const LineFormat&, const LineFormat&) = default;
};

// What a link needs to connect, taken from the console when a cycle connects.
struct LinkSettings {
    QString comPort; // serial: "COM<n>" (only the fourth character counts) or a device path
    QString host;    // TCP host, as typed
    QString tcpPort; // TCP port, decimal text as typed
    // The TCP connect wait's time-out, milliseconds as decimal text. Asked afresh on every pass of
    // the wait, so that an edit made while it waits takes effect at once.
    std::function<QString()> timeOutDelay;
    LineFormat line; // serial only
};

} // namespace tarvo
