// scan: the bus census, one request to every address of a range, at every speed given.

#include "Run.h"

#include <QMap>

namespace tarvo::cli {

namespace {

CensusPlan censusPlan(const BusRun& run)
{
    const Options& o = run.options;
    CensusPlan plan;
    plan.addresses = !o.range.isEmpty() ? o.range : o.addresses;
    if (plan.addresses.isEmpty()) {
        for (int a = 0; a <= 254; ++a)
            plan.addresses << a;
    }
    plan.speeds = o.speeds;
    plan.function = run.plan.function;
    plan.command = run.plan.settings.commands();
    plan.timeoutMs = o.timeoutMs.value_or(run.plan.censusTimeoutMs);
    plan.tries = o.tries;
    return plan;
}

int census(BusRun& run, const CensusPlan& plan)
{
    Census& census = run.core().census;
    RecordWriter writer(run.options.format, RecordWriter::Kind::Census, run.sentWidth);
    writer.beforeWrite = [&run] { run.progress.clear(); };
    writer.writeHeader();

    QMap<QString, JournalRecord::Verdict> best; // by address, over the speeds
    census.onProgress = [&run](const CensusProgress& p) {
        QString text = QStringLiteral("scan: address %1").arg(p.address);
        if (p.speed > 0)
            text += QStringLiteral(" at %1").arg(p.speed);
        run.progress.show(
            text +
            QStringLiteral(" (%1 of %2), %3 left").arg(p.done + 1).arg(p.total).arg(timeLeftText(p.secondsLeft)));
    };
    census.onResult = [&](const AddressResult& r) {
        writer.write(r);
        best[r.address] = betterVerdict(best.value(r.address, r.verdict), r.verdict);
        run.flushJournal();
    };
    // A link that cannot be opened, or is lost for good, is seen by the watch on the link itself.
    census.run(plan);
    census.onProgress = nullptr;
    census.onResult = nullptr;
    Tally tally;
    for (const auto& v : std::as_const(best))
        tally.add(v);
    return run.finish(tally);
}

} // namespace

int scan(const Options& options)
{
    BusRun run(options);
    CensusPlan plan;
    return run.exec(
        [&]() -> std::optional<QString> {
            plan = censusPlan(run);
            if (auto problem = bioscryptProblem(run.plan.settings.protocol(), plan.function, plan.command))
                return problem;
            int longest = 0;
            if (auto refused = run.core().census.refusal(plan, &longest))
                return refused;
            run.sentWidth = longest * 3 - 1;
            return std::nullopt;
        },
        [&] { return census(run, plan); });
}

} // namespace tarvo::cli
