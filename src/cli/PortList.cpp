#include "PortList.h"

#include "JournalCsv.h"

namespace tarvo::cli {

QByteArray renderPorts(const QList<PortDetails>& ports, Format format)
{
    switch (format) {
    case Format::Json:
        return portsJsonLines(ports).toUtf8();
    case Format::Csv: {
        QByteArray out = "name,device,byId,description,manufacturer,serialNumber,vendorProduct\r\n";
        for (const PortDetails& p : ports)
            out += csvRow({p.name, p.device, p.byId, p.description, p.manufacturer, p.serialNumber, p.vendorProduct});
        return out;
    }
    case Format::Text:
        break;
    }
    return portsText(ports).toUtf8();
}

} // namespace tarvo::cli
