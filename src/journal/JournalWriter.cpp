#include "JournalWriter.h"

#include <QDir>
#include <QFileInfo>

namespace tarvo {

JournalWriter::JournalWriter(Journal& journal, std::function<QDateTime()> wallClock)
    : m_journal(journal), m_wallClock(std::move(wallClock))
{
    m_file.onFailure = [this](const QString& problem) {
        if (onFailure)
            onFailure(problem);
    };
    m_journal.addSink(this);
}

JournalWriter::~JournalWriter()
{
    m_journal.removeSink(this);
}

bool JournalWriter::start(const QString& folder, QString* error)
{
    stop();
    const QDir dir(folder.isEmpty() ? QStringLiteral(".") : folder);
    const QString name = journalFileName(m_wallClock());
    QString path = dir.filePath(name);
    // Writing started twice within a second: the second file gets a number rather than the first's
    // rows being overwritten.
    for (int n = 2; QFileInfo::exists(path) && n < 100; ++n)
        path = dir.filePath(name.chopped(4) + QStringLiteral("-%1.csv").arg(n));
    if (folder.isEmpty())
        path = QDir::cleanPath(path);
    return m_file.open(path, error);
}

void JournalWriter::stop()
{
    if (!m_file.isOpen())
        return;
    m_journal.flush();
    m_file.close();
}

void JournalWriter::append(const QList<JournalRecord>& records)
{
    m_file.append(records);
}

} // namespace tarvo
