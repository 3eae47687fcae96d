// tarvo-cli: the console's exchanges for scripts, test rigs and commissioning. See --help.

#include "CliOptions.h"
#include "Run.h"
#include "TarvoVersion.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    // Answered before Qt starts: a script asking for the version pays for nothing else.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("tarvo-cli %s\n", TARVO_VERSION);
        return 0;
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvo-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVO_VERSION));
    // A reader that goes away (tarvo-cli ... | head) ends the writes, not the program: the journal
    // is still closed.
    std::signal(SIGPIPE, SIG_IGN);

    const tarvo::cli::Parsed parsed = tarvo::cli::parse(QCoreApplication::arguments());
    switch (parsed.action) {
    case tarvo::cli::Parsed::Action::Help:
        std::fputs(parsed.text.toLocal8Bit().constData(), stdout);
        return 0;
    case tarvo::cli::Parsed::Action::Version:
        std::printf("tarvo-cli %s\n", TARVO_VERSION);
        return 0;
    case tarvo::cli::Parsed::Action::Usage:
        std::fprintf(stderr, "tarvo-cli: %s\n", parsed.text.toLocal8Bit().constData());
        return tarvo::cli::status::kUsage;
    case tarvo::cli::Parsed::Action::Run:
        break;
    }
    return tarvo::cli::run(parsed.options);
}
