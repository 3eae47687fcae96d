#pragma once

#include <QString>
#include <exception>
#include <string>

namespace tarvo {

// A failure that passes to the caller: a number and a description, as the operator sees them in
// "Error #" boxes and trace lines.
class TarvoError : public std::exception {
public:
    TarvoError(int number, QString description)
        : m_number(number), m_description(std::move(description)), m_what(m_description.toStdString())
    {
    }
    int number() const { return m_number; }
    const QString& description() const { return m_description; }
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    int m_number;
    QString m_description;
    std::string m_what;
};

namespace error {
constexpr int kInvalidArgument = 5;
constexpr int kOverflow = 6;
constexpr int kTypeMismatch = 13;

inline TarvoError invalidArgument()
{
    return {kInvalidArgument, QStringLiteral("Invalid procedure call or argument")};
}
inline TarvoError overflow()
{
    return {kOverflow, QStringLiteral("Overflow")};
}
inline TarvoError typeMismatch()
{
    return {kTypeMismatch, QStringLiteral("Type mismatch")};
}
} // namespace error

// A failure whose description is written for the operator ("Time Out Delay is not a number"), shown
// as it stands where the exchange reports its errors.
class OperatorError : public TarvoError {
public:
    explicit OperatorError(const QString& text) : TarvoError(0, text) {}
};

// A request that would put something on the wire other than what the operator typed. It is refused
// before anything is sent; the text is meant for the slot's reply box.
class RequestRefused : public OperatorError {
public:
    using OperatorError::OperatorError;
};

} // namespace tarvo
