#include "PortList.h"

#include "CliOutput.h"
#include "JournalCsv.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace tarvo::clitool {

namespace {

QString hex4(bool known, quint16 value)
{
    return known ? QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')) : QString();
}

} // namespace

QList<PortInfo> availablePorts()
{
    // The by-id names are symlinks to the devices: the name a technician can rely on across reboots
    // and re-plugging.
    QHash<QString, QString> byId;
    const QDir dir(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        byId.insert(link.canonicalFilePath(), link.absoluteFilePath());

    QList<PortInfo> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        PortInfo p;
        p.name = info.portName();
        p.location = info.systemLocation();
        p.description = info.description();
        p.manufacturer = info.manufacturer();
        p.serialNumber = info.serialNumber();
        p.vendorId = hex4(info.hasVendorIdentifier(), info.vendorIdentifier());
        p.productId = hex4(info.hasProductIdentifier(), info.productIdentifier());
        p.byId = byId.value(QFileInfo(p.location).canonicalFilePath());
        ports.append(p);
    }
    return ports;
}

QByteArray renderPorts(const QList<PortInfo>& ports, Format format)
{
    QByteArray out;
    switch (format) {
    case Format::Json:
        for (const PortInfo& p : ports)
            out += "{\"name\":" + jsonString(p.name) + ",\"location\":" + jsonString(p.location) +
                   ",\"description\":" + jsonString(p.description) + ",\"manufacturer\":" + jsonString(p.manufacturer) +
                   ",\"serial_number\":" + jsonString(p.serialNumber) + ",\"vendor_id\":" + jsonString(p.vendorId) +
                   ",\"product_id\":" + jsonString(p.productId) + ",\"by_id\":" + jsonString(p.byId) + "}\n";
        return out;
    case Format::Csv:
        out = "name,location,description,manufacturer,serial_number,vendor_id,product_id,by_id\r\n";
        for (const PortInfo& p : ports)
            out += csvRow(
                {p.name, p.location, p.description, p.manufacturer, p.serialNumber, p.vendorId, p.productId, p.byId});
        return out;
    case Format::Text:
        break;
    }
    const QStringList head = {QStringLiteral("PORT"),   QStringLiteral("DESCRIPTION"), QStringLiteral("MANUFACTURER"),
                              QStringLiteral("SERIAL"), QStringLiteral("VID:PID"),     QStringLiteral("BY-ID")};
    QList<QStringList> rows{head};
    for (const PortInfo& p : ports) {
        const QString ids = p.vendorId.isEmpty() ? QString() : p.vendorId + QLatin1Char(':') + p.productId;
        rows.append({p.location, p.description, p.manufacturer, p.serialNumber, ids, p.byId});
    }
    QList<qsizetype> widths(head.size(), 0);
    for (const QStringList& row : rows) {
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i]) + QStringLiteral("  ") : row[i];
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        out += line.toUtf8() + '\n';
    }
    return out;
}

} // namespace tarvo::clitool
