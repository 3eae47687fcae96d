#pragma once

#include "JournalRecord.h"

#include <QByteArray>
#include <QCryptographicHash>
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
class JournalReader {
public:
    explicit JournalReader(const QString& path);

    // The next row into `record`; false at the end of the file.
    bool next(JournalRecord& record);

    QString path() const { return m_file.fileName(); }
    qint64 size() const { return m_file.size(); }
    // The SHA-256 of the whole file, in lower-case hexadecimal; valid once next() returned false.
    QByteArray sha256Hex() const { return m_hash.result().toHex(); }

private:
    [[noreturn]] void fail(int line, const QString& why) const;
    bool readLine(QByteArray& line);

    QFile m_file;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    int m_line = 0; // the last physical line read, from 1
};

// A CSV record's fields (RFC 4180: quoted fields may hold commas, doubled quotes and line breaks).
// `more` is called for the next physical line while a quoted field is open; it returns false at the
// end of the input, and the record is then malformed. nullopt for a malformed record.
std::optional<QStringList> splitCsvRecord(QByteArray line, const std::function<bool(QByteArray&)>& more);

} // namespace tarvo
