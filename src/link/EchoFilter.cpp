#include "EchoFilter.h"

namespace tarvo {

namespace {
QString hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}
} // namespace

void EchoFilter::expect(const QByteArray& sent)
{
    reset();
    m_expected = sent;
}

void EchoFilter::reset()
{
    if (m_matched > 0 && m_matched < m_expected.size())
        m_notes << QStringLiteral("echo cut short: heard %1 of the %2 bytes sent (%3)")
                       .arg(m_matched)
                       .arg(m_expected.size())
                       .arg(hex(m_expected.left(m_matched)));
    m_expected.clear();
    m_matched = 0;
}

QByteArray EchoFilter::take(const QByteArray& received)
{
    if (m_expected.isEmpty() || received.isEmpty())
        return received;
    for (qsizetype i = 0; i < received.size(); ++i) {
        if (received[i] == m_expected[m_matched]) {
            if (++m_matched == m_expected.size()) {
                m_expected.clear();
                m_matched = 0;
                return received.mid(i + 1);
            }
            continue;
        }
        // Not the frame sent: what was held back goes back in front, and nothing is dropped.
        const QByteArray held = m_expected.left(m_matched);
        const QByteArray heard = held + received.mid(i);
        m_notes << QStringLiteral("echo did not match: sent %1, heard %2 first")
                       .arg(hex(m_expected), hex(heard.left(m_expected.size())));
        m_expected.clear();
        m_matched = 0;
        return heard;
    }
    return {};
}

QStringList EchoFilter::takeNotes()
{
    QStringList notes;
    notes.swap(m_notes);
    return notes;
}

} // namespace tarvo
