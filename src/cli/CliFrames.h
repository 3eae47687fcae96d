#pragma once

#include "CliOptions.h"
#include "Explain.h"
#include "JournalRecord.h"

#include <QByteArray>
#include <QString>

namespace tarvo::cli {

// `frame`: one frame a line in upper-case hex; with explain, its fields under it (text), beside it
// (JSON, "fields"), or one row a field (CSV). header: the CSV header row, written once.
QByteArray frameHeader(Format format, bool explain);
QByteArray frameOutput(const QString& address, const FrameExplanation& frame, Format format, bool explain);

// `check`: the verdict, the check values carried and computed, whether the frame read as a request or
// a reply, and with explain its fields.
QByteArray checkOutput(const FrameExplanation& frame, Protocol protocol, Format format, bool explain);

// `monitor`: one frame heard a line: time, verdict, bytes, detail (text); the journal's CSV (header
// first); JSON Lines with the keys time, frame, verdict, detail.
QByteArray monitorHeader(Format format);
QByteArray monitorOutput(const JournalRecord& frame, Format format);

} // namespace tarvo::cli
