#pragma once

#include "ReportHtml.h"

#include <QString>
#include <QStringList>

namespace tarvo {

class ConsoleModel;

// The header's site part and the pass marks, as a site's settings hold them: its name, technician,
// slot names and the report group's thresholds. Every front end starts its report from this.
// The link and the protocol come from the console's settings as they stand (Tarvo.cfg and Tarvo.ini).
ReportContent reportSiteOf(const ConsoleModel& model);

// The link as the report's header names it. Serial: the device, its stable /dev/serial/by-id name when
// the machine has one, the speed and the line format ("/dev/ttyUSB0 (usb-FTDI_FT232R_A1-if00-port0)
// 9600 8N1"). Network: the peer, the framing and the transport ("10.0.0.5:502, Modbus TCP over UDP").
// `byIdFolder` is the system's; tests point it elsewhere.
QString reportLinkText(const ConsoleModel& model, const QString& byIdFolder = QStringLiteral("/dev/serial/by-id"));

// Reads the journals (and the census CSV, when given) into `content`: figures, charts, appendix and
// the files' sizes and digests. Throws JournalReadError for a file that cannot be read, before
// anything is written anywhere.
void gatherReport(ReportContent& content, const QStringList& journals, const QString& census);

} // namespace tarvo
