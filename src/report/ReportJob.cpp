#include "ReportJob.h"

#include "ConsoleModel.h"
#include "JournalReader.h"

namespace tarvo {

ReportContent reportSiteOf(const ConsoleModel& model)
{
    ReportContent content;
    content.siteName = model.ini.site.name;
    content.technician = model.ini.site.technician;
    for (const QString& name : model.ini.slotNames)
        content.slotNames << name;
    content.marks.minSuccessPercent = model.ini.report.minSuccessPercent;
    content.marks.maxP95ReplyMs = model.ini.report.maxP95ReplyMs;
    return content;
}

void gatherReport(ReportContent& content, const QStringList& journals, const QString& census)
{
    SlotStatsBuilder builder;
    content.files = readJournals(journals, builder);
    content.controllers = builder.finish();
    content.firstTime = builder.firstTime();
    content.lastTime = builder.lastTime();
    content.failures = builder.failures();
    content.moreFailures = builder.moreFailures();
    content.series = readSeries(journals, content.controllers, content.firstTime, content.lastTime, kChartColumns);
    if (!census.isEmpty())
        content.census = readCensus(census);
}

} // namespace tarvo
