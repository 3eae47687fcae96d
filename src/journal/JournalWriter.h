#pragma once

#include "JournalCsv.h"

#include <QDateTime>
#include <QString>
#include <functional>

namespace tarvo {

// The console's journal file, switched on and off by the operator: every start of writing opens a
// new journal-YYYYMMDD-HHMMSS.csv in the chosen folder, and stop() closes it with the rows still
// pending. It is a sink of the journal for its whole life, so rows made before writing starts (a send
// from the command line, run before the window exists) are kept until the first flush and go into
// the file opened meanwhile.
class JournalWriter final : public JournalSink {
public:
    explicit JournalWriter(Journal& journal, std::function<QDateTime()> wallClock = &localNow);
    ~JournalWriter() override;
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    // Opens a new file in folder (empty: the working folder); a file already there is never
    // overwritten. False, with the reason, when the file cannot be created.
    bool start(const QString& folder, QString* error = nullptr);
    // Hands the journal's pending rows to its sinks, this file included, then closes the file.
    void stop();
    bool writing() const { return m_file.isOpen(); }
    // The file being written (or the last one), as a path from the working folder.
    QString path() const { return m_file.path(); }

    void append(const QList<JournalRecord>& records) override;

    // A write that failed: the file ends there (its rows so far intact) and writing() turns false.
    // Told once per file.
    std::function<void(const QString& problem)> onFailure;

private:
    Journal& m_journal;
    std::function<QDateTime()> m_wallClock;
    JournalFile m_file;
};

} // namespace tarvo
