// The console's menu bar and keys: each entry and key does what its button does, enabled as the
// button is; Translate, About and the list of keys.

#include "ConsoleModel.h"
#include "ConsoleWindow.h"
#include "FakeFileDialogs.h"
#include "FakePrompter.h"
#include "FakeStack.h"
#include "FrameWorkbench.h"
#include "TarvoVersion.h"
#include "TranslateDialog.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

using namespace tarvo;

namespace {

struct Console {
    Console()
    {
        s.stopCyclesAfter(0.05);
        window.resize(1280, 800);
        window.show();
        window.activateWindow();
    }
    QAction* action(const QString& name) { return window.findChild<QAction*>(name); }
    // The entries of a menu of the menu bar, by their text without the mnemonic.
    QStringList entries(const QString& menu)
    {
        QStringList texts;
        for (QAction* top : window.menuBar()->actions()) {
            if (top->text().remove('&') != menu)
                continue;
            for (QAction* a : top->menu()->actions())
                texts << (a->isSeparator() ? QStringLiteral("-") : a->text().remove('&'));
        }
        return texts;
    }
    test::FakeStack s;
    ConsoleModel& model = s.model;
    test::FakeFileDialogs dialogs;
    test::FakePrompter& prompter = s.prompter;
    ConsoleWindow window{s.stack, prompter, &dialogs};
};

} // namespace

class TestConsoleMenus : public QObject {
    Q_OBJECT
private slots:
    void menus()
    {
        Console c;
        QStringList titles;
        for (QAction* a : c.window.menuBar()->actions())
            titles << a->text().remove('&');
        QCOMPARE(titles, (QStringList{"File", "View", "Tools", "Help"}));
        QCOMPARE(c.entries("File"), (QStringList{"Open command file…", "Save command file…", "-", "New site…",
                                                 "Open site…", "Recent sites", "Site details…", "-", "Export journal…",
                                                 "Commissioning report…", "-", "Quit"}));
        QCOMPARE(c.entries("Tools"), (QStringList{"Translate…", "Frame workbench…"}));
        QCOMPARE(c.entries("Help"), (QStringList{"Keyboard shortcuts", "About Tarvo"}));
        QCOMPARE(c.window.toolsMenu()->title().remove('&'), QStringLiteral("Tools"));
        // Without the bus views there is nothing to view or export.
        QVERIFY(!c.window.menuBar()->actions()[1]->isVisible());
        QVERIFY(!c.action("actionExportJournal")->isEnabled());
    }

