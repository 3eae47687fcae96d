// The console program's wiring: which application object, which seams, which buttons call what.
// Everything with behaviour lives in the libraries; the stack is built in one place (Stack).

#include "Census.h"
#include "CensusDialog.h"
#include "Clock.h"
#include "ConsoleWindow.h"
#include "Display.h"
#include "EventPump.h"
#include "JournalWriter.h"
#include "MonitorMenu.h"
#include "Prompter.h"
#include "SerialLink.h"
#include "Stack.h"
#include "TarvoVersion.h"
#include "TerminationSignals.h"
#include "Trace.h"
#include "WidgetSeams.h"

#include <QApplication>
#include <QIcon>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <cstdio>
#include <memory>

using namespace tarvo;

namespace {

// Message boxes while an operator is there to click them; standard error for an unattended job or a
// silent run, which must never wait for a click.
class RoutingPrompter final : public Prompter {
public:
    explicit RoutingPrompter(bool unattended) : m_unattended(unattended) {}
    void watch(const ConsoleModel& model) { m_model = &model; }
    void setWindowPrompter(Prompter* prompter) { m_window = prompter; }
    void message(const QString& title, const QString& text, Icon icon) override
    {
        if (m_window && !m_unattended && !(m_model && m_model->Silent))
            m_window->message(title, text, icon);
        else
            m_stderr.message(title, text, icon);
    }

private:
    bool m_unattended;
    const ConsoleModel* m_model = nullptr;
    Prompter* m_window = nullptr;
    StderrPrompter m_stderr;
};

// The trace, with its failure lines also shown in the window's status bar: a technician looks at the
// window, not at standard error.
class ConsoleTrace final : public Trace {
public:
    explicit ConsoleTrace(Trace& inner) : m_inner(inner) {}
    void write(const QString& line) override
    {
        m_inner.write(line);
        if (onProblem && (line.contains(QLatin1String(":: Error : ")) || line.startsWith(QLatin1String("Link lost"))))
            onProblem(line);
    }
    std::function<void(const QString&)> onProblem;

private:
    Trace& m_inner;
};

// The unattended memory read: no window, the program ends with the job.
int runMemoryReadJob(Stack& stack, const QString& argumentText)
{
    bool interrupted = false;
    const auto signalWatch = watchTerminationSignals([&] {
        interrupted = true;
        stack.memoryRead.requestAbort();
        stack.polling.CmdStop_Click();
    });
    // Without a display no viewer can show the dump: none is started.
    if (!displayAvailable())
        stack.memoryRead.openViewer = nullptr;
    const Session::LoadResult result = stack.session.Form_Load(argumentText);
    stack.session.Form_Unload();
    if (result.exitCode != 0)
        std::fprintf(stderr, "tarvo: %s\n", qPrintable(result.reason));
    return interrupted && result.exitCode == 0 ? 1 : result.exitCode;
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    for (const QString& a : std::as_const(args)) {
        if (a == QLatin1String("--help") || a == QLatin1String("-h") || a == QLatin1String("/?")) {
            std::fputs(cli::usage().toLocal8Bit().constData(), stdout);
            return 0;
        }
        if (a == QLatin1String("--version")) {
            std::printf("Tarvo %s\n", TARVO_VERSION);
            return 0;
        }
    }
    const QString argumentText = args.join(QLatin1Char(' '));

    // An unattended memory read needs no display: it never creates a window. Anything else opens the
    // console, which needs one; without it Qt would end the process with its own message.
    const bool memoryReadJob = cli::isMemoryReadJob(argumentText);
    QString noDisplay;
    if (!memoryReadJob && !displayAvailable(&noDisplay)) {
        const cli::Switches switches = cli::parseSwitches(argumentText);
        const QString failure = switches.failure.isEmpty() ? QString() : switches.failure + QStringLiteral("; ");
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
    ConsoleModel& model = stack.model;
    Session& session = stack.session;
    Polling& polling = stack.polling;
    model.setListItems(Field::ComPort, SerialLink::comPortChoices());

    if (memoryReadJob)
        return runMemoryReadJob(stack, argumentText);

    // Closing while a cycle runs: the session stops it and closes once it has unwound.
    std::unique_ptr<ConsoleWindow> window;
    bool closing = false;
    bool closingBySignal = false;
    session.closeNow = [&] {
        if (window)
            QTimer::singleShot(0, window.get(), [&] { window->close(); });
        else
            closing = true;
    };

    // The bus census's dialog while it is open: a signal closes it first (it stops the census), then
    // the console.
    QPointer<CensusDialog> censusDialog;
    bool closeAfterCensus = false;
    const auto signalWatch = watchTerminationSignals([&] {
        closingBySignal = true;
        if (censusDialog) {
            closeAfterCensus = true;
            censusDialog->close();
            return;
        }
        if (window && window->isVisible())
            window->close();
        else {
            closing = true; // during startup: stop what runs and close as soon as the console is up
            if (polling.cycleRunning())
                polling.CmdStop_Click();
        }
    });

    // A sink of the journal from now on, so that a send started from the command line is journalled
    // too: its rows wait for the window's first flush, by when the file the settings ask for is open.
    JournalWriter journalFile(stack.journal);

    // A send started from the command line runs here, before the console is shown.
    const Session::LoadResult result = session.Form_Load(argumentText);
    if (result.endProgram) {
        session.Form_Unload();
        return result.exitCode;
    }

    window = std::make_unique<ConsoleWindow>(model, prompter);
    window->watchBus(stack.journal, stack.health, journalFile);
    window->restoreLayout();
    MessageBoxPrompter boxes(window.get());
    prompter.setWindowPrompter(&boxes);
    window->setWindowTitle(model.title);
    trace.onProblem = [&](const QString& line) {
        window->statusBar()->showMessage(QTime::currentTime().toString(QStringLiteral("HH:mm:ss  ")) + line);
    };
    window->setCloseHandler([&] {
        if (!session.requestClose())
            return false;
        // The operator closing the window is told; a session that is ending gets the trace line only.
        if (!session.lastUnloadProblem.isEmpty() && !closingBySignal)
            prompter.message(QStringLiteral("Tarvo"), session.lastUnloadProblem, Prompter::Icon::Critical);
        return true;
    });
    QObject::connect(window.get(), &ConsoleWindow::sendClicked, [&] { polling.CmdSend_Click(); });
    QObject::connect(window.get(), &ConsoleWindow::startClicked, [&] { polling.CmdStart_Click(); });
    QObject::connect(window.get(), &ConsoleWindow::stopClicked, [&] { polling.CmdStop_Click(); });
    QObject::connect(window.get(), &ConsoleWindow::readMemoryClicked, [&] {
        stack.memoryRead.CmdReadMemory_Click();
        session.cycleEnded();
    });

    addMonitorMenu(*window, stack.monitor, polling);

    Census census(model, stack.link, clock, pump, prompter);
    QAction* censusAction = window->toolsMenu()->addAction(QObject::tr("&Bus census…"));
    censusAction->setObjectName(QStringLiteral("actionBusCensus"));
    QObject::connect(censusAction, &QAction::triggered, window.get(), [&] {
        auto busy = [&] { return polling.cycleRunning() || stack.memoryRead.reading(); };
        if (busy()) {
            window->statusBar()->showMessage(QStringLiteral("Stop polling first: the census needs the link."));
            return;
        }
        CensusDialog dialog(census, model, nullptr, window.get());
        dialog.consoleBusy = busy;
        censusDialog = &dialog;
        dialog.exec();
        if (closeAfterCensus)
            QTimer::singleShot(0, window.get(), [&] { window->close(); });
    });
    window->show();
    if (closing)
        QTimer::singleShot(0, window.get(), [&] { window->close(); });

    const int code = QCoreApplication::exec();
    journalFile.stop(); // with the rows made since the last flush
    trace.onProblem = nullptr;
    prompter.setWindowPrompter(nullptr);
    return code;
}
