// The journal reader over any file content, and what the report builds on what it accepts. A journal
// handed in by a customer or cut short by a pulled USB stick must give a clear message or a report,
// never a crash; a row the reader accepts must come back the same when the journal writes it again,
// and the figures must add up.
#include "FuzzSupport.h"
#include "JournalCsv.h"
#include "JournalReader.h"
#include "ReplySeries.h"
#include "ReportHtml.h"
#include "SlotStats.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <optional>

using namespace tarvo;

namespace {

void writeInput(const QString& path, const QByteArray& data)
{
    QFile f(path);
    fuzz::require(f.open(QIODevice::WriteOnly | QIODevice::Truncate), "the input file can be written");
    fuzz::require(f.write(data) == data.size(), "the input file is written whole");
}

// Every row of the file, as the journal writes it; nothing when the reader refuses the file.
std::optional<QByteArray> readBack(const QString& path, SlotStatsBuilder* builder, QByteArray* sha256Hex)
{
    try {
        JournalReader reader(path);
        QByteArray rows;
        JournalRecord record;
        while (reader.next(record)) {
            rows += journalCsvRow(record);
            if (builder)
                builder->add(record);
        }
        if (sha256Hex)
            *sha256Hex = reader.sha256Hex();
        return rows;
    } catch (const JournalReadError& e) {
        fuzz::require(!e.message().isEmpty(), "a refused journal says why");
        return std::nullopt;
    }
}

bool figuresAddUp(const TimeFigures& t)
{
    if (t.count == 0)
        return std::isnan(t.min) && std::isnan(t.p95) && std::isnan(t.max);
    return t.min <= t.p95 && t.p95 <= t.max && t.min <= t.max;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString path = dir.filePath(QStringLiteral("input.csv"));
    writeInput(path, input);

    SlotStatsBuilder builder;
    QByteArray sha256Hex;
    const std::optional<QByteArray> rows = readBack(path, &builder, &sha256Hex);
    if (!rows)
        return 0;
    fuzz::require(sha256Hex == QCryptographicHash::hash(input, QCryptographicHash::Sha256).toHex(),
                  "the digest is the whole file's");

    // What the reader accepted, written again by the journal's own writer, reads back to the same rows.
    const QString again = dir.filePath(QStringLiteral("again.csv"));
    writeInput(again, journalCsvHeader() + *rows);
    const std::optional<QByteArray> rowsAgain = readBack(again, nullptr, nullptr);
    fuzz::require(rowsAgain.has_value(), "rows the reader accepted, written again, are read again");
    fuzz::require(*rowsAgain == *rows, "rows the reader accepted read back the same");

    ReportContent content;
    content.controllers = builder.finish();
    content.firstTime = builder.firstTime();
    content.lastTime = builder.lastTime();
    content.failures = builder.failures();
    content.moreFailures = builder.moreFailures();
    fuzz::require(content.failures.size() <= SlotStatsBuilder::kFailureRows, "the appendix keeps its bound");
    for (const SlotStats& s : content.controllers) {
        fuzz::require(s.slot >= 1 && s.slot <= 32, "a controller is in a slot");
        fuzz::require(s.succeeded + s.badCheck + s.exceptions + s.noAnswer == s.requests, "every request ends one way");
        fuzz::require(s.answered == s.requests - s.noAnswer, "a request is answered or not");
        fuzz::require(s.extraTries >= 0 && s.extraTries <= 2 * s.requests, "at most three tries per request");
        fuzz::require(figuresAddUp(s.reply) && figuresAddUp(s.firstByte), "min <= p95 <= max");
    }
    content.series = readSeries({path}, content.controllers, content.firstTime, content.lastTime, 40);
    fuzz::require(content.series.size() == content.controllers.size(), "a series per controller");
    for (const ReplySeries& s : content.series)
        fuzz::require(s.columns().size() == 40, "a series has its width");
    const QByteArray html = reportHtml(content);
    fuzz::require(html == reportHtml(content), "the same content gives the same page");
    return 0;
}
