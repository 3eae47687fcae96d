// Sites in the console: a site is a folder with its settings and evidence. Moving between sites saves
// the one left and loads the other as a start would; new sites, the recent list, the title, and the
// commissioning report written from the window.

#include "ConfigFile.h"
#include "ConsoleModel.h"
#include "ConsoleWindow.h"
#include "ControllersDock.h"
#include "FakeFileDialogs.h"
#include "FakeStack.h"
#include "IniFile.h"
#include "RecentSites.h"
#include "ReportDialog.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace tarvo;

namespace {

struct Console {
    Console()
    {
        s.stopCyclesAfter(0.05);
        window.Form_Load(QString());
        window.watchBus(s.stack.journal, s.stack.health, s.stack.journalFile);
        window.resize(1280, 800);
        window.show();
    }
    QAction* action(const QString& name) { return window.findChild<QAction*>(name); }
    test::FakeStack s;
    ConsoleModel& model = s.model;
    test::FakeFileDialogs dialogs;
    test::FakePrompter& prompter = s.prompter;
    ConsoleWindow window{s.stack, prompter, &dialogs};
};

// A folder holding settings of its own: the IP field and a site name tell it apart.
void makeSite(const QString& folder, const QString& ip, const QString& name)
{
    QDir().mkpath(folder);
    ConsoleModel model;
    model.setText(Field::IP, ip);
    model.ini.site.name = name;
    QVERIFY(config::SaveConfig(model, QDir(folder).filePath("Tarvo.cfg")));
    QVERIFY(config::SaveIni(model, QDir(folder).filePath("Tarvo.ini")));
}

// What a start in the folder would read.
std::unique_ptr<ConsoleModel> readSite(const QString& folder)
{
    auto model = std::make_unique<ConsoleModel>();
    config::ReadConfig(*model, QDir(folder).filePath("Tarvo.cfg"));
    config::ReadIni(*model, QDir(folder).filePath("Tarvo.ini"));
    return model;
}

// Answers the next modal dialog of this object name as `fill` says, from the event loop.
void answerDialog(const QString& name, std::function<void(QDialog*)> fill)
{
    QTimer::singleShot(0, [name, fill] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* d = qobject_cast<QDialog*>(w); d && d->objectName() == name && d->isVisible()) {
                fill(d);
                return;
            }
        }
        QFAIL(qPrintable(name + " was not shown"));
    });
}

const char* const kDefaultIp = "127.0.0.1";

} // namespace

