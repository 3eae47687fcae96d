#include "Clock.h"
#include "ConsoleModel.h"
#include "ConsoleWindow.h"
#include "EventPump.h"
#include "FakeFileDialogs.h"
#include "FakePrompter.h"
#include "FakeStack.h"
#include "MemoryRead.h"
#include "TranslateDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace tarvo;

namespace {

// The text a widget shows, whatever its kind: caption, title, or value.
QString shown(const QWidget* w)
{
    if (auto* l = qobject_cast<const QLabel*>(w))
        return l->text();
    if (auto* b = qobject_cast<const QAbstractButton*>(w))
        return b->text();
    if (auto* g = qobject_cast<const QGroupBox*>(w))
        return g->title();
    if (auto* e = qobject_cast<const QLineEdit*>(w))
        return e->text();
    if (auto* c = qobject_cast<const QComboBox*>(w))
        return c->currentText();
    if (auto* p = qobject_cast<const QPlainTextEdit*>(w))
        return p->toPlainText();
    return QStringLiteral("<no text: %1>").arg(QLatin1String(w->metaObject()->className()));
}

QStringList itemsOf(const QComboBox* c)
{
    QStringList items;
    for (int i = 0; i < c->count(); ++i)
        items.append(c->itemText(i));
    return items;
}

struct Console {
    Console() { s.stopCyclesAfter(0.05); }
    test::FakeStack s;
    ConsoleModel& model = s.model;
    test::FakeFileDialogs dialogs;
    test::FakePrompter& prompter = s.prompter;
    ConsoleWindow window{s.stack, prompter, &dialogs};

    template <class T = QWidget> T* find(const QString& name)
    {
        T* w = window.findChild<T*>(name);
        if (!w)
            qWarning("no widget %s", qPrintable(name));
        return w;
    }
    template <class T = QWidget> T* find(FieldRef ref) { return find<T>(ConsoleModel::name(ref)); }
    void showAt1280x800()
    {
        window.resize(1280, 800);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
};

} // namespace

class TestConsoleWindow : public QObject {
    Q_OBJECT
private slots:
    void title()
    {
        Console c;
        QCOMPARE(c.window.windowTitle(), QStringLiteral("Tarvo"));
    }

