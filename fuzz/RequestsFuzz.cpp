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

// The one message request building may show: the Bioscrypt warning about the first digit. Any other
// box (a conversion's "Error #") means a frame was built from a value that did not convert.
void requireOnlyWarnings(const test::FakePrompter& prompter, bool bioscrypt)
{
    for (const auto& shown : prompter.shown)
        fuzz::require(bioscrypt && shown.text.startsWith(QLatin1String("Wrong Protocol command")),
                      "request building shows no conversion error");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    test::FakePrompter& prompter = fuzz::quietSeams();
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
        if (const auto cmd = commandLine(line, s, &prompter))
            requireFrame(frameRequest(commandRequestText(*cmd, s, &prompter), s));
    } catch (const TarvoError&) {
    }
    requireOnlyWarnings(prompter, bioscrypt);

    // The fixed requests, by function name; an unknown name gives the empty request.
    static const std::array kFunctions = {fn::ReadInput, fn::ReadBuffer, fn::ReadBuffer100,      fn::ReadBuffer110,
                                          fn::SendQuery, fn::Waiting,    QStringLiteral("Other")};
    const QString& function = kFunctions[fuzz::control(control, 2) % kFunctions.size()];
    prompter.shown.clear();
    try {
        const FixedRequest request = fixedRequest(function, s.address, query, firstView);
        requireFrame(frameRequest(request.text, s));
    } catch (const TarvoError&) {
    }
    requireOnlyWarnings(prompter, false);
    return 0;
}
