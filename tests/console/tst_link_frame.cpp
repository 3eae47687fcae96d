// The Definition page's link frame: the port list that says what each port is and follows adapters
// plugged in and out, the serial line's settings behind one compact button, and the network link's
// transport and framing.

#include "ConsoleModel.h"
#include "ConsoleWindow.h"
#include "FakeFileDialogs.h"
#include "FakePortSource.h"
#include "FakePrompter.h"
#include "FakeStack.h"
#include "LineSettingsDialog.h"
#include "PortComboBox.h"
#include "TestFiles.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvo;
using namespace tarvo::test;

namespace {

QStringList itemsOf(const QComboBox* c)
{
    QStringList items;
    for (int i = 0; i < c->count(); ++i)
        items.append(c->itemText(i));
    return items;
}

const QStringList kComs{"COM1", "COM2", "COM3", "COM4", "COM5"};

struct Console {
    Console()
    {
        model.setListIndex(Field::Pages, ConsoleModel::kPageDefinition);
        window.show();
        QApplication::setActiveWindow(&window);
    }
    template <class T = QWidget> T* find(const QString& name) { return window.findChild<T*>(name); }
    FakeStack s;
    ConsoleModel& model = s.model;
    FakeFileDialogs dialogs;
    FakePrompter& prompter = s.prompter;
    ConsoleWindow window{s.stack, prompter, &dialogs};
};

} // namespace