    // Keys and entries reach the same signal as the button, and only while the button is enabled.
    void keysAndEntriesDoWhatTheButtonsDo_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QByteArray>("signal");
        QTest::newRow("F5") << int(Qt::Key_F5) << "CmdSend" << QByteArray(SIGNAL(sendClicked()));
        QTest::newRow("F6") << int(Qt::Key_F6) << "CmdStart" << QByteArray(SIGNAL(startClicked()));
        QTest::newRow("F7") << int(Qt::Key_F7) << "CmdStop" << QByteArray(SIGNAL(stopClicked()));
    }
    void keysAndEntriesDoWhatTheButtonsDo()
    {
        QFETCH(int, key);
        QFETCH(QString, button);
        QFETCH(QByteArray, signal);
        Console c;
        QVERIFY(QTest::qWaitForWindowActive(&c.window));
        QSignalSpy spy(&c.window, signal.constData());
        QTest::keyClick(c.window.fieldWidget(QStringLiteral("Scan")), static_cast<Qt::Key>(key));
        QCOMPARE(spy.count(), 1);
        const FieldRef field = ConsoleModel::find(button).value();
        c.model.setEnabled(field, false);
        QTest::keyClick(c.window.fieldWidget(QStringLiteral("Scan")), static_cast<Qt::Key>(key));
        QCOMPARE(spy.count(), 1);
        c.model.setEnabled(field, true);
        QTest::keyClick(&c.window, static_cast<Qt::Key>(key));
        QCOMPARE(spy.count(), 2);
    }

    // Escape stops only a running cycle (Send One Time disabled); otherwise it is left alone.
    void escapeStopsOnlyARunningCycle()
    {
        Console c;
        QVERIFY(QTest::qWaitForWindowActive(&c.window));
        QSignalSpy stop(&c.window, &ConsoleWindow::stopClicked);
        QTest::keyClick(c.window.fieldWidget(QStringLiteral("Scan")), Qt::Key_Escape);
        QCOMPARE(stop.count(), 0);
        c.model.setEnabled(Field::CmdSend, false);
        c.model.setEnabled(Field::CmdStart, false);
        QTest::keyClick(c.window.fieldWidget(QStringLiteral("Scan")), Qt::Key_Escape);
        QCOMPARE(stop.count(), 1);
        c.model.setEnabled(Field::CmdSend, true);
        QTest::keyClick(c.window.fieldWidget(QStringLiteral("Scan")), Qt::Key_Escape);
        QCOMPARE(stop.count(), 1);
    }

    void fileEntriesUseTheCommandFileButtons()
    {
        Console c;
        c.action("actionOpenCommandFile")->trigger();
        c.action("actionSaveCommandFile")->trigger();
        QCOMPARE(c.dialogs.filters.size(), 2);
        c.model.setEnabled(Field::CmdOpen, false);
        QVERIFY(!c.action("actionOpenCommandFile")->isEnabled());
        QVERIFY(c.action("actionSaveCommandFile")->isEnabled());
        QVERIFY(c.action("actionOpenCommandFile")->shortcut() == QKeySequence::Open);
    }

    void quitClosesThroughTheCloseHandler()
    {
        Console c;
        int asked = 0;
        c.window.setCloseHandler([&] { return ++asked > 1; });
        c.action("actionQuit")->trigger();
        QVERIFY(c.window.isVisible());
        c.action("actionQuit")->trigger();
        QVERIFY(!c.window.isVisible());
        QCOMPARE(asked, 2);
    }

    // Tools → Translate opens the dialog with the reply box that has the focus, or empty.
    void translateTakesTheSelectedReply()
    {
        Console c;
        QVERIFY(QTest::qWaitForWindowActive(&c.window));
        c.action("actionTranslate")->trigger();
        QVERIFY(c.window.translateDialog());
        QCOMPARE(c.window.translateDialog()->hexText(), QString());
        c.window.translateDialog()->close();
        QTRY_VERIFY(!c.window.translateDialog());

        c.model.setText(Field::Reponse1, 4, QStringLiteral("48 49 "));
        QTest::mouseClick(c.window.fieldWidget(FieldRef(Field::Reponse1, 4)), Qt::LeftButton);
        c.window.activateWindow();
        c.action("actionTranslate")->trigger();
        QCOMPARE(c.window.translateDialog()->hexText(), QStringLiteral("48 49 "));
        QCOMPARE(c.window.translateDialog()->asciiText(), QStringLiteral("HI"));
    }

    // The workbench starts from the console's settings, stays beside it, and is opened only once.
    void workbenchOpensFromTheConsole()
    {
        Console c;
        c.model.choose(Field::Modbus);
        c.model.setText(Field::Address, 3, "0");
        c.model.setCheck(Field::CheckAdr, 3, 1);
        c.action("actionFrameWorkbench")->trigger();
        auto* bench = c.window.findChild<FrameWorkbench*>();
        QVERIFY(bench);
        QVERIFY(bench->isVisible());
        QVERIFY(!bench->isModal());
        QCOMPARE(bench->protocolBox()->currentText(), QStringLiteral("Modbus"));
        QCOMPARE(bench->requestHexView()->text(), QStringLiteral("01 02 00 00 00 10 79 C6"));
        c.action("actionFrameWorkbench")->trigger();
        QCOMPARE(c.window.findChildren<FrameWorkbench*>().size(), 1);
        bench->close();
        QTRY_VERIFY(c.window.findChildren<FrameWorkbench*>().isEmpty()); // deleted on close
        c.action("actionFrameWorkbench")->trigger();
        QCOMPARE(c.window.findChildren<FrameWorkbench*>().size(), 1);
    }

    void aboutAndShortcuts()
    {
        Console c;
        c.action("actionAbout")->trigger();
        auto* about = c.window.findChild<QMessageBox*>("AboutBox");
        QVERIFY(about);
        const QString text = about->text();
        QVERIFY2(text.contains(QStringLiteral("Tarvo " TARVO_VERSION)), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Qt ") + qVersion()), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Built on %1-").arg(QDate::currentDate().year())) ||
                     text.contains(QStringLiteral("Built on %1-").arg(QDate::currentDate().year() - 1)),
                 qPrintable(text));
        about->accept();

        c.action("actionShortcuts")->trigger();
        auto* keys = c.window.findChild<QMessageBox*>("ShortcutsBox");
        QVERIFY(keys);
        for (const char* shown :
             {"F5", "F6", "F7, Esc", "Return", "Ctrl+O", "Ctrl+S", "Ctrl+Q", "Ctrl+T", "Ctrl+B", "F1"})
            QVERIFY2(keys->text().contains(QLatin1String(shown)), shown);
        QCOMPARE(c.window.fieldWidget(QStringLiteral("CmdSend"))->toolTip(), QStringLiteral("Send One Time (F5)"));
    }
};

QTEST_MAIN(TestConsoleMenus)
#include "tst_console_menus.moc"
