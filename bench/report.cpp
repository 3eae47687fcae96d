// tarvo-bench-report: the commissioning report of a day's polling, tarvo-cli as a whole process.
//
// Writes a journal of 32 controllers polled for 24 hours (about 1.7 million rows, through the journal's
// own row writer) into a temporary folder, then runs `tarvo-cli report --journal FILE --output FILE`
// on it several times, each a child of its own reaped with wait4(), which hands back that child's own
// peak resident set and CPU times. Prints the wall time, CPU, peak RSS and the page's size against the
// aims: at most 10 s, at most 200 MiB, a page under 5 MB.
//
// The journal is a polling run as a site gives one: passes over the 32 slots, one request each; most
// controllers answer nearly always, at reply times spread around their own mean with a rare slow one;
// a few are flaky (lost tries answered at the second or third), one sends a bad check value now and
// then, one refuses some requests with an exception, and one is dead for two hours in the afternoon.

#include "BenchSupport.h"
#include "JournalCsv.h"
#include "JournalRecord.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <random>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

using namespace tarvo;
using namespace tarvo::bench;

namespace {

constexpr int kSlots = 32;
constexpr double kMaxSeconds = 10;
constexpr double kMaxMiB = 200;
constexpr double kMaxPageMB = 5;

using V = JournalRecord::Verdict;

// How one controller behaves over the day.
struct Profile {
    double meanMs = 12;      // its usual reply time
    double lostTry = 0.0005; // a try that gets no answer
    double badCheck = 0.0;   // a reply with a bad check value
    double exception = 0.0;  // a request refused
    double deadFrom = -1;    // hours into the run: silent from here...
    double deadTo = -1;      // ...to here
};

Profile profileOf(int slot)
{
    Profile p;
    p.meanMs = 8 + (slot * 7) % 23; // 8 to 30 ms
    switch (slot) {
    case 5:
    case 17:
        p.lostTry = 0.03; // a flaky cable
        break;
    case 9:
        p.badCheck = 0.004; // noise on its line
        break;
    case 12:
        p.exception = 0.01; // asked for a register it does not always have
        break;
    case 23:
        p.deadFrom = 14; // powered off for two hours
        p.deadTo = 16;
        break;
    default:
        break;
    }
    return p;
}

struct JournalMade {
    qint64 rows = 0;
    qint64 bytes = 0;
    double hours = 0; // from the first row to the last
    double writeSeconds = 0;
};

// The day's journal into `path`: passes over the slots, one request per slot and pass, until `rows`
// rows; the passes start evenly over `hours`, or as soon as the one before has ended when it ran long
// (the dead controller's time-outs).
JournalMade writeJournal(const QString& path, qint64 rows, double hours)
{
    QElapsedTimer clock;
    clock.start();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    std::mt19937_64 random(20261210);
    std::uniform_real_distribution<double> uniform(0, 1);
    std::lognormal_distribution<double> spread(0, 0.25);
    const QDateTime start(QDate(2026, 12, 10), QTime(6, 0, 0), Qt::OffsetFromUTC, 3600);
    std::vector<Profile> profiles;
    for (int s = 1; s <= kSlots; ++s)
        profiles.push_back(profileOf(s));
    // About 3 % more rows than requests: the lost tries and the dead controller's three tries.
    const qint64 passes = std::max<qint64>(1, static_cast<qint64>(static_cast<double>(rows) / (kSlots * 1.03)));
    const double passMs = hours * 3600e3 / static_cast<double>(passes);

    QByteArray out = journalCsvHeader();
    JournalMade j;
    JournalRecord r;
    r.function = QStringLiteral("ReadBuffer100");
    double at = 0; // ms into the run
    for (qint64 pass = 0; j.rows < rows; ++pass) {
        at = std::max(at, static_cast<double>(pass) * passMs);
        for (int slot = 1; slot <= kSlots && j.rows < rows; ++slot) {
            const Profile& p = profiles[slot - 1];
            const int address = slot + 9; // console addresses 10 to 41
            const char id = static_cast<char>(address + 1);
            const QByteArray request = QByteArray(1, id) + QByteArray::fromHex("0401000006") + QByteArray(2, '\x5A');
            r.slot = slot;
            r.address = QString::number(address);
            r.sent = spacedHex(request);
            const double hour = at / 3600e3;
            const bool dead = hour >= p.deadFrom && hour < p.deadTo;
            for (int attempt = 1; attempt <= 3; ++attempt) {
                r.time = start.addMSecs(static_cast<qint64>(at));
                r.attempt = attempt;
                r.received.clear();
                r.detail.clear();
                r.firstByteMs = NAN;
                r.replyMs = NAN;
                if (dead || uniform(random) < p.lostTry) {
                    r.verdict = V::NoAnswer;
                    at += 1500; // the time-out
                } else {
                    double reply = p.meanMs * spread(random);
                    if (uniform(random) < 0.0002)
                        reply *= 20; // a rare slow one, which the chart must still show
                    r.replyMs = std::round(reply * 10) / 10;
                    r.firstByteMs = std::round(reply * 4) / 10;
                    QByteArray answer;
                    if (uniform(random) < p.exception) {
                        r.verdict = V::Exception;
                        answer = QByteArray(1, id) + QByteArray::fromHex("840231C2");
                        r.detail = QStringLiteral("02 illegal data address");
                    } else {
                        r.verdict = uniform(random) < p.badCheck ? V::BadCheck : V::Ok;
                        answer = QByteArray(1, id) + QByteArray::fromHex("040C0001000200030004000500066B4F");
                    }
                    r.received = spacedHex(answer);
                    at += reply + 20; // the settle wait and the pacing pause
                }
                out += journalCsvRow(r);
                ++j.rows;
                if (out.size() > (1 << 20)) {
                    file.write(out);
                    out.clear();
                }
                if (r.verdict != V::NoAnswer)
                    break;
            }
        }
    }
    file.write(out);
    file.close();
    j.hours = at / 3600e3;
    j.bytes = QFileInfo(path).size();
    j.writeSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    return j;
}

struct ChildRun {
    int status = -1; // the exit status; -1 when it did not exit normally
    double wallSeconds = NAN;
    double cpuSeconds = NAN;
    long maxRssKiB = 0;
};

double seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// One run of `program`, its output on this process's standard error, reaped by wait4 for its own
// figures (getrusage's RUSAGE_CHILDREN would give the largest of all children so far).
ChildRun runChild(const QString& program, const QStringList& args)
{
    std::vector<QByteArray> storage{program.toLocal8Bit()};
    for (const QString& a : args)
        storage.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    ChildRun run;
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.wallSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.maxRssKiB = usage.ru_maxrss; // KiB on Linux
    return run;
}

QString num(double v, int decimals = 2)
{
    return std::isnan(v) ? QStringLiteral("-") : QString::number(v, 'f', decimals);
}

QString aim(bool met)
{
    return met ? QStringLiteral("met") : QStringLiteral("**missed**");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("Times tarvo-cli report on a day's journal of 32 controllers: wall "
                                               "time, CPU, peak memory and the page's size. Prints Markdown."));
    p.addHelpOption();
    const QCommandLineOption runs(QStringLiteral("runs"), QStringLiteral("Reports to time (default 3)."),
                                  QStringLiteral("n"), QStringLiteral("3"));
    const QCommandLineOption rows(QStringLiteral("rows"), QStringLiteral("Journal rows (default 1700000)."),
                                  QStringLiteral("n"), QStringLiteral("1700000"));
    const QCommandLineOption hours(QStringLiteral("hours"), QStringLiteral("Hours the journal spans (default 24)."),
                                   QStringLiteral("h"), QStringLiteral("24"));
    const QCommandLineOption cli(QStringLiteral("cli"),
                                 QStringLiteral("The tarvo-cli to time (default: this build's)."),
                                 QStringLiteral("path"), QStringLiteral(TARVO_CLI_PATH));
    const QCommandLineOption keep(QStringLiteral("keep"),
                                  QStringLiteral("Write the journal and the reports into this folder and keep them."),
                                  QStringLiteral("dir"));
    p.addOptions({runs, rows, hours, cli, keep});
    p.process(app);
    const int n = std::max(1, p.value(runs).toInt());
    const qint64 rowCount = std::max<qint64>(1, p.value(rows).toLongLong());
    const double span = std::max(0.01, p.value(hours).toDouble());

