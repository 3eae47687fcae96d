// The Modbus side of tarvo-sim against mbpoll, a Modbus master that nobody here wrote: Modbus RTU over
// the simulator's pseudo-terminal at 38400 bit/s, 8 data bits, no parity, 2 stop bits, and Modbus TCP
// against the simulator's TCP port under --mbap. mbpoll's slave id (unit id) is the console address + 1.

#include "SimMemory.h"
#include "SimProcess.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

using tarvo::test::SimProcess;
namespace sim = tarvo::sim;

namespace {

struct Poll {
    int exitCode = -1;
    QList<int> values;
    QString out;
};

} // namespace

class TestSimMbpoll : public QObject {
    Q_OBJECT

    std::unique_ptr<SimProcess> m_sim;  // Modbus RTU on a pseudo-terminal
    std::unique_ptr<SimProcess> m_mbap; // Modbus TCP

    // Every test runs over both: RTU on the pseudo-terminal and Modbus TCP.
    static void framings()
    {
        QTest::addColumn<bool>("tcp");
        QTest::newRow("rtu") << false;
        QTest::newRow("tcp") << true;
    }

    Poll mbpoll(int slave, const QString& type, int reference, int count)
    {
        QFETCH(bool, tcp);
        QStringList args = tcp ? QStringList{"-m", "tcp", "-p", QString::number(m_mbap->tcpPort)}
                               : QStringList{"-m", "rtu", "-b", "38400", "-d", "8", "-s", "2", "-P", "none"};
        args << "-a" << QString::number(slave) << "-t" << type << "-r" << QString::number(reference) << "-c"
             << QString::number(count) << "-1"
             << "-o"
             << "0.5" << (tcp ? QStringLiteral("127.0.0.1") : m_sim->ptyPath);
        QProcess p;
        p.start(QStringLiteral("mbpoll"), args);
        Poll r;
        if (!p.waitForFinished(10000))
            return r;
        r.exitCode = p.exitCode();
        r.out = QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
        static const QRegularExpression line(QStringLiteral("^\\[(\\d+)\\]:\\s+(-?\\d+)"),
                                             QRegularExpression::MultilineOption);
        for (auto it = line.globalMatch(r.out); it.hasNext();)
            r.values << it.next().captured(2).toInt();
        return r;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("mbpoll")).isEmpty(),
                 "mbpoll is missing: run script/bootstrap");
        m_sim = std::make_unique<SimProcess>(
            QStringList{"--protocol", "modbus", "--serial", "--addresses", "5,16,20", "--fault", "20:exception=04"});
        QVERIFY(!m_sim->ptyPath.isEmpty());
        m_mbap = std::make_unique<SimProcess>(QStringList{"--protocol", "modbus", "--mbap", "--tcp", "127.0.0.1:0",
                                                          "--addresses", "5,16,20", "--fault", "20:exception=04"});
        QVERIFY(m_mbap->tcpPort != 0);
    }

    void cleanupTestCase()
    {
        QCOMPARE(m_sim->stop(SIGTERM), 0);
        QCOMPARE(m_mbap->stop(SIGTERM), 0);
    }

    void inputRegisters_data() { framings(); }

    void inputRegisters()
    {
        const Poll r = mbpoll(6, QStringLiteral("3"), 1, 10); // console address 5, registers 0..9
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.values.size(), 10);
        for (int i = 0; i < 10; ++i)
            QCOMPARE(r.values[i], int(sim::inputRegister(5, i)));
        QCOMPARE(r.values[0], 1280);
    }

    void inputRegistersOfReadBuffer_data() { framings(); }

    void inputRegistersOfReadBuffer()
    {
        const Poll r = mbpoll(17, QStringLiteral("3"), 0x110 + 1, 6); // console address 16, the second ReadBuffer form
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.values, (QList<int>{4112, 4113, 4114, 4115, 4116, 4117}));
    }

    void holdingRegisters_data() { framings(); }

    void holdingRegisters()
    {
        const Poll r = mbpoll(6, QStringLiteral("4"), 101, 5); // registers 100..104
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.values, (QList<int>{600, 601, 602, 603, 604}));
        for (int i = 0; i < 5; ++i)
            QCOMPARE(r.values[i], int(sim::holdingRegister(5, 100 + i)));
    }

    void discreteInputs_data() { framings(); }

    void discreteInputs()
    {
        const Poll r = mbpoll(6, QStringLiteral("1"), 1, 16);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.values.size(), 16);
        for (int i = 0; i < 16; ++i)
            QCOMPARE(r.values[i], sim::discreteInput(5, i) ? 1 : 0);
    }

    void coils_data() { framings(); }

    void coils()
    {
        const Poll r = mbpoll(17, QStringLiteral("0"), 1, 8);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.values, (QList<int>{0, 1, 0, 1, 0, 1, 0, 1}));
    }

    void outOfRangeIsAnException_data() { framings(); }

    void outOfRangeIsAnException()
    {
        const Poll r = mbpoll(6, QStringLiteral("4"), 1020, 8);
        QVERIFY(r.exitCode != 0);
        QVERIFY2(r.out.contains(QLatin1String("Illegal data address")), qPrintable(r.out));
    }

    void wrongSlaveTimesOut_data() { framings(); }

    void wrongSlaveTimesOut()
    {
        const Poll r = mbpoll(9, QStringLiteral("3"), 1, 2); // console address 8 is not served
        QVERIFY(r.exitCode != 0);
        QVERIFY(r.values.isEmpty());
        QVERIFY2(r.out.contains(QLatin1String("timed out")), qPrintable(r.out));
        QVERIFY(mbpoll(5, QStringLiteral("3"), 1, 1).exitCode != 0); // slave id 5 is console address 4
    }

    void faultException_data() { framings(); }

    void faultException()
    {
        const Poll r = mbpoll(21, QStringLiteral("4"), 1, 2); // console address 20 answers exception 04
        QVERIFY(r.exitCode != 0);
        QVERIFY(r.values.isEmpty());
        QVERIFY2(r.out.contains(QLatin1String("Slave device or server failure")), qPrintable(r.out));
    }
};

QTEST_GUILESS_MAIN(TestSimMbpoll)
#include "tst_sim_mbpoll.moc"
