// The commissioning report's figures: the journal read back as a stream, and each controller's counts,
// times and pass mark against the test's own reckoning from the same rows.

#include "ConsoleModel.h"
#include "JournalCsv.h"
#include "JournalReader.h"
#include "ReplySeries.h"
#include "ReportHtml.h"
#include "ReportJob.h"
#include "SlotStats.h"
#include "TestFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>

using namespace tarvo;
using namespace tarvo::test;

namespace {

using V = JournalRecord::Verdict;

const QDateTime kStart(QDate(2026, 12, 10), QTime(9, 0, 0), Qt::OffsetFromUTC, 3600);

// One attempt as the console journals it.
JournalRecord row(int ms, int slot, const QString& address, int attempt, V verdict, double replyMs = NAN)
{
    JournalRecord r;
    r.time = kStart.addMSecs(ms);
    r.slot = slot;
    r.address = address;
    r.function = QStringLiteral("ReadInput");
    r.attempt = attempt;
    r.sent = QStringLiteral("05 04 00 00 00 02 70 4F");
    if (answered(verdict)) {
        r.received = QStringLiteral("05 04 04 00 01 00 02 2A 32");
        r.firstByteMs = replyMs / 2;
        r.replyMs = replyMs;
    }
    r.verdict = verdict;
    if (verdict == V::Exception)
        r.detail = QStringLiteral("02 illegal data address");
    return r;
}

// What the test expects of one controller, counted as the rows are made.
struct Expected {
    long requests = 0, answered = 0, succeeded = 0, noAnswer = 0, badCheck = 0, exceptions = 0, extraTries = 0;
    std::vector<double> replies, firstBytes;
    QDateTime lastAnswered;
};

// A polling run over three controllers: slot 1 (address 3) never answers, slot 2 (address 4) answers
// most requests at once, some only at the second or third try and a few not at all, and slot 3
// (address 5) answers with bad check values every fourth request. A monitor row and a stopped request
// are mixed in and must not count.
struct Fixture {
    QList<JournalRecord> rows;
    QMap<int, Expected> expected;

    Fixture()
    {
        int t = 0;
        auto add = [&](const JournalRecord& r) {
            rows << r;
            t += 20;
        };
        for (int i = 0; i < 40; ++i) {
            Expected& silent = expected[1];
            for (int a = 1; a <= 3; ++a)
                add(row(t, 1, "3", a, V::NoAnswer));
            ++silent.requests;
            ++silent.noAnswer;
            silent.extraTries += 2;

            Expected& flaky = expected[2];
            const int failures = i % 10 == 9 ? 3 : i % 5; // 0..4 tries lost, 3 of them: no answer at all
            const int lost = std::min(failures, 3);
            for (int a = 1; a <= lost; ++a)
                add(row(t, 2, "4", a, V::NoAnswer));
            ++flaky.requests;
            if (lost < 3) {
                const double ms = 10 + i;
                add(row(t, 2, "4", lost + 1, V::Ok, ms));
                flaky.replies.push_back(ms);
                flaky.firstBytes.push_back(ms / 2);
                flaky.lastAnswered = rows.last().time;
                ++flaky.answered;
                ++flaky.succeeded;
                flaky.extraTries += lost;
            } else {
                ++flaky.noAnswer;
                flaky.extraTries += 2;
            }

            Expected& bad = expected[3];
            const V v = i % 4 == 0 ? V::BadCheck : V::Ok;
            add(row(t, 3, "5", 1, v, 30.4));
            bad.replies.push_back(30.4);
            bad.firstBytes.push_back(15.2);
            bad.lastAnswered = rows.last().time;
            ++bad.requests;
            ++bad.answered;
            (v == V::Ok ? bad.succeeded : bad.badCheck)++;

            if (i == 7) {
                JournalRecord heard = row(t, 0, "", 1, V::Unknown);
                add(heard);
                add(row(t, 3, "5", 1, V::Stopped));
            }
        }
    }
};

QString writeJournal(const QTemporaryDir& dir, const QString& name, const QList<JournalRecord>& rows)
{
    QByteArray data = journalCsvHeader();
    for (const JournalRecord& r : rows)
        data += journalCsvRow(r);
    const QString path = dir.filePath(name);
    writeFile(path, data);
    return path;
}

// Nearest rank, the long way: sort and count.
double nearestRankP95(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    for (size_t k = 1; k <= v.size(); ++k)
        if (100.0 * static_cast<double>(k) / static_cast<double>(v.size()) >= 95.0)
            return v[k - 1];
    return NAN;
}

} // namespace

