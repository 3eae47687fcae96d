#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>

namespace tarvo::test {

// A program run to its end. code: its exit status; -1 when it crashed or was killed by a signal;
// kNotFinished when it was still running after the time given (it is killed then).
struct ProgramRun {
    static constexpr int kNotFinished = -1000;
    int code = -1;
    QByteArray out;
    QByteArray err;
};

inline ProgramRun runProgram(const QString& program, const QStringList& args, int timeoutMs = 120000)
{
    QProcess p;
    p.start(program, args);
    ProgramRun r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.code = ProgramRun::kNotFinished;
        r.err = "did not finish in time";
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

} // namespace tarvo::test
