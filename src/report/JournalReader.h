#pragma once

#include "JournalRecord.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <functional>
#include <optional>
#include <stdexcept>

namespace tarvo {

// A journal file that cannot be read: the message names the file and, for a bad row, its line.
class JournalReadError : public std::runtime_error {
public:
    explicit JournalReadError(const QString& message) : std::runtime_error(message.toStdString()), m_message(message) {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

// Reads a journal CSV back one row at a time, so that a day's journal never has to fit in memory. The
// bytes are hashed as they pass, so the file's SHA-256 costs no second read. Throws JournalReadError for
// a missing file, a header that is not a journal's, or a row that cannot be read.
//
// A day's journal is over a million rows, read twice for a report: rows are cut from a block buffer
// without a copy, and a row without quotes (every row the console writes but one with a quoted detail)
// is split at its commas in place; only a row with quotes goes through the full CSV reading.
class JournalReader {
public:
    enum class Digest { Sha256, None }; // None: a second read that needs no digest
    explicit JournalReader(const QString& path, Digest digest = Digest::Sha256);

    // The next row into `record`; false at the end of the file.
    bool next(JournalRecord& record);

    QString path() const { return m_file.fileName(); }
    qint64 size() const { return m_file.size(); }
    // The SHA-256 of the whole file, in lower-case hexadecimal; valid once next() returned false.
    QByteArray sha256Hex() const { return m_hash.result().toHex(); }

private:
    [[noreturn]] void fail(int line, const QString& why) const;
    // The next physical line without its line end, valid until the next call; false at the end.
    bool readLine(QByteArrayView& line);
    bool fill(); // more of the file into the buffer; false at its end

    QFile m_file;
    bool m_digest = true;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    QByteArray m_buffer;
    qsizetype m_pos = 0; // the first byte of m_buffer not yet handed out
    bool m_atEnd = false;
    int m_line = 0; // the last physical line read, from 1
};

// A journal row's time as the journal writes it ("2026-12-10T09:00:00.000+01:00"), read without the
// general ISO 8601 parser; anything else in ISO 8601 with milliseconds as QDateTime reads it. Invalid
// for anything that is not a time.
QDateTime journalTime(QByteArrayView text);

// A CSV record's fields (RFC 4180: quoted fields may hold commas, doubled quotes and line breaks).
// `more` is called for the next physical line while a quoted field is open; it returns false at the
// end of the input, and the record is then malformed. nullopt for a malformed record.
std::optional<QStringList> splitCsvRecord(QByteArray line, const std::function<bool(QByteArray&)>& more);

} // namespace tarvo
