// The memory read over a real link, and the tarvo executable itself: unattended jobs, the console
// staying open after a send, saving on close.

#include "ConfigFile.h"
#include "Conversions.h"
#include "MemoryRead.h"
#include "RealStack.h"
#include "SimMemory.h"
#include "SimProcess.h"
#include "TestFiles.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvo;
using namespace tarvo::test;

namespace {
// The record line the dump must hold for record k (from 0) of a controller, from the simulator's
// documented memory content.
QByteArray recordLine(int consoleAddress, int k)
{
    const int address = 0x1E2C + 12 * k;
    QByteArray line = QStringLiteral("#%1 (01/%2): ")
                          .arg(k + 1, 3, 10, QLatin1Char('0'))
                          .arg(address, 4, 16, QLatin1Char('0'))
                          .toUpper()
                          .toLatin1();
    for (char b : sim::memoryBytes(consoleAddress, 1, address, 12))
        line += ' ' + QByteArray::number(static_cast<unsigned char>(b), 16).rightJustified(2, '0').toUpper();
    return line + "\r";
}

struct Program {
    explicit Program(const QString& dir) { process.setWorkingDirectory(dir); }
    // Runs tarvo with no display at all: an unattended job must not need one.
    void start(const QStringList& args, bool window = false, const QString& com1 = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        if (window)
            env.insert("QT_QPA_PLATFORM", "offscreen");
        if (!com1.isEmpty())
            env.insert("TARVO_COM1", com1);
        process.setProcessEnvironment(env);
        process.start(TARVO_PATH, args);
        QVERIFY(process.waitForStarted(5000));
    }
    int finish()
    {
        if (!process.waitForFinished(60000))
            return -1000;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QProcess process;
};

QStringList readArgs(const QStringList& link, const QString& output)
{
    QStringList args = link;
    args << "controlleraddress=3"
         << "page=01"
         << "firstaddress=1e2c"
         << "records=20"
         << "recordsize=12"
         << "silent=1";
    if (!output.isEmpty())
        args << "outputfile=" + output;
    return args;
}
} // namespace

class TestE2eProgram : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QDir::setCurrent(m_dir->path());
    }

    void memoryReadOverSerial()
    {
        SimProcess sim({"--protocol", "p4", "--serial"});
        QVERIFY(!sim.ptyPath.isEmpty());
        RealStack s;
        s.model.setText(Field::ComPort, sim.ptyPath);
        s.tick(0, "3");
        s.tick(2, "9");
        QFile keep("keep.mem");
        QVERIFY(keep.open(QIODevice::WriteOnly));
        keep.write("mine");
        keep.close();
        QVERIFY(s.read.read());

        const QList<QByteArray> lines = fileContent("Memory.mem").split('\n');
        const QByteArray stars = QByteArray(84, '*') + '\r';
        int at = 0;
        for (int address : {3, 9}) {
            QCOMPARE(lines[at], stars);
            QVERIFY2(lines[at + 1].startsWith(QStringLiteral(" CTR#%1  Address:%2  EPROM:15/03/24 CHECKSUM:")
                                                  .arg(address == 3 ? 1 : 3)
                                                  .arg(address)
                                                  .toLatin1()),
                     lines[at + 1].constData());
            QVERIFY(lines[at + 1].contains("  ROM:71 "));
            QCOMPARE(lines[at + 2], stars);
            QCOMPARE(lines[at + 3], QByteArray("\r"));
            for (int k = 0; k < 99; ++k)
                QCOMPARE(lines[at + 4 + k], recordLine(address, k));
            QCOMPARE(lines[at + 103], QByteArray("\r"));
            QCOMPARE(lines[at + 104], QByteArray("\r"));
            at += 105;
        }
        QCOMPARE(lines.size(), at + 1);
        QCOMPARE(fileContent("keep.mem"), QByteArray("mine"));
    }

    void memoryReadWithoutSlots()
    {
        SimProcess sim({"--protocol", "p4", "--serial"});
        RealStack s;
        s.model.setText(Field::ComPort, sim.ptyPath);
        QVERIFY(s.read.read());
        QCOMPARE(fileContent("Memory.mem"), QByteArray());
    }

    void unattendedMemoryRead_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<bool>("site"); // started elsewhere, with --site naming the test's folder
        QTest::newRow("TCP") << true << false;
        QTest::newRow("serial through TARVO_COM1") << false << false;
        QTest::newRow("TCP, in a site folder") << true << true;
    }
    void unattendedMemoryRead()
    {
        QFETCH(bool, tcp);
        QFETCH(bool, site);
        SimProcess sim(tcp ? QStringList{"--protocol", "p4", "--tcp", "127.0.0.1:0"}
                           : QStringList{"--protocol", "p4", "--serial"});
        ConsoleModel settings;
        settings.setText(Field::Address, 5, "kept");
        QVERIFY(config::SaveConfig(settings));
        const QByteArray cfg = fileContent("Tarvo.cfg");

        QTemporaryDir elsewhere;
        Program tarvo(site ? elsewhere.path() : m_dir->path());
        const QStringList link =
            tcp ? QStringList{"tcp=127.0.0.1", "port=" + QString::number(sim.tcpPort)} : QStringList{"com=1"};
        tarvo.start((site ? QStringList{"--site", m_dir->path()} : QStringList{}) + readArgs(link, "dump.mem"), false,
                    tcp ? QString() : sim.ptyPath);
        QCOMPARE(tarvo.finish(), 0);
        QVERIFY(QDir(elsewhere.path()).isEmpty());
        const QByteArray dump = fileContent("dump.mem");
        QVERIFY2(dump.contains(" CTR#1  Address:3  EPROM:15/03/24"), tarvo.process.readAllStandardError().constData());
        QVERIFY(dump.contains(recordLine(3, 19)));
        QVERIFY(!QFile::exists("Memory.mem"));
        QCOMPARE(fileContent("Tarvo.cfg"), cfg);
    }

    void unattendedMemoryReadFailures_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("outputExists");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no outputfile") << "" << false << "no outputfile given";
        QTest::newRow("output exists") << "old.mem" << true << "old.mem already exists";
    }
    void unattendedMemoryReadFailures()
    {
        QFETCH(QString, output);
        QFETCH(bool, outputExists);
        QFETCH(QString, reason);
        SimProcess sim({"--protocol", "p4", "--tcp", "127.0.0.1:0"});
        if (outputExists) {
            QFile f(output);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("earlier dump");
        }
        Program tarvo(m_dir->path());
        tarvo.start(readArgs({"tcp=127.0.0.1", "port=" + QString::number(sim.tcpPort)}, output));
        QVERIFY(tarvo.finish() > 0);
        QVERIFY(QString::fromLocal8Bit(tarvo.process.readAllStandardError()).contains(reason));
        if (outputExists)
            QCOMPARE(fileContent(output), QByteArray("earlier dump"));
        QVERIFY(fileContent("Memory.mem").contains(" CTR#1  Address:3"));
    }

    // A read that got nothing, or not all, never ends with 0: the link that could not be opened gives 3,
    // a controller that did not answer 1, each with the reason; the dump is stored all the same.
    void unattendedMemoryReadThatGotNothing_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("reason");
        QTest::newRow("nothing listens") << "closed" << 3 << "cannot open the link to 127.0.0.1:";
        QTest::newRow("no such port") << "com=9" << 3 << "cannot open the link to the serial port COM9";
        QTest::newRow("the controller is silent") << "silent" << 1 << "no answer from controller address 3 (slot #1)";
    }
    void unattendedMemoryReadThatGotNothing()
    {
        QFETCH(QString, link);
        QFETCH(int, exitCode);
        QFETCH(QString, reason);
        SimProcess sim({"--protocol", "p4", "--tcp", "127.0.0.1:0", "--fault", "3:silent"});
        QStringList args{link};
        if (link == "silent") {
            args = QStringList{"tcp=127.0.0.1", "port=" + QString::number(sim.tcpPort), "timeoutdelay=100"};
        } else if (link == "closed") {
            QTcpServer free;
            QVERIFY(free.listen(QHostAddress::LocalHost));
            args = QStringList{"tcp=127.0.0.1", "port=" + QString::number(free.serverPort()), "timeoutdelay=300"};
        }
        Program tarvo(m_dir->path());
        tarvo.start(readArgs(args, "dump.mem"));
        QCOMPARE(tarvo.finish(), exitCode);
        const QString err = QString::fromLocal8Bit(tarvo.process.readAllStandardError());
        QVERIFY2(err.contains("tarvo: " + reason) && err.contains("is in dump.mem"), qPrintable(err));
        QVERIFY(QFile::exists("dump.mem"));
    }

    // A command line that cannot run as asked never ends with 0 without the dump: a switch that fails
    // after "page" ends the job with the reason; one that fails before it, or a line without a job,
    // opens the console, which needs a display and says so in one line when there is none.
    void commandLinesThatCannotRun_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("display");
        QTest::addColumn<QString>("reason"); // empty: the console opens and stays open
        const QStringList job{"controlleraddress=5", "records=3", "outputfile=x.mem"};
        QTest::newRow("bad silent before page, no display")
            << (QStringList{"silent=abc", "page=01"} + job) << false << "silent=abc is not a number";
        QTest::newRow("bad silent before page, display") << (QStringList{"silent=abc", "page=01"} + job) << true << "";
        QTest::newRow("bad silent after page")
            << (QStringList{"page=01", "silent=FF"} + job) << false << "silent=FF is not a number";
        QTest::newRow("bad silent after page, display")
            << (QStringList{"page=01", "silent=65536"} + job) << true << "silent=65536 is not a number";
        QTest::newRow("no arguments, no display") << QStringList{} << false << "needs a graphical session";
        QTest::newRow("cmd wins over page, no display")
            << QStringList{"cmd=01", "page=01"} << false << "needs a graphical session";
    }
    void commandLinesThatCannotRun()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, display);
        QFETCH(QString, reason);
        Program tarvo(m_dir->path());
        tarvo.start(args, display);
        if (reason.isEmpty()) {
            QVERIFY(!tarvo.process.waitForFinished(1500));
            ::kill(static_cast<pid_t>(tarvo.process.processId()), SIGTERM);
            QCOMPARE(tarvo.finish(), 0);
        } else {
            QCOMPARE(tarvo.finish(), 1);
            const QStringList lines =
                QString::fromLocal8Bit(tarvo.process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), 1); // one line, no platform plugin text
            QVERIFY2(lines[0].startsWith("tarvo: ") && lines[0].contains(reason), qPrintable(lines[0]));
        }
        QVERIFY(!QFile::exists("x.mem"));
    }

    // Without silent=1 the finished dump would be shown; without a display there is nothing to show
    // it on, so no viewer is started and nothing is said about one.
    void unattendedReadWithoutDisplayStartsNoViewer()
    {
        SimProcess sim({"--protocol", "p4", "--tcp", "127.0.0.1:0"});
        Program tarvo(m_dir->path());
        QStringList args = readArgs({"tcp=127.0.0.1", "port=" + QString::number(sim.tcpPort)}, "dump.mem");
        args.removeAll("silent=1");
        tarvo.start(args);
        QCOMPARE(tarvo.finish(), 0);
        QVERIFY(QFile::exists("dump.mem"));
        const QString err = QString::fromLocal8Bit(tarvo.process.readAllStandardError());
        QVERIFY2(!err.contains("viewer") && !err.contains("xdg"), qPrintable(err));
    }

    void sendLeavesTheConsoleOpen()
    {
        SimProcess sim({"--protocol", "p4", "--tcp", "127.0.0.1:0"});
        Program tarvo(m_dir->path());
        tarvo.start({"tcp=127.0.0.1", "port=" + QString::number(sim.tcpPort), "controlleraddress=3", "cmd=0102"}, true);
        QVERIFY(!tarvo.process.waitForFinished(1500));
        ::kill(static_cast<pid_t>(tarvo.process.processId()), SIGTERM);
        QCOMPARE(tarvo.finish(), 0);
        QVERIFY(QString::fromLatin1(tarvo.process.readAllStandardError()).contains("Connceting to network: 0"));
        QVERIFY(!QFile::exists("Tarvo.cfg")); // started with arguments: nothing saved
    }

    // Tarvo.ini asks for the journal file: a send from the command line, made before the window
    // exists, is in it.
    void startupSendIsJournalled()
    {
        SimProcess sim({"--protocol", "p4", "--tcp", "127.0.0.1:0"});
        QVERIFY(QDir().mkdir("logs"));
        QVERIFY(writeFile("Tarvo.ini", "[journal]\ntoFile=true\nfolder=logs\n"));
        Program tarvo(m_dir->path());
        tarvo.start({"tcp=127.0.0.1", "port=" + QString::number(sim.tcpPort), "controlleraddress=3", "cmd=0102"}, true);
        QVERIFY(!tarvo.process.waitForFinished(1500));
        ::kill(static_cast<pid_t>(tarvo.process.processId()), SIGTERM);
        QCOMPARE(tarvo.finish(), 0);
        const QStringList files = QDir("logs").entryList({"journal-*.csv"});
        QCOMPARE(files.size(), 1);
        const QList<QByteArray> lines = fileContent("logs/" + files[0]).trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        // The console's function (Read Input, the default), with controller 3.
        QVERIFY2(lines[1].contains(",1,3,ReadInput,1,04 02 00 00 00 10 ") && lines[1].trimmed().endsWith(",ok,"),
                 lines[1].constData());
    }

    void closingSavesOnlyAfterAPlainStart_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("saved");
        QTest::newRow("no arguments") << QStringList{} << true;
        QTest::newRow("with an argument") << QStringList{"speed=9600"} << false;
    }
    void closingSavesOnlyAfterAPlainStart()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, saved);
        Program tarvo(m_dir->path());
        tarvo.start(args, true);
        QVERIFY(!tarvo.process.waitForFinished(1000));
        ::kill(static_cast<pid_t>(tarvo.process.processId()), SIGTERM);
        QCOMPARE(tarvo.finish(), 0);
        QCOMPARE(QFile::exists("Tarvo.cfg"), saved);
    }

    void helpAndVersion_data()
    {
        QTest::addColumn<QString>("arg");
        QTest::addColumn<QString>("text");
        QTest::newRow("--help") << "--help"
                                << "Usage: tarvo";
        QTest::newRow("-h") << "-h"
                            << "outputfile=NAME";
        QTest::newRow("/?") << "/?"
                            << "silent=1";
        QTest::newRow("--version") << "--version"
                                   << "Tarvo 2.1.4\n";
    }
    void helpAndVersion()
    {
        QFETCH(QString, arg);
        QFETCH(QString, text);
        Program tarvo(m_dir->path());
        tarvo.start({arg});
        QCOMPARE(tarvo.finish(), 0);
        QVERIFY(QString::fromLocal8Bit(tarvo.process.readAllStandardOutput()).contains(text));
        QVERIFY(!QFile::exists("Tarvo.cfg"));
    }

    // SIGTERM while a send from the command line waits for a silent controller: the send stops and
    // the program ends at once instead of sitting out its time-outs.
    void signalDuringAStartupSend()
    {
        SimProcess sim({"--protocol", "p4", "--tcp", "127.0.0.1:0", "--fault", "1:silent"});
        Program tarvo(m_dir->path());
        tarvo.start({"tcp=127.0.0.1", "port=" + QString::number(sim.tcpPort), "timeoutdelay=20000",
                     "controlleraddress=1", "cmd=01"},
                    true);
        QVERIFY(!tarvo.process.waitForFinished(1000));
        ::kill(static_cast<pid_t>(tarvo.process.processId()), SIGTERM);
        QCOMPARE(tarvo.finish(), 0); // finish() gives up long before the send's own time-outs would end
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestE2eProgram)
#include "tst_e2e_program.moc"
