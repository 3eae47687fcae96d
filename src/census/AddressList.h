#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace tarvo {

// Console addresses as technicians type them on a command line or in the census dialog. Addresses
// are decimal, 0 to 65535 (the console's address box); a range is "A..B" (or "A-B"), both ends
// included.

// "1..247", or a single address: every address of the range, ascending. Nothing, with the reason in
// *error, for anything else (B below A, a number out of range, letters).
std::optional<QList<int>> parseAddressRange(const QString& text, QString* error = nullptr);

// "5,6,9" or "1..4,9": the addresses in the order given, each once. Nothing, with the reason, for
// an empty list or a bad item.
std::optional<QList<int>> parseAddressList(const QString& text, QString* error = nullptr);

// "9600,19200,38400": serial speeds in bit/s (50 to 4000000), in the order given, each once.
std::optional<QList<int>> parseSpeedList(const QString& text, QString* error = nullptr);

// The addresses as a list text that parseAddressList reads back: runs of three or more consecutive
// addresses as ranges ("1..4,9").
QString addressListText(const QList<int>& addresses);

} // namespace tarvo
