#pragma once

#include "CliOptions.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace tarvo::clitool {

// One serial port of this machine and what the system knows of its adapter.
struct PortInfo {
    QString name;     // ttyUSB0
    QString location; // /dev/ttyUSB0
    QString description;
    QString manufacturer;
    QString serialNumber;
    QString vendorId; // four hexadecimal digits; empty when the system does not know
    QString productId;
    QString byId; // the stable name under /dev/serial/by-id, when there is one
};

QList<PortInfo> availablePorts();
QByteArray renderPorts(const QList<PortInfo>& ports, Format format);

} // namespace tarvo::clitool
