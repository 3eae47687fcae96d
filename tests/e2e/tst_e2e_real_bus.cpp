// Real buses with the whole program: an adapter that hears its own frames, and a port this user may
// not open.

#include "RealStack.h"
#include "SimProcess.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

// The verdicts and notes of every attempt, per slot.
struct Attempts final : ExchangeObserver {
    void attemptFinished(const AttemptRecord& a) override
    {
        checkFailed.insert(a.slot, a.checkFailed);
        if (!a.detail.isEmpty())
            details << a.detail;
    }
    QHash<int, bool> checkFailed;
    QStringList details;
};

struct Outcome {
    QStringList replies;
    QHash<int, bool> checkFailed;
    QStringList details;
};

// One Send One Time over tarvo-sim's serial line to slots 0 to 5, address 2 answering with a bad check
// value.
Outcome sendOnce(bool echoingLine, bool dropEcho)
{
    QStringList args{"--protocol", "p4", "--serial", "--fault", "2:badcheck"};
    if (echoingLine)
        args << "--echo";
    SimProcess sim(args);
    RealStack s;
    s.model.setText(Field::ComPort, sim.ptyPath);
    s.model.ini.serial.dropEcho = dropEcho;
    for (int i = 0; i < 6; ++i)
        s.tick(i, QString::number(i));
    Attempts attempts;
    s.engine.addObserver(&attempts);
    s.polling.sendOnce();
    Outcome o;
    for (int i = 0; i < 6; ++i)
        o.replies << s.reply(i);
    o.checkFailed = attempts.checkFailed;
    o.details = attempts.details;
    return o;
}

} // namespace

class TestE2eRealBus : public QObject {
    Q_OBJECT
private slots:
    // With Drop echo on, a line that hears itself gives exactly the replies and checks of a line that
    // does not; with it off, the echo is part of what is read, as it always was.
    void echoIsDroppedBeforeTheReplyIsCounted()
    {
        const Outcome plain = sendOnce(false, false);
        QVERIFY2(plain.replies[1].startsWith("02 02 02 "), qPrintable(plain.replies.join('\n')));
        QVERIFY(plain.checkFailed.value(2));
        QVERIFY(!plain.checkFailed.value(1));

        const Outcome dropped = sendOnce(true, true);
        QCOMPARE(dropped.replies, plain.replies);
        QCOMPARE(dropped.checkFailed, plain.checkFailed);
        QCOMPARE(dropped.details, plain.details); // no note of an echo: only the bad check value's reason
        QCOMPARE(plain.details.size(), 1);

        const Outcome heard = sendOnce(true, false);
        for (int i = 0; i < 6; ++i) {
            // The Read Input request of address i, then its reply.
            const QString request = QStringLiteral("%1 02 ").arg(i + 1, 2, 16, QLatin1Char('0')).toUpper();
            QVERIFY2(heard.replies[i].startsWith(request), qPrintable(heard.replies[i]));
            QVERIFY2(heard.replies[i].endsWith(plain.replies[i]), qPrintable(heard.replies[i]));
            QVERIFY(heard.replies[i].size() > plain.replies[i].size());
        }
    }

    // A device of another group, opened by the program run as an unprivileged user: the Connect
    // failure says which group grants access and how to join it.
    void permissionDeniedNamesTheGroup()
    {
        if (::geteuid() != 0)
            QSKIP("needs the superuser to hand a device to another group and run as nobody");
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const QByteArray device = ::ptsname(master);
        const group* dialout = ::getgrnam("dialout");
        const gid_t gid = dialout ? dialout->gr_gid : 20;
        const QString groupName = dialout ? QStringLiteral("dialout") : QStringLiteral("20");
        QCOMPARE(::chown(device.constData(), 0, gid), 0);
        QCOMPARE(::chmod(device.constData(), 0660), 0);

        // Nobody may not reach the build folder: the program runs from a copy in a folder it can
        // enter, in a working folder of its own.
        QTemporaryDir bin;
        QTemporaryDir work;
        const QString program = bin.filePath("tarvo");
        QVERIFY(QFile::copy(TARVO_PATH, program));
        for (const QString& path : {bin.path(), program, work.path()})
            ::chmod(QFile::encodeName(path).constData(), 0777);
        QProcess tarvo;
        tarvo.setWorkingDirectory(work.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TARVO_COM1", QString::fromLocal8Bit(device));
        env.insert("XDG_RUNTIME_DIR", QDir::tempPath());
        tarvo.setProcessEnvironment(env);
        tarvo.start("setpriv", QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", program, "com=1",
                                           "controlleraddress=1", "page=01", "records=1", "recordsize=4",
                                           "timeoutdelay=50", "outputfile=out.mem", "silent=1"});
        QVERIFY(tarvo.waitForFinished(30000));
        ::close(master);
        const QString err = QString::fromLocal8Bit(tarvo.readAllStandardError());
        const QString expected = QStringLiteral("Connect:: Error : Permission denied: %1 belongs to group %2, and user "
                                                "nobody is not in it. Join it with \"sudo usermod -aG %2 nobody\", "
                                                "then log out and back in")
                                     .arg(QString::fromLocal8Bit(device), groupName);
        QVERIFY2(err.contains(expected), qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(TestE2eRealBus)
#include "tst_e2e_real_bus.moc"
