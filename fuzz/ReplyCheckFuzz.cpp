// The reply checks over any bytes: the console's indicator and a report's judgement, raw or in a Modbus
// TCP frame. The indicator: a well-formed reply with the right check value never fails, and one with
// a content byte changed always does (a CRC-16 and a 16-bit byte sum both catch any single changed
// byte). Modbus TCP: a frame whose header fits its bytes is ok (or an exception, when its PDU is one)
// with nothing to note against its own request; a length changed or a byte lost makes it bad.
//
// Input lines: control (protocol, encrypt, which byte to change and how; bit 6 of the first byte
// frames the reply as Modbus TCP), pass phrase, then the reply.
#include "Crc.h"
#include "Explain.h"
#include "Framing.h"
#include "FuzzSupport.h"
#include "Mbap.h"
#include "ReplyCheck.h"

#include <array>

using namespace tarvo;

namespace {

using Result = ReplyJudgement::Result;

// The reply's bytes as a unit id and a PDU under the MBAP header: a well-formed Modbus TCP frame.
void modbusTcp(const QByteArray& control, const QByteArray& reply)
{
    const auto transaction = static_cast<uint16_t>(fuzz::control(control, 2) << 8 | fuzz::control(control, 3));
    // A unit id and a function at least, and no more than a header's length can count.
    const QByteArray body = reply.left(mbap::kMaxLength).leftJustified(2, '\x03');
    const QByteArray good = mbap::fromRtu(body + QByteArray(2, '\0'), transaction);
    const QByteArray request =
        mbap::fromRtu(body.left(1) + QByteArray::fromHex("0300000001") + QByteArray(2, '\0'), transaction);
    const ReplyJudgement ok = judgeReply(good, Protocol::Modbus, false, {}, request, false, true);
    const QByteArray pdu = body.mid(1);
    const bool exception = pdu.size() == 2 && (static_cast<uint8_t>(pdu[0]) & 0x80);
    fuzz::require(ok.result == (exception ? Result::Exception : Result::Ok), "a well-formed frame passes");
    fuzz::require(exception ? ok.detail == modbusExceptionText(static_cast<uint8_t>(pdu[1])) : ok.detail.isEmpty(),
                  "nothing to note but the exception");
    fuzz::require(explainFrame(Protocol::Modbus, good, false, {}, true).verdict == CheckVerdict::Ok,
                  "the explainer agrees");

    QByteArray longer = good;
    const auto delta = static_cast<uint16_t>(fuzz::control(control, 4) | 1);
    const auto length = static_cast<uint16_t>(mbap::length(good) + delta);
    longer[4] = static_cast<char>(length >> 8);
    longer[5] = static_cast<char>(length & 0xFF);
    fuzz::require(judgeReply(longer, Protocol::Modbus, false, {}, request, false, true).result == Result::Bad,
                  "a length that does not count the bytes is bad");
    fuzz::require(judgeReply(good.chopped(1), Protocol::Modbus, false, {}, request, false, true).result == Result::Bad,
                  "a frame a byte short is bad");

    QByteArray other = request;
    other[1] = static_cast<char>(other[1] ^ 1);
    fuzz::require(judgeReply(good, Protocol::Modbus, false, {}, other, false, true).detail.contains("transaction"),
                  "another transaction is noted");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> in = fuzz::fields(data, size, 3);
    const QByteArray& control = in[0];
    static constexpr std::array kProtocols = {Protocol::Protocol4, Protocol::Protocol4Plus, Protocol::Customer,
                                              Protocol::Modbus,    Protocol::Bioscrypt,     Protocol::None};
    const bool mbap = fuzz::control(control, 0) & 0x40;
    const Protocol protocol = mbap ? Protocol::Modbus : kProtocols[fuzz::control(control, 0) % kProtocols.size()];
    const bool encrypt = fuzz::control(control, 1) & 1;
    const QString password = QString::fromLatin1(in[1]);
    const QByteArray& reply = in[2];

    replyCheckFails(reply, protocol, encrypt, password);
    const ReplyJudgement j = judgeReply(reply, protocol, encrypt, password, {}, false, mbap);
    fuzz::require((j.result == Result::Unchecked) == (protocol == Protocol::None), "only None is unchecked");
    if (mbap) {
        fuzz::require(j.result == Result::Bad || mbap::frameLength(reply) == reply.size(),
                      "a Modbus TCP reply passes only when its header counts its bytes");
        modbusTcp(control, reply);
        return 0;
    }

    if (protocol != Protocol::Protocol4 && protocol != Protocol::Protocol4Plus && protocol != Protocol::Customer)
        return 0;
    // Two lead bytes and up to 255 data bytes from the reply, the count, the check value, the end byte.
    QByteArray covered = reply.left(2).leftJustified(2, '\0');
    const QByteArray payload = reply.mid(2, 255);
    covered += static_cast<char>(payload.size());
    covered += payload;
    const auto framed = [&](const QByteArray& content) {
        const QString hex = QString::fromLatin1(content.toHex());
        const QString check = protocol == Protocol::Protocol4Plus ? SumCheck(hex, encrypt, password) : CrcCcitt(hex);
        return content + QByteArray::fromHex(check.toLatin1()) + '\x04';
    };
    const QByteArray good = framed(covered);
    fuzz::require(!replyCheckFails(good, protocol, encrypt, password), "a reply with its right check value passes");

    // One byte of the lead bytes or data changed (the count stays, so the layout stays).
    qsizetype at = fuzz::control(control, 2) % (covered.size() - 1);
    if (at >= 2)
        ++at; // skip the count
    const auto change = static_cast<char>(fuzz::control(control, 3) | 1);
    QByteArray bad = good;
    bad[at] = static_cast<char>(bad[at] ^ change);
    fuzz::require(replyCheckFails(bad, protocol, encrypt, password), "a reply with a changed byte fails");
    return 0;
}