    QTemporaryDir temporary;
    const QString dir = p.isSet(keep) ? p.value(keep) : temporary.path();
    QDir().mkpath(dir);
    const QString journalPath = dir + QStringLiteral("/journal-20261210-060000.csv");
    const JournalMade journal = writeJournal(journalPath, rowCount, span);
    if (journal.rows == 0) {
        say(QStringLiteral("cannot write the journal in %1").arg(dir));
        return 1;
    }

    std::vector<double> walls;
    std::vector<double> cpus;
    long peakKiB = 0;
    qint64 pageBytes = 0;
    int failed = 0;
    for (int i = 0; i < n; ++i) {
        const QString output = dir + QStringLiteral("/report-%1.html").arg(i + 1);
        QFile::remove(output); // a report is never written over a file
        const ChildRun run = runChild(p.value(cli), {QStringLiteral("report"), QStringLiteral("--journal"), journalPath,
                                                     QStringLiteral("--output"), output});
        if (run.status != 0) {
            ++failed;
            continue;
        }
        walls.push_back(run.wallSeconds);
        cpus.push_back(run.cpuSeconds);
        peakKiB = std::max(peakKiB, run.maxRssKiB);
        pageBytes = QFileInfo(output).size();
    }

    say(QStringLiteral("### Commissioning report of a day's journal, tarvo-cli report as a whole process"));
    say(QString());
    say(QStringLiteral("Journal: %1 rows, %2 controllers, %3 h, %4 MiB (written in %5 s). %6 runs, %7 failed.")
            .arg(journal.rows)
            .arg(kSlots)
            .arg(num(journal.hours, 1), num(static_cast<double>(journal.bytes) / (1 << 20), 1),
                 num(journal.writeSeconds, 1))
            .arg(n)
            .arg(failed));
    say(QString());
    say(QStringLiteral("| figure | median | min | max | aim | |"));
    say(QStringLiteral("|---|---|---|---|---|---|"));
    const double wall = median(walls);
    say(QStringLiteral("| wall time (s) | %1 | %2 | %3 | ≤ %4 | %5 |")
            .arg(num(wall), num(walls.empty() ? NAN : *std::min_element(walls.begin(), walls.end())),
                 num(walls.empty() ? NAN : *std::max_element(walls.begin(), walls.end())), num(kMaxSeconds, 0),
                 aim(!walls.empty() && wall <= kMaxSeconds)));
    say(QStringLiteral("| CPU, user + system (s) | %1 | %2 | %3 | | |")
            .arg(num(median(cpus)), num(cpus.empty() ? NAN : *std::min_element(cpus.begin(), cpus.end())),
                 num(cpus.empty() ? NAN : *std::max_element(cpus.begin(), cpus.end()))));
    const double peakMiB = static_cast<double>(peakKiB) / 1024;
    say(QStringLiteral("| peak RSS (MiB), the largest run | %1 | | | ≤ %2 | %3 |")
            .arg(num(peakMiB, 1), num(kMaxMiB, 0), aim(peakKiB > 0 && peakMiB <= kMaxMiB)));
    const double pageMB = static_cast<double>(pageBytes) / 1e6;
    say(QStringLiteral("| page (MB) | %1 | | | < %2 | %3 |")
            .arg(num(pageMB, 3), num(kMaxPageMB, 0), aim(pageBytes > 0 && pageMB < kMaxPageMB)));
    say(QString());
    say(QStringLiteral("Rows per second of wall time: %1.")
            .arg(walls.empty() ? QStringLiteral("-")
                               : QString::number(static_cast<double>(journal.rows) / wall, 'f', 0)));
    return failed == 0 ? 0 : 1;
}
