#include "ConsoleModel.h"

#include <QSignalSpy>
#include <QTest>

using namespace tarvo;

class TestConsoleModel : public QObject {
    Q_OBJECT
private slots:
    void defaults()
    {
        ConsoleModel m;
        QCOMPARE(m.text("ComPort"), QStringLiteral("COM1"));
        QCOMPARE(m.text("COMSpeed"), QStringLiteral("38400"));
        QCOMPARE(m.text("IP"), QStringLiteral("127.0.0.1"));
        QCOMPARE(m.text("Port"), QStringLiteral("1001"));
        QCOMPARE(m.text("TimeOutDelay"), QStringLiteral("1500"));
        QCOMPARE(m.text("WaitingDelay"), QStringLiteral("50"));
        QCOMPARE(m.text("Scan"), QStringLiteral("1"));
        QCOMPARE(m.text("Query"), QStringLiteral("01"));
        QCOMPARE(m.text("txtProtocol"), QStringLiteral("AA"));
        QCOMPARE(m.text("MemPage"), QStringLiteral("01"));
        QCOMPARE(m.text("MemAddress"), QStringLiteral("1e2c"));
        QCOMPARE(m.text("MemRecordNumber"), QStringLiteral("99"));
        QCOMPARE(m.text("MemRecordSize"), QStringLiteral("12"));
        QVERIFY(m.selected("OpCOM"));
        QVERIFY(!m.selected("OpTCP"));
        QVERIFY(m.selected("Protocol4"));
        QVERIFY(m.selected("decrypt"));
        QVERIFY(!m.enabled("Password"));
        QCOMPARE(m.check("Check1"), 1);
        QVERIFY(!m.visible("Picture1"));
        QVERIFY(!m.visible("Label8"));
        QCOMPARE(m.protocol(), Protocol::Protocol4);
        for (int i = 0; i < ConsoleModel::kSlots; ++i) {
            QVERIFY(!m.slotSelected(i));
            QCOMPARE(m.field(ConsoleModel::slotName("CheckAdr", i)).caption, QStringLiteral("#%1").arg(i + 1));
        }
        QCOMPARE(m.listItems("TxtFunction").size(), 7);
        QCOMPARE(m.listItems("COMSpeed").size(), 6);
    }

