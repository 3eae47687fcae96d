#include "LinkSettings.h"

#include <algorithm>

namespace tarvo {

namespace {
constexpr char kParityLetters[] = {'N', 'E', 'O', 'M', 'S'};
}

QString LineFormat::text() const
{
    return QString::number(dataBits) + QLatin1Char(kParityLetters[static_cast<int>(parity)]) +
           QString::number(stopBits);
}

std::optional<LineFormat> LineFormat::parse(const QString& text)
{
    const QString t = text.trimmed().toUpper();
    if (t.size() != 3)
        return std::nullopt;
    LineFormat f;
    if (t[0] != QLatin1Char('7') && t[0] != QLatin1Char('8'))
        return std::nullopt;
    f.dataBits = t[0].digitValue();
    int parity = -1;
    for (int i = 0; i < 5; ++i) {
        if (t[1] == QLatin1Char(kParityLetters[i]))
            parity = i;
    }
    if (parity < 0)
        return std::nullopt;
    f.parity = static_cast<Parity>(parity);
    if (t[2] != QLatin1Char('1') && t[2] != QLatin1Char('2'))
        return std::nullopt;
    f.stopBits = t[2].digitValue();
    return f;
}

ExchangeFloor exchangeFloor(const LineFormat& line, qint32 baud, qint64 requestBytes, qint64 replyBytes,
                            double waitingSeconds, double scanSeconds)
{
    ExchangeFloor f;
    f.wire = line.seconds(requestBytes + replyBytes, baud);
    f.settle = f.wire + waitingSeconds;
    f.floor = std::max(scanSeconds, f.settle);
    return f;
}

} // namespace tarvo
