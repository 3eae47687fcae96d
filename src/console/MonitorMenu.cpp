#include "MonitorMenu.h"

#include "ConsoleModel.h"
#include "ConsoleMonitor.h"
#include "ConsoleWindow.h"
#include "JournalDock.h"
#include "Stack.h"

#include <QAction>
#include <QInputDialog>
#include <QMenu>
#include <QSignalBlocker>
#include <QStatusBar>

namespace tarvo {

QAction* addMonitorMenu(ConsoleWindow& window)
{
    ConsoleMonitor& monitor = window.stack().monitor;
    QMenu* view = window.viewMenu();
    view->addSeparator();
    QAction* action = view->addAction(QObject::tr("&Monitor"));
    action->setObjectName(QStringLiteral("actionMonitor"));
    action->setCheckable(true);
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    action->setToolTip(QObject::tr("Listen to the bus without sending; Stop ends it"));

    QStatusBar* status = window.statusBar();
    monitor.onNotice = [status](const QString& text) { status->showMessage(text); };
    monitor.onListening = [action, status, &monitor](bool listening) {
        const QSignalBlocker quiet(action);
        action->setChecked(listening);
        if (listening)
            status->showMessage(QObject::tr("Monitor: listening, nothing is sent. Stop (F7, Esc) ends it."));
        else
            status->showMessage(
                QObject::tr("Monitor stopped: %n frame(s) heard.", nullptr, static_cast<int>(monitor.framesHeard())));
    };
    QObject::connect(action, &QAction::toggled, &window, [&window, &monitor, action, status](bool on) {
        if (!on) {
            if (monitor.listening())
                window.CmdStop_Click();
            return;
        }
        if (JournalDock* dock = window.journalDock())
            dock->show();
        // Runs until Stop, as Start does.
        if (!monitor.run(window.model().ini.monitor.gapMs)) {
            const QSignalBlocker quiet(action);
            action->setChecked(false);
            status->showMessage(QObject::tr("Stop the running cycle first: the monitor needs the link."));
        }
    });

    QAction* gap = view->addAction(QObject::tr("Monitor &gap…"));
    gap->setObjectName(QStringLiteral("actionMonitorGap"));
    QObject::connect(gap, &QAction::triggered, &window, [&window] {
        ConsoleModel& model = window.model();
        bool ok = false;
        const int ms = QInputDialog::getInt(&window, QObject::tr("Monitor gap"),
                                            QObject::tr("Silence that ends a frame, in ms\n"
                                                        "(0: 3.5 characters of the line, at least 1 ms):"),
                                            model.ini.monitor.gapMs, 0, 10000, 1, &ok);
        if (ok)
            model.ini.monitor.gapMs = ms; // the next run of the monitor uses it
    });
    return action;
}

} // namespace tarvo
