#pragma once

#include <QString>
#include <QStringList>

namespace tarvo {

class Clock;
class Trace;

// What a link that dropped under a running cycle goes through, told to the trace (whose "Link
// lost" lines the console shows in its status bar) and kept as notes for the journal: when it was
// lost, each try to open it again, and when it came back after how long.
class Reconnects {
public:
    Reconnects(Trace& trace, const Clock& clock) : m_trace(trace), m_clock(clock) {}

    // The link went away; `what` says which and why.
    void lost(const QString& what);
    // A try to open it again starts (the first one also marks the loss when nobody noticed it).
    void trying();
    // The try failed, for this reason.
    void failed(const QString& why);
    // The try worked; `where` names what was opened.
    void back(const QString& where);
    // The cycle ended: whatever was going on is over.
    void forget();

    bool isLost() const { return m_lost; }
    int tries() const { return m_tries; }
    QStringList takeNotes();

private:
    Trace& m_trace;
    const Clock& m_clock;
    bool m_lost = false;
    double m_lostAt = 0; // the clock's seconds
    QString m_lostTime;  // the time of day, as the operator reads it
    int m_tries = 0;
    QStringList m_notes;
};

} // namespace tarvo
