// The reply check over any bytes, and two properties of it: a well-formed reply with the right check
// value never fails, and one with a content byte changed always does (a CRC-16 and a 16-bit byte sum
// both catch any single changed byte).
//
// Input lines: control (protocol, encrypt, which byte to change and how), pass phrase, then the reply.
#include "Crc.h"
#include "Framing.h"
#include "FuzzSupport.h"
#include "ReplyCheck.h"

#include <array>

using namespace tarvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> in = fuzz::fields(data, size, 3);
    const QByteArray& control = in[0];
    static constexpr std::array kProtocols = {Protocol::Protocol4, Protocol::Protocol4Plus, Protocol::Customer,
                                              Protocol::Modbus,    Protocol::Bioscrypt,     Protocol::None};
    const Protocol protocol = kProtocols[fuzz::control(control, 0) % kProtocols.size()];
    const bool encrypt = fuzz::control(control, 1) & 1;
    const QString password = QString::fromLatin1(in[1]);
    const QByteArray& reply = in[2];

    replyCheckFails(reply, protocol, encrypt, password);

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
