#include "ReportHtml.h"

#include "JournalRecord.h"

#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <cmath>
#include <utility>

namespace tarvo {

namespace {

QString esc(const QString& text)
{
    return text.toHtmlEscaped();
}

// Milliseconds with one decimal, as the journal has them; a dash for none.
QString ms(double value)
{
    return std::isnan(value) ? QStringLiteral("–") : QString::number(value, 'f', 1);
}

QString percent(double value)
{
    return std::isnan(value) ? QStringLiteral("–") : QString::number(value, 'f', 2) + QStringLiteral(" %");
}

QString timeText(const QDateTime& time)
{
    return time.isValid() ? isoTime(time) : QStringLiteral("–");
}

// The number with thin groups of thousands, the same on every machine (never the system's locale).
QString count(long n)
{
    return QLocale::c().toString(static_cast<qlonglong>(n));
}

const char* const kStyle = R"(
body{font-family:"DejaVu Sans",Arial,sans-serif;font-size:10pt;color:#1a1a1a;margin:2em;}
h1{font-size:16pt;margin:0 0 .3em 0;}
h2{font-size:12pt;margin:1.4em 0 .4em 0;}
table{border-collapse:collapse;margin:.3em 0;}
th,td{border:1px solid #bbb;padding:.2em .5em;text-align:left;vertical-align:top;}
td.n{text-align:right;font-variant-numeric:tabular-nums;}
tr{break-inside:avoid;page-break-inside:avoid;}
.head th{background:#f0f0f0;width:11em;}
.hex,.failures,.census{font-size:8pt;}
.failures,.census{width:100%;table-layout:fixed;}
.failures td,.failures th,.census td,.census th{padding:.1em .3em;overflow-wrap:anywhere;}
.failures .c-time{width:24%;}.c-slot,.c-try{width:4%;}.c-address{width:7%;}.failures .c-function{width:12%;}
.failures .c-sent{width:14%;}.failures .c-received{width:15%;}.c-verdict{width:9%;}.failures .c-detail{width:10%;}
.census .c-time{width:26%;}.census .c-function{width:9%;}.c-speed,.c-attempts,.c-first_byte_ms,.c-reply_ms{width:6%;}
.census .c-sent{width:12%;}.census .c-received{width:12%;}.census .c-verdict{width:8%;}.census .c-detail{width:8%;}
.t,.v{white-space:nowrap;}
.axis{display:flex;justify-content:space-between;width:600px;font-size:8pt;color:#555;margin:0 0 .4em 0;}
.hash{font-family:"DejaVu Sans Mono",monospace;font-size:8pt;word-break:break-all;}
.verdict{font-size:14pt;font-weight:bold;padding:.4em .8em;display:inline-block;border-radius:4px;}
.pass{background:#d9f2d9;color:#145214;}
.fail{background:#f8d7d7;color:#7a1010;}
.slot{break-inside:avoid;page-break-inside:avoid;}
@page{size:A4;margin:15mm;}
@media print{body{margin:0;font-size:9pt;}.failures,.census{font-size:7pt;}}
)";

// The colour of a verdict in the strip under a chart, as the console tints its reply boxes: green
// answered, amber a bad check value or a refusal, red silence or an error, grey the rest.
const char* verdictColour(int verdict)
{
    using V = JournalRecord::Verdict;
    switch (static_cast<V>(verdict)) {
    case V::Ok:
        return "#3a9a3a";
    case V::BadCheck:
    case V::Exception:
        return "#e0a000";
    case V::NoAnswer:
    case V::Error:
        return "#c82828";
    default:
        return "#999999";
    }
}

// Reply time over the run as min-max bars, one per pixel column, over a strip of each column's verdicts
// (runs of alike columns drawn as one rectangle, to keep the file small).
QString chartSvg(const ReplySeries& series)
{
    const QList<ReplySeries::Column>& cols = series.columns();
    const int width = static_cast<int>(cols.size());
    const int plot = 100; // the reply times' height
    const int strip = 10; // the verdicts' height
    // Some room above the slowest reply, so that a steady reply time is not drawn on the frame's edge.
    const double top = std::isnan(series.maxMs()) || series.maxMs() <= 0 ? 1.0 : series.maxMs() * 1.15;
    QString svg = QStringLiteral("<svg width=\"%1\" height=\"%2\" "
                                 "viewBox=\"0 0 %1 %2\" role=\"img\" aria-label=\"reply time over the run\">\n")
                      .arg(width + 60) // room for a reply time of four digits beside the plot
                      .arg(plot + strip + 4);
    svg += QStringLiteral("<rect x=\"0\" y=\"0\" width=\"%1\" height=\"%2\" fill=\"#fafafa\" stroke=\"#ccc\"/>\n")
               .arg(width)
               .arg(plot);
    QString path;
    for (int x = 0; x < width; ++x) {
        const ReplySeries::Column& c = cols[x];
        if (std::isnan(c.minMs))
            continue;
        // A bar at least two pixels high and two wide, so a steady reply time or a lone reply still shows.
        const double lo = plot - c.minMs / top * (plot - 2);
        const double hi = std::min(lo - 2, plot - c.maxMs / top * (plot - 2));
        path += QStringLiteral("M%1.5 %2V%3").arg(x).arg(QString::number(lo, 'f', 1), QString::number(hi, 'f', 1));
    }
    if (!path.isEmpty())
        svg += QStringLiteral("<path d=\"%1\" stroke=\"#1f5fa8\" stroke-width=\"2\" fill=\"none\"/>\n").arg(path);
    // Each column's strip: its failed attempts' share drawn from the bottom in the worst verdict's
    // colour, at least two pixels, over green for the rest. A controller that loses a try now and then
    // shows slivers, a dead one a full bar: coloured by the worst alone, a day's chart of the first
    // would be as red as the second.
    const auto stripOf = [&](const ReplySeries::Column& c) {
        using V = JournalRecord::Verdict;
        int total = 0;
        for (int n : c.counts)
            total += n;
        const int good = c.counts[static_cast<size_t>(V::Ok)] + c.counts[static_cast<size_t>(V::NoReplyExpected)];
        if (c.worst < 0 || total == 0 || good == total || good == 0)
            return std::pair{c.worst, strip};
        const int failed = static_cast<int>(std::lround(double(strip) * (total - good) / total));
        return std::pair{c.worst, std::clamp(failed, 2, strip - 2)};
    };
    for (int x = 0; x < width;) {
        const auto [worst, failedHeight] = stripOf(cols[x]);
        int end = x + 1;
        while (end < width && stripOf(cols[end]) == std::pair{worst, failedHeight})
            ++end;
        const auto rect = [&](int y, int height, const char* colour) {
            svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"/>\n")
                       .arg(x)
                       .arg(y)
                       .arg(end - x)
                       .arg(height)
                       .arg(QLatin1String(colour));
        };
        if (worst >= 0) {
            if (failedHeight < strip)
                rect(plot + 2, strip - failedHeight, verdictColour(static_cast<int>(JournalRecord::Verdict::Ok)));
            rect(plot + 2 + strip - failedHeight, failedHeight, verdictColour(worst));
        }
        x = end;
    }
    // A scale only where there is something to measure: a controller that never answered has none.
    const bool replies = !std::isnan(series.maxMs()) && series.maxMs() > 0;
    svg += QStringLiteral("<text x=\"%1\" y=\"10\" font-size=\"10\">%2</text>\n")
               .arg(width + 4)
               .arg(replies ? ms(top) + QStringLiteral(" ms") : QStringLiteral("no reply"));
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"10\">0</text>\n").arg(width + 4).arg(plot);
    return svg + QStringLiteral("</svg>\n");
}

} // namespace

bool reportPasses(const ReportContent& c)
{
    if (c.controllers.isEmpty())
        return false;
    for (const SlotStats& s : c.controllers)
        if (!s.passes(c.marks))
            return false;
    return true;
}

QByteArray reportHtml(const ReportContent& c)
{
    QString h;
    const QString title = c.siteName.isEmpty() ? QStringLiteral("Commissioning report")
                                               : QStringLiteral("Commissioning report: ") + c.siteName;
    // The policy makes the customer's browser hold the page to what it promises: no script runs and
    // nothing is fetched, whatever a journal's text held.
    h += QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                        "style-src 'unsafe-inline'\">\n<title>") +
         esc(title) + QStringLiteral("</title>\n<style>") + QString::fromLatin1(kStyle) +
         QStringLiteral("</style>\n</head>\n<body>\n<h1>") + esc(title) + QStringLiteral("</h1>\n");

    // The verdict first: it is what the customer reads before anything else.
    long failing = 0;
    for (const SlotStats& s : c.controllers)
        failing += s.passes(c.marks) ? 0 : 1;
    const bool pass = reportPasses(c);
    QString verdict;
    if (c.controllers.isEmpty())
        verdict = QStringLiteral("FAIL: no controller was asked anything in these journals");
    else if (pass)
        verdict = QStringLiteral("PASS: all %1 controllers meet the marks").arg(c.controllers.size());
    else
        verdict = QStringLiteral("FAIL: %1 of %2 controllers miss the marks").arg(failing).arg(c.controllers.size());
    h += QStringLiteral("<p class=\"verdict %1\">%2</p>\n").arg(pass ? u"pass" : u"fail", esc(verdict));

    QString marks = QStringLiteral("success at least %1 %").arg(c.marks.minSuccessPercent);
    if (c.marks.maxP95ReplyMs >= 0)
        marks += QStringLiteral(", 95th percentile of reply times at most %1 ms").arg(c.marks.maxP95ReplyMs);

    h += QStringLiteral("<table class=\"head\">\n");
    const auto headRow = [&h](const QString& name, const QString& value) {
        if (!value.isEmpty())
            h += QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(esc(name), esc(value));
    };
    headRow(QStringLiteral("Site"), c.siteName);
    headRow(QStringLiteral("Technician"), c.technician);
    headRow(QStringLiteral("Link"), c.link);
    headRow(QStringLiteral("Protocol"), c.protocol);
    headRow(QStringLiteral("From"), timeText(c.firstTime));
    headRow(QStringLiteral("To"), timeText(c.lastTime));
    headRow(QStringLiteral("Pass marks"), marks);
    h += QStringLiteral(
        "</table>\n<h2>Journal files</h2>\n<table>\n<tr><th>file</th><th>bytes</th><th>SHA-256</th></tr>\n");
    for (const JournalFileInfo& f : c.files)
        h += QStringLiteral("<tr><td>%1</td><td class=\"n\">%2</td><td class=\"hash\">%3</td></tr>\n")
                 .arg(esc(QFileInfo(f.path).fileName()), count(f.size), QString::fromLatin1(f.sha256Hex));
    h += QStringLiteral("</table>\n");

    for (const SlotStats& s : c.controllers) {
        const QString name = s.slot - 1 < c.slotNames.size() ? c.slotNames[s.slot - 1] : QString();
        const bool ok = s.passes(c.marks);
        h += QStringLiteral(
                 "<section class=\"slot\">\n<h2>Slot %1%2, address %3 <span class=\"verdict %4\">%5</span></h2>\n")
                 .arg(s.slot)
                 .arg(name.isEmpty() ? QString() : QStringLiteral(": ") + esc(name), esc(s.address),
                      ok ? u"pass" : u"fail", ok ? u"PASS" : u"FAIL");
        h += QStringLiteral("<table>\n");
        const auto row = [&h](const QString& label, const QString& value) {
            h += QStringLiteral("<tr><th>%1</th><td class=\"n\">%2</td></tr>\n").arg(esc(label), esc(value));
        };
        row(QStringLiteral("requests"), count(s.requests));
        row(QStringLiteral("answered"), count(s.answered));
        row(QStringLiteral("no answer"), count(s.noAnswer));
        row(QStringLiteral("bad check value"), count(s.badCheck));
        row(QStringLiteral("exception replies"), count(s.exceptions));
        row(QStringLiteral("extra tries"), count(s.extraTries));
        row(QStringLiteral("success (good replies)"), percent(s.successPercent()));
        row(QStringLiteral("last answered"), timeText(s.lastAnswered));
        h += QStringLiteral(
            "</table>\n<table>\n<tr><th>ms</th><th>min</th><th>mean</th><th>p95</th><th>max</th></tr>\n");
        const auto times = [&h](const QString& label, const TimeFigures& t) {
            h += QStringLiteral("<tr><th>%1</th><td class=\"n\">%2</td><td class=\"n\">%3</td><td class=\"n\">%4</td>"
                                "<td class=\"n\">%5</td></tr>\n")
                     .arg(esc(label), ms(t.min), ms(t.mean), ms(t.p95), ms(t.max));
        };
        times(QStringLiteral("first byte"), s.firstByte);
        times(QStringLiteral("reply"), s.reply);
        h += QStringLiteral("</table>\n");
        const qsizetype index = &s - c.controllers.constData();
        if (index < c.series.size()) {
            h += chartSvg(c.series[index]);
            // The run's ends under the chart, so that a fault in it can be put at its time of day.
            const auto end = [](const QDateTime& t) {
                return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
            };
            h += QStringLiteral("<div class=\"axis\"><span>%1</span><span>%2</span></div>\n")
                     .arg(end(c.firstTime), end(c.lastTime));
        }
        h += QStringLiteral("</section>\n");
    }
    if (c.census) {
        // Header rows in a thead, so that a printed table longer than a page says its columns on each.
        h += QStringLiteral("<h2>Census: %1</h2>\n<table class=\"census\">\n<thead><tr>")
                 .arg(esc(QFileInfo(c.census->path).fileName()));
        QStringList cellClasses; // the bytes small and wrapped, a time and a verdict on one line
        for (const QString& column : c.census->columns) {
            h += QStringLiteral("<th class=\"c-%1\">%1</th>").arg(esc(column));
            cellClasses << (column == u"sent" || column == u"received" ? QStringLiteral(" class=\"hex\"")
                            : column == u"time"                        ? QStringLiteral(" class=\"t\"")
                            : column == u"verdict"                     ? QStringLiteral(" class=\"v\"")
                                                                       : QString());
        }
        h += QStringLiteral("</tr></thead>\n<tbody>\n");
        for (const QStringList& row : c.census->rows) {
            h += QStringLiteral("<tr>");
            for (qsizetype i = 0; i < row.size(); ++i)
                h += QStringLiteral("<td%1>").arg(cellClasses.value(i)) + esc(row[i]) + QStringLiteral("</td>");
            h += QStringLiteral("</tr>\n");
        }
        h += QStringLiteral("</tbody>\n</table>\n");
    }
    h += QStringLiteral("<h2>Appendix: failed attempts</h2>\n");
    if (c.failures.isEmpty()) {
        h += QStringLiteral("<p>None.</p>\n");
    } else {
        h += QStringLiteral("<table class=\"failures\">\n<thead><tr>");
        for (const char* column :
             {"time", "slot", "address", "function", "try", "sent", "received", "verdict", "detail"})
            h += QStringLiteral("<th class=\"c-%1\">%1</th>").arg(QLatin1String(column));
        h += QStringLiteral("</tr></thead>\n<tbody>\n");
        for (const JournalRecord& r : c.failures)
            h += QStringLiteral("<tr><td class=\"t\">%1</td><td class=\"n\">%2</td><td>%3</td><td>%4</td>"
                                "<td class=\"n\">%5</td><td class=\"hex\">%6</td><td class=\"hex\">%7</td>"
                                "<td class=\"v\">%8</td><td>%9</td></tr>\n")
                     .arg(esc(isoTime(r.time)), QString::number(r.slot), esc(r.address), esc(r.function),
                          QString::number(r.attempt), esc(r.sent), esc(r.received), esc(verdictName(r.verdict)),
                          esc(r.detail));
        h += QStringLiteral("</tbody>\n</table>\n");
        if (c.moreFailures > 0)
            h +=
                QStringLiteral("<p>%1 more failed attempts are in the journal files.</p>\n").arg(count(c.moreFailures));
    }
    h += QStringLiteral(
        "<p>p95: the 95th percentile by nearest rank, one of the measured times.</p>\n</body>\n</html>\n");
    return h.toUtf8();
}

} // namespace tarvo
