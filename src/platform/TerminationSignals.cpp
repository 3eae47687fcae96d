#include "TerminationSignals.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace tarvo {

namespace {
int g_pipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_pipe[1], &byte, 1);
}
} // namespace

std::unique_ptr<QSocketNotifier> watchTerminationSignals(std::function<void()> onTerminate)
{
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return nullptr;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    auto notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                     [onTerminate = std::move(onTerminate)] {
                         char buffer[16];
                         while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
                         }
                         onTerminate();
                     });
    return notifier;
}

} // namespace tarvo