class TestSites : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_userSettings.path()); }
    void init()
    {
        QSettings(QSettings::IniFormat, QSettings::UserScope, "Tarvo", "Tarvo").clear();
        m_root = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(m_root->path()));
    }
    void cleanup() { QDir::setCurrent(QDir::tempPath()); }

    void switchingSavesOneSiteAndLoadsTheOther()
    {
        const QString a = m_root->filePath("plant-a"), b = m_root->filePath("plant-b");
        makeSite(a, "10.0.0.1", "Plant A");
        makeSite(b, "10.0.0.2", "Plant B");
        QVERIFY(QDir::setCurrent(a));
        Console c;
        c.window.setSite(a);
        QCOMPARE(c.model.text(Field::IP), QStringLiteral("10.0.0.1"));
        QVERIFY(c.window.windowTitle().contains("Plant A (" + QDir::toNativeSeparators(a) + ")"));

        // An edit at site A, and a slot name: both saved with A as the console leaves it.
        c.model.setText(Field::IP, "10.0.0.9");
        c.model.ini.slotNames[2] = "Door 3 reader";
        QVERIFY(c.window.openSite(b));
        QCOMPARE(QDir::currentPath(), b);
        QCOMPARE(c.model.text(Field::IP), QStringLiteral("10.0.0.2"));
        QCOMPARE(c.model.ini.slotNames[2], QString());
        QVERIFY(c.window.windowTitle().contains("Plant B (" + QDir::toNativeSeparators(b) + ")"));
        QVERIFY(c.window.windowTitle().startsWith("Tarvo  Version "));
        QCOMPARE(c.window.windowTitle().count("Version"), 1); // a fresh title, not the last one's
        const auto savedA = readSite(a);
        QCOMPARE(savedA->text(Field::IP), QStringLiteral("10.0.0.9"));
        QCOMPARE(savedA->ini.slotNames[2], QStringLiteral("Door 3 reader"));
        QCOMPARE(RecentSites::list(), (QStringList{b, a}));

        // A folder without settings starts from the defaults, not from what the last site had.
        const QString empty = m_root->filePath("empty");
        QDir().mkpath(empty);
        QVERIFY(c.window.openSite(empty));
        QCOMPARE(c.model.text(Field::IP), QString::fromLatin1(kDefaultIp));
        QCOMPARE(c.model.ini.site.name, QString());
        QVERIFY(c.window.windowTitle().endsWith(" — " + QDir::toNativeSeparators(empty)));
        QCOMPARE(readSite(b)->text(Field::IP), QStringLiteral("10.0.0.2"));
    }

    // The console stays where it is when the move cannot be made, and says why.
    void aSwitchThatCannotBeMadeChangesNothing()
    {
        const QString a = m_root->filePath("a");
        makeSite(a, "10.0.0.1", "A");
        QVERIFY(QDir::setCurrent(a));
        Console c;
        QVERIFY(!c.window.openSite(m_root->filePath("no-such-folder")));
        QCOMPARE(QDir::currentPath(), a);
        QCOMPARE(c.prompter.shown.size(), 1);
        QVERIFY(c.prompter.shown[0].text.contains("no folder the console can work in"));

        // While polling runs, the site entries are off and a move is refused.
        bool entriesOff = false;
        Lifecycle::SiteResult refused;
        c.s.pump.at(c.s.clock.t + 0.01, [&] {
            entriesOff = !c.action("actionOpenSite")->isEnabled() && !c.action("actionNewSite")->isEnabled();
            refused = c.s.lifecycle.openSite(m_root->path());
        });
        c.s.tick(0);
        c.model.setText(Field::Address, 0, QStringLiteral("1"));
        c.window.CmdStart_Click();
        QVERIFY(entriesOff);
        QVERIFY(!refused.opened);
        QVERIFY(refused.problem.contains("Stop the polling"));
        QCOMPARE(QDir::currentPath(), a);
        QVERIFY(c.action("actionOpenSite")->isEnabled());
    }

    void newSiteIsNamedAndSavedAtOnce()
    {
        const QString a = m_root->filePath("a");
        makeSite(a, "10.0.0.1", "A");
        QVERIFY(QDir::setCurrent(a));
        Console c;
        c.model.ini.site.technician = "R. Virtanen";
        const QString fresh = m_root->filePath("harbour-gate");
        QDir().mkpath(fresh);
        c.dialogs.answer = fresh;
        answerDialog("siteDetails", [](QDialog* d) {
            QCOMPARE(d->findChild<QLineEdit*>("siteName")->text(), QStringLiteral("harbour-gate"));
            QCOMPARE(d->findChild<QLineEdit*>("siteTechnician")->text(), QStringLiteral("R. Virtanen"));
            d->findChild<QLineEdit*>("siteName")->setText("Harbour gate 2");
            d->accept();
        });
        c.action("actionNewSite")->trigger();
        QCOMPARE(c.dialogs.folderStarts, QStringList{m_root->path()}); // offered beside the current site
        QCOMPARE(QDir::currentPath(), fresh);
        const auto saved = readSite(fresh);
        QCOMPARE(saved->ini.site.name, QStringLiteral("Harbour gate 2"));
        QCOMPARE(saved->ini.site.technician, QStringLiteral("R. Virtanen"));
        QCOMPARE(saved->text(Field::IP), QString::fromLatin1(kDefaultIp));
        QVERIFY(c.window.windowTitle().contains("Harbour gate 2"));

        // A folder that holds a site already is opened as it is, never started over.
        c.dialogs.answer = a;
        c.action("actionNewSite")->trigger();
        QCOMPARE(QDir::currentPath(), a);
        QCOMPARE(c.model.text(Field::IP), QStringLiteral("10.0.0.1"));
        QCOMPARE(readSite(a)->ini.site.name, QStringLiteral("A"));
    }

    void recentSitesKeepTheLastEight()
    {
        QStringList folders;
        for (int i = 0; i < 10; ++i) {
            folders << m_root->filePath(QStringLiteral("site%1").arg(i));
            QDir().mkpath(folders.last());
            RecentSites::add(folders.last());
        }
        RecentSites::add(folders[4]); // again: to the front, once
        const QStringList recent = RecentSites::list();
        QCOMPARE(recent.size(), RecentSites::kMost);
        QCOMPARE(recent.first(), folders[4]);
        QCOMPARE(recent.count(folders[4]), 1);
        QVERIFY(!recent.contains(folders[0]) && !recent.contains(folders[1]));

        Console c;
        QMenu* menu = c.window.findChild<QMenu*>("menuRecentSites");
        QVERIFY(menu->menuAction()->isEnabled());
        emit menu->aboutToShow();
        QCOMPARE(menu->actions().size(), RecentSites::kMost);
        c.action("actionRecentSite2")->trigger();
        QCOMPARE(QDir::currentPath(), recent[1]);
        QCOMPARE(RecentSites::list().first(), recent[1]);

        // A folder gone since is taken off the list, with a word why.
        QDir(recent[2]).removeRecursively();
        emit menu->aboutToShow();
        c.action("actionRecentSite3")->trigger();
        QCOMPARE(QDir::currentPath(), recent[1]);
        QVERIFY(!RecentSites::list().contains(recent[2]));
        QVERIFY(c.prompter.shown.last().text.contains("is gone"));
    }

    void reportsAreWrittenIntoTheSiteFolder()
    {
        const QString a = m_root->filePath("a");
        makeSite(a, "10.0.0.1", "Plant A");
        QVERIFY(QDir::setCurrent(a));
        Console c;
        auto* report = c.window.controllersDock()->findChild<QPushButton*>("ControllersReport");
        QVERIFY(report);

        // Without a journal file there is nothing to report on: the dock's button says how to get one.
        report->click();
        QVERIFY(c.prompter.shown.last().text.contains("Write journal to file"));

        c.window.setJournalToFile(true);
        c.s.tick(0);
        c.s.link.onWrite = [&](const QByteArray&) { c.s.link.reply(0.01, QByteArray::fromHex("0103020001")); };
        c.window.CmdSend_Click();
        QTRY_VERIFY(!c.s.polling.running());
        QSignalSpy written(&c.window, &ConsoleWindow::reportWritten);
        report->click();
        QTRY_COMPARE(written.size(), 1);
        const QString path = written[0][0].toString();
        QCOMPARE(QFileInfo(path).absolutePath(), a);
        QFile html(path);
        QVERIFY(html.open(QIODevice::ReadOnly));
        const QByteArray page = html.readAll();
        QVERIFY(page.startsWith("<!DOCTYPE html>"));
        QVERIFY(page.contains("Plant A"));
        QVERIFY(page.contains(QFileInfo(c.window.sessionJournal()).fileName().toUtf8()));

        // File → Commissioning report…: the session's journal is offered, and the file named there is
        // written; a name taken already is refused.
        const QString chosen = QDir(a).filePath("handover.html");
        answerDialog("reportDialog", [&](QDialog* d) {
            auto* dialog = qobject_cast<ReportDialog*>(d);
            QCOMPARE(dialog->journals(), QStringList{c.window.sessionJournal()});
            dialog->findChild<QLineEdit*>("outputFile")->setText(chosen);
            dialog->accept();
        });
        c.action("actionCommissioningReport")->trigger();
        QTRY_COMPARE(written.size(), 2);
        QCOMPARE(written[1][0].toString(), chosen);

        answerDialog("reportDialog", [&](QDialog* d) {
            d->findChild<QLineEdit*>("outputFile")->setText(chosen);
            QVERIFY(!d->findChild<QPushButton*>("writeReport")->isEnabled());
            d->reject();
        });
        c.action("actionCommissioningReport")->trigger();
        c.window.writeReport({c.window.sessionJournal()}, QString(), chosen);
        QVERIFY(c.prompter.shown.last().text.contains("never written over"));
        QCOMPARE(written.size(), 2);
    }

private:
    QTemporaryDir m_userSettings;
    std::unique_ptr<QTemporaryDir> m_root;
};

QTEST_MAIN(TestSites)
#include "tst_sites.moc"
