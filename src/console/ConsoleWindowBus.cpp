// The console window's menus and keys, and its views of the bus: the Journal and Controllers docks,
// the journal file, the export, and the reply boxes tinted by each slot's last verdict.

#include "ConsoleWindowBus.h"

#include "ConsoleModel.h"
#include "ControllersDock.h"
#include "FileDialogs.h"
#include "FrameWorkbench.h"
#include "JournalCsv.h"
#include "JournalDock.h"
#include "JournalWriter.h"
#include "Prompter.h"
#include "TarvoVersion.h"
#include "VerdictTint.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QEvent>
#include <QHelpEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTime>
#include <QToolTip>

namespace tarvo {

namespace {

// When the journal's rows go to the views and the file. Drawing a batch of rows costs about the same
// whatever its size, so a busy bus is shown a few times a second (as soon as a batch has gathered)
// and a slow one a little more than once a second; a crash takes at most a second from the file.
constexpr qint64 kBusEarliestMs = 250;
constexpr qint64 kBusDueMs = 950;     // with the next row after this, whatever the batch
constexpr qint64 kBusLatestMs = 1000; // by the timer, when no more rows come
constexpr qsizetype kBusBatchRows = 32;

const QString kJournalFileFilter = QStringLiteral("Journal Files (*.csv)|*.csv| All Files |*.*");

// When this program was built, from the compiler's own date ("Dec 10 2026", the day padded with a
// blank).
QString buildDate()
{
    const QDate date = QDate::fromString(QString::fromLatin1(__DATE__).simplified(), QStringLiteral("MMM d yyyy"));
    return date.isValid() ? date.toString(Qt::ISODate) : QString::fromLatin1(__DATE__);
}

// The message box of the Help menu: it does not block, so the console goes on polling beneath it.
void showInfo(QWidget* parent, const QString& name, const QString& title, const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    box->setObjectName(name);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->open();
}

} // namespace

ConsoleWindow::Bus::~Bus()
{
    journal.onKept = nullptr;
    journal.removeSink(this);
    if (journalDock)
        journal.removeSink(&journalDock->feed());
    writer.onFailure = nullptr;
}

void ConsoleWindow::Bus::append(const QList<JournalRecord>& records)
{
    using V = JournalRecord::Verdict;
    for (const JournalRecord& r : records) {
        if (r.slot < 1 || r.slot > 32)
            continue;
        const auto i = static_cast<size_t>(r.slot - 1);
        if (r.attempt <= 1)
            refused[i] = false; // a new request
        if (r.verdict == V::Exception)
            refused[i] = true;
        if (r.verdict == V::Stopped || (r.verdict == V::NoAnswer && (r.attempt < 3 || refused[i])))
            continue;
        marks[i] = {r.verdict != V::NoReplyExpected, r.verdict, r.time, r.firstByteMs, r.detail};
        changed[i] = true;
    }
}

void ConsoleWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(buttonAction(Field::CmdOpen, tr("&Open command file…"), QKeySequence::Open,
                                 QStringLiteral("actionOpenCommandFile")));
    file->addAction(buttonAction(Field::CmdSave, tr("&Save command file…"), QKeySequence::Save,
                                 QStringLiteral("actionSaveCommandFile")));
    file->addSeparator();
    buildSiteMenu(file);
    file->addSeparator();
    m_exportAction = file->addAction(tr("&Export journal…"), this, &ConsoleWindow::exportJournal);
    m_exportAction->setObjectName(QStringLiteral("actionExportJournal"));
    m_exportAction->setEnabled(false);
    m_reportAction = file->addAction(tr("Commissioning &report…"), this, &ConsoleWindow::chooseReport);
    m_reportAction->setObjectName(QStringLiteral("actionCommissioningReport"));
    file->addSeparator();
    QAction* quit = file->addAction(tr("&Quit"), this, &QWidget::close);
    quit->setObjectName(QStringLiteral("actionQuit"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q)); // the platform may have none of its own

    m_viewMenu = menuBar()->addMenu(tr("&View"));
    m_viewMenu->menuAction()->setVisible(false); // its entries come with the bus views

