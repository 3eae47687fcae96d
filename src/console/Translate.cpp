#include "Translate.h"

#include "Conversions.h"

#include <cmath>

namespace tarvo {

std::optional<QString> translateHex(const QString& hex)
{
    const qsizetype n = hex.size();
    QString out;
    out.reserve(n / 2);
    qsizetype i = 0;
    while (i < n) {
        if (hex[i] == QLatin1Char(' ')) {
            ++i;
            continue;
        }
        const double value = std::trunc(HexToDec(hex.mid(i, 2)));
        if (!(value >= 0 && value <= 255))
            return std::nullopt;
        out += QChar(static_cast<char16_t>(value));
        i += 2;
    }
    return out;
}

} // namespace tarvo
