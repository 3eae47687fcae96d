#pragma once

#include "Framing.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace tarvo {

namespace fn {
inline const QString ReadInput = QStringLiteral("ReadInput");
inline const QString ReadBuffer = QStringLiteral("ReadBuffer");
inline const QString ReadBuffer100 = QStringLiteral("ReadBuffer100");
inline const QString ReadBuffer110 = QStringLiteral("ReadBuffer110");
inline const QString SendCommand = QStringLiteral("SendCommand");
inline const QString SendQuery = QStringLiteral("SendQuery");
inline const QString Waiting = QStringLiteral("Waiting");

// The function name of the console's function list index (0 Read Input .. 6 Waiting); nothing for
// "no item selected" or an index beyond the list.
std::optional<QString> forListIndex(int index);
} // namespace fn

// A request before framing, and how many received bytes the serial buffer must exceed for the reply
// wait to end early.
struct FixedRequest {
    QString text;
    int threshold = 0;
};

// The request of ReadInput, the ReadBuffer kinds and SendQuery for one slot. ReadBuffer gives its
// first form while firstView is true and its second form otherwise. Any other name gives the empty
// request. The address goes out plus 1 in one byte: one that does not fit is refused, as is a query
// code that is not one or two hexadecimal digits.
FixedRequest fixedRequest(const QString& functionName, const QString& address, const QString& query, bool firstView);

// One line of the command text: the command text (upper case, blanks and commas dropped, cut at a
// comment) and the body that goes out (odd final digit dropped, combined with the pass phrase's first
// byte when encrypting).
struct CommandLine {
    QString commandText;
    QString body;
    QString warning; // for the operator's message box; the line still goes out
};

// nullopt for a comment line or a line with no command. Under Bioscrypt the first digit carries the
// request flags; a command not starting with "0" goes out unchanged, with a warning for the
// operator. A character that is not a hexadecimal digit is refused.
std::optional<CommandLine> commandLine(const QString& line, const RequestSettings& settings);

// The text that goes to framing for a command line: its protocol prefix and body.
QString commandRequestText(const CommandLine& line, const RequestSettings& settings);

// One request of a call, before framing: its text and the threshold of its reply wait; for a command
// line, the line it came from (and what the operator is to be told about it).
struct CallRequest {
    QString text;
    int threshold = 0;
    std::optional<CommandLine> line;
};

// The lines of a command text as the exchange reads them from its command file: cut at each line
// feed, the line ends taken off.
QStringList commandTextLines(const QString& commands);
// The request of one command line; nothing for a comment line or a line with no command.
std::optional<CallRequest> commandRequest(const QString& line, const RequestSettings& settings);
// Every request one call of the exchange sends for a function, in order, as it builds them: ReadBuffer's
// two views, one per command line of SendCommand, one for the other functions (the empty request for a
// name outside them), none for Waiting. Refuses as the exchange does (RequestRefused, or a conversion
// error for an address that is no number).
QList<CallRequest> callRequests(const RequestSettings& settings, const QString& function, const QString& query,
                                const QString& commands);

} // namespace tarvo
