#pragma once

// The console's stack in a benchmark process: set up for polling, timed from Start to its end, its
// memory probed at two counts.

#include "BenchSupport.h"
#include "BenchTrace.h"
#include "Clock.h"
#include "ConsoleModel.h"
#include "EventPump.h"
#include "Prompter.h"

#include <QTimer>

#include <functional>
#include <optional>

namespace tarvo::bench {

struct Endpoint {
    bool serial = true;
    QString ptyPath;
    quint16 tcpPort = 0;
};

// The console set up for a polling run: Modbus, function ReadBuffer100 (04, 6 input registers from
// 0x100), TimeOutDelay 1500, the default delays (WaitingDelay 50, Scan 1) or none, the first
// `controllers` slots selected with the console addresses 0, 1, ...
inline void setUpPolling(ConsoleModel& m, const Endpoint& ep, int controllers, bool defaultDelays, int baud = 38400)
{
    m.choose(Field::Modbus);
    // Choosing Modbus sets 9600; the speed comes after it.
    m.setText(Field::COMSpeed, QString::number(baud));
    if (ep.serial) {
        m.choose(Field::OpCOM);
        m.setText(Field::ComPort, ep.ptyPath);
    } else {
        m.choose(Field::OpTCP);
        m.setText(Field::IP, QStringLiteral("127.0.0.1"));
        m.setText(Field::Port, QString::number(ep.tcpPort));
    }
    m.setListIndex(Field::TxtFunction, 2); // ReadBuffer100: Modbus 04, 6 registers from 0x100
    m.setText(Field::TimeOutDelay, QStringLiteral("1500"));
    m.setText(Field::WaitingDelay, defaultDelays ? QStringLiteral("50") : QStringLiteral("0"));
    m.setText(Field::Scan, defaultDelays ? QStringLiteral("1") : QStringLiteral("0"));
    for (int i = 0; i < ConsoleModel::kSlots; ++i) {
        m.setCheck(FieldRef(Field::CheckAdr, i), i < controllers ? 1 : 0);
        m.setText(FieldRef(Field::Address, i), QString::number(i));
    }
}

// The memory at two counts of a run (of replies, of attempts); the run is to end at the second, when
// one is given.
struct MemoryProbes {
    MemoryProbes(long firstCount, long lastCount) : first(firstCount), last(lastCount) {}
    long first;
    long last; // 0: the run ends otherwise
    std::optional<Memory> early;
    std::optional<Memory> late;
    // Call with each new count; true when the run is to stop now.
    bool at(long n)
    {
        if (n == first)
            early = readMemory();
        if (last <= 0 || n != last)
            return false;
        late = readMemory();
        return true;
    }
};

// A polling run from Start to its end: wall time, this process's CPU and the machine's busy share.
struct TimedRun {
    double wall = 0;
    double cpu = 0;
    double busy = NAN;
};

// Presses Start and times the run until it ends: after `seconds` (Stop from a timer), or sooner
// when something else stops it (seconds <= 0: only that).
inline TimedRun timeStart(const std::function<void()>& start, const std::function<void()>& stop, const Clock& clock,
                          double seconds)
{
    QTimer stopTimer;
    stopTimer.setSingleShot(true);
    QObject::connect(&stopTimer, &QTimer::timeout, stop);
    if (seconds > 0)
        stopTimer.start(static_cast<int>(seconds * 1000));
    TimedRun run;
    const MachineTicks m0 = machineTicks();
    const double cpu0 = cpuSeconds();
    const double t0 = clock.now();
    start();
    run.wall = clock.now() - t0;
    run.cpu = cpuSeconds() - cpu0;
    const MachineTicks m1 = machineTicks();
    if (m1.total > m0.total)
        run.busy = (m1.busy - m0.busy) / (m1.total - m0.total);
    return run;
}

// The console's seams, then its stack below the window as the program builds it.
struct ConsoleSeams {
    SteadyClock clock;
    QtEventPump pump;
    StderrPrompter prompter;
    FailureTrace trace;
};

} // namespace tarvo::bench
