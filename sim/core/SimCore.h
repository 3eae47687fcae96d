#pragma once

// tarvo-sim's protocol logic: cutting a byte stream into frames, deciding what a frame asks for and
// building the reply, and the fault modes. No sockets here: the executable feeds bytes in and writes
// the replies it gets back.
//
// ADDRESSES. Every address on the simulator's command line, in its log and in SimMemory.h is the
// CONSOLE ADDRESS, the number the technician types in the console's address box. On the wire:
//   - fixed requests (ReadInput, ReadBuffer, SendQuery) under every protocol, and every Modbus frame,
//     carry console address + 1 in their first byte (so mbpoll's slave id = console address + 1, and
//     wire address 0, the Modbus broadcast, is never answered);
//   - Protocol 4 / 4+ command lines carry 40, the console address, the length; Customer Protocol
//     command lines carry the customer code (AA by default), the console address, the length;
//   - Bioscrypt carries the console address as four hexadecimal digits (digit pairs swapped).
// Under Protocol 4, 4+ and Customer the console sends both forms (fixed requests and command lines);
// the simulator answers both.
//
// REPLIES.
//   Modbus: standard RTU replies for functions 01, 02, 03, 04; the console's query "A 18 Q" gets
//     A 18 04 <queryData> CRC; exception 01 for any other function, 02 for registers or bits outside
//     0..1023, 03 for a bad count or a request of the wrong length. Under the fault exception=NN every
//     served request gets A (function + 80) NN CRC instead.
//   Protocol 4 / 4+ / Customer: b1 b2 N <N data bytes> check check 04, the check over b1..b(3+N)
//     (CRC-CCITT high byte first for Protocol 4 and Customer, the 16-bit byte sum for Protocol 4+).
//     Fixed requests: b1 = the wire address (console address + 1), b2 = the function; data as Modbus
//     would carry it (02: 2 bytes of inputs, 04: 12 bytes of registers, 18: queryData), so ReadInput
//     gets 8 bytes and ReadBuffer 18, more than the console's thresholds 6 and 16. A read outside
//     0..1023 gets the data bytes (function + 80) 02. Other fixed-looking frames are ignored.
//     Command lines: b1 = the lead byte (40 or the customer code), b2 = the console address, and the
//     first data byte echoes the command code:
//       "73"            -> N = 7, epromIdentification: 13 bytes in all, date in bytes 6..8,
//                          checksum in bytes 9..10;
//       "71"            -> N = 10, romIdentification: 16 bytes in all;
//       "72 pp aaaa ll" -> N = 1 + ll, data 72 then ll memory bytes (SimMemory.h): ll + 7 bytes in all
//                          (192 bytes read -> 199-byte reply); ll above 254 (N would not fit) and a
//                          72 of the wrong length get the refusal 72 15;
//       anything else   -> echoed: N = the command's length, data = the command's bytes.
//   Bioscrypt: the console's request flags (first digit of the command code: 1 = acknowledge, 2 =
//     response, 3 = both) decide: with no flag nothing is sent; an acknowledgement is the request's
//     own layout with the code's first digit 8 and no data; a response has first digit 4 and echoes
//     the request's data; with both flags the response follows the acknowledgement after 100 ms.
//   None: no check value to verify. A fixed request (6 bytes with function 01..04, or 3 bytes with
//     function 18) is answered by the Protocol 4 layout as above; anything else is a command line
//     for the lowest served address and is answered like a Protocol 4 command line.
//
// FRAMES. A frame ends at a silence on the line (the executable's gap timer), or sooner when the
// bytes so far already form a complete frame with a valid check value (completeFrameLength), so that
// back-to-back frames are cut apart. A frame with a bad check value, for an address that is not
// served, or that cannot be understood is ignored, as a controller on a shared bus would do.
//
// MODBUS TCP (MBAP). A link with LinkState::mbap set (TCP and UDP under --mbap, Modbus only) carries
// a 7-byte header instead of the RTU address and CRC: transaction id (2 bytes, high byte first),
// protocol id 0 (2), length (2: the bytes that follow, unit id + PDU), unit id (1), then the PDU.
// The unit id is the RTU address byte (console address + 1); the request is answered exactly as its
// RTU twin would be, and the reply carries the request's transaction id and unit id with the RTU
// reply's PDU. On a stream the header's length alone cuts frames, whatever the segments and the
// silences; a header with a protocol id other than 0 or a length of 0 or above 254 is no frame: it
// and everything buffered behind it are handed on as one piece, which is logged and ignored.

