// tarvo-bench-startup: how long the tarvo program takes to put its window on the screen, and how long
// the documented unattended memory read takes against tarvo-sim.
//
// The window is watched from outside, as an operator would see it: this program listens to the X
// server for windows being mapped on the root window, starts tarvo, and stops the clock when a
// window that belongs to tarvo's process (its _NET_WM_PID) is mapped. It needs an X display; bench/run
// gives it one with xvfb-run. Each start runs in an empty folder, as a first start on a new machine.

#include "BenchSupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <vector>

using namespace tarvo::bench;

namespace {

QString msText(double v)
{
    return std::isnan(v) ? QStringLiteral("-") : QString::number(v, 'f', 0);
}

QString summary(const std::vector<double>& v)
{
    if (v.empty())
        return QStringLiteral("- | - | -");
    return QStringLiteral("%1 | %2 | %3")
        .arg(msText(median(v)), msText(*std::min_element(v.begin(), v.end())),
             msText(*std::max_element(v.begin(), v.end())));
}

long windowPid(Display* display, Window window, Atom pidAtom)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) ==
            Success &&
        data) {
        if (type == XA_CARDINAL && format == 32 && count == 1)
            pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
        XFree(data);
    }
    return pid;
}

// Quiet about windows that vanish between the event and our look at them.
int ignoreXErrors(Display*, XErrorEvent*)
{
    return 0;
}

struct Shown {
    double ms = NAN;
    QString title;
};

// Starts tarvo in `folder` and waits for its first mapped window.
Shown timeWindow(Display* display, const QString& tarvo, const QString& folder)
{
    const Window root = DefaultRootWindow(display);
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, True); // drop whatever an earlier run left

    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer clock;
    clock.start();
    process.start(tarvo, {});
    if (!process.waitForStarted(5000))
        return {};
    const long pid = static_cast<long>(process.processId());

    Shown shown;
    while (clock.elapsed() < 30000 && std::isnan(shown.ms)) {
        if (!XPending(display)) {
            pollfd fd{ConnectionNumber(display), POLLIN, 0};
            ::poll(&fd, 1, 100);
            if (!XPending(display))
                continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != MapNotify)
            continue;
        const double at = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        const Window w = event.xmap.window;
        char* name = nullptr;
        XFetchName(display, w, &name);
        const QString title = name ? QString::fromLocal8Bit(name) : QString();
        if (name)
            XFree(name);
        if (windowPid(display, w, pidAtom) == pid || title.startsWith(QLatin1String("Tarvo"))) {
            shown.ms = at;
            shown.title = title;
        }
    }
    XSelectInput(display, root, NoEventMask);
    // The console closes on SIGTERM as on its close button.
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(2000);
    }
    return shown;
}

// `tarvo --version`: the cost of starting the process and loading its libraries, without a window.
double timeVersion(const QString& tarvo)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    process.start(tarvo, {QStringLiteral("--version")});
    if (!process.waitForFinished(10000))
        return NAN;
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

