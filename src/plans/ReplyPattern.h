#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace tarvo::plans {

// The shape a reply must have: bytes in hexadecimal, "??" for any byte, and a final "*" for any tail
// (none included). "05 73 ?? ?? 04" is five bytes exactly; "05 73 *" any reply that begins 05 73.
class ReplyPattern {
public:
    // Spaces between bytes are optional. Nothing, with the reason in *error, for anything else: an odd
    // digit, a character that is neither a digit nor "?", a "*" that is not last, a half-wild byte.
    static std::optional<ReplyPattern> parse(const QString& text, QString* error = nullptr);

    bool matches(const QByteArray& bytes) const;
    // The pattern as the reasons quote it: "05 73 ?? ?? 04", "05 73 *".
    QString text() const;

private:
    QList<int> m_bytes; // 0 to 255, or -1 for any byte
    bool m_anyTail = false;
};

} // namespace tarvo::plans
