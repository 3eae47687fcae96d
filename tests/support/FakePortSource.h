#pragma once

#include "Ports.h"

namespace tarvo::test {

// Ports that come and go as the test says; every change moves the stamp.
class FakePortSource final : public PortSource {
public:
    QList<PortDetails> ports() override
    {
        ++looks;
        return list;
    }
    QString stamp() override { return QString::number(generation); }
    void plug(const PortDetails& p)
    {
        list << p;
        ++generation;
    }
    void unplug(const QString& name)
    {
        list.removeIf([&](const PortDetails& p) { return p.name == name; });
        ++generation;
    }

    QList<PortDetails> list;
    int generation = 0;
    int looks = 0; // full looks taken: only when the stamp moved, or the list was opened
};

// An adapter as the system describes it.
inline PortDetails usbAdapter(const QString& device, const QString& serial)
{
    PortDetails p;
    p.device = device;
    p.byId = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_%1-if00-port0").arg(serial);
    p.name = p.byId;
    p.description = QStringLiteral("FT232R USB UART");
    p.manufacturer = QStringLiteral("FTDI");
    p.serialNumber = serial;
    p.vendorProduct = QStringLiteral("0403:6001");
    return p;
}

} // namespace tarvo::test
