#include "ReplyPattern.h"

namespace tarvo::plans {

namespace {

int hexValue(QChar c)
{
    const char l = c.toLatin1();
    if (l >= '0' && l <= '9')
        return l - '0';
    if (l >= 'a' && l <= 'f')
        return l - 'a' + 10;
    if (l >= 'A' && l <= 'F')
        return l - 'A' + 10;
    return -1;
}

} // namespace

std::optional<ReplyPattern> ReplyPattern::parse(const QString& text, QString* error)
{
    auto fail = [error](const QString& why) -> std::optional<ReplyPattern> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    ReplyPattern p;
    QString half; // the first character of a byte under way
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (!half.isEmpty())
                return fail(QStringLiteral("\"%1\" is half a byte: two digits, or ?? for any byte").arg(half));
            continue;
        }
        if (p.m_anyTail)
            return fail(QStringLiteral("\"*\" stands for the tail and comes last"));
        if (c == QLatin1Char('*')) {
            if (!half.isEmpty())
                return fail(QStringLiteral("\"%1\" is half a byte: two digits, or ?? for any byte").arg(half));
            p.m_anyTail = true;
            continue;
        }
        if (c != QLatin1Char('?') && hexValue(c) < 0)
            return fail(
                QStringLiteral("\"%1\" (character %2) is not a hexadecimal digit, ?? or a final *").arg(c).arg(i + 1));
        if (half.isEmpty()) {
            half = c;
            continue;
        }
        const QChar first = half.at(0);
        half.clear();
        const bool wildFirst = first == QLatin1Char('?');
        const bool wildSecond = c == QLatin1Char('?');
        if (wildFirst != wildSecond)
            return fail(
                QStringLiteral("\"%1%2\" is half wild: a byte is two digits, or ?? for any byte").arg(first, c));
        p.m_bytes << (wildFirst ? -1 : hexValue(first) * 16 + hexValue(c));
    }
    if (!half.isEmpty())
        return fail(QStringLiteral("\"%1\" is half a byte: two digits, or ?? for any byte").arg(half));
    if (p.m_bytes.isEmpty() && !p.m_anyTail)
        return fail(QStringLiteral("the pattern is empty: bytes in hexadecimal, ?? for any byte, * for any tail"));
    return p;
}

bool ReplyPattern::matches(const QByteArray& bytes) const
{
    if (bytes.size() < m_bytes.size() || (!m_anyTail && bytes.size() != m_bytes.size()))
        return false;
    for (qsizetype i = 0; i < m_bytes.size(); ++i) {
        if (m_bytes[i] >= 0 && static_cast<unsigned char>(bytes[i]) != m_bytes[i])
            return false;
    }
    return true;
}

QString ReplyPattern::text() const
{
    QStringList parts;
    for (int b : m_bytes)
        parts << (b < 0 ? QStringLiteral("??") : QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper());
    if (m_anyTail)
        parts << QStringLiteral("*");
    return parts.join(QLatin1Char(' '));
}

} // namespace tarvo::plans
