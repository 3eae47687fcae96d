// tarvo-bench-wire: a serial cable with a real line speed between a new pseudo-terminal and an
// existing one (tarvo-sim's).
//
// A pseudo-terminal accepts a speed but moves bytes at memory speed, so a 25-byte exchange that takes
// 7 ms at 38400 baud takes microseconds on it. Timings measured over a bare pty would then look better
// than any real line allows, and the wait for the reply's last byte (which a real line stretches
// out byte by byte) would never be exercised. This relay gives every byte its transmission time:
// a byte read at time t leaves the other end when the line is free and its 11 bits (start, 8 data,
// 2 stop) have passed. Each direction is a line of its own (full duplex).
//
// Usage: tarvo-bench-wire DEVICE BAUD [ANSWERS]
// With ANSWERS, writes there the CLOCK_MONOTONIC time (ns) at which each answer's last byte reached
// the near end, one a line, so that a bench can tell how long the program under test took after it.
// Prints "serial: /dev/pts/N" (the end to open) and relays until SIGTERM or SIGINT, or until the
// program that started it ends. At the end it prints how late it delivered bytes and how long the
// far end took to start answering, so that a run can tell its own delays from the line's.

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

volatile sig_atomic_t g_stop = 0;
void onSignal(int)
{
    g_stop = 1;
}

int64_t nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

bool makeRaw(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

struct Timed {
    int64_t dueNs;
    char byte;
};

// One direction of the cable.
struct Line {
    Line(int source, int sink, int64_t nsPerByte) : from(source), to(sink), byteNs(nsPerByte) {}
    int from;
    int to;
    int64_t byteNs;
    int64_t freeAtNs = 0; // when the last queued byte has fully left
    std::deque<Timed> queue;
    std::vector<int64_t> lateNs;  // per delivery: how long after its due time it was written
    int64_t lastDeliveredNs = -1; // when the queue last ran empty

    void take(int64_t now)
    {
        char buffer[512];
        for (;;) {
            const ssize_t n = ::read(from, buffer, sizeof buffer);
            if (n <= 0)
                return; // nothing more for now, or the other end is closed (it may reopen)
            for (ssize_t i = 0; i < n; ++i) {
                freeAtNs = (freeAtNs > now ? freeAtNs : now) + byteNs;
                queue.push_back({freeAtNs, buffer[i]});
            }
        }
    }

    void deliver(int64_t now)
    {
        char buffer[512];
        size_t n = 0;
        int64_t firstDue = -1;
        while (!queue.empty() && queue.front().dueNs <= now && n < sizeof buffer) {
            if (firstDue < 0)
                firstDue = queue.front().dueNs;
            buffer[n++] = queue.front().byte;
            queue.pop_front();
        }
        if (n == 0)
            return;
        lateNs.push_back(now - firstDue);
        if (queue.empty())
            lastDeliveredNs = now;
        size_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(to, buffer + done, n - done);
            if (w > 0) {
                done += static_cast<size_t>(w);
                continue;
            }
            if (w < 0 && errno == EINTR)
                continue;
            break; // nobody has the end open: a real line loses the bytes too
        }
    }

    int64_t nextDue() const { return queue.empty() ? -1 : queue.front().dueNs; }
};

double quantileMs(std::vector<int64_t> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t rank = static_cast<size_t>(q * static_cast<double>(v.size()) + 0.999999);
    return static_cast<double>(v[std::clamp<size_t>(rank, 1, v.size()) - 1]) / 1e6;
}

void report(const char* what, const std::vector<int64_t>& v)
{
    std::printf("wire: %s median %.3f ms, p99 %.3f ms, max %.3f ms (%zu)\n", what, quantileMs(v, 0.5),
                quantileMs(v, 0.99), quantileMs(v, 1.0), v.size());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s DEVICE BAUD [ANSWERS]\n", argv[0]);
        return 2;
    }
    const long baud = std::strtol(argv[2], nullptr, 10);
    if (baud <= 0) {
        std::fprintf(stderr, "tarvo-bench-wire: bad speed %s\n", argv[2]);
        return 2;
    }
    FILE* answers = nullptr;
    if (argc == 4 && !(answers = std::fopen(argv[3], "w"))) {
        std::fprintf(stderr, "tarvo-bench-wire: %s: %s\n", argv[3], std::strerror(errno));
        return 1;
    }
    // Sleeps end to the microsecond instead of the default 50 µs slack.
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);

    const int far = ::open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (far < 0 || !makeRaw(far)) {
        std::fprintf(stderr, "tarvo-bench-wire: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::fprintf(stderr, "tarvo-bench-wire: no pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    const char* name = ptsname(master);
    // Held open here so that the program under test can close and reopen its end without the
    // master seeing a hang-up.
    const int near = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (near < 0 || !makeRaw(near)) {
        std::fprintf(stderr, "tarvo-bench-wire: %s: %s\n", name, std::strerror(errno));
        return 1;
    }
    std::printf("serial: %s\n", name);
    std::fflush(stdout);

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    // A bench that dies must not leave its cables behind.
    prctl(PR_SET_PDEATHSIG, SIGTERM, 0, 0, 0);

    const int64_t byteNs = 11LL * 1'000'000'000 / baud;
    Line out(master, far, byteNs);  // what the program under test sends
    Line back(far, master, byteNs); // what the far end answers
    std::vector<int64_t> turnaroundNs;

    while (!g_stop) {
        const int64_t now = nowNs();
        out.deliver(now);
        const bool answering = !back.queue.empty();
        back.deliver(now);
        if (answers && answering && back.queue.empty())
            std::fprintf(answers, "%lld\n", static_cast<long long>(back.lastDeliveredNs));
        int64_t due = -1;
        for (const Line* l : {&out, &back}) {
            const int64_t d = l->nextDue();
            if (d >= 0 && (due < 0 || d < due))
                due = d;
        }
        pollfd fds[2] = {{master, POLLIN, 0}, {far, POLLIN, 0}};
        timespec timeout{};
        timespec* wait = nullptr;
        if (due >= 0) {
            const int64_t left = due > now ? due - now : 0;
            timeout.tv_sec = static_cast<time_t>(left / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(left % 1'000'000'000);
            wait = &timeout;
        }
        const int r = ::ppoll(fds, 2, wait, nullptr);
        if (r < 0 && errno != EINTR)
            break;
        const int64_t t = nowNs();
        if (fds[0].revents & POLLIN)
            out.take(t);
        if (fds[1].revents & POLLIN) {
            // The far end's turnaround: from the request's last byte to the first byte of the answer.
            if (back.queue.empty() && out.queue.empty() && out.lastDeliveredNs >= 0) {
                turnaroundNs.push_back(t - out.lastDeliveredNs);
                out.lastDeliveredNs = -1;
            }
            back.take(t);
        }
        // The far pty hung up (its owner went away): nothing more to relay.
        if (fds[1].revents & POLLHUP && !(fds[1].revents & POLLIN))
            break;
        // Our own slave end is always held open, so the master never hangs up; a hang-up or error
        // here would make ppoll return at once forever.
        if (fds[0].revents & (POLLHUP | POLLERR) && !(fds[0].revents & POLLIN))
            usleep(1000);
    }
    std::vector<int64_t> late = out.lateNs;
    late.insert(late.end(), back.lateNs.begin(), back.lateNs.end());
    report("delivery lateness", late);
    report("far-end turnaround", turnaroundNs);
    std::fflush(stdout);
    if (answers)
        std::fclose(answers);
    return 0;
}
