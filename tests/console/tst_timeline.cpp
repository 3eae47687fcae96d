// The Timeline dock in an offscreen window: it draws what the series hold, its marks lead to their
// journal rows, it zooms, pans and comes back to live, and it exports its picture and its series.

#include "ConfigFile.h"
#include "ConsoleWindow.h"
#include "FakeFileDialogs.h"
#include "FakeStack.h"
#include "IniFile.h"
#include "JournalDock.h"
#include "JournalTable.h"
#include "TestFiles.h"
#include "TimelineDock.h"

#include <QAction>
#include <QComboBox>
#include <QHelpEvent>
#include <QItemSelectionModel>
#include <QMenu>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

using namespace tarvo;
using namespace tarvo::test;

namespace {

using V = JournalRecord::Verdict;

const qint64 kT0 = QDateTime(QDate(2026, 12, 10), QTime(14, 0, 0), Qt::OffsetFromUTC, 3600).toMSecsSinceEpoch();

JournalRecord row(int slot, qint64 ms, V verdict, double replyMs = NAN, int attempt = 1)
{
    JournalRecord r;
    r.time = QDateTime::fromMSecsSinceEpoch(kT0 + ms, Qt::OffsetFromUTC, 3600);
    r.slot = slot;
    r.address = QString::number(slot + 10);
    r.function = QStringLiteral("ReadInput");
    r.attempt = attempt;
    r.sent = QStringLiteral("%1 02 00 00 00 10").arg(slot + 11, 2, 10, QLatin1Char('0'));
    if (answered(verdict)) {
        r.received = QStringLiteral("%1 02 02 00 49 A3 5C").arg(slot + 11, 2, 10, QLatin1Char('0'));
        r.replyMs = replyMs;
        r.firstByteMs = replyMs / 2;
    }
    r.verdict = verdict;
    if (verdict == V::Error)
        r.detail = QStringLiteral("the link is down");
    return r;
}

// The console with its bus views and the Timeline, as the program wires them; slots 1 and 2 ticked.
// A minute of polling, an attempt per slot every second: slot 1 answers in 10 to 40 ms, slot 2
// drops out for three seconds out of every ten.
struct TimelineConsole : FakeStack {
    TimelineConsole()
    {
        window.watchBus(stack.journal, stack.health, stack.journalFile);
        dock = addTimelineDock(window, &dialogs);
        for (int slot : {0, 1}) {
            model.setCheck(FieldRef(Field::CheckAdr, slot), 1);
            model.setText(FieldRef(Field::Address, slot), QString::number(slot + 11));
        }
        model.ini.slotNames[1] = QStringLiteral("Boiler room");
        dock->refreshLanes();
        view()->now = [] { return kT0 + 60'000; };
        for (int s = 0; s < 60; ++s) {
            stack.journal.add(row(1, s * 1000, V::Ok, 10 + s % 4 * 10));
            stack.journal.add(s % 10 >= 7 ? row(2, s * 1000 + 500, V::NoAnswer) : row(2, s * 1000 + 500, V::Ok, 20));
        }
        window.flushBus();
    }
    TimelineView* view() { return dock->view(); }
    void show()
    {
        window.resize(1280, 800);
        window.show();
        dock->show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        dock->findChild<QComboBox*>(QStringLiteral("TimelineSpan"))->setCurrentIndex(0); // 1 min
    }
    // The view's pixel column that an instant is drawn in.
    int xOf(qint64 ms)
    {
        const ReplySeries s = view()->laneSeries(0);
        return view()->plotRect().left() + s.columnOf(kT0 + ms);
    }
    // The tooltip the view shows when the pointer rests at `at`.
    QString tipAt(const QPoint& at)
    {
        QToolTip::hideText();
        QHelpEvent help(QEvent::ToolTip, at, view()->mapToGlobal(at));
        QCoreApplication::sendEvent(view(), &help);
        return QToolTip::text();
    }

    FakeFileDialogs dialogs;
    ConsoleWindow window{stack, prompter, &dialogs};
    TimelineDock* dock = nullptr;
};

} // namespace

class TestTimeline : public QObject {
    Q_OBJECT
private slots:
    void inTheViewMenu();
    void drawsWhatTheSeriesHold();
    void hoverAndClickLeadToTheJournalRow();
    void zoomPanAndBackToLive();
    void exportsPictureAndSeries();
    void anotherSiteStartsAfresh();
};

void TestTimeline::inTheViewMenu()
{
    TimelineConsole c;
    auto* action = c.window.findChild<QAction*>(QStringLiteral("actionTimeline"));
    QVERIFY(action);
    QCOMPARE(action->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    QVERIFY(c.window.viewMenu()->actions().contains(action));
    // One lane per ticked slot, with its name and address.
    QCOMPARE(c.view()->lanes().size(), 2);
    QCOMPARE(c.view()->lanes()[1].name, QStringLiteral("Boiler room"));
    QCOMPARE(c.view()->lanes()[1].address, QStringLiteral("12"));
    c.model.setCheck(FieldRef(Field::CheckAdr, 4), 1);
    QCOMPARE(c.view()->lanes().size(), 3);
    // The choices are the settings' (Tarvo.ini), both ways.
    c.dock->findChild<QComboBox*>(QStringLiteral("TimelineMeasure"))->setCurrentIndex(1);
    c.dock->findChild<QComboBox*>(QStringLiteral("TimelineScale"))->setCurrentIndex(1);
    QVERIFY(c.model.ini.timeline.firstByte);
    QVERIFY(c.model.ini.timeline.scalePerLane);
    QCOMPARE(c.view()->measure(), SeriesMeasure::FirstByte);
    c.model.ini.timeline = {3600, false, true, false};
    TimelineDock again(c.model);
    QCOMPARE(again.findChild<QComboBox*>(QStringLiteral("TimelineSpan"))->currentText(), QStringLiteral("1 h"));
    QCOMPARE(again.findChild<QComboBox*>(QStringLiteral("TimelineStyle"))->currentIndex(), 1);
}

void TestTimeline::drawsWhatTheSeriesHold()
{
    TimelineConsole c;
    c.show();
    QCOMPARE(c.view()->spanMs(), 60'000);
    const QImage drawn = c.view()->grab().toImage();
    const QRect lane1 = c.view()->laneRect(0);
    const QRect lane2 = c.view()->laneRect(1);
    const ReplySeries s1 = c.view()->laneSeries(0);
    const ReplySeries s2 = c.view()->laneSeries(1);
    const QColor base = c.view()->palette().color(QPalette::Base);

    // Slot 2 at 7.5 s: no answer; a red mark the strip's full height. At 5.5 s: a short green one.
    const int silent = c.xOf(7500);
    QCOMPARE(s2.columns()[s2.columnOf(kT0 + 7500)].worst, int(V::NoAnswer));
    const int stripTop2 = lane2.bottom() - 1 - TimelineView::kStripHeight + 1;
    QCOMPARE(QColor(drawn.pixel(silent, stripTop2)), QColor(0xe0, 0x3c, 0x3c));
    QCOMPARE(QColor(drawn.pixel(silent, lane2.bottom() - 1)), QColor(0xe0, 0x3c, 0x3c));
    const int good = c.xOf(5500);
    QCOMPARE(QColor(drawn.pixel(good, lane2.bottom() - 1)), QColor(0x2e, 0x9e, 0x4f));
    QVERIFY(QColor(drawn.pixel(good, stripTop2)) != QColor(0x2e, 0x9e, 0x4f)); // short: not up to the top
    // Behind a silent column, the plot is shaded; beside it, it is not.
    QVERIFY(QColor(drawn.pixel(silent, lane2.top() + 5)) != QColor(drawn.pixel(good + 3, lane2.top() + 5)));

    // Slot 1's times: 40 ms at 3 s is the greatest of all, at the top of the shared scale (1.15 times
    // it); 10 ms at 4 s a quarter as high. No time where no attempt was.
    const int x40 = c.xOf(3000);
    const int x10 = c.xOf(4000);
    QCOMPARE(s1.columns()[s1.columnOf(kT0 + 3000)].maxMs, 40.0);
    QCOMPARE(c.view()->laneTopMs(0), 40 * 1.15);
    const QColor line(0x3a, 0x7b, 0xd5);
    const int plotBottom = lane1.bottom() - TimelineView::kStripHeight - 2;
    const int plotHeight = plotBottom - (lane1.top() + 3);
    const int y40 = plotBottom - static_cast<int>(std::lround(40 / (40 * 1.15) * plotHeight));
    const int y10 = plotBottom - static_cast<int>(std::lround(10 / (40 * 1.15) * plotHeight));
    QCOMPARE(QColor(drawn.pixel(x40, y40)), line);
    QCOMPARE(QColor(drawn.pixel(x10, y10)), line);
    const int y25 = plotBottom - static_cast<int>(std::lround(25 / (40 * 1.15) * plotHeight));
    QVERIFY(QColor(drawn.pixel(x10, y25)) != line);
    // Half a second later, no attempt: no time; above the p95 band (40 ms), the plain base. The strip
    // holds the last verdict up to the next attempt.
    const int nothing = c.xOf(3500);
    QCOMPARE(s1.columns()[s1.columnOf(kT0 + 3500)].worst, -1);
    const int y45 = plotBottom - static_cast<int>(std::lround(45 / (40 * 1.15) * plotHeight));
    QCOMPARE(QColor(drawn.pixel(nothing, y45)), base);
    QCOMPARE(QColor(drawn.pixel(nothing, y10)), QColor(drawn.pixel(nothing, y25))); // the band, no time
    QCOMPARE(QColor(drawn.pixel(nothing, lane1.bottom() - 1)), QColor(0x2e, 0x9e, 0x4f));
}

void TestTimeline::hoverAndClickLeadToTheJournalRow()
{
    TimelineConsole c;
    c.show();
    const QPoint mark(c.xOf(17'500), c.view()->laneRect(1).center().y());
    // The tooltip names the attempt, from its journal row.
    const QString tip = c.tipAt(mark);
    QVERIFY2(tip.contains(QStringLiteral("#2 Boiler room, address 12")), qPrintable(tip));
    // In the local time of the machine, as the journal view shows it.
    const QString when = QDateTime::fromMSecsSinceEpoch(kT0 + 17'500).toString(QStringLiteral("HH:mm:ss.zzz"));
    QVERIFY2(tip.contains(when + QStringLiteral(", try 1")), qPrintable(tip));
    QVERIFY2(tip.contains(QStringLiteral("sent: 13 02 00 00 00 10")), qPrintable(tip));
    QVERIFY2(tip.contains(QStringLiteral("received: (nothing)")), qPrintable(tip));
    QVERIFY2(tip.contains(QStringLiteral("verdict: no-answer")), qPrintable(tip));
    QVERIFY(!c.view()->attemptAt(QPoint(c.xOf(15'000), mark.y()))); // between two marks: none

    // A click selects that row in the Journal dock, opened for it; the slot filter hiding it is set
    // back to all.
    JournalDock& journal = *c.window.journalDock();
    journal.findChild<QComboBox*>(QStringLiteral("JournalSlotFilter"))->setCurrentIndex(1); // #1 only
    QVERIFY(!journal.isVisible());
    QTest::mouseClick(c.view(), Qt::LeftButton, {}, mark);
    QVERIFY(journal.isVisible());
    QCOMPARE(journal.findChild<QComboBox*>(QStringLiteral("JournalSlotFilter"))->currentIndex(), 0);
    const QModelIndexList selected = journal.view()->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    const JournalRecord picked = journal.table().record(selected[0].row());
    QCOMPARE(picked.slot, 2);
    QCOMPARE(picked.time.toMSecsSinceEpoch(), kT0 + 17'500);
    QCOMPARE(picked.verdict, V::NoAnswer);

    // An attempt the journal view no longer holds: said so, nothing selected.
    journal.table().clear();
    QVERIFY(c.tipAt(mark).contains(QStringLiteral("no longer in the Journal view")));
    QTest::mouseClick(c.view(), Qt::LeftButton, {}, mark);
    QVERIFY(c.window.statusBar()->currentMessage().contains(QStringLiteral("no longer in the Journal view")));
}

void TestTimeline::zoomPanAndBackToLive()
{
    TimelineConsole c;
    c.show();
    TimelineView* v = c.view();
    QVERIFY(v->live());
    QCOMPARE(v->toMs(), kT0 + 60'000);
    // The wheel zooms in about the right edge of a live view, which stays live.
    const QPoint middle = v->plotRect().center();
    QWheelEvent wheel(middle, v->mapToGlobal(middle), {}, QPoint(0, 240), Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(v, &wheel);
    QVERIFY(v->spanMs() < 60'000);
    QVERIFY(v->live());
    // Dragging to the right brings earlier times in: held there, even as new attempts come.
    const qint64 span = v->spanMs();
    QTest::mousePress(v, Qt::LeftButton, {}, middle);
    QTest::mouseMove(v, middle + QPoint(v->plotRect().width() / 4, 0));
    QTest::mouseRelease(v, Qt::LeftButton, {}, middle + QPoint(v->plotRect().width() / 4, 0));
    QVERIFY(!v->live());
    QVERIFY(v->toMs() < kT0 + 60'000 - span / 5);
    const qint64 held = v->toMs();
    c.stack.journal.add(row(1, 61'000, V::Ok, 10));
    c.window.flushBus();
    QCOMPARE(v->toMs(), held);
    QVERIFY(c.dock->findChild<QWidget*>(QStringLiteral("TimelineLive"))->isEnabled());
    // Home: live again, at the chosen minute.
    v->setFocus();
    QTest::keyClick(v, Qt::Key_Home);
    QVERIFY(v->live());
    QCOMPARE(v->spanMs(), 60'000);
    // The right edge steps on by a sixteenth of the span: past the newest attempt, by less than that.
    QVERIFY(v->toMs() >= kT0 + 61'000 && v->toMs() < kT0 + 61'000 + 60'000 / 16);
}

void TestTimeline::exportsPictureAndSeries()
{
    TimelineConsole c;
    c.show();
    QTemporaryDir dir;
    c.dialogs.answer = dir.filePath(QStringLiteral("timeline.png"));
    c.dock->findChild<QAction*>(QStringLiteral("actionTimelinePng"))->trigger();
    QImage picture(c.dialogs.answer);
    QCOMPARE(picture.size(), c.view()->size());

    c.dialogs.answer = dir.filePath(QStringLiteral("timeline.csv"));
    c.dock->findChild<QAction*>(QStringLiteral("actionTimelineCsv"))->trigger();
    QCOMPARE(c.dialogs.filters.last(), QStringLiteral("CSV Files (*.csv)|*.csv| All Files |*.*"));
    const QList<QByteArray> lines = fileContent(c.dialogs.answer).split('\n');
    QCOMPARE(lines[0], QByteArray("slot,name,address,from,to,attempts,ok,bad-check,no-answer,no-reply-expected,"
                                  "stopped,error,unknown,exception,min reply ms,max reply ms,worst\r"));
    // A row per lane and column with attempts: 60 attempts each, a column each.
    QCOMPARE(lines.size(), 1 + 120 + 1);
    QList<QByteArray> silent;
    for (const QByteArray& l : lines)
        if (l.startsWith("2,Boiler room,12,") && l.contains("no-answer"))
            silent << l;
    QCOMPARE(silent.size(), 18); // three in every ten seconds
    QVERIFY2(silent[0].endsWith(",1,0,0,1,0,0,0,0,0,,,no-answer\r"), silent[0].constData());

    // A file that cannot be written: said in the status bar, nothing claimed.
    c.dialogs.answer = dir.filePath(QStringLiteral("no/such/folder/timeline.csv"));
    c.dock->findChild<QAction*>(QStringLiteral("actionTimelineCsv"))->trigger();
    QVERIFY(c.window.statusBar()->currentMessage().contains(QStringLiteral("were not written")));
}

void TestTimeline::anotherSiteStartsAfresh()
{
    // Another site's controllers are others: its history starts from nothing, with its own choices.
    QTemporaryDir root;
    const QString here = QDir::currentPath();
    const QString a = root.filePath(QStringLiteral("a"));
    const QString b = root.filePath(QStringLiteral("b"));
    QDir().mkpath(a);
    QDir().mkpath(b);
    ConsoleModel other;
    other.ini.timeline = {3600, false, true, false};
    QVERIFY(config::SaveConfig(other, QDir(b).filePath(QStringLiteral("Tarvo.cfg"))));
    QVERIFY(config::SaveIni(other, QDir(b).filePath(QStringLiteral("Tarvo.ini"))));
    QVERIFY(QDir::setCurrent(a));
    {
        TimelineConsole c;
        QVERIFY(!c.dock->history().slot(1).empty());
        QVERIFY(c.window.openSite(b));
        QVERIFY(c.dock->history().slot(1).empty());
        QCOMPARE(c.dock->findChild<QComboBox*>(QStringLiteral("TimelineSpan"))->currentText(), QStringLiteral("1 h"));
        QCOMPARE(c.dock->findChild<QComboBox*>(QStringLiteral("TimelineStyle"))->currentIndex(), 1);
        QCOMPARE(c.view()->lanes().size(), 0); // no slot is ticked there
    }
    QDir::setCurrent(here);
}

QTEST_MAIN(TestTimeline)
#include "tst_timeline.moc"