struct Sim {
    QProcess process;
    quint16 port = 0;
    bool start(const QString& path, const QString& log)
    {
        process.start(path, {QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--log"), log});
        QElapsedTimer t;
        t.start();
        while (port == 0 && t.elapsed() < 10000) {
            if (!process.canReadLine() && !process.waitForReadyRead(200)) {
                if (process.state() == QProcess::NotRunning)
                    return false;
                continue;
            }
            const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
            if (line.startsWith(QLatin1String("tcp: ")))
                port = static_cast<quint16>(line.section(QLatin1Char(':'), -1).toUInt());
        }
        return port != 0;
    }
    ~Sim()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        process.waitForFinished(5000);
    }
};

struct ReadRun {
    double ms = NAN;
    int exitCode = -1;
    qint64 dumpBytes = -1;
};

// The documented batch read: 99 records of 12 bytes from page 01 at 1E2C, console address 0, silent.
ReadRun timeMemoryRead(const QString& tarvo, quint16 port, const QString& folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // It must not need a display.
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    const QStringList args{
        QStringLiteral("tcp=127.0.0.1"), QStringLiteral("port=%1").arg(port),   QStringLiteral("controlleraddress=0"),
        QStringLiteral("page=01"),       QStringLiteral("firstaddress=1e2c"),   QStringLiteral("records=99"),
        QStringLiteral("recordsize=12"), QStringLiteral("outputfile=dump.mem"), QStringLiteral("silent=1")};
    ReadRun run;
    QElapsedTimer clock;
    clock.start();
    process.start(tarvo, args);
    if (!process.waitForFinished(300000))
        return run;
    run.ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    const QFileInfo dump(folder + QStringLiteral("/dump.mem"));
    run.dumpBytes = dump.exists() ? dump.size() : -1;
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Times tarvo from start to its window mapped (needs an X display: run it under xvfb-run), and the documented "
        "batch memory read against tarvo-sim. Prints Markdown tables."));
    p.addHelpOption();
    const QCommandLineOption runs(QStringLiteral("runs"), QStringLiteral("Starts and reads to time (default 10)."),
                                  QStringLiteral("n"), QStringLiteral("10"));
    const QCommandLineOption tarvo(QStringLiteral("tarvo"), QStringLiteral("The program to time."),
                                   QStringLiteral("path"), QStringLiteral(TARVO_PATH));
    const QCommandLineOption sim(QStringLiteral("sim"), QStringLiteral("tarvo-sim to read from."),
                                 QStringLiteral("path"), QStringLiteral(TARVO_SIM_PATH));
    p.addOptions({runs, tarvo, sim});
    p.process(app);
    bool ok = false;
    const int n = p.value(runs).toInt(&ok);
    if (!ok || n < 1) {
        std::fprintf(stderr, "tarvo-bench-startup: bad --runs\n");
        return 2;
    }
    const QString tarvoPath = p.value(tarvo);

    std::vector<double> version;
    for (int i = 0; i < n; ++i)
        version.push_back(timeVersion(tarvoPath));

    say(QStringLiteral("| measurement | first (ms) | median (ms) | min (ms) | max (ms) | runs |"));
    say(QStringLiteral("|---|---|---|---|---|---|"));
    say(QStringLiteral("| `tarvo --version` (process start, no window) | %1 | %2 | %3 |")
            .arg(msText(version.front()), summary(version))
            .arg(n));

    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        say(QStringLiteral("| start to window mapped | no X display (run under xvfb-run) | | | | |"));
    } else {
        XSetErrorHandler(ignoreXErrors);
        std::vector<double> shown;
        QString title;
        int missed = 0;
        for (int i = 0; i < n; ++i) {
            QTemporaryDir folder;
            const Shown s = timeWindow(display, tarvoPath, folder.path());
            if (std::isnan(s.ms)) {
                ++missed;
                continue;
            }
            shown.push_back(s.ms);
            title = s.title;
        }
        say(QStringLiteral("| start to window mapped (\"%1\"), empty folder | %2 | %3 | %4 |")
                .arg(title, shown.empty() ? QStringLiteral("-") : msText(shown.front()), summary(shown))
                .arg(missed ? QStringLiteral("%1 (%2 never shown)").arg(n).arg(missed) : QString::number(n)));
        XCloseDisplay(display);
    }

    QTemporaryDir simFolder;
    Sim s;
    if (!s.start(p.value(sim), simFolder.filePath(QStringLiteral("tarvo-sim.log")))) {
        say(QStringLiteral("| batch memory read | tarvo-sim did not start | | | | |"));
        return 1;
    }
    std::vector<double> reads;
    QString problems;
    for (int i = 0; i < n; ++i) {
        QTemporaryDir folder;
        const ReadRun r = timeMemoryRead(tarvoPath, s.port, folder.path());
        if (r.exitCode != 0 || r.dumpBytes <= 0) {
            problems += QStringLiteral(" run %1: exit %2, dump %3 bytes;").arg(i + 1).arg(r.exitCode).arg(r.dumpBytes);
            continue;
        }
        reads.push_back(r.ms);
    }
    say(QStringLiteral("| batch memory read, 99 records of 12 bytes over TCP, defaults%1 | %2 | %3 | %4 |")
            .arg(problems, reads.empty() ? QStringLiteral("-") : msText(reads.front()), summary(reads))
            .arg(n));
    return 0;
}
