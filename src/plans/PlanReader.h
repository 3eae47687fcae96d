#pragma once

#include "TestPlan.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace tarvo::plans {

// A plan as read from its file, and every mistake found in it. A plan with any mistake is not run.
struct PlanReading {
    TestPlan plan;
    QList<PlanProblem> problems;

    bool ok() const { return problems.isEmpty(); }
};

// Reads a plan (TOML). Every mistake is listed with its line and column: TOML that does not parse,
// unknown keys, values of the wrong type or out of range, a bad reply pattern, a step that says neither
// what to send nor how long to wait. Whether the protocol takes the requests is requestProblems' to say,
// once the settings are known.
PlanReading readPlan(const QByteArray& text);
// The same from a file; a file that cannot be read is a mistake at line 0.
PlanReading readPlanFile(const QString& path);

} // namespace tarvo::plans
