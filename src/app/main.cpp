// The console program's wiring: which application object, which seams, the window over the stack.
// Everything with behaviour lives in the libraries; the stack is built in one place (Stack).

#include "AppSeams.h"
#include "CensusDialog.h"
#include "Clock.h"
#include "ConsoleWindow.h"
#include "Display.h"
#include "EventPump.h"
#include "MonitorMenu.h"
#include "PlanDialog.h"
#include "Stack.h"
#include "Switches.h"
#include "TarvoVersion.h"
#include "TerminationSignals.h"
#include "TimelineDock.h"
#include "WidgetSeams.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <cstdio>
#include <memory>

using namespace tarvo;

namespace {

// The unattended memory read: no window, the program ends with the job.
int runMemoryReadJob(Stack& stack, const QString& argumentText)
{
    bool interrupted = false;
    const auto signalWatch = watchTerminationSignals([&] {
        interrupted = true;
        stack.memoryRead.requestAbort();
        stack.polling.stop();
    });
    // Without a display no viewer can show the dump: none is started.
    if (!displayAvailable())
        stack.memoryRead.openViewer = nullptr;
    const Lifecycle::LoadResult result = stack.lifecycle.load(argumentText);
    stack.lifecycle.close();
    if (result.exitCode != 0)
        std::fprintf(stderr, "tarvo: %s\n", qPrintable(result.reason));
    return interrupted && result.exitCode == 0 ? 1 : result.exitCode;
}

// The console: the window over the stack, until it is closed.
int runConsole(Stack& stack, RoutingPrompter& prompter, ConsoleTrace& trace, const QString& argumentText, bool atSite)
{
    ConsoleWindow window(stack, prompter);
    // A signal closes the window quietly, the census dialog first when it is open (it stops the census);
    // during startup it stops what runs and closes as soon as the console is up.
    bool closeAfterDialog = false;
    bool closeWhenUp = false;
    const auto signalWatch = watchTerminationSignals([&] {
        window.setQuietClose(true);
        if (auto* census = window.findChild<CensusDialog*>()) {
            closeAfterDialog = true;
            census->close();
        } else if (window.isVisible()) {
            window.close();
        } else {
            closeWhenUp = true;
            stack.polling.stop();
        }
    });

    // A send started from the command line runs here, before the console is shown.
    const Lifecycle::LoadResult result = window.Form_Load(argumentText);
    if (result.endProgram) {
        stack.lifecycle.close();
        return result.exitCode;
    }
    if (atSite) // the working folder is the site's by now
        window.setSite(QDir::currentPath());
    window.watchBus(stack.journal, stack.health, stack.journalFile);
    addTimelineDock(window);
    window.restoreLayout();
    MessageBoxPrompter boxes(&window);
    prompter.setWindowPrompter(&boxes);
    trace.onProblem = [&](const QString& line) {
        window.statusBar()->showMessage(QTime::currentTime().toString(QStringLiteral("HH:mm:ss  ")) + line);
    };
    addMonitorMenu(window);
    addTestPlanMenu(window);
    addCensusMenu(window, [&] {
        if (closeAfterDialog)
            QTimer::singleShot(0, &window, &QWidget::close);
    });
    window.show();
    if (closeWhenUp)
        QTimer::singleShot(0, &window, &QWidget::close);

    const int code = QCoreApplication::exec();
    stack.journalFile.stop(); // with the rows made since the last flush
    trace.onProblem = nullptr;
    prompter.setWindowPrompter(nullptr);
    return code;
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    for (const QString& a : std::as_const(args)) {
        if (a == QLatin1String("--help") || a == QLatin1String("-h") || a == QLatin1String("/?")) {
            std::fputs(switches::usage().toLocal8Bit().constData(), stdout);
            return 0;
        }
        if (a == QLatin1String("--version")) {
            std::printf("Tarvo %s\n", TARVO_VERSION);
            return 0;
        }
    }
    // A site folder is where the console starts: its settings and files are the working folder's.
    const switches::SiteOption site = switches::takeSiteOption(args);
    if (!site.error.isEmpty()) {
        std::fprintf(stderr, "tarvo: %s\n", qPrintable(site.error));
        return 1;
    }
    if (!site.folder.isEmpty() && !QDir::setCurrent(site.folder)) {
        std::fprintf(stderr, "tarvo: --site %s: cannot work in that folder\n", qPrintable(site.folder));
        return 1;
    }
    const QString argumentText = args.join(QLatin1Char(' '));

    // An unattended memory read needs no display: it never creates a window. Anything else opens the
    // console, which needs one; without it Qt would end the process with its own message.
    const bool memoryReadJob = switches::isMemoryReadJob(argumentText);
    QString noDisplay;
    if (!memoryReadJob && !displayAvailable(&noDisplay)) {
        const switches::Switches parsed = switches::parseSwitches(argumentText);
        const QString failure = parsed.failure.isEmpty() ? QString() : parsed.failure + QStringLiteral("; ");
        std::fprintf(stderr,
                     "tarvo: %sthe console needs a graphical session, and there is %s; memory reads "
                     "(page=... outputfile=...) run without one\n",
                     qPrintable(failure), qPrintable(noDisplay));
        return 1;
    }

    std::unique_ptr<QCoreApplication> app;
    if (memoryReadJob)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tarvo"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVO_VERSION));
    // The window system finds the menu entry, and with it the icon, by this name.
    if (!memoryReadJob) {
        QGuiApplication::setDesktopFileName(QStringLiteral(TARVO_APP_ID));
        QGuiApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(TARVO_APP_ID)));
    }

    SteadyClock clock;
    QtEventPump pump;
    StderrTrace stderrTrace;
    ConsoleTrace trace(stderrTrace);
    RoutingPrompter prompter(memoryReadJob);
    Stack stack({clock, pump, trace, prompter, nullptr, {}});
    prompter.watch(stack.model);
    return memoryReadJob ? runMemoryReadJob(stack, argumentText)
                         : runConsole(stack, prompter, trace, argumentText, !site.folder.isEmpty());
}
