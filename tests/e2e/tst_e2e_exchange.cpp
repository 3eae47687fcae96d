// The console's layers over real links: tarvo-sim on a pseudo-terminal and over TCP, and a libmodbus
// RTU slave behind a socat cable.

#include "Conversions.h"
#include "Crc.h"
#include "RealStack.h"
#include "Requests.h"
#include "SimCore.h"
#include "SimMemory.h"
#include "SimProcess.h"
#include "SocatCable.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <unistd.h>

using namespace tarvo;
using namespace tarvo::test;

Q_DECLARE_METATYPE(tarvo::Protocol)

namespace {
const char* simNameOf(Protocol p)
{
    switch (p) {
    case Protocol::Modbus:
        return "modbus";
    case Protocol::Protocol4:
        return "p4";
    case Protocol::Protocol4Plus:
        return "p4plus";
    case Protocol::Customer:
        return "customer";
    case Protocol::Bioscrypt:
        return "bioscrypt";
    case Protocol::None:
        return "none";
    }
    return "none";
}

// Points the console at the simulator over the chosen link.
// What the simulator sends for a frame, computed by its own core: the reply must be shown exactly so.
QString expectedReply(Protocol protocol, const QByteArray& frame)
{
    sim::SimConfig config;
    config.protocol = protocol;
    sim::SimCore core(config);
    sim::LinkState state;
    QByteArray bytes;
    for (const sim::Segment& segment : core.handleFrame(frame, state).replies)
        bytes += segment.bytes;
    return ByteArrayToHex(bytes, false);
}

} // namespace

class TestE2eExchange : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QDir::setCurrent(m_dir.path());
    }

    void sendOneTimeAgainstTheSimulator_data()
    {
        QTest::addColumn<Protocol>("protocol");
        QTest::addColumn<bool>("tcp");
        for (Protocol p : {Protocol::Protocol4, Protocol::Protocol4Plus, Protocol::Customer, Protocol::Bioscrypt}) {
            QTest::addRow("%s serial", simNameOf(p)) << p << false;
            QTest::addRow("%s tcp", simNameOf(p)) << p << true;
        }
    }
    void sendOneTimeAgainstTheSimulator()
    {
        QFETCH(Protocol, protocol);
        QFETCH(bool, tcp);
        QStringList args{"--protocol", simNameOf(protocol), "--addresses", "0-20"};
        args += tcp ? QStringList{"--tcp", "127.0.0.1:0"} : QStringList{"--serial"};
        SimProcess sim(args);
        QVERIFY2(tcp ? sim.tcpPort != 0 : !sim.ptyPath.isEmpty(), qPrintable(sim.output.join('\n')));
        RealStack s;
        s.useLink(tcp, sim.tcpPort, sim.ptyPath);
        s.model.choose(ConsoleModel::protocolOption(protocol));
        s.tick(0, "3");
        s.tick(2, "9");
        s.tick(5, "200"); // not served
        const bool bioscrypt = protocol == Protocol::Bioscrypt;
        if (bioscrypt) { // a command with acknowledgement and response
            s.model.setListIndex(Field::TxtFunction, 4);
            s.model.setText(Field::Cmd, "0105 AB CD");
            s.model.setCheck(Field::ckAck, 1);
            s.model.setCheck(Field::ckRes, 1);
        }
        s.polling.sendOnce();

        for (int slot : {0, 2}) {
            const RequestSettings settings = s.model.request(slot);
            QString text;
            if (bioscrypt) {
                const auto line = commandLine("0105 AB CD", settings);
                text = commandRequestText(*line, settings);
            } else {
                text = fixedRequest(fn::ReadInput, settings.address, "01", true).text;
            }
            const QByteArray frame = frameToBytes(frameRequest(text, settings));
            QCOMPARE(s.reply(slot), expectedReply(protocol, frame));
            QVERIFY(!s.reply(slot).isEmpty());
        }
        QCOMPARE(s.reply(5), QStringLiteral("NO ANSWER FROM CONTROLLER ADDRESS 200"));
        QVERIFY(!s.model.visible(Field::Label8));
        QVERIFY(!s.polling.running());
    }

    void badCheckValueIsFlagged()
    {
        SimProcess sim({"--protocol", "p4", "--serial", "--fault", "3:badcheck"});
        RealStack s;
        s.useLink(false, sim.tcpPort, sim.ptyPath);
        s.tick(0, "3");
        s.polling.sendOnce();
        QVERIFY(!s.reply(0).isEmpty());
        QVERIFY(s.model.visible(Field::Label8));
    }

    void pollingUntilStop()
    {
        SimProcess sim({"--protocol", "p4", "--tcp", "127.0.0.1:0"});
        RealStack s;
        s.useLink(true, sim.tcpPort, sim.ptyPath);
        s.tick(0, "1");
        s.tick(1, "2");
        struct Count final : ExchangeObserver {
            void attemptFinished(const AttemptRecord& a) override
            {
                replies += a.verdict == AttemptRecord::Verdict::Reply;
            }
            int replies = 0;
        } count;
        s.engine.addObserver(&count);
        QTimer::singleShot(300, [&] { s.model.setCheck(Field::CheckAdr, 1, 0); });
        QTimer::singleShot(800, [&] { s.polling.stop(); });
        s.polling.start();
        QVERIFY(count.replies >= 4);
        QVERIFY(!s.polling.running());
        QVERIFY(!s.polling.running());
        QCOMPARE(s.trace.lines.count("Connecting TCP "), 1); // one link for the whole polling
    }

    void modbusAgainstLibmodbus_data()
    {
        QTest::addColumn<int>("function");
        QTest::addColumn<QByteArray>("reply"); // without the CRC
        QTest::newRow("ReadInput") << 0 << QByteArray::fromHex("05020249 92");
        QByteArray registers = QByteArray::fromHex("05040C");
        for (int i = 0; i < 6; ++i)
            registers += QByteArray::fromHex(QByteArray::number(0x1000 + i, 16));
        QTest::newRow("ReadBuffer100") << 2 << registers;
    }
    void modbusAgainstLibmodbus()
    {
        QFETCH(int, function);
        QFETCH(QByteArray, reply);
        Cable cable;
        QVERIFY(cable.holder >= 0);
        QProcess slave;
        slave.start(MODBUS_SLAVE_PATH, {cable.b, "5"});
        QVERIFY(slave.waitForReadyRead(5000));

        RealStack s;
        s.model.setText(Field::ComPort, cable.a);
        s.model.choose(Field::Modbus);
        s.model.setListIndex(Field::TxtFunction, function);
        s.tick(0, "4"); // slave 5 on the wire
        s.tick(1, "7"); // slave 8: nobody
        int writes = 0;
        struct Count final : ExchangeObserver {
            explicit Count(int& w) : writes(w) {}
            void attemptFinished(const AttemptRecord&) override { ++writes; }
            int& writes;
        } count(writes);
        s.engine.addObserver(&count);
        s.polling.sendOnce();
        slave.kill();
        slave.waitForFinished();

        const QString withCrc = ByteArrayToHex(
            reply + QByteArray::fromHex(CrcModbus(QString::fromLatin1(reply.toHex())).toLatin1()), false);
        QCOMPARE(s.reply(0), withCrc);
        QCOMPARE(s.reply(1), QStringLiteral("NO ANSWER FROM CONTROLLER ADDRESS 7"));
        QCOMPARE(writes, 1 + 3);
        QCOMPARE(s.model.text(Field::COMSpeed), QStringLiteral("9600"));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestE2eExchange)
#include "tst_e2e_exchange.moc"
