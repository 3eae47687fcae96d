#pragma once

#include "AddressResult.h"
#include "CliOptions.h"

#include <QByteArray>
#include <QString>
#include <cstdio>

namespace tarvo::cli {

// What a memory read adds to an address's record: the records it wrote to the dump, and the dump.
struct MemoryExtra {
    int records = 0;
    QString output;
};

// The records on standard output: one per address and round, as text for people (aligned columns
// under a header), CSV with a header row, or JSON Lines. Each record is written and flushed as soon
// as its exchange ends, so a pipe sees it at once.
class RecordWriter {
public:
    enum class Kind { Exchange, Census, Memory };
    // sentWidth: the longest request, so that the text columns after it line up.
    RecordWriter(Format format, Kind kind, int sentWidth = 0, std::FILE* out = stdout);

    QByteArray header() const; // empty for JSON
    QByteArray line(const AddressResult& result, const MemoryExtra* extra = nullptr) const;

    // CSV's header row goes out at once (a run that found nothing is still a table); the text header
    // comes with the first record.
    void writeHeader();
    void write(const AddressResult& result, const MemoryExtra* extra = nullptr);
    // Called before anything else goes to the terminal (a progress line is cleared first).
    std::function<void()> beforeWrite;

private:
    Format m_format;
    Kind m_kind;
    int m_sentWidth;
    std::FILE* m_out;
    bool m_headerDue = false;
};

// Counts verdicts for the summary line and the exit status.
struct Tally {
    int total = 0;
    int ok = 0;
    int badCheck = 0;
    int exceptions = 0; // Modbus exception replies: answered, but refused
    int noAnswer = 0;
    int noReplyExpected = 0;
    int errors = 0;

    void add(JournalRecord::Verdict verdict);
    int answered() const { return ok + badCheck + exceptions; }
    // 2 when a reply failed its check; else 4 when a controller refused with a Modbus exception; else
    // 1 when an address did not answer (an error counts as not answering); else 0.
    int exitStatus() const;
    // "3 of 4 answered, 1 no answer"
    QString line() const;
};

// One line on standard error, drawn over itself, while a long run goes on; only on a terminal.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : m_enabled(enabled) {}
    ~ProgressLine() { clear(); }
    void show(const QString& text);
    void clear();
    bool enabled() const { return m_enabled; }

private:
    bool m_enabled;
    bool m_shown = false;
};

// A JSON string, quotes and escapes included.
QByteArray jsonString(const QString& text);

} // namespace tarvo::cli
