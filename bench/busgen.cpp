// tarvo-bench-busgen: a bus to listen to. Writes Modbus frames (requests, replies of six registers and
// exceptions, each with its CRC) back to back into a pseudo-terminal, every byte at its time on a
// line of the given speed (11 bits a character: start, 8 data bits, 2 stop bits) and a silence of
// GAP characters between frames, for the given number of seconds. Bytes are handed to the terminal at
// most 8 at a time, when the last of them is due, as a UART's FIFO hands them to the system.
//
// Usage: tarvo-bench-busgen BAUD SECONDS GAP
// Prints "serial: /dev/pts/N" (the end to listen on), waits half a second for the listener to open
// it, writes, then prints "frames: N bytes: M" and exits.

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

uint16_t crcModbus(const std::vector<uint8_t>& bytes)
{
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

std::vector<uint8_t> withCrc(std::vector<uint8_t> bytes)
{
    const uint16_t crc = crcModbus(bytes);
    bytes.push_back(static_cast<uint8_t>(crc & 0xFF));
    bytes.push_back(static_cast<uint8_t>(crc >> 8));
    return bytes;
}

// The frames of one poll of address a: request, reply, and every fourth time an exception.
std::vector<std::vector<uint8_t>> poll(int n)
{
    const auto a = static_cast<uint8_t>(1 + n % 32);
    std::vector<std::vector<uint8_t>> frames;
    frames.push_back(withCrc({a, 0x04, 0x01, 0x00, 0x00, 0x06}));
    std::vector<uint8_t> reply{a, 0x04, 12};
    for (int r = 0; r < 6; ++r) {
        reply.push_back(static_cast<uint8_t>(n >> 8));
        reply.push_back(static_cast<uint8_t>(n + r));
    }
    frames.push_back(withCrc(reply));
    if (n % 4 == 3)
        frames.push_back(withCrc({a, 0x84, 0x02}));
    return frames;
}

int64_t nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

void sleepUntil(int64_t ns)
{
    const timespec t{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) != 0) {
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: tarvo-bench-busgen BAUD SECONDS GAP\n");
        return 2;
    }
    const int baud = std::atoi(argv[1]);
    const double seconds = std::atof(argv[2]);
    const int gap = std::atoi(argv[3]);
    if (baud <= 0 || seconds <= 0 || gap < 0)
        return 2;
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM, 0, 0, 0);
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return 1;
    termios t{};
    tcgetattr(master, &t);
    cfmakeraw(&t);
    tcsetattr(master, TCSANOW, &t);
    std::printf("serial: %s\n", ptsname(master));
    std::fflush(stdout);
    usleep(500'000);

    const int64_t byteNs = 11LL * 1'000'000'000 / baud;
    const int64_t end = nowNs() + static_cast<int64_t>(seconds * 1e9);
    int64_t due = nowNs();
    long frames = 0, bytes = 0;
    for (int n = 0; nowNs() < end; ++n) {
        for (const auto& frame : poll(n)) {
            for (size_t at = 0; at < frame.size(); at += 8) {
                const size_t count = std::min<size_t>(8, frame.size() - at);
                due += static_cast<int64_t>(count) * byteNs;
                sleepUntil(due);
                if (::write(master, frame.data() + at, count) != static_cast<ssize_t>(count))
                    return 1;
                bytes += static_cast<long>(count);
            }
            ++frames;
            due += gap * byteNs;
        }
    }
    usleep(200'000); // let the listener take the last bytes before the cable goes
    std::printf("frames: %ld bytes: %ld\n", frames, bytes);
    std::fflush(stdout);
    return 0;
}
