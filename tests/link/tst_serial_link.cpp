#include "LinkRig.h"
#include "Ports.h"
#include "PtyPair.h"

#include <QDeadlineTimer>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

// A pseudo-terminal forces 8 data bits and no parity whatever it is asked. While `g_uart` is on, a
// descriptor keeps what the program passed to the system and reads it back, as a real UART would;
// what was asked is then read here.
bool g_uart = false;
std::map<int, termios> g_asked;

} // namespace

extern "C" int tcsetattr(int fd, int action, const struct termios* t)
{
    using Real = int (*)(int, int, const struct termios*);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "tcsetattr"));
    if (g_uart && t)
        g_asked[fd] = *t;
    return real(fd, action, t);
}

extern "C" int tcgetattr(int fd, struct termios* t)
{
    using Real = int (*)(int, struct termios*);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "tcgetattr"));
    const int rc = real(fd, t);
    if (g_uart && rc == 0 && g_asked.count(fd))
        *t = g_asked[fd];
    return rc;
}

namespace {

const QStringList kOpened{"Preparing COM conncetion ", "Connecting COM "};

} // namespace

class TestSerialLink : public QObject {
    Q_OBJECT
private slots:
    void lineSettings_data()
    {
        QTest::addColumn<QString>("speed");
        QTest::addColumn<speed_t>("expected");
        QTest::addColumn<bool>("whileOpen");
        QTest::newRow("9600 kept until the port opens") << "9600" << speed_t(B9600) << false;
        QTest::newRow("38400 kept until the port opens") << "38400" << speed_t(B38400) << false;
        QTest::newRow("115200 applied to the open port") << "115200" << speed_t(B115200) << true;
        QTest::newRow("4800 applied to the open port") << "4800" << speed_t(B4800) << true;
    }
    void lineSettings()
    {
        QFETCH(QString, speed);
        QFETCH(speed_t, expected);
        QFETCH(bool, whileOpen);
        CableRig rig;
        QVERIFY(rig.pty.ok());
        if (!whileOpen)
            rig.link.SetBaudRate(speed);
        rig.connectLink();
        if (whileOpen)
            rig.link.SetBaudRate(speed);
        QCOMPARE(rig.trace.lines, kOpened);

        const termios t = rig.pty.lineSettings();
        QCOMPARE(::cfgetospeed(&t), expected);
        QCOMPARE(::cfgetispeed(&t), expected);
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QVERIFY(!(t.c_cflag & PARENB));
        QVERIFY(t.c_cflag & CSTOPB);
        rig.link.Disconnect();
    }

