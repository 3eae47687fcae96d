// run: a test plan's steps, each against its addresses, one record per step and address, and the
// results as JUnit XML for a CI server.

#include "Run.h"

#include "PlanReader.h"
#include "PlanResults.h"
#include "PlanRunner.h"
#include "SafeFile.h"

#include <QFileInfo>

namespace tarvo::cli {

namespace {

using plans::StepResult;

// The plan's link, protocol and timing where the command line says nothing: the command line
// overrides the plan, and the plan a --config.
void underTheCommandLine(const plans::PlanSettings& p, Options& o)
{
    const bool linkTyped = o.serial || o.tcpHost;
    if (!linkTyped) {
        if (p.serial) {
            o.serial = p.serial;
        } else if (p.host) {
            o.tcpHost = p.host;
            o.tcpPort = p.port;
            o.udp = p.udp;
        }
    }
    // Modbus TCP framing stays with a network link the command line names instead of the plan's (the
    // gateway moved); a serial link has none.
    o.mbap = o.mbap || (!o.serial && p.mbap.value_or(false));
    if (!o.speed)
        o.speed = p.speed;
    if (!o.line)
        o.line = p.line;
    if (!o.rtsCts)
        o.rtsCts = p.rtsCts;
    o.rs485 = o.rs485 || p.rs485.value_or(false);
    o.dropEcho = o.dropEcho || p.dropEcho.value_or(false);
    o.lowLatency = o.lowLatency || p.lowLatency.value_or(false);
    if (!o.protocol)
        o.protocol = p.protocol;
    if (!o.code)
        o.code = p.code;
    if (!o.passphrase)
        o.passphrase = p.passphrase;
    o.ack = o.ack || p.ack.value_or(false);
    o.resp = o.resp || p.resp.value_or(false);
    if (!o.timeoutMs)
        o.timeoutMs = p.timeoutMs;
    if (!o.settleMs)
        o.settleMs = p.settleMs;
    if (!o.scanDelayMs)
        o.scanDelayMs = p.scanDelayMs;
    if (!o.triesGiven && p.tries)
        o.tries = *p.tries;
}

QByteArray jsonMs(double ms)
{
    return std::isnan(ms) ? QByteArray("null") : millisecondsText(ms).toLatin1();
}

QByteArray recordLine(Format format, const StepResult& r)
{
    const AddressResult& s = r.shown;
    const bool skipped = r.outcome == StepResult::Outcome::Skipped;
    switch (format) {
    case Format::Csv:
        return plans::resultsCsvRow(r);
    case Format::Json:
        return "{\"time\":" + jsonString(isoTime(r.time)) + ",\"step\":" + jsonString(r.name) +
               ",\"address\":" + QByteArray::number(r.address) + ",\"result\":" + jsonString(outcomeName(r.outcome)) +
               ",\"sends\":" + QByteArray::number(r.sends) + ",\"passed\":" + QByteArray::number(r.passed) +
               ",\"sent\":" + jsonString(s.sent) + ",\"received\":" + jsonString(s.received) +
               ",\"first_byte_ms\":" + jsonMs(s.firstByteMs) + ",\"reply_ms\":" + jsonMs(s.replyMs) +
               ",\"verdict\":" + (skipped ? QByteArray("null") : jsonString(verdictName(s.verdict))) +
               ",\"reason\":" + jsonString(r.reason) + "}\n";
    case Format::Text:
        break;
    }
    QString t = QStringLiteral("%1  %2").arg(outcomeName(r.outcome).toUpper().leftJustified(7),
                                             QStringLiteral("%1 @ %2").arg(r.name).arg(r.address));
    if (!skipped) {
        t += QStringLiteral("  %1").arg(verdictName(s.verdict));
        if (r.sends > 1)
            t += QStringLiteral("  %1 of %2 passed").arg(r.passed).arg(r.sends);
        if (!std::isnan(s.firstByteMs))
            t += QStringLiteral("  first byte %1 ms").arg(millisecondsText(s.firstByteMs));
        if (!std::isnan(s.replyMs))
            t += QStringLiteral("  reply %1 ms").arg(millisecondsText(s.replyMs));
        t += QStringLiteral("  sent %1").arg(s.sent.isEmpty() ? QStringLiteral("-") : s.sent);
        t += QStringLiteral("  received %1").arg(s.received.isEmpty() ? QStringLiteral("-") : s.received);
    }
    if (!r.reason.isEmpty())
        t += QStringLiteral("\n         %1").arg(r.reason);
    return t.toUtf8() + '\n';
}

int steps(BusRun& run, const plans::TestPlan& plan, const QString& junit)
{
    const Options& o = run.options;
    const FixedSettings& settings = run.plan.settings;
    Link& link = run.core().link;
    if (o.format == Format::Csv)
        writeOut(plans::resultsCsvHeader());

    QList<StepResult> results;
    plans::PlanTally tally;
    plans::PlanRunner runner(run.core().engine, run.clock, run.pump);
    runner.stepStarted = [&](int step, int address) {
        run.progress.show(QStringLiteral("step %1 of %2: %3 @ %4")
                              .arg(step + 1)
                              .arg(plan.steps.size())
                              .arg(plan.steps[step].name)
                              .arg(address));
    };
    runner.stepFinished = [&](const StepResult& r) {
        run.progress.clear();
        writeOut(recordLine(o.format, r));
        results << r;
        tally.add(r);
    };
    runner.afterSend = [&run] { run.flushJournal(); };

    const QDateTime started = localNow();
    const double began = run.clock.now();
    // One link for the whole plan, open from its first step to its last.
    link.SetBaudRate(settings.speed());
    link.Connect(settings.linkSettings());
    if (!run.stopNow())
        runner.run(plan, settings.value, run.stopToken());
    link.Disconnect();

    // The JUnit file holds what was run, whichever way the run ended.
    int code = status::kOk;
    if (!junit.isEmpty()) {
        QString error;
        if (!writeFileAtomically(junit, plans::junitXml(plan.name, results, started, run.clock.now() - began),
                                 &error)) {
            say(QStringLiteral("--junit %1: %2").arg(junit, error));
            code = status::kLinkDown; // what was asked for is not there: never a success
        }
    }
    if (const std::optional<int> early = run.close(tally.total() > 0 ? tally.line() : QString()))
        return *early;
    if (tally.failed > 0)
        return status::kPlanFailed;
    return code;
}

} // namespace

int runPlan(const Options& given)
{
    Options options = given;
    const plans::PlanReading reading = plans::readPlanFile(options.planFile);
    if (!reading.ok()) {
        for (const plans::PlanProblem& p : reading.problems)
            say(p.text(options.planFile));
        say(QStringLiteral("the plan has %1 mistake%2: nothing was sent")
                .arg(reading.problems.size())
                .arg(reading.problems.size() == 1 ? QString() : QStringLiteral("s")));
        return status::kUsage;
    }
    underTheCommandLine(reading.plan.settings, options);
    // The run works in a folder of its own: the JUnit file's place is taken where it was typed.
    const QString junit = options.junit.isEmpty() ? QString() : QFileInfo(options.junit).absoluteFilePath();
    BusRun run(options);
    const plans::TestPlan& plan = reading.plan;
    return run.exec(
        [&]() -> std::optional<QString> {
            if (!junit.isEmpty() && !QFileInfo(QFileInfo(junit).absolutePath()).isDir())
                return QStringLiteral("--junit %1: no such folder").arg(options.junit);
            const QList<plans::PlanProblem> problems = plans::requestProblems(plan, run.plan.settings.value);
            if (problems.isEmpty())
                return std::nullopt;
            for (qsizetype i = 0; i + 1 < problems.size(); ++i)
                say(problems[i].text(options.planFile));
            return problems.last().text(options.planFile) + QStringLiteral("; nothing was sent");
        },
        [&] { return steps(run, plan, junit); });
}

} // namespace tarvo::cli