class TestLinkFrame : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qunsetenv("TARVO_COM1");
        qunsetenv("TARVO_COM2");
    }

    // An adapter plugged in and another pulled out while the list is open: the list follows, each
    // port with what is known of it, and the port being typed stays as typed, cursor and all.
    void portListFollowsAdaptersAndKeepsTheTypedText()
    {
        Console c;
        auto* combo = c.find<PortComboBox>("ComPort");
        QVERIFY(combo);
        FakePortSource ports;
        const PortDetails first = usbAdapter("/dev/ttyUSB0", "A1");
        const PortDetails second = usbAdapter("/dev/ttyUSB1", "B2");
        ports.plug(first);
        combo->setPortSource(&ports);
        QCOMPARE(itemsOf(combo), kComs + QStringList{first.byId});
        QCOMPARE(c.model.listItems(Field::ComPort), itemsOf(combo));
        const QAbstractItemModel* columns = combo->model();
        QCOMPARE(columns->index(5, 1).data().toString(), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(columns->index(5, 2).data().toString(), QStringLiteral("0403:6001"));
        QCOMPARE(columns->index(5, 3).data().toString(), QStringLiteral("FTDI"));
        QCOMPARE(columns->index(5, 5).data().toString(), QStringLiteral("A1"));
        QCOMPARE(columns->index(0, 1).data().toString(), QStringLiteral("/dev/ttyS0")); // where COM1 goes

        combo->lineEdit()->setFocus();
        combo->lineEdit()->selectAll();
        QTest::keyClicks(combo->lineEdit(), "/dev/ttyUSB7");
        combo->lineEdit()->setCursorPosition(9);
        QCOMPARE(c.model.text(Field::ComPort), QStringLiteral("/dev/ttyUSB7"));
        combo->showPopup();
        QTRY_VERIFY(combo->view()->isVisible());
        const int looks = ports.looks;

        combo->watchTimer().setInterval(5);
        ports.plug(second);
        QTRY_COMPARE(itemsOf(combo), kComs + (QStringList{first.byId, second.byId}));
        ports.unplug(first.byId);
        QTRY_COMPARE(itemsOf(combo), kComs + QStringList{second.byId});
        QCOMPARE(columns->index(5, 5).data().toString(), QStringLiteral("B2"));
        QCOMPARE(combo->currentText(), QStringLiteral("/dev/ttyUSB7"));
        QCOMPARE(c.model.text(Field::ComPort), QStringLiteral("/dev/ttyUSB7"));
        QCOMPARE(combo->lineEdit()->cursorPosition(), 9);
        QVERIFY(combo->view()->isVisible());
        // Only a change of the ports costs a full look.
        QTest::qWait(50);
        QCOMPARE(ports.looks, looks + 2);
        combo->hidePopup();

        // The stable name is what is stored.
        combo->setCurrentIndex(5);
        QCOMPARE(c.model.text(Field::ComPort), second.byId);
        QVERIFY(combo->toolTip().contains("/dev/ttyUSB1"));
        QVERIFY(combo->toolTip().contains("Serial number B2"));

        // Off screen, nothing is looked at.
        c.model.setListIndex(Field::Pages, ConsoleModel::kPageGeneral);
        ports.plug(first);
        QTest::qWait(50);
        QCOMPARE(ports.looks, looks + 2);
    }

    // The list the console holds is what the drop-down offers, whoever set it.
    void listSetElsewhereIsDrawnWithItsDetails()
    {
        Console c;
        auto* combo = c.find<PortComboBox>("ComPort");
        FakePortSource ports;
        ports.plug(usbAdapter("/dev/ttyUSB0", "A1"));
        combo->setPortSource(&ports);
        c.model.setText(Field::ComPort, "COM2");
        c.model.setListItems(Field::ComPort, {"COM1", ports.list[0].byId});
        QCOMPARE(itemsOf(combo), (QStringList{"COM1", ports.list[0].byId}));
        QCOMPARE(combo->model()->index(1, 4).data().toString(), QStringLiteral("FT232R USB UART"));
        QCOMPARE(combo->currentText(), QStringLiteral("COM2"));
    }

    void lineSettingsButtonOpensTheDialog()
    {
        Console c;
        auto* button = c.find<QPushButton>("LineSettingsButton");
        QVERIFY(button);
        QCOMPARE(button->text(), QStringLiteral("8N2"));
        QVERIFY(button->isEnabled());

        button->click();
        auto* dialog = c.window.findChild<LineSettingsDialog*>();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->findChild<QLabel*>("ByteTime")->text(),
                 QStringLiteral("11 bits a character: 0.286 ms at 38400 bit/s"));
        dialog->findChild<QComboBox*>("Parity")->setCurrentIndex(1);
        dialog->findChild<QComboBox*>("StopBits")->setCurrentIndex(0);
        dialog->findChild<QComboBox*>("Flow")->setCurrentIndex(1);
        dialog->findChild<QGroupBox*>("Rs485")->setChecked(true);
        QVERIFY(!dialog->findChild<QComboBox*>("Flow")->isEnabled()); // RTS is the transmitter's now
        dialog->findChild<QCheckBox*>("RtsOnSend")->setChecked(false);
        dialog->findChild<QSpinBox*>("DelayAfter")->setValue(5);
        dialog->findChild<QCheckBox*>("DropEcho")->setChecked(true);
        dialog->findChild<QComboBox*>("DataBits")->setCurrentIndex(1);
        QCOMPARE(dialog->findChild<QLabel*>("ByteTime")->text(),
                 QStringLiteral("10 bits a character: 0.260 ms at 38400 bit/s")); // 7E1
        dialog->findChild<QComboBox*>("DataBits")->setCurrentIndex(0);
        QCOMPARE(c.model.ini.serial, ConsoleModel::Ini::Serial{}); // nothing changes before OK
        dialog->accept();
        QCOMPARE(c.model.ini.serial, (ConsoleModel::Ini::Serial{"8E1", false, true, false, 0, 5, true, false}));
        QCOMPARE(button->text(), QStringLiteral("8E1 RS-485"));
        QVERIFY(button->toolTip().contains("RS-485: RTS low while sending, 0 ms before, 5 ms after"));
        QVERIFY(button->toolTip().contains("Drop echo"));
        QTRY_VERIFY(!c.window.findChild<LineSettingsDialog*>()); // gone with its OK

        // Cancel keeps what was; defaults are the console's own line.
        button->click();
        dialog = c.window.findChild<LineSettingsDialog*>();
        QCOMPARE(dialog->settings(), c.model.ini.serial);
        dialog->findChild<QComboBox*>("DataBits")->setCurrentIndex(1);
        dialog->reject();
        QCOMPARE(c.model.ini.serial.line, QStringLiteral("8E1"));
        QTRY_VERIFY(!c.window.findChild<LineSettingsDialog*>());
        button->click();
        dialog = c.window.findChild<LineSettingsDialog*>();
        dialog->findChild<QComboBox*>("Parity")->setCurrentIndex(3);
        dialog->findChild<QComboBox*>("DataBits")->setCurrentIndex(1);
        QCOMPARE(dialog->settings().line, QStringLiteral("7M1"));
        dialog->setSettings({});
        QCOMPARE(dialog->settings(), ConsoleModel::Ini::Serial{});
        dialog->reject();

        // TCP has no line format.
        c.model.choose(Field::OpTCP);
        QVERIFY(!button->isEnabled());
        c.model.choose(Field::OpCOM);
        QVERIFY(button->isEnabled());
    }

    void lineSettingsButtonFollowsTheSpeedInTheKeyboardWalk()
    {
        Console c;
        auto* speed = c.find<QComboBox>("COMSpeed");
        speed->setFocus();
        QTRY_VERIFY(speed->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), c.find<QPushButton>("LineSettingsButton"));
    }

    // Beside the host and port: TCP or UDP, raw frames or Modbus TCP, for the TCP link only, chosen
    // with the keyboard as with the mouse, each saying what it does; kept in the settings.
    void networkTransportAndFraming()
    {
        Console c;
        auto* transport = c.find<QComboBox>("TcpTransport");
        auto* framing = c.find<QComboBox>("TcpFraming");
        QVERIFY(transport && framing);
        QCOMPARE(itemsOf(transport), (QStringList{"TCP", "UDP"}));
        QCOMPARE(itemsOf(framing), (QStringList{"Raw", "Modbus TCP"}));
        QCOMPARE(transport->currentText(), QStringLiteral("TCP"));
        QCOMPARE(framing->currentText(), QStringLiteral("Raw"));
        QVERIFY(transport->toolTip().contains("one datagram for each request"));
        QVERIFY(framing->toolTip().contains("MBAP header"));
        QVERIFY(framing->toolTip().contains("unit id is the console address + 1"));
        QVERIFY(framing->toolTip().contains("Modbus only"));
        QStringList captions;
        for (const QLabel* l : c.window.findChildren<QLabel*>()) {
            if (l->buddy() == transport || l->buddy() == framing)
                captions << l->text();
        }
        QCOMPARE(captions, (QStringList{"Transport:", "Framing:"}));

        // The serial link is chosen: nothing of the network link to set.
        QVERIFY(!transport->isEnabled() && !framing->isEnabled());
        c.model.choose(Field::OpTCP);
        QVERIFY(transport->isEnabled() && framing->isEnabled());

        // The keyboard: from the port on, then on to the delays.
        auto* port = c.find<QLineEdit>("Port");
        port->setFocus();
        QTRY_VERIFY(port->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), transport);
        QTest::keyClick(transport, Qt::Key_Down);
        QCOMPARE(c.model.ini.tcp.transport, Transport::Udp);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), framing);
        QTest::keyClick(framing, Qt::Key_Down);
        QCOMPARE(c.model.ini.tcp.framing, NetFraming::Mbap);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), c.find<QLineEdit>("TimeOutDelay"));
        QCOMPARE(c.model.linkSettings().transport, Transport::Udp);
        QCOMPARE(c.model.linkSettings().framing, NetFraming::Mbap);

        // The link takes them when a cycle connects.
        c.model.choose(Field::Modbus);
        c.model.setCheck(Field::CheckAdr, 0, 1);
        c.model.setText(Field::Address, 0, "4");
        c.s.polling.sendOnce();
        QCOMPARE(c.s.link.connected.size(), 1);
        QCOMPARE(c.s.link.connected[0].transport, Transport::Udp);
        QCOMPARE(c.s.link.connected[0].framing, NetFraming::Mbap);
        QCOMPARE(c.s.link.writes.value(0), QByteArray::fromHex("000100000006050200000010")); // unit id 5

        // And back with the mouse's choice.
        transport->setCurrentIndex(0);
        emit transport->activated(0);
        QCOMPARE(c.model.ini.tcp.transport, Transport::Tcp);
    }

    // What Tarvo.ini holds is shown once the console has read it, and the choices made go back to it
    // when the console closes.
    void linkSettingsComeFromTarvoIniAndGoBack()
    {
        QTemporaryDir site;
        const QString before = QDir::currentPath();
        QDir::setCurrent(site.path());
        QVERIFY(writeFile("Tarvo.ini", "[serial]\nline=8E1\n[tcp]\nframing=mbap\ntransport=udp\n"));
        {
            Console c;
            QCOMPARE(c.find<QComboBox>("TcpTransport")->currentText(), QStringLiteral("TCP")); // not read yet
            c.window.Form_Load(QString());
            QCOMPARE(c.find<QPushButton>("LineSettingsButton")->text(), QStringLiteral("8E1"));
            QCOMPARE(c.find<QComboBox>("TcpTransport")->currentText(), QStringLiteral("UDP"));
            QCOMPARE(c.find<QComboBox>("TcpFraming")->currentText(), QStringLiteral("Modbus TCP"));
            auto* framing = c.find<QComboBox>("TcpFraming");
            framing->setCurrentIndex(0);
            emit framing->activated(0);
            QVERIFY(c.window.close());
        }
        const QByteArray saved = fileContent("Tarvo.ini");
        QVERIFY2(saved.contains("framing=raw") && saved.contains("transport=udp"), saved.constData());
        QDir::setCurrent(before);
    }

    // Modbus TCP frames Modbus alone: another protocol is refused at the send, in the reply box, as
    // the console says what went wrong with a request, and nothing goes out.
    void modbusTcpUnderAnotherProtocolSaysWhy()
    {
        Console c;
        c.model.choose(Field::OpTCP);
        c.model.choose(Field::Protocol4);
        c.model.ini.tcp.framing = NetFraming::Mbap;
        c.model.setCheck(Field::CheckAdr, 0, 1);
        c.model.setText(Field::Address, 0, "4");
        c.window.CmdSend_Click();
        QCOMPARE(c.model.text(Field::Reponse, 0),
                 QStringLiteral("ERROR: Modbus TCP framing carries Modbus requests only: choose the Modbus protocol, "
                                "or the Raw framing for this one"));
        QVERIFY(c.s.link.writes.isEmpty());
        QVERIFY(c.prompter.shown.isEmpty()); // said where the reply would have been, no box in the way
    }
};

QTEST_MAIN(TestLinkFrame)
#include "tst_link_frame.moc"
