#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace tarvo {

// Where a conversion shows its "Error #" box: the box's title and its prompt. The codec shows nothing
// itself; whoever has a window or a terminal at hand passes one.
using ErrorBox = std::function<void(const QString& title, const QString& prompt)>;

// Frames, addresses and check values are kept as text; these are the conversions between hexadecimal
// text, decimal text, numbers, byte arrays and bit strings ("0"/"1", most significant bit first).

// Two uppercase digits and one space per byte, the last byte included: 01 02 0A -> "01 02 0A ".
// With lengthFlag the text stops after byte 3 + (value of byte 3): address, function, count, data.
QString ByteArrayToHex(const QByteArray& bytes, bool lengthFlag);

// Value of a hexadecimal text; a character that is no hexadecimal digit (a space too) is worth 0 in
// its place, the empty text is 0. Never fails.
double HexToDec(const QString& text);

// Hexadecimal text of a decimal text. "0".."31" (after padding to two characters) give exactly two
// digits, other short texts their digits without leading zeros. A text that is no number, or a value
// out of range, shows an "Error #" box through `box` and gives the empty text.
QString DecToHex(const QString& text, const ErrorBox& box = {});

// Number to hexadecimal: rounded half to even, signed 32-bit range (overflow error otherwise);
// negative values as the 8 digits of their two's complement; 0 gives "0".
QString HexOf(double value);

QString Pad2(const QString& text);

// Left-pads with "0" to at least width characters; a width of 0 means 2 and is stored back.
QString ZeroPad(const QString& value, int& width);
QString ZeroPad(const QString& value, int&& width);
QString ZeroPad(double value, int& width);
QString ZeroPad(double value, int&& width);

// "a" -> "1010". The empty text or a character that is no hexadecimal digit: invalid argument error.
QString HexToBin(const QString& text);
// Exactly four bits -> one uppercase digit; anything else -> "".
QString BinToHex(const QString& nibble);
// Logical shifts keeping the width; a count above the width gives sixteen zeros. A negative count is
// an invalid argument error.
QString ShiftRight(const QString& bits, int count);
QString ShiftLeft(const QString& bits, int count);
// Bitwise exclusive or of two bit strings of equal width, "" when the widths differ. A character that
// is no decimal digit is a type mismatch error.
QString XorBin(const QString& a, const QString& b);

// Helpers used across the wire format.
bool isHexDigit(QChar c);
QString removeSpaces(const QString& text);

} // namespace tarvo