    m_toolsMenu = menuBar()->addMenu(tr("&Tools"));
    QAction* translate = m_toolsMenu->addAction(tr("&Translate…"), this, [this] {
        // The reply box last clicked, if the focus is still there; otherwise an empty dialog.
        QString hex;
        if (const QWidget* focused = focusWidget()) {
            const auto ref = ConsoleModel::find(focused->objectName());
            if (ref && (ref->field == Field::Reponse || ref->field == Field::Reponse1))
                hex = m_model.text(*ref);
        }
        showTranslation(hex);
    });
    translate->setObjectName(QStringLiteral("actionTranslate"));
    translate->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    QAction* workbench = m_toolsMenu->addAction(tr("Frame &workbench…"), this, &ConsoleWindow::showWorkbench);
    workbench->setObjectName(QStringLiteral("actionFrameWorkbench"));
    workbench->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    QAction* keys = help->addAction(tr("&Keyboard shortcuts"), this, &ConsoleWindow::showShortcuts);
    keys->setObjectName(QStringLiteral("actionShortcuts"));
    keys->setShortcut(QKeySequence::HelpContents);
    QAction* about = help->addAction(tr("&About Tarvo"), this, &ConsoleWindow::showAbout);
    about->setObjectName(QStringLiteral("actionAbout"));

    // The cycle's keys, not in any menu: the buttons are always in sight.
    addAction(buttonAction(Field::CmdSend, tr("Send One Time"), Qt::Key_F5, QStringLiteral("actionSend")));
    addAction(buttonAction(Field::CmdStart, tr("Start"), Qt::Key_F6, QStringLiteral("actionStart")));
    addAction(buttonAction(Field::CmdStop, tr("Stop"), Qt::Key_F7, QStringLiteral("actionStop")));
    // Escape stops only a running cycle, so that it keeps its usual meaning (closing a list, leaving
    // a box) the rest of the time.
    m_escapeStop = new QAction(tr("Stop"), this);
    m_escapeStop->setObjectName(QStringLiteral("actionEscapeStop"));
    m_escapeStop->setShortcut(Qt::Key_Escape);
    connect(m_escapeStop, &QAction::triggered, this, [this] {
        if (auto* stop = qobject_cast<QAbstractButton*>(fieldWidget(Field::CmdStop)))
            stop->click();
    });
    addAction(m_escapeStop);

    connect(&m_model, &ConsoleModel::stateChanged, this, [this](FieldRef ref) {
        if (ref.field == Field::CmdSend || ref.field == Field::CmdStart || ref.field == Field::CmdStop ||
            ref.field == Field::CmdOpen || ref.field == Field::CmdSave)
            drawCommandStates();
    });
    drawCommandStates();
}

QAction* ConsoleWindow::buttonAction(Field field, const QString& text, const QKeySequence& key, const QString& name)
{
    auto* action = new QAction(text, this);
    action->setObjectName(name);
    action->setShortcut(key);
    auto* button = qobject_cast<QAbstractButton*>(fieldWidget(field));
    if (button && !key.isEmpty())
        button->setToolTip(QStringLiteral("%1 (%2)").arg(text, key.toString(QKeySequence::NativeText)));
    connect(action, &QAction::triggered, this, [button] {
        if (button)
            button->click(); // a disabled button ignores it, as it ignores the mouse
    });
    m_buttonActions.append({field, action});
    return action;
}

void ConsoleWindow::drawCommandStates()
{
    for (const auto& [field, action] : std::as_const(m_buttonActions))
        action->setEnabled(m_model.enabled(field));
    // A cycle runs while Send One Time is disabled.
    m_escapeStop->setEnabled(m_model.enabled(Field::CmdStop) && !m_model.enabled(Field::CmdSend));
}

