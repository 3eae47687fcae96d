#include "PlanDialog.h"

#include "Clock.h"
#include "ConsoleWindow.h"
#include "Errors.h"
#include "PlanReader.h"
#include "PlanResults.h"
#include "SafeFile.h"
#include "Stack.h"
#include "VerdictTint.h"
#include "WidgetSeams.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

namespace tarvo {

namespace {

using plans::StepResult;

enum Column { ColStep, ColAddress, ColResult, ColReason, ColSent, ColReceived, ColReply, ColumnCount };

const char* const kPlanFilter = "Test plans (*.toml)|*.toml| All Files |*.*";
const char* const kResultsFilter = "JUnit XML (*.xml)|*.xml";

QTableWidgetItem* cell(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

} // namespace

PlanDialog::PlanDialog(Stack& stack, FileDialogs* dialogs, QWidget* parent)
    : QDialog(parent), m_stack(stack), m_ownDialogs(dialogs ? nullptr : std::make_unique<QtFileDialogs>(this)),
      m_dialogs(dialogs ? dialogs : m_ownDialogs.get())
{
    setObjectName(QStringLiteral("planDialog"));
    setWindowTitle(tr("Test plan"));
    resize(900, 480);

    m_file = new QLabel(tr("No plan opened: Open… one from the site folder."), this);
    m_file->setObjectName(QStringLiteral("planFile"));
    m_file->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_openButton = new QPushButton(tr("&Open…"), this);
    m_openButton->setObjectName(QStringLiteral("openButton"));
    m_runButton = new QPushButton(tr("&Run (F8)"), this);
    m_runButton->setObjectName(QStringLiteral("runButton"));
    m_stopButton = new QPushButton(tr("S&top (F7)"), this);
    m_stopButton->setObjectName(QStringLiteral("stopButton"));
    m_saveButton = new QPushButton(tr("&Save results…"), this);
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    m_closeButton = new QPushButton(tr("Close"), this);
    m_closeButton->setObjectName(QStringLiteral("closeButton"));
    m_runButton->setDefault(true);

    m_table = new QTableWidget(0, ColumnCount, this);
    m_table->setObjectName(QStringLiteral("steps"));
    m_table->setHorizontalHeaderLabels(
        {tr("Step"), tr("Address"), tr("Result"), tr("Reason"), tr("Sent"), tr("Received"), tr("Reply ms")});
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setSectionResizeMode(ColReason, QHeaderView::Stretch);
    m_table->setWordWrap(false);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setTextVisible(true);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_openButton);
    buttons->addWidget(m_runButton);
    buttons->addWidget(m_stopButton);
    buttons->addStretch(1);
    buttons->addWidget(m_saveButton);
    buttons->addWidget(m_closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_file);
    layout->addLayout(buttons);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_progress);
    layout->addWidget(m_status);

    connect(m_openButton, &QPushButton::clicked, this, &PlanDialog::open);
    connect(m_runButton, &QPushButton::clicked, this, &PlanDialog::run);
    connect(m_stopButton, &QPushButton::clicked, this, &PlanDialog::stop);
    connect(m_saveButton, &QPushButton::clicked, this, &PlanDialog::saveResults);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::close);
    // The console's keys for its cycle: F8 runs the plan, F7 stops it (Escape too, see reject).
    auto* runKey = new QAction(this);
    runKey->setShortcut(Qt::Key_F8);
    connect(runKey, &QAction::triggered, this, &PlanDialog::run);
    addAction(runKey);
    auto* stopKey = new QAction(this);
    stopKey->setShortcut(Qt::Key_F7);
    connect(stopKey, &QAction::triggered, this, &PlanDialog::stop);
    addAction(stopKey);
    auto* openKey = new QAction(this);
    openKey->setShortcut(QKeySequence::Open);
    connect(openKey, &QAction::triggered, this, &PlanDialog::open);
    addAction(openKey);

    // Buttons follow the console's one cycle, whoever started it: a plan cannot run while polling does.
    connect(&m_stack.polling, &Polling::started, this, &PlanDialog::cycleStarted);
    connect(&m_stack.polling, &Polling::ended, this, &PlanDialog::cycleEnded);
    m_cycleBusy = m_stack.polling.running();
    updateButtons();
}

