// monitor: listens to a bus without sending; every frame heard, timed by its first byte and checked
// as a request or a reply.

#include "Run.h"

#include "BusMonitor.h"
#include "CliFrames.h"
#include "ConsoleMonitor.h"

namespace tarvo::cli {

namespace {

int listenToTheBus(BusRun& run)
{
    const Options& o = run.options;
    const FixedSettings& settings = run.plan.settings;
    Link& link = run.core().link;
    writeOut(monitorHeader(o.format));
    const LinkSettings linkSettings = settings.linkSettings();
    link.SetBaudRate(settings.speed());
    link.Connect(linkSettings);
    if (run.link().down())
        return run.finish(Tally{});

    const BusMonitor::Options options = ConsoleMonitor::options(settings, o.gapMs.value_or(0));
    BusMonitor monitor(link, run.clock, run.pump);
    if (settings.serialLink()) {
        const QString warning =
            latencyWarning(linkSettings.comPort, monitor.gapFor(options), SystemPaths{},
                           QStringLiteral("--low-latency lowers the timer, or a longer --gap takes it in."));
        if (!warning.isEmpty())
            say(warning);
    }

    Tally tally;
    const double started = run.clock.now();
    run.progress.show(QStringLiteral("listening..."));
    // After every pass: enough frames, time up, or the link gone (a port that went away is tried
    // again for a while before the run gives up on it).
    const auto tend = [&] {
        if (run.stopNow())
            return;
        if ((o.count && tally.total >= *o.count) ||
            (o.durationSeconds && run.clock.now() - started >= *o.durationSeconds)) {
            run.requestStop();
            return;
        }
        if (!link.isConnected())
            run.link().reopen(linkSettings, run.clock, run.pump, run.stopToken());
        if (run.link().down())
            run.requestStop();
    };
    const auto heard = [&](const JournalRecord& frame) {
        // Frames still arriving past --count are not shown: the count is what was asked for.
        if (o.count && tally.total >= *o.count)
            return;
        run.progress.clear();
        writeOut(monitorOutput(frame, o.format));
        run.core().journal.add(frame);
        run.flushJournal();
        tally.add(frame.verdict);
        run.progress.show(QStringLiteral("listening: %1 frame%2").arg(tally.total).arg(tally.total == 1 ? "" : "s"));
    };
    monitor.run(options, run.stopToken(), heard, tend);
    link.Disconnect();
    if (const std::optional<int> early = run.close(heardLine(tally, QStringLiteral("frame"))))
        return *early;
    return tally.badCheck > 0 ? status::kBadCheck : status::kOk;
}

} // namespace

int monitor(const Options& options)
{
    BusRun run(options);
    return run.exec({}, [&run] { return listenToTheBus(run); });
}

} // namespace tarvo::cli
