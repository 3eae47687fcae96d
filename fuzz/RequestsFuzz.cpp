// The request builder over any command line and any console settings. A refusal is a TarvoError and
// expected; anything else that leaves, and a frame that is not all hexadecimal digits, is a fault: the
// frame goes to the wire as it stands.
//
// Input lines: control (protocol, flags, function), address, customer code, pass phrase, query code,
// then the command line.
#include "Conversions.h"
#include "Errors.h"
#include "FuzzSupport.h"
#include "Requests.h"

#include <array>

using namespace tarvo;

namespace {
void requireFrame(const QString& frame)
{
    for (const QChar c : frame)
        fuzz::require(isHexDigit(c), "a frame is hexadecimal digits only");
    frameToBytes(frame);
}

// The one message request building may give: the Bioscrypt warning about the first digit. A
// conversion that fails inside request building (a value that was not checked before) is a logic
// error, which leaves this function and is reported as a crash.
void requireOnlyWarnings(const CommandLine& line, bool bioscrypt)
{
    fuzz::require(line.warning.isEmpty() ||
                      (bioscrypt && line.warning.startsWith(QLatin1String("Wrong Protocol command"))),
                  "only Bioscrypt warns about a command");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> in = fuzz::fields(data, size, 6);
    const QByteArray& control = in[0];

    static constexpr std::array kProtocols = {Protocol::Modbus,   Protocol::Protocol4, Protocol::Protocol4Plus,
                                              Protocol::Customer, Protocol::Bioscrypt, Protocol::None};
    RequestSettings s;
    s.protocol = kProtocols[fuzz::control(control, 0) % kProtocols.size()];
    const uint8_t flags = fuzz::control(control, 1);
    s.encrypt = flags & 1;
    s.ackReq = flags & 2;
    s.respReq = flags & 4;
    const bool firstView = flags & 8;
    s.address = QString::fromLatin1(in[1]);
    s.customerCode = QString::fromLatin1(in[2]);
    s.password = QString::fromLatin1(in[3]);
    const QString query = QString::fromLatin1(in[4]);
    const QString line = QString::fromLatin1(in[5]);
    const bool bioscrypt = s.protocol == Protocol::Bioscrypt;

    try {
        if (const auto cmd = commandLine(line, s)) {
            requireOnlyWarnings(*cmd, bioscrypt);
            requireFrame(frameRequest(commandRequestText(*cmd, s), s));
        }
    } catch (const TarvoError&) {
    }

    // The fixed requests, by function name; an unknown name gives the empty request.
    static const std::array kFunctions = {fn::ReadInput, fn::ReadBuffer, fn::ReadBuffer100,      fn::ReadBuffer110,
                                          fn::SendQuery, fn::Waiting,    QStringLiteral("Other")};
    const QString& function = kFunctions[fuzz::control(control, 2) % kFunctions.size()];
    try {
        const FixedRequest request = fixedRequest(function, s.address, query, firstView);
        requireFrame(frameRequest(request.text, s));
    } catch (const TarvoError&) {
    }
    return 0;
}
