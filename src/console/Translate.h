#pragma once

#include <QString>
#include <optional>

namespace tarvo {

// Turns hexadecimal reply text ("41 42 43 ") into the characters it stands for ("ABC"), so the
// operator can read a reply. Pairs of digits are read from left to right; a space is skipped only
// where a pair would begin, and a last single digit is converted alone. Each value becomes the
// Latin-1 character of that code. Nothing (no value) when a pair is no character code from 0 to 255:
// the caller then keeps what it showed before.
std::optional<QString> translateHex(const QString& hex);

} // namespace tarvo
