#pragma once

#include "Journal.h"

#include <QDateTime>
#include <QFile>
#include <QString>
#include <functional>

namespace tarvo {

// One CSV field as RFC 4180 has it (UTF-8): in quotes, its quotes doubled, when it holds a comma, a
// quote or a line break.
QByteArray csvField(const QString& text);
// The fields as one CSV row, ended by CR LF.
QByteArray csvRow(const QStringList& fields);

// The journal as CSV (RFC 4180, UTF-8, CR LF), one row per attempt, after this header row.
QByteArray journalCsvHeader();
QByteArray journalCsvRow(const JournalRecord& record);

// journal-YYYYMMDD-HHMMSS.csv for a journal started at that time.
QString journalFileName(const QDateTime& started);

// Writes the given rows, header first, as one new file replacing any old one as a whole (the
// project's checked writer). False with the reason when it cannot.
bool exportJournal(const QString& path, const QList<JournalRecord>& records, QString* error = nullptr);

// The journal file of a running console or tool: opened with its header, every batch written as it
// comes (the console hands batches several times a second, so a crash loses less than a second), closed
// with the last batch. A write that fails (a full disk, a folder gone) is undone back to the last whole
// row, reported once through onFailure, and ends the file: the rows before it stay intact, and the
// exchanges go on.
class JournalFile final : public JournalSink {
public:
    ~JournalFile() override;

    bool open(const QString& path, QString* error = nullptr);
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    bool failed() const { return m_failed; }
    QString path() const { return m_file.fileName(); }

    void append(const QList<JournalRecord>& records) override;

    std::function<void(const QString& problem)> onFailure;

private:
    void fail(const QString& problem);

    QFile m_file;
    qint64 m_written = 0; // bytes of whole rows in the file
    bool m_failed = false;
};

} // namespace tarvo
