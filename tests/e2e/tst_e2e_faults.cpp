// What sites do to the console: a serial device that disappears, a TCP peer that resets, replies that
// trickle or come out wrong, a controller that stays silent, a working folder that cannot be written.
// In every case the console keeps working, says what happened, and loses no file.

#include "ConfigFile.h"
#include "Conversions.h"
#include "Crc.h"
#include "RealStack.h"
#include "Replies.h"
#include "SimMemory.h"
#include "SimProcess.h"
#include "TestFiles.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <unistd.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {
// Counts replies and remembers what the exchanges saw.
struct AttemptLog final : ExchangeObserver {
    explicit AttemptLog(const Clock& c) : clock(c) {}
    void attemptFinished(const AttemptRecord& a) override
    {
        if (a.verdict == AttemptRecord::Verdict::Reply)
            replyTimes.append(clock.now());
        checkFailed.insert(a.slot, a.checkFailed);
        if (!a.detail.isEmpty())
            details << a.detail;
    }
    int repliesAfter(double t) const
    {
        return static_cast<int>(std::count_if(replyTimes.begin(), replyTimes.end(), [t](double r) { return r > t; }));
    }
    const Clock& clock;
    QList<double> replyTimes;
    QHash<int, bool> checkFailed;
    QStringList details;
};

// The link was seen to go and to come back, in the trace (which the console's status bar shows) and
// in the journal's notes, each note with the attempt it happened in.
void verifyLostAndBack(const QStringList& trace, const QStringList& details, const QString& where)
{
    const QString time = QStringLiteral("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d");
    const QRegularExpression lost("^Link lost at " + time + ": " + where + " \\(.+\\)$");
    const QRegularExpression back("^Link lost at " + time +
                                  ", back after \\d+\\.\\d s \\((1 try|\\d+ tries)\\): " + where + "$");
    QVERIFY2(trace.indexOf(lost) >= 0, qPrintable(trace.join('\n')));
    QVERIFY2(trace.indexOf(back) > trace.indexOf(lost), qPrintable(trace.join('\n')));
    const QString notes = details.join('\n');
    QVERIFY2(notes.contains("link lost at ") && notes.count("connecting again (try 1)") == 1 &&
                 notes.count("link back after ") == 1,
             qPrintable(notes));
}

QByteArray p4Reply()
{
    return test::p4Reply(QByteArray::fromHex("0202020049"));
}
} // namespace