PlanDialog::~PlanDialog() = default;

void PlanDialog::updateButtons()
{
    m_openButton->setEnabled(!m_running);
    m_runButton->setEnabled(m_planOk && !m_cycleBusy);
    m_stopButton->setEnabled(m_running);
    m_saveButton->setEnabled(!m_running && !m_results.isEmpty());
}

void PlanDialog::cycleStarted()
{
    m_cycleBusy = true;
    updateButtons();
}

void PlanDialog::cycleEnded()
{
    m_cycleBusy = false;
    updateButtons();
}

void PlanDialog::showProblems(const QString& heading, const QStringList& lines)
{
    QStringList escaped;
    for (const QString& line : lines)
        escaped << line.toHtmlEscaped();
    m_status->setText(
        QStringLiteral("<b>%1</b><br>%2").arg(heading.toHtmlEscaped(), escaped.join(QStringLiteral("<br>"))));
}

void PlanDialog::open()
{
    if (m_running)
        return;
    const QString path = m_dialogs->openFileName(QLatin1String(kPlanFilter));
    if (!path.isEmpty())
        openPlan(path);
}

bool PlanDialog::openPlan(const QString& path)
{
    m_path = path;
    m_results.clear();
    m_table->setRowCount(0);
    m_progress->setValue(0);
    const plans::PlanReading reading = plans::readPlanFile(path);
    const QString shown = QFileInfo(path).fileName();
    m_planOk = reading.ok();
    if (!m_planOk) {
        m_plan = {};
        m_file->setText(tr("%1: not run, it has mistakes").arg(shown));
        QStringList lines;
        for (const plans::PlanProblem& p : reading.problems)
            lines << p.text(shown);
        showProblems(tr("Nothing will be sent until these are mended:"), lines);
        updateButtons();
        return false;
    }
    m_plan = reading.plan;
    // Opened again next time, named from the site folder when it lies in it, so the site can move.
    const QString relative = QDir::current().relativeFilePath(path);
    m_stack.model.ini.plans.last =
        relative.startsWith(QLatin1String("..")) ? QFileInfo(path).absoluteFilePath() : relative;
    m_file->setText(
        tr("<b>%1</b> — %2").arg(m_plan.name.toHtmlEscaped(), QDir::toNativeSeparators(path).toHtmlEscaped()));
    int rows = 0;
    for (qsizetype i = 0; i < m_plan.steps.size(); ++i) {
        const plans::Step& step = m_plan.steps[i];
        const QList<int> addresses = step.waitOnly ? QList<int>{-1} : step.addresses;
        for (int address : addresses) {
            m_table->insertRow(rows);
            QTableWidgetItem* name = cell(step.name);
            name->setData(Qt::UserRole, static_cast<int>(i));
            name->setData(Qt::UserRole + 1, address);
            m_table->setItem(rows, ColStep, name);
            m_table->setItem(rows, ColAddress, cell(address < 0 ? QString() : QString::number(address)));
            for (int c = ColResult; c < ColumnCount; ++c)
                m_table->setItem(rows, c, cell(QString()));
            if (step.waitOnly)
                m_table->item(rows, ColReason)->setText(tr("a pause of %1 ms").arg(step.waitMs));
            ++rows;
        }
    }
    m_table->resizeColumnsToContents();
    m_table->horizontalHeader()->setSectionResizeMode(ColReason, QHeaderView::Stretch);
    int sendRows = 0; // the rows that get a result: pauses have none
    for (const plans::Step& step : std::as_const(m_plan.steps))
        sendRows += step.waitOnly ? 0 : static_cast<int>(step.addresses.size());
    m_progress->setRange(0, std::max(1, sendRows));
    m_status->setText(tr("%n step(s) at %1 address(es). Run (F8) sends them over the console's link, with the "
                         "plan's own link, protocol and timing where it gives them.",
                         nullptr, static_cast<int>(m_plan.steps.size()))
                          .arg(rows));
    updateButtons();
    return true;
}

