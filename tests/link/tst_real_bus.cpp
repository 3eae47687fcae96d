// What real buses need of the serial link beyond bytes: RS-485 transmitter switching, a half-duplex
// adapter's echo, the USB latency timer, ports that cannot be opened, and ports that drop and come
// back under another name.

#include "EchoFilter.h"
#include "LinkRig.h"
#include "PortAccess.h"
#include "PortControl.h"
#include "PtyPair.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

const QStringList kOpened{"Preparing COM conncetion ", "Connecting COM "};

// Records every call with the time it was made. With an inner control (a real port's) the system
// answers; without one the results are set by the test. Pauses and drains move the test's clock
// instead of sleeping.
class RecordingControl final : public PortControl {
public:
    explicit RecordingControl(double& clock, std::unique_ptr<PortControl> inner = {})
        : m_clock(clock), m_inner(std::move(inner))
    {
    }
    int enableKernelRs485(const Rs485Options& o) override
    {
        note(QStringLiteral("kernel rs485 %1 %2/%3")
                 .arg(o.rtsOnSend ? "high" : "low")
                 .arg(o.delayBeforeMs)
                 .arg(o.delayAfterMs));
        return m_inner ? m_inner->enableKernelRs485(o) : kernelResult;
    }
    int restoreRs485() override
    {
        note(QStringLiteral("restore rs485"));
        return m_inner ? m_inner->restoreRs485() : 0;
    }
    int setRts(bool high) override
    {
        note(high ? QStringLiteral("rts high") : QStringLiteral("rts low"));
        return m_inner ? m_inner->setRts(high) : rtsResult;
    }
    int drain() override
    {
        note(QStringLiteral("drain"));
        m_clock += drainSeconds; // the frame leaves the line meanwhile
        return m_inner ? m_inner->drain() : 0;
    }
    void pause(int ms) override
    {
        note(QStringLiteral("pause %1").arg(ms));
        m_clock += ms / 1000.0;
    }
    int setAsyncLowLatency() override
    {
        note(QStringLiteral("low latency flag"));
        return m_inner ? m_inner->setAsyncLowLatency() : lowLatencyResult;
    }
    void note(const QString& call) { calls->append(QStringLiteral("%1 @%2").arg(call).arg(m_clock * 1000, 0, 'f', 0)); }

    std::shared_ptr<QStringList> calls = std::make_shared<QStringList>();
    int kernelResult = ENOTTY;
    int rtsResult = 0;
    int lowLatencyResult = ENOTTY;
    double drainSeconds = 0;

private:
    double& m_clock;
    std::unique_ptr<PortControl> m_inner;
};

// Calls made and the clock they share, for a link whose port control is recorded.
struct Recorded {
    double clock = 0;
    std::shared_ptr<QStringList> calls = std::make_shared<QStringList>();
    int kernelResult = ENOTTY;
    int lowLatencyResult = ENOTTY;
    bool real = true; // wrap the port's real control, so the system answers

    SerialLink::PortControlFactory factory()
    {
        return [this](int fd) {
            auto c = std::make_unique<RecordingControl>(clock, real ? terminalPortControl(fd) : nullptr);
            c->calls = calls;
            c->kernelResult = kernelResult;
            c->lowLatencyResult = lowLatencyResult;
            return c;
        };
    }
    QStringList take()
    {
        QStringList out = *calls;
        calls->clear();
        return out;
    }
};

QStringList errorLines(const QStringList& lines)
{
    QStringList errors;
    for (const QString& l : lines) {
        if (l.contains(":: Error : "))
            errors << l;
    }
    return errors;
}

