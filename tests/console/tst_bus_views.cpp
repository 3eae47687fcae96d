// The console's views of the bus: the journal view and its ring, the controllers view, the journal
// file switched from the View menu, the export, and the reply boxes tinted by each slot's verdict.

#include "ConsoleWindow.h"
#include "ControllersDock.h"
#include "Crc.h"
#include "FakeFileDialogs.h"
#include "FakeStack.h"
#include "GlyphDelegate.h"
#include "JournalCsv.h"
#include "JournalDock.h"
#include "JournalWriter.h"
#include "Replies.h"
#include "TestFiles.h"
#include "VerdictTint.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

using namespace tarvo;
using namespace tarvo::test;

namespace {

using V = JournalRecord::Verdict;

JournalRecord row(int slot, V verdict, int n = 0)
{
    JournalRecord r;
    r.time = QDateTime(QDate(2026, 12, 10), QTime(14, 3, 7).addMSecs(n), Qt::OffsetFromUTC, 3600);
    r.slot = slot;
    r.address = QString::number(slot - 1);
    r.function = QStringLiteral("ReadInput");
    r.attempt = 1;
    r.sent = QStringLiteral("0%1 02 00 00 00 10").arg(slot % 10);
    r.received = verdict == V::Ok || verdict == V::BadCheck ? QStringLiteral("0%1 02 02 00 49 A3 5C 04").arg(slot % 10)
                                                            : QString();
    r.firstByteMs = r.received.isEmpty() ? NAN : 2.5 + n;
    r.replyMs = r.received.isEmpty() ? NAN : 53.1;
    r.verdict = verdict;
    r.detail = verdict == V::Error ? QStringLiteral("Address \"x,1\" is not a number") : QString();
    return r;
}

// The colour a reply box shows under its text, as drawn: a corner of its viewport.
QRgb shownBase(QPlainTextEdit* box)
{
    const QImage drawn = box->viewport()->grab().toImage();
    return drawn.pixel(drawn.width() - 2, drawn.height() - 2);
}

// The tooltip a reply box shows when the mouse rests on it.
QString tipOf(QPlainTextEdit* box)
{
    QToolTip::hideText();
    const QPoint at(5, 5);
    QHelpEvent help(QEvent::ToolTip, at, box->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(box->viewport(), &help);
    return QToolTip::text();
}

// A Modbus device's refusal of the request: its address, the function with the top bit set, the code,
// and the CRC.
QByteArray modbusException(const QByteArray& request, char code)
{
    QByteArray reply = request.left(1) + static_cast<char>(request[1] | 0x80) + code;
    const uint16_t crc = crcModbus(reply);
    return reply + static_cast<char>(crc & 0xFF) + static_cast<char>(crc >> 8);
}

QList<QByteArray> csvOf(const QList<JournalRecord>& rows)
{
    QList<QByteArray> lines;
    for (const JournalRecord& r : rows)
        lines << journalCsvRow(r);
    return lines;
}

// The console over a scripted link, with its bus views, as the program wires them.
struct BusConsole : FakeStack {
    BusConsole()
    {
        window.watchBus(stack.journal, stack.health, writer);
        for (int slot : {0, 1, 2}) {
            tick(slot);
            model.setText(Field::Address, slot, QString::number(slot + 10));
        }
    }
    // Every controller answers after 10 ms, except as `behaviour` says for a wire address (console
    // address + 1): "silent", "badcheck".
    void script(const QHash<int, QString>& behaviour = {})
    {
        link.onWrite = [this, behaviour](const QByteArray& frame) {
            const auto wire = static_cast<unsigned char>(frame[0]);
            const QString how = behaviour.value(wire);
            if (how == QLatin1String("silent"))
                return;
            QByteArray reply = p4Reply(QByteArray(1, static_cast<char>(wire)) + QByteArray::fromHex("02020049"));
            if (how == QLatin1String("badcheck"))
                reply[reply.size() - 2] = static_cast<char>(reply[reply.size() - 2] ^ 0x55);
            link.reply(0.010, reply);
        };
    }
    JournalDock& journalView() { return *window.journalDock(); }
    QPlainTextEdit* box(Field field, int slot)
    {
        return qobject_cast<QPlainTextEdit*>(window.fieldWidget(FieldRef(field, slot)));
    }
    QAction* action(const char* name) { return window.findChild<QAction*>(QLatin1String(name)); }
    void showAt1280x800()
    {
        window.resize(1280, 800);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }

    FakeFileDialogs dialogs;
    JournalWriter& writer = stack.journalFile;
    ConsoleWindow window{stack, prompter, &dialogs};
};

} // namespace

class TestBusViews : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QDir::setCurrent(m_dir->path());
    }

    // The ring keeps the newest rows in order, whatever the batches' sizes, and gives them back
    // exactly as they came; also when the batches were held back and shown in one go.
    void ringKeepsTheNewestRows_data()
    {
        QTest::addColumn<QList<int>>("batches");
        QTest::addColumn<bool>("heldBack");
        QTest::newRow("under capacity") << QList<int>{2, 1} << false;
        QTest::newRow("exactly full") << QList<int>{3, 2} << false;
        QTest::newRow("round several times") << QList<int>{4, 1, 3, 2, 1} << false;
        QTest::newRow("one batch larger than the ring") << QList<int>{2, 12} << false;
        QTest::newRow("held back") << QList<int>{2, 1} << true;
        QTest::newRow("held back, more than the ring") << QList<int>{3, 4, 2} << true;
    }
    void ringKeepsTheNewestRows()
    {
        QFETCH(QList<int>, batches);
        QFETCH(bool, heldBack);
        JournalTable table(5);
        QList<JournalRecord> all;
        if (heldBack) { // one row shown before
            all << row(1, V::Ok);
            table.append(all);
        }
        const V verdicts[] = {V::Ok, V::BadCheck, V::NoAnswer, V::Error, V::NoReplyExpected, V::Stopped};
        for (int size : batches) {
            QList<JournalRecord> batch;
            for (int i = 0; i < size; ++i)
                batch << row(static_cast<int>(all.size() % 32) + 1, verdicts[all.size() % 6],
                             static_cast<int>(all.size()));
            all += batch;
            if (heldBack)
                table.keep(batch);
            else
                table.append(batch);
        }
        if (heldBack) {
            QCOMPARE(table.rowCount(), 1);
            QCOMPARE(table.keptRows(), std::min<qsizetype>(all.size() - 1, 5));
            table.showKept();
            QCOMPARE(table.keptRows(), 0);
        }
        const QList<JournalRecord> kept = all.mid(std::max<qsizetype>(0, all.size() - 5));
        QCOMPARE(table.rowCount(), kept.size());
        QCOMPARE(csvOf(table.records()), csvOf(kept));
        QCOMPARE(table.data(table.index(0, JournalTable::Sent)).toString(), kept[0].sent);
        QCOMPARE(table.data(table.index(table.rowCount() - 1, JournalTable::Time)).toString(),
                 kept.last().time.toString("HH:mm:ss.zzz"));
        table.clear();
        QCOMPARE(table.rowCount(), 0);
        table.append({row(1, V::Ok)});
        QCOMPARE(csvOf(table.records()), csvOf({row(1, V::Ok)}));
    }

    void filtersBySlotAndVerdict_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QList<int>>("rows"); // of the nine below
        QTest::newRow("everything") << "All"
                                    << "All" << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8};
        QTest::newRow("one slot") << "#2"
                                  << "All" << QList<int>{1, 4, 7};
        QTest::newRow("one verdict") << "All"
                                     << "no-answer" << QList<int>{2, 5};
        QTest::newRow("all but ok") << "All"
                                    << "All but ok" << QList<int>{1, 2, 5, 6, 8};
        QTest::newRow("exceptions") << "All"
                                    << "exception" << QList<int>{8};
        QTest::newRow("slot and verdict") << "#3"
                                          << "no-answer" << QList<int>{2, 5};
        QTest::newRow("nothing matches") << "#32"
                                         << "All" << QList<int>{};
    }
    void filtersBySlotAndVerdict()
    {
        QFETCH(QString, slot);
        QFETCH(QString, verdict);
        QFETCH(QList<int>, rows);
        BusConsole c;
        const QList<JournalRecord> all = {row(1, V::Ok, 0),    row(2, V::BadCheck, 1), row(3, V::NoAnswer, 2),
                                          row(1, V::Ok, 3),    row(2, V::Ok, 4),       row(3, V::NoAnswer, 5),
                                          row(1, V::Error, 6), row(2, V::Ok, 7),       row(3, V::Exception, 8)};
        c.journalView().table().append(all);
        c.journalView().findChild<QComboBox*>("JournalSlotFilter")->setCurrentText(slot);
        c.journalView().findChild<QComboBox*>("JournalVerdictFilter")->setCurrentText(verdict);
        QAbstractItemModel* shown = c.journalView().view()->model();
        QStringList expected, actual;
        for (int i : rows)
            expected << all[i].time.toString("HH:mm:ss.zzz");
        for (int r = 0; r < shown->rowCount(); ++r)
            actual << shown->index(r, JournalTable::Time).data().toString();
        QCOMPARE(actual, expected);
    }

    // The filter follows a ring that fills, goes round and is cleared, with its filters changed on
    // the way; the model tester checks every signal it gives the view.
    void filterFollowsTheRing_data()
    {
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("verdict");
        QTest::newRow("everything") << int(JournalFilter::kAll) << int(JournalFilter::kAll);
        QTest::newRow("one slot") << 2 << int(JournalFilter::kAll);
        QTest::newRow("all but ok") << int(JournalFilter::kAll) << int(JournalFilter::kNotOk);
        QTest::newRow("slot and verdict") << 3 << int(V::NoAnswer);
    }
    void filterFollowsTheRing()
    {
        QFETCH(int, slot);
        QFETCH(int, verdict);
        JournalTable table(7);
        JournalFilter filter(table);
        QAbstractItemModelTester tester(&filter, QAbstractItemModelTester::FailureReportingMode::QtTest);
        auto wanted = [&](const JournalRecord& r) {
            if (slot != JournalFilter::kAll && r.slot != slot)
                return false;
            if (verdict == JournalFilter::kNotOk)
                return r.verdict != V::Ok;
            return verdict == JournalFilter::kAll || static_cast<int>(r.verdict) == verdict;
        };
        auto expected = [&] {
            QStringList rows;
            for (const JournalRecord& r : table.records()) {
                if (wanted(r))
                    rows << r.time.toString("HH:mm:ss.zzz");
            }
            return rows;
        };
        auto shown = [&] {
            QStringList rows;
            for (int r = 0; r < filter.rowCount(); ++r)
                rows << filter.index(r, JournalTable::Time).data().toString();
            return rows;
        };
        QCOMPARE(filter.headerData(JournalTable::Verdict, Qt::Horizontal).toString(), QStringLiteral("Verdict"));
        const V verdicts[] = {V::Ok, V::NoAnswer, V::Ok, V::BadCheck, V::NoAnswer};
        int n = 0;
        for (const int size : {3, 2, 5, 9, 1, 4}) {
            if (n == 5) { // filters set while rows are held, later than at the start
                filter.setSlotFilter(slot);
                filter.setVerdictFilter(verdict);
            }
            QList<JournalRecord> batch;
            for (int i = 0; i < size; ++i, ++n)
                batch << row(n % 3 + 1, verdicts[n % 5], n);
            table.append(batch);
            if (n <= 5) {
                QCOMPARE(filter.rowCount(), table.rowCount());
                continue;
            }
            QCOMPARE(shown(), expected());
            for (int r = 0; r < filter.rowCount(); ++r) // and back
                QCOMPARE(filter.mapFromSource(filter.mapToSource(filter.index(r, 1))).row(), r);
        }
        table.clear();
        QCOMPARE(filter.rowCount(), 0);
        table.append({row(slot == JournalFilter::kAll ? 1 : slot, V::NoAnswer, 99)});
        QCOMPARE(shown(), expected());
        QVERIFY(!shown().isEmpty() || verdict == int(V::Ok));
    }

    // Newest at the bottom, followed; scrolled up, the view stays put, counts what came, and the
    // button brings it back down. A full ring drops its oldest rows without moving what is read.
    void viewFollowsUnlessScrolledUp()
    {
        BusConsole c;
        c.showAt1280x800();
        c.journalView().show();
        JournalTable& table = c.journalView().table();
        QTableView* view = c.journalView().view();
        QScrollBar* bar = view->verticalScrollBar();
        auto* newRows = c.journalView().findChild<QPushButton*>("JournalNewRows");
        // The view lays itself out in the event loop, between two of the timer's batches.
        auto append = [&](const QList<JournalRecord>& rows) {
            table.append(rows);
            QCoreApplication::processEvents();
        };
        auto batch = [](int from, int count) {
            QList<JournalRecord> rows;
            for (int i = 0; i < count; ++i)
                rows << row(1 + (from + i) % 32, V::Ok, from + i);
            return rows;
        };
        int made = 0;
        append(batch(made, 200));
        made += 200;
        QVERIFY(c.journalView().following());
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(bar->maximum() > 0);
        QVERIFY(newRows->isHidden());

        bar->setValue(bar->maximum() - 20);
        QVERIFY(!c.journalView().following());
        const int top = bar->value();
        append(batch(made, 7));
        made += 7;
        QCOMPARE(bar->value(), top);
        QVERIFY(!newRows->isHidden());
        QCOMPARE(newRows->text(), QStringLiteral("7 new"));
        append(batch(made, 5));
        made += 5;
        QCOMPARE(newRows->text(), QStringLiteral("12 new"));

        QTest::mouseClick(newRows, Qt::LeftButton);
        QVERIFY(c.journalView().following());
        QVERIFY(newRows->isHidden());
        QCOMPARE(view->rowAt(view->viewport()->height() - 2) >= table.rowCount() - 2, true);

        // The ring fills up: the row at the top of the view stays the one the operator reads.
        append(batch(made, JournalTable::kCapacity - made));
        made = JournalTable::kCapacity;
        QCOMPARE(table.rowCount(), JournalTable::kCapacity);
        bar->setValue(bar->maximum() / 2);
        const QString reading = view->model()->index(view->rowAt(0), JournalTable::Time).data().toString();
        append(batch(made, 300));
        QCOMPARE(table.rowCount(), JournalTable::kCapacity);
        QCOMPARE(view->model()->index(view->rowAt(0), JournalTable::Time).data().toString(), reading);
        QCOMPARE(newRows->text(), QStringLiteral("300 new"));

        // Scrolling down by hand to the end is following again, also when the row the operator
        // clicked last (the view's current row) leaves the ring.
        view->setCurrentIndex(view->model()->index(0, 0));
        bar->setValue(bar->maximum());
        QVERIFY(c.journalView().following());
        QVERIFY(newRows->isHidden());
        append(batch(made + 300, 50));
        QVERIFY(c.journalView().following());
        QCOMPARE(bar->value(), bar->maximum());
    }

    // The colours of item and box follow the verdict, and stay readable on light and dark palettes.
    void tintsReadableOnLightAndDark_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void tintsReadableOnLightAndDark()
    {
        QFETCH(bool, dark);
        QPalette palette;
        palette.setColor(QPalette::Base, dark ? QColor(0x1e, 0x1e, 0x1e) : QColor(Qt::white));
        palette.setColor(QPalette::Text, dark ? QColor(0xee, 0xee, 0xee) : QColor(Qt::black));
        QSet<QRgb> seen;
        for (V v : {V::Ok, V::BadCheck, V::NoAnswer}) {
            const QColor tint = verdictTint(v, palette);
            QVERIFY(tint.isValid());
            seen.insert(tint.rgb());
            // Text and background stay far apart in lightness.
            QVERIFY2(std::abs(tint.lightnessF() - palette.color(QPalette::Text).lightnessF()) > 0.55,
                     qPrintable(tint.name()));
            QCOMPARE(tint.lightnessF() > 0.5, !dark);
        }
        QCOMPARE(seen.size(), 3);
        QCOMPARE(verdictTint(V::Error, palette), verdictTint(V::NoAnswer, palette));
        QVERIFY(!verdictTint(V::Stopped, palette).isValid());
        QVERIFY(!verdictTint(V::NoReplyExpected, palette).isValid());
    }

    // A busy table draws its cells from pictures once they come back: what it shows is exactly what
    // drawing each cell anew shows, before and after a text changes (no stale picture), tinted or
    // not, aligned either way, cut at the cell's edge.
    void tableDrawsTheSameFromPictures()
    {
        QStandardItemModel model(12, 4);
        for (int row = 0; row < model.rowCount(); ++row) {
            model.setItem(row, 0, new QStandardItem(QStringLiteral("07:34:%1.123").arg(row, 2, 10, QLatin1Char('0'))));
            model.setItem(row, 1, new QStandardItem(QStringLiteral("#%1").arg(row % 3 + 1)));
            auto* hex = new QStandardItem(QStringLiteral("01 03 00 00 00 64 44 21 01 03 C8 00 01 00 02 00 03"));
            hex->setBackground(verdictTint(row % 2 ? V::BadCheck : V::Ok, QGuiApplication::palette()));
            model.setItem(row, 2, hex);
            auto* ms = new QStandardItem(QStringLiteral("3.%1").arg(row % 2));
            ms->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            model.setItem(row, 3, ms);
        }
        auto table = [&model](bool pictures) {
            auto* view = new QTableView;
            view->setModel(&model);
            GlyphDelegate* delegate = setUpBusyTable(view);
            if (!pictures) {
                for (int column = 0; column < model.columnCount(); ++column)
                    delegate->setFleetingColumn(column);
            }
            view->setColumnWidth(2, 150); // the frame does not fit: cut
            view->resize(420, 200);
            return std::unique_ptr<QTableView>(view);
        };
        const auto drawn = table(true);
        const auto anew = table(false);
        const QImage first = drawn->viewport()->grab().toImage();
        QCOMPARE(first, anew->viewport()->grab().toImage());
        for (int pass = 0; pass < 2; ++pass) // from the pictures on trial, then from those kept
            QCOMPARE(drawn->viewport()->grab().toImage(), first);

        model.item(1, 1)->setText(QStringLiteral("#9"));
        model.item(2, 3)->setText(QStringLiteral("12.5"));
        const QImage changed = drawn->viewport()->grab().toImage();
        QVERIFY(changed != first);
        QCOMPARE(changed, anew->viewport()->grab().toImage());

        // Below the last row and right of the last column, the view's own base, as the window shows it.
        drawn->show();
        QVERIFY(QTest::qWaitForWindowExposed(drawn.get()));
        model.setRowCount(3);
        for (int column = 0; column < 4; ++column)
            drawn->setColumnWidth(column, 60);
        auto pixel = [&](int x, int y) { // in the viewport; the view lays itself out in the event loop
            const QPoint at = drawn->viewport()->mapTo(drawn.get(), QPoint(x, y));
            return drawn->screen()->grabWindow(drawn->winId()).toImage().pixel(at);
        };
        // Where the frames' tinted cells were drawn before.
        const QRgb base = drawn->viewport()->palette().color(QPalette::Base).rgb();
        const int line = drawn->rowHeight(0);
        QTRY_COMPARE(pixel(220, 7 * line + line / 2), base); // below the last row
        QTRY_COMPARE(pixel(300, line / 2), base);            // right of the last column
        QCOMPARE(pixel(drawn->columnViewportPosition(2) + 2, 2), verdictTint(V::Ok, QGuiApplication::palette()).rgb());
    }

    // Its scroll bar too, wherever the handle stands and when it moves.
    void tableScrollBarDrawsTheSameFromItsPicture()
    {
        QStandardItemModel model(400, 1);
        QTableView view;
        view.setModel(&model);
        setUpBusyTable(&view);
        view.resize(300, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QScrollBar* bar = view.verticalScrollBar();
        QScrollBar plain(Qt::Vertical);
        plain.setAutoFillBackground(true);
        plain.resize(bar->size());
        for (const int value : {0, bar->maximum() / 2, bar->maximum(), bar->maximum(), 0}) {
            bar->setValue(value);
            plain.setRange(bar->minimum(), bar->maximum());
            plain.setPageStep(bar->pageStep());
            plain.setValue(value);
            const QImage expected = plain.grab().toImage().convertToFormat(QImage::Format_RGB32);
            QCOMPARE(bar->grab().toImage().convertToFormat(QImage::Format_RGB32), expected);
            // And in the window's own pixels, drawn (or left as they were) by the move alone.
            const QRect at(bar->mapTo(&view, QPoint(0, 0)), bar->size());
            QTRY_COMPARE(
                view.screen()->grabWindow(view.winId()).toImage().copy(at).convertToFormat(QImage::Format_RGB32),
                expected);
        }
    }

    // Real exchanges over the scripted link: each slot's boxes take its settled verdict, with the
    // time and the first-byte time in the tooltip; the text is the console's own; Stop clears both.
    void replyBoxesFollowVerdicts()
    {
        BusConsole c;
        c.script({{12, "silent"}, {13, "badcheck"}});
        c.polling.sendOnce();
        c.window.flushBus();
        const QPalette palette = c.window.palette();
        QCOMPARE(shownBase(c.box(Field::Reponse, 0)), verdictTint(V::Ok, palette).rgb());
        QCOMPARE(shownBase(c.box(Field::Reponse, 1)), verdictTint(V::NoAnswer, palette).rgb());
        QCOMPARE(shownBase(c.box(Field::Reponse, 2)), verdictTint(V::BadCheck, palette).rgb());
        QCOMPARE(shownBase(c.box(Field::Reponse, 3)), palette.color(QPalette::Base).rgb());
        QCOMPARE(c.box(Field::Reponse, 1)->toPlainText(), QStringLiteral("NO ANSWER FROM CONTROLLER ADDRESS 11"));
        QCOMPARE(c.box(Field::Reponse, 0)->toPlainText(), c.reply(0));
        // Reponse1 holds nothing for this function: it keeps its colour.
        QCOMPARE(shownBase(c.box(Field::Reponse1, 0)), palette.color(QPalette::Base).rgb());

        const QString tip = tipOf(c.box(Field::Reponse, 0));
        QVERIFY2(tip.startsWith("Answered\nat "), qPrintable(tip));
        QVERIFY2(tip.contains(", first byte after 10.0 ms"), qPrintable(tip));
        QVERIFY2(tip.endsWith("\nDouble-click to read this reply as characters"), qPrintable(tip));
        QVERIFY2(!tipOf(c.box(Field::Reponse, 1)).contains("first byte"), qPrintable(tipOf(c.box(Field::Reponse, 1))));

        // The tries on the way to an answer do not colour the box: slot #2 answers its second try.
        int tries = 0;
        c.link.onWrite = [&](const QByteArray& frame) {
            if (++tries % 2 == 1)
                return;
            c.link.reply(0.010, p4Reply(frame.left(1) + QByteArray::fromHex("02020049")));
        };
        c.tick(0, false);
        c.tick(2, false);
        c.stack.journal.flush(); // nothing pending
        c.polling.sendOnce();
        c.window.flushBus();
        QCOMPARE(shownBase(c.box(Field::Reponse, 1)), verdictTint(V::Ok, palette).rgb());

        // An error is red, with its text.
        c.model.setText(Field::Address, 1, "x");
        c.polling.sendOnce();
        c.window.flushBus();
        QCOMPARE(shownBase(c.box(Field::Reponse, 1)), verdictTint(V::Error, palette).rgb());
        QVERIFY2(tipOf(c.box(Field::Reponse, 1)).startsWith("Error: "), qPrintable(tipOf(c.box(Field::Reponse, 1))));

        c.window.CmdStop_Click();
        for (int slot : {0, 1, 2}) {
            QCOMPARE(shownBase(c.box(Field::Reponse, slot)), palette.color(QPalette::Base).rgb());
            QCOMPARE(tipOf(c.box(Field::Reponse, slot)),
                     QStringLiteral("Double-click to read this reply as characters"));
        }

        // The journal view holds the same attempts, coloured alike.
        JournalTable& table = c.journalView().table();
        QCOMPARE(table.verdictAt(0), V::Ok);
        QCOMPARE(table.data(table.index(0, JournalTable::Verdict), Qt::BackgroundRole).value<QColor>(),
                 verdictTint(V::Ok, QGuiApplication::palette()));
    }

    // Rows reach the views without anyone calling for them: a batch as soon as it has gathered (the
    // file, the reply colours), the view at its own pace, the last rows once polling stops.
    void rowsArriveByThemselves()
    {
        BusConsole c;
        c.script();
        c.polling.sendOnce();
        QCOMPARE(c.journalView().table().rowCount(), 0);
        // After a quiet spell the view shows a batch as soon as it goes.
        QTRY_COMPARE_WITH_TIMEOUT(c.journalView().table().rowCount(), 3, 3000);

        QTest::qWait(300);
        for (int slot = 3; slot < 32; ++slot)
            c.tick(slot);
        c.polling.sendOnce(); // 32 rows: a batch
        QCoreApplication::processEvents();
        QCOMPARE(c.stack.journal.pending(), 0);
        // Rows that keep coming wait for the view's turn, then come in one go.
        QCOMPARE(c.journalView().table().rowCount(), 3);
        QCOMPARE(c.journalView().table().keptRows(), 32);
        QTRY_COMPARE_WITH_TIMEOUT(c.journalView().table().rowCount(), 3 + 32, JournalDock::kShowEveryMs + 1000);
        QCOMPARE(c.journalView().table().keptRows(), 0);
    }

    // Rows waiting for the view's turn are shown when the view opens and when the window flushes
    // (the export, the tests); Clear drops them with the rest, as they came before it.
    void waitingRowsFollowTheView()
    {
        BusConsole c;
        JournalDock& dock = c.journalView();
        JournalRecord r;
        r.slot = 1;
        r.address = QStringLiteral("10");
        dock.feed().append({r});
        QCOMPARE(dock.table().rowCount(), 1);
        dock.feed().append({r, r});
        QCOMPARE(dock.table().rowCount(), 1);
        QCOMPARE(dock.table().keptRows(), 2);

        c.showAt1280x800();
        dock.show();
        QCOMPARE(dock.table().rowCount(), 3);
        QCOMPARE(dock.table().keptRows(), 0);

        dock.feed().append({r});
        QCOMPARE(dock.table().keptRows(), 1);
        c.window.flushBus();
        QCOMPARE(dock.table().rowCount(), 4);

        dock.feed().append({r});
        QCOMPARE(dock.table().keptRows(), 1);
        dock.findChild<QPushButton*>(QStringLiteral("JournalClear"))->click();
        QCOMPARE(dock.table().rowCount(), 0);
        QCOMPARE(dock.table().keptRows(), 0);
    }

    // View → Write journal to file: one file per start, in the chosen folder, remembered in the
    // settings; a folder that is not there is told, and leaves the entry unticked.
    void writeJournalToFile()
    {
        BusConsole c;
        c.script();
        QVERIFY(QDir().mkdir("logs"));
        c.dialogs.answer = QDir("logs").absolutePath();
        c.action("actionJournalFolder")->trigger();
        QCOMPARE(c.model.ini.journal.folder, c.dialogs.answer);
        QVERIFY(!c.writer.writing());

        c.action("actionJournalToFile")->trigger();
        QVERIFY(c.action("actionJournalToFile")->isChecked());
        QVERIFY(c.model.ini.journal.toFile);
        QVERIFY(c.writer.writing());
        const QString first = c.writer.path();
        QCOMPARE(QFileInfo(first).absolutePath(), c.dialogs.answer);
        c.polling.sendOnce();
        c.window.flushBus();
        const QList<JournalRecord> rows = c.journalView().table().records();
        QCOMPARE(rows.size(), 3);
        QCOMPARE(fileContent(first), journalCsvHeader() + csvOf(rows).join());

        c.action("actionJournalToFile")->trigger();
        QVERIFY(!c.writer.writing());
        QVERIFY(!c.model.ini.journal.toFile);
        c.action("actionJournalToFile")->trigger();
        QVERIFY(c.writer.path() != first);
        QCOMPARE(fileContent(c.writer.path()), journalCsvHeader());

        // A folder that went away.
        c.action("actionJournalToFile")->trigger();
        c.model.ini.journal.folder = QStringLiteral("gone");
        c.action("actionJournalToFile")->trigger();
        QVERIFY(!c.writer.writing());
        QVERIFY(!c.action("actionJournalToFile")->isChecked());
        QVERIFY(c.model.ini.journal.toFile); // the choice stays: the next start tries again
        auto* problem = c.journalView().findChild<QLabel*>("JournalProblem");
        QVERIFY2(problem->text().contains("gone"), qPrintable(problem->text()));
        QVERIFY2(c.window.statusBar()->currentMessage().contains("gone"),
                 qPrintable(c.window.statusBar()->currentMessage()));
    }

    // The settings ask for the file: it starts with the window, and takes the rows made before it
    // (a send from the command line runs before the window exists).
    void fileStartsFromTheSettingsWithEarlierRows()
    {
        FakeStack s;
        s.link.onWrite = [&](const QByteArray& frame) {
            s.link.reply(0.010, p4Reply(frame.left(1) + QByteArray::fromHex("02020049")));
        };
        JournalWriter& writer = s.stack.journalFile;
        s.model.ini.journal.toFile = true;
        s.tick(0);
        s.model.setText(Field::Address, 0, "0");
        s.polling.sendOnce();
        ConsoleWindow window(s.stack, s.prompter);
        window.watchBus(s.stack.journal, s.stack.health, writer);
        QVERIFY(writer.writing());
        QVERIFY(window.findChild<QAction*>("actionJournalToFile")->isChecked());
        window.flushBus();
        const QList<QByteArray> lines = fileContent(writer.path()).split('\n');
        QCOMPARE(lines.size(), 3); // header, the send's row, and the end
        QVERIFY2(lines[1].contains(",ReadInput,1,01 02 00 00 00 10 "), lines[1].constData());
        QCOMPARE(window.journalDock()->table().rowCount(), 1);
    }

    // The disk fills up while polling: told once in the status bar and the view, rows so far whole,
    // and polling goes on (the view keeps taking rows).
    void fileFailureIsShownOnceAndPollingGoesOn()
    {
        BusConsole c;
        c.script();
        c.action("actionJournalToFile")->trigger();
        const QString path = c.writer.path();
        c.polling.sendOnce();
        c.window.flushBus();
        const QByteArray before = fileContent(path);
        QSignalSpy messages(c.window.statusBar(), &QStatusBar::messageChanged);
        c.polling.sendOnce();
        withFullDiskAfter(static_cast<rlim_t>(before.size() + 10), [&] { c.window.flushBus(); });
        for (int round = 0; round < 3; ++round) {
            c.polling.sendOnce();
            c.window.flushBus();
        }
        QStringList told;
        for (const QList<QVariant>& m : std::as_const(messages)) {
            if (m[0].toString().contains("could not be written"))
                told << m[0].toString();
        }
        QCOMPARE(told.size(), 1);
        QVERIFY2(told[0].contains(path), qPrintable(told[0]));
        auto* problem = c.journalView().findChild<QLabel*>("JournalProblem");
        QVERIFY(!problem->isHidden());
        QCOMPARE(problem->text(), told[0].mid(told[0].indexOf("The journal")));
        QVERIFY(!c.action("actionJournalToFile")->isChecked());
        QCOMPARE(fileContent(path), before);
        QCOMPARE(c.journalView().table().rowCount(), 3 * 5);
    }

    // File → Export journal writes the rows in memory; a file that cannot be written is told.
    void exportWritesTheRowsInMemory()
    {
        BusConsole c;
        c.script({{12, "silent"}});
        c.polling.sendOnce();
        c.dialogs.answer = QDir::current().filePath("export.csv");
        c.action("actionExportJournal")->trigger();
        const QList<JournalRecord> rows = c.journalView().table().records();
        QCOMPARE(rows.size(), 5); // one answer, three tries without, one answer
        QCOMPARE(fileContent("export.csv"), journalCsvHeader() + csvOf(rows).join());
        QCOMPARE(c.dialogs.filters.last(), QStringLiteral("Journal Files (*.csv)|*.csv| All Files |*.*"));

        c.dialogs.answer = QDir::current().filePath("no/such/folder/export.csv");
        c.action("actionExportJournal")->trigger();
        QCOMPARE(c.prompter.shown.size(), 1);
        QVERIFY2(c.prompter.shown[0].text.startsWith("The journal was not exported"),
                 qPrintable(c.prompter.shown[0].text));

        c.dialogs.answer.clear(); // cancelled
        c.action("actionExportJournal")->trigger();
        QCOMPARE(c.prompter.shown.size(), 1);
    }

    void copyingRowsGivesCsv()
    {
        BusConsole c;
        c.showAt1280x800();
        c.journalView().show();
        c.journalView().table().append({row(1, V::Ok, 0), row(2, V::Error, 1), row(3, V::Ok, 2)});
        QTableView* view = c.journalView().view();
        view->selectRow(1);
        view->setFocus();
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text().toUtf8(), journalCsvRow(row(2, V::Error, 1)));
    }

    // One row per selected slot; the counters as Health counts them; Reset; a new address starts
    // its slot's counters again.
    void controllersView()
    {
        BusConsole c;
        c.script({{12, "silent"}});
        c.showAt1280x800();
        c.window.controllersDock()->show();
        for (int round = 0; round < 2; ++round)
            c.polling.sendOnce();
        c.window.flushBus();
        HealthTable& table = c.window.controllersDock()->table();
        auto cell = [&](int r, int col) { return table.data(table.index(r, col)).toString(); };
        QCOMPARE(table.rowCount(), 3);
        QCOMPARE(cell(0, HealthTable::Slot), QStringLiteral("#1"));
        QCOMPARE(cell(0, HealthTable::Address), QStringLiteral("10"));
        QCOMPARE(cell(0, HealthTable::Requests), QStringLiteral("2"));
        QCOMPARE(cell(0, HealthTable::Answered), QStringLiteral("2"));
        QCOMPARE(cell(0, HealthTable::MinFirstByte), QStringLiteral("10.0"));
        QCOMPARE(cell(0, HealthTable::Success), QStringLiteral("100.0"));
        QVERIFY(!cell(0, HealthTable::LastAnswered).isEmpty());
        QCOMPARE(cell(1, HealthTable::NoAnswer), QStringLiteral("2"));
        QCOMPARE(cell(1, HealthTable::ExtraTries), QStringLiteral("4"));
        QCOMPARE(cell(1, HealthTable::Success), QStringLiteral("0.0"));
        QCOMPARE(cell(1, HealthTable::MeanFirstByte), QString());

        c.tick(1, false);
        c.model.setText(Field::Address, 2, "99");
        c.window.flushBus();
        QCOMPARE(table.rowCount(), 2);
        QCOMPARE(cell(1, HealthTable::Slot), QStringLiteral("#3"));
        QCOMPARE(cell(1, HealthTable::Address), QStringLiteral("99"));
        QCOMPARE(cell(1, HealthTable::Requests), QStringLiteral("0")); // the old address's are not its own

        QTest::mouseClick(c.window.controllersDock()->findChild<QPushButton*>("ControllersReset"), Qt::LeftButton);
        QCOMPARE(cell(0, HealthTable::Requests), QStringLiteral("0"));
        c.polling.sendOnce();
        c.window.flushBus();
        QCOMPARE(cell(0, HealthTable::Requests), QStringLiteral("1"));
        QCOMPARE(cell(1, HealthTable::Requests), QStringLiteral("1"));
        QCOMPARE(cell(0, HealthTable::Exceptions), QStringLiteral("0"));
        const QPalette palette = QGuiApplication::palette();
        auto successTint = [&](int r) {
            return table.data(table.index(r, HealthTable::Success), Qt::BackgroundRole).value<QColor>();
        };
        QCOMPARE(successTint(0), verdictTint(V::Ok, palette));

        // Modbus devices that refuse: slot #1's every time (its refusals, too short for Read Input's
        // reply, pile up on the line until they are long enough), slot #3's once, then silence. Both
        // answered, refused: a column of their own, tinted as a bad check value is.
        c.model.choose(Field::Modbus);
        int toSlot3 = 0;
        c.link.onWrite = [&](const QByteArray& frame) {
            if (frame[0] == 100 && ++toSlot3 > 1)
                return;
            c.link.reply(0.010, modbusException(frame, '\x02'));
        };
        c.polling.sendOnce();
        c.window.flushBus();
        QCOMPARE(table.headerData(HealthTable::Exceptions, Qt::Horizontal).toString(), QStringLiteral("Exceptions"));
        QVERIFY(table.headerData(HealthTable::Exceptions, Qt::Horizontal, Qt::ToolTipRole)
                    .toString()
                    .contains("Modbus exception"));
        for (int r : {0, 1}) {
            QCOMPARE(cell(r, HealthTable::Requests), QStringLiteral("2"));
            QCOMPARE(cell(r, HealthTable::Answered), QStringLiteral("2"));
            QCOMPARE(cell(r, HealthTable::NoAnswer), QStringLiteral("0"));
            QCOMPARE(cell(r, HealthTable::Exceptions), QStringLiteral("1"));
            QCOMPARE(successTint(r), verdictTint(V::BadCheck, palette));
        }
        QCOMPARE(cell(0, HealthTable::ExtraTries), QStringLiteral("1"));
        QCOMPARE(cell(1, HealthTable::ExtraTries), QStringLiteral("2"));
        // The reply boxes say so too, the silence after slot #3's refusal taking nothing back.
        for (int slot : {0, 2}) {
            QCOMPARE(shownBase(c.box(Field::Reponse, slot)), verdictTint(V::Exception, c.window.palette()).rgb());
            const QString tip = tipOf(c.box(Field::Reponse, slot));
            QVERIFY2(tip.startsWith("Refused (Modbus exception): ") && tip.contains("02 illegal data address"),
                     qPrintable(tip));
        }
    }

    // A slot is named in the dock, by the keyboard: the name is kept with the site's settings and is
    // the tooltip of the slot's number on both pages.
    void slotNamedInTheControllersView()
    {
        BusConsole c;
        c.showAt1280x800();
        c.window.controllersDock()->show();
        c.window.flushBus();
        QTableView* view = c.window.controllersDock()->view();
        HealthTable& table = c.window.controllersDock()->table();
        QCOMPARE(table.headerData(HealthTable::Name, Qt::Horizontal).toString(), QStringLiteral("Name"));
        view->setFocus();
        view->setCurrentIndex(table.index(1, HealthTable::Name));
        QTest::keyClick(view, Qt::Key_F2);
        auto* editor = view->viewport()->findChild<QLineEdit*>();
        QVERIFY(editor);
        QTest::keyClicks(editor, "  Door 3   reader ");
        QTest::keyClick(editor, Qt::Key_Return); // the view commits it at its next turn
        const int slot = table.slotAt(1);
        QTRY_COMPARE(c.model.ini.slotNames[static_cast<size_t>(slot)], QStringLiteral("Door 3 reader"));
        QCOMPARE(table.data(table.index(1, HealthTable::Slot), Qt::ToolTipRole).toString(),
                 QStringLiteral("Door 3 reader"));
        QCOMPARE(c.window.fieldWidget(FieldRef(Field::CheckAdr, slot))->toolTip(), QStringLiteral("Door 3 reader"));
        QCOMPARE(c.window.fieldWidget(FieldRef(Field::Label14, slot))->toolTip(), QStringLiteral("Door 3 reader"));
        QCOMPARE(c.window.fieldWidget(FieldRef(Field::CheckAdr, table.slotAt(0)))->toolTip(), QString());
    }

    // Docks, their places and the window's size come back from the settings; what does not read as
    // a layout leaves the defaults.
    void layoutIsRemembered()
    {
        FakeStack s;
        JournalWriter& writer = s.stack.journalFile;
        QSize shown;
        {
            ConsoleWindow window(s.stack, s.prompter);
            window.watchBus(s.stack.journal, s.stack.health, writer);
            window.resize(1200, 760);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            shown = window.size(); // the window's own minimum may be above the size asked for
            window.findChild<QAction*>("actionJournal")->trigger();
            QVERIFY(window.close());
        }
        QVERIFY(!s.model.ini.window.geometry.isEmpty());
        QVERIFY(!s.model.ini.window.state.isEmpty());
        {
            ConsoleWindow window(s.stack, s.prompter);
            window.watchBus(s.stack.journal, s.stack.health, writer);
            window.restoreLayout();
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QVERIFY(window.journalDock()->isVisible());
            QVERIFY(!window.controllersDock()->isVisible());
            QCOMPARE(window.size(), shown);
        }
        s.model.ini.window.geometry = "not a geometry";
        s.model.ini.window.state = QByteArray(40, '\xff');
        ConsoleWindow window(s.stack, s.prompter);
        window.watchBus(s.stack.journal, s.stack.health, writer);
        const QSize size = window.size();
        window.restoreLayout();
        QCOMPARE(window.size(), size);
        QVERIFY(window.journalDock()->isHidden());
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_MAIN(TestBusViews)
#include "tst_bus_views.moc"
