// The frame workbench offscreen: the request built as the console sends it, the field under the
// cursor, a pasted reply checked, a body given its check value.

#include "ConsoleModel.h"
#include "FrameWorkbench.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
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

    // Modbus TCP: the request as the exchange sends it over a network link so framed, its header
    // named, and only Modbus framed so.
    void modbusTcpRequest()
    {
        ConsoleModel console;
        console.choose(Field::Modbus);
        console.setText(Field::Address, 0, "5");
        console.setCheck(Field::CheckAdr, 0, 1);
        FrameWorkbench w(console);
        w.framingBox()->setCurrentIndex(1);
        QCOMPARE(w.requestHexView()->text(), QStringLiteral("00 01 00 00 00 06 06 02 00 00 00 10"));
        QStringList names;
        for (int row = 0; row < w.requestTable()->rowCount(); ++row)
            names << w.requestTable()->item(row, 2)->text();
        QCOMPARE(names,
                 (QStringList{"transaction id", "protocol id", "length", "unit id", "function", "start", "count"}));
        // The cursor on the unit id: its row, which says the console address.
        w.requestHexView()->setCursorPosition(6 * 3 + 1);
        QCOMPARE(w.requestTable()->currentRow(), 3);
        QCOMPARE(w.requestTable()->item(3, 3)->text(), QStringLiteral("6: console address 5"));

        w.protocolBox()->setCurrentIndex(1); // Protocol 4
        QVERIFY(w.requests().isEmpty());
        bool said = false;
        for (const QLabel* l : w.findChildren<QLabel*>())
            said =
                said || (l->isVisibleTo(&w) && l->text().contains("Modbus TCP framing carries Modbus requests only"));
        QVERIFY(said);
        w.framingBox()->setCurrentIndex(0);
        QCOMPARE(w.requests().size(), 1);
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
        QTest::addColumn<bool>("mbap"); // the framing chosen: Modbus TCP, or Raw
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("says");
        QTest::addColumn<QString>("offered"); // the other framing's button, when the reply reads under it
        QTest::newRow("right") << false << "06 04 04 05 00 05 01 4F 18"
                               << "Check value right"
                               << "";
        QTest::newRow("wrong") << false << "06 04 04 05 00 05 01 4F 19"
                               << "carries 4F 19, its bytes give 4F 18"
                               << "";
        QTest::newRow("too short") << false << "06 04"
                                   << "Not a frame of this protocol"
                                   << "";
        QTest::newRow("not hex") << false << "06 0G"
                                 << "Not hexadecimal"
                                 << "";
        QTest::newRow("Modbus TCP right") << true << "00 01 00 00 00 03 06 84 02"
                                          << "Header right: its length, 3, counts the bytes after it."
                                          << "";
        QTest::newRow("Modbus TCP with a stray byte")
            << true << "00 01 00 00 00 03 06 84 02 00"
            << "Header right: its length, 3, counts the bytes after it. 1 trailing byte after the frame: 00."
            << "";
        QTest::newRow("Modbus TCP length wrong") << true << "00 01 00 00 00 05 06 84 02"
                                                 << "Header wrong: its length says 5 bytes follow, 3 do."
                                                 << "";
        QTest::newRow("Modbus TCP pasted under Raw") << false << "00 01 00 00 00 03 06 84 02"
                                                     << "It reads as a Modbus TCP frame."
                                                     << "Read as Modbus &TCP";
        QTest::newRow("RTU pasted under Modbus TCP") << true << "06 84 02 73 00"
                                                     << "Not a Modbus TCP frame: a Modbus TCP frame has at least 8 "
                                                        "bytes"
                                                     << "Read as Ra&w";
    }
    void replyChecked()
    {
        QFETCH(bool, mbap);
        QFETCH(QString, reply);
        QFETCH(QString, says);
        QFETCH(QString, offered);
        ConsoleModel console;
        console.choose(Field::Modbus);
        FrameWorkbench w(console);
        w.framingBox()->setCurrentIndex(mbap ? 1 : 0);
        w.replyEdit()->setText(reply);
        QVERIFY2(w.replyVerdict()->text().contains(says), qPrintable(w.replyVerdict()->text()));
        QCOMPARE(w.otherFramingButton()->isVisibleTo(&w), !offered.isEmpty());
        if (offered.isEmpty())
            return;
        QCOMPARE(w.otherFramingButton()->text(), offered);
        // Taking the offer reads the reply under the other framing, where it holds.
        w.otherFramingButton()->click();
        QCOMPARE(w.framingBox()->currentIndex(), mbap ? 0 : 1);
        QCOMPARE(w.reply().verdict, CheckVerdict::Ok);
        QVERIFY(!w.otherFramingButton()->isVisibleTo(&w));
    }

    void appendCheckValue()
    {
        ConsoleModel console;
        FrameWorkbench w(console);
        w.bodyEdit()->setText("01 03 00 00 00 02");
        QCOMPARE(w.withCheckView()->text(), QStringLiteral("01 03 00 00 00 02 C4 0B"));
        w.checkKindBox()->setCurrentIndex(1);
        QVERIFY(w.withCheckView()->text().endsWith(" 04"));
        // A unit id and a PDU under the MBAP header: the Modbus TCP frame of the same request.
        w.checkKindBox()->setCurrentIndex(4);
        QCOMPARE(w.withCheckView()->text(), QStringLiteral("00 01 00 00 00 06 01 03 00 00 00 02"));
    }
};

QTEST_MAIN(TestFrameWorkbench)
#include "tst_frame_workbench.moc"
