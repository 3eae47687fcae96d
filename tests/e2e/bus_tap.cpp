// bus_tap: a cable with a listener on it, for the bus monitor's tests. Relays bytes both ways between a
// new pseudo-terminal (for a master, such as mbpoll) and an existing one (tarvo-sim's), and copies every
// byte of both directions, in the order it passed, to a third pseudo-terminal where a monitor listens.
// Usage: bus_tap DEVICE. Prints "serial: /dev/pts/N" (the master's end) and "tap: /dev/pts/M" (the
// listener's end), then relays until SIGTERM.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {
volatile sig_atomic_t g_stop = 0;
void onSignal(int)
{
    g_stop = 1;
}

int newPty(const char* label)
{
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0)
        return -1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    std::printf("%s: %s\n", label, ptsname(fd));
    return fd;
}

void writeAll(int fd, const char* data, ssize_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, data, static_cast<size_t>(n));
        if (w > 0) {
            data += w;
            n -= w;
        } else {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
    }
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: bus_tap DEVICE\n");
        return 2;
    }
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    const int far = ::open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (far < 0)
        return 1;
    termios t{};
    tcgetattr(far, &t);
    cfmakeraw(&t);
    tcsetattr(far, TCSANOW, &t);
    const int near = newPty("serial");
    const int tap = newPty("tap");
    std::fflush(stdout);
    if (near < 0 || tap < 0)
        return 1;
    char buffer[512];
    while (!g_stop) {
        pollfd p[2] = {{near, POLLIN, 0}, {far, POLLIN, 0}};
        if (::poll(p, 2, 100) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (!(p[i].revents & POLLIN))
                continue;
            const ssize_t n = ::read(p[i].fd, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            writeAll(i == 0 ? far : near, buffer, n);
            writeAll(tap, buffer, n);
        }
    }
    return 0;
}