void ConsoleWindow::showWorkbench()
{
    // Not modal: the console stays usable beside it, to send what was built there.
    if (!m_workbench) {
        m_workbench = new FrameWorkbench(m_model, this);
        m_workbench->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_workbench->show();
    m_workbench->raise();
    m_workbench->activateWindow();
}

void ConsoleWindow::showAbout()
{
    showInfo(this, QStringLiteral("AboutBox"), tr("About Tarvo"),
             tr("<h3>Tarvo %1</h3>"
                "<p>A console for controllers on a serial bus or over TCP.</p>"
                "<p>Qt %2 (built with Qt %3)<br>Built on %4</p>")
                 .arg(QStringLiteral(TARVO_VERSION), QString::fromLatin1(qVersion()), QStringLiteral(QT_VERSION_STR),
                      buildDate()));
}

void ConsoleWindow::showShortcuts()
{
    QString rows;
    auto row = [&rows](const QString& key, const QString& what) {
        rows += QStringLiteral("<tr><td><b>%1</b>&nbsp;&nbsp;</td><td>%2</td></tr>").arg(key.toHtmlEscaped(), what);
    };
    for (const auto& [field, action] : std::as_const(m_buttonActions)) {
        if (field == Field::CmdStop)
            row(action->shortcut().toString(QKeySequence::NativeText) + QStringLiteral(", Esc"),
                tr("Stop (Esc only while a cycle runs)"));
        else
            row(action->shortcut().toString(QKeySequence::NativeText), action->text().remove(QLatin1Char('&')));
    }
    row(tr("Return"), tr("Send One Time, from anywhere but the command box and the buttons"));
    for (QAction* action : menuBar()->actions()) {
        if (!action->menu())
            continue;
        for (QAction* entry : action->menu()->actions()) {
            if (!entry->shortcut().isEmpty() && entry->isVisible())
                row(entry->shortcut().toString(QKeySequence::NativeText),
                    entry->text().remove(QLatin1Char('&')).remove(QStringLiteral("…")));
        }
    }
    row(tr("Double-click"), tr("on a reply: read it as characters"));
    row(tr("Ctrl+C"), tr("in the journal: copy the selected rows as CSV"));
    showInfo(this, QStringLiteral("ShortcutsBox"), tr("Keyboard shortcuts"),
             QStringLiteral("<table>%1</table>").arg(rows));
}

void ConsoleWindow::watchBus(Journal& journal, Health& health, JournalWriter& writer)
{
    if (m_bus)
        return;
    m_bus = std::make_unique<Bus>(journal, health, writer);
    Bus& bus = *m_bus;

    bus.journalDock = new JournalDock(this);
    bus.controllersDock = new ControllersDock(health, m_model, this);
    connect(&bus.controllersDock->table(), &HealthTable::slotRenamed, this, [this] { drawSlotNames(); });
    connect(bus.controllersDock, &ControllersDock::reportRequested, this, &ConsoleWindow::writeSessionReport);
    addDockWidget(Qt::BottomDockWidgetArea, bus.journalDock);
    addDockWidget(Qt::BottomDockWidgetArea, bus.controllersDock, Qt::Vertical);
    bus.journalDock->hide();
    bus.controllersDock->hide();

    QAction* showJournal = bus.journalDock->toggleViewAction();
    showJournal->setText(tr("&Journal"));
    showJournal->setObjectName(QStringLiteral("actionJournal"));
    showJournal->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_J));
    QAction* showControllers = bus.controllersDock->toggleViewAction();
    showControllers->setText(tr("&Controllers"));
    showControllers->setObjectName(QStringLiteral("actionControllers"));
    m_viewMenu->addAction(showJournal);
    m_viewMenu->addAction(showControllers);
    m_viewMenu->addSeparator();
    bus.toFile = m_viewMenu->addAction(tr("Write journal to &file"));
    bus.toFile->setObjectName(QStringLiteral("actionJournalToFile"));
    bus.toFile->setCheckable(true);
    connect(bus.toFile, &QAction::toggled, this, &ConsoleWindow::setJournalToFile);
    QAction* folder = m_viewMenu->addAction(tr("Journal f&older…"), this, &ConsoleWindow::chooseJournalFolder);
    folder->setObjectName(QStringLiteral("actionJournalFolder"));
    m_viewMenu->menuAction()->setVisible(true);
    m_exportAction->setEnabled(true);

    journal.addSink(&bus.journalDock->feed());
    journal.addSink(&bus);
    writer.onFailure = [this](const QString& problem) { journalProblem(problem); };
    // A flush that is due is posted, to run at the event loop's next pass: while polling, that pass
    // comes within the exchange's own waits, so no timer wakes the program for it. The timer only
    // takes the last rows once polling has stopped.
    bus.sinceFlush.start();
    bus.lastRows.setSingleShot(true);
    connect(&bus.lastRows, &QTimer::timeout, this, [this] { flushBusRows(false); });
    journal.onKept = [this](qsizetype pending) {
        Bus& b = *m_bus;
        if (b.flushPosted)
            return;
        const qint64 age = b.sinceFlush.elapsed();
        if ((pending >= kBusBatchRows && age >= kBusEarliestMs) || age >= kBusDueMs) {
            b.flushPosted = true;
            QMetaObject::invokeMethod(
                this, [this] { flushBusRows(false); }, Qt::QueuedConnection);
        } else if (!b.lastRows.isActive()) {
            b.lastRows.start(static_cast<int>(kBusLatestMs - age));
        }
    };
    connect(&m_model, &ConsoleModel::valueChanged, this, [this](FieldRef ref) {
        if (ref.field == Field::Reponse || ref.field == Field::Reponse1)
            drawReplyMarks(ref.slot);
    });
    for (int slot = 0; slot < ConsoleModel::kSlots; ++slot) {
        for (const Field field : {Field::Reponse, Field::Reponse1}) {
            if (auto* box = qobject_cast<QPlainTextEdit*>(fieldWidget(FieldRef(field, slot)))) {
                box->viewport()->setProperty("tarvoReplySlot", slot);
                box->viewport()->setProperty("tarvoReplySecond", field == Field::Reponse1);
                box->viewport()->installEventFilter(this);
            }
        }
    }

    if (m_model.ini.journal.toFile)
        setJournalToFile(true);
}

