#include "ReportJob.h"

#include "ConsoleModel.h"
#include "Errors.h"
#include "JournalReader.h"
#include "PortAccess.h"
#include "SerialLink.h"

#include <QDir>
#include <QFileInfo>

namespace tarvo {

namespace {

// The by-id link in `folder` that names `device` now; empty when there is none.
QString byIdNameOf(const QString& device, const QString& folder)
{
    const QString real = resolveDevice(device);
    const QDir ids(folder);
    for (const QString& entry : ids.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString path = ids.absoluteFilePath(entry);
        const QString target = resolveDevice(path);
        if (target != path && target == real)
            return entry;
    }
    return {};
}

} // namespace

QString reportLinkText(const ConsoleModel& model, const QString& byIdFolder)
{
    const LinkSettings s = model.linkSettings();
    if (!model.serialLink()) {
        const QString framing =
            s.framing == NetFraming::Mbap ? QStringLiteral("Modbus TCP") : QStringLiteral("raw frames");
        return QStringLiteral("%1:%2, %3 over %4")
            .arg(s.host.trimmed(), s.tcpPort.trimmed(), framing,
                 s.transport == Transport::Udp ? QStringLiteral("UDP") : QStringLiteral("TCP"));
    }
    QString device;
    try {
        device = SerialLink::serialDevice(s.comPort.trimmed());
    } catch (const TarvoError&) {
        device = s.comPort.trimmed(); // no port the console could open: said as it was typed
    }
    // A port chosen by its stable name is named by the device it is now, and the stable name beside
    // it; a port chosen by its device gets the stable name the machine has for it, if any.
    QString byId;
    const QString folder = QDir::cleanPath(byIdFolder) + QLatin1Char('/');
    if (device.startsWith(folder)) {
        const QString real = resolveDevice(device);
        if (real != device) {
            byId = QFileInfo(device).fileName();
            device = real;
        }
    } else if (device.startsWith(QLatin1Char('/'))) {
        byId = byIdNameOf(device, byIdFolder);
    }
    QString text = device;
    if (!byId.isEmpty())
        text += QStringLiteral(" (%1)").arg(byId);
    if (!model.speed().trimmed().isEmpty())
        text += QLatin1Char(' ') + model.speed().trimmed();
    text += QLatin1Char(' ') + s.line.text();
    if (s.line.rtsCts)
        text += QStringLiteral(", RTS/CTS flow control");
    if (s.rs485.enabled)
        text += QStringLiteral(", RS-485");
    return text;
}

ReportContent reportSiteOf(const ConsoleModel& model)
{
    ReportContent content;
    content.link = reportLinkText(model);
    content.protocol = model.caption(ConsoleModel::protocolOption(model.request(0).protocol));
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
