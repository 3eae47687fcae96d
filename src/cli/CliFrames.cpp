#include "CliFrames.h"

#include "CliOutput.h"
#include "JournalCsv.h"

namespace tarvo::cli {

namespace {

QByteArray fieldsJson(const FrameExplanation& e)
{
    QByteArray out = "[";
    for (qsizetype i = 0; i < e.fields.size(); ++i) {
        const FrameField& f = e.fields[i];
        out += (i ? "," : "") + QByteArray("{\"offset\":") + QByteArray::number(f.offset) +
               ",\"bytes\":" + jsonString(spacedHex(e.bytes.mid(f.offset, f.length))) +
               ",\"field\":" + jsonString(f.name) + ",\"meaning\":" + jsonString(f.meaning) + "}";
    }
    return out + "]";
}

QByteArray fieldsText(const FrameExplanation& e)
{
    int offsetWidth = 0, bytesWidth = 0, nameWidth = 0;
    for (const FrameField& f : e.fields) {
        offsetWidth = std::max(offsetWidth, static_cast<int>(QString::number(f.offset).size()));
        bytesWidth = std::max(bytesWidth, f.length * 3 - 1);
        nameWidth = std::max(nameWidth, static_cast<int>(f.name.size()));
    }
    QByteArray out;
    for (const FrameField& f : e.fields) {
        QString line = QStringLiteral("  +%1  %2  %3  %4")
                           .arg(f.offset, -offsetWidth)
                           .arg(spacedHex(e.bytes.mid(f.offset, f.length)), -bytesWidth)
                           .arg(f.name, -nameWidth)
                           .arg(f.meaning);
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        out += line.toUtf8() + '\n';
    }
    return out;
}

QString readAs(const FrameExplanation& e)
{
    return e.reply ? QStringLiteral("reply") : QStringLiteral("request");
}

} // namespace

QByteArray frameHeader(Format format, bool explain)
{
    if (format != Format::Csv)
        return {};
    return explain ? "address,frame,offset,bytes,field,meaning\r\n" : "address,frame\r\n";
}

QByteArray frameOutput(const QString& address, const FrameExplanation& e, Format format, bool explain)
{
    const QString hex = spacedHex(e.bytes);
    switch (format) {
    case Format::Json:
        return "{\"address\":" + jsonString(address) + ",\"frame\":" + jsonString(hex) +
               (explain ? ",\"fields\":" + fieldsJson(e) : QByteArray()) + "}\n";
    case Format::Csv: {
        if (!explain)
            return csvRow({address, hex});
        QByteArray out;
        for (const FrameField& f : e.fields)
            out += csvRow({address, hex, QString::number(f.offset), spacedHex(e.bytes.mid(f.offset, f.length)), f.name,
                           f.meaning});
        return out;
    }
    case Format::Text:
        break;
    }
    return hex.toUtf8() + '\n' + (explain ? fieldsText(e) : QByteArray());
}

QByteArray checkOutput(const FrameExplanation& e, Protocol protocol, Format format, bool explain)
{
    const QString verdict = checkVerdictName(e.verdict);
    const QString carried = spacedHex(e.received);
    const QString computed = spacedHex(e.computed);
    // Bytes after the frame are no part of the check: said where a reason would be, so that a script
    // that reads only the verdict's row sees them too.
    const QString problem = e.problem.isEmpty() ? e.trailingNote() : e.problem;
    switch (format) {
    case Format::Json:
        return "{\"verdict\":" + jsonString(verdict) + ",\"check\":" + jsonString(e.checkName) +
               ",\"carried\":" + jsonString(carried) + ",\"computed\":" + jsonString(computed) +
               ",\"read_as\":" + jsonString(readAs(e)) + ",\"problem\":" + jsonString(problem) +
               (explain ? ",\"fields\":" + fieldsJson(e) : QByteArray()) + "}\n";
    case Format::Csv:
        return "verdict,check,carried,computed,read_as,problem\r\n" +
               csvRow({verdict, e.checkName, carried, computed, readAs(e), problem});
    case Format::Text:
        break;
    }
    QString line;
    switch (e.verdict) {
    case CheckVerdict::Ok:
    case CheckVerdict::Bad:
        line = QStringLiteral("%1: %2 carried %3, computed %4 (read as a %5)")
                   .arg(verdict, e.checkName, carried, computed, readAs(e));
        if (e.trailing > 0)
            line += QStringLiteral("; ") + e.trailingNote();
        break;
    case CheckVerdict::Unchecked:
        line = QStringLiteral("unchecked: %1 frames have no check value")
                   .arg(protocol == Protocol::None ? QStringLiteral("None") : QStringLiteral("these"));
        break;
    case CheckVerdict::NotAFrame:
        line = QStringLiteral("not-a-frame: %1").arg(e.problem);
        break;
    }
    return line.toUtf8() + '\n' + (explain ? fieldsText(e) : QByteArray());
}

QByteArray monitorHeader(Format format)
{
    switch (format) {
    case Format::Json:
        return {};
    case Format::Csv:
        return journalCsvHeader();
    case Format::Text:
        break;
    }
    // Frames differ in length, so the detail follows its frame rather than a column of its own.
    return QStringLiteral("%1  %2  FRAME  DETAIL\n")
        .arg(QStringLiteral("TIME").leftJustified(12), QStringLiteral("VERDICT").leftJustified(9))
        .toUtf8();
}

QByteArray monitorOutput(const JournalRecord& r, Format format)
{
    switch (format) {
    case Format::Json:
        return "{\"time\":" + jsonString(isoTime(r.time)) + ",\"frame\":" + jsonString(r.received) +
               ",\"verdict\":" + jsonString(verdictName(r.verdict)) + ",\"detail\":" + jsonString(r.detail) + "}\n";
    case Format::Csv:
        return journalCsvRow(r);
    case Format::Text:
        break;
    }
    return QStringLiteral("%1  %2  %3  %4")
               .arg(r.time.toString(QStringLiteral("HH:mm:ss.zzz")), verdictName(r.verdict).leftJustified(9),
                    r.received, r.detail)
               .trimmed()
               .toUtf8() +
           '\n';
}

} // namespace tarvo::cli
