// Each controller's history of attempts, as the console's Timeline draws it: against a table of
// attempts made by the test (buckets, the 95th percentile, the thinning to columns), its memory bounds,
// and against the commissioning report's charts from the same journal rows.

#include "AttemptHistory.h"
#include "JournalCsv.h"
#include "ReportHtml.h"
#include "SlotStats.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>

using namespace tarvo;
using namespace tarvo::test;

namespace {

using V = JournalRecord::Verdict;

// A round minute, so that buckets of ten seconds and columns of a minute start together.
const QDateTime kStart(QDate(2026, 12, 10), QTime(9, 0, 0), Qt::OffsetFromUTC, 3600);
const qint64 kT0 = kStart.toMSecsSinceEpoch();

JournalRecord row(qint64 ms, int slot, V verdict, double replyMs, int attempt = 1)
{
    JournalRecord r;
    r.time = QDateTime::fromMSecsSinceEpoch(kT0 + ms, Qt::OffsetFromUTC, 3600);
    r.slot = slot;
    r.address = QString::number(slot + 10);
    r.function = QStringLiteral("ReadInput");
    r.attempt = attempt;
    r.sent = QStringLiteral("05 04 00 00 00 02 70 4F");
    if (answered(verdict)) {
        r.received = QStringLiteral("05 04 04 00 01 00 02 2A 32");
        r.replyMs = replyMs;
        r.firstByteMs = replyMs / 2;
    }
    r.verdict = verdict;
    return r;
}

// A flaky controller: a reply time that wanders between 5 and 69.9 ms, to a tenth as the journal
// keeps it, the first byte at about half of it; a bad check value every 7th attempt and silence in
// bursts, the 48th to 50th of every 50.
V verdictOf(int i)
{
    return i % 50 >= 47 ? V::NoAnswer : i % 7 == 3 ? V::BadCheck : V::Ok;
}
double replyOf(int i)
{
    return (50 + i * 37 % 650) / 10.0;
}
double firstByteOf(int i)
{
    return (50 + i * 37 % 650) / 2 / 10.0;
}

// What the test reckons of a stretch of the table, the long way.
struct Reckoned {
    std::array<int, ReplySeries::kVerdicts> counts{};
    double min = NAN, max = NAN;
    int worst = -1;
    void add(V v, double ms)
    {
        ++counts[static_cast<size_t>(v)];
        if (worst < 0 || verdictSeverity(v) > verdictSeverity(static_cast<V>(worst)))
            worst = static_cast<int>(v);
        if (!std::isnan(ms)) {
            min = std::isnan(min) ? ms : std::min(min, ms);
            max = std::isnan(max) ? ms : std::max(max, ms);
        }
    }
};

bool sameTime(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

QString writeJournal(const QTemporaryDir& dir, const QList<JournalRecord>& rows)
{
    QByteArray data = journalCsvHeader();
    for (const JournalRecord& r : rows)
        data += journalCsvRow(r);
    const QString path = dir.filePath(QStringLiteral("journal.csv"));
    writeFile(path, data);
    return path;
}

} // namespace

class TestAttemptHistory : public QObject {
    Q_OBJECT
private slots:
    void columnsMatchTheTable_data();
    void columnsMatchTheTable();
    void p95OfAStretch_data();
    void p95OfAStretch();
    void memoryStaysBounded_data();
    void memoryStaysBounded();
    void nearestAttempt();
    void clockPutBack();
    void reportChartsDrawTheSameSeries();
};

void TestAttemptHistory::columnsMatchTheTable_data()
{
    QTest::addColumn<int>("attempts");
    QTest::addColumn<int>("everyMs");
    QTest::addColumn<int>("columnMs"); // a multiple of the buckets' 10 s, so that no bucket straddles two
    // Within the hour: every attempt held one by one, a column for each few.
    QTest::newRow("last hour, raw") << 600 << 1000 << 10000;
    // Three hours: two of them in buckets, the last one raw; the whole run thinned to minutes.
    QTest::newRow("three hours, buckets and raw") << 3 * 3600 << 1000 << 60000;
    // Faster than the count limit allows for an hour: the older part goes to buckets early.
    QTest::newRow("over the count limit") << int(AttemptHistory::kRawLimit) + 20000 << 50 << 30000;
}

void TestAttemptHistory::columnsMatchTheTable()
{
    QFETCH(int, attempts);
    QFETCH(int, everyMs);
    QFETCH(int, columnMs);
    AttemptHistory h;
    const qint64 span = static_cast<qint64>(attempts) * everyMs;
    const int columns = static_cast<int>((span + columnMs - 1) / columnMs);
    std::vector<Reckoned> expected(static_cast<size_t>(columns));
    Reckoned whole;
    Reckoned wholeFirstByte;
    for (int i = 0; i < attempts; ++i) {
        const qint64 ms = static_cast<qint64>(i) * everyMs;
        const V v = verdictOf(i);
        const double reply = answered(v) ? replyOf(i) : NAN;
        const double firstByte = answered(v) ? firstByteOf(i) : NAN;
        h.add(kT0 + ms, reply, firstByte, v, 1);
        expected[static_cast<size_t>(ms / columnMs)].add(v, reply);
        whole.add(v, reply);
        wholeFirstByte.add(v, firstByte);
    }
    QVERIFY(h.rawCount() <= AttemptHistory::kRawLimit);
    QVERIFY(h.rawCount() > 0);
    QCOMPARE(h.attempts(), attempts);

    // Columns of exactly columnMs each: the last instant of the stretch is one before columns * columnMs.
    const ReplySeries s = h.thin(kT0, kT0 + static_cast<qint64>(columns) * columnMs - 1, columns, SeriesMeasure::Reply);
    QCOMPARE(s.columns().size(), columns);
    for (int c = 0; c < columns; ++c) {
        const ReplySeries::Column& got = s.columns()[c];
        const Reckoned& want = expected[static_cast<size_t>(c)];
        QVERIFY2(got.counts == want.counts, qPrintable(QStringLiteral("column %1").arg(c)));
        QCOMPARE(got.worst, want.worst);
        QVERIFY2(sameTime(got.minMs, want.min) && sameTime(got.maxMs, want.max),
                 qPrintable(QStringLiteral("column %1: %2..%3, expected %4..%5")
                                .arg(c)
                                .arg(got.minMs)
                                .arg(got.maxMs)
                                .arg(want.min)
                                .arg(want.max)));
    }
    QCOMPARE(s.maxMs(), whole.max);

    // The first byte's times, thinned the same way.
    const ReplySeries fb = h.thin(kT0, kT0 + span, 1, SeriesMeasure::FirstByte);
    QCOMPARE(fb.columns()[0].minMs, wholeFirstByte.min);
    QCOMPARE(fb.columns()[0].maxMs, wholeFirstByte.max);
    QCOMPARE(fb.columns()[0].counts, whole.counts);
}

void TestAttemptHistory::p95OfAStretch_data()
{
    QTest::addColumn<int>("attempts");
    QTest::addColumn<qint64>("fromMs");
    QTest::addColumn<qint64>("toMs");
    QTest::addColumn<bool>("estimated");
    // Attempts a second apart, the reply time of attempt i being replyOf(i).
    QTest::newRow("all raw") << 1000 << qint64(0) << qint64(999'000) << false;
    QTest::newRow("a stretch of the raw ones") << 1000 << qint64(100'000) << qint64(299'999) << false;
    QTest::newRow("no attempt in the stretch") << 1000 << qint64(2'000'000) << qint64(3'000'000) << false;
    QTest::newRow("buckets and raw") << 3 * 3600 << qint64(0) << qint64(3 * 3600'000) << true;
    QTest::newRow("a sample of many raw")
        << int(AttemptHistory::kP95Sample) * 3 / 2 << qint64(0) << qint64(3600'000) << true;
}

void TestAttemptHistory::p95OfAStretch()
{
    QFETCH(int, attempts);
    QFETCH(qint64, fromMs);
    QFETCH(qint64, toMs);
    QFETCH(bool, estimated);
    AttemptHistory h;
    std::vector<double> inStretch;
    for (int i = 0; i < attempts; ++i) {
        const qint64 ms = static_cast<qint64>(i) * 1000;
        h.add(kT0 + ms, replyOf(i), NAN, V::Ok, 1);
        if (ms >= fromMs && ms <= toMs)
            inStretch.push_back(replyOf(i));
    }
    const AttemptHistory::Percentile p = h.p95(kT0 + fromMs, kT0 + toMs, SeriesMeasure::Reply);
    QCOMPARE(p.estimated, estimated);
    std::sort(inStretch.begin(), inStretch.end());
    if (inStretch.empty()) {
        QVERIFY(std::isnan(p.ms));
        return;
    }
    const double exact = inStretch[(95 * inStretch.size() + 99) / 100 - 1];
    if (!estimated) {
        QCOMPARE(p.ms, exact);
    } else {
        // Each bucket's own percentile stands for its attempts: never below the true median, never
        // above the slowest, and here (the same spread in every bucket) close to the true figure.
        QVERIFY(p.ms >= inStretch[inStretch.size() / 2] && p.ms <= inStretch.back());
        QVERIFY2(std::abs(p.ms - exact) <= 4, qPrintable(QStringLiteral("%1 against %2").arg(p.ms).arg(exact)));
    }
    // No first-byte time was given: none at all.
    QVERIFY(std::isnan(h.p95(kT0 + fromMs, kT0 + toMs, SeriesMeasure::FirstByte).ms));
}

void TestAttemptHistory::memoryStaysBounded_data()
{
    QTest::addColumn<qint64>("everyMs");
    QTest::addColumn<qint64>("hours");
    QTest::addColumn<qint64>("bucketMs"); // the buckets' stretch at the end
    QTest::newRow("a day at a poll every 2 s") << qint64(2000) << qint64(24) << qint64(80'000);
    QTest::newRow("a month at one a minute") << qint64(60'000) << qint64(24 * 30) << qint64(1'280'000);
    QTest::newRow("an hour without delays") << qint64(10) << qint64(1) << qint64(10'000);
}

void TestAttemptHistory::memoryStaysBounded()
{
    QFETCH(qint64, everyMs);
    QFETCH(qint64, hours);
    QFETCH(qint64, bucketMs);
    AttemptHistory h;
    const qint64 end = hours * 3600'000;
    std::array<qint64, ReplySeries::kVerdicts> counts{};
    qint64 n = 0;
    for (qint64 ms = 0; ms < end; ms += everyMs, ++n) {
        const V v = verdictOf(static_cast<int>(n));
        ++counts[static_cast<size_t>(v)];
        h.add(kT0 + ms, 12.5, 6, v, 1);
    }
    QVERIFY(h.rawCount() <= AttemptHistory::kRawLimit);
    QVERIFY(h.bucketCount() <= AttemptHistory::kBucketLimit);
    QCOMPARE(h.bucketMs(), bucketMs);
    // The last hour one by one (give or take the ten seconds that leave together), unless that is more
    // than the limit.
    const qint64 lastHour = std::min<qint64>(AttemptHistory::kRawLimit, (3600'000 + everyMs - 1) / everyMs);
    QVERIFY2(static_cast<qint64>(h.rawCount()) >= lastHour - AttemptHistory::kBucketMs / everyMs - 1,
             qPrintable(QStringLiteral("%1 raw").arg(h.rawCount())));
    QVERIFY(h.memoryBytes() < 1024 * 1024);
    // Nothing was lost on the way: every attempt is counted once, raw or in a bucket.
    const ReplySeries all = h.thin(h.firstMs(), h.lastMs(), 1, SeriesMeasure::Reply);
    for (size_t v = 0; v < counts.size(); ++v)
        QCOMPARE(all.columns()[0].counts[v], counts[v]);
    QCOMPARE(h.firstMs(), kT0);
}

void TestAttemptHistory::nearestAttempt()
{
    AttemptHistory h;
    h.add(kT0, 10, 5, V::Ok, 1);
    h.add(kT0 + 1000, NAN, NAN, V::NoAnswer, 1);
    h.add(kT0 + 1000, NAN, NAN, V::Error, 2); // two at one millisecond: the worse is the one shown
    h.add(kT0 + 5000, 11, 5, V::Ok, 1);
    QCOMPARE(h.nearest(kT0 + 100, 200)->ms, kT0);
    const auto both = h.nearest(kT0 + 900, 200);
    QVERIFY(both);
    QCOMPARE(both->verdict, V::Error);
    QCOMPARE(both->attempt, 2);
    QVERIFY(!h.nearest(kT0 + 3000, 500)); // nothing close enough
    QCOMPARE(h.nearest(kT0 + 4000, 2000)->replyMs, 11.0);
}

void TestAttemptHistory::clockPutBack()
{
    // The wall clock put back an hour and a half: the attempts keep the order of their times, none is
    // lost, and the older one goes to a bucket.
    AttemptHistory h;
    h.add(kT0 + 7200'000, 20, 10, V::Ok, 1);
    h.add(kT0 + 7201'000, 21, 10, V::Ok, 1);
    h.add(kT0 + 1800'000, NAN, NAN, V::NoAnswer, 1);
    QCOMPARE(h.firstMs(), kT0 + 1800'000);
    QCOMPARE(h.rawCount(), size_t(2));
    QCOMPARE(h.bucketAt(kT0 + 1800'000)->counts[static_cast<size_t>(V::NoAnswer)], 1u);
    const ReplySeries s = h.thin(kT0, kT0 + 7300'000, 3, SeriesMeasure::Reply);
    QCOMPARE(s.columns()[0].worst, static_cast<int>(V::NoAnswer));
    QCOMPARE(s.columns()[2].attempts(), 2);
}

void TestAttemptHistory::reportChartsDrawTheSameSeries()
{
    // One journal: the report reads it back from the file; the console's history takes the same rows
    // as the journal hands them over. The two make the same page, chart for chart.
    QList<JournalRecord> rows;
    for (int i = 0; i < 3000; ++i) {
        const qint64 ms = static_cast<qint64>(i) * 700;
        rows << row(ms, 1, verdictOf(i), replyOf(i)) << row(ms + 5, 2, V::NoAnswer, NAN, 1 + i % 3)
             << row(ms + 9, 3, i % 4 == 0 ? V::BadCheck : V::Ok, 30.4);
        if (i == 100) {
            JournalRecord heard = row(ms + 11, 2, V::Unknown, NAN);
            heard.function = QStringLiteral("Waiting"); // a frame heard while listening
            rows << heard;
        }
    }
    QTemporaryDir dir;
    const QString path = writeJournal(dir, rows);
    ReportContent fromFile;
    SlotStatsBuilder builder;
    fromFile.files = readJournals({path}, builder);
    fromFile.controllers = builder.finish();
    fromFile.firstTime = builder.firstTime();
    fromFile.lastTime = builder.lastTime();
    fromFile.series = readSeries({path}, fromFile.controllers, fromFile.firstTime, fromFile.lastTime, kChartColumns);
    QCOMPARE(fromFile.controllers.size(), 3);

    BusHistory live;
    live.append(rows);
    ReportContent fromLive = fromFile;
    fromLive.series.clear();
    for (const SlotStats& s : fromFile.controllers) {
        QCOMPARE(live.address(s.slot), s.address);
        fromLive.series << live.slot(s.slot).thin(fromFile.firstTime.toMSecsSinceEpoch(),
                                                  fromFile.lastTime.toMSecsSinceEpoch(), kChartColumns,
                                                  SeriesMeasure::Reply);
    }
    for (qsizetype i = 0; i < fromFile.series.size(); ++i) {
        const QList<ReplySeries::Column>& a = fromFile.series[i].columns();
        const QList<ReplySeries::Column>& b = fromLive.series[i].columns();
        QCOMPARE(a.size(), b.size());
        for (qsizetype c = 0; c < a.size(); ++c) {
            QVERIFY2(a[c].counts == b[c].counts && a[c].worst == b[c].worst && sameTime(a[c].minMs, b[c].minMs) &&
                         sameTime(a[c].maxMs, b[c].maxMs),
                     qPrintable(QStringLiteral("controller %1, column %2").arg(i).arg(c)));
        }
    }
    const QByteArray page = reportHtml(fromFile);
    QVERIFY(page.contains("<svg"));
    QCOMPARE(reportHtml(fromLive), page);
}

QTEST_GUILESS_MAIN(TestAttemptHistory)
#include "tst_attempt_history.moc"