JournalDock* ConsoleWindow::journalDock() const
{
    return m_bus ? m_bus->journalDock : nullptr;
}

ControllersDock* ConsoleWindow::controllersDock() const
{
    return m_bus ? m_bus->controllersDock : nullptr;
}

void ConsoleWindow::restoreLayout()
{
    // Either call leaves the window as it is when what it is given does not read as a layout.
    if (!m_model.ini.window.geometry.isEmpty())
        restoreGeometry(m_model.ini.window.geometry);
    if (!m_model.ini.window.state.isEmpty())
        restoreState(m_model.ini.window.state);
}

void ConsoleWindow::flushBus()
{
    flushBusRows(true);
}

void ConsoleWindow::flushBusRows(bool all)
{
    if (!m_bus)
        return;
    m_bus->flushPosted = false;
    m_bus->sinceFlush.restart();
    m_bus->lastRows.stop();
    m_bus->journal.flush();
    if (all)
        m_bus->journalDock->showWaitingRows();
    for (int slot = 0; slot < ConsoleModel::kSlots; ++slot) {
        if (m_bus->changed[static_cast<size_t>(slot)]) {
            m_bus->changed[static_cast<size_t>(slot)] = false;
            drawReplyMarks(slot);
        }
    }
    m_bus->controllersDock->refresh();
}

void ConsoleWindow::drawReplyMarks(int slot)
{
    if (!m_bus || slot < 0 || slot >= ConsoleModel::kSlots)
        return;
    const Bus::Mark& mark = m_bus->marks[static_cast<size_t>(slot)];
    const Field fields[] = {Field::Reponse, Field::Reponse1};
    for (size_t k = 0; k < 2; ++k) {
        auto* box = qobject_cast<QPlainTextEdit*>(fieldWidget(FieldRef(fields[k], slot)));
        if (!box)
            continue;
        // An empty box (nothing yet, or emptied by Stop) looks as it always did.
        const bool marked = mark.set && !m_model.text(FieldRef(fields[k], slot)).isEmpty();
        const QColor tint = marked ? verdictTint(mark.verdict, palette()) : QColor();
        QColor& shown = m_bus->shown[k][static_cast<size_t>(slot)];
        if (tint == shown)
            continue;
        shown = tint;
        // On the box's viewport only: what lies under the text. The box's own palette would be
        // handed to its frame and scroll bars too, and all of it drawn again.
        if (tint.isValid()) {
            QPalette p;
            p.setColor(QPalette::Base, tint);
            box->viewport()->setPalette(p);
        } else {
            box->viewport()->setPalette(QPalette());
        }
    }
}