    // Written out here rather than read from the model, so a typo on either side shows.
    void captionsAndDefaults_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        const char* rows[][2] = {
            {"Label3", "Function"},
            {"CmdSend", "Send One Time"},
            {"CmdStart", "Start"},
            {"CmdStop", "Stop"},
            {"Check2", "Show Read Memory Options "},
            {"Label8", "CRC Error !!! (Proto4)"},
            {"LblEcho", "Echo !!!"},
            {"Label14_0", "#1"},
            {"Label14_31", "#32"},
            {"Reponse_0", ""},
            {"Reponse1_31", ""},
            {"Frame2", "  Received String  "},
            {"Answer1", ""},
            {"Answer", ""},
            {"Scan", "1"},
            {"Label5", "Scan rate if func 02, 04 or 24 "},
            {"Label6", "msec."},
            {"Query", "01"},
            {"Label4", "Query Code if func 24"},
            {"OpCOM", "COM Port:"},
            {"OpTCP", "TCP"},
            {"ComPort", "COM1"},
            {"COMSpeed", "38400"},
            {"Label12", "Speed:"},
            {"IP", "127.0.0.1"},
            {"Port", "1001"},
            {"Label13", "Port:"},
            {"TimeOutDelay", "1500"},
            {"Label7", "Time Out Delay :"},
            {"Label10", "Msec."},
            {"WaitingDelay", "50"},
            {"Label1", "Receive Buffer Scanning Delay :"},
            {"Label9", "Msec."},
            {"Frame1", "  Command to send  "},
            {"Cmd", ""},
            {"CmdOpen", "Open"},
            {"CmdSave", "Save"},
            {"Frame5", "Controller Address (00-65535)"},
            {"CheckAdr_0", "#1"},
            {"CheckAdr_31", "#32"},
            {"Address_0", ""},
            {"Address_31", ""},
            {"Modbus", "Modbus"},
            {"Protocol4", "Protocol 4"},
            {"Protocol4Plus", "Protocol 4+"},
            {"ProtocolAA", "Customer Protocol"},
            {"OptBioscrypt", "Bioscrypt"},
            {"OptNone", "None"},
            {"ckAck", "Ack Req"},
            {"ckRes", "Resp Req"},
            {"txtProtocol", "AA"},
            {"Encrypt", "Encrypt"},
            {"decrypt", "Decrypt"},
            {"Password", ""},
            {"Check1", "Save Config on exit"},
            {"Label11", "TimeOut c'est le temps maximal d'attente, si on ne recoit rien.                            "
                        "Le Receive Buffer Scanning Delay c'est le temps qu'on attend pour voir si il n'y a rien de "
                        "nouveau sur la ligne, si le in buffer est identique a lui meme ou bien si il augmente.  "},
            {"MemPage", "01"},
            {"Label2", "Page Number "},
            {"MemAddress", "1e2c"},
            {"Label15", "First Address "},
            {"MemRecordNumber", "99"},
            {"Label16", "Number of records"},
            {"MemRecordSize", "12"},
            {"Label17", "Record size"},
            {"CmdReadMemory", "READ"},
        };
        for (const auto& row : rows)
            QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1]);
    }
    void captionsAndDefaults()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        Console c;
        QWidget* w = c.find(name);
        QVERIFY(w);
        QCOMPARE(shown(w), text);
    }

    // Every field of the model, all 32 rows of each slot array included, has its widget and caption.
    void everyFieldIsDrawnUnderItsName()
    {
        Console c;
        for (const FieldRef& ref : ConsoleModel::allFields()) {
            const QString name = ConsoleModel::name(ref);
            QWidget* w = c.find(name);
            QVERIFY2(w, qPrintable(name));
            QCOMPARE(c.window.fieldWidget(name), w);
            QCOMPARE(c.window.fieldWidget(ref), w);
            if (!c.model.caption(ref).isEmpty())
                QCOMPARE(shown(w), c.model.caption(ref));
        }
    }

    void lists_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("TxtFunction") << "TxtFunction"
                                     << QStringList{"Read Input (02)",       "Read Buffer 100/110 (04)",
                                                    "Read Buffer 100 (04) ", "Read Buffer 110 (04) ",
                                                    "Send command",          "Send Query (24)",
                                                    "Waiting for messages!"};
        QTest::newRow("ComPort") << "ComPort" << QStringList{"COM1", "COM2", "COM3", "COM4", "COM5"};
        QTest::newRow("COMSpeed") << "COMSpeed" << QStringList{"4800", "9600", "19200", "38400", "57600", "115200"};
    }
    void lists()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, items);
        Console c;
        QCOMPARE(itemsOf(c.find<QComboBox>(name)), items);
    }

    void tabsAndDefaultStates()
    {
        Console c;
        auto* tabs = c.find<QTabWidget>(QStringLiteral("SSTab1"));
        QCOMPARE(tabs->count(), 2);
        QCOMPARE(tabs->tabText(0), QStringLiteral("   General"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("   Definition"));
        QCOMPARE(tabs->currentIndex(), 0);
        QVERIFY(c.find<QComboBox>(QStringLiteral("ComPort"))->isEditable());
        QVERIFY(c.find<QComboBox>(QStringLiteral("COMSpeed"))->isEditable());
        QVERIFY(!c.find<QComboBox>(QStringLiteral("TxtFunction"))->isEditable());

        for (const char* on : {"OpCOM", "Protocol4", "decrypt", "Check1"})
            QVERIFY2(c.find<QAbstractButton>(QLatin1String(on))->isChecked(), on);
        for (const char* off : {"OpTCP", "Modbus", "Protocol4Plus", "ProtocolAA", "OptBioscrypt", "OptNone", "Encrypt",
                                "ckAck", "ckRes", "Check2"})
            QVERIFY2(!c.find<QAbstractButton>(QLatin1String(off))->isChecked(), off);
        for (int i = 0; i < ConsoleModel::kSlots; ++i)
            QVERIFY(!c.find<QCheckBox>(FieldRef(Field::CheckAdr, i))->isChecked());

        for (const char* disabled : {"Password", "IP", "Port", "ckAck", "ckRes", "txtProtocol"})
            QVERIFY2(!c.find(QLatin1String(disabled))->isEnabled(), disabled);
        for (const char* hidden : {"Label8", "LblEcho", "Picture1"})
            QVERIFY2(c.find(QLatin1String(hidden))->isHidden(), hidden);
        QVERIFY(c.find<QPushButton>(QStringLiteral("CmdSend"))->isDefault());
    }

    // Each keystroke reaches the model at once, not when the field loses focus.
    void typingReachesModel_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("text");
        QTest::newRow("text box") << "TimeOutDelay"
                                  << "0"
                                  << "15000";
        QTest::newRow("slot address") << "Address_5"
                                      << "123"
                                      << "123";
        QTest::newRow("port drop-down") << "ComPort"
                                        << "0"
                                        << "COM10";
        QTest::newRow("speed drop-down") << "COMSpeed"
                                         << "00"
                                         << "3840000";
        QTest::newRow("memory panel") << "MemAddress"
                                      << "f"
                                      << "1e2cf";
    }
    void typingReachesModel()
    {
        QFETCH(QString, name);
        QFETCH(QString, keys);
        QFETCH(QString, text);
        Console c;
        QWidget* w = c.find(name);
        if (auto* combo = qobject_cast<QComboBox*>(w))
            w = combo->lineEdit();
        QSignalSpy spy(&c.model, &ConsoleModel::valueChanged);
        QTest::keyClicks(w, keys);
        const FieldRef ref = ConsoleModel::find(name).value();
        QCOMPARE(c.model.text(ref), text);
        QCOMPARE(spy.count(), keys.size());
        // Typing adds nothing to the drop-down's list.
        if (auto* combo = qobject_cast<QComboBox*>(c.find(name)))
            QCOMPARE(itemsOf(combo), c.model.listItems(ref.field));
    }

    // The model's answer to an edit is not written back into the box: the cursor stays where the
    // operator types.
    void typingInTheMiddleKeepsTheCursor()
    {
        Console c;
        auto* edit = c.find<QLineEdit>(QStringLiteral("TimeOutDelay"));
        edit->setCursorPosition(0);
        QTest::keyClicks(edit, QStringLiteral("98"));
        QCOMPARE(c.model.text(Field::TimeOutDelay), QStringLiteral("981500"));
        QCOMPARE(edit->cursorPosition(), 2);
    }

    // Every click of an option runs its rule, also a click on the option already chosen: clicking
    // Modbus again puts the speed back to 9600.
    void clickingTheChosenOptionRunsItsRuleAgain()
    {
        Console c;
        c.showAt1280x800();
        c.model.setListIndex(Field::Pages, ConsoleModel::kPageDefinition);
        auto* modbus = c.find<QRadioButton>(QStringLiteral("Modbus"));
        QTest::mouseClick(modbus, Qt::LeftButton);
        QCOMPARE(c.model.text(Field::COMSpeed), QStringLiteral("9600"));
        c.model.setText(Field::COMSpeed, "38400");
        QTest::mouseClick(modbus, Qt::LeftButton);
        QVERIFY(modbus->isChecked());
        QCOMPARE(c.model.text(Field::COMSpeed), QStringLiteral("9600"));

        // The keyboard chooses as a click does: Space on the focused option.
        c.model.setText(Field::COMSpeed, "19200");
        modbus->setFocus();
        QTest::keyClick(modbus, Qt::Key_Space);
        QCOMPARE(c.model.text(Field::COMSpeed), QStringLiteral("9600"));
    }

    void commandLinesAreCrLfInModel()
    {
        Console c;
        auto* cmd = c.find<QPlainTextEdit>(QStringLiteral("Cmd"));
        QTest::keyClicks(cmd, QStringLiteral("A"));
        QTest::keyClick(cmd, Qt::Key_Return);
        QTest::keyClicks(cmd, QStringLiteral("B\u00a0C"));
        QCOMPARE(c.model.text(Field::Cmd), QStringLiteral("A\r\nB\u00a0C"));

        c.model.setText(Field::Cmd, QStringLiteral("X\r\nY"));
        QCOMPARE(cmd->toPlainText(), QStringLiteral("X\nY"));
    }

    void clicksAndChoicesReachModel()
    {
        Console c;
        QTest::mouseClick(c.find(QStringLiteral("CheckAdr_3")), Qt::LeftButton);
        QVERIFY(c.model.slotSelected(3));

        // The rule runs in the model and its outcome comes back to the widgets.
        c.find<QRadioButton>(QStringLiteral("OptBioscrypt"))->click();
        QVERIFY(c.model.selected(Field::OptBioscrypt));
        QVERIFY(!c.model.selected(Field::Protocol4));
        QVERIFY(c.find(QStringLiteral("ckAck"))->isEnabled());
        QVERIFY(!c.find(QStringLiteral("txtProtocol"))->isEnabled());

        c.find<QRadioButton>(QStringLiteral("OpTCP"))->click();
        QVERIFY(c.model.selected(Field::OpTCP));
        QVERIFY(c.find(QStringLiteral("IP"))->isEnabled());
        QVERIFY(!c.find(QStringLiteral("ComPort"))->isEnabled());

        c.find<QCheckBox>(QStringLiteral("Check2"))->click();
        QCOMPARE(c.model.check(Field::Check2), 1);
        QVERIFY(!c.find(QStringLiteral("Picture1"))->isHidden());

        c.find<QComboBox>(QStringLiteral("TxtFunction"))->setCurrentIndex(4);
        QCOMPARE(c.model.listIndex(Field::TxtFunction), 4);
        c.find<QComboBox>(QStringLiteral("COMSpeed"))->setCurrentIndex(5);
        QCOMPARE(c.model.text(Field::COMSpeed), QStringLiteral("115200"));
        c.find<QTabWidget>(QStringLiteral("SSTab1"))->setCurrentIndex(1);
        QCOMPARE(c.model.listIndex(Field::SSTab1), 1);
    }

    void modelChangesReachWidgets()
    {
        Console c;
        c.model.setText(Field::TimeOutDelay, QStringLiteral("2000"));
        QCOMPARE(shown(c.find(QStringLiteral("TimeOutDelay"))), QStringLiteral("2000"));
        c.model.setText(Field::Reponse, 3, QStringLiteral("01 02 "));
        QCOMPARE(shown(c.find(QStringLiteral("Reponse_3"))), QStringLiteral("01 02 "));

        c.model.choose(Field::Modbus);
        QVERIFY(c.find<QRadioButton>(QStringLiteral("Modbus"))->isChecked());
        QVERIFY(!c.find<QRadioButton>(QStringLiteral("Protocol4"))->isChecked());
        QCOMPARE(shown(c.find(QStringLiteral("COMSpeed"))), QStringLiteral("9600"));
        // The model may leave a group with no option chosen; the widgets follow.
        c.model.setSelected(Field::Modbus, false);
        QVERIFY(!c.find<QRadioButton>(QStringLiteral("Modbus"))->isChecked());

        c.model.setCheck(Field::CheckAdr, 31, 1);
        QVERIFY(c.find<QCheckBox>(QStringLiteral("CheckAdr_31"))->isChecked());
        c.model.setCheck(Field::Check2, 1);
        QVERIFY(!c.find(QStringLiteral("Picture1"))->isHidden());
        c.model.setCheck(Field::Check2, 0);
        QVERIFY(c.find(QStringLiteral("Picture1"))->isHidden());

        c.model.setEnabled(Field::CmdSend, false);
        QVERIFY(!c.find(QStringLiteral("CmdSend"))->isEnabled());
        c.model.setVisible(Field::Label8, true);
        QVERIFY(!c.find(QStringLiteral("Label8"))->isHidden());

        c.model.setListIndex(Field::SSTab1, 1);
        QCOMPARE(c.find<QTabWidget>(QStringLiteral("SSTab1"))->currentIndex(), 1);
        c.model.setListIndex(Field::TxtFunction, 5);
        QCOMPARE(c.find<QComboBox>(QStringLiteral("TxtFunction"))->currentIndex(), 5);
    }

    // A refreshed port list must not replace the port the operator typed.
    void refreshedPortListKeepsText()
    {
        Console c;
        c.model.setText(Field::ComPort, QStringLiteral("/dev/ttyUSB3"));
        const QStringList ports{"COM1", "COM2", "/dev/ttyUSB0"};
        c.model.setListItems(Field::ComPort, ports);
        auto* combo = c.find<QComboBox>(QStringLiteral("ComPort"));
        QCOMPARE(itemsOf(combo), ports);
        QCOMPARE(combo->currentText(), QStringLiteral("/dev/ttyUSB3"));
        QCOMPARE(c.model.text(Field::ComPort), QStringLiteral("/dev/ttyUSB3"));
    }

    void everyRowReachableByScrolling_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("bar");
        QTest::addColumn<QString>("lastRow");
        QTest::newRow("results") << 0 << "VScroll2"
                                 << "Reponse_31";
        QTest::newRow("addresses") << 1 << "VScroll1"
                                   << "Address_31";
    }
    void everyRowReachableByScrolling()
    {
        QFETCH(int, page);
        QFETCH(QString, bar);
        QFETCH(QString, lastRow);
        Console c;
        c.model.setListIndex(Field::SSTab1, page);
        c.showAt1280x800();
        auto* scroll = c.find<QScrollBar>(bar);
        QVERIFY(scroll);
        auto* area = qobject_cast<QScrollArea*>(scroll->parentWidget()->parentWidget());
        QVERIFY(area);
        QWidget* row = c.find(lastRow);
        auto inView = [&] {
            const QRect r(row->mapTo(area->viewport(), QPoint(0, 0)), row->size());
            return area->viewport()->rect().contains(r);
        };
        QVERIFY(!inView());
        scroll->setValue(scroll->maximum());
        QVERIFY(inView());
    }

    void returnSendsOutsideTheCommandEditor()
    {
        Console c;
        c.showAt1280x800();
        QSignalSpy send(&c.window, &ConsoleWindow::sendClicked);
        QTest::keyClick(c.find(QStringLiteral("Scan")), Qt::Key_Return);
        QTRY_COMPARE(send.count(), 1);

        c.model.setListIndex(Field::SSTab1, 1);
        QTest::keyClick(c.find(QStringLiteral("Cmd")), Qt::Key_Return);
        QCOMPARE(c.model.text(Field::Cmd), QStringLiteral("\r\n"));
        QTest::keyClick(c.find(QStringLiteral("CmdOpen")), Qt::Key_Return); // presses Open, not Send
        QCOMPARE(c.dialogs.filters.size(), 1);
        QTest::qWait(300);
        QCOMPARE(send.count(), 1);
    }

    void buttonsAreSignals_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QByteArray>("signal");
        QTest::newRow("Send One Time") << "CmdSend" << QByteArray(SIGNAL(sendClicked()));
        QTest::newRow("Start") << "CmdStart" << QByteArray(SIGNAL(startClicked()));
        QTest::newRow("Stop") << "CmdStop" << QByteArray(SIGNAL(stopClicked()));
        QTest::newRow("READ") << "CmdReadMemory" << QByteArray(SIGNAL(readMemoryClicked()));
    }
    void buttonsAreSignals()
    {
        QFETCH(QString, button);
        QFETCH(QByteArray, signal);
        Console c;
        QSignalSpy spy(&c.window, signal.constData());
        c.find<QPushButton>(button)->click();
        QCOMPARE(spy.count(), 1);
    }

    // The window enables and disables its buttons as the cycles start and end: Send One Time and
    // Start while one runs; while polling also the function, the query and the addresses (the
    // slots' boxes stay, their ticks are read at every pass); READ while anything runs. Stop gives
    // everything back at once, shows the settings page and empties the replies.
    void buttonsFollowTheCycles_data()
    {
        QTest::addColumn<QString>("cycle");
        QTest::addColumn<QStringList>("disabledDuring");
        const QStringList sendButtons{"CmdSend", "CmdStart", "CmdReadMemory"};
        QTest::newRow("Send One Time") << "send" << sendButtons;
        QTest::newRow("Start") << "start"
                               << (sendButtons + QStringList{"TxtFunction", "Query", "Address_0", "Address_31"});
        QTest::newRow("monitor") << "monitor" << (sendButtons + QStringList{"TxtFunction", "Query"});
        QTest::newRow("READ") << "read" << sendButtons;
    }
    void buttonsFollowTheCycles()
    {
        QFETCH(QString, cycle);
        QFETCH(QStringList, disabledDuring);
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        Console c;
        c.s.tick(0);
        c.model.setText(Field::Address, 0, QStringLiteral("1"));
        c.model.setText(Field::TimeOutDelay, QStringLiteral("100"));
        c.model.setListIndex(Field::Pages, ConsoleModel::kPageDefinition);
        QStringList disabled;
        auto look = [&] {
            if (!disabled.isEmpty())
                return;
            for (const FieldRef& ref : ConsoleModel::allFields()) {
                if (!c.model.enabled(ref) && c.model.kind(ref) != FieldKind::Label)
                    disabled << ConsoleModel::name(ref);
            }
        };
        c.s.link.onWrite = [&](const QByteArray&) { look(); };
        c.s.pump.at(0.02, look); // the monitor sends nothing
        if (cycle == "send")
            c.window.CmdSend_Click();
        else if (cycle == "start")
            c.window.CmdStart_Click();
        else if (cycle == "monitor")
            QVERIFY(c.s.stack.monitor.run());
        else
            c.window.CmdReadMemory_Click();
        for (const QString& name : disabledDuring)
            QVERIFY2(disabled.contains(name), qPrintable(name + " enabled; disabled: " + disabled.join(' ')));
        QVERIFY2(!disabled.contains("CheckAdr_0") && !disabled.contains("CmdStop"), qPrintable(disabled.join(' ')));
        if (!disabledDuring.contains("Address_0"))
            QVERIFY(!disabled.contains("Address_0"));
        for (const QString& name :
             QStringList{"CmdSend", "CmdStart", "CmdReadMemory", "TxtFunction", "Query", "Address_0"})
            QVERIFY2(c.model.enabled(ConsoleModel::find(name).value()), qPrintable(name));
        if (cycle == "send" || cycle == "start") // the replies' page comes to the front
            QCOMPARE(c.model.listIndex(Field::Pages), ConsoleModel::kPageGeneral);
        if (cycle == "read") // the read's last requests stay in the command box
            QCOMPARE(c.model.text(Field::Cmd), memdump::memoryRequests("01", "1e2c", 99, 12));
    }

    // The operator types a shorter time-out into the window while a reply is awaited: the wait under
    // way ends on it, and the next try goes out then.
    void anEditDuringAWaitAppliesAtOnce()
    {
        Console c;
        c.showAt1280x800();
        c.s.tick(0);
        c.model.setText(Field::Address, 0, QStringLiteral("1"));
        c.model.setText(Field::TimeOutDelay, QStringLiteral("1500"));
        c.s.pump.at(0.1, [&] {
            auto* edit = c.find<QLineEdit>(QStringLiteral("TimeOutDelay"));
            edit->selectAll();
            QTest::keyClicks(edit, QStringLiteral("200"));
        });
        c.window.CmdSend_Click(); // nobody answers
        QCOMPARE(c.s.link.writes.size(), 3);
        QVERIFY2(c.s.link.writeTimes[1] < 0.25, qPrintable(QString::number(c.s.link.writeTimes[1])));
        QCOMPARE(c.model.text(Field::Reponse, 0), QStringLiteral("NO ANSWER FROM CONTROLLER ADDRESS 1"));
    }

    // Every bad reply shows the check value flag and the next request hides it, and each time the
    // window lays itself out again and lets go of what it made for that. A cycle's waits, run inside
    // the click that started it over the real event loop, free it as they go: a long poll of a
    // controller with bad replies left the window no bigger than it was.
    void checkValueFlagLeavesNothingBehind()
    {
        Console c;
        c.showAt1280x800();
        QtEventPump pump;
        SteadyClock clock;
        const auto reply = [&](bool bad) {
            c.model.showCheckError(false); // the next request
            c.model.showCheckError(bad);
            pumpUntil(pump, clock, clock.now() + 0.001);
        };
        qsizetype before = 0;
        qsizetype after = 0;
        QEventLoop loop;
        QTimer::singleShot(0, &loop, [&] {
            for (int i = 0; i < 5; ++i)
                reply(i % 2 == 0);
            before = c.window.findChildren<QObject*>().size();
            for (int i = 0; i < 200; ++i)
                reply(i % 2 == 0);
            after = c.window.findChildren<QObject*>().size();
            loop.quit();
        });
        loop.exec();
        QCOMPARE(after, before);
    }

    void stopGivesTheConsoleBack()
    {
        Console c;
        c.s.tick(3);
        c.model.setText(Field::Address, 3, QStringLiteral("3"));
        c.model.setText(Field::Reponse1, 20, QStringLiteral("old"));
        c.s.pump.at(0.05, [&] { c.window.CmdStop_Click(); });
        c.window.CmdSend_Click(); // nobody answers: Stop comes during the reply wait
        QVERIFY(!c.s.polling.running());
        QCOMPARE(c.model.listIndex(Field::Pages), ConsoleModel::kPageDefinition);
        QCOMPARE(c.model.text(Field::Reponse1, 20), QString());
        QVERIFY(c.model.enabled(Field::CmdSend) && c.model.enabled(Field::CmdStart));
        QCOMPARE(c.s.link.disconnects, 1); // by the exchange, when it saw Stop
    }

    void doubleClickOnReplyTranslates()
    {
        Console c;
        c.showAt1280x800();
        c.model.setText(Field::Reponse, 3, QStringLiteral("41 42 43 "));
        QTest::mouseDClick(c.find<QPlainTextEdit>(QStringLiteral("Reponse_3"))->viewport(), Qt::LeftButton);

        TranslateDialog* dialog = c.window.translateDialog();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->isModal());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("TARVO"));
        for (const auto& [name, caption] : {std::pair{"Label1", "Hex"}, std::pair{"Label2", "ASCII"},
                                            std::pair{"Command2", "Translate"}, std::pair{"Command1", "Exit"}})
            QCOMPARE(shown(dialog->findChild<QWidget*>(QLatin1String(name))), QLatin1String(caption));
        QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("Text1"))->text(), QStringLiteral("41 42 43 "));
        QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("Text2"))->text(), QStringLiteral("ABC"));

        // The operator edits the hex and translates again.
        auto* text1 = dialog->findChild<QLineEdit*>(QStringLiteral("Text1"));
        text1->clear();
        QTest::keyClicks(text1, QStringLiteral("4a 4B"));
        dialog->findChild<QPushButton*>(QStringLiteral("Command2"))->click();
        QCOMPARE(dialog->asciiText(), QStringLiteral("JK"));

        // Exit discards the dialog; the next opening starts from what was double-clicked, here nothing.
        dialog->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
        QTRY_VERIFY(!c.window.translateDialog());
        QTest::mouseDClick(c.find<QPlainTextEdit>(QStringLiteral("Reponse_0"))->viewport(), Qt::LeftButton);
        QVERIFY(c.window.translateDialog());
        QCOMPARE(c.window.translateDialog()->hexText(), QString());
        QCOMPARE(c.window.translateDialog()->asciiText(), QString());
    }

    void openAndSaveButtonsUseTheDialogs()
    {
        QTemporaryDir dir;
        Console c;
        c.dialogs.answer = dir.filePath(QStringLiteral("cmd.txt"));
        c.model.setText(Field::Cmd, QStringLiteral("A\r\nB"));
        c.find<QPushButton>(QStringLiteral("CmdSave"))->click();
        c.model.setText(Field::Cmd, QString());
        c.find<QPushButton>(QStringLiteral("CmdOpen"))->click();
        QCOMPARE(shown(c.find(QStringLiteral("Cmd"))), QStringLiteral("A\nB"));
        QCOMPARE(c.model.lastFileName, c.dialogs.answer);
        QCOMPARE(c.dialogs.filters, QStringList(2, QStringLiteral("Command Files (*.txt)|*.txt| All Files |*.*")));
    }

    void closeHandlerCanKeepWindowOpen()
    {
        Console c;
        c.showAt1280x800();
        bool allow = false;
        int asked = 0;
        c.window.setCloseHandler([&] {
            ++asked;
            return allow;
        });
        QVERIFY(!c.window.close());
        QVERIFY(c.window.isVisible());
        allow = true;
        QVERIFY(c.window.close());
        QCOMPARE(asked, 2);
    }
};

QTEST_MAIN(TestConsoleWindow)
#include "tst_console_window.moc"
