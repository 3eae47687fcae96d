#pragma once

// A schema check of JUnit XML as Jenkins' JUnit plugin and GitLab read it: <testsuites> around
// <testsuite> elements, each with name, tests, failures, errors and time; <testcase> with classname, name
// and time; in a case at most one of <failure>, <error> or <skipped> (the first two with a message), and
// <system-out>/<system-err>; the counts of a suite equal to its cases.

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QXmlStreamReader>

namespace tarvo::test {

struct JUnitCase {
    QString classname;
    QString name;
    QString outcome; // "pass", "failure", "error", "skipped"
    QString message;
    QString text;
};

struct JUnitReport {
    QString problem; // empty: it is valid
    QString suiteName;
    QList<JUnitCase> cases;
};

inline JUnitReport checkJUnit(const QByteArray& xml)
{
    JUnitReport report;
    QXmlStreamReader r(xml);
    auto fail = [&report, &r](const QString& why) {
        if (report.problem.isEmpty())
            report.problem = QStringLiteral("line %1: %2").arg(r.lineNumber()).arg(why);
    };
    auto count = [&](const QXmlStreamAttributes& a, const char* name) {
        bool ok = false;
        const int n = a.value(QLatin1String(name)).toInt(&ok);
        if (!ok || n < 0)
            fail(QStringLiteral("%1=\"%2\" is no count").arg(QLatin1String(name), a.value(QLatin1String(name))));
        return n;
    };
    auto seconds = [&](const QXmlStreamAttributes& a) {
        bool ok = false;
        const double s = a.value(QLatin1String("time")).toDouble(&ok);
        if (!ok || s < 0)
            fail(QStringLiteral("time=\"%1\" is no duration").arg(a.value(QLatin1String("time"))));
    };
    if (!r.readNextStartElement() || r.name() != QLatin1String("testsuites")) {
        fail(QStringLiteral("the root is not <testsuites>"));
        return report;
    }
    const QXmlStreamAttributes top = r.attributes();
    const int allTests = count(top, "tests");
    const int allFailures = count(top, "failures");
    const int allErrors = count(top, "errors");
    seconds(top);
    int suites = 0;
    while (r.readNextStartElement()) {
        if (r.name() != QLatin1String("testsuite")) {
            fail(QStringLiteral("<%1> in <testsuites>").arg(r.name()));
            return report;
        }
        ++suites;
        const QXmlStreamAttributes s = r.attributes();
        report.suiteName = s.value(QLatin1String("name")).toString();
        if (report.suiteName.isEmpty())
            fail(QStringLiteral("a testsuite without a name"));
        const int tests = count(s, "tests");
        const int failures = count(s, "failures");
        const int errors = count(s, "errors");
        const int skipped = s.hasAttribute(QLatin1String("skipped")) ? count(s, "skipped") : 0;
        seconds(s);
        int seen[4] = {0, 0, 0, 0}; // cases, failures, errors, skipped
        while (r.readNextStartElement()) {
            if (r.name() == QLatin1String("properties") || r.name() == QLatin1String("system-out") ||
                r.name() == QLatin1String("system-err")) {
                r.skipCurrentElement();
                continue;
            }
            if (r.name() != QLatin1String("testcase")) {
                fail(QStringLiteral("<%1> in <testsuite>").arg(r.name()));
                return report;
            }
            ++seen[0];
            const QXmlStreamAttributes c = r.attributes();
            JUnitCase tc{c.value(QLatin1String("classname")).toString(),
                         c.value(QLatin1String("name")).toString(),
                         QStringLiteral("pass"),
                         {},
                         {}};
            if (tc.classname.isEmpty() || tc.name.isEmpty())
                fail(QStringLiteral("a testcase without classname or name"));
            seconds(c);
            int results = 0;
            while (r.readNextStartElement()) {
                const QString child = r.name().toString();
                if (child == QLatin1String("failure") || child == QLatin1String("error") ||
                    child == QLatin1String("skipped")) {
                    ++results;
                    tc.outcome = child;
                    tc.message = r.attributes().value(QLatin1String("message")).toString();
                    if (child != QLatin1String("skipped") && tc.message.isEmpty())
                        fail(QStringLiteral("a <%1> without a message").arg(child));
                    seen[child == QLatin1String("failure") ? 1 : child == QLatin1String("error") ? 2 : 3]++;
                    tc.text = r.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
                } else if (child == QLatin1String("system-out") || child == QLatin1String("system-err")) {
                    r.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
                } else {
                    fail(QStringLiteral("<%1> in <testcase>").arg(child));
                    return report;
                }
            }
            if (results > 1)
                fail(QStringLiteral("testcase \"%1\" has %2 results").arg(tc.name).arg(results));
            report.cases << tc;
        }
        if (tests != seen[0] || failures != seen[1] || errors != seen[2] || skipped != seen[3])
            fail(QStringLiteral("the suite counts %1/%2/%3/%4 (tests/failures/errors/skipped), its cases %5/%6/%7/%8")
                     .arg(tests)
                     .arg(failures)
                     .arg(errors)
                     .arg(skipped)
                     .arg(seen[0])
                     .arg(seen[1])
                     .arg(seen[2])
                     .arg(seen[3]));
    }
    if (r.hasError())
        fail(r.errorString());
    if (suites == 0)
        fail(QStringLiteral("no <testsuite>"));
    int failures = 0, errors = 0;
    for (const JUnitCase& c : std::as_const(report.cases)) {
        failures += c.outcome == QLatin1String("failure") ? 1 : 0;
        errors += c.outcome == QLatin1String("error") ? 1 : 0;
    }
    if (allTests != report.cases.size() || allFailures != failures || allErrors != errors)
        fail(QStringLiteral("<testsuites> counts do not add up"));
    return report;
}

} // namespace tarvo::test
