#pragma once

#include "PlanRunner.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace tarvo::plans {

// A plan's results as JUnit XML, the form Jenkins and GitLab read: one <testsuites> holding one
// <testsuite> named after the plan, one <testcase name="step @ address"> per step and address, a
// <failure> (an expectation not met), <error> (a request that could not be made) or <skipped> (not
// run after a failed step) with the reason as its message and the exchange in its text.
QByteArray junitXml(const QString& planName, const QList<StepResult>& results, const QDateTime& started,
                    double seconds);

// The results as CSV (RFC 4180, UTF-8, CR LF), one row per step and address: step, address, result,
// sends, passed, sent, received, first_byte_ms, reply_ms, verdict, reason.
QByteArray resultsCsvHeader();
QByteArray resultsCsvRow(const StepResult& result);

// How many passed, failed (errors included) and were skipped, for a summary line.
struct PlanTally {
    int passed = 0;
    int failed = 0;
    int errors = 0; // of the failed, those whose request could not be made
    int skipped = 0;
    void add(const StepResult& result);
    int total() const { return passed + failed + skipped; }
    // "5 of 7 passed, 1 failed, 1 skipped"
    QString line() const;
};

} // namespace tarvo::plans
