#include "Conversions.h"

#include "Errors.h"
#include "Number.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tarvo {

bool isHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'F') || (u >= u'a' && u <= u'f');
}

namespace {
int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}
} // namespace

QString removeSpaces(const QString& text)
{
    QString out = text;
    out.remove(QLatin1Char(' '));
    return out;
}

QString ByteArrayToHex(const QByteArray& bytes, bool lengthFlag)
{
    qsizetype last = bytes.size() - 1;
    if (lengthFlag)
        last = bytes.size() >= 3 ? static_cast<unsigned char>(bytes[2]) + 2 : 0;
    // Every reply shown goes through here: digits from a table, not a formatted string per byte.
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const qsizetype n = std::min(last + 1, bytes.size());
    QString text;
    if (n <= 0)
        return text;
    text.resize(n * 3);
    QChar* out = text.data();
    for (qsizetype i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        *out++ = QLatin1Char(kDigits[b >> 4]);
        *out++ = QLatin1Char(kDigits[b & 0x0F]);
        *out++ = QLatin1Char(' ');
    }
    return text;
}

double HexToDec(const QString& text)
{
    double value = 0;
    for (const QChar c : text) {
        const int digit = hexValue(c);
        value = value * 16 + (digit < 0 ? 0 : digit);
    }
    return value;
}

QString HexOf(double value)
{
    const int32_t n = toInt32(value);
    if (n >= 0)
        return QString::number(n, 16).toUpper();
    return QString::number(static_cast<uint32_t>(n), 16).toUpper();
}

QString DecToHex(const QString& text, const ErrorBox& box)
{
    try {
        const QString key = ZeroPad(text, 2);
        if (key.size() == 2 && key[0].isDigit() && key[1].isDigit() && key[0].unicode() < 128 &&
            key[1].unicode() < 128) {
            const int v = key.toInt();
            if (v <= 31)
                return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper();
        }
        const double x = toNumber(text);
        if (text.size() < 10)
            return HexOf(x);
        const double high = std::floor(x / 16);
        const double low = (x / 16 - high) * 16;
        return HexOf(high) + HexOf(low);
    } catch (const TarvoError& e) {
        if (!box)
            return {};
        // The number takes a leading blank where a sign would stand: "Error #  13".
        const QString number =
            e.number() < 0 ? QString::number(e.number()) : QLatin1Char(' ') + QString::number(e.number());
        box(QStringLiteral("Vesmark Error"), QStringLiteral("Error # ") + number + QLatin1Char('\r') + e.description());
        return {};
    }
}

QString Pad2(const QString& text)
{
    return ZeroPad(text, 2);
}

QString ZeroPad(const QString& value, int& width)
{
    if (width == 0)
        width = 2;
    QString s = value;
    while (s.size() < width)
        s.prepend(QLatin1Char('0'));
    return s;
}

QString ZeroPad(const QString& value, int&& width)
{
    return ZeroPad(value, width);
}

QString ZeroPad(double value, int& width)
{
    return ZeroPad(QString::number(value, 'g', 15), width);
}

QString ZeroPad(double value, int&& width)
{
    return ZeroPad(value, width);
}

QString HexToBin(const QString& text)
{
    if (text.isEmpty())
        throw error::invalidArgument();
    QString bits;
    bits.reserve(text.size() * 4);
    for (const QChar c : text) {
        const int v = hexValue(c);
        if (v < 0)
            throw error::invalidArgument();
        for (int b = 3; b >= 0; --b)
            bits += (v >> b) & 1 ? QLatin1Char('1') : QLatin1Char('0');
    }
    return bits;
}

QString BinToHex(const QString& nibble)
{
    if (nibble.size() != 4)
        return {};
    int v = 0;
    for (const QChar c : nibble) {
        if (c != QLatin1Char('0') && c != QLatin1Char('1'))
            return {};
        v = v * 2 + (c == QLatin1Char('1'));
    }
    return QString::number(v, 16).toUpper();
}

namespace {
const QString kSixteenZeros = QStringLiteral("0000000000000000");
}

QString ShiftRight(const QString& bits, int count)
{
    if (count < 0)
        throw error::invalidArgument();
    const qsizetype width = bits.size();
    if (count > width)
        return kSixteenZeros;
    return QString(count, QLatin1Char('0')) + bits.left(width - count);
}

QString ShiftLeft(const QString& bits, int count)
{
    if (count < 0)
        throw error::invalidArgument();
    const qsizetype width = bits.size();
    if (count > width)
        return kSixteenZeros;
    return bits.mid(count) + QString(count, QLatin1Char('0'));
}

QString XorBin(const QString& a, const QString& b)
{
    if (a.size() != b.size())
        return {};
    QString out;
    out.reserve(a.size());
    for (qsizetype i = 0; i < a.size(); ++i) {
        const QChar x = a[i], y = b[i];
        const auto isDecimal = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
        if (!isDecimal(x) || !isDecimal(y))
            throw error::typeMismatch();
        out += x == y ? QLatin1Char('0') : QLatin1Char('1');
    }
    return out;
}

} // namespace tarvo
