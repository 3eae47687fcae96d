#pragma once

#include <QList>
#include <QString>

namespace tarvo {

// One serial port and what is known of it.
struct PortDetails {
    QString name;          // what the ComPort field stores: "COM1", the by-id name, else the device
    QString device;        // the device it opens: "/dev/ttyUSB0"; for COM<n>, TARVO_COM<n> or /dev/ttyS<n-1>
    QString byId;          // the stable /dev/serial/by-id name; empty when there is none
    QString description;   // the adapter's own name ("FT232R USB UART")
    QString manufacturer;  // its maker
    QString serialNumber;  // its serial number
    QString vendorProduct; // USB vendor and product ids, "0403:6001"; empty when not USB

    friend bool operator==(const PortDetails&, const PortDetails&) = default;
};

// Where the console learns which ports the machine has. Tests hand in a fake that plugs and unplugs.
class PortSource {
public:
    virtual ~PortSource() = default;
    // Every port the system has, the by-id name preferred as the name.
    virtual QList<PortDetails> ports() = 0;
    // Changes whenever a port may have come or gone; cheap enough to ask every second or two, so that
    // the full look (ports()) runs only when something changed.
    virtual QString stamp() = 0;
};

// The machine's ports: QSerialPortInfo, with the /dev/serial/by-id symlinks that point at them.
class SystemPortSource final : public PortSource {
public:
    // The folders are the system's; tests point them elsewhere.
    explicit SystemPortSource(QString byIdFolder = QStringLiteral("/dev/serial/by-id"),
                              QString devFolder = QStringLiteral("/dev"));
    QList<PortDetails> ports() override;
    QString stamp() override;

private:
    QString m_byIdFolder;
    QString m_devFolder;
};

// The ComPort drop-down's choices: COM1 to COM5 (with the device each opens and, when the machine
// has it, its details), then every port of the source.
QList<PortDetails> portChoices(PortSource& source);

// The list as text for people: a header and one line per port, in aligned columns (NAME, DEVICE,
// USB ID, MAKER, DESCRIPTION, SERIAL), "-" for what is not known; ends with a line end.
QString portsText(const QList<PortDetails>& ports);
// The list as JSON Lines for programs: one object per port and line, with the keys name, device,
// byId, description, manufacturer, serialNumber and vendorProduct (empty strings when not known).
QString portsJsonLines(const QList<PortDetails>& ports);

} // namespace tarvo
