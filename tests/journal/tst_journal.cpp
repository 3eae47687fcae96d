// The journal's rows from scripted exchanges, the CSV file and its failures, and the health counters.

#include "Conversions.h"
#include "FakeStack.h"
#include "Health.h"
#include "Journal.h"
#include "JournalCsv.h"
#include "JournalWriter.h"
#include "Replies.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tarvo;
using namespace tarvo::test;

namespace {

// 14:03:07 at two hours east of UTC, when the tests' fake clock reads 0.
const QDateTime kWall(QDate(2026, 12, 10), QTime(14, 3, 7), Qt::OffsetFromUTC, 2 * 3600);

struct Collected final : JournalSink {
    void append(const QList<JournalRecord>& records) override { rows += records; }
    QList<JournalRecord> rows;
};

// A console on a scripted link, with its journal read by a test sink.
struct Rig : FakeStack {
    Rig()
    {
        journal.addSink(&collected);
        model.setText(Field::Address, 0, "5");
        tick(0);
    }
    QList<QByteArray> csv()
    {
        journal.flush();
        QList<QByteArray> lines;
        for (const JournalRecord& r : collected.rows)
            lines << journalCsvRow(r).chopped(2);
        return lines;
    }
    // The wall clock moves with the fake clock, from kWall at its 0.
    Journal journal{clock, [this] { return kWall.addMSecs(qRound64(clock.t * 1000)); }};
    Collected collected;
    bool attached = [this] {
        engine.addObserver(&journal);
        return true;
    }();
};

QString hexOf(const QByteArray& bytes)
{
    return spacedHex(bytes);
}

} // namespace