// Runs `steps` as the unprivileged user nobody when the test runs as the superuser (who may open and
// write anything), else as the user it runs as.
template <typename F> auto asNobody(F steps)
{
    const bool root = ::geteuid() == 0;
    if (root && ::seteuid(65534) != 0)
        qFatal("cannot become nobody");
    auto result = steps();
    if (root && ::seteuid(0) != 0)
        qFatal("cannot become root again");
    return result;
}

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestRealBus : public QObject {
    Q_OBJECT
private slots:
    // Without the driver's help the transmitter is switched around each frame: RTS to its sending
    // level, the delay before, the bytes, a drain to the last stop bit, the delay after, RTS back.
    void rtsIsSwitchedAroundEachFrame_data()
    {
        QTest::addColumn<bool>("rtsOnSend");
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::addColumn<bool>("written");
        QTest::addColumn<QStringList>("calls");
        // The frame takes 9 ms on the line: the drain returns when it has left.
        QTest::newRow("RTS high while sending, no delays")
            << true << 0 << 0 << true
            << QStringList{"rts high @0", "pause 0 @0", "write @0", "drain @0", "pause 0 @9", "rts low @9"};
        QTest::newRow("delays before and after")
            << true << 3 << 7 << true
            << QStringList{"rts high @0", "pause 3 @0", "write @3", "drain @3", "pause 7 @12", "rts low @19"};
        QTest::newRow("RTS low while sending")
            << false << 2 << 1 << true
            << QStringList{"rts low @0", "pause 2 @0", "write @2", "drain @2", "pause 1 @11", "rts high @12"};
        QTest::newRow("a failed write still lowers RTS")
            << true << 2 << 5 << false << QStringList{"rts high @0", "pause 2 @0", "write @2", "rts low @2"};
    }
    void rtsIsSwitchedAroundEachFrame()
    {
        QFETCH(bool, rtsOnSend);
        QFETCH(int, before);
        QFETCH(int, after);
        QFETCH(bool, written);
        QFETCH(QStringList, calls);
        double clock = 0;
        RecordingControl control(clock);
        control.drainSeconds = 0.009;
        Rs485Options options{true, rtsOnSend, before, after};
        const int failure = sendSwitchingRts(control, options, [&] {
            control.note(QStringLiteral("write"));
            return written;
        });
        QCOMPARE(*control.calls, calls);
        QCOMPARE(failure, 0);

        // A port without an RTS line: the frame still goes out, and the caller learns why.
        control.calls->clear();
        control.rtsResult = ENOTTY;
        QCOMPARE(sendSwitchingRts(control, options, [] { return true; }), ENOTTY);
        QCOMPARE(control.calls->size(), 5);
    }

    // A pseudo-terminal has no RS-485 mode and no RTS line: the operator is told once, plainly, the
    // journal notes the same, and the frames go out as they are.
    void rs485OnAPtyWithoutRts()
    {
        CableRig rig;
        QVERIFY(rig.pty.ok());
        Recorded recorded;
        rig.link.serial().setPortControlFactory(recorded.factory());
        rig.settings.rs485 = {true, true, 0, 2};
        rig.connectLink();
        const QString device = QFileInfo(rig.pty.terminalPath).canonicalFilePath();
        const QString said = "RS-485: the driver of " + device +
                             " has no RS-485 mode (Inappropriate ioctl for device), and its RTS cannot be switched "
                             "(Inappropriate ioctl for device): frames go out without switching the transmitter";
        QCOMPARE(rig.trace.lines, kOpened + QStringList{"Connect:: Error : " + said});
        QCOMPARE(rig.link.takeNotes(), QStringList{said});

        rig.link.WriteData("abc");
        QCOMPARE(rig.pty.receive(3), QByteArray("abc"));
        QCOMPARE(recorded.take(), (QStringList{"kernel rs485 high 0/2 @0", "rts low @0"}));

        rig.link.Disconnect();
        rig.connectLink();
        rig.link.WriteData("f");
        QCOMPARE(rig.pty.receive(1), QByteArray("f"));
        QCOMPARE(errorLines(rig.trace.lines).size(), 1); // said once
    }

    // An adapter without an RS-485 mode but with an RTS line: RTS is switched around every write, and
    // both the trace and the journal say so.
    void rs485SwitchedByTarvo()
    {
        CableRig rig;
        QVERIFY(rig.pty.ok());
        Recorded recorded;
        recorded.real = false; // RTS answers
        rig.link.serial().setPortControlFactory(recorded.factory());
        rig.settings.rs485 = {true, true, 0, 2};
        rig.connectLink();
        const QString device = QFileInfo(rig.pty.terminalPath).canonicalFilePath();
        QCOMPARE(errorLines(rig.trace.lines),
                 QStringList{"Connect:: Error : RS-485: the driver of " + device +
                             " has no RS-485 mode (Inappropriate ioctl for device); Tarvo switches RTS around each "
                             "frame itself"});
        QCOMPARE(rig.link.takeNotes(), QStringList{"RS-485: RTS switched by Tarvo around each frame (no kernel mode: "
                                                   "Inappropriate ioctl for device)"});
        rig.link.WriteData("abc");
        QCOMPARE(rig.pty.receive(3), QByteArray("abc"));
        rig.link.WriteData("de");
        QCOMPARE(rig.pty.receive(2), QByteArray("de"));
        QCOMPARE(recorded.take(), (QStringList{"kernel rs485 high 0/2 @0", "rts low @0", "rts high @0", "pause 0 @0",
                                               "drain @0", "pause 2 @0", "rts low @2", "rts high @2", "pause 0 @2",
                                               "drain @2", "pause 2 @2", "rts low @4"}));
    }

    // Where the driver switches the transmitter, nothing is done around the writes, and the port
    // gets its earlier setting back when it closes.
    void rs485InKernelMode()
    {
        CableRig rig;
        QVERIFY(rig.pty.ok());
        Recorded recorded;
        recorded.real = false;
        recorded.kernelResult = 0;
        rig.link.serial().setPortControlFactory(recorded.factory());
        rig.settings.rs485 = {true, false, 1, 4};
        rig.settings.line.rtsCts = true; // RTS belongs to the transmitter
        rig.connectLink();
        QCOMPARE(rig.trace.lines, kOpened);
        QCOMPARE(rig.link.takeNotes(), QStringList{"RS-485: the driver switches the transmitter (kernel mode)"});
        QCOMPARE(rig.pty.lineSettings().c_cflag & CRTSCTS, tcflag_t(0));
        rig.link.WriteData("xyz");
        QCOMPARE(rig.pty.receive(3), QByteArray("xyz"));
        rig.link.Disconnect();
        QCOMPARE(recorded.take(), (QStringList{"kernel rs485 low 1/4 @0", "restore rs485 @0"}));
    }

    void echoFilter_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QList<QByteArray>>("arrivals");
        QTest::addColumn<QList<QByteArray>>("kept");
        QTest::addColumn<QString>("note");
        using L = QList<QByteArray>;
        const QByteArray request = QByteArray::fromHex("0103000000044409");
        const QByteArray reply = QByteArray::fromHex("010308000100020003000420D6");
        QTest::newRow("echo and reply in one piece") << request << L{request + reply} << L{reply} << QString();
        QTest::newRow("echo in pieces, then the reply")
            << request << L{request.left(3), request.mid(3), reply.left(4), reply.mid(4)}
            << L{{}, {}, reply.left(4), reply.mid(4)} << QString();
        QTest::newRow("no echo: a reply that starts like the request is kept whole")
            << request << L{reply.left(2), reply.mid(2)} << L{{}, reply}
            << "echo did not match: sent 01 03 00 00 00 04 44 09, heard 01 03 08 00 01 00 02 00 first";
        QTest::newRow("a garbled echo stays in place")
            << QByteArray("\x11\x22\x33", 3) << L{QByteArray("\x11\x22\x99\x01", 4)}
            << L{QByteArray("\x11\x22\x99\x01", 4)} << "echo did not match: sent 11 22 33, heard 11 22 99 first";
        QTest::newRow("an echo cut short") << QByteArray("\x11\x22\x33", 3) << L{QByteArray("\x11\x22", 2)} << L{{}}
                                           << "echo cut short: heard 2 of the 3 bytes sent (11 22)";
        QTest::newRow("nothing expected") << QByteArray() << L{reply} << L{reply} << QString();
    }
    void echoFilter()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QList<QByteArray>, arrivals);
        QFETCH(QList<QByteArray>, kept);
        QFETCH(QString, note);
        EchoFilter echo;
        echo.expect(sent);
        QList<QByteArray> got;
        for (const QByteArray& a : arrivals)
            got << echo.take(a);
        QCOMPARE(got, kept);
        echo.reset();
        QCOMPARE(echo.takeNotes(), note.isEmpty() ? QStringList() : QStringList{note});
        QCOMPARE(echo.pending(), 0);
    }

    // On the port: the echo is gone before anything counts it, its bytes still count towards what
    // the system waits for, and a late byte from before the write is not mistaken for it.
    void echoIsDroppedOnThePort()
    {
        CableRig rig;
        QVERIFY(rig.pty.ok());
        rig.settings.dropEcho = true;
        rig.connectLink();
        QVERIFY(rig.pty.send("L"));
        QCOMPARE(countWithoutEvents(rig.link, 1), int16_t(1));

        const QByteArray request("\x05\x03\x10", 3);
        rig.link.WriteData(request);
        QCOMPARE(rig.pty.receive(3), request);
        rig.link.setWakeThreshold(6); // the late byte, then four more: the echo comes on top
        QCOMPARE(rig.pty.lineSettings().c_cc[VMIN], cc_t(3 + 6 - 1));
        QVERIFY(rig.pty.send(request));
        QTest::qWait(20);
        QCOMPARE(rig.link.ReceivedBufferCount(), int16_t(1));
        QCOMPARE(rig.pty.lineSettings().c_cc[VMIN], cc_t(5));
        QVERIFY(rig.pty.send("ABCDE"));
        QCOMPARE(countWithoutEvents(rig.link, 6), int16_t(6));
        QCOMPARE(rig.link.ReadData(), QByteArray("LABCDE"));
        QCOMPARE(rig.link.takeNotes(), QStringList());

        // An adapter that does not echo: the reply is kept whole and the journal says why.
        rig.link.WriteData(request);
        QCOMPARE(rig.pty.receive(3), request);
        QVERIFY(rig.pty.send("\x05\x83\x02"));
        QCOMPARE(countWithoutEvents(rig.link, 3), int16_t(3));
        QCOMPARE(rig.link.ReadData(), QByteArray("\x05\x83\x02"));
        QCOMPARE(rig.link.takeNotes(), QStringList{"echo did not match: sent 05 03 10, heard 05 83 02 first"});
        QCOMPARE(rig.trace.lines, kOpened);
    }

    void lowLatency_data()
    {
        QTest::addColumn<QByteArray>("timer"); // empty: the port has no latency timer
        QTest::addColumn<bool>("writable");
        QTest::addColumn<int>("flag");
        QTest::addColumn<QString>("done");
        QTest::addColumn<QString>("refused");
        QTest::addColumn<QByteArray>("timerAfter");
        QTest::newRow("FTDI at its 16 ms")
            << QByteArray("16\n") << true << ENOTTY << "low latency: latency timer 16 ms -> 1 ms" << QString()
            << QByteArray("1\n");
        QTest::newRow("already lowest") << QByteArray("1\n") << true << ENOTTY << "low latency: latency timer 1 ms"
                                        << QString() << QByteArray("1\n");
        QTest::newRow("not allowed")
            << QByteArray("16\n") << false << ENOTTY << QString()
            << "Low latency: the latency timer of ttyUSB3 stays at 16 ms (SYSFS/bus/usb-serial/devices/ttyUSB3/"
               "latency_timer: Permission denied). To let Tarvo lower it, the administrator can add a udev rule that "
               "sets it whenever the adapter is plugged in, e.g. the file "
               "/etc/udev/rules.d/99-usb-serial-latency.rules with the line: ACTION==\"add\", "
               "SUBSYSTEM==\"usb-serial\", ATTR{latency_timer}=\"1\""
            << QByteArray("16\n");
        QTest::newRow("driver flag set") << QByteArray() << true << 0 << "low latency: low-latency flag set"
                                         << QString() << QByteArray();
        QTest::newRow("driver flag refused")
            << QByteArray() << true << EPERM << QString()
            << "Low latency: the driver of ttyUSB3 refused the low-latency flag (Operation not permitted)"
            << QByteArray();
        QTest::newRow("nothing to set") << QByteArray() << true << ENOTTY
                                        << "low latency: ttyUSB3 has no latency setting" << QString() << QByteArray();
    }
    void lowLatency()
    {
        QFETCH(QByteArray, timer);
        QFETCH(bool, writable);
        QFETCH(int, flag);
        QFETCH(QString, done);
        QFETCH(QString, refused);
        QFETCH(QByteArray, timerAfter);
        QTemporaryDir sysfs;
        ::chmod(QFile::encodeName(sysfs.path()).constData(), 0755);
        const QString file = sysfs.filePath("bus/usb-serial/devices/ttyUSB3/latency_timer");
        if (!timer.isEmpty()) {
            writeFile(file, timer);
            ::chmod(QFile::encodeName(file).constData(), writable ? 0666 : 0444);
        }
        double clock = 0;
        RecordingControl control(clock);
        control.lowLatencyResult = flag;
        SystemPaths paths;
        paths.sysfs = sysfs.path();
        const LowLatencyResult r =
            asNobody([&] { return setLowLatency(QStringLiteral("/dev/ttyUSB3"), control, paths); });
        QCOMPARE(r.done, done);
        QCOMPARE(r.refused, QString(refused).replace("SYSFS", sysfs.path()));
        QCOMPARE(readFile(file), timerAfter);
    }

    // On the port: what was set goes to the journal; what was refused is said once.
    void lowLatencyOnThePort()
    {
        CableRig rig;
        QVERIFY(rig.pty.ok());
        QTemporaryDir sysfs;
        const QString name = QFileInfo(rig.pty.terminalPath).fileName();
        writeFile(sysfs.filePath("bus/usb-serial/devices/" + name + "/latency_timer"), "16\n");
        SystemPaths paths;
        paths.sysfs = sysfs.path();
        rig.link.serial().setSystemPaths(paths);
        Recorded recorded;
        recorded.real = false;
        recorded.lowLatencyResult = EPERM;
        rig.link.serial().setPortControlFactory(recorded.factory());
        rig.settings.lowLatency = true;
        rig.connectLink();
        rig.link.Disconnect();
        rig.connectLink();
        const QString refused =
            "Low latency: the driver of " + name + " refused the low-latency flag (Operation not permitted)";
        QCOMPARE(errorLines(rig.trace.lines), QStringList{"Connect:: Error : " + refused});
        QCOMPARE(rig.link.takeNotes(), (QStringList{"low latency: latency timer 16 ms -> 1 ms", refused,
                                                    "low latency: latency timer 1 ms", refused}));
    }

    // A device another program holds: which program, from the system's own records.
    void busyPortNamesItsHolder()
    {
        CableRig first;
        QVERIFY(first.pty.ok());
        first.connectLink();
        LinkRig second;
        second.settings.comPort = first.pty.terminalPath;
        second.connectLink();
        const QString device = QFileInfo(first.pty.terminalPath).canonicalFilePath();
        QCOMPARE(second.trace.lines.mid(0, 2), kOpened);
        QCOMPARE(second.trace.lines.value(2), QStringLiteral("Connect:: Error : %1 is in use by tst_real_bus (process "
                                                             "%2); close it there first")
                                                  .arg(device)
                                                  .arg(::getpid()));
        QCOMPARE(second.link.serial().lastFailure().kind, OpenFailure::Kind::Busy);
        QCOMPARE(first.link.serial().lastFailure().kind, OpenFailure::Kind::None);
    }

    void holdersFromLockFilesAndOpenDescriptors()
    {
        QTemporaryDir root;
        const QString proc = root.filePath("proc");
        writeFile(proc + "/4321/comm", "minicom\n");
        QDir().mkpath(proc + "/4321/fd");
        QVERIFY(QFile::link("/dev/ttyUSB7", proc + "/4321/fd/5"));
        QVERIFY(QFile::link("/dev/null", proc + "/4321/fd/0"));
        writeFile(proc + "/777/comm", "cu\n");
        writeFile(proc + "/55/comm", "other\n");
        QDir().mkpath(proc + "/55/fd");
        QVERIFY(QFile::link("/dev/ttyUSB1", proc + "/55/fd/3"));
        writeFile(root.filePath("lock/LCK..ttyUSB7"), "       777\n");
        writeFile(root.filePath("lock/LCK..ttyUSB8"), "       999\n"); // stale: no such process
        SystemPaths paths;
        paths.proc = proc;
        paths.lockFolders = {root.filePath("lock"), root.filePath("no-such-folder")};
        QCOMPARE(portHolders("/dev/ttyUSB7", paths), (QStringList{"cu (process 777)", "minicom (process 4321)"}));
        QCOMPARE(portHolders("/dev/ttyUSB8", paths), QStringList());
        QCOMPARE(explainOpenFailure("/dev/ttyUSB7", "No such file or directory", false, paths).kind,
                 OpenFailure::Kind::Other);
    }

    // A device this user may not open: which group grants access and how to join it. The full
    // program meets this as nobody in the e2e tests; here the wording for each kind of device.
    void permissionDeniedNamesTheGroup_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("text");
        QTest::newRow("group may read and write")
            << 0660
            << "Permission denied: DEVICE belongs to group GROUP, and user nobody is not in it. Join it with "
               "\"sudo usermod -aG GROUP nobody\", then log out and back in";
        QTest::newRow("owner only")
            << 0600
            << "Permission denied: DEVICE (owner root, group GROUP, rw-------) may be opened by "
               "its owner only; the administrator can give group GROUP read and write access "
               "with a udev rule (MODE=\"0660\")";
    }
    void permissionDeniedNamesTheGroup()
    {
        QFETCH(int, mode);
        QFETCH(QString, text);
        if (::geteuid() != 0)
            QSKIP("needs the superuser to hand the device to another group");
        PtyPair pty;
        QVERIFY(pty.ok());
        const group* dialout = ::getgrnam("dialout");
        const gid_t gid = dialout ? dialout->gr_gid : 20;
        const QString groupName = dialout ? QStringLiteral("dialout") : QStringLiteral("20");
        const QByteArray path = QFile::encodeName(pty.terminalPath);
        QCOMPARE(::chown(path.constData(), 0, gid), 0);
        QCOMPARE(::chmod(path.constData(), static_cast<mode_t>(mode)), 0);
        const OpenFailure f = asNobody([&] { return explainOpenFailure(pty.terminalPath, "Permission denied", true); });
        QCOMPARE(f.kind, OpenFailure::Kind::Permission);
        QCOMPARE(f.text, QString(text).replace("DEVICE", pty.terminalPath).replace("GROUP", groupName));
    }

    // An adapter pulled and put back comes back under another device; its by-id name finds it. The
    // trace says when it was lost, each try and when it was back, and the journal gets the same.
    void droppedPortComesBackThroughItsByIdName()
    {
        QTemporaryDir byId;
        const QString name = byId.filePath("usb-Tarvo_Bus_Adapter_T1234-if00-port0");
        PtyPair before;
        PtyPair after;
        QVERIFY(before.ok() && after.ok());
        QVERIFY(QFile::link(before.terminalPath, name));
        LinkRig rig;
        rig.settings.comPort = name;
        rig.connectLink();
        rig.link.WriteData("1");
        QCOMPARE(before.receive(1), QByteArray("1"));
        QCOMPARE(rig.link.takeNotes(), QStringList());

        before.unplug();
        QTRY_VERIFY_WITH_TIMEOUT(rig.trace.lines.size() > 2, 3000);
        QVERIFY2(rig.trace.lines[2].startsWith("Link:: Error : "), qPrintable(rig.trace.lines.join('\n')));
        QVERIFY2(QRegularExpression("^Link lost at \\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d: " +
                                    QRegularExpression::escape(before.terminalPath) + " \\(.+\\)$")
                     .match(rig.trace.lines.value(3))
                     .hasMatch(),
                 qPrintable(rig.trace.lines.join('\n')));
        const QString lostAt = rig.trace.lines[3].mid(13, 12);

        // Nothing there yet: the try fails, polling goes on.
        QVERIFY(QFile::remove(name));
        rig.clock.seconds += 1.0;
        rig.trace.lines.clear();
        rig.link.WriteData("2");
        QCOMPARE(rig.trace.lines.value(0), QStringLiteral("Link lost: connecting again"));
        QVERIFY(rig.trace.lines.value(3).startsWith("Connect:: Error : "));

        QVERIFY(QFile::link(after.terminalPath, name));
        rig.clock.seconds += 1.5;
        rig.trace.lines.clear();
        rig.link.WriteData("3");
        QCOMPARE(after.receive(1), QByteArray("3"));
        QCOMPARE(rig.trace.lines, (QStringList{"Link lost: connecting again (try 2)"} + kOpened +
                                   QStringList{"Link lost at " + lostAt + ", back after 2.5 s (2 tries): " +
                                               QFileInfo(after.terminalPath).canonicalFilePath()}));
        const QStringList notes = rig.link.takeNotes();
        QCOMPARE(notes.size(), 5);
        QVERIFY(notes[0].startsWith("link lost at " + lostAt + ": " + before.terminalPath));
        QCOMPARE(notes[1], QStringLiteral("connecting again (try 1)"));
        QVERIFY(notes[2].startsWith("try 1 failed: "));
        QCOMPARE(notes[3], QStringLiteral("connecting again (try 2)"));
        QCOMPARE(notes[4], "link back after 2.5 s (2 tries): " + QFileInfo(after.terminalPath).canonicalFilePath());
        rig.link.WriteData("4");
        QCOMPARE(after.receive(1), QByteArray("4"));
    }
};

QTEST_MAIN(TestRealBus)
#include "tst_real_bus.moc"
