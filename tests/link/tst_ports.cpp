// Which ports the machine has, and what is known of each.

#include "FakePortSource.h"
#include "Ports.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvo;
using namespace tarvo::test;

class TestPorts : public QObject {
    Q_OBJECT
private slots:
    void textInAlignedColumns()
    {
        PortDetails plain;
        plain.name = plain.device = "/dev/ttyS0";
        const QList<PortDetails> ports{usbAdapter("/dev/ttyUSB0", "A50285BI"), plain};
        const QString byId = ports[0].byId;
        const QString pad = QString(byId.size() - 4, ' ');
        QCOMPARE(portsText(ports), "NAME  " + pad + "DEVICE        USB ID     MAKER  DESCRIPTION      SERIAL\n" + byId +
                                       "  /dev/ttyUSB0  0403:6001  FTDI   FT232R USB UART  A50285BI\n"
                                       "/dev/ttyS0" +
                                       QString(byId.size() - 10, ' ') +
                                       "  /dev/ttyS0    -          -      -                -\n");
        QCOMPARE(portsText({}), QStringLiteral("NAME  DEVICE  USB ID  MAKER  DESCRIPTION  SERIAL\n"));
    }

    void jsonLinesOneObjectEach()
    {
        PortDetails odd;
        odd.name = odd.device = "/dev/ttyACM0";
        odd.description = "Gadget \"serial\"\tport";
        const QString text = portsJsonLines({usbAdapter("/dev/ttyUSB0", "A1"), odd});
        const QStringList lines = text.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY(text.endsWith('\n'));
        const QJsonObject first = QJsonDocument::fromJson(lines[0].toUtf8()).object();
        QCOMPARE(first.value("name").toString(), usbAdapter("/dev/ttyUSB0", "A1").byId);
        QCOMPARE(first.value("device").toString(), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(first.value("vendorProduct").toString(), QStringLiteral("0403:6001"));
        QCOMPARE(first.value("serialNumber").toString(), QStringLiteral("A1"));
        const QJsonObject second = QJsonDocument::fromJson(lines[1].toUtf8()).object();
        QCOMPARE(second.value("description").toString(), odd.description);
        QCOMPARE(second.value("byId").toString(), QString());
        QCOMPARE(second.keys(), (QStringList{"byId", "description", "device", "manufacturer", "name", "serialNumber",
                                             "vendorProduct"}));
    }

    // COM1 to COM5 come first, each with the device it opens and, when the machine has that device,
    // what is known of it; then every port, by its stable name.
    void choicesStartWithTheComPorts()
    {
        qunsetenv("TARVO_COM1");
        qputenv("TARVO_COM2", "/dev/ttyUSB4");
        FakePortSource source;
        source.plug(usbAdapter("/dev/ttyUSB4", "B2"));
        source.plug(usbAdapter("/dev/ttyUSB5", "C3"));
        const QList<PortDetails> choices = portChoices(source);
        qunsetenv("TARVO_COM2");
        QCOMPARE(choices.size(), 7);
        QCOMPARE(choices[0].name, QStringLiteral("COM1"));
        QCOMPARE(choices[0].device, QStringLiteral("/dev/ttyS0"));
        QCOMPARE(choices[1].name, QStringLiteral("COM2"));
        QCOMPARE(choices[1].device, QStringLiteral("/dev/ttyUSB4"));
        QCOMPARE(choices[1].serialNumber, QStringLiteral("B2"));
        QCOMPARE(choices[4].name, QStringLiteral("COM5"));
        QCOMPARE(choices[5], source.list[0]);
        QCOMPARE(choices[6], source.list[1]);
    }

    // The system's ports carry their by-id name where one points at them; the stamp moves when a
    // device or a by-id link comes, goes or points elsewhere, and only then.
    void systemPortsAndTheirStamp()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkpath("by-id");
        QDir(dir.path()).mkpath("dev");
        const QString ids = dir.filePath("by-id");
        const QString dev = dir.filePath("dev");
        SystemPortSource source(ids, dev);

        const QList<QSerialPortInfo> system = QSerialPortInfo::availablePorts();
        if (!system.isEmpty()) {
            const QString device = system.first().systemLocation();
            const QString link = ids + "/usb-Tarvo_Test_Adapter_T1-if00-port0";
            QVERIFY(QFile::link(device, link));
            const QList<PortDetails> ports = source.ports();
            const auto it =
                std::find_if(ports.begin(), ports.end(), [&](const PortDetails& p) { return p.device == device; });
            QVERIFY(it != ports.end());
            QCOMPARE(it->byId, link);
            QCOMPARE(it->name, link);
            QVERIFY(QFile::remove(link));
        }

        QFile(dev + "/ttyUSB0").open(QIODevice::WriteOnly);
        const QString first = source.stamp();
        QCOMPARE(source.stamp(), first);
        QFile(dev + "/ttyUSB1").open(QIODevice::WriteOnly);
        const QString plugged = source.stamp();
        QVERIFY(plugged != first);
        QVERIFY(QFile::link(dev + "/ttyUSB0", ids + "/usb-X-if00-port0"));
        const QString linked = source.stamp();
        QVERIFY(linked != plugged);
        QVERIFY(QFile::remove(ids + "/usb-X-if00-port0"));
        QVERIFY(QFile::link(dev + "/ttyUSB1", ids + "/usb-X-if00-port0"));
        QVERIFY(source.stamp() != linked); // the same adapter back under another device
        QFile(dev + "/console").open(QIODevice::WriteOnly);
        QFile(dev + "/sda1").open(QIODevice::WriteOnly);
        const QString again = source.stamp();
        QVERIFY(QFile::remove(dev + "/sda1"));
        QCOMPARE(source.stamp(), again); // not a serial port
    }
};

QTEST_GUILESS_MAIN(TestPorts)
#include "tst_ports.moc"
