#include "Framing.h"

#include "Conversions.h"
#include "Crc.h"
#include "Errors.h"
#include "Number.h"

#include <stdexcept>

namespace tarvo {

namespace {

// A one-byte field of a request: the number, already checked to fit, in hexadecimal. A conversion
// that fails here would put a made-up byte on the wire: that is a fault of the checks before, raised
// as such rather than shown as a conversion box.
QString byteField(double value)
{
    return Pad2(DecToHex(QString::number(value), [](const QString&, const QString& prompt) {
        throw std::logic_error("request field does not convert: " + prompt.toStdString());
    }));
}

double byteSum(const QString& digits)
{
    double sum = 0;
    for (qsizetype k = 0; k + 1 < digits.size(); k += 2)
        sum += HexToDec(digits.mid(k, 2));
    return sum;
}

// The one-byte address field of the lead-byte protocols, 0 to 255.
QString addressByte(double address)
{
    if (address < 0 || address > 255)
        throw RequestRefused(QStringLiteral("Address %1 does not fit in one byte").arg(address));
    return byteField(address);
}

// The length byte: the command's bytes only, not the prefix or the check value.
QString lengthByte(const QString& commandText)
{
    const double length = roundHalfEven(static_cast<double>(commandText.size()) / 2);
    if (length > 255)
        throw RequestRefused(QStringLiteral("Command of %1 bytes does not fit the one-byte length field").arg(length));
    return byteField(length);
}

} // namespace

void requireHexDigits(const QString& text, const QString& what)
{
    for (const QChar c : text) {
        if (!isHexDigit(c))
            throw RequestRefused(
                QStringLiteral("%1 holds \"%2\", which is not a hexadecimal digit").arg(what, QString(c)));
    }
}

QString addressPlusOneField(const QString& addressText)
{
    const int16_t address = toInt16(addressText);
    const int16_t onWire = toInt16(static_cast<double>(address) + 1); // 32767 overflows, as a 16-bit sum does
    if (onWire < 1 || onWire > 255)
        throw RequestRefused(QStringLiteral("Address %1 does not fit in one byte").arg(address));
    return byteField(onWire);
}

QString SumCheck(const QString& text, bool encrypt, const QString& password)
{
    QString t = removeSpaces(text);
    if (encrypt)
        t += password;
    const QString hex = HexOf(byteSum(t));
    return hex.size() >= 4 ? hex.right(4) : hex.rightJustified(4, QLatin1Char('0'));
}

QString NegSumHex(const QString& text)
{
    return HexOf(-byteSum(removeSpaces(text)));
}

QString SwapDigitPairs(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); i += 2) {
        if (i + 1 < text.size())
            out += text[i + 1];
        out += text[i];
    }
    return out;
}

QString ReverseDigitQuads(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); i += 4) {
        for (qsizetype k = std::min<qsizetype>(i + 3, text.size() - 1); k >= i; --k)
            out += text[k];
    }
    return out;
}

QString protocolPrefix(const QString& body, const QString& commandText, const RequestSettings& s)
{
    switch (s.protocol) {
    case Protocol::Modbus:
        return addressPlusOneField(s.address) + body;
    case Protocol::Protocol4:
    case Protocol::Protocol4Plus:
        return QStringLiteral("40") + addressByte(toInt32(s.address)) + lengthByte(commandText) + body;
    case Protocol::Customer: {
        if (s.customerCode.size() > 2)
            throw RequestRefused(QStringLiteral("Customer protocol code \"%1\" is longer than two hexadecimal digits")
                                     .arg(s.customerCode));
        requireHexDigits(s.customerCode, QStringLiteral("Customer protocol code"));
        const QString address = addressByte(toInt16(s.address));
        return Pad2(s.customerCode) + address + lengthByte(commandText) + body;
    }
    case Protocol::Bioscrypt: {
        const int32_t address = toInt32(s.address);
        if (address < 0 || address > 0xFFFF)
            throw RequestRefused(QStringLiteral("Address %1 does not fit in two bytes").arg(address));
        const QString h = HexOf(address).rightJustified(4, QLatin1Char('0'));
        return SwapDigitPairs(h + QStringLiteral("0001")) + SwapDigitPairs(body.left(4)) +
               ReverseDigitQuads(body.mid(4)) + QStringLiteral("00000000");
    }
    case Protocol::None:
        break;
    }
    return body;
}

QString frameRequest(const QString& f, const RequestSettings& s)
{
    switch (s.protocol) {
    case Protocol::Modbus:
        return f + CrcModbus(f);
    case Protocol::Protocol4:
    case Protocol::Customer:
        return f + CrcCcitt(f) + QStringLiteral("04");
    case Protocol::Protocol4Plus:
        if (s.encrypt)
            requireHexDigits(s.password, QStringLiteral("Pass phrase"));
        return f + SumCheck(f, s.encrypt, s.password) + QStringLiteral("04");
    case Protocol::Bioscrypt:
        return QStringLiteral("40286BFE") + f + ReverseDigitQuads(NegSumHex(f));
    case Protocol::None:
        break;
    }
    return f;
}

QByteArray frameToBytes(const QString& frame)
{
    const auto n = static_cast<qsizetype>(roundHalfEven(static_cast<double>(frame.size()) / 2));
    QByteArray bytes(n, '\0');
    for (qsizetype k = 0; k < n; ++k)
        bytes[k] = static_cast<char>(static_cast<unsigned char>(HexToDec(frame.mid(2 * k, 2))));
    return bytes;
}

} // namespace tarvo
