// The journal of a real polling run against tarvo-sim: the CSV file holds every request the simulator
// received and every reply it sent, in order, none missing; and the health counters of a silent and
// a flaky controller.

#include "JournalCsv.h"
#include "RealStack.h"
#include "SimLog.h"
#include "SimProcess.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace tarvo;
using namespace tarvo::test;

namespace {

// The journal file's frames the same way. A stopped attempt's reply, if one came, is not read.
QStringList journalFrames(const QString& csvPath, QStringList* stoppedAt = nullptr)
{
    QStringList frames;
    const QList<QByteArray> lines = fileContent(csvPath).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList f = QString::fromUtf8(lines[i]).trimmed().split(QLatin1Char(','));
        if (f.size() < 11)
            continue;
        if (!f[5].isEmpty())
            frames << QStringLiteral("rx ") + f[5];
        if (!f[6].isEmpty())
            frames << QStringLiteral("tx ") + f[6];
        if (f[9] == QLatin1String("stopped") && stoppedAt)
            *stoppedAt << frames.last();
    }
    return frames;
}

} // namespace

class TestE2eJournal : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QDir::setCurrent(m_dir->path());
    }

    void fileHoldsWhatTheSimulatorSaw_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::newRow("serial") << false;
        QTest::newRow("TCP") << true;
    }
    void fileHoldsWhatTheSimulatorSaw()
    {
        QFETCH(bool, tcp);
        const QString log = m_dir->filePath("sim.log");
        const QStringList link = tcp ? QStringList{"--tcp", "127.0.0.1:0"} : QStringList{"--serial"};
        SimProcess sim(QStringList{"--protocol", "modbus"} + link + QStringList{"--log", log, "--fault", "2:silent"});
        RealStack s;
        s.useLink(tcp, sim.tcpPort, sim.ptyPath);
        s.model.choose(Field::Modbus);
        s.model.setText(Field::TimeOutDelay, "150");
        for (int slot : {0, 1, 2})
            s.tick(slot, QString::number(slot + 1));
        JournalFile file;
        QVERIFY(file.open(journalFileName(QDateTime::currentDateTime())));
        s.stack.journal.addSink(&file);
        QTimer flush;
        QObject::connect(&flush, &QTimer::timeout, [&] { s.stack.journal.flush(); });
        flush.start(100);
        QTimer::singleShot(1500, [&] { s.polling.stop(); });
        s.polling.start();
        s.stack.journal.flush();
        file.close();
        QTest::qWait(100); // the simulator logs what it still had on its way

        QStringList stopped;
        const QStringList written = journalFrames(file.path(), &stopped);
        QStringList seen = simLogFrames(log);
        QVERIFY2(written.size() >= 8, qPrintable(written.join('\n')));
        // A reply to the request that Stop interrupted was sent but never read.
        if (!stopped.isEmpty() && seen.size() == written.size() + 1 && seen.last().startsWith("tx"))
            seen.removeLast();
        QCOMPARE(written, seen);
        QVERIFY(fileContent(file.path()).contains(",no-answer,")); // the silent controller, 3 times a round
    }

    // tarvo-sim's fault modes: a silent controller and a flaky one (it answers every second request).
    void healthOfSilentAndFlakyControllers()
    {
        SimProcess sim({"--protocol", "p4", "--tcp", "127.0.0.1:0", "--fault", "1:silent", "--fault", "2:from=2"});
        RealStack s;
        s.useLink(true, sim.tcpPort, {});
        s.model.setText(Field::TimeOutDelay, "100");
        for (int slot : {0, 1, 2})
            s.tick(slot, QString::number(slot));
        for (int round = 0; round < 3; ++round)
            s.polling.sendOnce();
        const Health& h = s.stack.health;
        QCOMPARE(h.slot(0).requests, 3);
        QCOMPARE(h.slot(0).answered, 3);
        QCOMPARE(h.slot(0).extraTries, 0);
        QVERIFY(h.slot(0).minFirstByteMs >= 0 && h.slot(0).maxFirstByteMs < 100);
        QCOMPARE(h.slot(1).requests, 3);
        QCOMPARE(h.slot(1).noAnswer, 3);
        QCOMPARE(h.slot(1).extraTries, 6);
        QCOMPARE(h.slot(1).successShare(), 0.0);
        QCOMPARE(h.slot(2).requests, 3);
        QCOMPARE(h.slot(2).answered, 3);
        QCOMPARE(h.slot(2).extraTries, 3); // every request needed a second try
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestE2eJournal)
#include "tst_e2e_journal.moc"