int PlanDialog::rowOf(int step, int address) const
{
    for (int r = 0; r < m_table->rowCount(); ++r) {
        const QTableWidgetItem* item = m_table->item(r, ColStep);
        if (item->data(Qt::UserRole).toInt() == step && item->data(Qt::UserRole + 1).toInt() == address)
            return r;
    }
    return -1;
}

void PlanDialog::showResult(const StepResult& r)
{
    const int row = rowOf(r.step, r.address);
    if (row < 0)
        return;
    const bool passed = r.outcome == StepResult::Outcome::Passed;
    const bool skipped = r.outcome == StepResult::Outcome::Skipped;
    m_table->item(row, ColResult)->setText(passed ? tr("PASS") : skipped ? tr("skipped") : tr("FAIL"));
    QString reason = r.reason;
    if (passed && r.sends > 1)
        reason = tr("%1 of %2 sends passed").arg(r.passed).arg(r.sends);
    m_table->item(row, ColReason)->setText(reason);
    m_table->item(row, ColReason)->setToolTip(reason);
    m_table->item(row, ColSent)->setText(r.shown.sent);
    m_table->item(row, ColReceived)->setText(r.shown.received);
    m_table->item(row, ColReply)->setText(millisecondsText(r.shown.replyMs));
    // Pass and fail in the journal's own colours: green as an answer, red as no answer.
    const QColor tint = skipped ? QColor()
                                : verdictTint(passed ? JournalRecord::Verdict::Ok : JournalRecord::Verdict::NoAnswer,
                                              m_table->palette());
    for (int c = 0; c < ColumnCount; ++c)
        m_table->item(row, c)->setBackground(tint.isValid() ? QBrush(tint) : QBrush());
    m_progress->setValue(m_progress->value() + 1);
}

void PlanDialog::run()
{
    if (!m_planOk || m_running || m_stack.polling.running())
        return;
    // The console's settings as they stand now, the plan's over them; a delay field that is no number is
    // named before anything is sent.
    ExchangeSettings base;
    try {
        base = m_stack.model.snapshot();
    } catch (const TarvoError& e) {
        showProblems(tr("Not run: the console's settings cannot be used."), {e.description()});
        return;
    }
    const bool consoleSerial = base.serial;
    plans::applyPlanSettings(m_plan.settings, base);
    // The console's link follows its own link choice (serial or network) at every call: a plan that
    // names the other kind would be sent down the wrong one.
    if (base.serial != consoleSerial) {
        showProblems(tr("Not run: the plan's [link] is %1, the console's link is %2.")
                         .arg(base.serial ? tr("a serial port") : tr("a network link"),
                              consoleSerial ? tr("a serial port") : tr("a network link")),
                     {tr("Choose that kind of link on the console first, or leave [link] out of the plan.")});
        return;
    }
    const QList<plans::PlanProblem> problems = plans::requestProblems(m_plan, base);
    if (!problems.isEmpty()) {
        QStringList lines;
        for (const plans::PlanProblem& p : problems)
            lines << p.text(QFileInfo(m_path).fileName());
        showProblems(tr("Not run: the protocol refuses these requests (nothing was sent):"), lines);
        return;
    }

    // A fresh run: every row back to its plain state.
    m_results.clear();
    for (int r = 0; r < m_table->rowCount(); ++r) {
        for (int c = ColResult; c < ColumnCount; ++c) {
            if (c != ColReason || !m_plan.steps[m_table->item(r, ColStep)->data(Qt::UserRole).toInt()].waitOnly)
                m_table->item(r, c)->setText(QString());
            m_table->item(r, c)->setBackground(QBrush());
        }
        m_table->item(r, ColStep)->setBackground(QBrush());
        m_table->item(r, ColAddress)->setBackground(QBrush());
    }
    m_progress->setValue(0);

    const FixedSettings settings(base);
    plans::PlanRunner runner(m_stack.engine, m_stack.seams.clock, m_stack.seams.pump);
    runner.stepStarted = [this](int step, int address) {
        const int row = rowOf(step, address);
        if (row >= 0) {
            m_table->item(row, ColResult)->setText(tr("running…"));
            m_table->scrollToItem(m_table->item(row, ColStep));
            m_table->selectRow(row);
        }
        m_status->setText(tr("Step %1 of %2: %3 @ %4")
                              .arg(step + 1)
                              .arg(m_plan.steps.size())
                              .arg(m_plan.steps[step].name)
                              .arg(address));
    };
    runner.stepFinished = [this](const StepResult& r) {
        m_results << r;
        showResult(r);
    };
    m_running = true;
    updateButtons();
    m_started = localNow();
    const double began = m_stack.seams.clock.now();
    bool ranToItsEnd = false;
    const bool ran = m_stack.polling.runCycle(
        [&](std::stop_token stop) { ranToItsEnd = runner.run(m_plan, base, stop); }, &settings);
    m_seconds = m_stack.seams.clock.now() - began;
    m_running = false;

    plans::PlanTally tally;
    for (const StepResult& r : std::as_const(m_results))
        tally.add(r);
    if (!ran)
        m_status->setText(tr("Not run: another cycle of the console is running. Stop it first."));
    else if (!ranToItsEnd)
        m_status->setText(tr("Stopped: %1.").arg(tally.line()));
    else
        m_status->setText(tally.failed > 0 ? tr("<b>FAIL</b>: %1.").arg(tally.line())
                                           : tr("<b>PASS</b>: %1.").arg(tally.line()));
    for (int r = 0; r < m_table->rowCount(); ++r) {
        if (m_table->item(r, ColResult)->text() == tr("running…"))
            m_table->item(r, ColResult)->setText(tr("stopped"));
    }
    // The results in full view: no selection over their colours, the columns as wide as what they hold.
    m_table->clearSelection();
    for (int c : {ColStep, ColAddress, ColResult, ColSent, ColReceived, ColReply})
        m_table->resizeColumnToContents(c);
    updateButtons();
    if (m_closeWhenDone) {
        m_closeWhenDone = false;
        close();
    }
}

