// Tools → Test plan…, offscreen, over a scripted Protocol 4 bus: the steps as rows, each turning pass
// or fail with its reason as the plan runs on the console's cycle, every attempt journalled, Stop and
// Escape, the results saved as JUnit XML and CSV, and a plan with mistakes shown and not run.

#include "FakeFileDialogs.h"
#include "JUnitCheck.h"
#include "PlanDialog.h"
#include "ScriptedBus.h"
#include "TestFiles.h"

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvo;
using namespace tarvo::test;

namespace {

struct Rows final : JournalSink {
    void append(const QList<JournalRecord>& records) override { rows += records; }
    QList<JournalRecord> rows;
};

struct Rig : ScriptedBus {
    Rig()
    {
        answering = {2, 5};
        badCheck = {5};
        stack.journal.addSink(&journal);
        model.setText(Field::TimeOutDelay, QStringLiteral("100"));
    }
    ~Rig() { stack.journal.removeSink(&journal); }
    template <typename W> W* find(const char* name) { return dialog.findChild<W*>(QString::fromLatin1(name)); }
    void click(const char* button) { QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton); }
    bool enabled(const char* button) { return find<QPushButton>(button)->isEnabled(); }
    bool open(const QByteArray& plan)
    {
        if (!writeFile("plan.toml", plan))
            return false;
        files.answer = QStringLiteral("plan.toml");
        click("openButton");
        return true;
    }
    // "step @ address: RESULT reason" per row.
    QStringList shownRows()
    {
        auto* table = find<QTableWidget>("steps");
        QStringList rows;
        for (int r = 0; r < table->rowCount(); ++r)
            rows << QStringLiteral("%1 @ %2: %3 %4")
                        .arg(table->item(r, 0)->text(), table->item(r, 1)->text(), table->item(r, 2)->text(),
                             table->item(r, 3)->text())
                        .simplified();
        return rows;
    }

    Rows journal;
    FakeFileDialogs files;
    PlanDialog dialog{stack, &files};
};

// To look at the window as a user would: TARVO_SHOW_SECONDS=5 under a display keeps it up that long.
void lookAt()
{
    if (const int seconds = qEnvironmentVariableIntValue("TARVO_SHOW_SECONDS"))
        QTest::qWait(seconds * 1000);
}

const QByteArray kPlan = "name = \"Rig\"\n"
                         "[timing]\ntries = 1\n"
                         "[[step]]\nname = \"Inputs\"\naddress = [2, 3, 5]\nfunction = \"read-input\"\n"
                         "on_fail = \"continue\"\n[step.expect]\nreply = \"03 02 02 ?? ?? *\"\n"
                         "[[step]]\nwait_ms = 10\n"
                         "[[step]]\nname = \"Silent three\"\naddress = 3\nfunction = \"read-input\"\n"
                         "[step.expect]\nverdict = \"no-answer\"\n"
                         "[[step]]\nname = \"Five again\"\naddress = 5\nfunction = \"read-input\"\n"
                         "[[step]]\nname = \"After\"\naddress = 2\nfunction = \"read-input\"\n";

} // namespace