#include "Framing.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

namespace tarvo::sim {

// Fault modes of one console address.
struct FaultSet {
    bool silent = false;    // never answers
    int answerFrom = 1;     // ignores answerFrom-1 requests, answers the next one, starts over
    bool badCheck = false;  // the reply's check value is corrupted
    int trickleMs = 0;      // reply bytes are written one by one, trickleMs apart
    int partialBytes = -1;  // -1: whole reply; 0: the first half; n: only the first n bytes
    int delayMs = 0;        // the reply starts delayMs after the request
    int dropAfter = -1;     // TCP: after dropAfter frames for this address, the next one closes the connection
    int exceptionCode = -1; // Modbus: every request gets this exception code instead of its answer
};

struct SimConfig {
    Protocol protocol = Protocol::Protocol4;
    int customerCode = 0xAA;
    QList<QPair<int, int>> served{{0, 254}}; // inclusive ranges of console addresses
    QMap<int, FaultSet> faults;

    bool serves(int consoleAddress) const;
    int lowestServed() const; // -1 when none
    FaultSet faultsOf(int consoleAddress) const { return faults.value(consoleAddress); }
};

// Per connection (or per pty) state.
struct LinkState {
    bool tcp = false;      // a connection that the drop fault can close
    bool mbap = false;     // frames carry the Modbus TCP header instead of the RTU address and CRC
    bool datagram = false; // UDP: a reply goes in one datagram, never trickled
    QHash<int, int> framesPerAddress;
};

struct Segment {
    QByteArray bytes;
    int delayMs = 0; // after the request (first segment) or after the previous segment
};

struct Decision {
    int consoleAddress = -1; // -1: not known
    QString request;         // what the frame asked for, for the log
    QString verdict;         // what the simulator did about it, for the log
    QList<Segment> replies;  // empty: nothing is sent
    int trickleMs = 0;
    bool dropConnection = false;
};

class SimCore {
public:
    explicit SimCore(SimConfig config);

    const SimConfig& config() const { return m_config; }

    // Length of the complete, valid frame at the start of the bytes, or 0 when the bytes do not
    // (yet) form one.
    int completeFrameLength(const QByteArray& bytes) const;

    // Length of the complete Modbus TCP frame at the start of the bytes; 0 when more bytes are
    // needed; -1 when the header there is not a Modbus TCP header.
    static int mbapFrameLength(const QByteArray& bytes);

    // What to do about one frame received on the link.
    Decision handleFrame(const QByteArray& frame, LinkState& link);

    // The reply layout of Protocol 4, 4+ and Customer: b1 b2 N data check check 04.
    QByteArray layoutReply(int b1, int b2, const QByteArray& data) const;

private:
    Decision parseModbus(const QByteArray& frame) const;
    Decision parseMbap(const QByteArray& frame) const;
    Decision parseLeadByteFamily(const QByteArray& frame) const;
    Decision parseBioscrypt(const QByteArray& frame) const;
    Decision parseNone(const QByteArray& frame) const;
    void applyFaults(Decision& d, LinkState& link);
    QByteArray fixedReply(int wireAddress, int function, const QByteArray& rest, QString& request) const;
    QByteArray commandReply(int lead, int consoleAddress, const QByteArray& body, QString& request) const;
    QByteArray leadCheck(const QByteArray& covered) const; // the two check bytes of the lead-byte family
    int leadByte() const;

    SimConfig m_config;
    QHash<int, int> m_attempts; // requests ignored so far per console address (fault answerFrom)
};

// Cuts a byte stream into frames: complete frames as soon as they are recognised, the rest when the
// line falls silent (flush). With mbap set, frames are cut by the Modbus TCP header's length, and a
// bad header comes out at once together with everything buffered behind it.
class FrameAssembler {
public:
    explicit FrameAssembler(const SimCore& core, bool mbap = false) : m_core(core), m_mbap(mbap) {}
    QList<QByteArray> feed(const QByteArray& bytes);
    QByteArray flush();
    bool pending() const { return !m_buffer.isEmpty(); }

private:
    const SimCore& m_core;
    bool m_mbap = false;
    QByteArray m_buffer;
};

QString protocolName(Protocol p);
QString hexBytes(const QByteArray& bytes); // "01 02 0A"

} // namespace tarvo::sim
