#include "PlanResults.h"

#include "JournalCsv.h"

#include <QSysInfo>
#include <QXmlStreamWriter>

namespace tarvo::plans {

namespace {

QString seconds3(double s)
{
    return QString::number(std::max(0.0, s), 'f', 3);
}

QString caseName(const StepResult& r)
{
    return QStringLiteral("%1 @ %2").arg(r.name).arg(r.address);
}

// What the exchange was, for the text of a failure.
QString exchangeText(const StepResult& r)
{
    const AddressResult& s = r.shown;
    QStringList lines;
    lines << r.reason;
    lines << QStringLiteral("sends: %1, passed: %2").arg(r.sends).arg(r.passed);
    lines << QStringLiteral("sent: %1").arg(s.sent.isEmpty() ? QStringLiteral("(nothing)") : s.sent);
    lines << QStringLiteral("received: %1").arg(s.received.isEmpty() ? QStringLiteral("(nothing)") : s.received);
    lines << QStringLiteral("verdict: %1%2")
                 .arg(verdictName(s.verdict), s.detail.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(s.detail));
    if (!std::isnan(s.firstByteMs))
        lines << QStringLiteral("first byte: %1 ms").arg(millisecondsText(s.firstByteMs));
    if (!std::isnan(s.replyMs))
        lines << QStringLiteral("reply: %1 ms").arg(millisecondsText(s.replyMs));
    return lines.join(QLatin1Char('\n'));
}

} // namespace

QByteArray junitXml(const QString& planName, const QList<StepResult>& results, const QDateTime& started, double seconds)
{
    PlanTally tally;
    for (const StepResult& r : results)
        tally.add(r);
    const QString tests = QString::number(results.size());
    const QString failures = QString::number(tally.failed - tally.errors);
    const QString errors = QString::number(tally.errors);
    const QString skipped = QString::number(tally.skipped);

    QByteArray xml;
    QXmlStreamWriter w(&xml);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    // The whole run and its one suite carry the same counts: readers take them from either.
    const auto writeCounts = [&] {
        w.writeAttribute(QStringLiteral("name"), planName);
        w.writeAttribute(QStringLiteral("tests"), tests);
        w.writeAttribute(QStringLiteral("failures"), failures);
        w.writeAttribute(QStringLiteral("errors"), errors);
        w.writeAttribute(QStringLiteral("skipped"), skipped);
        w.writeAttribute(QStringLiteral("time"), seconds3(seconds));
    };
    w.writeStartElement(QStringLiteral("testsuites"));
    writeCounts();
    w.writeStartElement(QStringLiteral("testsuite"));
    writeCounts();
    w.writeAttribute(QStringLiteral("timestamp"), started.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
    w.writeAttribute(QStringLiteral("hostname"), QSysInfo::machineHostName());
    for (const StepResult& r : results) {
        w.writeStartElement(QStringLiteral("testcase"));
        w.writeAttribute(QStringLiteral("classname"), planName);
        w.writeAttribute(QStringLiteral("name"), caseName(r));
        w.writeAttribute(QStringLiteral("time"), seconds3(r.seconds));
        if (r.outcome == StepResult::Outcome::Skipped) {
            w.writeStartElement(QStringLiteral("skipped"));
            w.writeAttribute(QStringLiteral("message"), r.reason);
            w.writeEndElement();
        } else if (r.outcome == StepResult::Outcome::Failed) {
            w.writeStartElement(r.isError() ? QStringLiteral("error") : QStringLiteral("failure"));
            w.writeAttribute(QStringLiteral("message"), r.reason);
            w.writeAttribute(QStringLiteral("type"),
                             r.isError() ? QStringLiteral("error") : QStringLiteral("expectation"));
            w.writeCharacters(exchangeText(r));
            w.writeEndElement();
        }
        if (r.outcome != StepResult::Outcome::Skipped) {
            w.writeTextElement(QStringLiteral("system-out"),
                               QStringLiteral("sent: %1\nreceived: %2\n").arg(r.shown.sent, r.shown.received));
        }
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
    return xml;
}

QByteArray resultsCsvHeader()
{
    return "step,address,result,sends,passed,sent,received,first_byte_ms,reply_ms,verdict,reason\r\n";
}

QByteArray resultsCsvRow(const StepResult& r)
{
    const bool skipped = r.outcome == StepResult::Outcome::Skipped;
    return csvRow({r.name, QString::number(r.address), outcomeName(r.outcome), QString::number(r.sends),
                   QString::number(r.passed), r.shown.sent, r.shown.received, millisecondsText(r.shown.firstByteMs),
                   millisecondsText(r.shown.replyMs), skipped ? QString() : verdictName(r.shown.verdict), r.reason});
}

void PlanTally::add(const StepResult& r)
{
    switch (r.outcome) {
    case StepResult::Outcome::Passed:
        ++passed;
        break;
    case StepResult::Outcome::Failed:
        ++failed;
        errors += r.isError() ? 1 : 0;
        break;
    case StepResult::Outcome::Skipped:
        ++skipped;
        break;
    }
}

QString PlanTally::line() const
{
    QString text = QStringLiteral("%1 of %2 passed").arg(passed).arg(total());
    if (failed > 0)
        text += QStringLiteral(", %1 failed").arg(failed);
    if (skipped > 0)
        text += QStringLiteral(", %1 skipped").arg(skipped);
    return text;
}

} // namespace tarvo::plans