class TestJournal : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QDir::setCurrent(m_dir->path());
    }

    // One scripted exchange per row; its journal rows, every column, exactly.
    void rowsOfScriptedExchanges_data()
    {
        QTest::addColumn<QString>("script");
        // The CSV rows, with <t1>.. for when the first, second, third request left, <sent> and <reply>
        // for the frames. The replies come 10 ms after the request and are read one scanning delay
        // (50 ms, and the pass that sees it run out) after that.
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("answered first time")
            << "answer" << QStringList{"<t1>,1,5,ReadInput,1,<sent>,<reply>,10.0,61.0,ok,"};
        QTest::newRow("answered on the third")
            << "third"
            << QStringList{"<t1>,1,5,ReadInput,1,<sent>,,,,no-answer,", "<t2>,1,5,ReadInput,2,<sent>,,,,no-answer,",
                           "<t3>,1,5,ReadInput,3,<sent>,<reply>,10.0,61.0,ok,"};
        QTest::newRow("no answer") << "silent"
                                   << QStringList{"<t1>,1,5,ReadInput,1,<sent>,,,,no-answer,",
                                                  "<t2>,1,5,ReadInput,2,<sent>,,,,no-answer,",
                                                  "<t3>,1,5,ReadInput,3,<sent>,,,,no-answer,"};
        QTest::newRow("bad check") << "badcheck"
                                   << QStringList{"<t1>,1,5,ReadInput,1,<sent>,<reply>,10.0,61.0,bad-check,"
                                                  "\"CRC-16/XMODEM carried 97 35, computed 97 60\""};
        QTest::newRow("Bioscrypt without acknowledgement")
            << "replyless" << QStringList{"<t1>,1,5,SendCommand,1,<sent>,,,,no-reply-expected,"};
        QTest::newRow("stopped") << "stop" << QStringList{"<t1>,1,5,ReadInput,1,<sent>,,,,stopped,"};
        QTest::newRow("error, quoted") << "error"
                                       << QStringList{"2026-12-10T14:03:07.000+02:00,1,\"1,5\",ReadInput,1,,,,,error,"
                                                      "\"Address \"\"1,5\"\" is not a number\""};
    }
    void rowsOfScriptedExchanges()
    {
        QFETCH(QString, script);
        QFETCH(QStringList, rows);
        Rig r;
        const QByteArray good = p4Reply(QByteArray::fromHex("0602020049"));
        QByteArray reply = good;
        int writes = 0;
        if (script == "badcheck")
            reply[reply.size() - 2] = static_cast<char>(reply[reply.size() - 2] ^ 0x55);
        r.link.onWrite = [&](const QByteArray&) {
            ++writes;
            if (script == "silent" || script == "stop" || (script == "third" && writes < 3))
                return;
            r.link.reply(0.010, reply);
        };
        if (script == "stop")
            r.pump.at(0.7, [&] { r.polling.stop(); });
        if (script == "error")
            r.model.setText(Field::Address, 0, "1,5");
        if (script == "replyless") {
            r.model.choose(Field::OptBioscrypt);
            r.model.setListIndex(Field::Function, 4);
            r.model.setText(Field::Cmd, "0105");
        }
        r.polling.sendOnce();

        const QString sent = hexOf(r.link.writes.value(0));
        QStringList expected;
        for (QString row : rows) {
            for (int k = 0; k < r.link.writeTimes.size(); ++k)
                row.replace(QStringLiteral("<t%1>").arg(k + 1),
                            isoTime(kWall.addMSecs(qRound64(r.link.writeTimes[k] * 1000))));
            expected << row.replace("<sent>", sent).replace("<reply>", hexOf(reply));
        }
        QStringList actual;
        for (const QByteArray& line : r.csv())
            actual << QString::fromUtf8(line);
        QCOMPARE(actual, expected);
    }

    // Listening sends nothing: each message is a row of its own, timed from its first byte.
    void listeningRecordsWhatArrived()
    {
        Rig r;
        r.model.setListIndex(Field::Function, 6);
        r.link.reply(0.200, QByteArray::fromHex("0102"));
        r.pump.at(0.500, [&] { r.polling.stop(); });
        r.polling.sendOnce();
        const QList<QByteArray> rows = r.csv();
        QCOMPARE(rows.size(), 1);
        // Two bytes cannot be a frame of Protocol 4: no check value fits in them.
        QCOMPARE(rows[0], QByteArray("2026-12-10T14:03:07.200+02:00,1,5,Waiting,1,,01 02,,,bad-check,too short"));
    }

    void csvHeaderAndFileName()
    {
        QCOMPARE(
            journalCsvHeader(),
            QByteArray("time,slot,address,function,attempt,sent,received,first_byte_ms,reply_ms,verdict,detail\r\n"));
        QCOMPARE(journalFileName(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5))),
                 QStringLiteral("journal-20260102-030405.csv"));
        JournalRecord r;
        r.time = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 6), Qt::OffsetFromUTC, -(3 * 3600 + 30 * 60));
        r.detail = QStringLiteral("line one\nline \"two\"");
        QCOMPARE(journalCsvRow(r),
                 QByteArray("2026-01-02T03:04:05.006-03:30,1,,,1,,,,,no-answer,\"line one\nline \"\"two\"\"\"\r\n"));
    }

    // Rows are stamped with the local time and its offset from UTC, as the system has them.
    void rowsAreStampedWithLocalTime()
    {
        const QDateTime system = QDateTime::currentDateTime();
        const QDateTime stamped = localNow();
        QCOMPARE(stamped.offsetFromUtc(), system.offsetFromUtc());
        QVERIFY(std::abs(system.msecsTo(stamped)) < 1000);
        QCOMPARE(isoTime(stamped).right(6), isoTime(system).right(6));
    }

    // A disk that fills up mid-run: the failure is told once, the rows before it stay whole, and the
    // file takes nothing more.
    void writeFailureKeepsWholeRows()
    {
        JournalFile file;
        QStringList problems;
        file.onFailure = [&](const QString& p) { problems << p; };
        QVERIFY(file.open("j.csv"));
        JournalRecord row;
        row.time = kWall;
        row.detail = QString(100, QLatin1Char('x'));
        const qsizetype rowBytes = journalCsvRow(row).size();
        file.append({row, row});
        withFullDiskAfter(static_cast<rlim_t>(journalCsvHeader().size() + 3 * rowBytes + rowBytes / 2), [&] {
            file.append({row, row});
        });
        file.append({row});
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems[0].contains("j.csv"), qPrintable(problems[0]));
        QVERIFY(file.failed());
        QCOMPARE(fileContent("j.csv"), journalCsvHeader() + journalCsvRow(row) + journalCsvRow(row));
    }

    void exportReplacesAsAWhole()
    {
        QVERIFY(writeFile("export.csv", "older"));
        JournalRecord row;
        row.time = kWall;
        QVERIFY(exportJournal("export.csv", {row}));
        QCOMPARE(fileContent("export.csv"), journalCsvHeader() + journalCsvRow(row));
        bool ok = true;
        withFullDiskAfter(10, [&] { ok = exportJournal("export.csv", {row, row}); });
        QVERIFY(!ok);
        QCOMPARE(fileContent("export.csv"), journalCsvHeader() + journalCsvRow(row));
    }

    // The console's file: one per start of writing, never over an older one; the rows made before it
    // started go into it, and stopping writes what is still pending.
    void writerFilesPerStart()
    {
        FakeClock clock;
        Journal journal(clock, [] { return kWall; });
        JournalWriter writer(journal, [] { return kWall; });
        JournalRecord early;
        early.time = kWall;
        early.function = QStringLiteral("SendCommand");
        journal.add(early);
        QVERIFY(writer.start(QString()));
        QCOMPARE(writer.path(), QStringLiteral("journal-20261210-140307.csv"));
        journal.flush();
        QCOMPARE(fileContent(writer.path()), journalCsvHeader() + journalCsvRow(early));

        JournalRecord late = early;
        late.attempt = 2;
        journal.add(late);
        QVERIFY(writer.start(QString())); // the same second: a name of its own
        QCOMPARE(writer.path(), QStringLiteral("journal-20261210-140307-2.csv"));
        QCOMPARE(fileContent("journal-20261210-140307.csv"),
                 journalCsvHeader() + journalCsvRow(early) + journalCsvRow(late));
        journal.add(late);
        writer.stop();
        QVERIFY(!writer.writing());
        QCOMPARE(fileContent("journal-20261210-140307-2.csv"), journalCsvHeader() + journalCsvRow(late));

        QVERIFY(QDir().mkdir("logs"));
        QVERIFY(writer.start("logs"));
        QCOMPARE(writer.path(), QStringLiteral("logs/journal-20261210-140307.csv"));
        QString error;
        QVERIFY(!writer.start("gone", &error));
        QVERIFY2(error.contains("gone/journal-20261210-140307.csv"), qPrintable(error));
    }

    // A silent controller and a flaky one (it answers every second request's second attempt) beside
    // a steady one, over three rounds; counters survive Stop and Start, and start again with a new
    // address.
    void healthCounters()
    {
        FakeStack s;
        Health health(s.clock, [] { return kWall; });
        s.engine.addObserver(&health);
        for (int slot : {0, 1, 2}) {
            s.tick(slot);
            s.model.setText(Field::Address, slot, QString::number(slot + 10));
        }
        int toFlaky = 0;
        s.link.onWrite = [&](const QByteArray& frame) {
            const int wire = static_cast<unsigned char>(frame[0]);
            if (wire == 12) // console address 11: silent
                return;
            if (wire == 13 && ++toFlaky % 2 == 1) // console address 12: every other request first ignored
                return;
            s.link.reply(0.020, p4Reply(QByteArray(1, static_cast<char>(wire)) + QByteArray::fromHex("020200")));
        };
        for (int round = 0; round < 3; ++round)
            s.polling.sendOnce();
        const Health::Slot& steady = health.slot(0);
        QCOMPARE(steady.requests, 3);
        QCOMPARE(steady.answered, 3);
        QCOMPARE(steady.extraTries, 0);
        QCOMPARE(steady.minFirstByteMs, 20.0);
        QCOMPARE(steady.successShare(), 1.0);
        const Health::Slot& silent = health.slot(1);
        QCOMPARE(silent.requests, 3);
        QCOMPARE(silent.noAnswer, 3);
        QCOMPARE(silent.extraTries, 6);
        QVERIFY(std::isnan(silent.meanFirstByteMs()));
        QVERIFY(!silent.lastAnswered.isValid());
        const Health::Slot& flaky = health.slot(2);
        QCOMPARE(flaky.requests, 3);
        QCOMPARE(flaky.answered, 3);
        QCOMPARE(flaky.extraTries, 3);
        QCOMPARE(flaky.lastAnswered.isValid(), true);

        s.model.setText(Field::Address, 0, "99");
        s.polling.sendOnce();
        QCOMPARE(health.slot(0).requests, 1);
        QCOMPARE(health.slot(0).address, QStringLiteral("99"));
        QCOMPARE(health.slot(1).requests, 4);
        health.reset();
        QVERIFY(!health.seen(1));
    }

    // A Modbus exception reply is an answer, a refusal, counted in a column of its own. A refusal too
    // short to end the wait is tried again; silence after it leaves the request refused, a reply
    // replaces it. Each attempt's first byte comes 10 ms after its request, attempt n at n seconds.
    void healthCountsExceptions_data()
    {
        // One request's attempts a word each, requests apart by "|": ok, badcheck, silent, refused (an
        // exception reply read as the reply), short (an exception reply too short to end the wait).
        QTest::addColumn<QString>("attempts");
        // requests, answered, no answer, bad check, exceptions, extra tries
        QTest::addColumn<QList<long>>("counts");
        QTest::addColumn<double>("lastFirstByteMs"); // NAN: none
        QTest::addColumn<int>("lastAnsweredAt");     // the exchange clock's second, -1: never
        QTest::newRow("answered") << "ok" << QList<long>{1, 1, 0, 0, 0, 0} << 10.0 << 1;
        QTest::newRow("refused at once") << "refused" << QList<long>{1, 1, 0, 0, 1, 0} << 10.0 << 1;
        QTest::newRow("refused, then the refusals piled up to a reply")
            << "short refused" << QList<long>{1, 1, 0, 0, 1, 1} << 10.0 << 2;
        QTest::newRow("refused three times, each too short")
            << "short short short" << QList<long>{1, 1, 0, 0, 1, 2} << 10.0 << 3;
        QTest::newRow("refused, then silent") << "short silent silent" << QList<long>{1, 1, 0, 0, 1, 2} << 10.0 << 1;
        QTest::newRow("refused, then answered") << "short ok" << QList<long>{1, 1, 0, 0, 0, 1} << 10.0 << 2;
        QTest::newRow("refused, then a bad check value")
            << "short badcheck" << QList<long>{1, 1, 0, 1, 0, 1} << 10.0 << 2;
        QTest::newRow("silent") << "silent silent silent" << QList<long>{1, 0, 1, 0, 0, 2} << qQNaN() << -1;
        QTest::newRow("a refusal is not carried into the next request")
            << "short silent silent | silent silent silent" << QList<long>{2, 1, 1, 0, 1, 4} << 10.0 << 1;
        QTest::newRow("refused, then answered next time")
            << "refused | ok" << QList<long>{2, 2, 0, 0, 1, 0} << 10.0 << 2;
    }
    void healthCountsExceptions()
    {
        QFETCH(QString, attempts);
        QFETCH(QList<long>, counts);
        QFETCH(double, lastFirstByteMs);
        QFETCH(int, lastAnsweredAt);
        FakeClock clock;
        Health health(clock, [&clock] { return kWall.addMSecs(qRound64(clock.t * 1000)); });
        double t = 0;
        for (const QString& request : attempts.split('|')) {
            int n = 0;
            for (const QString& word : request.split(' ', Qt::SkipEmptyParts)) {
                t += 1;
                AttemptRecord a;
                a.slot = 4;
                a.address = QStringLiteral("7");
                a.function = QStringLiteral("ReadInput");
                a.attempt = ++n;
                a.sentAt = t;
                a.verdict = AttemptRecord::Verdict::NoReply;
                if (word != "silent") {
                    a.firstByteAt = t + 0.010;
                    a.reply = QByteArray::fromHex("08820231C0");
                }
                if (word == "ok" || word == "badcheck" || word == "refused") {
                    a.verdict = AttemptRecord::Verdict::Reply;
                    a.repliedAt = t + 0.060;
                }
                a.checkFailed = word == "badcheck";
                if (word == "refused" || word == "short")
                    a.exceptionCode = 2;
                clock.t = t + 0.5;
                health.attemptFinished(a);
            }
        }
        const Health::Slot& h = health.slot(4);
        QCOMPARE((QList<long>{h.requests, h.answered, h.noAnswer, h.badCheck, h.exceptions, h.extraTries}), counts);
        if (std::isnan(lastFirstByteMs))
            QVERIFY(std::isnan(h.lastFirstByteMs));
        else
            QCOMPARE(h.lastFirstByteMs, lastFirstByteMs);
        if (lastAnsweredAt < 0) {
            QVERIFY(!h.lastAnswered.isValid());
        } else {
            // The answer's own moment: a reply's when it was read, a short refusal's first byte.
            const qint64 ms = h.lastAnswered.toMSecsSinceEpoch() - kWall.toMSecsSinceEpoch();
            QVERIFY2(ms >= lastAnsweredAt * 1000 && ms <= lastAnsweredAt * 1000 + 60, qPrintable(QString::number(ms)));
        }
        health.reset();
        QVERIFY(!health.seen(4));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_APPLESS_MAIN(TestJournal)
#include "tst_journal.moc"
