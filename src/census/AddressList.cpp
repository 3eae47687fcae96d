#include "AddressList.h"

#include <QSet>

namespace tarvo {

namespace {

constexpr int kMaxAddress = 65535;
constexpr int kMinSpeed = 50;
constexpr int kMaxSpeed = 4000000;

// A decimal number of digits only (no sign, no blanks inside), at most `max`.
std::optional<int> number(const QString& text, int max)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 7)
        return std::nullopt;
    int value = 0;
    for (const QChar c : t) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
    }
    if (value > max)
        return std::nullopt;
    return value;
}

template <typename T> std::optional<T> failed(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return std::nullopt;
}

} // namespace

std::optional<QList<int>> parseAddressRange(const QString& text, QString* error)
{
    const QString t = text.trimmed();
    qsizetype cut = t.indexOf(QLatin1String(".."));
    qsizetype sepLength = 2;
    if (cut < 0) {
        cut = t.indexOf(QLatin1Char('-'));
        sepLength = 1;
    }
    const auto low = number(cut < 0 ? t : t.left(cut), kMaxAddress);
    const auto high = cut < 0 ? low : number(t.mid(cut + sepLength), kMaxAddress);
    if (!low || !high)
        return failed<QList<int>>(
            error, QStringLiteral("\"%1\" is not an address range (A..B, addresses 0 to 65535)").arg(text));
    if (*high < *low)
        return failed<QList<int>>(error, QStringLiteral("\"%1\": the range ends before it starts").arg(text));
    QList<int> out;
    out.reserve(*high - *low + 1);
    for (int a = *low; a <= *high; ++a)
        out.append(a);
    return out;
}

std::optional<QList<int>> parseAddressList(const QString& text, QString* error)
{
    const QStringList items = text.split(QLatin1Char(','));
    if (text.trimmed().isEmpty())
        return failed<QList<int>>(error, QStringLiteral("no address given"));
    QList<int> out;
    QSet<int> seen;
    for (const QString& item : items) {
        QString why;
        const auto range = parseAddressRange(item, &why);
        if (!range)
            return failed<QList<int>>(
                error, QStringLiteral("\"%1\" is not an address (0 to 65535) or a range A..B").arg(item.trimmed()));
        for (int a : *range) {
            if (!seen.contains(a)) {
                seen.insert(a);
                out.append(a);
            }
        }
    }
    return out;
}

std::optional<QList<int>> parseSpeedList(const QString& text, QString* error)
{
    if (text.trimmed().isEmpty())
        return failed<QList<int>>(error, QStringLiteral("no speed given"));
    QList<int> out;
    for (const QString& item : text.split(QLatin1Char(','))) {
        const auto speed = number(item, kMaxSpeed);
        if (!speed || *speed < kMinSpeed)
            return failed<QList<int>>(
                error, QStringLiteral("\"%1\" is not a speed in bit/s (50 to 4000000)").arg(item.trimmed()));
        if (!out.contains(*speed))
            out.append(*speed);
    }
    return out;
}

QString addressListText(const QList<int>& addresses)
{
    QStringList parts;
    for (qsizetype i = 0; i < addresses.size();) {
        qsizetype j = i;
        while (j + 1 < addresses.size() && addresses[j + 1] == addresses[j] + 1)
            ++j;
        if (j - i >= 2) {
            parts << QStringLiteral("%1..%2").arg(addresses[i]).arg(addresses[j]);
            i = j + 1;
        } else {
            parts << QString::number(addresses[i]);
            ++i;
        }
    }
    return parts.join(QLatin1Char(','));
}

} // namespace tarvo