bool ConsoleWindow::showReplyTip(QObject* viewport, QHelpEvent* event)
{
    // Made when asked for rather than at every reply: a tooltip is read far less often than
    // replies come.
    const QVariant slotProperty = viewport->property("tarvoReplySlot");
    if (!m_bus || !slotProperty.isValid())
        return false;
    const int slot = slotProperty.toInt();
    const FieldRef ref(viewport->property("tarvoReplySecond").toBool() ? Field::Reponse1 : Field::Reponse, slot);
    const Bus::Mark& mark = m_bus->marks[static_cast<size_t>(slot)];
    if (!mark.set || m_model.text(ref).isEmpty())
        return false; // the box's own tooltip, if any
    QString tip = verdictCaption(mark.verdict);
    if ((mark.verdict == JournalRecord::Verdict::Error || mark.verdict == JournalRecord::Verdict::Exception) &&
        !mark.detail.isEmpty())
        tip += QStringLiteral(": ") + mark.detail;
    tip += QStringLiteral("\n") + tr("at %1").arg(mark.time.toString(QStringLiteral("HH:mm:ss.zzz")));
    if (!std::isnan(mark.firstByteMs))
        tip += tr(", first byte after %1 ms").arg(millisecondsText(mark.firstByteMs));
    QWidget* box = fieldWidget(ref);
    if (!box->toolTip().isEmpty())
        tip += QStringLiteral("\n") + box->toolTip();
    QToolTip::showText(event->globalPos(), tip, box);
    return true;
}

void ConsoleWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // A palette turned dark or light: the tints are mixed again from the new one.
    if (m_bus && (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)) {
        for (auto& boxes : m_bus->shown)
            boxes.fill(QColor(1, 2, 3)); // none matches: every box is drawn again
        for (int slot = 0; slot < ConsoleModel::kSlots; ++slot)
            drawReplyMarks(slot);
    }
}

void ConsoleWindow::setJournalToFile(bool on)
{
    if (!m_bus)
        return;
    m_model.ini.journal.toFile = on;
    JournalWriter& writer = m_bus->writer;
    QString message;
    bool writing = false;
    if (on) {
        QString error;
        if (writer.start(m_model.ini.journal.folder, &error)) {
            writing = true;
            message = tr("Writing the journal to %1").arg(QDir::toNativeSeparators(writer.path()));
            m_bus->journalDock->showFile(message);
        } else {
            journalProblem(tr("The journal file was not started: %1").arg(error));
        }
    } else if (writer.writing()) {
        writer.stop();
        message = tr("The journal file %1 is closed").arg(QDir::toNativeSeparators(writer.path()));
        m_bus->journalDock->showFile(QString());
    }
    if (!message.isEmpty())
        statusBar()->showMessage(message, 10000);
    const QSignalBlocker quiet(m_bus->toFile);
    m_bus->toFile->setChecked(writing);
}

void ConsoleWindow::journalProblem(const QString& problem)
{
    // Shown in both places once, and left there: polling goes on without the file.
    statusBar()->showMessage(QTime::currentTime().toString(QStringLiteral("HH:mm:ss  ")) + problem);
    m_bus->journalDock->showProblem(problem);
    const QSignalBlocker quiet(m_bus->toFile);
    m_bus->toFile->setChecked(false);
}

void ConsoleWindow::chooseJournalFolder()
{
    if (!m_bus)
        return;
    const QString folder = m_dialogs->folderName(m_model.ini.journal.folder);
    if (folder.isEmpty())
        return;
    m_model.ini.journal.folder = folder;
    // The file being written moves: a new one starts in the new folder.
    if (m_bus->writer.writing())
        setJournalToFile(true);
    else
        statusBar()->showMessage(tr("The journal will be written to %1").arg(QDir::toNativeSeparators(folder)), 10000);
}

void ConsoleWindow::exportJournal()
{
    if (!m_bus)
        return;
    flushBus();
    const QString path = m_dialogs->saveFileName(kJournalFileFilter);
    if (path.isEmpty())
        return;
    const QList<JournalRecord> rows = m_bus->journalDock->table().records();
    QString error;
    if (!tarvo::exportJournal(path, rows, &error)) {
        m_prompter.message(QStringLiteral("Tarvo"), tr("The journal was not exported: %1").arg(error),
                           Prompter::Icon::Critical);
        return;
    }
    statusBar()->showMessage(tr("%n journal row(s) exported to %1", nullptr, static_cast<int>(rows.size()))
                                 .arg(QDir::toNativeSeparators(path)),
                             10000);
}

} // namespace tarvo