class TestE2eFaults : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QDir::setCurrent(m_dir->path());
    }

    void serialDeviceDisappearsWhilePolling()
    {
        const QString device = m_dir->filePath("ttyBUS");
        auto sim = std::make_unique<SimProcess>(QStringList{"--protocol", "p4", "--link", device});
        QVERIFY(!sim->ptyPath.isEmpty());
        RealStack s;
        s.model.setText(Field::ComPort, device);
        s.model.setText(Field::TimeOutDelay, "200");
        s.tick(0, "1");
        AttemptLog journal(s.clock);
        s.engine.addObserver(&journal);
        double gone = 0, back = 0;
        QTimer::singleShot(500, [&] {
            sim->stop(SIGTERM); // the device goes away under the open port
            gone = s.clock.now();
        });
        QTimer::singleShot(1500, [&] {
            sim = std::make_unique<SimProcess>(QStringList{"--protocol", "p4", "--link", device});
            back = s.clock.now();
        });
        QTimer::singleShot(3500, [&] { s.polling.stop(); });
        s.polling.start();
        QVERIFY(gone > 0 && back > 0);
        QVERIFY(journal.repliesAfter(0) > journal.repliesAfter(gone));
        QVERIFY2(journal.repliesAfter(back) > 0, qPrintable(s.trace.lines.join('\n')));
        QVERIFY(s.trace.lines.contains("Link lost: connecting again"));
        verifyLostAndBack(s.trace.lines, journal.details, "/dev/pts/\\d+");
        QVERIFY(!s.polling.running());
    }

    void tcpPeerResetsInTheMiddleOfAReply()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        int connections = 0;
        QObject::connect(&server, &QTcpServer::newConnection, [&] {
            QTcpSocket* peer = server.nextPendingConnection();
            const bool reset = ++connections == 1;
            QObject::connect(peer, &QTcpSocket::readyRead, peer, [peer, reset] {
                peer->readAll();
                if (reset) {
                    peer->write(p4Reply().left(3));
                    peer->flush();
                    peer->abort(); // a gateway resetting half-way through a reply
                } else {
                    peer->write(p4Reply());
                }
            });
        });
        RealStack s;
        s.model.choose(Field::OpTCP);
        s.model.setText(Field::IP, "127.0.0.1");
        s.model.setText(Field::Port, QString::number(server.serverPort()));
        s.model.setText(Field::TimeOutDelay, "200");
        s.tick(0, "1");
        AttemptLog journal(s.clock);
        s.engine.addObserver(&journal);
        QTimer::singleShot(1500, [&] { s.polling.stop(); });
        s.polling.start();
        QVERIFY(connections >= 2);
        QVERIFY2(journal.replyTimes.size() >= 3, qPrintable(s.trace.lines.join('\n')));
        verifyLostAndBack(s.trace.lines, journal.details, "127\\.0\\.0\\.1:" + QString::number(server.serverPort()));
        QVERIFY(!journal.checkFailed.value(0));
    }

    void troubledRepliesAndOneSilentController()
    {
        // Over the serial line, where a reply that keeps growing keeps the console listening: bytes
        // 20 ms apart still make one reply with a scanning delay of 30 ms.
        SimProcess sim({"--protocol", "p4", "--serial", "--addresses", "0-31", "--fault", "7:silent", "--fault",
                        "1:trickle=20", "--fault", "2:badcheck", "--fault", "3:partial=4"});
        RealStack s;
        s.model.setText(Field::ComPort, sim.ptyPath);
        s.model.setText(Field::TimeOutDelay, "200");
        for (int i = 0; i < ConsoleModel::kSlots; ++i)
            s.tick(i, QString::number(i));
        AttemptLog journal(s.clock);
        s.engine.addObserver(&journal);
        s.polling.sendOnce();
        for (int i = 0; i < ConsoleModel::kSlots; ++i) {
            if (i != 7 && i != 3)
                QVERIFY2(s.reply(i).startsWith(QStringLiteral("%1 02 ").arg(i + 1, 2, 16, QLatin1Char('0')).toUpper()),
                         qPrintable(s.reply(i)));
        }
        QCOMPARE(s.reply(7), QStringLiteral("NO ANSWER FROM CONTROLLER ADDRESS 7"));
        QVERIFY(!journal.checkFailed.value(1)); // trickled, but whole
        QVERIFY(journal.checkFailed.value(2));  // flagged, still shown
        // Four bytes stay below the threshold of Read Input: the request goes again, and the reply
        // read is what came, both halves, flagged.
        int inputs = 0;
        for (int i = 0; i < 8; ++i)
            inputs |= sim::discreteInput(3, i) ? 1 << i : 0;
        const QByteArray half = QByteArray::fromHex("040202") + char(inputs);
        QCOMPARE(s.reply(3), ByteArrayToHex(half + half, false));
        QVERIFY(journal.checkFailed.value(3));
        QVERIFY(!s.polling.running());
    }

    void readOnlyWorkingFolder_data()
    {
        QTest::addColumn<bool>("memoryRead");
        QTest::newRow("unattended memory read") << true;
        QTest::newRow("closing saves the settings") << false;
    }
    void readOnlyWorkingFolder()
    {
        QFETCH(bool, memoryRead);
        SimProcess sim({"--protocol", "p4", "--tcp", "127.0.0.1:0"});
        ConsoleModel settings;
        settings.setText(Field::Address, 4, "mine");
        QVERIFY(config::SaveConfig(settings));
        QFile::setPermissions("Tarvo.cfg", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther |
                                               QFileDevice::ReadGroup);
        const QByteArray before = fileContent("Tarvo.cfg");
        QFile::setPermissions(m_dir->path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                 QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                                 QFileDevice::ExeGroup);

        QProcess tarvo;
        tarvo.setWorkingDirectory(m_dir->path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_RUNTIME_DIR", QDir::tempPath());
        tarvo.setProcessEnvironment(env);
        QStringList args;
        if (memoryRead)
            args << "tcp=127.0.0.1"
                 << "port=" + QString::number(sim.tcpPort) << "controlleraddress=1"
                 << "page=01"
                 << "records=4"
                 << "recordsize=4"
                 << "outputfile=out.mem"
                 << "silent=1";
        // The superuser may write anywhere: run as nobody so that the folder really is read-only. Nobody
        // may not reach the build folder, so it runs a copy of the program from a folder it can enter.
        QTemporaryDir binDir;
        const QString program = binDir.filePath("tarvo");
        QVERIFY(QFile::copy(TARVO_PATH, program));
        const auto open = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                          QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                          QFileDevice::ExeOther;
        QFile::setPermissions(binDir.path(), open);
        QFile::setPermissions(program, open);
        if (::geteuid() == 0)
            tarvo.start("setpriv", QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", program} + args);
        else
            tarvo.start(TARVO_PATH, args);
        QVERIFY(tarvo.waitForStarted(5000));
        if (!memoryRead) {
            QVERIFY(!tarvo.waitForFinished(1500));
            ::kill(static_cast<pid_t>(tarvo.processId()), SIGTERM);
        }
        QVERIFY(tarvo.waitForFinished(30000));
        const QString err = QString::fromLocal8Bit(tarvo.readAllStandardError());
        QFile::setPermissions(m_dir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

        QCOMPARE(fileContent("Tarvo.cfg"), before);
        if (memoryRead) {
            QVERIFY(tarvo.exitCode() != 0);
            QVERIFY2(err.contains("The memory dump could not be written") && err.contains("Permission denied"),
                     qPrintable(err));
        } else {
            QCOMPARE(tarvo.exitCode(), 0);
            QVERIFY2(err.contains("SaveConfig:: Error : ") && err.contains("Permission denied"), qPrintable(err));
        }
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"Tarvo.cfg"});
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestE2eFaults)
#include "tst_e2e_faults.moc"
