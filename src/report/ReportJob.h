#pragma once

#include "ReportHtml.h"

#include <QString>
#include <QStringList>

namespace tarvo {

class ConsoleModel;

// The header's site part and the pass marks, as a site's settings hold them: its name, technician,
// slot names and the report group's thresholds. Every front end starts its report from this.
ReportContent reportSiteOf(const ConsoleModel& model);

// Reads the journals (and the census CSV, when given) into `content`: figures, charts, appendix and
// the files' sizes and digests. Throws JournalReadError for a file that cannot be read, before
// anything is written anywhere.
void gatherReport(ReportContent& content, const QStringList& journals, const QString& census);

} // namespace tarvo
