#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace tarvo {

// The one way a field's text becomes a number, wherever that happens: blanks around the number are
// allowed, then an optional sign, digits with an optional fraction and an optional exponent
// ("  -12.5 ", "+7", "1e3"). Anything else, the empty text included, is a type mismatch.
std::optional<double> parseNumber(const QString& text);

// One byte written in hexadecimal: one or two hex digits ("4", "0a", "FF").
bool isHexByte(const QString& text);

// parseNumber or a type mismatch error.
double toNumber(const QString& text);

// Rounds to the nearest whole number, an exact half to the even neighbour (2.5 -> 2, 3.5 -> 4).
double roundHalfEven(double value);

// Whole numbers of 16 and 32 bits: the text's number rounded half to even; a value outside the
// range is an overflow error, a text that is no number a type mismatch.
int16_t toInt16(const QString& text);
int32_t toInt32(const QString& text);
int16_t toInt16(double value);
int32_t toInt32(double value);

} // namespace tarvo
