// The frame workbench offscreen: the request built as the console sends it, the field under the
// cursor, a pasted reply checked, a body given its check value.

#include "ConsoleModel.h"
#include "FrameWorkbench.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTest>

using namespace tarvo;

class TestFrameWorkbench : public QObject {
    Q_OBJECT
private slots:
    void requestFromTheConsolesSettings()
    {
        ConsoleModel console;
        console.choose(Field::Modbus);
        console.setText(Field::Address, 3, "0");
        console.setCheck(Field::CheckAdr, 3, 1);
        FrameWorkbench w(console);
        QCOMPARE(w.requestHexView()->text(), QStringLiteral("01 02 00 00 00 10 79 C6"));

        // The cursor on the seventh byte: the check value's row, its bytes selected.
        w.requestHexView()->setCursorPosition(6 * 3 + 1);
        QCOMPARE(w.requestTable()->currentRow(), 4);
        QCOMPARE(w.requestTable()->item(4, 2)->text(), QStringLiteral("check value"));
        QCOMPARE(w.requestHexView()->selectedText(), QStringLiteral("79 C6"));
        QCOMPARE(w.requestAsCArray(),
                 QStringLiteral("const unsigned char frame[8] = {0x01, 0x02, 0x00, 0x00, 0x00, 0x10, 0x79, 0xC6};"));

        // A command line of several lines gives a frame each.
        w.functionBox()->setCurrentIndex(4);
        w.commandEdit()->setPlainText("0300000002\n/ comment\n0400000001");
        QCOMPARE(w.requests().size(), 2);
        QCOMPARE(w.requestHexView()->text(), QStringLiteral("01 03 00 00 00 02 C4 0B"));
    }

    void refusedRequestSaysWhy()
    {
        ConsoleModel console;
        FrameWorkbench w(console);
        w.protocolBox()->setCurrentIndex(0); // Modbus
        w.addressEdit()->setText("300");
        QVERIFY(w.requests().isEmpty());
        QVERIFY(w.findChildren<QLabel*>().size() > 0);
        bool said = false;
        for (const QLabel* l : w.findChildren<QLabel*>())
            said = said || l->text().contains("does not fit in one byte");
        QVERIFY(said);
    }

    void replyChecked_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("says");
        QTest::newRow("right") << "06 04 04 05 00 05 01 4F 18"
                               << "Check value right";
        QTest::newRow("wrong") << "06 04 04 05 00 05 01 4F 19"
                               << "carries 4F 19, its bytes give 4F 18";
        QTest::newRow("too short") << "06 04"
                                   << "Not a frame of this protocol";
        QTest::newRow("not hex") << "06 0G"
                                 << "Not hexadecimal";
    }
    void replyChecked()
    {
        QFETCH(QString, reply);
        QFETCH(QString, says);
        ConsoleModel console;
        console.choose(Field::Modbus);
        FrameWorkbench w(console);
        w.replyEdit()->setText(reply);
        QVERIFY2(w.replyVerdict()->text().contains(says), qPrintable(w.replyVerdict()->text()));
    }

    void appendCheckValue()
    {
        ConsoleModel console;
        FrameWorkbench w(console);
        w.bodyEdit()->setText("01 03 00 00 00 02");
        QCOMPARE(w.withCheckView()->text(), QStringLiteral("01 03 00 00 00 02 C4 0B"));
        w.checkKindBox()->setCurrentIndex(1);
        QVERIFY(w.withCheckView()->text().endsWith(" 04"));
    }
};

QTEST_MAIN(TestFrameWorkbench)
#include "tst_frame_workbench.moc"
