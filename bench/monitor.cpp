// tarvo-bench-monitor: the bus monitor listening to a busy line. tarvo-bench-busgen writes Modbus
// frames back to back with a short silence between them, at real byte times, into a
// pseudo-terminal; the monitor (the console's own BusMonitor over its serial link, in this process)
// listens on the other end. Every frame must be found and checked, no byte lost; the figures are the
// frames found per second, the split errors and the monitor's processor time.
//
// Usage: tarvo-bench-monitor [--seconds S] [--baud B] [--gap CHARS]

#include "BenchSupport.h"
#include "BenchTrace.h"
#include "BusMonitor.h"
#include "Clock.h"
#include "EventPump.h"
#include "LinkGuard.h"
#include "SerialLink.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QProcess>
#include <cstdio>

using namespace tarvo;
using tarvo::bench::cpuSeconds;
using tarvo::bench::FailureTrace;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("The bus monitor listening to back-to-back Modbus frames."));
    p.addHelpOption();
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("Length of the run (default 60)."),
                                     QStringLiteral("s"), QStringLiteral("60"));
    const QCommandLineOption baud(QStringLiteral("baud"), QStringLiteral("Line speed (default 115200)."),
                                  QStringLiteral("bps"), QStringLiteral("115200"));
    const QCommandLineOption gap(QStringLiteral("gap"),
                                 QStringLiteral("Silence between frames in characters "
                                                "(default 5)."),
                                 QStringLiteral("chars"), QStringLiteral("5"));
    p.addOptions({seconds, baud, gap});
    p.process(app);

    QProcess generator;
    generator.start(QStringLiteral(TARVO_BUSGEN_PATH), {p.value(baud), p.value(seconds), p.value(gap)});
    if (!generator.waitForStarted(5000) || !generator.waitForReadyRead(5000)) {
        std::fprintf(stderr, "tarvo-bench-monitor: the generator did not start\n");
        return 1;
    }
    const QString pty = QString::fromLatin1(generator.readLine()).trimmed().mid(8);

    SteadyClock clock;
    QtEventPump pump;
    FailureTrace trace;
    SerialLink link(trace, clock);
    link.SetBaudRate(p.value(baud));
    LinkSettings settings;
    settings.comPort = pty;
    link.Connect(settings);

    BusMonitor monitor(link, clock, pump);
    long found = 0, ok = 0, bytes = 0;
    const double cpu0 = cpuSeconds();
    const double t0 = clock.now();
    bool generatorDone = false;
    double doneAt = 0;
    QObject::connect(&generator, &QProcess::finished, [&] {
        generatorDone = true;
        doneAt = clock.now();
    });
    std::stop_source stop;
    monitor.run(
        BusMonitor::Options{}, stop.get_token(),
        [&](const JournalRecord& r) {
            ++found;
            ok += r.verdict == JournalRecord::Verdict::Ok ? 1 : 0;
            if (r.verdict != JournalRecord::Verdict::Ok)
                std::fprintf(stderr, "not ok: %s (%s)\n", qPrintable(r.received), qPrintable(r.detail));
            bytes += (r.received.size() + 1) / 3;
        },
        [&] {
            if (generatorDone && clock.now() > doneAt + 0.2)
                stop.request_stop();
        });
    const double wall = clock.now() - t0;
    const double cpu = cpuSeconds() - cpu0;
    link.Disconnect();
    const QString report = QString::fromLatin1(generator.readAllStandardOutput()).trimmed();
    const long sent = report.section(QLatin1Char(' '), 1, 1).toLong();
    const long sentBytes = report.section(QLatin1Char(' '), 3, 3).toLong();

    std::printf("| line | gap (chars) | seconds | frames sent | frames found | checked ok | split errors | bytes "
                "lost | frames/s | monitor CPU |\n|---|---|---|---|---|---|---|---|---|---|\n");
    std::printf("| %s 8N2 | %s | %.1f | %ld | %ld | %ld | %ld | %ld | %.0f | %.2f%% |\n", qPrintable(p.value(baud)),
                qPrintable(p.value(gap)), wall, sent, found, ok, found - ok + std::abs(sent - found), sentBytes - bytes,
                static_cast<double>(found) / wall, 100.0 * cpu / wall);
    return 0;
}
