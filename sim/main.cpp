// tarvo-sim: plays the field controllers that the Tarvo console talks to. See --help.

#include "SimServer.h"
#include "TarvoVersion.h"
#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QTextStream>

#include <csignal>
#include <cstdio>

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
    if (options.version) {
        QTextStream(stdout) << "tarvo-sim " << TARVO_VERSION << '\n';
        return 0;
    }

    const auto signalNotifier = tarvo::watchTerminationSignals([] { QCoreApplication::quit(); });
    if (!signalNotifier) {
        err << "tarvo-sim: cannot create the signal pipe\n";
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);

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
