// The bus census dialog, offscreen, over a scripted bus: the table and the progress as the census
// goes, Stop, "Use these addresses", the export, and the choices remembered.

#include "Census.h"
#include "CensusDialog.h"
#include "FakeFileDialogs.h"
#include "Requests.h"
#include "ScriptedBus.h"
#include "TestFiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvo;
using namespace tarvo::test;

namespace {

struct Rig : ScriptedBus {
    Rig()
    {
        find<QLineEdit>("range")->setText("0..9");
        answering = {2, 5, 7};
    }
    template <typename W> W* find(const char* name) { return dialog.findChild<W*>(QString::fromLatin1(name)); }
    void click(const char* button) { QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton); }
    // The rows the table shows, "address verdict".
    QStringList shownRows()
    {
        auto* table = find<QTableWidget>("results");
        QStringList rows;
        for (int r = 0; r < table->rowCount(); ++r) {
            if (!table->isRowHidden(r))
                rows << table->item(r, 0)->text() + QLatin1Char(' ') + table->item(r, 3)->text();
        }
        return rows;
    }

    Census census{model, stack.link, clock, pump, prompter};
    FakeFileDialogs files;
    CensusDialog dialog{census, model, &files};
};

} // namespace

class TestCensusDialog : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QDir::setCurrent(m_dir.path()); }

    void progressWhileItRunsThenTheAnswers()
    {
        Rig r;
        r.dialog.show();
        QString progressAtAddress4;
        int barAtAddress4 = -1;
        bool stopEnabled = false;
        bool startEnabled = true;
        // 4 ms after the request to address 4 went out: the census is asking address 4.
        r.link.onWrite = [&, inner = r.link.onWrite](const QByteArray& frame) {
            inner(frame);
            if (frame[0] == 5)
                r.pump.at(r.clock.t + 0.004, [&] {
                    progressAtAddress4 = r.find<QLabel>("progressText")->text();
                    barAtAddress4 = r.find<QProgressBar>("progress")->value();
                    stopEnabled = r.find<QPushButton>("stopButton")->isEnabled();
                    startEnabled = r.find<QPushButton>("startButton")->isEnabled();
                });
        };
        r.click("startButton");

        QVERIFY2(progressAtAddress4.startsWith("Address 4 (5 of 10), "), qPrintable(progressAtAddress4));
        QVERIFY(progressAtAddress4.endsWith(" s left"));
        QCOMPARE(barAtAddress4, 4);
        QVERIFY(stopEnabled);
        QVERIFY(!startEnabled);
        QCOMPARE(r.find<QProgressBar>("progress")->value(), 10);
        QCOMPARE(r.shownRows(), (QStringList{"2 ok", "5 ok", "7 ok"}));
        QCOMPARE(r.dialog.results().size(), 10);
        QCOMPARE(r.find<QLabel>("status")->text(), QStringLiteral("3 answered, 7 silent."));
        r.find<QCheckBox>("showSilent")->setChecked(true);
        QCOMPARE(r.shownRows().size(), 10);
        QVERIFY(r.find<QPushButton>("useButton")->isEnabled());
        QVERIFY(!r.find<QPushButton>("stopButton")->isEnabled());
    }

    void stopEndsTheCensusAndKeepsWhatItFound()
    {
        Rig r;
        r.dialog.show();
        r.pump.at(0.5, [&] { r.click("stopButton"); });
        r.click("startButton");
        QVERIFY(!r.dialog.running());
        QVERIFY(r.dialog.results().size() < 10);
        QCOMPARE(r.shownRows(), (QStringList{"2 ok"}));
        QVERIFY(r.find<QLabel>("status")->text().startsWith("Stopped: 1 answered"));
        QVERIFY(r.find<QPushButton>("startButton")->isEnabled());
        QVERIFY(r.dialog.isVisible()); // Stop is not Close
    }

    void useTheseAddressesFillsTheSlots()
    {
        Rig r;
        r.speed = "19200";
        r.model.setText(Field::COMSpeed, "9600");
        for (int slot : {0, 3, 20})
            r.tick(slot);
        r.model.setText(Field::Address, 20, "99");
        r.find<QLineEdit>("speeds")->setText("9600,19200");
        r.dialog.show();
        r.click("startButton");
        r.click("useButton");
        QCOMPARE(r.model.address(0), QStringLiteral("2"));
        QCOMPARE(r.model.address(1), QStringLiteral("5"));
        QCOMPARE(r.model.address(2), QStringLiteral("7"));
        for (int slot = 0; slot < ConsoleModel::kSlots; ++slot)
            QCOMPARE(r.model.slotSelected(slot), slot < 3);
        QCOMPARE(r.model.address(20), QStringLiteral("99")); // unticked, not erased
        QCOMPARE(r.model.text(Field::COMSpeed), QStringLiteral("19200"));
        QVERIFY(r.find<QLabel>("status")->text().contains("2,5,7"));
    }

    void exportsAndRemembers()
    {
        Rig r;
        r.find<QLineEdit>("range")->setText("4..6");
        r.find<QSpinBox>("timeout")->setValue(80);
        r.find<QSpinBox>("tries")->setValue(2);
        auto* function = r.find<QComboBox>("function");
        function->setCurrentIndex(function->findData(fn::SendQuery));
        r.dialog.show();
        r.click("startButton");
        r.files.answer = m_dir.filePath("census.csv");
        r.click("exportButton");
        // Offered in the working folder, the site's, under a name of its own.
        QCOMPARE(r.files.suggestions.size(), 1);
        QCOMPARE(QFileInfo(r.files.suggestions[0]).absolutePath(), QDir::currentPath());
        QVERIFY(QFileInfo(r.files.suggestions[0]).fileName().startsWith("census-"));
        const QList<QByteArray> lines = fileContent(r.files.answer).split('\n');
        QCOMPARE(lines.value(0), QByteArray("time,address,function,sent,received,attempts,first_byte_ms,reply_ms,"
                                            "verdict,detail\r"));
        QCOMPARE(lines.size(), 3 + 2);
        QVERIFY(lines.value(2).contains(",5,SendQuery,06 18 01 "));
        QVERIFY(lines.value(1).endsWith(",2,,,no-answer,\r"));
        const auto& ini = r.model.ini.census;
        QCOMPARE(ini.range, QStringLiteral("4..6"));
        QCOMPARE(ini.timeoutMs, 80);
        QCOMPARE(ini.tries, 2);
        QCOMPARE(ini.function, fn::SendQuery);
    }

    void refusesWhatCannotGoOut_data()
    {
        QTest::addColumn<QString>("range");
        QTest::addColumn<QString>("says");
        QTest::newRow("not a range") << "1..x"
                                     << "is not an address range";
        QTest::newRow("does not fit the request") << "250..260"
                                                  << "Nothing was sent: Address 255";
    }
    void refusesWhatCannotGoOut()
    {
        QFETCH(QString, range);
        QFETCH(QString, says);
        Rig r;
        r.find<QLineEdit>("range")->setText(range);
        r.dialog.show();
        r.click("startButton");
        QVERIFY2(r.find<QLabel>("status")->text().contains(says), qPrintable(r.find<QLabel>("status")->text()));
        QVERIFY(r.link.writes.isEmpty());
        QCOMPARE(r.model.ini.census.range, QStringLiteral("0..254")); // nothing remembered either
    }

    void closingWhileItRunsStopsItFirst()
    {
        Rig r;
        r.dialog.show();
        r.pump.at(0.3, [&] { r.dialog.close(); });
        r.click("startButton");
        QVERIFY(!r.dialog.running());
        QTRY_VERIFY(!r.dialog.isVisible());
        QVERIFY(r.dialog.results().size() < 10);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestCensusDialog)
#include "tst_census_dialog.moc"
