#include "ConsoleModel.h"

#include <QSet>
#include <QSignalSpy>
#include <QTest>

using namespace tarvo;

class TestConsoleModel : public QObject {
    Q_OBJECT
private slots:
    void freshConsoleAgreesWithItsOwnChoices()
    {
        // The enabled and shown states a console starts with are those its selected options imply:
        // choosing them again, as the operator or the settings file would, changes nothing.
        const ConsoleModel fresh;
        ConsoleModel chosen;
        for (const FieldInfo& info : fieldTable()) {
            if (info.kind == FieldKind::Option && fresh.selected(info.field))
                chosen.choose(info.field);
        }
        for (const FieldRef& ref : ConsoleModel::allFields()) {
            QCOMPARE(chosen.enabled(ref), fresh.enabled(ref));
            QCOMPARE(chosen.visible(ref), fresh.visible(ref));
            QCOMPARE(chosen.text(ref), fresh.text(ref));
        }
        QCOMPARE(fresh.caption(FieldRef(Field::CheckAdr, 31)), QStringLiteral("#32"));
    }

    void fieldsByName()
    {
        // Names are the window's objectNames and the tests' handles: each field has one, and each name
        // leads back to its field.
        QSet<QString> seen;
        for (const FieldRef& ref : ConsoleModel::allFields()) {
            const QString name = ConsoleModel::name(ref);
            QVERIFY2(!seen.contains(name), qPrintable(name));
            seen.insert(name);
            QCOMPARE(ConsoleModel::find(name), std::optional<FieldRef>(ref));
        }
        QCOMPARE(seen.size(), kFieldCount - 5 + 5 * ConsoleModel::kSlots);
        QCOMPARE(ConsoleModel::find("Address_32"), std::nullopt);
        QCOMPARE(ConsoleModel::find("Label8"), std::optional<FieldRef>(Field::CrcErrorFlag));
        QCOMPARE(ConsoleModel::find("NoSuchField"), std::nullopt);
    }

    void wrongSlotIsRefusedNotGuessed()
    {
        // A slot out of range, or a slot given to a single field, would reach another field's state.
        ConsoleModel m;
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, m.setText(Field::Address, 32, "1"));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, m.text(Field::Address, -1));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, m.text(Field::Address));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, m.setText(Field::Cmd, 0, "x"));
        QCOMPARE(m.text(Field::Cmd), QString());
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
            m.setCheck(Field::ckAck, 1);
            m.choose(ConsoleModel::find(before)->field);
            m.choose(ConsoleModel::find(option)->field);
            QCOMPARE(m.enabled(Field::ckAck), ack);
            QCOMPARE(m.enabled(Field::ckRes), ack);
            QCOMPARE(m.enabled(Field::txtProtocol), code);
            QCOMPARE(m.check(Field::ckAck), 1); // the rule never changes values
            QCOMPARE(m.protocol(), protocol);
            int chosen = 0;
            for (const char* o : {"Modbus", "Protocol4", "Protocol4Plus", "ProtocolAA", "OptBioscrypt", "OptNone"})
                chosen += m.selected(ConsoleModel::find(o)->field);
            QCOMPARE(chosen, 1);
        }
    }

    void modbusSetsSpeed()
    {
        ConsoleModel m;
        QCOMPARE(m.text(Field::COMSpeed), QStringLiteral("38400"));
        m.choose(Field::Modbus);
        QCOMPARE(m.text(Field::COMSpeed), QStringLiteral("9600"));
        m.choose(Field::Protocol4);
        QCOMPARE(m.text(Field::COMSpeed), QStringLiteral("9600"));
        m.setText(Field::COMSpeed, "19200");
        m.setSelected(Field::Modbus, false); // deselecting runs no rule
        QCOMPARE(m.text(Field::COMSpeed), QStringLiteral("19200"));
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
        m.choose(tcp ? Field::OpCOM : Field::OpTCP);
        m.choose(ConsoleModel::find(option)->field);
        QCOMPARE(m.enabled(Field::IP), tcp);
        QCOMPARE(m.enabled(Field::Port), tcp);
        QCOMPARE(m.enabled(Field::ComPort), !tcp);
        QCOMPARE(m.enabled(Field::COMSpeed), !tcp);
        QCOMPARE(m.serialLink(), !tcp);
        QCOMPARE(m.selected(tcp ? Field::OpCOM : Field::OpTCP), false);
    }

    void encryptLeavesPassPhrase()
    {
        ConsoleModel m;
        m.choose(Field::Encrypt);
        QVERIFY(m.enabled(Field::Password));
        m.setText(Field::Password, "0F12");
        m.choose(Field::decrypt);
        QVERIFY(!m.enabled(Field::Password));
        QCOMPARE(m.text(Field::Password), QStringLiteral("0F12"));
        QVERIFY(!m.selected(Field::Encrypt));
    }

    void memoryPanelFollowsCheck2()
    {
        ConsoleModel m;
        m.setText(Field::MemPage, "07");
        m.setCheck(Field::Check2, 1);
        QVERIFY(m.visible(Field::Picture1));
        m.setCheck(Field::Check2, 0);
        QVERIFY(!m.visible(Field::Picture1));
        QCOMPARE(m.text(Field::MemPage), QStringLiteral("07"));
    }

    void signalsForBinding()
    {
        ConsoleModel m;
        QSignalSpy values(&m, &ConsoleModel::valueChanged);
        QSignalSpy states(&m, &ConsoleModel::stateChanged);
        m.setText(Field::Address, 3, "17");
        m.setText(Field::Address, 3, "17"); // no change, no signal
        QCOMPARE(values.size(), 1);
        QCOMPARE(values[0][0].value<FieldRef>(), FieldRef(Field::Address, 3));
        m.choose(Field::OpTCP);
        QVERIFY(values.size() >= 3); // OpCOM deselected, OpTCP selected
        QVERIFY(states.size() >= 4); // IP, Port, ComPort, COMSpeed
        QVERIFY(!m.setListIndex(Field::TxtFunction, 7));
        QVERIFY(m.setListIndex(Field::TxtFunction, -1));
    }

    void requestSettingsReadNow()
    {
        ConsoleModel m;
        m.setText(Field::Address, 2, "9");
        m.choose(Field::OptBioscrypt);
        m.setCheck(Field::ckRes, 1);
        m.choose(Field::Encrypt);
        m.setText(Field::Password, "AB");
        const RequestSettings s = m.request(2);
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