class TestReport : public QObject {
    Q_OBJECT
private slots:
    void everyFigureMatchesTheRows();
    void passMarks_data();
    void passMarks();
    void p95ByNearestRank_data();
    void p95ByNearestRank();
    void readsRowsBackAsWritten();
    void badInputIsNamed_data();
    void badInputIsNamed();
    void htmlVerdictAndSlots_data();
    void htmlVerdictAndSlots();
    void htmlIsSelfContainedEscapedAndRepeatable();
    void stripShowsTheShareOfFailures_data();
    void stripShowsTheShareOfFailures();
    void failuresBeyondTheAppendixAreCounted();
    void seriesThinsToColumns_data();
    void seriesThinsToColumns();
    void journalTimeAsQtReadsIt_data();
    void journalTimeAsQtReadsIt();
    void linkAndProtocolOfTheSite_data();
    void linkAndProtocolOfTheSite();
};

void TestReport::everyFigureMatchesTheRows()
{
    QTemporaryDir dir;
    const Fixture fx;
    // Split over two files, as two sessions of one visit would be: a request never spans them here.
    const qsizetype half = fx.rows.size() / 2 / 3 * 3;
    const QString a = writeJournal(dir, "a.csv", fx.rows.mid(0, half));
    const QString b = writeJournal(dir, "b.csv", fx.rows.mid(half));
    SlotStatsBuilder builder;
    const QList<JournalFileInfo> files = readJournals({a, b}, builder);
    const QList<SlotStats> stats = builder.finish();

    QCOMPARE(files.size(), 2);
    for (const JournalFileInfo& f : files) {
        const QByteArray bytes = fileContent(f.path);
        QCOMPARE(f.size, bytes.size());
        QCOMPARE(f.sha256Hex, QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    }
    QCOMPARE(builder.firstTime(), fx.rows.first().time);
    QCOMPARE(builder.lastTime(), fx.rows.last().time);

    // The appendix: every attempt that failed, in file order (the monitor's and the stopped row are not).
    QList<JournalRecord> failed;
    for (const JournalRecord& r : fx.rows)
        if (r.slot > 0 && (r.verdict == V::NoAnswer || r.verdict == V::BadCheck))
            failed << r;
    QCOMPARE(builder.failures().size(), failed.size());
    for (qsizetype i = 0; i < failed.size(); ++i)
        QCOMPARE(journalCsvRow(builder.failures()[i]), journalCsvRow(failed[i]));
    QCOMPARE(builder.moreFailures(), 0L);

    QCOMPARE(stats.size(), 3);
    for (const SlotStats& s : stats) {
        const Expected e = fx.expected[s.slot];
        QCOMPARE(s.address, QString::number(s.slot + 2));
        QCOMPARE(s.requests, e.requests);
        QCOMPARE(s.answered, e.answered);
        QCOMPARE(s.succeeded, e.succeeded);
        QCOMPARE(s.noAnswer, e.noAnswer);
        QCOMPARE(s.badCheck, e.badCheck);
        QCOMPARE(s.exceptions, e.exceptions);
        QCOMPARE(s.extraTries, e.extraTries);
        QCOMPARE(s.lastAnswered, e.lastAnswered);
        QCOMPARE(s.reply.count, long(e.replies.size()));
        if (e.replies.empty()) {
            QVERIFY(std::isnan(s.reply.min) && std::isnan(s.reply.p95) && std::isnan(s.firstByte.mean));
            QVERIFY(std::isnan(s.successPercent()) == false);
            QCOMPARE(s.successPercent(), 0.0);
            continue;
        }
        QCOMPARE(s.reply.min, *std::min_element(e.replies.begin(), e.replies.end()));
        QCOMPARE(s.reply.max, *std::max_element(e.replies.begin(), e.replies.end()));
        double sum = 0;
        for (double v : e.replies)
            sum += v;
        QCOMPARE(s.reply.mean, sum / double(e.replies.size()));
        QCOMPARE(s.reply.p95, nearestRankP95(e.replies));
        QCOMPARE(s.firstByte.p95, nearestRankP95(e.firstBytes));
        QCOMPARE(s.firstByte.min, *std::min_element(e.firstBytes.begin(), e.firstBytes.end()));
        QCOMPARE(s.successPercent(), 100.0 * double(e.succeeded) / double(e.requests));
    }
}

void TestReport::passMarks_data()
{
    QTest::addColumn<long>("requests");
    QTest::addColumn<long>("succeeded");
    QTest::addColumn<double>("p95");
    QTest::addColumn<double>("minSuccess");
    QTest::addColumn<double>("maxP95");
    QTest::addColumn<bool>("passes");
    QTest::newRow("at the success mark") << 100L << 99L << 20.0 << 99.0 << -1.0 << true;
    QTest::newRow("just under it") << 1000L << 989L << 20.0 << 99.0 << -1.0 << false;
    QTest::newRow("no requests at all") << 0L << 0L << double(NAN) << 0.0 << -1.0 << false;
    QTest::newRow("p95 at the time mark") << 10L << 10L << 50.0 << 99.0 << 50.0 << true;
    QTest::newRow("p95 over the time mark") << 10L << 10L << 50.1 << 99.0 << 50.0 << false;
    QTest::newRow("no reply time against a time mark") << 10L << 0L << double(NAN) << 0.0 << 50.0 << false;
}

void TestReport::passMarks()
{
    QFETCH(long, requests);
    QFETCH(long, succeeded);
    QFETCH(double, p95);
    QFETCH(double, minSuccess);
    QFETCH(double, maxP95);
    SlotStats s;
    s.requests = requests;
    s.succeeded = s.answered = succeeded;
    s.reply.p95 = p95;
    QTEST(s.passes(ReportMarks{minSuccess, maxP95}), "passes");
}

void TestReport::p95ByNearestRank_data()
{
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<double>("p95");
    // 20 values: 95 % of 20 is exactly 19, so the 19th smallest (floating point would make it the 20th).
    QList<double> twenty;
    for (int i = 20; i >= 1; --i)
        twenty << i;
    QTest::newRow("20 values: the 19th") << twenty << 19.0;
    // 10 values: 9.5 rounds up to the 10th, the largest.
    QTest::newRow("10 values: the 10th") << QList<double>{5, 1, 9, 3, 7, 2, 8, 4, 10, 6} << 10.0;
    // 21 values: 19.95 rounds up to the 20th.
    QList<double> many;
    for (int i = 1; i <= 21; ++i)
        many << i * 1.5;
    QTest::newRow("21 values: the 20th") << many << 30.0;
    QTest::newRow("one value") << QList<double>{12.5} << 12.5;
    QTest::newRow("an outlier is not averaged in")
        << QList<double>{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 900} << 1.0;
}

void TestReport::p95ByNearestRank()
{
    QFETCH(QList<double>, values);
    std::vector<double> v(values.begin(), values.end());
    QTEST(timeFigures(v).p95, "p95");
}

void TestReport::readsRowsBackAsWritten()
{
    QTemporaryDir dir;
    JournalRecord odd = row(5, 2, "7", 2, V::Error);
    odd.detail = QStringLiteral("a \"quoted\", comma\r\nand a line break, café");
    odd.function = QStringLiteral("SendCommand");
    // Over 2 MB, so that rows (a quoted line break among them) fall across the reader's blocks; the last
    // row without its line end, as a journal cut short by a full disk ends.
    QList<JournalRecord> rows;
    for (int i = 0; i < 6000; ++i)
        rows << row(i * 20, 1, "3", 1, V::Ok, 12.5 + i % 7) << odd << row(i * 20 + 9, 0, "", 1, V::Unknown)
             << row(i * 20 + 10, 32, "255", 3, V::Exception, 40);
    const QString path = writeJournal(dir, "j.csv", rows);
    QByteArray file = fileContent(path);
    file.chop(2);
    QVERIFY(writeFile(path, file));
    JournalReader reader(path);
    QList<JournalRecord> back;
    JournalRecord r;
    while (reader.next(r))
        back << r;
    QCOMPARE(back.size(), rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        QCOMPARE(back[i].time, rows[i].time);
        QCOMPARE(journalCsvRow(back[i]), journalCsvRow(rows[i]));
    }
    QCOMPARE(reader.sha256Hex(), QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex());
}

void TestReport::badInputIsNamed_data()
{
    QTest::addColumn<QByteArray>("content"); // "<none>": no file at all
    QTest::addColumn<QString>("message");    // a part the message must hold
    const QByteArray header = journalCsvHeader();
    const QByteArray good = journalCsvRow(row(0, 1, "3", 1, V::Ok, 12.5));
    // The good row with one field replaced.
    const auto with = [&](int field, const QByteArray& text) {
        QList<QByteArray> f = good.chopped(2).split(',');
        f[field] = text;
        return f.join(',') + "\r\n";
    };
    QTest::newRow("missing file") << QByteArray("<none>") << "no such file";
    QTest::newRow("empty file") << QByteArray() << "not a journal";
    QTest::newRow("a census CSV") << QByteArray("address,speed,verdict\r\n") << "not a journal";
    QTest::newRow("too few fields") << header + good + "2026-12-10T09:00:00.000+01:00,1,3\r\n"
                                    << ":3: a row of 3 fields";
    QTest::newRow("unknown verdict") << header + good + with(9, "fine") << ":3: the verdict \"fine\"";
    QTest::newRow("bad time") << header + with(0, "yesterday") << ":2: the time \"yesterday\"";
    QTest::newRow("slot out of range") << header + with(1, "33") << ":2: the slot \"33\"";
    QTest::newRow("attempt out of range") << header + with(4, "4") << ":2: the attempt \"4\"";
    QTest::newRow("quote never closed") << header + good + good + "2026-12-10T09:00:00.000+01:00,1,3,\"Read\r\n"
                                        << ":4: a row that is not valid CSV";
    QTest::newRow("bad milliseconds") << header + with(7, "soon") << ":2: the first-byte time \"soon\"";
}

void TestReport::badInputIsNamed()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = dir.filePath("journal.csv");
    if (content != "<none>")
        QVERIFY(writeFile(path, content));
    try {
        SlotStatsBuilder builder;
        readJournals({path}, builder);
        QFAIL("read without complaint");
    } catch (const JournalReadError& e) {
        QVERIFY2(e.message().startsWith(path), qPrintable(e.message()));
        QVERIFY2(e.message().contains(message), qPrintable(e.message()));
    }
}

