#pragma once

#include <QByteArray>
#include <QString>

namespace tarvo {

enum class Protocol { Modbus, Protocol4, Protocol4Plus, Customer, Bioscrypt, None };

// What request building needs from the console, copied at the moment of building.
struct RequestSettings {
    Protocol protocol = Protocol::None;
    QString address;      // the slot's controller address, decimal, as typed
    QString customerCode; // txtProtocol, the Customer Protocol lead byte
    bool encrypt = false;
    QString password;     // the pass phrase, hexadecimal
    bool ackReq = false;  // Bioscrypt "Ack Req"
    bool respReq = false; // Bioscrypt "Resp Req"
};

// Refuses (RequestRefused) a text of which a character is not a hexadecimal digit, naming what it
// holds: "Query code holds "G", which is not a hexadecimal digit".
void requireHexDigits(const QString& text, const QString& what);

// The address field of the fixed requests and of Modbus command lines: the typed address (16-bit)
// plus 1, two hexadecimal digits. An address that does not fit in one byte that way is refused.
QString addressPlusOneField(const QString& addressText);

// 16-bit byte sum of a hexadecimal text (spaces removed; with encrypt the pass phrase is summed too),
// exactly four uppercase digits.
QString SumCheck(const QString& text, bool encrypt = false, const QString& password = {});
// Eight-digit two's complement of minus the byte sum; "0" for a sum of 0.
QString NegSumHex(const QString& text);
// "0001" -> "0010": the two digits of every byte change places; a lone final digit stays.
QString SwapDigitPairs(const QString& text);
// "FED4" -> "4DEF": every group of four digits reversed, a short final group within itself.
QString ReverseDigitQuads(const QString& text);

// The prefix that a command line gets before framing (address, lead byte, length). commandText is the
// line's command text, whose length gives the length byte. Refuses (RequestRefused) an address or code
// that does not fit its place; a non-numeric address is a conversion error.
QString protocolPrefix(const QString& body, const QString& commandText, const RequestSettings& settings);

// Check value, end byte or header of the protocol around the text.
QString frameRequest(const QString& text, const RequestSettings& settings);

// The frame's bytes: every pair of digits one byte; the count is half the length rounded half to
// even, so a lone final digit becomes a byte of its own when the count reaches it (7 digits give 4
// bytes) and is not sent otherwise (9 digits give 4 bytes).
QByteArray frameToBytes(const QString& frame);

} // namespace tarvo
