#include "Number.h"

#include <cctype>

#include "Errors.h"

#include <cmath>
#include <limits>

namespace tarvo {

std::optional<double> parseNumber(const QString& text)
{
    const QString s = text.trimmed();
    int i = 0;
    const int n = static_cast<int>(s.size());
    auto isDigit = [&](int k) { return k < n && s[k] >= QLatin1Char('0') && s[k] <= QLatin1Char('9'); };
    if (i < n && (s[i] == QLatin1Char('+') || s[i] == QLatin1Char('-')))
        ++i;
    int digits = 0;
    while (isDigit(i)) {
        ++i;
        ++digits;
    }
    if (i < n && s[i] == QLatin1Char('.')) {
        ++i;
        while (isDigit(i)) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return std::nullopt;
    if (i < n && (s[i] == QLatin1Char('e') || s[i] == QLatin1Char('E'))) {
        int k = i + 1;
        if (k < n && (s[k] == QLatin1Char('+') || s[k] == QLatin1Char('-')))
            ++k;
        if (!isDigit(k))
            return std::nullopt;
        while (isDigit(k))
            ++k;
        i = k;
    }
    if (i != n)
        return std::nullopt;
    bool ok = false;
    const double value = s.toDouble(&ok); // C locale: the decimal point is always "."
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

double toNumber(const QString& text)
{
    if (const auto value = parseNumber(text))
        return *value;
    throw error::typeMismatch();
}

double roundHalfEven(double value)
{
    return std::nearbyint(value);
} // default rounding mode: to even

namespace {
template <typename T> T toWhole(double value)
{
    const double r = roundHalfEven(value);
    if (!(r >= static_cast<double>(std::numeric_limits<T>::min()) &&
          r <= static_cast<double>(std::numeric_limits<T>::max())))
        throw error::overflow();
    return static_cast<T>(r);
}
} // namespace

int16_t toInt16(double value)
{
    return toWhole<int16_t>(value);
}
int32_t toInt32(double value)
{
    return toWhole<int32_t>(value);
}
int16_t toInt16(const QString& text)
{
    return toInt16(toNumber(text));
}
int32_t toInt32(const QString& text)
{
    return toInt32(toNumber(text));
}

bool isHexByte(const QString& text)
{
    if (text.isEmpty() || text.size() > 2)
        return false;
    for (const QChar c : text) {
        if (!isxdigit(c.toLatin1()))
            return false;
    }
    return true;
}

} // namespace tarvo
