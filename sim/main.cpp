// tarvo-sim: plays the field controllers that the Tarvo console talks to. See --help.

#include "SimServer.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

// Only writes one byte: the event loop does the rest.
void onSignal(int)
{
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &b, 1);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    tarvo::sim::SimOptions options;
    QString error;
    if (!tarvo::sim::parseOptions(app.arguments().mid(1), options, error)) {
        err << "tarvo-sim: " << error << " (see --help)\n";
        return 2;
    }
    if (options.help) {
        QTextStream(stdout) << tarvo::sim::helpText();
        return 0;
    }

    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        err << "tarvo-sim: cannot create the signal pipe\n";
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char b;
        while (::read(g_signalPipe[0], &b, 1) > 0) {
        }
        QCoreApplication::quit();
    });

    tarvo::sim::SimServer server(options);
    if (!server.start(error)) {
        server.stop();
        err << "tarvo-sim: " << error << '\n';
        return 1;
    }
    const int rc = app.exec();
    server.stop();
    server.say(QStringLiteral("tarvo-sim: stopped"));
    return rc;
}
