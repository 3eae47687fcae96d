#pragma once

#include "SlotStats.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace tarvo {

// Everything the report shows, gathered from the journals and the site's settings. Empty texts are
// left out of the header.
struct ReportContent {
    QString siteName;
    QString technician;
    QString link;          // "/dev/ttyUSB0 (usb-FTDI_...) 9600 8N1", "10.0.0.5:502 Modbus TCP over TCP"
    QString protocol;      // "Modbus", ...
    QStringList slotNames; // slot 1 at index 0; empty or missing: no name
    ReportMarks marks;
    QDateTime firstTime;
    QDateTime lastTime;
    QList<JournalFileInfo> files;
    QList<SlotStats> controllers;
    std::optional<CensusTable> census;
    QList<ReplySeries> series;     // one per controller, in the same order; empty: no charts
    QList<JournalRecord> failures; // the appendix: the first failed attempts
    long moreFailures = 0;         // and how many more there were
};

// The width of a controller's chart: one series column per pixel.
inline constexpr int kChartColumns = 600;

// Whether every controller in the report passes; none at all is no pass.
bool reportPasses(const ReportContent& content);

// The report as one self-contained HTML page (UTF-8): inline CSS, no script, nothing fetched, laid out
// for A4 when printed. The same content gives the same bytes: nothing in it comes from the clock or
// from chance.
QByteArray reportHtml(const ReportContent& content);

} // namespace tarvo