    void protocolRules_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("ack");
        QTest::addColumn<bool>("code");
        QTest::addColumn<Protocol>("protocol");
        QTest::newRow("Bioscrypt") << "OptBioscrypt" << true << false << Protocol::Bioscrypt;
        QTest::newRow("Customer") << "ProtocolAA" << false << true << Protocol::Customer;
        QTest::newRow("None") << "OptNone" << false << false << Protocol::None;
        QTest::newRow("Modbus") << "Modbus" << false << false << Protocol::Modbus;
        QTest::newRow("Protocol 4") << "Protocol4" << false << false << Protocol::Protocol4;
        QTest::newRow("Protocol 4+ runs the rule too") << "Protocol4Plus" << false << false << Protocol::Protocol4Plus;
    }
    void protocolRules()
    {
        QFETCH(QString, option);
        QFETCH(bool, ack);
        QFETCH(bool, code);
        QFETCH(Protocol, protocol);
        // Start from the choices that enable each field, so that the rule has something to change.
        for (const char* before : {"OptBioscrypt", "ProtocolAA"}) {
            ConsoleModel m;
            m.setCheck("ckAck", 1);
            m.choose(before);
            m.choose(option);
            QCOMPARE(m.enabled("ckAck"), ack);
            QCOMPARE(m.enabled("ckRes"), ack);
            QCOMPARE(m.enabled("txtProtocol"), code);
            QCOMPARE(m.check("ckAck"), 1); // the rule never changes values
            QCOMPARE(m.protocol(), protocol);
            int chosen = 0;
            for (const char* o : {"Modbus", "Protocol4", "Protocol4Plus", "ProtocolAA", "OptBioscrypt", "OptNone"})
                chosen += m.selected(o);
            QCOMPARE(chosen, 1);
        }
    }

    void modbusSetsSpeed()
    {
        ConsoleModel m;
        QCOMPARE(m.text("COMSpeed"), QStringLiteral("38400"));
        m.choose("Modbus");
        QCOMPARE(m.text("COMSpeed"), QStringLiteral("9600"));
        m.choose("Protocol4");
        QCOMPARE(m.text("COMSpeed"), QStringLiteral("9600"));
        m.setText("COMSpeed", "19200");
        m.setSelected("Modbus", false); // deselecting runs no rule
        QCOMPARE(m.text("COMSpeed"), QStringLiteral("19200"));
    }

    void linkRules_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("tcp");
        QTest::newRow("TCP") << "OpTCP" << true;
        QTest::newRow("COM") << "OpCOM" << false;
    }
    void linkRules()
    {
        QFETCH(QString, option);
        QFETCH(bool, tcp);
        ConsoleModel m;
        m.choose(tcp ? "OpCOM" : "OpTCP");
        m.choose(option);
        QCOMPARE(m.enabled("IP"), tcp);
        QCOMPARE(m.enabled("Port"), tcp);
        QCOMPARE(m.enabled("ComPort"), !tcp);
        QCOMPARE(m.enabled("COMSpeed"), !tcp);
        QCOMPARE(m.serialLink(), !tcp);
        QCOMPARE(m.selected(tcp ? "OpCOM" : "OpTCP"), false);
    }

    void encryptLeavesPassPhrase()
    {
        ConsoleModel m;
        m.choose("Encrypt");
        QVERIFY(m.enabled("Password"));
        m.setText("Password", "0F12");
        m.choose("decrypt");
        QVERIFY(!m.enabled("Password"));
        QCOMPARE(m.text("Password"), QStringLiteral("0F12"));
        QVERIFY(!m.selected("Encrypt"));
    }

    void memoryPanelFollowsCheck2()
    {
        ConsoleModel m;
        m.setText("MemPage", "07");
        m.setCheck("Check2", 1);
        QVERIFY(m.visible("Picture1"));
        m.setCheck("Check2", 0);
        QVERIFY(!m.visible("Picture1"));
        QCOMPARE(m.text("MemPage"), QStringLiteral("07"));
    }

    void signalsForBinding()
    {
        ConsoleModel m;
        QSignalSpy values(&m, &ConsoleModel::valueChanged);
        QSignalSpy states(&m, &ConsoleModel::stateChanged);
        m.setText("Address_3", "17");
        m.setText("Address_3", "17"); // no change, no signal
        QCOMPARE(values.size(), 1);
        QCOMPARE(values[0][0].toString(), QStringLiteral("Address_3"));
        m.choose("OpTCP");
        QVERIFY(values.size() >= 3); // OpCOM deselected, OpTCP selected
        QVERIFY(states.size() >= 4); // IP, Port, ComPort, COMSpeed
        QVERIFY(!m.setListIndex("TxtFunction", 7));
        QVERIFY(m.setListIndex("TxtFunction", -1));
    }

    void requestSettingsReadNow()
    {
        ConsoleModel m;
        m.setText("Address_2", "9");
        m.choose("OptBioscrypt");
        m.setCheck("ckRes", 1);
        m.choose("Encrypt");
        m.setText("Password", "AB");
        const RequestSettings s = m.requestSettings(2);
        QCOMPARE(s.protocol, Protocol::Bioscrypt);
        QCOMPARE(s.address, QStringLiteral("9"));
        QVERIFY(!s.ackReq);
        QVERIFY(s.respReq);
        QVERIFY(s.encrypt);
        QCOMPARE(s.password, QStringLiteral("AB"));
    }
};

QTEST_APPLESS_MAIN(TestConsoleModel)
#include "tst_console_model.moc"