namespace {

// The fixture's run as report content, with a site around it.
ReportContent fixtureContent(const QTemporaryDir& dir, const ReportMarks& marks)
{
    const Fixture fx;
    SlotStatsBuilder builder;
    ReportContent c;
    const QString path = writeJournal(dir, "journal-20261210-090000.csv", fx.rows);
    c.files = readJournals({path}, builder);
    c.controllers = builder.finish();
    c.firstTime = builder.firstTime();
    c.lastTime = builder.lastTime();
    c.failures = builder.failures();
    c.moreFailures = builder.moreFailures();
    c.series = readSeries({path}, c.controllers, c.firstTime, c.lastTime, kChartColumns);
    c.marks = marks;
    c.siteName = QStringLiteral("North <plant> & \"yard\"");
    c.technician = QStringLiteral("A. Tech");
    c.slotNames = QStringList{QStringLiteral("Door 3 reader"), QString(), QStringLiteral("Gate <B>")};
    return c;
}

} // namespace

void TestReport::htmlVerdictAndSlots_data()
{
    QTest::addColumn<double>("minSuccess");
    QTest::addColumn<QString>("overall");
    QTest::addColumn<QStringList>("slotVerdicts"); // slots 1, 2, 3
    // The silent controller passes only when there is no mark at all; the flaky one (24 of 40 good) and the one with
    // bad check values (30 of 40 good) pass only under a mark they meet.
    QTest::newRow("site default") << 99.0 << "FAIL: 3 of 3 controllers miss the marks"
                                  << QStringList{"FAIL", "FAIL", "FAIL"};
    QTest::newRow("lenient mark") << 70.0 << "FAIL: 2 of 3 controllers miss the marks"
                                  << QStringList{"FAIL", "FAIL", "PASS"};
    QTest::newRow("no mark at all") << 0.0 << "PASS: all 3 controllers meet the marks"
                                    << QStringList{"PASS", "PASS", "PASS"};
}

