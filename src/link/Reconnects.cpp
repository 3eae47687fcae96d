#include "Reconnects.h"

#include "Clock.h"
#include "Trace.h"

#include <QTime>

namespace tarvo {

void Reconnects::lost(const QString& what)
{
    if (m_lost)
        return;
    m_lost = true;
    m_lostAt = m_clock.now();
    m_lostTime = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
    m_tries = 0;
    const QString said = what.isEmpty() ? QString() : QStringLiteral(": ") + what;
    m_trace.write(QStringLiteral("Link lost at %1%2").arg(m_lostTime, said));
    m_notes << QStringLiteral("link lost at %1%2").arg(m_lostTime, said);
}

void Reconnects::trying()
{
    lost({});
    ++m_tries;
    m_trace.write(m_tries == 1 ? QStringLiteral("Link lost: connecting again")
                               : QStringLiteral("Link lost: connecting again (try %1)").arg(m_tries));
    m_notes << QStringLiteral("connecting again (try %1)").arg(m_tries);
}

void Reconnects::failed(const QString& why)
{
    m_notes << QStringLiteral("try %1 failed: %2").arg(m_tries).arg(why);
}

void Reconnects::back(const QString& where)
{
    if (!m_lost)
        return;
    const QString after = QString::number(m_clock.now() - m_lostAt, 'f', 1);
    const QString tries = m_tries == 1 ? QStringLiteral("1 try") : QStringLiteral("%1 tries").arg(m_tries);
    m_trace.write(QStringLiteral("Link lost at %1, back after %2 s (%3): %4").arg(m_lostTime, after, tries, where));
    m_notes << QStringLiteral("link back after %1 s (%2): %3").arg(after, tries, where);
    m_lost = false;
    m_tries = 0;
}

void Reconnects::forget()
{
    m_lost = false;
    m_tries = 0;
}

QStringList Reconnects::takeNotes()
{
    QStringList notes;
    notes.swap(m_notes);
    return notes;
}

} // namespace tarvo
