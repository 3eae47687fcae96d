// tarvo-cli report: the commissioning report of journal files, as one HTML page.

#include "CliOptions.h"
#include "ConfigFile.h"
#include "ConsoleModel.h"
#include "IniFile.h"
#include "JournalReader.h"
#include "ReportJob.h"
#include "Run.h"
#include "SafeFile.h"

#include <QDir>
#include <QFileInfo>

namespace tarvo::cli {

int report(const Options& o)
{
    // Refused before anything is read: a report handed over must never be replaced by a later run.
    if (QFileInfo::exists(o.output)) {
        say(QStringLiteral("%1: exists already; the report is never written over a file").arg(o.output));
        return status::kUsage;
    }
    ReportContent content;
    if (!o.site.isEmpty()) {
        if (!QFileInfo(o.site).isDir()) {
            say(QStringLiteral("--site %1: no such folder").arg(o.site));
            return status::kLinkDown; // a file that cannot be read
        }
        // The link and protocol of the header are the site's own, as its console would start with them;
        // a site without a Tarvo.cfg has none, and the header then says nothing of them rather than
        // give the console's defaults as the site's.
        ConsoleModel model;
        const QString cfg = QDir(o.site).filePath(config::configFileName());
        const bool hasCfg = QFileInfo(cfg).isFile();
        if (hasCfg)
            config::ReadConfig(model, cfg);
        config::ReadIni(model, QDir(o.site).filePath(QStringLiteral("Tarvo.ini")));
        content = reportSiteOf(model);
        if (!hasCfg) {
            content.link.clear();
            content.protocol.clear();
        }
    }
    try {
        gatherReport(content, o.journals, o.census);
    } catch (const JournalReadError& e) {
        say(e.message() + QStringLiteral("; no report was written"));
        return status::kLinkDown;
    }
    QString error;
    if (!writeFileAtomically(o.output, reportHtml(content), &error)) {
        say(QStringLiteral("%1: cannot be written: %2").arg(o.output, error));
        return status::kLinkDown;
    }
    return status::kOk;
}

} // namespace tarvo::cli