void TestReport::htmlVerdictAndSlots()
{
    QFETCH(double, minSuccess);
    QFETCH(QString, overall);
    QFETCH(QStringList, slotVerdicts);
    QTemporaryDir dir;
    const QString html = QString::fromUtf8(reportHtml(fixtureContent(dir, ReportMarks{minSuccess, -1})));
    // The overall verdict comes before any slot.
    QVERIFY2(html.indexOf(overall) >= 0 && html.indexOf(overall) < html.indexOf(u"Slot 1"), qPrintable(overall));
    QVERIFY(html.contains(u"Slot 1: Door 3 reader, address 3"));
    QVERIFY(html.contains(u"Slot 2, address 4"));
    QVERIFY(html.contains(u"Slot 3: Gate &lt;B&gt;, address 5"));
    for (int slot = 1; slot <= 3; ++slot) {
        const qsizetype at = html.indexOf(QStringLiteral("Slot %1").arg(slot));
        const qsizetype end = html.indexOf(u"</h2>", at);
        QVERIFY2(html.mid(at, end - at).contains(slotVerdicts[slot - 1]), qPrintable(html.mid(at, end - at)));
    }
}

void TestReport::htmlIsSelfContainedEscapedAndRepeatable()
{
    QTemporaryDir dir;
    const ReportContent c = fixtureContent(dir, ReportMarks{});
    const QByteArray html = reportHtml(c);
    QCOMPARE(reportHtml(c), html);
    const QString text = QString::fromUtf8(html);
    QVERIFY(text.contains(u"North &lt;plant&gt; &amp; &quot;yard&quot;"));
    QVERIFY(!text.contains(u"<plant>"));
    for (const char* fetchOrRun : {"<script", "src=", "href=", "url(", "@import", "http:", "https:"})
        QVERIFY2(!text.contains(QLatin1String(fetchOrRun), Qt::CaseInsensitive), fetchOrRun);
    QVERIFY(text.contains(u"@page") && text.contains(u"break-inside:avoid"));
    QCOMPARE(text.count(u"<svg "), 3);            // a chart per controller
    QVERIFY(text.contains(u"fill=\"#c82828\""));  // the silent one's red strip
    QCOMPARE(text.count(u">no reply</text>"), 1); // and no scale of times it never had
    QVERIFY(text.contains(u"journal-20261210-090000.csv"));
    QVERIFY(text.contains(QString::fromLatin1(c.files[0].sha256Hex)));
    QVERIFY(text.contains(isoTime(c.firstTime)) && text.contains(isoTime(c.lastTime)));
}

