#include "Ports.h"

#include "PortAccess.h"
#include "SerialLink.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>
#include <algorithm>

namespace tarvo {

namespace {

constexpr int kComChoices = 5;

QString hex4(quint16 id)
{
    return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}

} // namespace

SystemPortSource::SystemPortSource(QString byIdFolder, QString devFolder)
    : m_byIdFolder(std::move(byIdFolder)), m_devFolder(std::move(devFolder))
{
}

QList<PortDetails> SystemPortSource::ports()
{
    // The stable names: each by-id symlink, keyed by the device it points at now.
    QHash<QString, QString> byId;
    const QDir ids(m_byIdFolder);
    for (const QString& entry : ids.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString path = ids.absoluteFilePath(entry);
        const QString device = resolveDevice(path);
        if (device != path && !byId.contains(device))
            byId.insert(device, path);
    }

    QList<PortDetails> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        PortDetails p;
        p.device = info.systemLocation();
        p.byId = byId.value(resolveDevice(p.device));
        p.name = p.byId.isEmpty() ? p.device : p.byId;
        p.description = info.description();
        p.manufacturer = info.manufacturer();
        p.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            p.vendorProduct = hex4(info.vendorIdentifier()) + QLatin1Char(':') + hex4(info.productIdentifier());
        ports << p;
    }
    std::sort(ports.begin(), ports.end(), [](const PortDetails& a, const PortDetails& b) { return a.name < b.name; });
    return ports;
}

QString SystemPortSource::stamp()
{
    // A device node and a by-id link appear and go with every adapter: their names, and where the
    // links point, change exactly when the list may.
    QStringList parts =
        QDir(m_devFolder)
            .entryList({QStringLiteral("tty*"), QStringLiteral("rfcomm*")}, QDir::System | QDir::Files, QDir::Name);
    const QDir ids(m_byIdFolder);
    for (const QString& entry : ids.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
        parts << entry + QStringLiteral("->") + QFileInfo(ids.absoluteFilePath(entry)).symLinkTarget();
    return parts.join(QLatin1Char('\n'));
}

QList<PortDetails> portChoices(PortSource& source)
{
    const QList<PortDetails> found = source.ports();
    QList<PortDetails> choices;
    for (int n = 1; n <= kComChoices; ++n) {
        PortDetails com;
        const QString name = QStringLiteral("COM%1").arg(n);
        const QString device = SerialLink::serialDevice(name);
        const QString real = resolveDevice(device);
        for (const PortDetails& p : found) {
            if (resolveDevice(p.device) == real)
                com = p;
        }
        com.name = name;
        com.device = device;
        choices << com;
    }
    for (const PortDetails& p : found) {
        if (!std::any_of(choices.begin(), choices.end(), [&p](const PortDetails& c) { return c.name == p.name; }))
            choices << p;
    }
    return choices;
}

QString portsText(const QList<PortDetails>& ports)
{
    const QStringList header{QStringLiteral("NAME"),  QStringLiteral("DEVICE"),      QStringLiteral("USB ID"),
                             QStringLiteral("MAKER"), QStringLiteral("DESCRIPTION"), QStringLiteral("SERIAL")};
    QList<QStringList> rows{header};
    for (const PortDetails& p : ports) {
        QStringList row{p.name, p.device, p.vendorProduct, p.manufacturer, p.description, p.serialNumber};
        for (QString& cell : row) {
            cell = cell.simplified();
            if (cell.isEmpty())
                cell = QStringLiteral("-");
        }
        rows << row;
    }
    QList<qsizetype> widths(header.size(), 0);
    for (const QStringList& row : rows) {
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    QString text;
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
        text += line + QLatin1Char('\n');
    }
    return text;
}

QString portsJsonLines(const QList<PortDetails>& ports)
{
    QString text;
    for (const PortDetails& p : ports) {
        const QJsonObject o{{QStringLiteral("name"), p.name},
                            {QStringLiteral("device"), p.device},
                            {QStringLiteral("byId"), p.byId},
                            {QStringLiteral("description"), p.description},
                            {QStringLiteral("manufacturer"), p.manufacturer},
                            {QStringLiteral("serialNumber"), p.serialNumber},
                            {QStringLiteral("vendorProduct"), p.vendorProduct}};
        text += QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
    }
    return text;
}

} // namespace tarvo
