#pragma once

#include "Framing.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

namespace tarvo {

// One field of a frame: which bytes it takes and what they say.
struct FrameField {
    int offset = 0;  // its first byte
    int length = 0;  // its bytes
    QString name;    // "address", "function", "length", "command", "data", "check value", "end byte", ...
    QString meaning; // what the bytes say: "console address 5", "read input registers", ...

    friend bool operator==(const FrameField&, const FrameField&) = default;
};

// What a frame's check value says. Unchecked: the protocol has none (None). NotAFrame: the bytes are
// not laid out as a frame of the protocol (too short, a header missing, a count that does not fit).
enum class CheckVerdict { Ok, Bad, Unchecked, NotAFrame };
QString checkVerdictName(CheckVerdict verdict); // "ok", "bad-check", "unchecked", "not-a-frame"

// A frame taken apart: its fields in order, and its check value as carried and as computed.
struct FrameExplanation {
    QByteArray bytes;
    QList<FrameField> fields;
    bool reply = false;  // read as a reply (otherwise as a request)
    QString checkName;   // "CRC-16/MODBUS", "CRC-16/XMODEM", "byte sum", "negated byte sum"; empty: none
    QByteArray received; // the check value the frame carries
    QByteArray computed; // the check value of the bytes it covers
    CheckVerdict verdict = CheckVerdict::Unchecked;
    QString problem;  // for NotAFrame: why
    int trailing = 0; // bytes after the frame's end: its last field, "trailing bytes", which no check covers

    // The field a byte belongs to; -1 for none.
    int fieldAt(int byteOffset) const;
    // "3 trailing bytes after the frame: 00 00 04"; empty when the frame takes all the bytes.
    QString trailingNote() const;
};

// The frames the console sends for a function on one slot (the requests of callRequests), each with
// its fields named. `function` is one of the function names ("ReadInput", ... "SendQuery",
// "SendCommand"); for SendCommand, `command` is the command text (several lines give several frames;
// comment and empty lines none). A request the console would refuse raises as it does there
// (RequestRefused, or a conversion error for an address that is no number).
//
// mbapTransaction: the requests go out in Modbus TCP frames (the MBAP header in place of the address and
// the CRC), the first with this transaction id and each next one with the next, as the exchange numbers
// them when every request is answered at its first try. Only Modbus is framed so: under another
// protocol this raises RequestRefused.
QList<FrameExplanation> explainRequests(const RequestSettings& settings, const QString& function, const QString& query,
                                        const QString& command, std::optional<uint16_t> mbapTransaction = std::nullopt);

// Any frame of the protocol, request or reply, taken apart and checked. A frame of Protocol 4, 4+ or
// Customer Protocol is read as a reply when its count byte fits its length, otherwise as a request;
// Modbus replies name the function, byte count, data words and exception codes; a Bioscrypt frame whose
// command code starts with 8 or 4 is an acknowledgement or a response. encrypt/password: the pass
// phrase that Protocol 4+ sums include.
//
// One reading gives the fields and the verdict: the frame ends at the first complete frame
// (completeFrameLength), or failing that at the end of the bytes when its check value holds over them
// all, or failing that where its layout ends it (a Modbus function's length, a Protocol 4 count and
// end byte); the bytes after it are one last field, "trailing bytes" (FrameExplanation::trailing).
//
// mbapFramed: a Modbus frame in a Modbus TCP frame, told so by the caller (it is never guessed here):
// the header's fields (transaction id, protocol id, length, unit id), then the PDU's as above. The
// header is its check ("MBAP length": the length carried, and the one its bytes give): a protocol id
// other than 0, or a length no header gives, is not a frame; a length beyond the bytes is bad; bytes
// beyond the length are trailing bytes. Only Modbus is framed so; other protocols ignore it.
FrameExplanation explainFrame(Protocol protocol, const QByteArray& bytes, bool encrypt = false,
                              const QString& password = {}, bool mbapFramed = false);

// Modbus function names by code, the exception bit aside: "read input registers" for 04, "function
// 2B" for one without a name here.
QString modbusFunctionName(int function);

// Modbus exception names by code ("Illegal Data Address" for 02); empty for a code without one.
QString modbusExceptionName(int code);

// The complete frame for a body under one of the framings' check values: CRC-16/MODBUS appended
// (Modbus), CRC-16/XMODEM and the end byte (Protocol 4, Customer), the byte sum and the end byte
// (Protocol 4+), the header and the reversed negated byte sum (Bioscrypt), or the MBAP header before a
// unit id and a PDU (Modbus TCP, transaction id 1).
enum class CheckKind { Crc16Modbus, Crc16XmodemWithEnd, ByteSumWithEnd, NegatedSum, MbapHeader };
QByteArray appendCheck(CheckKind kind, const QByteArray& body);

// Length of the first complete frame of the protocol at the start of the bytes whose check value
// holds; 0 when there is none. Cuts back-to-back frames apart where nothing else can.
int completeFrameLength(Protocol protocol, const QByteArray& bytes, bool encrypt = false, const QString& password = {});

} // namespace tarvo