class TestPlanDialog : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QDir::setCurrent(m_dir.path()); }

    void rowsTurnPassOrFailAsItRuns()
    {
        Rig r;
        r.dialog.show();
        r.dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&r.dialog)); // F8 is the window's key
        QVERIFY(r.open(kPlan));
        QCOMPARE(r.shownRows(),
                 (QStringList{"Inputs @ 2:", "Inputs @ 3:", "Inputs @ 5:", "wait 10 ms @ : a pause of 10 ms",
                              "Silent three @ 3:", "Five again @ 5:", "After @ 2:"}));
        QVERIFY(r.enabled("runButton"));
        QVERIFY(!r.enabled("stopButton"));
        QVERIFY(!r.enabled("saveButton"));
        QCOMPARE(r.model.ini.plans.last, QStringLiteral("plan.toml")); // kept in Tarvo.ini, from the site

        // While it runs: its own buttons, the console's cycle taken (polling refused), the rows so far.
        bool runEnabled = true, stopEnabled = false, pollingRefused = false;
        QStringList rowsMidway;
        r.link.onWrite = [&, inner = r.link.onWrite](const QByteArray& frame) {
            inner(frame);
            if (r.link.writes.size() == 3)
                r.pump.at(r.clock.t + 0.002, [&] {
                    runEnabled = r.enabled("runButton");
                    stopEnabled = r.enabled("stopButton");
                    pollingRefused = !r.stack.polling.start();
                    rowsMidway = r.shownRows();
                });
        };
        QTest::keyClick(&r.dialog, Qt::Key_F8);
        QVERIFY(!runEnabled);
        QVERIFY(stopEnabled);
        QVERIFY(pollingRefused);
        QCOMPARE(rowsMidway.mid(0, 3),
                 (QStringList{"Inputs @ 2: PASS", "Inputs @ 3: FAIL verdict no-answer, expected ok",
                              "Inputs @ 5: running…"}));

        QCOMPARE(r.shownRows(), (QStringList{"Inputs @ 2: PASS", "Inputs @ 3: FAIL verdict no-answer, expected ok",
                                             QStringLiteral("Inputs @ 5: FAIL verdict bad-check, expected ok (%1)")
                                                 .arg(r.dialog.results()[2].shown.detail),
                                             "wait 10 ms @ : a pause of 10 ms", "Silent three @ 3: PASS",
                                             QStringLiteral("Five again @ 5: FAIL verdict bad-check, expected ok (%1)")
                                                 .arg(r.dialog.results()[2].shown.detail),
                                             "After @ 2: skipped not run: step \"Five again\" failed"}));
        QVERIFY(r.find<QLabel>("status")->text().contains("FAIL"));
        QVERIFY(r.enabled("runButton"));
        QVERIFY(r.enabled("saveButton"));
        // Every attempt is in the journal: one per request written.
        r.stack.journal.flush();
        QCOMPARE(r.journal.rows.size(), r.link.writes.size());
        QCOMPARE(r.link.writes.size(), 5);

        // Save results: the JUnit XML and the CSV beside it.
        r.files.answer = QDir::current().filePath("results");
        r.click("saveButton");
        const JUnitReport junit = checkJUnit(fileContent("results.xml"));
        QVERIFY2(junit.problem.isEmpty(), qPrintable(junit.problem));
        QCOMPARE(junit.suiteName, QStringLiteral("Rig"));
        QCOMPARE(junit.cases.size(), 6);
        QCOMPARE(junit.cases[1].message, QStringLiteral("verdict no-answer, expected ok"));
        const QByteArray csv = fileContent("results.csv");
        QVERIFY(csv.startsWith("step,address,result,"));
        QCOMPARE(csv.count('\n'), 7);
        lookAt();
    }

    // Escape stops a running plan at its next wait: the rows done keep their results, no later row has
    // one, and the console's cycle is free again.
    void escapeStops()
    {
        Rig r;
        r.dialog.show();
        QVERIFY(r.open("[[step]]\nname = \"Many\"\naddress = 2\nfunction = \"read-input\"\nrepeat = 1000\n"
                       "[[step]]\nname = \"Next\"\naddress = 2\nfunction = \"read-input\"\n"));
        r.pump.at(r.clock.t + 0.5, [&] { QTest::keyClick(&r.dialog, Qt::Key_Escape); });
        r.click("runButton");
        QVERIFY(r.dialog.isVisible());
        QVERIFY(r.dialog.results().isEmpty());
        QCOMPARE(r.shownRows(), (QStringList{"Many @ 2: stopped", "Next @ 2:"}));
        QVERIFY(r.find<QLabel>("status")->text().startsWith("Stopped"));
        QVERIFY(!r.stack.polling.running());
        QVERIFY(r.enabled("runButton"));
    }

    // Mistakes are shown with their lines and columns; nothing can be run.
    void mistakesShownNotRun()
    {
        Rig r;
        r.dialog.show();
        QVERIFY(r.open("[[step]]\nname = \"s\"\nadress = 2\nfunction = \"read-input\"\n"));
        const QString status = r.find<QLabel>("status")->text();
        QVERIFY2(status.contains("plan.toml:3:1: unknown key &quot;adress&quot;"), qPrintable(status));
        QVERIFY2(status.contains("plan.toml:1:1: step &quot;s&quot; has no address"), qPrintable(status));
        lookAt();
        QVERIFY(!r.enabled("runButton"));
        QTest::keyClick(&r.dialog, Qt::Key_F8);
        QVERIFY(r.link.writes.isEmpty());

        // Read well, refused at Run: a request the console's protocol refuses, another kind of link.
        QVERIFY(r.open("[[step]]\nname = \"s\"\naddress = 300\nfunction = \"read-input\"\n"));
        r.click("runButton");
        QVERIFY2(r.find<QLabel>("status")->text().contains("plan.toml:3:11: step &quot;s&quot;, address 300"),
                 qPrintable(r.find<QLabel>("status")->text()));
        QVERIFY(
            r.open("[link]\ntcp = \"127.0.0.1:1\"\n[[step]]\nname = \"s\"\naddress = 2\nfunction = \"read-input\"\n"));
        r.click("runButton");
        QVERIFY2(r.find<QLabel>("status")->text().contains("the console's link is a serial port"),
                 qPrintable(r.find<QLabel>("status")->text()));
        QVERIFY(r.link.writes.isEmpty());
    }

    // A plan cannot start while the console polls.
    void notWhilePolling()
    {
        Rig r;
        r.dialog.show();
        QVERIFY(r.open(kPlan));
        bool runEnabled = true;
        bool looked = false;
        r.stopCyclesAfter(0.2);
        r.pump.at(r.clock.t + 0.1, [&] {
            looked = true;
            runEnabled = r.enabled("runButton");
            r.dialog.run(); // refused: the link is polling's
        });
        r.tick(2);
        r.model.setText(Field::Address, 2, QStringLiteral("2"));
        r.stack.polling.start();
        QVERIFY(looked);
        QVERIFY(!runEnabled);
        QVERIFY(r.dialog.results().isEmpty());
        QVERIFY(r.enabled("runButton"));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestPlanDialog)
#include "tst_plan_dialog.moc"