void TestReport::stripShowsTheShareOfFailures_data()
{
    QTest::addColumn<int>("good");
    QTest::addColumn<int>("failed");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QStringList>("strip"); // height:colour, top to bottom
    const int noAnswer = static_cast<int>(V::NoAnswer);
    QTest::newRow("all good") << 10 << 0 << noAnswer << QStringList{"10:#3a9a3a"};
    QTest::newRow("one in ten lost: a sliver") << 9 << 1 << noAnswer << QStringList{"8:#3a9a3a", "2:#c82828"};
    QTest::newRow("half lost") << 5 << 5 << noAnswer << QStringList{"5:#3a9a3a", "5:#c82828"};
    QTest::newRow("bad checks in amber") << 7 << 3 << static_cast<int>(V::BadCheck)
                                         << QStringList{"7:#3a9a3a", "3:#e0a000"};
    QTest::newRow("nearly all lost: green still seen") << 1 << 99 << noAnswer << QStringList{"2:#3a9a3a", "8:#c82828"};
    QTest::newRow("silent") << 0 << 4 << noAnswer << QStringList{"10:#c82828"};
}

// A controller that loses a try now and then is not drawn as red as a dead one: the strip under its
// chart shows the failed attempts' share.
void TestReport::stripShowsTheShareOfFailures()
{
    QFETCH(int, good);
    QFETCH(int, failed);
    QFETCH(int, verdict);
    QFETCH(QStringList, strip);
    SlotStatsBuilder builder;
    ReplySeries series(kStart, kStart.addSecs(60), 1);
    for (int i = 0; i < good + failed; ++i) {
        const JournalRecord r = row(i * 100, 1, "5", 1, i < good ? V::Ok : static_cast<V>(verdict), 12);
        builder.add(r);
        series.add(r);
    }
    ReportContent c;
    c.controllers = builder.finish();
    c.series = {series};
    const QString html = QString::fromUtf8(reportHtml(c));
    static const QRegularExpression rect(
        QStringLiteral(R"re(<rect x="0" y="(\d+)" width="1" height="(\d+)" fill="(#[0-9a-f]+)"/>)re"));
    QStringList shown;
    int y = 102; // just under the plot, and each part right under the one before
    for (auto m = rect.globalMatch(html); m.hasNext();) {
        const QRegularExpressionMatch part = m.next();
        QCOMPARE(part.captured(1).toInt(), y);
        y += part.captured(2).toInt();
        shown << part.captured(2) + ":" + part.captured(3);
    }
    QCOMPARE(shown, strip);
}

void TestReport::failuresBeyondTheAppendixAreCounted()
{
    SlotStatsBuilder builder;
    for (int i = 0; i < SlotStatsBuilder::kFailureRows + 234; ++i)
        builder.add(row(i, 1, "3", i % 3 + 1, V::NoAnswer));
    builder.add(row(9999, 1, "3", 1, V::Ok, 5));
    QCOMPARE(builder.failures().size(), SlotStatsBuilder::kFailureRows);
    QCOMPARE(builder.failures().last().time, kStart.addMSecs(SlotStatsBuilder::kFailureRows - 1));
    QCOMPARE(builder.moreFailures(), 234L);
    ReportContent c;
    c.failures = builder.failures();
    c.moreFailures = builder.moreFailures();
    c.controllers = builder.finish();
    QVERIFY(QString::fromUtf8(reportHtml(c)).contains(u"234 more failed attempts are in the journal files."));
}

void TestReport::seriesThinsToColumns_data()
{
    // Attempts as "ms after the start:reply ms (- none):verdict", over a run of 0 to 999 ms in 10
    // columns of 100 ms; expected, the columns that hold anything as "column:min:max:verdict".
    QTest::addColumn<QString>("attempts");
    QTest::addColumn<QString>("columns");
    QTest::newRow("one per column") << "0:5:ok 150:7:ok 999:9:ok"
                                    << "0:5:5:ok 1:7:7:ok 9:9:9:ok";
    QTest::newRow("min and max of a column") << "200:8:ok 210:3:ok 299:12:ok 250:6:ok"
                                             << "2:3:12:ok";
    QTest::newRow("one failure among good replies shows") << "300:4:ok 310:-:no-answer 320:5:ok"
                                                          << "3:4:5:no-answer";
    QTest::newRow("the worse of a bad check and silence") << "400:6:bad-check 420:-:no-answer"
                                                          << "4:6:6:bad-check";
    QTest::newRow("silence alone: no time, a verdict") << "500:-:no-answer"
                                                       << "5:-:-:no-answer";
    QTest::newRow("outside the run: ignored") << "-5:1:ok 1000:1:ok 600:2:ok"
                                              << "6:2:2:ok";
}

void TestReport::seriesThinsToColumns()
{
    QFETCH(QString, attempts);
    QFETCH(QString, columns);
    ReplySeries series(kStart, kStart.addMSecs(999), 10);
    double max = NAN;
    for (const QString& a : attempts.split(u' ')) {
        const QStringList p = a.split(u':');
        const V verdict = static_cast<V>(verdictNames().indexOf(p[2]));
        JournalRecord r = row(p[0].toInt(), 1, "1", 1, verdict);
        r.replyMs = p[1] == u"-" ? NAN : p[1].toDouble();
        if (r.time >= kStart && r.time <= kStart.addMSecs(999) && !std::isnan(r.replyMs))
            max = std::isnan(max) ? r.replyMs : std::max(max, r.replyMs);
        series.add(r);
    }
    QStringList got;
    for (qsizetype i = 0; i < series.columns().size(); ++i) {
        const ReplySeries::Column& c = series.columns()[i];
        if (c.worst < 0)
            continue;
        const auto num = [](double v) { return std::isnan(v) ? QStringLiteral("-") : QString::number(v); };
        got << QStringLiteral("%1:%2:%3:%4")
                   .arg(i)
                   .arg(num(c.minMs), num(c.maxMs), verdictName(static_cast<V>(c.worst)));
    }
    QCOMPARE(got.join(u' '), columns);
    QCOMPARE(std::isnan(series.maxMs()), std::isnan(max));
    if (!std::isnan(max))
        QCOMPARE(series.maxMs(), max);
}

void TestReport::journalTimeAsQtReadsIt_data()
{
    // The journal's own form is read digit by digit; whatever that reading takes must be the time Qt's
    // ISO 8601 reading gives, and whatever it does not take goes to Qt's.
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("the journal's form") << QByteArray("2026-12-10T09:00:00.120+01:00");
    QTest::newRow("west of Greenwich, half hours") << QByteArray("2026-03-29T01:59:59.999-03:30");
    QTest::newRow("UTC as an offset") << QByteArray("2026-12-31T23:59:59.000+00:00");
    QTest::newRow("leap day") << QByteArray("2024-02-29T12:00:00.000+05:45");
    QTest::newRow("no such day") << QByteArray("2026-02-29T12:00:00.000+01:00");
    QTest::newRow("hour 24") << QByteArray("2026-12-10T24:00:00.000+01:00");
    QTest::newRow("second 60") << QByteArray("2026-12-10T09:00:60.000+01:00");
    QTest::newRow("offset 14 hours") << QByteArray("2026-12-10T09:00:00.000+14:00");
    QTest::newRow("offset past a day") << QByteArray("2026-12-10T09:00:00.000+25:00");
    QTest::newRow("Z") << QByteArray("2026-12-10T09:00:00.000Z");
    QTest::newRow("no milliseconds") << QByteArray("2026-12-10T09:00:00+01:00");
    QTest::newRow("a letter for a digit") << QByteArray("2026-12-1OT09:00:00.000+01:00");
    QTest::newRow("a sign in a digit's place") << QByteArray("2026-12-10T09:00:00.-01+01:00");
    QTest::newRow("year 0") << QByteArray("0000-01-01T00:00:00.000+00:00");
}

void TestReport::journalTimeAsQtReadsIt()
{
    QFETCH(QByteArray, text);
    const QDateTime qt = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
    const QDateTime ours = journalTime(text);
    QCOMPARE(ours.isValid(), qt.isValid());
    if (qt.isValid()) {
        QCOMPARE(ours.toMSecsSinceEpoch(), qt.toMSecsSinceEpoch());
        QCOMPARE(ours.offsetFromUtc(), qt.offsetFromUtc());
        QCOMPARE(isoTimeLatin1(ours), isoTimeLatin1(qt));
    }
}

void TestReport::linkAndProtocolOfTheSite_data()
{
    // A port as the site's settings hold it ("@" stands for the test's own folder, which has dev/ttyUSB0
    // with the stable name by-id/usb-FTDI_FT232R_A1-if00-port0, dev/ttyUSB1 without one, and a stable
    // name whose adapter is unplugged), or a network peer (tcp:HOST:PORT, udp:HOST:PORT; +mbap for the
    // Modbus TCP framing).
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("serialLine"); // Tarvo.ini [serial] line, and "+rs485", "+rtscts"
    QTest::addColumn<QString>("protocol");   // the option chosen
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("protocolText");
    QTest::newRow("by-id name: the device it is now, and the name")
        << "@/by-id/usb-FTDI_FT232R_A1-if00-port0"
        << "8N1"
        << "Modbus"
        << "@/dev/ttyUSB0 (usb-FTDI_FT232R_A1-if00-port0) 9600 8N1"
        << "Modbus";
    QTest::newRow("device: its by-id name found") << "@/dev/ttyUSB0"
                                                  << "8N2"
                                                  << "Protocol4Plus"
                                                  << "@/dev/ttyUSB0 (usb-FTDI_FT232R_A1-if00-port0) 9600 8N2"
                                                  << "Protocol 4+";
    QTest::newRow("device without a by-id name, RS-485, flow control")
        << "@/dev/ttyUSB1"
        << "7E1+rs485+rtscts"
        << "ProtocolAA"
        << "@/dev/ttyUSB1 9600 7E1, RTS/CTS flow control, RS-485"
        << "Customer Protocol";
    QTest::newRow("by-id name of an adapter unplugged") << "@/by-id/usb-gone-if00"
                                                        << "8N2"
                                                        << "OptBioscrypt"
                                                        << "@/by-id/usb-gone-if00 9600 8N2"
                                                        << "Bioscrypt";
    QTest::newRow("TCP, raw frames") << "tcp:10.0.0.5:4001"
                                     << "8N2"
                                     << "Protocol4"
                                     << "10.0.0.5:4001, raw frames over TCP"
                                     << "Protocol 4";
    QTest::newRow("UDP, Modbus TCP") << "udp:10.0.0.5:502+mbap"
                                     << "8N2"
                                     << "Modbus"
                                     << "10.0.0.5:502, Modbus TCP over UDP"
                                     << "Modbus";
    QTest::newRow("TCP, Modbus TCP, no protocol") << "tcp:plc.site:502+mbap"
                                                  << "8N2"
                                                  << "OptNone"
                                                  << "plc.site:502, Modbus TCP over TCP"
                                                  << "None";
}

void TestReport::linkAndProtocolOfTheSite()
{
    QFETCH(QString, link);
    QFETCH(QString, serialLine);
    QFETCH(QString, protocol);
    QFETCH(QString, expected);
    QFETCH(QString, protocolText);
    QTemporaryDir dir;
    const QString root = QFileInfo(dir.path()).canonicalFilePath();
    QVERIFY(QDir(root).mkpath("dev") && QDir(root).mkpath("by-id"));
    QVERIFY(writeFile(root + "/dev/ttyUSB0", {}) && writeFile(root + "/dev/ttyUSB1", {}));
    QVERIFY(QFile::link("../dev/ttyUSB0", root + "/by-id/usb-FTDI_FT232R_A1-if00-port0"));
    QVERIFY(QFile::link("../dev/ttyUSB9", root + "/by-id/usb-gone-if00"));

    ConsoleModel model;
    model.setText(Field::COMSpeed, "9600");
    if (link.startsWith(u"tcp:") || link.startsWith(u"udp:")) {
        const QStringList peer = link.section(u'+', 0, 0).split(u':');
        model.choose(Field::OpTCP);
        model.setText(Field::IP, peer[1]);
        model.setText(Field::Port, peer[2]);
        model.ini.tcp.transport = peer[0] == u"udp" ? Transport::Udp : Transport::Tcp;
        model.ini.tcp.framing = link.endsWith(u"+mbap") ? NetFraming::Mbap : NetFraming::Raw;
    } else {
        model.choose(Field::OpCOM);
        model.setText(Field::ComPort, QString(link).replace(u'@', root));
        model.ini.serial.line = serialLine.section(u'+', 0, 0);
        model.ini.serial.rs485 = serialLine.contains(u"+rs485");
        model.ini.serial.rtsCts = serialLine.contains(u"+rtscts");
    }
    model.choose(ConsoleModel::find(protocol)->field);
    QCOMPARE(reportLinkText(model, root + "/by-id"), QString(expected).replace(u'@', root));
    QCOMPARE(reportSiteOf(model).protocol, protocolText);
}

QTEST_GUILESS_MAIN(TestReport)
#include "tst_report.moc"
