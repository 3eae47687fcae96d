// send and poll: one round of exchanges with the selected addresses, or rounds of them; and the
// listen function, which hears messages instead of asking.

#include "Run.h"

#include "Requests.h"

#include <QTimer>
#include <algorithm>

namespace tarvo::cli {

namespace {

// --function listen: every message heard is a record; send hears one, poll --count of them or for
// --duration.
int listen(BusRun& run, RecordWriter& writer)
{
    const Options& o = run.options;
    Tally tally;
    const int wanted = o.command == Subcommand::Send ? 1 : o.count.value_or(0);
    run.collector().onMessage = [&](const AddressResult& r) {
        writer.write(r);
        tally.add(r.verdict);
        run.flushJournal();
        if (wanted > 0 && tally.total >= wanted)
            run.requestStop();
    };
    QTimer end;
    end.setSingleShot(true);
    QObject::connect(&end, &QTimer::timeout, [&run] { run.requestStop(); });
    if (o.durationSeconds)
        end.start(static_cast<int>(std::min(*o.durationSeconds * 1000, 2e9)));
    run.progress.show(QStringLiteral("listening..."));
    const QList<int> used = run.plan.settings.selectedSlots();
    QString function = fn::Waiting;
    int16_t slot = static_cast<int16_t>(used.value(0, 0));
    if (!run.stopNow()) {
        try {
            run.core().engine.Envoi(run.plan.settings, function, slot, run.stopToken());
        } catch (const std::exception&) {
            // The engine reported it as an error; the records so far stand.
        }
    }
    run.collector().onMessage = nullptr;
    run.progress.clear();
    run.closeJournal();
    if (o.format == Format::Text)
        say(heardLine(tally, QStringLiteral("message")));
    if (run.interrupted())
        return status::kInterrupted;
    if (run.link().down()) {
        run.sayLinkDown();
        return status::kLinkDown;
    }
    if (tally.total == 0)
        return status::kNoAnswer;
    return tally.exitStatus();
}

int exchanges(BusRun& run)
{
    const Options& o = run.options;
    const FixedSettings& settings = run.plan.settings;
    Link& link = run.core().link;
    RecordWriter writer(o.format, RecordWriter::Kind::Exchange, run.sentWidth);
    writer.beforeWrite = [&run] { run.progress.clear(); };
    writer.writeHeader();
    // One link for the whole run, open from the first round to the last.
    link.SetBaudRate(settings.speed());
    link.Connect(settings.linkSettings());
    if (run.plan.function == fn::Waiting) {
        const int code = listen(run, writer);
        link.Disconnect();
        return code;
    }

    Tally tally;
    const QList<int> used = settings.selectedSlots();
    const double started = run.clock.now();
    const bool poll = o.command == Subcommand::Poll;
    for (int round = 1; !run.stopNow(); ++round) {
        if (poll) {
            QString text = QStringLiteral("round %1").arg(round);
            if (o.count)
                text += QStringLiteral(" of %1").arg(*o.count);
            if (o.durationSeconds)
                text += QStringLiteral(", %1 left").arg(timeLeftText(*o.durationSeconds - (run.clock.now() - started)));
            run.progress.show(text);
        }
        for (int slot : used) {
            if (run.stopNow())
                break;
            QString function = run.plan.function;
            int16_t s = static_cast<int16_t>(slot);
            bool ranItsCourse = true;
            try {
                ranItsCourse = run.core().engine.Envoi(settings, function, s, run.stopToken());
            } catch (const std::exception&) {
                // The engine reported the attempt as an error; the next address is served all the same.
            }
            const std::optional<AddressResult> r = run.collector().take(slot);
            if (r && r->verdict != JournalRecord::Verdict::Stopped) {
                writer.write(*r);
                tally.add(r->verdict);
            }
            if (!ranItsCourse)
                break;
        }
        run.flushJournal();
        if (!poll || run.stopNow())
            break;
        if (o.count && round >= *o.count)
            break;
        if (o.durationSeconds && run.clock.now() - started >= *o.durationSeconds)
            break;
        double until = run.clock.now() + o.intervalMs / 1000.0;
        if (o.durationSeconds)
            until = std::min(until, started + *o.durationSeconds);
        pumpUntil(run.pump, run.clock, until, run.stopToken());
        if (o.durationSeconds && run.clock.now() - started >= *o.durationSeconds)
            break;
    }
    link.Disconnect();
    return run.finish(tally);
}

} // namespace

int sendOrPoll(const Options& options)
{
    BusRun run(options);
    return run.exec([&run] { return requestProblem(run.plan, run.sentWidth); }, [&run] { return exchanges(run); });
}

} // namespace tarvo::cli