    // Every line format the console offers reaches the system: data bits and parity as asked of it,
    // speed, stop bits and flow control as the terminal keeps them.
    void lineFormatReachesTheSystem_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("rtsCts");
        for (const char* data : {"7", "8"})
            for (const char* parity : {"N", "E", "O", "M", "S"})
                for (const char* stop : {"1", "2"})
                    for (const bool flow : {false, true}) {
                        const QString f = QString::fromLatin1(data) + parity + stop;
                        QTest::addRow("%s%s", qPrintable(f), flow ? " rts/cts" : "") << f << flow;
                    }
    }
    void lineFormatReachesTheSystem()
    {
        QFETCH(QString, format);
        QFETCH(bool, rtsCts);
        CableRig rig;
        QVERIFY(rig.pty.ok());
        rig.settings.line = *LineFormat::parse(format);
        rig.settings.line.rtsCts = rtsCts;
        rig.link.SetBaudRate("19200");
        g_asked.clear();
        g_uart = true;
        rig.connectLink();
        g_uart = false;
        QCOMPARE(rig.trace.lines, kOpened);

        const int fd = rig.link.serial().port().handle();
        QVERIFY(g_asked.count(fd));
        const termios asked = g_asked[fd];
        g_asked.clear();
        const LineFormat& f = rig.settings.line;
        QCOMPARE(asked.c_cflag & CSIZE, tcflag_t(f.dataBits == 7 ? CS7 : CS8));
        QCOMPARE(bool(asked.c_cflag & PARENB), f.parity != LineFormat::Parity::None);
        if (f.parity != LineFormat::Parity::None) {
            const bool odd = f.parity == LineFormat::Parity::Odd || f.parity == LineFormat::Parity::Mark;
            const bool stick = f.parity == LineFormat::Parity::Mark || f.parity == LineFormat::Parity::Space;
            QCOMPARE(bool(asked.c_cflag & PARODD), odd);
            QCOMPARE(bool(asked.c_cflag & CMSPAR), stick);
        }
        const termios kept = rig.pty.lineSettings();
        QCOMPARE(::cfgetospeed(&kept), speed_t(B19200));
        QCOMPARE(bool(kept.c_cflag & CSTOPB), f.stopBits == 2);
        QCOMPARE(bool(kept.c_cflag & CRTSCTS), rtsCts);
        QCOMPARE(rig.link.characterSeconds(), f.bitsPerCharacter() / 19200.0);
        rig.link.Disconnect();
    }

    // What a reply costs on the line at the formats sites use: the byte time follows the bits of
    // each character, and so do the settle (wire and one WaitingDelay) and the floor (that, or Scan).
    void byteTimes_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("request");
        QTest::addColumn<int>("reply");
        QTest::addColumn<double>("waiting");
        QTest::addColumn<double>("scan");
        QTest::addColumn<double>("wireMs");
        QTest::addColumn<double>("settleMs");
        QTest::addColumn<double>("floorMs");
        // 8N2 and 8E1 take 11 bits a character, 8N1 and 7O1 take 10.
        QTest::newRow("8N2 9600, Modbus read")
            << "8N2" << 9600 << 8 << 13 << 0.010 << 0.0 << 24.0625 << 34.0625 << 34.0625;
        QTest::newRow("8E1 9600, Modbus read")
            << "8E1" << 9600 << 8 << 13 << 0.010 << 0.0 << 24.0625 << 34.0625 << 34.0625;
        QTest::newRow("8E1 38400, Scan longer")
            << "8E1" << 38400 << 6 << 8 << 0.010 << 0.050 << 4.0104166667 << 14.0104166667 << 50.0;
        QTest::newRow("7O1 9600") << "7O1" << 9600 << 6 << 8 << 0.010 << 0.0 << 14.5833333333 << 24.5833333333
                                  << 24.5833333333;
        QTest::newRow("7O1 1200, slow line") << "7O1" << 1200 << 6 << 18 << 0.020 << 0.100 << 200.0 << 220.0 << 220.0;
        QTest::newRow("8N1 115200") << "8N1" << 115200 << 8 << 205 << 0.0 << 0.0 << 18.4895833333 << 18.4895833333
                                    << 18.4895833333;
    }
    void byteTimes()
    {
        QFETCH(QString, format);
        QFETCH(int, baud);
        QFETCH(int, request);
        QFETCH(int, reply);
        QFETCH(double, waiting);
        QFETCH(double, scan);
        QFETCH(double, wireMs);
        QFETCH(double, settleMs);
        QFETCH(double, floorMs);
        const LineFormat f = *LineFormat::parse(format);
        const ExchangeFloor e = exchangeFloor(f, baud, request, reply, waiting, scan);
        QVERIFY2(qAbs(e.wire * 1000 - wireMs) < 1e-6, qPrintable(QString::number(e.wire * 1000, 'f', 10)));
        QVERIFY2(qAbs(e.settle * 1000 - settleMs) < 1e-6, qPrintable(QString::number(e.settle * 1000, 'f', 10)));
        QVERIFY2(qAbs(e.floor * 1000 - floorMs) < 1e-6, qPrintable(QString::number(e.floor * 1000, 'f', 10)));
        QCOMPARE(f.seconds(1, 0), 0.0);
    }

    void lineFormatText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("canonical"); // empty: refused
        QTest::addColumn<int>("bits");
        QTest::newRow("the console's own") << "8N2"
                                           << "8N2" << 11;
        QTest::newRow("8E1") << "8e1"
                             << "8E1" << 11;
        QTest::newRow("7O1") << " 7o1 "
                             << "7O1" << 10;
        QTest::newRow("8N1") << "8N1"
                             << "8N1" << 10;
        QTest::newRow("mark, space") << "7S2"
                                     << "7S2" << 11;
        QTest::newRow("6 data bits") << "6N1"
                                     << "" << 0;
        QTest::newRow("3 stop bits") << "8N3"
                                     << "" << 0;
        QTest::newRow("unknown parity") << "8X1"
                                        << "" << 0;
        QTest::newRow("too long") << "8N1x"
                                  << "" << 0;
    }
    void lineFormatText()
    {
        QFETCH(QString, text);
        QFETCH(QString, canonical);
        QFETCH(int, bits);
        const auto f = LineFormat::parse(text);
        QCOMPARE(f.has_value(), !canonical.isEmpty());
        if (f) {
            QCOMPARE(f->text(), canonical);
            QCOMPARE(f->bitsPerCharacter(), bits);
        }
        QCOMPARE(LineFormat{}.text(), QStringLiteral("8N2"));
    }

    void refusedSpeedKeepsTheOldOne_data()
    {
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("line");
        QTest::newRow("not a number") << "fast"
                                      << "SetBaudRate:: Error : Type mismatch";
        QTest::newRow("zero") << "0"
                              << "SetBaudRate:: Error : Invalid procedure call or argument";
        QTest::newRow("negative") << "-9600"
                                  << "SetBaudRate:: Error : Invalid procedure call or argument";
    }
    void refusedSpeedKeepsTheOldOne()
    {
        QFETCH(QString, speed);
        QFETCH(QString, line);
        CableRig rig;
        QVERIFY(rig.pty.ok());
        rig.link.SetBaudRate("19200");
        rig.link.SetBaudRate(speed); // refused while closed: the open port still gets 19200
        rig.connectLink();
        rig.link.SetBaudRate(speed); // refused while open
        QCOMPARE(rig.trace.lines, QStringList() << line << kOpened << line);
        const termios t = rig.pty.lineSettings();
        QCOMPARE(::cfgetospeed(&t), speed_t(B19200));
    }

    void setBaudRateOnTcpDoesNothing()
    {
        CableRig rig;
        QVERIFY(rig.pty.ok());
        rig.link.SetBaudRate("9600");
        rig.connectLink();
        rig.serial = false;
        rig.link.SetBaudRate("115200");
        rig.link.SetBaudRate("not a speed");
        QCOMPARE(rig.trace.lines, kOpened);
        const termios t = rig.pty.lineSettings();
        QCOMPARE(::cfgetospeed(&t), speed_t(B9600));
    }

    void bytesWrittenArrive()
    {
        CableRig rig;
        QVERIFY(rig.pty.ok());
        rig.connectLink();
        // Every byte value passes unchanged: no line-end translation, no flow-control characters eaten.
        QByteArray frame;
        for (int b = 0; b < 256; ++b)
            frame.append(static_cast<char>(b));
        rig.link.WriteData(frame);
        QCOMPARE(rig.pty.receive(frame.size()), frame);
        QCOMPARE(rig.trace.lines, kOpened);
    }

    void lateByteIsCountedAndReadFirst()
    {
        CableRig rig;
        QVERIFY(rig.pty.ok());
        rig.connectLink();

        // A late reply to an earlier request; the event loop never runs in this test, so the link has
        // to look at the port itself to see it.
        QVERIFY(rig.pty.send(QByteArray("\xAA", 1)));
        QCOMPARE(countWithoutEvents(rig.link, 1), int16_t(1));

        const QByteArray request("\x01\x02\x03", 3);
        rig.link.WriteData(request);
        rig.link.CleanReceivedBuffer();
        QCOMPARE(rig.link.ReceivedBufferCount(), int16_t(1)); // the clean keeps it
        QCOMPARE(rig.pty.receive(request.size()), request);

        QVERIFY(rig.pty.send(QByteArray("\x01\x82", 2)));
        QCOMPARE(countWithoutEvents(rig.link, 3), int16_t(3));
        QCOMPARE(rig.link.ReadData(), QByteArray("\xAA\x01\x82", 3));
        QCOMPARE(rig.link.ReceivedBufferCount(), int16_t(0));
        QCOMPARE(rig.link.ReadData(), QByteArray());
        QCOMPARE(rig.trace.lines, kOpened);
    }

    // A wait that needs 17 bytes lets the system hold the first 16 without waking anyone: the
    // terminal's VMIN follows what is still missing. Counting and reading see every byte at once all
    // the same.
    void wakeThresholdFollowsWhatIsMissing()
    {
        CableRig rig;
        QVERIFY(rig.pty.ok());
        rig.connectLink();
        rig.link.setWakeThreshold(17);
        QCOMPARE(rig.pty.lineSettings().c_cc[VMIN], cc_t(17));
        QVERIFY(rig.pty.send("abc"));
        QCOMPARE(countWithoutEvents(rig.link, 3), int16_t(3));
        QCOMPARE(rig.pty.lineSettings().c_cc[VMIN], cc_t(14));
        rig.link.setWakeThreshold(100000); // as far as a terminal counts
        QCOMPARE(rig.pty.lineSettings().c_cc[VMIN], cc_t(255));
        QVERIFY(rig.pty.send("defg"));
        QCOMPARE(countWithoutEvents(rig.link, 7), int16_t(7));
        QCOMPARE(rig.link.ReadData(), QByteArray("abcdefg"));
        QCOMPARE(rig.trace.lines, kOpened);
    }

    void bytesDeliveredByTheEventLoopAreKept()
    {
        CableRig rig;
        QVERIFY(rig.pty.ok());
        rig.connectLink();
        QVERIFY(rig.pty.send("first "));
        // Let the event loop take the bytes out of the port before the link looks, then send more.
        QTest::qWait(50);
        QVERIFY(rig.pty.send("second"));
        QCOMPARE(countWithoutEvents(rig.link, 12), int16_t(12));
        QCOMPARE(rig.link.ReadData(), QByteArray("first second"));
    }

    void portNumberRule_data()
    {
        QTest::addColumn<QString>("comPort");
        QTest::addColumn<QString>("device");
        QTest::newRow("COM1") << "COM1"
                              << "/dev/ttyS0";
        QTest::newRow("COM3") << "COM3"
                              << "/dev/ttyS2";
        QTest::newRow("only the fourth character counts") << "COM34"
                                                          << "/dev/ttyS2";
        QTest::newRow("a path as it stands") << "/dev/ttyUSB0"
                                             << "/dev/ttyUSB0";
    }
    void portNumberRule()
    {
        QFETCH(QString, comPort);
        QFETCH(QString, device);
        qunsetenv("TARVO_COM1"); // the machine's own overrides would hide the default names
        qunsetenv("TARVO_COM3");
        QCOMPARE(SerialLink::serialDevice(comPort), device);
    }

    void com12OpensTheDeviceOfPort1()
    {
        PtyPair pty;
        QVERIFY(pty.ok());
        qputenv("TARVO_COM1", pty.terminalPath.toLocal8Bit());
        LinkRig rig;
        rig.settings.comPort = "COM12";
        rig.connectLink();
        qunsetenv("TARVO_COM1");
        QCOMPARE(rig.trace.lines, kOpened);
        rig.link.WriteData("hello");
        QCOMPARE(pty.receive(5), QByteArray("hello"));
    }

    void connectFailures_data()
    {
        QTest::addColumn<QString>("comPort");
        QTest::addColumn<QStringList>("lines");
        const QString prepare = "Preparing COM conncetion ";
        QTest::newRow("too short") << "CO" << QStringList{prepare, "Connect:: Error : Type mismatch"};
        QTest::newRow("fourth character not a digit")
            << "COMX" << QStringList{prepare, "Connect:: Error : Type mismatch"};
        QTest::newRow("blank fourth character") << "COM 1" << QStringList{prepare, "Connect:: Error : Type mismatch"};
        QTest::newRow("port 0") << "COM0" << QStringList{prepare, "Connect:: Error : Invalid port number"};
        QTest::newRow("no such device") << "/dev/tarvo-no-such-port"
                                        << QStringList{prepare, "Connecting COM ", "Connect:: Error : "};
    }
    void connectFailures()
    {
        QFETCH(QString, comPort);
        QFETCH(QStringList, lines);
        LinkRig rig;
        rig.settings.comPort = comPort;
        rig.connectLink();
        QCOMPARE(rig.trace.lines.size(), lines.size());
        for (int i = 0; i < lines.size() - 1; ++i)
            QCOMPARE(rig.trace.lines[i], lines[i]);
        // The system's own description follows the prefix.
        QVERIFY2(rig.trace.lines.last().startsWith(lines.last()), qPrintable(rig.trace.lines.last()));
        QVERIFY(rig.trace.lines.last().size() > QStringLiteral("Connect:: Error : ").size());

        // The port stayed closed.
        rig.trace.lines.clear();
        QCOMPARE(rig.link.ReadData(), QByteArray());
        QCOMPARE(rig.trace.lines, QStringList{"ReadData:: Error : Device is not open"});
    }

    void closedPortOperations()
    {
        LinkRig rig;
        rig.link.Disconnect(); // shutdown without a connect: closing nothing is no failure
        QCOMPARE(rig.link.ReadData(), QByteArray());
        rig.link.WriteData("x");
        QCOMPARE(rig.link.ReceivedBufferCount(), int16_t(0));
        rig.link.CleanReceivedBuffer();
        QCOMPARE(rig.trace.lines,
                 (QStringList{"ReadData:: Error : Device is not open", "WriteData:: Error : Device is not open",
                              "ReceivedBufferCount:: Error : Device is not open"}));
    }

    void secondConnectKeepsThePortOpen()
    {
        CableRig rig;
        QVERIFY(rig.pty.ok());
        rig.connectLink();
        QVERIFY(rig.pty.send("kept"));
        QCOMPARE(countWithoutEvents(rig.link, 4), int16_t(4));
        rig.settings.comPort = "/dev/tarvo-no-such-port";
        rig.connectLink();
        QCOMPARE(rig.trace.lines.size(), 5);
        QVERIFY(rig.trace.lines.last().startsWith("Connect:: Error : "));
        // Still the same port, with what it had received.
        QCOMPARE(rig.link.ReadData(), QByteArray("kept"));
        rig.link.WriteData("ok");
        QCOMPARE(rig.pty.receive(2), QByteArray("ok"));
    }

    void disconnectClosesAndForgets()
    {
        CableRig rig;
        QVERIFY(rig.pty.ok());
        rig.connectLink();
        QVERIFY(rig.pty.send("stale"));
        QCOMPARE(countWithoutEvents(rig.link, 5), int16_t(5));
        rig.link.Disconnect();
        rig.connectLink();
        // A new session does not start with the last one's bytes.
        QCOMPARE(rig.link.ReceivedBufferCount(), int16_t(0));
        QCOMPARE(rig.trace.lines, kOpened + kOpened);
    }

    void countClampsInsteadOfWrapping()
    {
        CableRig rig;
        QVERIFY(rig.pty.ok());
        rig.connectLink();
        // More bytes than a 16-bit count holds, sent in pieces the terminal's input queue can take.
        const QByteArray chunk(1024, 'z');
        int16_t count = 0;
        for (int sent = 0; sent < 40; ++sent) {
            QVERIFY(rig.pty.send(chunk));
            count = countWithoutEvents(rig.link, std::min(32767, (sent + 1) * 1024));
        }
        QCOMPARE(count, int16_t(32767));
        // Nothing lost beyond the count: the last pieces may still be on their way through the terminal.
        QByteArray all;
        QDeadlineTimer deadline(3000);
        while (all.size() < 40 * 1024 && !deadline.hasExpired()) {
            all += rig.link.ReadData();
            QThread::msleep(2);
        }
        QCOMPARE(all, QByteArray(40 * 1024, 'z'));
    }

    void comPortChoices()
    {
        SystemPortSource system;
        QStringList choices;
        for (const PortDetails& p : portChoices(system))
            choices << p.name;
        QCOMPARE(choices.mid(0, 5), (QStringList{"COM1", "COM2", "COM3", "COM4", "COM5"}));
        for (const QString& port : choices.mid(5))
            QVERIFY2(port.startsWith('/'), qPrintable(port));
    }
};

QTEST_MAIN(TestSerialLink)
#include "tst_serial_link.moc"