void PlanDialog::stop()
{
    if (m_running)
        m_stack.polling.stop();
}

void PlanDialog::saveResults()
{
    if (m_running || m_results.isEmpty())
        return;
    // Offered in the working folder, which is the site's: the results are part of its evidence.
    const QString suggested = QDir::current().filePath(
        QStringLiteral("%1-%2.xml")
            .arg(QFileInfo(m_path).completeBaseName(), m_started.toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    QString path = m_dialogs->saveFileNameAt(QLatin1String(kResultsFilter), suggested);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".xml");
    const QFileInfo xml(path);
    const QString csv = xml.dir().filePath(xml.completeBaseName() + QStringLiteral(".csv"));
    QByteArray rows = plans::resultsCsvHeader();
    for (const StepResult& r : std::as_const(m_results))
        rows += plans::resultsCsvRow(r);
    QString error;
    if (!writeFileAtomically(path, plans::junitXml(m_plan.name, m_results, m_started, m_seconds), &error) ||
        !writeFileAtomically(csv, rows, &error)) {
        showProblems(tr("The results were not saved:"), {error});
        return;
    }
    m_status->setText(
        tr("Saved %1 and %2.").arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(csv)).toHtmlEscaped());
}

void PlanDialog::closeEvent(QCloseEvent* event)
{
    // A running plan is stopped first; the dialog closes once its cycle has unwound.
    if (m_running) {
        m_closeWhenDone = true;
        stop();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void PlanDialog::reject()
{
    // Escape while the plan runs stops it; otherwise it closes the window.
    if (m_running) {
        stop();
        return;
    }
    QDialog::reject();
}

QAction* addTestPlanMenu(ConsoleWindow& window)
{
    QAction* action = window.toolsMenu()->addAction(QObject::tr("Test &plan…"));
    action->setObjectName(QStringLiteral("actionTestPlan"));
    QObject::connect(action, &QAction::triggered, &window, [&window] {
        auto* dialog = window.findChild<PlanDialog*>();
        if (!dialog) {
            dialog = new PlanDialog(window.stack(), window.stack().seams.fileDialogs, &window);
            dialog->show();
            // The site's last plan again; else the Open box at once, as a plan is what the window is for.
            const QString last = window.stack().model.ini.plans.last;
            if (last.isEmpty() || !QFileInfo::exists(last) || !dialog->openPlan(last))
                dialog->open();
        }
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
    });
    return action;
}

} // namespace tarvo
