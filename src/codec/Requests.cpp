#include "Requests.h"

#include "Conversions.h"
#include "Errors.h"
#include "Number.h"

#include <array>

namespace tarvo {

std::optional<QString> fn::forListIndex(int index)
{
    static const std::array<QString, 7> names = {ReadInput,   ReadBuffer, ReadBuffer100, ReadBuffer110,
                                                 SendCommand, SendQuery,  Waiting};
    if (index < 0 || index >= static_cast<int>(names.size()))
        return std::nullopt;
    return names[static_cast<size_t>(index)];
}

FixedRequest fixedRequest(const QString& name, const QString& address, const QString& query, bool firstView)
{
    const bool first100 = name == fn::ReadBuffer100 || (name == fn::ReadBuffer && firstView);
    const bool second110 = name == fn::ReadBuffer110 || (name == fn::ReadBuffer && !firstView);
    if (name == fn::ReadInput)
        return {addressPlusOneField(address) + QStringLiteral("0200000010"), 6};
    if (first100)
        return {addressPlusOneField(address) + QStringLiteral("0401000006"), 16};
    if (second110)
        return {addressPlusOneField(address) + QStringLiteral("0401100006"), 16};
    if (name == fn::SendQuery) {
        const QString a = addressPlusOneField(address);
        if (query.size() > 2)
            throw RequestRefused(QStringLiteral("Query code \"%1\" is longer than two hexadecimal digits").arg(query));
        requireHexDigits(query, QStringLiteral("Query code"));
        return {a + QStringLiteral("18") + Pad2(query), 0};
    }
    return {};
}

std::optional<CommandLine> commandLine(const QString& line, const RequestSettings& s)
{
    if (line.startsWith(QLatin1Char('\\')) || line.startsWith(QLatin1Char('/')))
        return std::nullopt;
    QString text;
    for (const QChar c : line.toUpper()) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('/'))
            break;
        if (c == QLatin1Char(' ') || c == QLatin1Char(','))
            continue;
        text += c;
    }
    if (text.isEmpty())
        return std::nullopt;
    requireHexDigits(text, QStringLiteral("Command"));

    QString warning;
    if (s.protocol == Protocol::Bioscrypt) {
        if (text[0] != QLatin1Char('0')) {
            warning = QStringLiteral("Wrong Protocol command. The First letter of the command must be 0");
        } else {
            text[0] = QLatin1Char(static_cast<char>('0' + (s.ackReq ? 1 : 0) + (s.respReq ? 2 : 0)));
        }
    }

    QString body;
    int key = 0;
    if (s.encrypt) {
        const QString keyDigits = s.password.left(2);
        requireHexDigits(keyDigits, QStringLiteral("Pass phrase"));
        key = static_cast<int>(HexToDec(keyDigits));
    }
    for (qsizetype k = 0; k + 1 < text.size(); k += 2) {
        const QString pair = text.mid(k, 2);
        if (!s.encrypt)
            body += pair;
        else
            body += QStringLiteral("%1").arg(static_cast<int>(HexToDec(pair)) ^ key, 2, 16, QLatin1Char('0')).toUpper();
    }
    return CommandLine{text, body, warning};
}

QString commandRequestText(const CommandLine& line, const RequestSettings& settings)
{
    return protocolPrefix(line.body, line.commandText, settings);
}

QStringList commandTextLines(const QString& commands)
{
    // The command file holds the text in Latin-1 and one CR LF after it; each line read ends at a line
    // feed.
    QStringList lines = QString::fromLatin1(commands.toLatin1() + "\r\n").split(QLatin1Char('\n'));
    lines.removeLast();
    for (QString& line : lines) {
        while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    return lines;
}

std::optional<CallRequest> commandRequest(const QString& line, const RequestSettings& settings)
{
    const std::optional<CommandLine> cl = commandLine(line, settings);
    if (!cl)
        return std::nullopt;
    return CallRequest{commandRequestText(*cl, settings), 0, cl};
}

QList<CallRequest> callRequests(const RequestSettings& settings, const QString& function, const QString& query,
                                const QString& commands)
{
    QList<CallRequest> requests;
    if (function == fn::Waiting)
        return requests;
    if (function == fn::SendCommand) {
        for (const QString& line : commandTextLines(commands)) {
            if (auto request = commandRequest(line, settings))
                requests.append(*request);
        }
        return requests;
    }
    for (const bool firstView : {true, false}) {
        const FixedRequest r = fixedRequest(function, settings.address, query, firstView);
        requests.append(CallRequest{r.text, r.threshold, {}});
        if (function != fn::ReadBuffer)
            break;
    }
    return requests;
}

} // namespace tarvo
