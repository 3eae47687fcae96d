// The program's wiring: which application object, which seams, which buttons call what. Everything
// with behaviour lives in the libraries.

#include "Clock.h"
#include "ConsoleLink.h"
#include "ConsoleModel.h"
#include "ConsoleWindow.h"
#include "Engine.h"
#include "EventPump.h"
#include "MemoryRead.h"
#include "Polling.h"
#include "Prompter.h"
#include "Session.h"
#include "TerminationSignals.h"
#include "Trace.h"
#include "WidgetSeams.h"

#include <QApplication>
#include <QSocketNotifier>
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
    RoutingPrompter(const ConsoleModel& model, bool unattended) : m_model(model), m_unattended(unattended) {}
    void setWindowPrompter(Prompter* prompter) { m_window = prompter; }
    void message(const QString& title, const QString& text, Icon icon) override
    {
        if (m_window && !m_unattended && !m_model.Silent)
            m_window->message(title, text, icon);
        else
            m_stderr.message(title, text, icon);
    }

private:
    const ConsoleModel& m_model;
    bool m_unattended;
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
            std::printf("Tarvo %s\n", qPrintable(Session::version()));
            return 0;
        }
    }
    const QString argumentText = args.join(QLatin1Char(' '));

    // An unattended memory read needs no display: it never creates a window.
    const bool memoryReadJob = cli::isMemoryReadJob(argumentText);
    std::unique_ptr<QCoreApplication> app;
    if (memoryReadJob)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tarvo"));
    QCoreApplication::setApplicationVersion(Session::version());

    ConsoleModel model;
    SteadyClock clock;
    QtEventPump pump;
    ConsoleTrace trace(defaultTrace());
    RoutingPrompter prompter(model, memoryReadJob);
    setDefaultPrompter(&prompter);
    ConsoleLink link(model, trace, pump, clock);
    Engine engine(model, link, clock, pump, prompter);
    Polling polling(model, link, engine, pump, trace);
    MemoryRead memoryRead(model, polling, prompter, trace);
    engine.setReplyHook(&memoryRead);
    Session session(model, link, polling, memoryRead);
    model.setListItems(QStringLiteral("ComPort"), ConsoleLink::comPortChoices());

    if (memoryReadJob) {
        bool interrupted = false;
        const auto signalWatch = watchTerminationSignals([&] {
            interrupted = true;
            memoryRead.requestAbort();
            polling.CmdStop_Click();
        });
        const Session::LoadResult result = session.Form_Load(argumentText);
        session.Form_Unload();
        setDefaultPrompter(nullptr);
        if (result.exitCode != 0)
            std::fprintf(stderr, "tarvo: %s\n", qPrintable(result.reason));
        return interrupted && result.exitCode == 0 ? 1 : result.exitCode;
    }

    // Closing while a cycle runs: the session stops it and closes once it has unwound.
    std::unique_ptr<ConsoleWindow> window;
    bool closing = false;
    bool closingBySignal = false;
    polling.onCycleEnded = [&] { session.cycleEnded(); };
    session.closeNow = [&] {
        if (window)
            QTimer::singleShot(0, window.get(), [&] { window->close(); });
        else
            closing = true;
    };

    const auto signalWatch = watchTerminationSignals([&] {
        closingBySignal = true;
        if (window && window->isVisible())
            window->close();
        else {
            closing = true; // during startup: stop what runs and close as soon as the console is up
            if (polling.cycleRunning())
                polling.CmdStop_Click();
        }
    });

    // A send started from the command line runs here, before the console is shown.
    const Session::LoadResult result = session.Form_Load(argumentText);
    if (result.endProgram) {
        session.Form_Unload();
        return result.exitCode;
    }

    window = std::make_unique<ConsoleWindow>(model);
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
        memoryRead.CmdReadMemory_Click();
        session.cycleEnded();
    });
    window->show();
    if (closing)
        QTimer::singleShot(0, window.get(), [&] { window->close(); });

    const int code = QCoreApplication::exec();
    trace.onProblem = nullptr;
    prompter.setWindowPrompter(nullptr);
    setDefaultPrompter(nullptr);
    return code;
}
