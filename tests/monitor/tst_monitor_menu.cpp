// View → Monitor in the window: the entry runs the console's monitor until Stop (the entry again, F7
// or Escape), opens the Journal dock for what is heard, says how it ended, and refuses while another
// cycle runs; View → Monitor gap… sets the silence that ends a frame.

#include "ConsoleWindow.h"
#include "Explain.h"
#include "FakeStack.h"
#include "JournalDock.h"
#include "JournalWriter.h"
#include "MonitorMenu.h"

#include <QAction>
#include <QInputDialog>
#include <QMenu>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

using namespace tarvo;
using namespace tarvo::test;

namespace {

const QByteArray kRequest = appendCheck(CheckKind::Crc16Modbus, QByteArray::fromHex("060401000006"));
const QByteArray kReply = appendCheck(CheckKind::Crc16Modbus, QByteArray::fromHex("0604040001000A"));

struct Console {
    Console()
    {
        window.watchBus(s.stack.journal, s.stack.health, writer);
        monitor = addMonitorMenu(window);
        window.show();
    }
    QAction* action(const char* name) { return window.findChild<QAction*>(name); }
    FakeStack s;
    JournalWriter& writer = s.stack.journalFile;
    ConsoleWindow window{s.stack, s.prompter};
    QAction* monitor = nullptr;
};

} // namespace

class TestMonitorMenu : public QObject {
    Q_OBJECT
private slots:
    void listensUntilStop_data()
    {
        QTest::addColumn<QString>("stop");
        QTest::newRow("the entry again") << "actionMonitor";
        QTest::newRow("F7") << "actionStop";
        QTest::newRow("Escape") << "actionEscapeStop";
    }
    void listensUntilStop()
    {
        QFETCH(QString, stop);
        Console c;
        c.s.model.choose(ConsoleModel::protocolOption(Protocol::Modbus));
        c.s.tick(0);
        c.s.link.reply(0.100, kRequest);
        c.s.link.reply(0.120, kReply);
        bool checked = false, docked = false;
        QString said;
        c.s.pump.at(0.5, [&] {
            checked = c.monitor->isChecked();
            docked = c.window.journalDock()->isVisible();
            said = c.window.statusBar()->currentMessage();
            c.window.findChild<QAction*>(stop)->trigger();
        });
        QCOMPARE(c.window.viewMenu()->actions().contains(c.monitor), true);
        c.monitor->trigger(); // returns when the monitor has stopped
        QVERIFY(checked);
        QVERIFY(docked);
        QVERIFY2(said.contains("listening"), qPrintable(said));
        QVERIFY(!c.monitor->isChecked());
        QVERIFY(!c.s.stack.monitor.listening());
        QCOMPARE(c.window.statusBar()->currentMessage(), QStringLiteral("Monitor stopped: 2 frame(s) heard."));
        QVERIFY(c.s.link.writes.isEmpty());
        c.s.stack.journal.flush();
        QCOMPARE(c.window.journalDock()->table().rowCount(), 2);
        QCOMPARE(c.window.journalDock()->table().record(1).detail, QStringLiteral("reply"));
    }

    void refusedWhileACycleRuns()
    {
        Console c;
        bool unchecked = false;
        QString said;
        c.s.pump.at(0.3, [&] {
            c.monitor->trigger();
            unchecked = !c.monitor->isChecked();
            said = c.window.statusBar()->currentMessage();
            c.window.CmdStop_Click();
        });
        c.window.CmdStart_Click();
        QVERIFY(unchecked);
        QCOMPARE(said, QStringLiteral("Stop the running cycle first: the monitor needs the link."));
    }

    void gapIsSet()
    {
        Console c;
        QTimer::singleShot(0, [&] {
            auto* dialog = c.window.findChild<QInputDialog*>();
            QVERIFY(dialog);
            dialog->setIntValue(40);
            dialog->accept();
        });
        c.action("actionMonitorGap")->trigger();
        QCOMPARE(c.s.model.ini.monitor.gapMs, 40);
    }
};

QTEST_MAIN(TestMonitorMenu)
#include "tst_monitor_menu.moc"
