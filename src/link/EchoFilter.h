#pragma once

#include <QByteArray>
#include <QStringList>

namespace tarvo {

// A half-duplex adapter hears its own frames: what was sent comes back first, before the
// controller's reply. The filter takes those bytes out of what is received, so that counts,
// thresholds and checks see the reply only. Bytes that do not follow the frame sent are left in place
// (a controller that answered over the echo, an adapter that does not echo after all) and noted.
class EchoFilter {
public:
    // A frame has been written: its bytes are the next to be heard.
    void expect(const QByteArray& sent);
    // Stops expecting (the port closed, a write failed). An echo cut short is noted.
    void reset();
    // The bytes received since the last call, with the echo taken out. The first bytes of an echo
    // are held back until the rest has come, so a count never includes half an echo; if the rest
    // does not match they are given back, in their place.
    QByteArray take(const QByteArray& received);
    // Echo bytes still to come.
    qsizetype pending() const { return m_expected.size() - m_matched; }
    // What was noticed since the last call, one line each; cleared by the call.
    QStringList takeNotes();

private:
    QByteArray m_expected;
    qsizetype m_matched = 0;
    QStringList m_notes;
};

} // namespace tarvo
